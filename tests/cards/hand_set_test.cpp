#include "cards/hand_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cards/canonical_suits.h"
#include "cards/dealt_cards.h"
#include "cards/hand_evaluator.h"

namespace {

CardMask Board(const char* text) {
    CardMask mask = 0;
    ParseCards(&mask, text);
    return mask;
}

std::vector<double> FullRange() {
    return std::vector<double>(kComboCount, 1.0);
}

class HandSets : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitHandEvalTables(); }
};

TEST_F(HandSets, FlopWithoutIsomorphism) {
    const CardMask flop = Board("2c7dKh");
    HandSet set(&flop, -1, -1, 0);
    const auto range = FullRange();
    ASSERT_TRUE(SetHoles(&set, range.data(), range.data()));
    EXPECT_EQ(set.hands.size(), 1176u);
    ASSERT_EQ(set.records.size(), 49u);
    for (int c = 0; c < kCardCount; ++c)
        EXPECT_EQ(set.cardToRecord[c] == kNoPosition, (flop & CardBit(c)) != 0) << c;
    for (const SubgameRecord& r : set.records) {
        EXPECT_EQ(r.weight, 1);
        EXPECT_EQ(r.hands.size(), 1128u);
        EXPECT_EQ(r.maps.size(), 1u);
        ASSERT_EQ(r.rivers.size(), 48u);
        for (const RiverRecord& c : r.rivers) {
            EXPECT_EQ(c.weight, 1);
            EXPECT_EQ(c.hands.size(), 1081u);
        }
    }
}

TEST_F(HandSets, RecordCountsWithIsomorphism) {
    struct Case {
        const char* flop;
        size_t records;
        size_t runouts;
    } cases[] = {{"2c7cKc", 23, 675}, {"2c7cKd", 36, 1429}, {"2c7dKh", 49, 2352}};
    for (const Case& c : cases) {
        CardMask flop = Board(c.flop), turn = 0, river = 0;
        uint8_t map[4];
        CanonicalizeBoard(map, &flop, &turn, &river);
        HandSet set(&flop, -1, -1, 1);
        size_t runouts = 0;
        int weighted = 0;
        for (const SubgameRecord& r : set.records)
            for (const RiverRecord& river : r.rivers) {
                ++runouts;
                weighted += r.weight * river.weight;
            }
        EXPECT_EQ(set.records.size(), c.records) << c.flop;
        EXPECT_EQ(runouts, c.runouts) << c.flop;
        EXPECT_EQ(weighted, 2352) << c.flop;
        int weightOne = 0, recordWeights = 0;
        for (const SubgameRecord& r : set.records) {
            weightOne += r.weight == 1;
            recordWeights += r.weight;
        }
        EXPECT_EQ(recordWeights, 49) << c.flop;
        // Monotone: 10 free clubs of weight 1, 13 diamonds standing for three suits each.
        if (c.records == 23) {
            EXPECT_EQ(weightOne, 10);
        }
    }
}

TEST(FlatIndexLists, WorkedLayout) {
    const std::vector<std::vector<int32_t>> counts{{5, 8}, {3}};
    FlatIndexLists lists;
    FlattenIndexLists(&lists, 2, &counts);
    EXPECT_EQ(lists.turnCount, 2);
    EXPECT_EQ(lists.actionCount, 2);
    EXPECT_EQ(lists.runoutCount, 3u);
    ASSERT_EQ(lists.runouts.size(), 3u);
    EXPECT_EQ(lists.runouts[0].offset, 0u);
    EXPECT_EQ(lists.runouts[0].hands, 5u);
    EXPECT_EQ(lists.runouts[1].offset, 16u);
    EXPECT_EQ(lists.runouts[1].hands, 8u);
    EXPECT_EQ(lists.runouts[2].offset, 32u);
    EXPECT_EQ(lists.runouts[2].hands, 3u);
    EXPECT_EQ(lists.turnSpans[0].offset, 0u);
    EXPECT_EQ(lists.turnSpans[0].size, 32u);
    EXPECT_EQ(lists.turnSpans[1].offset, 32u);
    EXPECT_EQ(lists.turnSpans[1].size, 8u);
    EXPECT_EQ(lists.turnRunouts[1].first, 2u);
    EXPECT_EQ(lists.turnRunouts[1].count, 1u);
    EXPECT_EQ(lists.paddedSize, 40u);
    EXPECT_EQ(lists.packedSize, 32u);
}

