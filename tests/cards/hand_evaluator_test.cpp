#include "cards/hand_evaluator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace {

// Independent sort-and-count reference laid out as the HandValue table describes: ranks grouped
// by multiplicity (larger groups first, then higher rank) fill R1 downwards.
HandValue ReferenceValue(const std::vector<int>& cards) {
    int count[13] = {};
    int suit_count[4] = {};
    for (int c : cards) {
        ++count[CardRank(c)];
        ++suit_count[CardSuit(c)];
    }
    std::vector<std::pair<int, int>> groups;  // (multiplicity, rank)
    for (int r = 12; r >= 0; --r)
        if (count[r]) groups.push_back({count[r], r});
    std::stable_sort(groups.begin(), groups.end(),
                     [](auto a, auto b) { return a.first > b.first; });
    const int n = static_cast<int>(cards.size());
    uint32_t nibbles = 0;
    for (size_t i = 0; i < groups.size(); ++i) nibbles |= groups[i].second << (16 - 4 * i);
    uint32_t type = 0;
    if (groups[0].first == 4)
        type = kFourOfAKind;
    else if (groups[0].first == 3)
        type = groups.size() > 1 && groups[1].first == 2 ? kFullHouse : kThreeOfAKind;
    else if (groups[0].first == 2)
        type = groups.size() > 1 && groups[1].first == 2 ? kTwoPair : kOnePair;
    if (n == 5 && groups.size() == 5) {
        const bool flush = *std::max_element(suit_count, suit_count + 4) == 5;
        int top = -1;
        if (groups[0].second - groups[4].second == 4) top = groups[0].second;
        if (groups[0].second == 12 && groups[1].second == 3) top = 3;
        if (top >= 0) return (flush ? kStraightFlush : kStraight) << 24 | top << 16;
        if (flush) return kFlush << 24 | nibbles;
    }
    return type << 24 | nibbles;
}

uint64_t ToEval(const std::vector<int>& cards) {
    CardMask m = 0;
    for (int c : cards) m |= CardBit(c);
    return EvaluatorMask(m);
}

// The best five-card value among the subsets of a hand of six or seven cards.
HandValue BestOfSubsets(const std::vector<int>& cards) {
    const int n = static_cast<int>(cards.size());
    HandValue best = 0;
    for (int skip = 0; skip < (1 << n); ++skip) {
        if (std::popcount(static_cast<unsigned>(skip)) != n - 5) continue;
        uint64_t m = 0;
        for (int i = 0; i < n; ++i)
            if (!(skip >> i & 1)) m |= ToEval({cards[i]});
        best = std::max(best, EvalHand5(m));
    }
    return best;
}

class Evaluator : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(InitHandEvalTables(), 1); }
};
using LongEvaluator = Evaluator;

// Expected counts: the standard enumeration of all C(52,5) hands by category.
TEST_F(Evaluator, AllFiveCardHandsMatchReferenceAndCounts) {
    std::array<uint64_t, 9> types{};
    std::vector<uint8_t> seen(1 << 24, 0);
    uint64_t distinct = 0;
    for (int a = 0; a < 52; ++a)
        for (int b = a + 1; b < 52; ++b)
            for (int c = b + 1; c < 52; ++c)
                for (int d = c + 1; d < 52; ++d)
                    for (int e = d + 1; e < 52; ++e) {
                        const std::vector<int> cards{a, b, c, d, e};
                        const HandValue v = EvalHand5(ToEval(cards));
                        ASSERT_EQ(v, ReferenceValue(cards)) << a << b << c << d << e;
                        ++types[HandValueType(v)];
                        uint8_t& s = seen[(HandValueType(v) << 20) | (v & 0xFFFFF)];
                        distinct += !s;
                        s = 1;
                    }
    const std::array<uint64_t, 9> expected{1302540, 1098240, 123552, 54912, 10200,
                                           5108,    3744,    624,    40};
    EXPECT_EQ(types, expected);
    EXPECT_EQ(distinct, 7462u);
}

TEST_F(Evaluator, ThreeAndFourCardsMatchReference) {
    for (int a = 0; a < 52; ++a)
        for (int b = a + 1; b < 52; ++b)
            for (int c = b + 1; c < 52; ++c) {
                ASSERT_EQ(EvalHand3(ToEval({a, b, c})), ReferenceValue({a, b, c}));
                for (int d = c + 1; d < 52; ++d)
                    ASSERT_EQ(EvalHand4(ToEval({a, b, c, d})), ReferenceValue({a, b, c, d}));
            }
    // Ranks sit from R1 down: a board pair of nines with a king compares as one pair.
    EXPECT_EQ(EvalHand3(ToEval({MakeCard(7, 0), MakeCard(7, 1), MakeCard(11, 2)})),
              kOnePair << 24 | 7u << 16 | 11u << 12);
    EXPECT_EQ(EvalHand4(ToEval({0, 13, 1, 14})), kTwoPair << 24 | 1u << 16 | 0u << 12);
}

void CheckRandomHandsAgainstSubsets(int hands) {
    uint64_t state = 42;
    auto next = [&] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<int>((state >> 33) % 52);
    };
    for (int trial = 0; trial < hands; ++trial) {
        const int n = trial % 3 == 0 ? 6 : 7;
        std::vector<int> cards;
        CardMask used = 0;
        while (static_cast<int>(cards.size()) < n) {
            const int c = next();
            if (used & CardBit(c)) continue;
            used |= CardBit(c);
            cards.push_back(c);
        }
        const HandValue v = n == 6 ? EvalHand6(ToEval(cards)) : EvalHand7(ToEval(cards));
        ASSERT_EQ(v, BestOfSubsets(cards));
        std::vector<uint8_t> bytes(cards.begin(), cards.end());
        ASSERT_EQ(RankHandFromCards(bytes.data(), n), v);
        ASSERT_EQ(EvalCardMask(used), v);
    }
}

