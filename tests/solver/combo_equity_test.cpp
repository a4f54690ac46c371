// Equity entry: per-combination equities and weights checked against brute-force enumeration
// with the evaluator on river, turn and flop boards, with and without suit isomorphism.
#include "solver/combo_equity.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "cards/hand_evaluator.h"
#include "solver/solved_tree.h"
#include "solver/solver_defaults.h"

namespace {

int Card(const char* text) {
    CardMask m = 0;
    ParseCards(&m, text);
    return LowestCard(m);
}

std::vector<double> Full() {
    return std::vector<double>(kComboCount, 1.0);
}

// Random weights on about `share` of the combinations, the rest 0.
std::vector<double> Sparse(std::mt19937& rng, double share) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> r(kComboCount, 0.0);
    for (double& w : r)
        if (u(rng) < share) w = 0.1 + 0.9 * u(rng);
    return r;
}

// A bet with call and fold on the flop: the equity entry needs only the tree's board and hands.
bool BuildFlopTree(const char* flop, const std::vector<double>& r0, const std::vector<double>& r1,
                   uint8_t iso) {
    const std::vector<TreeLine> lines = {
        {0, -1, 0, 1, 0.0}, {0, 0, 1, 1, 0.0}, {1, 1, -1, -1, 100.0}, {2, 1, -1, -1, 50.0}};
    CardMask m = 0;
    ParseCards(&m, flop);
    int c[3];
    for (int& x : c) {
        x = LowestCard(m);
        m &= m - 1;
    }
    return libsubgame_build_tree(1, lines.data(), 4, c[0], c[1], c[2], -1, -1, r0.data(), r1.data(),
                                 iso) == kBuildOk;
}

// +1 when hand a beats hand b on the five-card board, -1 when it loses, 0 on a tie.
int Showdown(CardMask a, CardMask b, CardMask board) {
    const HandValue va = EvalCardMask(a | board);
    const HandValue vb = EvalCardMask(b | board);
    return va > vb ? 1 : va < vb ? -1 : 0;
}

struct Expected {
    std::vector<double> equity;
    std::vector<double> weight;
};

// Brute force: every own combination against every disjoint opponent combination, averaged over
// every pair of distinct turn and river cards still to come; NaN where own weight is 0 (the tree
// in these tests holds the own range), 0 where the board blocks the combination.
Expected BruteForce(CardMask board, const std::vector<double>& own,
                    const std::vector<double>& opp) {
    const int dealt = CardCount(board);
    const double runouts = dealt == 3 ? 1980.0 : dealt == 4 ? 44.0 : 1.0;
    Expected e{std::vector<double>(kComboCount), std::vector<double>(kComboCount)};
    for (int i = 0; i < kComboCount; ++i) {
        const CardMask mi = ComboMask(i);
        if (own[i] == 0.0) {
            e.equity[i] = e.weight[i] = NAN;
            continue;
        }
        if ((mi & board) != 0) {
            e.equity[i] = e.weight[i] = 0.0;
            continue;
        }
        double sum = 0.0;
        double s = 0.0;
        for (int j = 0; j < kComboCount; ++j) {
            const CardMask mj = ComboMask(j);
            if (opp[j] == 0.0 || (mj & (mi | board)) != 0) continue;
            s += opp[j];
            const CardMask dead = board | mi | mj;
            double total = 0.0;
            int count = 0;
            if (dealt == 5) {
                total = Showdown(mi, mj, board);
                count = 1;
            } else {
                for (int t = 0; t < kCardCount; ++t) {
                    if ((dead & CardBit(t)) != 0) continue;
                    if (dealt == 4) {
                        total += Showdown(mi, mj, board | CardBit(t));
                        ++count;
                        continue;
                    }
                    for (int r = 0; r < kCardCount; ++r) {
                        if (r == t || (dead & CardBit(r)) != 0) continue;
                        total += Showdown(mi, mj, board | CardBit(t) | CardBit(r));
                        ++count;
                    }
                }
            }
            sum += opp[j] * total / count;
        }
        e.equity[i] = s > 0.0 ? sum / s : 0.0;
        e.weight[i] = runouts * own[i] * s;
    }
    return e;
}