TEST(HandClassKey, WorkedKeys) {
    EXPECT_EQ(HandClassKey(Board("2h3c4d5s9h"), Board("AhKh")), (167 << 8) | 64 | 2);
    EXPECT_EQ(HandClassKey(Board("2s3s4s5s9s"), Board("AsKd")), (167 << 8) | 8);
    EXPECT_EQ(HandClassKey(Board("2c3h4c5h9h"), Board("7c7h")), (70 << 8) | 32 | 2);
    EXPECT_EQ(HandClassKey(Board("2c3h4c5h9h"), 0), -1);
}

CardMask CanonicalFlop(const char* text, int* turnCard = nullptr, const char* turnText = "") {
    CardMask flop = Board(text), turn = Board(turnText), river = 0;
    uint8_t map[4];
    CanonicalizeBoard(map, &flop, &turn, &river);
    if (turnCard) *turnCard = turn ? LowestCard(turn) : -1;
    return flop;
}

// Integer weights 1..4 on a dozen hand classes (ranks and suitedness), every suit alike.
std::vector<double> SymmetricRange(uint32_t seed) {
    std::mt19937 rng(seed);
    // The 169 classes: pairs, suited and offsuit hands, keyed (high * 13 + low) * 2 + suited.
    std::vector<int> classes;
    for (int high = 0; high < 13; ++high)
        for (int low = 0; low <= high; ++low)
            for (int suited = 0; suited < (low < high ? 2 : 1); ++suited)
                classes.push_back((high * 13 + low) * 2 + suited);
    std::shuffle(classes.begin(), classes.end(), rng);
    std::vector<int> classWeight(13 * 13 * 2, 0);
    for (int i = 0; i < 12; ++i) classWeight[classes[i]] = 1 + rng() % 4;
    std::vector<double> range(kComboCount);
    for (int k = 0; k < kComboCount; ++k) {
        const CardPair p = ComboCards(k);
        const int a = CardRank(CardPairLo(p)), b = CardRank(CardPairHi(p));
        const bool suited = CardSuit(CardPairLo(p)) == CardSuit(CardPairHi(p));
        range[k] = classWeight[(std::max(a, b) * 13 + std::min(a, b)) * 2 + suited];
    }
    return range;
}

// Weighted wins and ties of every hand of a list against the opponent hands of the same list
// that share no card with it: a sweep in value order with per-card sums for card removal.
void ShowdownCounts(const std::vector<CardMask>& hands, const std::vector<int32_t>& values,
                    const std::vector<double>& opponent, std::vector<int64_t>* win,
                    std::vector<int64_t>* tie) {
    const size_t n = hands.size();
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return values[a] < values[b]; });
    win->assign(n, 0);
    tie->assign(n, 0);
    int64_t below = 0, belowCard[kCardCount] = {};
    for (size_t start = 0; start < n;) {
        size_t end = start;
        int64_t equal = 0, equalCard[kCardCount] = {};
        while (end < n && values[order[end]] == values[order[start]]) {
            const size_t h = order[end++];
            const int64_t w = static_cast<int64_t>(opponent[ComboIndex(hands[h])]);
            equal += w;
            equalCard[LowestCard(hands[h])] += w;
            equalCard[HighestCard(hands[h])] += w;
        }
        for (size_t j = start; j < end; ++j) {
            const size_t h = order[j];
            const int lo = LowestCard(hands[h]), hi = HighestCard(hands[h]);
            (*win)[h] = below - belowCard[lo] - belowCard[hi];
            (*tie)[h] = equal - equalCard[lo] - equalCard[hi] +
                        static_cast<int64_t>(opponent[ComboIndex(hands[h])]);
        }
        below += equal;
        for (int c = 0; c < kCardCount; ++c) belowCard[c] += equalCard[c];
        start = end;
    }
}

