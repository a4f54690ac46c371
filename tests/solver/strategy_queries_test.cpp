// Strategy queries, node locks and strategy edits on small solved trees: the display rule
// (current strategy up to iteration 62, averages from 63), the NaN and 0 rules, locks through
// isomorphic cards, set_strategy round trips at every river storage kind, and refused arguments.
#include "solver/strategy_queries.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "cards/hand_evaluator.h"
#include "cards/hand_set.h"
#include "solver/iterations.h"
#include "solver/node_edits.h"
#include "solver/node_locks.h"
#include "solver/node_runout.h"
#include "solver/runout_access.h"
#include "solver/runout_walks.h"
#include "solver/solved_tree.h"
#include "solver/solver_defaults.h"
#include "solver/solver_thread.h"
#include "solver/traversal.h"
#include "storage/lock_record.h"
#include "storage/storage_interface.h"

namespace {

int Card(const char* text) {
    CardMask m = 0;
    ParseCards(&m, text);
    return LowestCard(m);
}

// Decision nodes on every street for both players: 0 OOP flop, 1 IP flop, 2 OOP turn, 3 IP turn,
// 4 OOP river, 5 IP river; each has two actions. Rooted on the turn, nodes 0 and 1 are turn nodes
// and 2 to 5 river nodes (solving is far cheaper with one dealt card).
std::vector<TreeLine> Lines(int rootStreet = 1) {
    std::vector<TreeLine> lines = {
        {0, -1, 0, 1, 0.0},    {0, 0, 1, 1, 0.0},     {0, 1, 0, 2, 0.0},     {0, 2, 1, 2, 0.0},
        {0, 3, 0, 3, 0.0},     {0, 4, 1, 3, 0.0},     {1, 5, -1, -1, 350.0}, {2, 5, -1, -1, 250.0},
        {1, 4, -1, -1, 250.0}, {2, 3, -1, -1, 150.0}, {1, 2, -1, -1, 150.0}, {2, 1, -1, -1, 100.0},
        {1, 0, -1, -1, 50.0},
    };
    for (TreeLine& line : lines)
        if (line.street > 0) line.street = std::min(line.street + rootStreet - 1, 3);
    return lines;
}

constexpr int kDecisionNodes = 6;

std::vector<double> Sparse(uint32_t seed, double share) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> r(kComboCount, 0.0);
    for (double& w : r)
        if (u(rng) < share) w = 0.2 + 0.8 * u(rng);
    return r;
}

// Weights that treat clubs and diamonds alike: symmetric for a flop of spades and hearts.
std::vector<double> ClubDiamondSymmetric(double share) {
    std::vector<double> r(kComboCount);
    for (int i = 0; i < kComboCount; ++i) {
        const CardPair p = ComboCards(i);
        auto cls = [](int c) {
            return CardRank(c) * 3 + (CardSuit(c) == 2 ? 1 : CardSuit(c) == 3 ? 2 : 0);
        };
        int a = cls(CardPairLo(p));
        int b = cls(CardPairHi(p));
        if (a > b) std::swap(a, b);
        const bool suited = CardSuit(CardPairLo(p)) == CardSuit(CardPairHi(p));
        const uint32_t key = static_cast<uint32_t>(a * 97 + b * 13 + suited * 7) * 2654435761u;
        r[i] = (key % 1000) < share * 1000 ? 0.3 + (key % 7) * 0.1 : 0.0;
    }
    return r;
}

// The combination with clubs and diamonds exchanged.
int SwapClubsDiamonds(int combo) {
    const int perm[4] = {1, 0, 2, 3};
    return ComboIndex(PermuteSuits(ComboMask(combo), perm));
}

struct Runout {
    int turn, river;
};

class StrategyQueryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitHandEvalTables(); }
    void TearDown() override { libsubgame_free_scenario(); }

    void Build(const char* flop, const std::vector<double>& r0, const std::vector<double>& r1,
               uint8_t iso = 0, int32_t averaging = 1, std::array<int32_t, 2> kinds = {0, 0},
               int rootTurn = -1) {
        CardMask m = 0;
        ParseCards(&m, flop);
        int c[3];
        for (int& x : c) {
            x = LowestCard(m);
            m &= m - 1;
        }
        flop_ = CardBit(c[0]) | CardBit(c[1]) | CardBit(c[2]);
        rootTurn_ = rootTurn;
        const std::vector<TreeLine> lines = Lines(rootTurn >= 0 ? 2 : 1);
        ASSERT_EQ(libsubgame_build_tree(averaging, lines.data(), static_cast<int32_t>(lines.size()),
                                        c[0], c[1], c[2], rootTurn, -1, r0.data(), r1.data(), iso),
                  kBuildOk);
        ASSERT_TRUE(libsubgame_reset_progress(kinds.data()));
        ASSERT_TRUE(CheckTreeStorageReady(g_solvedTree));
    }

    static int Street(int node) { return g_solvedTree->nodes[node].street; }

    // A few runouts fitting the node's street.
    std::vector<Runout> Runouts(int node) const {
        const int street = Street(node);
        if (street == 1) return {{-1, -1}};
        std::vector<Runout> out;
        std::vector<int> turns = {Card("9c"), Card("Ah"), Card("4d")};
        if (rootTurn_ >= 0) turns = {rootTurn_};
        const int rivers[] = {Card("Tc"), Card("3s"), Card("Jh")};
        for (int t : turns) {
            if ((flop_ & CardBit(t)) != 0) continue;
            if (street == 2) {
                out.push_back({t, -1});
                continue;
            }
            for (int r : rivers)
                if ((flop_ & CardBit(r)) == 0 && r != t) out.push_back({t, r});
        }
        return out;
    }

    static std::vector<double> Query(int node, int action, Runout at, double fill = 0.0) {
        std::vector<double> out(kComboCount, fill);
        libsubgame_get_combo_strategy(node, action, at.turn, at.river, out.data(), 0, nullptr);
        return out;
    }

    CardMask Dead(Runout at) const {
        return flop_ | (at.turn >= 0 ? CardBit(at.turn) : 0) |
               (at.river >= 0 ? CardBit(at.river) : 0);
    }

    static void Iterate(int until) {
        while (g_solvedTree->iteration < until) RunIteration(g_solvedTree);
    }

    // Every decision node and sampled runout: 0.0 exactly where the acting range is 0, NaN
    // exactly for weighted combinations meeting a dealt card, else probabilities summing to 1.
    void ExpectDistributions() {
        for (int node = 0; node < kDecisionNodes; ++node) {
            const int player = g_solvedTree->nodes[node].player;
            const std::vector<double>& range = g_solvedTree->ranges[player];
            for (Runout at : Runouts(node)) {
                const std::vector<double> a0 = Query(node, 0, at);
                const std::vector<double> a1 = Query(node, 1, at);
                for (int c = 0; c < kComboCount; ++c) {
                    if (range[c] == 0.0) {
                        ASSERT_EQ(a0[c], 0.0);
                        ASSERT_EQ(a1[c], 0.0);
                    } else if ((ComboMask(c) & Dead(at)) != 0) {
                        ASSERT_TRUE(std::isnan(a0[c]) && std::isnan(a1[c])) << node << " " << c;
                    } else {
                        ASSERT_GE(a0[c], 0.0);
                        ASSERT_LE(a0[c], 1.0);
                        ASSERT_NEAR(a0[c] + a1[c], 1.0, 1e-5) << node << " " << c;
                    }
                }
            }
        }
    }

    CardMask flop_ = 0;
    int rootTurn_ = -1;
};

TEST_F(StrategyQueryTest, FreshTreeShowsUniformWithZeroAndNanRules) {
    Build("Ks7h2d", Sparse(1, 0.3), Sparse(2, 0.3));
    for (int node = 0; node < kDecisionNodes; ++node) {
        const std::vector<double>& range = g_solvedTree->ranges[g_solvedTree->nodes[node].player];
        for (Runout at : Runouts(node)) {
            const std::vector<double> p = Query(node, 1, at);
            for (int c = 0; c < kComboCount; ++c) {
                if (range[c] == 0.0)
                    EXPECT_EQ(p[c], 0.0);
                else if ((ComboMask(c) & Dead(at)) != 0)
                    EXPECT_TRUE(std::isnan(p[c]));
                else
                    EXPECT_EQ(p[c], 0.5) << node << " " << c;
            }
        }
    }
}