void ExpectClose(const std::vector<double>& got, const std::vector<double>& want, double tol,
                 const char* what) {
    for (int i = 0; i < kComboCount; ++i) {
        if (std::isnan(want[i])) {
            EXPECT_TRUE(std::isnan(got[i])) << what << " combo " << i;
        } else {
            EXPECT_NEAR(got[i], want[i], tol * std::max(1.0, std::fabs(want[i])))
                << what << " combo " << i;
        }
    }
}

class ComboEquityTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitHandEvalTables(); }
    void TearDown() override { libsubgame_free_scenario(); }

    Expected Run(int player, int turn, int river, const std::vector<double>& own,
                 const std::vector<double>& opp) {
        Expected e{std::vector<double>(kComboCount, 0.0), std::vector<double>(kComboCount, 0.0)};
        libsubgame_calc_combo_equity(player, turn, river, own.data(), opp.data(), e.equity.data(),
                                     e.weight.data());
        return e;
    }
};

TEST_F(ComboEquityTest, RiverAndTurnMatchEnumeration) {
    std::mt19937 rng(7);
    const CardMask flop = CardBit(Card("Ks")) | CardBit(Card("7h")) | CardBit(Card("2d"));
    // Player 1 holds about half the combinations: NaN exactly on the rest.
    const std::vector<double> tree1 = Sparse(rng, 0.5);
    ASSERT_TRUE(BuildFlopTree("Ks7h2d", Full(), tree1, 0));
    const std::vector<double> own = tree1;
    const std::vector<double> opp = Sparse(rng, 0.3);

    const int turn = Card("Jc");
    const int river = Card("4h");
    Expected riverGot = Run(1, turn, river, own, opp);
    Expected riverWant = BruteForce(flop | CardBit(turn) | CardBit(river), own, opp);
    ExpectClose(riverGot.equity, riverWant.equity, 1e-5, "river equity");
    ExpectClose(riverGot.weight, riverWant.weight, 1e-5, "river weight");

    // The turn: each pair's result averaged over its 44 river cards. Smaller ranges keep the
    // enumeration short.
    const std::vector<double> ownTurn = Sparse(rng, 0.06);
    std::vector<double> ownMasked(kComboCount, 0.0);
    for (int i = 0; i < kComboCount; ++i) ownMasked[i] = tree1[i] != 0.0 ? ownTurn[i] : 0.0;
    Expected turnGot = Run(1, turn, -1, ownMasked, opp);
    Expected turnWant = BruteForce(flop | CardBit(turn), ownMasked, opp);
    for (int i = 0; i < kComboCount; ++i) {
        if (tree1[i] == 0.0) {
            EXPECT_TRUE(std::isnan(turnGot.equity[i]) && std::isnan(turnGot.weight[i])) << i;
        } else if (ownMasked[i] != 0.0) {
            EXPECT_NEAR(turnGot.equity[i], turnWant.equity[i], 1e-5) << i;
            EXPECT_NEAR(turnGot.weight[i], turnWant.weight[i], 1e-4 * turnWant.weight[i]) << i;
        }
    }
}