TEST_F(HandSets, ShowdownCountsMatchPairwiseCount) {
    const CardMask board = Board("2c7dKhTs3s");
    const auto range = SymmetricRange(3);
    std::vector<CardMask> hands;
    std::vector<int32_t> values;
    for (int k = 0; k < kComboCount; ++k)
        if (!(ComboMask(k) & board)) {
            hands.push_back(ComboMask(k));
            values.push_back(static_cast<int32_t>(EvalCardMask(ComboMask(k) | board)));
        }
    std::vector<int64_t> win, tie;
    ShowdownCounts(hands, values, range, &win, &tie);
    for (size_t i = 0; i < hands.size(); i += 7) {
        int64_t w = 0, t = 0;
        for (size_t j = 0; j < hands.size(); ++j) {
            if (hands[i] & hands[j]) continue;
            const auto weight = static_cast<int64_t>(range[ComboIndex(hands[j])]);
            w += values[i] > values[j] ? weight : 0;
            t += values[i] == values[j] ? weight : 0;
        }
        ASSERT_EQ(win[i], w);
        ASSERT_EQ(tie[i], t);
    }
}

// The strongest check of the records: river showdown counts gathered through every map into the
// flop list equal the counts over all real runouts, exactly.
void CheckIsomorphismEquivalence(CardMask flop, int turn, uint32_t seed) {
    const auto range0 = SymmetricRange(seed), range1 = SymmetricRange(seed + 100);
    HandSet set(&flop, turn, -1, 1);
    ASSERT_TRUE(SetHoles(&set, range0.data(), range1.data()));
    const size_t n = set.hands.size();

    std::vector<int64_t> bruteWin(n, 0), bruteTie(n, 0), win, tie;
    std::vector<CardMask> hands;
    std::vector<int32_t> values;
    std::vector<size_t> position;
    for (int t = 0; t < kCardCount; ++t) {
        if ((flop & CardBit(t)) || (turn >= 0 && t != turn)) continue;
        for (int r = 0; r < kCardCount; ++r) {
            const CardMask board = flop | CardBit(t) | CardBit(r);
            if ((flop & CardBit(r)) || r == t) continue;
            hands.clear();
            values.clear();
            position.clear();
            for (size_t i = 0; i < n; ++i) {
                if (set.hands[i] & board) continue;
                hands.push_back(set.hands[i]);
                values.push_back(static_cast<int32_t>(EvalCardMask(set.hands[i] | board)));
                position.push_back(i);
            }
            ShowdownCounts(hands, values, range1, &win, &tie);
            for (size_t j = 0; j < hands.size(); ++j) {
                bruteWin[position[j]] += win[j];
                bruteTie[position[j]] += tie[j];
            }
        }
    }

    std::vector<int64_t> flopWin(n, 0), flopTie(n, 0);
    for (const SubgameRecord& record : set.records) {
        std::vector<int64_t> turnWin(record.hands.size(), 0), turnTie(record.hands.size(), 0);
        for (const RiverRecord& river : record.rivers) {
            ShowdownCounts(river.hands, river.strengths, range1, &win, &tie);
            for (const auto& map : river.maps)
                for (size_t i = 0; i < map.size(); ++i) {
                    turnWin[map[i]] += win[i];
                    turnTie[map[i]] += tie[i];
                }
        }
        for (const auto& map : record.maps)
            for (size_t i = 0; i < map.size(); ++i) {
                flopWin[map[i]] += turnWin[i];
                flopTie[map[i]] += turnTie[i];
            }
    }
    for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(flopWin[i], bruteWin[i]) << MaskText(set.hands[i]);
        ASSERT_EQ(flopTie[i], bruteTie[i]) << MaskText(set.hands[i]);
    }
}

TEST_F(HandSets, IsomorphismEquivalence) {
    CheckIsomorphismEquivalence(CanonicalFlop("4h9hQh"), -1, 1);
    CheckIsomorphismEquivalence(CanonicalFlop("5s5dJs"), -1, 2);
    CheckIsomorphismEquivalence(CanonicalFlop("3c8dKs"), -1, 3);
    int turn = -1;
    const CardMask flop = CanonicalFlop("6h7hAd", &turn, "2c");
    CheckIsomorphismEquivalence(flop, turn, 4);
}