// All actions at once give what the per-action entry gives, idle; refused arguments write
// nothing and return 0.
TEST_F(StrategyQueryTest, NodeStrategyMatchesPerActionQueries) {
    Build("Ks7h2d", Sparse(19, 0.06), Sparse(20, 0.06), 0, 1, {0, 0}, Card("9c"));
    Iterate(5);
    for (int node = 0; node < kDecisionNodes; ++node)
        for (Runout at : Runouts(node)) {
            std::vector<double> all(2 * kComboCount, 0.0);
            ASSERT_EQ(libsubgame_get_node_strategy(node, at.turn, at.river, all.data()), 2);
            for (int a = 0; a < 2; ++a) {
                const std::vector<double> one = Query(node, a, at);
                for (int c = 0; c < kComboCount; ++c) {
                    const double x = all[a * kComboCount + c];
                    EXPECT_TRUE((std::isnan(x) && std::isnan(one[c])) || x == one[c]) << c;
                }
            }
        }
    std::vector<double> untouched(2 * kComboCount, 7.0);
    EXPECT_EQ(libsubgame_get_node_strategy(2, -1, -1, untouched.data()), 0);
    EXPECT_EQ(libsubgame_get_node_strategy(6, -1, -1, untouched.data()), 0);
    EXPECT_EQ(untouched, std::vector<double>(2 * kComboCount, 7.0));
}

TEST_F(StrategyQueryTest, DistributionsDuringASolve) {
    Build("Ks7h2d", Sparse(3, 0.08), Sparse(4, 0.08), 0, 1, {0, 0}, Card("9c"));
    Iterate(30);
    ExpectDistributions();
}

// Every query and edit while the solver thread runs, on a flop-rooted and a turn-rooted tree at
// the highest river storage level: no hang, and river answers (read under the lock the solve
// runs under) stay distributions. Short, so the sanitizer run covers the locking.
TEST_F(StrategyQueryTest, QueriesAndEditsWhileTheSolverRuns) {
    for (int rootTurn : {-1, Card("9c")}) {
        Build("Ks7h2d", Sparse(21, 0.03), Sparse(22, 0.03), 0, 1, {1, 1}, rootTurn);
        const std::vector<double> half(kComboCount, 0.5);
        std::vector<double> mask(kComboCount, 0.0);
        for (int c = 0; c < kComboCount; c += 2) mask[c] = 1.0;
        testing::internal::CaptureStdout();
        ASSERT_EQ(libsubgame_start_solver(rootTurn >= 0 ? 12 : 6, 1), 1);
        int rounds = 0;
        while (libsubgame_solver_running() != 0 || rounds < 2) {
            ++rounds;
            for (int node = 0; node < kDecisionNodes; ++node) {
                const Runout at = Runouts(node)[rounds % Runouts(node).size()];
                std::vector<double> all(2 * kComboCount, 0.0);
                ASSERT_EQ(libsubgame_get_node_strategy(node, at.turn, at.river, all.data()), 2);
                if (Street(node) == 3) {
                    const std::vector<double>& range =
                        g_solvedTree->ranges[g_solvedTree->nodes[node].player];
                    for (int c = 0; c < kComboCount; ++c)
                        if (range[c] != 0.0 && (ComboMask(c) & Dead(at)) == 0) {
                            ASSERT_NEAR(all[c] + all[kComboCount + c], 1.0, 1e-5) << node;
                        }
                }
                std::vector<double> locked(kComboCount, 0.0);
                ASSERT_EQ(libsubgame_get_locked_combos(node, at.turn, at.river, locked.data()),
                          kEditDone);
                switch (rounds % 4) {
                    case 0:
                        ASSERT_EQ(libsubgame_set_strategy(node, 0, at.turn, at.river, half.data()),
                                  kEditDone);
                        ASSERT_EQ(libsubgame_set_strategy(node, 1, at.turn, at.river, half.data()),
                                  kEditDone);
                        break;
                    case 1:
                        ASSERT_EQ(libsubgame_set_node_lock(node, at.turn, at.river, 1), kEditDone);
                        break;
                    case 2:
                        ASSERT_EQ(libsubgame_combo_lock_node(node, at.turn, at.river, mask.data()),
                                  kEditDone);
                        break;
                    default:
                        ASSERT_EQ(libsubgame_set_node_lock(node, at.turn, at.river, 0), kEditDone);
                        ASSERT_EQ(libsubgame_set_ev_boost(g_solvedTree->nodes[node].children[0],
                                                          0.25f * static_cast<float>(rounds % 3)),
                                  kEditDone);
                }
            }
        }
        libsubgame_wait_solver();
        testing::internal::GetCapturedStdout();
        EXPECT_GE(rounds, 2);
    }
}

TEST_F(StrategyQueryTest, LongDistributionsOnEveryStreet) {
    Build("Ks7h2d", Sparse(3, 0.04), Sparse(4, 0.04));
    Iterate(30);
    ExpectDistributions();
    Build("Qc8h3h", Sparse(5, 0.04), Sparse(6, 0.04), 0, 1, {0, 0}, Card("Ad"));
    Iterate(200);
    ExpectDistributions();
}