TEST_F(ComboEquityTest, FlopMatchesEnumeration) {
    std::mt19937 rng(11);
    ASSERT_TRUE(BuildFlopTree("Qd8c3h", Full(), Full(), 0));
    const CardMask flop = CardBit(Card("Qd")) | CardBit(Card("8c")) | CardBit(Card("3h"));
    std::vector<double> own(kComboCount, 0.0);
    const std::vector<double> few = Sparse(rng, 0.004);
    for (int i = 0; i < kComboCount; ++i)
        if ((ComboMask(i) & flop) == 0) own[i] = few[i];
    const std::vector<double> opp = Sparse(rng, 0.02);
    Expected got = Run(0, -1, -1, own, opp);
    Expected want = BruteForce(flop, own, opp);
    int checked = 0;
    for (int i = 0; i < kComboCount; ++i) {
        if (own[i] == 0.0) continue;
        ++checked;
        EXPECT_NEAR(got.equity[i], want.equity[i], 2e-5) << i;
        EXPECT_NEAR(got.weight[i], want.weight[i], 1e-4 * want.weight[i]) << i;
    }
    EXPECT_GT(checked, 0);
    // Combinations meeting the board are not on the flop list: 0, not NaN (the tree's range
    // holds them).
    const int blocked = ComboIndex(CardBit(Card("Qd")) | CardBit(Card("As")));
    EXPECT_EQ(got.equity[blocked], 0.0);
}

// Ranges that depend on ranks, suitedness and which cards are spades only: symmetric in the
// three suits a monotone spade flop leaves exchangeable.
std::vector<double> SpadeSymmetric() {
    std::vector<double> r(kComboCount);
    for (int i = 0; i < kComboCount; ++i) {
        const CardPair p = ComboCards(i);
        int a = CardRank(CardPairLo(p)) * 2 + (CardSuit(CardPairLo(p)) == 3);
        int b = CardRank(CardPairHi(p)) * 2 + (CardSuit(CardPairHi(p)) == 3);
        if (a > b) std::swap(a, b);
        const int key = a * 31 + b * 7 + (CardSuit(CardPairLo(p)) == CardSuit(CardPairHi(p))) * 11;
        r[i] = (key % 5 == 0) ? 0.0 : 0.2 + 0.1 * (key % 7);
    }
    return r;
}

TEST_F(ComboEquityTest, IsomorphismGivesThePlainValues) {
    const std::vector<double> range = SpadeSymmetric();
    struct Case {
        int turn, river;
    };
    const Case cases[] = {{-1, -1}, {Card("9h"), -1}, {Card("9d"), -1}, {Card("9h"), Card("4c")}};
    std::vector<Expected> plain;
    ASSERT_TRUE(BuildFlopTree("Ks8s3s", range, range, 0));
    for (const Case& c : cases) plain.push_back(Run(0, c.turn, c.river, range, range));
    ASSERT_TRUE(BuildFlopTree("Ks8s3s", range, range, 1));
    ASSERT_NE(g_solvedTree->flags & kTreeIsomorphism, 0u);
    for (size_t k = 0; k < plain.size(); ++k) {
        Expected iso = Run(0, cases[k].turn, cases[k].river, range, range);
        ExpectClose(iso.equity, plain[k].equity, 1e-5, "equity");
        ExpectClose(iso.weight, plain[k].weight, 1e-4, "weight");
    }
}

TEST_F(ComboEquityTest, NoCompatibleWeightAndRefusedRunouts) {
    ASSERT_TRUE(BuildFlopTree("Ks7h2d", Full(), Full(), 0));
    // Every opponent combination holds the ace of spades: an own hand with it has nothing to
    // face.
    std::vector<double> opp(kComboCount, 0.0);
    for (int i = 0; i < kComboCount; ++i)
        if ((ComboMask(i) & CardBit(Card("As"))) != 0) opp[i] = 1.0;
    Expected e = Run(0, Card("Jc"), Card("4h"), Full(), opp);
    const int blocked = ComboIndex(CardBit(Card("As")) | CardBit(Card("Qd")));
    EXPECT_EQ(e.equity[blocked], 0.0);
    EXPECT_EQ(e.weight[blocked], 0.0);

    // A river without its turn, a board card as turn, a card out of range: nothing written.
    const int bad[][2] = {{-1, Card("4h")}, {Card("Ks"), -1}, {60, -1}, {Card("Jc"), Card("Jc")}};
    for (const auto& b : bad) {
        Expected untouched{std::vector<double>(kComboCount, 7.0),
                           std::vector<double>(kComboCount, 7.0)};
        libsubgame_calc_combo_equity(0, b[0], b[1], Full().data(), Full().data(),
                                     untouched.equity.data(), untouched.weight.data());
        EXPECT_EQ(untouched.equity, std::vector<double>(kComboCount, 7.0)) << b[0] << " " << b[1];
        EXPECT_EQ(untouched.weight, std::vector<double>(kComboCount, 7.0));
    }
    libsubgame_free_scenario();
    Expected none{std::vector<double>(kComboCount, 7.0), std::vector<double>(kComboCount, 7.0)};
    libsubgame_calc_combo_equity(0, -1, -1, Full().data(), Full().data(), none.equity.data(),
                                 none.weight.data());
    EXPECT_EQ(none.equity, std::vector<double>(kComboCount, 7.0));
}