// Maps, orders, strengths and groups of every list of a set.
void CheckSetInvariants(const HandSet& set) {
    for (size_t i = 0; i < set.hands.size(); ++i) {
        ASSERT_EQ(set.index[ComboIndex(set.hands[i])], i);
        ASSERT_EQ(set.pairs[i], MakeCardPair(set.hands[i]));
    }
    auto checkMaps = [](const std::vector<std::vector<uint16_t>>& maps, int weight, int card,
                        const std::vector<CardMask>& hands, const std::vector<CardMask>& parent) {
        ASSERT_EQ(maps.size(), static_cast<size_t>(weight));
        const int s = CardSuit(card);
        for (int k = 0; k < weight; ++k) {
            ASSERT_EQ(maps[k].size(), hands.size());
            std::set<uint16_t> seen(maps[k].begin(), maps[k].end());
            ASSERT_EQ(seen.size(), hands.size());  // injective
            ASSERT_EQ(seen.count(kNoPosition), 0u);
            int perm[4] = {0, 1, 2, 3};
            std::swap(perm[s], perm[s + k]);
            for (size_t i = 0; i < hands.size(); ++i)
                ASSERT_EQ(parent[maps[k][i]], PermuteSuits(hands[i], perm));
        }
    };
    for (size_t r = 0; r < set.records.size(); ++r) {
        const SubgameRecord& record = set.records[r];
        ASSERT_EQ(set.recordHandCounts[r], static_cast<int32_t>(record.hands.size()));
        ASSERT_EQ(set.riverHandCounts[r], record.riverHandCounts);
        ASSERT_EQ(set.cardToRecord[record.card], r);
        checkMaps(record.maps, record.weight, record.card, record.hands, set.hands);
        for (size_t i = 0; i < record.hands.size(); ++i) {
            ASSERT_EQ(record.strengths[i],
                      static_cast<int32_t>(EvalCardMask(record.hands[i] | record.board)));
            ASSERT_EQ(record.index[ComboIndex(record.hands[i])], i);
            // Turn lists: equal values keep the parent order.
            if (i > 0) {
                ASSERT_LE(record.strengths[i - 1], record.strengths[i]);
                if (record.strengths[i - 1] == record.strengths[i]) {
                    ASSERT_LT(record.maps[0][i - 1], record.maps[0][i]);
                }
            }
        }
        for (size_t c = 0; c < record.rivers.size(); ++c) {
            const RiverRecord& river = record.rivers[c];
            ASSERT_EQ(record.riverHandCounts[c], static_cast<int32_t>(river.hands.size()));
            ASSERT_EQ(record.cardToRiver[river.card], c);
            checkMaps(river.maps, river.weight, river.card, river.hands, record.hands);
            for (size_t i = 0; i < river.hands.size(); ++i) {
                ASSERT_EQ(river.strengths[i],
                          static_cast<int32_t>(EvalCardMask(river.hands[i] | river.board)));
                ASSERT_EQ(river.pairs[i], MakeCardPair(river.hands[i]));
                ASSERT_EQ(river.index[ComboIndex(river.hands[i])], i);
                if (i == 0) continue;
                ASSERT_LE(river.strengths[i - 1], river.strengths[i]);
                if (river.strengths[i - 1] != river.strengths[i]) continue;
                const int32_t k0 = HandClassKey(river.board, river.hands[i - 1]);
                const int32_t k1 = HandClassKey(river.board, river.hands[i]);
                ASSERT_LE(k0, k1);
                if (k0 == k1) {
                    ASSERT_LT(river.maps[0][i - 1], river.maps[0][i]);
                }
            }
            // Runs and groups cover every position once.
            int total = 0;
            for (int16_t length : river.runLengths) total += length;
            ASSERT_EQ(total, static_cast<int>(river.hands.size()));
            ASSERT_EQ(river.smallGroups.size() + river.largeGroups.size(), river.runLengths.size());
            std::vector<int> covered(river.hands.size(), 0);
            for (const SmallGroup& g : river.smallGroups) {
                ASSERT_EQ(g.count, river.runLengths[g.group]);
                const int lanes = g.count <= 8 ? g.count : g.count - 8;
                ASSERT_EQ(g.laneMask, lanes == 8 ? ~0ull : (1ull << (8 * lanes)) - 1);
                for (int j = 0; j < g.count; ++j) ++covered[g.first + j];
            }
            for (const LargeGroup& g : river.largeGroups) {
                ASSERT_GT(g.count, 16);
                ASSERT_EQ(g.count, river.runLengths[g.group]);
                for (int j = 0; j < g.count; ++j) ++covered[g.first + j];
            }
            for (int c2 : covered) ASSERT_EQ(c2, 1);
            for (const SmallGroup& g : river.smallGroups)
                for (int j = 1; j < g.count; ++j)
                    ASSERT_EQ(river.strengths[g.first], river.strengths[g.first + j]);
        }
    }
}