TEST_F(Evaluator, SevenAndSixCardsEqualBestFiveCardSubset) {
    CheckRandomHandsAgainstSubsets(100000);
}
TEST_F(LongEvaluator, MillionsOfRandomHandsEqualBestSubset) {
    CheckRandomHandsAgainstSubsets(3000000);
}

TEST_F(Evaluator, WorkedEdgeCases) {
    auto value = [](std::vector<int> cards) {
        std::vector<uint8_t> bytes(cards.begin(), cards.end());
        return RankHandFromCards(bytes.data(), static_cast<int>(bytes.size()));
    };
    // Wheel of mixed suits plus two cards that make no higher straight.
    EXPECT_EQ(value({MakeCard(12, 0), MakeCard(0, 1), MakeCard(1, 2), MakeCard(2, 3),
                     MakeCard(3, 0), MakeCard(9, 1), MakeCard(10, 1)}),
              kStraight << 24 | 3u << 16);
    EXPECT_EQ(
        value({MakeCard(0, 0), MakeCard(1, 1), MakeCard(2, 2), MakeCard(3, 3), MakeCard(4, 0)}),
        kStraight << 24 | 4u << 16);
    // 8 through K: only the highest straight's top rank.
    EXPECT_EQ(value({MakeCard(6, 0), MakeCard(7, 1), MakeCard(8, 2), MakeCard(9, 3),
                     MakeCard(10, 0), MakeCard(11, 1), MakeCard(0, 2)}),
              kStraight << 24 | 11u << 16);
    // Straight flush 5..9 in hearts beats the higher mixed straight to the jack.
    EXPECT_EQ(value({MakeCard(3, 2), MakeCard(4, 2), MakeCard(5, 2), MakeCard(6, 2), MakeCard(7, 2),
                     MakeCard(8, 0), MakeCard(9, 1)}),
              kStraightFlush << 24 | 7u << 16);
    // Seven clubs: the five highest.
    EXPECT_EQ(value({0, 2, 4, 6, 8, 10, 12}), kFlush << 24 | 0xCA864u);
    // Quads with a triple: R2 is the triple's rank; with a pair and a single the higher.
    EXPECT_EQ(value({5, 18, 31, 44, 2, 15, 28}), kFourOfAKind << 24 | 5u << 16 | 2u << 12);
    EXPECT_EQ(value({5, 18, 31, 44, 2, 15, 9}), kFourOfAKind << 24 | 5u << 16 | 9u << 12);
    // Two triples: the higher one leads.
    EXPECT_EQ(value({2, 15, 28, 9, 22, 35, 0}), kFullHouse << 24 | 9u << 16 | 2u << 12);
    // Three pairs: the lowest pair competes with the single for R3.
    EXPECT_EQ(value({2, 15, 9, 22, 7, 20, 0}), kTwoPair << 24 | 9u << 16 | 7u << 12 | 2u << 8);
    EXPECT_EQ(value({0, 1}), 0u);
    EXPECT_EQ(value({0, 1, 2, 3, 4, 5, 6, 7}), 0u);
}

// Expected counts: the standard enumeration of all C(52,7) and C(52,6) hands by category.
TEST_F(LongEvaluator, AllSevenCardHands) {
    std::array<uint64_t, 9> types{};
    std::vector<uint8_t> seen(1 << 24, 0);
    uint64_t m[7];
    for (int a = 0; a < 52; ++a) {
        m[0] = ToEval({a});
        for (int b = a + 1; b < 52; ++b) {
            m[1] = m[0] | ToEval({b});
            for (int c = b + 1; c < 52; ++c) {
                m[2] = m[1] | ToEval({c});
                for (int d = c + 1; d < 52; ++d) {
                    m[3] = m[2] | ToEval({d});
                    for (int e = d + 1; e < 52; ++e) {
                        m[4] = m[3] | (uint64_t{1} << (16 * (e / 13) + e % 13));
                        for (int f = e + 1; f < 52; ++f) {
                            m[5] = m[4] | (uint64_t{1} << (16 * (f / 13) + f % 13));
                            for (int g = f + 1; g < 52; ++g) {
                                const HandValue v =
                                    EvalHand7(m[5] | (uint64_t{1} << (16 * (g / 13) + g % 13)));
                                ++types[v >> 24];
                                seen[(v >> 24 << 20) | (v & 0xFFFFF)] = 1;
                            }
                        }
                    }
                }
            }
        }
    }
    const std::array<uint64_t, 9> expected{23294460, 58627800, 31433400, 6461620, 6180020,
                                           4047644,  3473184,  224848,   41584};
    EXPECT_EQ(types, expected);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 4824);
}

TEST_F(LongEvaluator, AllSixCardHandsDistinctValues) {
    std::vector<uint8_t> seen(1 << 24, 0);
    uint64_t total = 0;
    for (int a = 0; a < 52; ++a)
        for (int b = a + 1; b < 52; ++b)
            for (int c = b + 1; c < 52; ++c)
                for (int d = c + 1; d < 52; ++d) {
                    const uint64_t m4 = ToEval({a, b, c, d});
                    for (int e = d + 1; e < 52; ++e)
                        for (int f = e + 1; f < 52; ++f) {
                            const HandValue v = EvalHand6(m4 | ToEval({e, f}));
                            seen[(v >> 24 << 20) | (v & 0xFFFFF)] = 1;
                            ++total;
                        }
                }
    EXPECT_EQ(total, 20358520u);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 6075);
}

}  // namespace