// Up to iteration 62 the regrets' strategy is shown, from 63 the normalised sums; a node without
// sums always shows the regrets' strategy.
TEST_F(StrategyQueryTest, AverageFromIteration63) {
    const int turn = Card("9c");
    auto expect = [&](bool average) {
        const TreeNode* node = &g_solvedTree->nodes[1];
        std::vector<PooledArray> rows =
            average ? AverageStrategy(node, 0, -1) : CurrentStrategyUniformDefault(node, 0, -1);
        const std::vector<double> shown = Query(1, 0, {turn, -1});
        const std::vector<double>& range = g_solvedTree->ranges[1];
        const uint16_t* index = g_solvedTree->hands->records[0].index;
        for (int c = 0; c < kComboCount; ++c) {
            const int16_t k = static_cast<int16_t>(index[c]);
            if (k < 0 || range[c] == 0.0) continue;
            EXPECT_FLOAT_EQ(shown[c], rows[0].data[k]) << c;
        }
        ReleaseRows(rows);
    };
    Build("Ks7h2d", Sparse(7, 0.1), Sparse(8, 0.1), 0, 1, {0, 0}, turn);
    // Delayed averaging weighs iterations after the 60th only: start just before.
    g_solvedTree->iteration = 58;
    Iterate(62);
    expect(false);
    Iterate(63);
    expect(true);
    // The two rules give different numbers by now, so the switch is seen.
    std::vector<PooledArray> cur = CurrentStrategyUniformDefault(&g_solvedTree->nodes[1], 0, -1);
    const std::vector<double> at63 = Query(1, 0, {turn, -1});
    const uint16_t* index = g_solvedTree->hands->records[0].index;
    bool differs = false;
    for (int c = 0; c < kComboCount; ++c) {
        const int16_t k = static_cast<int16_t>(index[c]);
        if (k >= 0 && g_solvedTree->ranges[1][c] != 0.0 &&
            std::fabs(at63[c] - cur[0].data[k]) > 1e-4)
            differs = true;
    }
    ReleaseRows(cur);
    EXPECT_TRUE(differs);

    // Without averaging there are no sums: the regrets' strategy at any iteration.
    Build("Ks7h2d", Sparse(7, 0.1), Sparse(8, 0.1), 0, 0, {0, 0}, turn);
    EXPECT_EQ(g_solvedTree->nodes[1].strategySums, nullptr);
    g_solvedTree->iteration = 62;
    Iterate(64);
    expect(false);
}

// The delayed-averaging rule: the iteration run at count 61 is the first to add to the strategy
// sums (weight (61 - 60)^p = 1), and evaluations read the average from that count on, so the
// two rules never disagree; displays follow at 63 (AverageFromIteration63).
TEST_F(StrategyQueryTest, SumsAndEvaluationStartAfterSixtyIterations) {
    const int turn = Card("9c");
    Build("Ks7h2d", Sparse(7, 0.1), Sparse(8, 0.1), 0, 1, {0, 0}, turn);
    const TreeNode* node = &g_solvedTree->nodes[1];
    auto same = [](std::vector<PooledArray> a, std::vector<PooledArray> b) {
        bool equal = a.size() == b.size();
        for (size_t i = 0; equal && i < a.size(); ++i)
            for (int32_t k = 0; equal && k < a[i].count; ++k) equal = a[i].data[k] == b[i].data[k];
        ReleaseRows(a);
        ReleaseRows(b);
        return equal;
    };
    struct Step {
        int count;
        bool sums;         // sums hold an iteration by this count
        bool evalAverage;  // evaluations read the average (else the current strategy)
    };
    g_solvedTree->iteration = 58;
    for (Step s : {Step{59, false, false}, Step{60, false, false}, Step{61, false, true},
                   Step{62, true, true}, Step{64, true, true}}) {
        Iterate(s.count);
        const bool hasSums =
            !same(AverageStrategy(node, 0, -1), CurrentStrategyUniformDefault(node, 0, -1));
        EXPECT_EQ(hasSums, s.sums) << s.count;
        const bool readsAverage =
            same(EvaluationStrategy(g_solvedTree, node, 0, -1), AverageStrategy(node, 0, -1));
        const bool readsCurrent = same(EvaluationStrategy(g_solvedTree, node, 0, -1),
                                       CurrentStrategyUniformDefault(node, 0, -1));
        EXPECT_EQ(readsAverage, s.evalAverage || !s.sums) << s.count;
        EXPECT_EQ(readsCurrent, !s.evalAverage || !s.sums) << s.count;
    }
}