TEST_F(HandSets, ListsMapsAndGroupsHoldTheirInvariants) {
    const char* flops[] = {"4h9hQh", "5s5dJs", "3c8dKs", "2c2d2h"};
    uint32_t seed = 20;
    for (const char* text : flops) {
        const CardMask flop = CanonicalFlop(text);
        const auto range0 = SymmetricRange(seed++), range1 = SymmetricRange(seed++);
        HandSet set(&flop, -1, -1, 1);
        ASSERT_TRUE(SetHoles(&set, range0.data(), range1.data()));
        CheckSetInvariants(set);
        for (const SubgameRecord& r : set.records)
            if (r.weight == 1) {
                EXPECT_EQ(r.maps.size(), 1u);
            }
    }
    // Without isomorphism any range works: every record has weight 1.
    const CardMask flop = Board("Kd8s8c");
    const auto range0 = SymmetricRange(7);
    std::vector<double> range1(kComboCount);
    std::mt19937 rng(9);
    for (double& w : range1) w = rng() % 3;
    HandSet set(&flop, -1, -1, 0);
    ASSERT_TRUE(SetHoles(&set, range0.data(), range1.data()));
    CheckSetInvariants(set);
}

TEST_F(HandSets, TurnAndRiverRoots) {
    const auto range = FullRange();
    int turn = -1;
    const CardMask flop = CanonicalFlop("6h7hAd", &turn, "2c");
    HandSet turnSet(&flop, turn, -1, 1);
    ASSERT_TRUE(SetHoles(&turnSet, range.data(), range.data()));
    ASSERT_EQ(turnSet.records.size(), 1u);
    EXPECT_EQ(turnSet.cardToRecord[turn], 0);
    EXPECT_EQ(turnSet.records[0].rivers.size(), DealtCardList(flop | CardBit(turn), 1).size());
    CheckSetInvariants(turnSet);

    const CardMask riverFlop = Board("As9d4c");
    HandSet riverSet(&riverFlop, MakeCard(3, 2), MakeCard(10, 3), 0);
    ASSERT_TRUE(SetHoles(&riverSet, range.data(), range.data()));
    ASSERT_EQ(riverSet.records.size(), 1u);
    ASSERT_EQ(riverSet.records[0].rivers.size(), 1u);
    EXPECT_EQ(riverSet.records[0].cardToRiver[MakeCard(10, 3)], 0);
    EXPECT_EQ(riverSet.records[0].rivers[0].hands.size(), 1081u);
    CheckSetInvariants(riverSet);
}

TEST_F(HandSets, RunGroupsAndLaneMasks) {
    RiverRecord record(0, 0, 1);
    record.strengths.assign(8, 5);
    record.strengths.insert(record.strengths.end(), 9, 6);
    record.strengths.insert(record.strengths.end(), 17, 7);
    record.strengths.push_back(8);
    GroupEqualStrengths(&record);
    EXPECT_EQ(record.runLengths, (std::vector<int16_t>{8, 9, 17, 1}));
    ASSERT_EQ(record.smallGroups.size(), 3u);
    EXPECT_EQ(record.smallGroups[0].laneMask, ~0ull);    // 8 hands: all eight lanes
    EXPECT_EQ(record.smallGroups[1].laneMask, 0xFFull);  // 9 hands: one lane of the last block
    EXPECT_EQ(record.smallGroups[1].first, 8);
    EXPECT_EQ(record.smallGroups[2].group, 3u);
    EXPECT_EQ(record.smallGroups[2].laneMask, 0xFFull);
    ASSERT_EQ(record.largeGroups.size(), 1u);
    EXPECT_EQ(record.largeGroups[0].group, 2u);
    EXPECT_EQ(record.largeGroups[0].first, 17);
    EXPECT_EQ(record.largeGroups[0].count, 17);

    // A royal flush on the board: every hand ties.
    const auto range = FullRange();
    const CardMask flop = Board("AsKsQs");
    HandSet set(&flop, MakeCard(9, 3), MakeCard(8, 3), 0);
    ASSERT_TRUE(SetHoles(&set, range.data(), range.data()));
    const RiverRecord& river = set.records[0].rivers[0];
    EXPECT_EQ(river.runLengths, (std::vector<int16_t>{1081}));
    EXPECT_TRUE(river.smallGroups.empty());
    ASSERT_EQ(river.largeGroups.size(), 1u);
    EXPECT_EQ(river.largeGroups[0].count, 1081);
}

