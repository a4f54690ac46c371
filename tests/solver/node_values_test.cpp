// Expected values and line frequencies on small solved trees: the EV identities between a node,
// its children and the stored results, an O(n^2) reference on a river game, a river equilibrium
// derived in closed form, frequency sums over children and cards, thread-count determinism, and
// arguments that must change nothing.
#include "solver/node_values.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "cards/hand_evaluator.h"
#include "utilities/kernel_switches.h"
#include "solver/iterations.h"
#include "solver/line_frequency.h"
#include "solver/solved_tree.h"
#include "solver/solver_defaults.h"
#include "solver/solver_settings.h"
#include "solver/strategy_queries.h"
#include "solver_test_games.h"

namespace {

using namespace testgames;
using Values = std::vector<double>;

int Card(const char* text) {
    return LowestCard(Cards(text));
}

// Decision nodes on every street for both players (two actions each); see the street shift.
std::vector<TreeLine> AllStreetLines(int rootStreet) {
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

// Weights alike for clubs and diamonds (a flop of hearts and spades keeps them isomorphic).
Values ClubDiamondRange(uint32_t seed) {
    Values r(kComboCount, 0.0);
    for (int i = 0; i < kComboCount; ++i) {
        const CardPair p = ComboCards(i);
        auto cls = [](int c) { return CardRank(c) * 3 + std::max(CardSuit(c) - 1, 0); };
        const int a = std::min(cls(CardPairLo(p)), cls(CardPairHi(p)));
        const int b = std::max(cls(CardPairLo(p)), cls(CardPairHi(p)));
        const bool suited = CardSuit(CardPairLo(p)) == CardSuit(CardPairHi(p));
        const uint32_t key =
            (static_cast<uint32_t>(a * 97 + b * 13 + suited * 7) + seed) * 2654435761u;
        if ((key >> 8) % 100 < 12) r[i] = 0.3 + ((key >> 4) % 7) * 0.1;
    }
    return r;
}

struct Query {
    Values ev, weight;
};

Query Ev(int player, int node, int turn, int river) {
    Query q{Values(kComboCount, 0.0), Values(kComboCount, 0.0)};
    libsubgame_calc_combo_ev(player, node, turn, river, q.ev.data(), q.weight.data(), 0);
    return q;
}

Values LineFreq(int player, int node, int turn, int river) {
    Values out(kComboCount, 0.0);
    libsubgame_calc_line_freq(player, node, turn, river, out.data());
    return out;
}

double Sum(const Values& v) {
    double s = 0;
    for (double x : v)
        if (!std::isnan(x)) s += x;
    return s;
}

double Weighted(const Query& q) {
    double num = 0, den = 0;
    for (int c = 0; c < kComboCount; ++c)
        if (!std::isnan(q.ev[c]) && !std::isnan(q.weight[c])) {
            num += q.ev[c] * q.weight[c];
            den += q.weight[c];
        }
    return num / den;
}

struct Runout {
    int turn, river;
};

// The runouts a node is asked about: every card of its street, and for the first node of a
// street also its chance view (that street's card missing).
std::vector<Runout> RunoutsOf(const SolvedTree* tree, int node, const std::vector<int>& turns,
                              const std::vector<int>& rivers) {
    const TreeNode& n = tree->nodes[node];
    const int street = std::max(n.street, 1);
    int least = street;
    if (n.parentNode && n.parentNode->street < street)
        least = std::max(n.parentNode->street, tree->rootStreet());
    std::vector<Runout> out;
    for (int dealt = least; dealt <= street; ++dealt) {
        if (dealt == 1) out.push_back({-1, -1});
        for (int t : turns) {
            if (dealt == 2) out.push_back({t, -1});
            if (dealt == 3)
                for (int r : rivers)
                    if (r != t) out.push_back({t, r});
        }
    }
    return out;
}

struct Case {
    const char* name;
    int rootStreet;
    bool isomorphism;
    int level;         // river storage level 0..2
    bool riverSums;    // river_strategy_enabled when the tree is built
    bool pastAverage;  // evaluated past iteration 62 (averages) rather than before 61
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class NodeValues : public ::testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite() { InitHandEvalTables(); }
    void SetUp() override {
        threadsBefore_ = libsubgame_get_thread_count();
        libsubgame_set_thread_count(2);
        riverBefore_ = river_strategy_enabled.load();
    }
    void TearDown() override {
        libsubgame_free_scenario();
        libsubgame_set_thread_count(threadsBefore_);
        river_strategy_enabled.store(riverBefore_);
    }

    // Builds the case's tree on a flop of hearts and spades and solves it a little; past the
    // averaging delay the count jumps to 61 so the sums start without 60 costly iterations.
    void BuildAndSolve(const Case& c) {
        river_strategy_enabled.store(c.riverSums ? 1 : 0);
        static const int32_t kKinds[3][2] = {{0, 0}, {0, 1}, {1, 1}};
        const CardMask flop = Cards("Ah 8s 3h");
        turn_ = c.rootStreet >= 2 ? Card("Kd") : -1;
        const int river = c.rootStreet >= 3 ? Card("5c") : -1;
        ASSERT_TRUE(BuildTree(flop, turn_, river, AllStreetLines(c.rootStreet), ClubDiamondRange(1),
                              ClubDiamondRange(2), c.isomorphism, kKinds[c.level]));
        RunIteration(g_solvedTree);
        RunIteration(g_solvedTree);
        if (c.pastAverage) {
            g_solvedTree->iteration = 61;
            while (g_solvedTree->iteration < 64) RunIteration(g_solvedTree);
        }
        turns_ = turn_ >= 0 ? std::vector<int>{turn_} : std::vector<int>{Card("Kc"), Card("2s")};
        rivers_ = river >= 0 ? std::vector<int>{river} : std::vector<int>{Card("Td"), Card("3s")};
    }

    int turn_ = -1;
    std::vector<int> turns_, rivers_;
    int32_t threadsBefore_ = 1;
    uint8_t riverBefore_ = 1;
};

// Value identities that hold for any strategy profile: the root's weighted EV is the stored
// result; the two players' weighted EVs cancel; both weight sums are the node's line mass; the
// acting player's EV mixes its children's by its strategy; the other player's EV times weight
// adds up over the children.
TEST_P(NodeValues, IdentitiesHoldAtEveryNodeAndRunout) {
    const Case c = GetParam();
    BuildAndSolve(c);
    SolvedTree* tree = g_solvedTree;
    const double pot = 100, tol = 1e-4 * pot;

    const int rootRiver = c.rootStreet == 3 ? Card("5c") : -1;
    for (int p = 0; p < 2; ++p) {
        const double value = Weighted(Ev(p, 0, turn_, rootRiver));
        EXPECT_NEAR(value, tree->bestResponse[p][1], 1e-4 * std::max(1.0, std::fabs(value)))
            << "player " << p;
    }

    for (int node = 0; node < static_cast<int>(tree->nodes.size()); ++node) {
        const TreeNode& n = tree->nodes[node];
        for (Runout at : RunoutsOf(tree, node, turns_, rivers_)) {
            SCOPED_TRACE(::testing::Message()
                         << "node " << node << " turn " << at.turn << " river " << at.river);
            const Query q[2] = {Ev(0, node, at.turn, at.river), Ev(1, node, at.turn, at.river)};
            const double mass = Sum(LineFreq(0, node, at.turn, at.river));
            EXPECT_NEAR(Sum(q[0].weight), mass, 1e-6 * mass + 1e-9);
            EXPECT_NEAR(Sum(q[1].weight), mass, 1e-6 * mass + 1e-9);
            if (mass > 1e-3) EXPECT_NEAR(Weighted(q[0]) + Weighted(q[1]), 0.0, tol);

            const int dealt = at.river >= 0 ? 3 : at.turn >= 0 ? 2 : 1;
            if (n.kind != 0 || dealt != n.street) continue;
            const int actions = static_cast<int>(n.children.size());
            Values strategy(static_cast<size_t>(actions) * kComboCount);
            ASSERT_EQ(libsubgame_get_node_strategy(node, at.turn, at.river, strategy.data()),
                      actions);
            std::vector<Query> child[2];
            for (int a = 0; a < actions; ++a)
                for (int p = 0; p < 2; ++p)
                    child[p].push_back(Ev(p, n.children[a], at.turn, at.river));
            const int q0 = n.player, o = 1 - n.player;
            for (int combo = 0; combo < kComboCount; ++combo) {
                if (!std::isnan(q[q0].ev[combo]) && q[q0].weight[combo] > 0) {
                    double mixed = 0;
                    for (int a = 0; a < actions; ++a)
                        mixed += strategy[a * kComboCount + combo] * child[q0][a].ev[combo];
                    ASSERT_NEAR(q[q0].ev[combo], mixed, tol) << "acting, combo " << combo;
                }
                if (!std::isnan(q[o].ev[combo])) {
                    double sum = 0;
                    for (int a = 0; a < actions; ++a)
                        if (child[o][a].weight[combo] > 0)
                            sum += child[o][a].ev[combo] * child[o][a].weight[combo];
                    const double own = q[o].ev[combo] * q[o].weight[combo];
                    ASSERT_NEAR(own, sum, tol * std::max(1.0, q[o].weight[combo]))
                        << "other, combo " << combo;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Trees, NodeValues,
    ::testing::Values(Case{"FlopEarly", 1, false, 0, true, false},
                      Case{"FlopAveragesIsoLevel1", 1, true, 1, true, true},
                      Case{"FlopAveragesNoRiverSumsLevel2", 1, false, 2, false, true},
                      Case{"TurnAveragesLevel2", 2, false, 2, true, true},
                      Case{"TurnEarlyIsoLevel1", 2, true, 1, true, false},
                      Case{"RiverAverages", 3, false, 0, true, true}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