TEST_F(StrategyQueryTest, IsomorphicTurnCardsShareStrategyAndLocks) {
    const std::vector<double> range = ClubDiamondSymmetric(0.15);
    Build("Ks7s2h", range, range, 1);
    ASSERT_NE(g_solvedTree->flags & kTreeIsomorphism, 0u);
    Iterate(3);
    const int c9 = Card("9c");
    const int d9 = Card("9d");
    for (int node : {2, 3}) {
        const std::vector<double> viaClub = Query(node, 0, {c9, -1});
        const std::vector<double> viaDiamond = Query(node, 0, {d9, -1});
        for (int c = 0; c < kComboCount; ++c) {
            const double a = viaClub[c];
            const double b = viaDiamond[SwapClubsDiamonds(c)];
            EXPECT_TRUE((std::isnan(a) && std::isnan(b)) || a == b) << node << " " << c;
        }
    }
    // A lock through one card is the lock of the canonical runout.
    ASSERT_EQ(libsubgame_set_node_lock(2, d9, -1, 1), kEditDone);
    std::string text;
    libsubgame_node_flags_text(&text, 2, c9, -1);
    EXPECT_EQ(text, "LOCKED");
    libsubgame_node_flags_text(&text, 2, Card("9h"), -1);
    EXPECT_EQ(text, "");
    libsubgame_node_flags_text(&text, 2, Card("9s"), -1);
    EXPECT_EQ(text, "");
    // A river lock through (9d, Tc) is the lock of (9c, Td).
    ASSERT_EQ(libsubgame_set_node_lock(5, d9, Card("Tc"), 1), kEditDone);
    libsubgame_node_flags_text(&text, 5, c9, Card("Td"));
    EXPECT_EQ(text, "LOCKED");
    libsubgame_node_flags_text(&text, 5, c9, Card("Tc"));
    EXPECT_EQ(text, "");
    // An edit through 9d, with values given in its real suits, shows through 9c under the
    // suit-swapped combinations; the river node behind 9h keeps its strategy.
    std::vector<double> v0(kComboCount), v1(kComboCount);
    for (int c = 0; c < kComboCount; ++c) {
        v0[c] = (c % 5) / 4.0;
        v1[c] = 1.0 - v0[c];
    }
    const std::vector<double> before = Query(3, 0, {Card("9h"), -1});
    ASSERT_EQ(libsubgame_set_strategy(3, 0, d9, -1, v0.data()), kEditDone);
    ASSERT_EQ(libsubgame_set_strategy(3, 1, d9, -1, v1.data()), kEditDone);
    const std::vector<double> viaClub = Query(3, 0, {c9, -1});
    const std::vector<double>& ip = g_solvedTree->ranges[1];
    int checked = 0;
    for (int c = 0; c < kComboCount; ++c) {
        const int swapped = SwapClubsDiamonds(c);
        if (ip[c] == 0.0 || (ComboMask(c) & (flop_ | CardBit(c9))) != 0) continue;
        EXPECT_NEAR(viaClub[c], v0[swapped], 1e-6) << c;
        ++checked;
    }
    EXPECT_GT(checked, 0);
    const std::vector<double> after = Query(3, 0, {Card("9h"), -1});
    for (int c = 0; c < kComboCount; ++c)
        EXPECT_TRUE((std::isnan(before[c]) && std::isnan(after[c])) || before[c] == after[c]);
}