TEST_F(HandSets, LivenessAndRootRows) {
    const CardMask flop = Board("2c7dKh");
    auto range0 = FullRange(), range1 = FullRange();
    const int both0 = ComboIndex(Board("AsAh")), only1 = ComboIndex(Board("QsQh"));
    const int nan0 = ComboIndex(Board("JsJh")), negative = ComboIndex(Board("TsTh"));
    const int nanLive = ComboIndex(Board("9s9h"));
    range0[both0] = range1[both0] = 0;
    range0[only1] = 0;
    range0[nan0] = std::nan("");
    range1[nan0] = 0;
    // Live through the other weight: the NaN must not reach the rows.
    range0[nanLive] = std::nan("");
    range1[nanLive] = 1;
    range0[negative] = -1;
    range1[negative] = 2;
    HandSet set(&flop, -1, -1, 0);
    ASSERT_TRUE(SetHoles(&set, range0.data(), range1.data()));
    EXPECT_EQ(set.index[both0], kNoPosition);
    EXPECT_EQ(set.index[nan0], kNoPosition);
    ASSERT_NE(set.index[only1], kNoPosition);
    ASSERT_NE(set.index[negative], kNoPosition);
    for (const SubgameRecord& r : set.records) {
        EXPECT_EQ(r.index[both0], kNoPosition);
        EXPECT_EQ(r.index[nan0], kNoPosition);
        for (const RiverRecord& c : r.rivers) EXPECT_EQ(c.index[both0], kNoPosition);
    }
    std::array<std::vector<float>, 4> rows;
    ASSERT_TRUE(LoadRecordRanges(&rows, range0.data(), range1.data(), &set.hands));
    EXPECT_EQ(rows[0][set.index[only1]], 0.0f);
    EXPECT_EQ(rows[0][set.index[negative]], 0.0f);
    ASSERT_NE(set.index[nanLive], kNoPosition);
    EXPECT_EQ(rows[0][set.index[nanLive]], 0.0f);
    EXPECT_EQ(rows[1][set.index[nanLive]], 1.0f);
    EXPECT_EQ(rows[1][set.index[negative]], 2.0f);
    for (const auto& row : rows)
        for (float v : row) ASSERT_TRUE(std::isfinite(v));

    // Full ranges: each total is 1176 x 1081 compatible pairs.
    const auto full = FullRange();
    HandSet fullSet(&flop, -1, -1, 0);
    ASSERT_TRUE(SetHoles(&fullSet, full.data(), full.data()));
    ASSERT_TRUE(LoadRecordRanges(&rows, full.data(), full.data(), &fullSet.hands));
    for (int p = 2; p < 4; ++p) {
        ASSERT_EQ(rows[p].size(), 1176u);
        for (float v : rows[p]) ASSERT_EQ(v, static_cast<float>(1.0 / 1271256.0));
    }

    // Random ranges: the normalised row against the compatible opponent weight sums to 1.
    std::mt19937 rng(4);
    std::vector<double> a(kComboCount), b(kComboCount);
    for (int k = 0; k < kComboCount; ++k) {
        a[k] = (rng() % 4) * 0.25;
        b[k] = (rng() % 3) * 0.5;
    }
    HandSet randomSet(&flop, -1, -1, 0);
    ASSERT_TRUE(SetHoles(&randomSet, a.data(), b.data()));
    ASSERT_TRUE(LoadRecordRanges(&rows, a.data(), b.data(), &randomSet.hands));
    for (int p = 0; p < 2; ++p) {
        double sum = 0;
        for (size_t i = 0; i < randomSet.hands.size(); ++i) {
            double compatible = 0;
            for (size_t j = 0; j < randomSet.hands.size(); ++j)
                if (!(randomSet.hands[i] & randomSet.hands[j])) compatible += rows[1 - p][j];
            sum += rows[2 + p][i] * compatible;
        }
        EXPECT_NEAR(sum, 1.0, 1e-5) << "player " << p;
    }
    // Weights within a few binary orders sum exactly, so the totals match a hand-by-hand sum
    // to the last bit.
    std::uniform_real_distribution<double> near(0.001, 1.0);
    for (int k = 0; k < kComboCount; ++k) a[k] = near(rng), b[k] = near(rng);
    ASSERT_TRUE(LoadRecordRanges(&rows, a.data(), b.data(), &fullSet.hands));
    for (int p = 0; p < 2; ++p) {
        double total = 0;
        for (size_t i = 0; i < fullSet.hands.size(); ++i) {
            double compatible = 0;
            for (size_t j = 0; j < fullSet.hands.size(); ++j)
                if (!(fullSet.hands[i] & fullSet.hands[j])) compatible += rows[1 - p][j];
            total += static_cast<double>(rows[p][i]) * compatible;
        }
        for (size_t i = 0; i < fullSet.hands.size(); ++i)
            ASSERT_EQ(rows[2 + p][i], static_cast<float>(rows[p][i] / total)) << p << " " << i;
    }

    // A small compatible weight beside a large blocked one still counts: AsAh meets only QcQd.
    std::vector<double> big0(kComboCount, 0), big1(kComboCount, 0);
    big0[ComboIndex(Board("AsAh"))] = 1;
    big1[ComboIndex(Board("AsQs"))] = 1e20;
    big1[ComboIndex(Board("QcQd"))] = 1;
    HandSet bigSet(&flop, -1, -1, 0);
    ASSERT_TRUE(SetHoles(&bigSet, big0.data(), big1.data()));
    ASSERT_TRUE(LoadRecordRanges(&rows, big0.data(), big1.data(), &bigSet.hands));
    EXPECT_EQ(rows[2][bigSet.index[ComboIndex(Board("AsAh"))]], 1.0f);
    EXPECT_EQ(rows[3][bigSet.index[ComboIndex(Board("QcQd"))]], 1.0f);
    EXPECT_EQ(rows[3][bigSet.index[ComboIndex(Board("AsQs"))]], 1e20f);

    // No pair of hands without a shared card: failure, no normalised rows.
    std::vector<double> x(kComboCount, 0), y(kComboCount, 0);
    x[ComboIndex(Board("AhKs"))] = 1;
    y[ComboIndex(Board("AhQs"))] = 1;
    HandSet blocked(&flop, -1, -1, 0);
    ASSERT_TRUE(SetHoles(&blocked, x.data(), y.data()));
    EXPECT_FALSE(LoadRecordRanges(&rows, x.data(), y.data(), &blocked.hands));
    EXPECT_TRUE(rows[2].empty());
    std::vector<double> zero(kComboCount, 0);
    EXPECT_FALSE(LoadRecordRanges(&rows, zero.data(), full.data(), &fullSet.hands));
}