// On a tree rooted on the turn or river, -1 stands for the root's own cards.
TEST_F(ComboEquityTest, RootedTreesUseTheirOwnCards) {
    for (int street = 2; street <= 3; ++street) {
        const std::vector<TreeLine> lines = {{0, -1, 0, street, 0.0},
                                             {0, 0, 1, street, 0.0},
                                             {1, 1, -1, -1, 100.0},
                                             {2, 1, -1, -1, 50.0}};
        const int turn = Card("9d");
        const int river = street == 3 ? Card("4c") : -1;
        for (uint8_t iso = 0; iso < 2; ++iso) {
            ASSERT_EQ(libsubgame_build_tree(1, lines.data(), 4, Card("2d"), Card("7h"), Card("Ks"),
                                            turn, river, Full().data(), Full().data(), iso),
                      kBuildOk);
            Expected given = Run(1, turn, river, Full(), Full());
            Expected implied = Run(1, -1, -1, Full(), Full());
            EXPECT_EQ(given.equity, implied.equity) << street;
            const CardMask board = CardBit(Card("2d")) | CardBit(Card("7h")) | CardBit(Card("Ks")) |
                                   CardBit(turn) | (river >= 0 ? CardBit(river) : 0);
            if (street == 3) {
                Expected want = BruteForce(board, Full(), Full());
                ExpectClose(implied.equity, want.equity, 1e-5, "river-rooted");
            }
        }
    }
}

TEST(ComputeTargetValues, NullOpponentGivesZeros) {
    const std::vector<CardMask> hands = {CardBit(0) | CardBit(1), CardBit(2) | CardBit(3)};
    PooledArray value;
    PooledArray own;
    ConstructPooledArray(&value, 2, true, false);
    ConstructPooledArray(&own, 2, true, false);
    value.data[0] = 3.0f;
    own.data[0] = own.data[1] = 1.0f;
    PooledArray ev;
    PooledArray weight;
    ComputeTargetValues(&ev, &weight, &value, nullptr, &own, hands, 44.0);
    ASSERT_EQ(ev.count, 2);
    EXPECT_EQ(ev.data[0], 0.0f);
    EXPECT_EQ(weight.data[1], 0.0f);
    // With an opponent: hand 0 faces hand 1's weight only (itself is not disjoint).
    PooledArray opp;
    ConstructPooledArray(&opp, 2, true, false);
    opp.data[0] = 5.0f;
    opp.data[1] = 2.0f;
    ComputeTargetValues(&ev, &weight, &value, &opp, &own, hands, 44.0);
    EXPECT_FLOAT_EQ(ev.data[0], 1.5f);
    EXPECT_FLOAT_EQ(weight.data[0], 88.0f);
    EXPECT_FLOAT_EQ(weight.data[1], 220.0f);
    for (PooledArray* row : {&value, &own, &ev, &weight, &opp}) ReleasePooledArray(row);
}

}  // namespace