TEST_F(StrategyQueryTest, LockStates) {
    Build("Ks7h2d", Sparse(9, 0.3), Sparse(10, 0.3));
    for (int node : {0, 3, 5}) {
        const Runout at = Runouts(node)[0];
        std::string text;
        auto flags = [&] {
            libsubgame_node_flags_text(&text, node, at.turn, at.river);
            return text;
        };
        EXPECT_EQ(flags(), "");
        // Every other combination locked; NaN locks.
        std::vector<double> values(kComboCount, 0.0);
        for (int c = 0; c < kComboCount; c += 2) values[c] = c % 4 == 0 ? 1.0 : NAN;
        ASSERT_EQ(libsubgame_combo_lock_node(node, at.turn, at.river, values.data()), kEditDone);
        EXPECT_EQ(flags(), "COMBO_LOCKED");
        std::vector<double> locked(kComboCount, 0.0);
        ASSERT_EQ(libsubgame_get_locked_combos(node, at.turn, at.river, locked.data()), kEditDone);
        const TreeNode& n = g_solvedTree->nodes[node];
        for (int c = 0; c < kComboCount; ++c) {
            if ((ComboMask(c) & Dead(at)) != 0) {
                EXPECT_TRUE(std::isnan(locked[c])) << c;
            } else if (g_solvedTree->ranges[0][c] != 0.0 || g_solvedTree->ranges[1][c] != 0.0) {
                EXPECT_EQ(locked[c], c % 2 == 0 ? 1.0 : 0.0) << c;
            }
        }
        // Both storages carry the same record.
        int32_t turn, river;
        MapRunoutCards(g_solvedTree, at.turn, at.river, &turn, &river);
        for (StorageInterface* s : {n.regrets, n.strategySums}) {
            ASSERT_NE(s, nullptr);
            const LockRecord* r = s->flagsPtr(turn, river);
            EXPECT_EQ(r->flags, kLockCombosFlag);
            ASSERT_NE(r->mask, nullptr);
            EXPECT_EQ(r->maskLength, s->numHands(turn, river));
        }
        ASSERT_EQ(libsubgame_set_node_lock(node, at.turn, at.river, 1), kEditDone);
        EXPECT_EQ(flags(), "LOCKED");
        for (StorageInterface* s : {n.regrets, n.strategySums}) {
            EXPECT_EQ(s->flagsPtr(turn, river)->mask, nullptr);
            EXPECT_EQ(s->flagsPtr(turn, river)->flags, kLockNodeFlag);
        }
        ASSERT_EQ(libsubgame_set_node_lock(node, at.turn, at.river, 0), kEditDone);
        EXPECT_EQ(flags(), "");
        // All zeros: combination-locked with every hand free.
        const std::vector<double> zeros(kComboCount, 0.0);
        ASSERT_EQ(libsubgame_combo_lock_node(node, at.turn, at.river, zeros.data()), kEditDone);
        EXPECT_EQ(flags(), "COMBO_LOCKED");
        std::vector<double> free(kComboCount, 5.0);
        ASSERT_EQ(libsubgame_get_locked_combos(node, at.turn, at.river, free.data()), kEditDone);
        for (int c = 0; c < kComboCount; ++c) {
            const bool listed =
                (ComboMask(c) & Dead(at)) == 0 &&
                (g_solvedTree->ranges[0][c] != 0.0 || g_solvedTree->ranges[1][c] != 0.0);
            if (listed)
                EXPECT_EQ(free[c], 0.0);
            else
                EXPECT_TRUE(std::isnan(free[c]));
        }
    }
}

// Sets 0.25 / 0.75 (and -1 / 0.5, read as 0 / 1) on both actions of every decision node and
// reads them back, at every river storage kind, before and after iteration 62.
TEST_F(StrategyQueryTest, SetStrategyRoundTrips) {
    const std::array<int32_t, 2> kinds[] = {{0, 0}, {0, 1}, {1, 1}, {1, 2}, {2, 2}};
    for (const auto& k : kinds) {
        // Weight-1 averaging keeps sums from the first iteration on.
        Build("Ks7h2d", Sparse(11, 0.05), Sparse(12, 0.05), 0, 2, k);
        Iterate(2);
        for (int shown : {2, 70}) {
            g_solvedTree->iteration = shown;  // 70: the averages are shown
            for (int node = 0; node < kDecisionNodes; ++node) {
                const Runout at = Runouts(node).back();
                const double sets[2][2] = {{0.25, 0.75}, {-1.0, 0.5}};
                for (const auto& set : sets) {
                    for (int a = 0; a < 2; ++a) {
                        const std::vector<double> v(kComboCount, set[a]);
                        ASSERT_EQ(libsubgame_set_strategy(node, a, at.turn, at.river, v.data()),
                                  kEditDone);
                    }
                    const double want0 = set[0] < 0 ? 0.0 : 0.25;
                    const std::vector<double> p0 = Query(node, 0, at);
                    const std::vector<double>& range =
                        g_solvedTree->ranges[g_solvedTree->nodes[node].player];
                    for (int c = 0; c < kComboCount; ++c)
                        if (range[c] != 0.0 && (ComboMask(c) & Dead(at)) == 0) {
                            ASSERT_NEAR(p0[c], want0, 1e-6)
                                << "kinds " << k[0] << k[1] << " node " << node << " it " << shown;
                        }
                }
            }
        }
    }
}