TEST_F(HandSets, InconsistentIsomorphismIsReportedAndFails) {
    const CardMask flop = Board("2c7cKc");
    auto range = FullRange();
    range[ComboIndex(Board("AhQh"))] = 0;
    HandSet set(&flop, -1, -1, 1);
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
    const bool ok = SetHoles(&set, range.data(), range.data());
    std::fflush(stdout);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(ok);
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(out.substr(start, end - start));
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines) ASSERT_EQ(line.rfind("isomorph error: ", 0), 0u) << line;
    auto has = [&](const char* line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    // The diamond turn record 2d exchanges diamonds with hearts.
    EXPECT_TRUE(has("isomorph error: 2c 7c Kc 2d  | Qd Ad  | Qh Ah "));
    // A heart river under a diamond turn exchanges hearts with spades.
    EXPECT_TRUE(has("isomorph error: 2c 7c Kc 2d 2h  | Qs As  | Qh Ah "));
    // A diamond river under a club turn exchanges diamonds with hearts.
    EXPECT_TRUE(has("isomorph error: 2c 3c 7c Kc 2d  | Qd Ad  | Qh Ah "));
    // 11 diamond turns holding AdQd, 10 club turns x 11 diamond rivers holding it, and
    // 13 diamond turns x 13 heart rivers holding AsQs.
    EXPECT_EQ(lines.size(), 11u + 110u + 169u);
}

void ExpectSameGroups(const RiverRecord& x, const RiverRecord& y) {
    ASSERT_EQ(x.smallGroups.size(), y.smallGroups.size());
    for (size_t g = 0; g < x.smallGroups.size(); ++g) {
        const SmallGroup &p = x.smallGroups[g], &q = y.smallGroups[g];
        ASSERT_EQ(p.group, q.group);
        ASSERT_EQ(p.first, q.first);
        ASSERT_EQ(p.count, q.count);
        ASSERT_EQ(p.laneMask, q.laneMask);
    }
    ASSERT_EQ(x.largeGroups.size(), y.largeGroups.size());
    for (size_t g = 0; g < x.largeGroups.size(); ++g) {
        const LargeGroup &p = x.largeGroups[g], &q = y.largeGroups[g];
        ASSERT_EQ(p.group, q.group);
        ASSERT_EQ(p.first, q.first);
        ASSERT_EQ(p.count, q.count);
    }
}

// Every list, table and layout of two sets.
void ExpectSameSet(const HandSet& a, const HandSet& b) {
    ASSERT_EQ(a.hands, b.hands);
    ASSERT_EQ(a.pairs, b.pairs);
    ASSERT_TRUE(std::equal(a.index, a.index + kComboCount, b.index));
    ASSERT_EQ(a.recordHandCounts, b.recordHandCounts);
    ASSERT_EQ(a.riverHandCounts, b.riverHandCounts);
    ASSERT_TRUE(std::equal(a.cardToRecord, a.cardToRecord + kCardCount, b.cardToRecord));
    ASSERT_EQ(a.records.size(), b.records.size());
    for (size_t r = 0; r < a.records.size(); ++r) {
        const SubgameRecord &x = a.records[r], &y = b.records[r];
        ASSERT_EQ(x.board, y.board);
        ASSERT_EQ(x.card, y.card);
        ASSERT_EQ(x.weight, y.weight);
        ASSERT_EQ(x.hands, y.hands);
        ASSERT_EQ(x.pairs, y.pairs);
        ASSERT_TRUE(std::equal(x.index, x.index + kComboCount, y.index));
        ASSERT_EQ(x.strengths, y.strengths);
        ASSERT_EQ(x.maps, y.maps);
        ASSERT_EQ(x.riverHandCounts, y.riverHandCounts);
        ASSERT_TRUE(std::equal(x.cardToRiver, x.cardToRiver + kCardCount, y.cardToRiver));
        ASSERT_EQ(x.rivers.size(), y.rivers.size());
        for (size_t c = 0; c < x.rivers.size(); ++c) {
            const RiverRecord &u = x.rivers[c], &v = y.rivers[c];
            ASSERT_EQ(u.board, v.board);
            ASSERT_EQ(u.card, v.card);
            ASSERT_EQ(u.weight, v.weight);
            ASSERT_EQ(u.hands, v.hands);
            ASSERT_EQ(u.pairs, v.pairs);
            ASSERT_TRUE(std::equal(u.index, u.index + kComboCount, v.index));
            ASSERT_EQ(u.strengths, v.strengths);
            ASSERT_EQ(u.runLengths, v.runLengths);
            ASSERT_EQ(u.maps, v.maps);
            ExpectSameGroups(u, v);
        }
    }
}

// The 4-thread record loop against itself and against a serial pass in reverse record order:
// a race or a result that depends on the schedule shows as a difference.
TEST_F(HandSets, BuildsDoNotDependOnTheSchedule) {
    const char* flops[] = {"5s5dJs", "4h9hQh"};
    uint32_t seed = 50;
    for (const char* text : flops) {
        const CardMask flop = CanonicalFlop(text);
        const auto range0 = SymmetricRange(seed++), range1 = SymmetricRange(seed++);
        HandSet a(&flop, -1, -1, 1), b(&flop, -1, -1, 1), serial(&flop, -1, -1, 1);
        ASSERT_TRUE(SetHoles(&a, range0.data(), range1.data()));
        ASSERT_TRUE(SetHoles(&b, range0.data(), range1.data()));
        ExpectSameSet(a, b);

        ASSERT_TRUE(SetHoles(&serial, range0.data(), range1.data()));
        for (size_t r = serial.records.size(); r-- > 0;) {
            SubgameRecord& record = serial.records[r];
            record = SubgameRecord(&serial, record.card, record.weight, -1, 1);
            ASSERT_TRUE(SetupSubgameRecord(&record, &serial.hands, serial.index));
            serial.recordHandCounts[r] = static_cast<int32_t>(record.hands.size());
            serial.riverHandCounts[r] = record.riverHandCounts;
        }
        ExpectSameSet(a, serial);

        FlatIndexLists la, lb;
        FlattenIndexLists(&la, 3, &a.riverHandCounts);
        FlattenIndexLists(&lb, 3, &serial.riverHandCounts);
        EXPECT_EQ(la.paddedSize, lb.paddedSize);
        EXPECT_EQ(la.packedSize, lb.packedSize);
    }
}

}  // namespace