// Flop-rooted river regrets at level 0 are 16-bit: 1000 x 70 would saturate at 65535 and give
// another strategy than the weights' ratio, so it is refused and nothing changes; 65.535, the
// largest weight they keep, still gives the exact ratio.
TEST_F(StrategyQueryTest, SixteenBitRegretsRefuseWeightsTheyCannotKeep) {
    Build("Ks7h2d", Sparse(17, 0.05), Sparse(18, 0.05));
    const Runout at = Runouts(4).front();
    const std::vector<double> big(kComboCount, 70.0), edge(kComboCount, 65.535),
        one(kComboCount, 1.0);
    ASSERT_EQ(libsubgame_set_strategy(4, 1, at.turn, at.river, one.data()), kEditDone);
    // One weight too many refuses the edit, wherever it stands.
    std::vector<double> first(kComboCount, 0.0), last(kComboCount, 0.0);
    first.front() = last.back() = 65.5351;
    for (const std::vector<double>& refused : {big, first, last})
        ASSERT_EQ(libsubgame_set_strategy(4, 0, at.turn, at.river, refused.data()), kEditTooLarge);
    const std::vector<double> before = Query(4, 0, at);
    ASSERT_EQ(libsubgame_set_strategy(4, 0, at.turn, at.river, edge.data()), kEditDone);
    const std::vector<double> p = Query(4, 0, at);
    int checked = 0;
    for (int c = 0; c < kComboCount; ++c) {
        if (g_solvedTree->ranges[0][c] == 0.0 || (ComboMask(c) & Dead(at)) != 0) continue;
        EXPECT_NEAR(before[c], 0.0, 1e-9) << "the refused edits left action 1 alone set";
        EXPECT_NEAR(p[c], 65535.0 / 66535.0, 2e-6) << c;
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

// 16-bit rows keep whole thousandths: probabilities given to three decimals show exactly, also
// those whose float product with 1000 falls just short of the whole number (0.251, 0.253, ...).
TEST_F(StrategyQueryTest, SixteenBitRegretsKeepThousandths) {
    Build("Ks7h2d", Sparse(21, 0.05), Sparse(22, 0.05));
    const Runout at = Runouts(4).front();
    const std::vector<double>& range = g_solvedTree->ranges[g_solvedTree->nodes[4].player];
    for (const double w : {0.251, 0.253, 0.502, 0.511, 0.25}) {
        const std::vector<double> first(kComboCount, w), second(kComboCount, 1.0 - w);
        ASSERT_EQ(libsubgame_set_strategy(4, 0, at.turn, at.river, first.data()), kEditDone);
        ASSERT_EQ(libsubgame_set_strategy(4, 1, at.turn, at.river, second.data()), kEditDone);
        const std::vector<double> p = Query(4, 0, at);
        int checked = 0;
        for (int c = 0; c < kComboCount; ++c) {
            if (range[c] == 0.0 || (ComboMask(c) & Dead(at)) != 0) continue;
            ASSERT_NEAR(p[c], w, 1e-6) << w << " " << c;
            ++checked;
        }
        EXPECT_GT(checked, 0);
    }
}

// A weight too large for float regrets (1000 x value, summed over the actions) is refused
// instead of overflowing to an infinite regret and NaN probabilities; 1e30 is still kept.
TEST_F(StrategyQueryTest, HugeStrategyWeightsAreRefusedOnFloatRegrets) {
    Build("Ks7h2d", Sparse(19, 0.05), Sparse(20, 0.05));
    const std::vector<double> huge(kComboCount, 1e300), large(kComboCount, 1e30),
        one(kComboCount, 1.0);
    for (int node : {1, 3}) {
        const Runout at = Runouts(node).front();
        ASSERT_EQ(libsubgame_set_strategy(node, 0, at.turn, at.river, huge.data()), kEditTooLarge);
        ASSERT_EQ(libsubgame_set_strategy(node, 0, at.turn, at.river, large.data()), kEditDone);
        ASSERT_EQ(libsubgame_set_strategy(node, 1, at.turn, at.river, large.data()), kEditDone);
        std::vector<double> p = Query(node, 0, at);
        const std::vector<double>& range = g_solvedTree->ranges[1];
        for (int c = 0; c < kComboCount; ++c)
            if (range[c] != 0.0 && (ComboMask(c) & Dead(at)) == 0) {
                ASSERT_NEAR(p[c], 0.5, 1e-6) << node << " " << c;
            }
        ASSERT_EQ(libsubgame_set_strategy(node, 1, at.turn, at.river, one.data()), kEditDone);
        p = Query(node, 0, at);
        for (int c = 0; c < kComboCount; ++c)
            if (range[c] != 0.0 && (ComboMask(c) & Dead(at)) == 0) {
                ASSERT_NEAR(p[c], 1.0, 1e-6) << node << " " << c;
            }
    }
}

// Without averaging in effect only the regrets change; with it the action's sums are zeroed.
TEST_F(StrategyQueryTest, SetStrategyTouchesSumsOnlyWhenAveraging) {
    Build("Ks7h2d", Sparse(13, 0.06), Sparse(14, 0.06));
    g_solvedTree->iteration = 61;
    Iterate(64);
    TreeNode* node = &g_solvedTree->nodes[1];
    auto sums = [&] {
        std::vector<float> d(2, 0.0f);
        std::vector<PooledArray> rows(2);
        node->strategySums->getStrategy(rows.data(), -1, -1, d.data());
        std::vector<float> out(rows[0].data, rows[0].data + rows[0].count);
        ReleaseRows(rows);
        return out;
    };
    const std::vector<float> before = sums();
    const std::vector<double> half(kComboCount, 0.5);
    g_solvedTree->iteration = 30;  // delayed averaging not yet in effect
    ASSERT_EQ(libsubgame_set_strategy(1, 0, -1, -1, half.data()), kEditDone);
    EXPECT_EQ(sums(), before);
    g_solvedTree->iteration = 70;
    ASSERT_EQ(libsubgame_set_strategy(1, 0, -1, -1, half.data()), kEditDone);
    for (float x : sums()) EXPECT_EQ(x, 0.0f);
}

TEST_F(StrategyQueryTest, RefusedArgumentsChangeNothing) {
    Build("Ks7h2d", Sparse(15, 0.2), Sparse(16, 0.2));
    const int t = Card("9c");
    const int r = Card("Tc");
    struct Bad {
        int node, action, turn, river;
    };
    const Bad bad[] = {
        {2, 0, -1, -1},                          // turn node without its turn
        {4, 0, t, -1},                           // river node without its river
        {4, 0, -1, r},                           // a river without a turn
        {0, 0, t, -1},                           // a flop node with a turn card
        {2, 0, Card("Ks"), -1},                  // a board card
        {0, 2, -1, -1},                          // action out of range
        {0, -1, -1, -1},        {6, 0, -1, -1},  // a leaf
        {13, 0, -1, -1},                         // out of range
        {-1, 0, -1, -1},
    };
    const std::vector<double> values(kComboCount, 1.0);
    for (const Bad& b : bad) {
        const std::vector<double> out = Query(b.node, b.action, {b.turn, b.river}, 7.0);
        EXPECT_EQ(out, std::vector<double>(kComboCount, 7.0)) << b.node;
        EXPECT_EQ(libsubgame_set_strategy(b.node, b.action, b.turn, b.river, values.data()),
                  kEditRefused);
        if (b.action == 0) {
            EXPECT_EQ(libsubgame_set_node_lock(b.node, b.turn, b.river, 1), kEditRefused);
            EXPECT_EQ(libsubgame_combo_lock_node(b.node, b.turn, b.river, values.data()),
                      kEditRefused);
            std::vector<double> locked(kComboCount, 7.0);
            EXPECT_EQ(libsubgame_get_locked_combos(b.node, b.turn, b.river, locked.data()),
                      kEditRefused);
            EXPECT_EQ(locked, std::vector<double>(kComboCount, 7.0));
        }
    }
    // Nothing was locked or changed anywhere.
    for (int node = 0; node < kDecisionNodes; ++node)
        for (Runout at : Runouts(node)) {
            std::string text;
            libsubgame_node_flags_text(&text, node, at.turn, at.river);
            EXPECT_EQ(text, "");
            EXPECT_EQ(Query(node, 0, at)[ComboIndex(CardBit(Card("Ac")) | CardBit(Card("Ad")))],
                      g_solvedTree->ranges[g_solvedTree->nodes[node].player][ComboIndex(
                          CardBit(Card("Ac")) | CardBit(Card("Ad")))] == 0.0
                          ? 0.0
                          : 0.5);
        }
    EXPECT_EQ(libsubgame_set_ev_boost(13, 0.5f), kEditRefused);
    EXPECT_EQ(libsubgame_set_ev_boost(6, NAN), kEditRefused);
    EXPECT_EQ(libsubgame_set_ev_boost(6, 0.5f), kEditDone);
    EXPECT_EQ(g_solvedTree->nodes[6].evBoost, 0.5f);
    libsubgame_free_scenario();
    EXPECT_EQ(libsubgame_set_ev_boost(6, 0.5f), kEditRefused);
    EXPECT_EQ(libsubgame_set_node_lock(0, -1, -1, 1), kEditRefused);
}

}  // namespace
