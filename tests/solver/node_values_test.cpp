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
#include "solver/forgotten_streets.h"
#include "solver/iterations.h"
#include "solver/line_frequency.h"
#include "solver/solved_tree.h"
#include "solver/solver_defaults.h"
#include "solver/solver_settings.h"
#include "solver/strategy_queries.h"
#include "solver_test_games.h"
#include "utilities/kernel_switches.h"

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
    int level;         // river storage level 0..4
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
        static const int32_t kKinds[5][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 2}, {2, 2}};
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
            if (mass > 1e-3) {
                EXPECT_NEAR(Weighted(q[0]) + Weighted(q[1]), 0.0, tol);
            }

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
                      Case{"FlopAveragesLevel3", 1, false, 3, true, true},
                      Case{"FlopAveragesIsoLevel4", 1, true, 4, true, true},
                      Case{"TurnAveragesLevel2", 2, false, 2, true, true},
                      Case{"TurnEarlyIsoLevel1", 2, true, 1, true, false},
                      Case{"RiverAverages", 3, false, 0, true, true}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

void AddClass(Values& range, CardMask board, int rankA, int rankB) {
    for (int s1 = 0; s1 < 4; ++s1)
        for (int s2 = 0; s2 < 4; ++s2) {
            const int a = MakeCard(rankA, s1), b = MakeCard(rankB, s2);
            if (a == b || (board & (CardBit(a) | CardBit(b)))) continue;
            range[ComboIndex(std::min(a, b), std::max(a, b))] = 1.0;
        }
}

// Each player's value of one pair of combinations at a node of a river tree, from the solver's
// displayed strategies: plain recursion over the lines, showdowns by the evaluator.
struct PairReference {
    const SolvedTree* tree;
    CardMask board;
    std::vector<Values> strategy;  // per node: actions x 1326

    double Value(int node, int p, int hp, int ho) const {
        const TreeNode& n = tree->nodes[node];
        if (n.kind == 2) return n.player == p ? -n.amount : n.amount;
        if (n.kind == 1) {
            const HandValue vp = EvalCardMask(board | ComboMask(hp));
            const HandValue vo = EvalCardMask(board | ComboMask(ho));
            return vp > vo ? n.amount : vp < vo ? -n.amount : 0.0;
        }
        const int hand = n.player == p ? hp : ho;
        double v = 0;
        for (size_t a = 0; a < n.children.size(); ++a)
            v += strategy[node][a * kComboCount + hand] * Value(n.children[a], p, hp, ho);
        return v;
    }
    // The player's range times its own actions' probabilities down to the node.
    Values Reach(int node, int player) const {
        Values r = tree->ranges[player];
        for (const TreeNode* at = &tree->nodes[node]; at->parentNode; at = at->parentNode) {
            const TreeNode* up = at->parentNode;
            if (up->player != player) continue;
            const int index = static_cast<int>(at - tree->nodes.data());
            const size_t a =
                std::find(up->children.begin(), up->children.end(), index) - up->children.begin();
            const int upIndex = static_cast<int>(up - tree->nodes.data());
            for (int c = 0; c < kComboCount; ++c) r[c] *= strategy[upIndex][a * kComboCount + c];
        }
        return r;
    }
};

struct RiverCase {
    const char* name;
    int iterations;
    bool polarised;  // the closed-form game, else random ranges on a two-raise tree
};

void PrintTo(const RiverCase& c, std::ostream* os) {
    *os << c.name;
}

class RiverValues : public ::testing::TestWithParam<RiverCase> {
protected:
    static void SetUpTestSuite() { InitHandEvalTables(); }
    void TearDown() override { libsubgame_free_scenario(); }
};

// Every EV and weight of both players at every node equals the pair-by-pair reference from the
// solver's own strategies. On the polarised game the EV of each hand class is also near the
// closed-form equilibrium. Pot 100, OOP bets 50 or checks, IP calls or folds a bet and checks
// behind; OOP holds AA (beats all) and 65 (loses to all), IP only JJ; no class shares a card.
// Indifference gives: IP calls c = P / (P + B) = 2/3; OOP bets its 6 AA and 2 of its 16 65s.
// So AA wins c x 100 + (1 - c) x 50 = 83.33; 65 is indifferent to checking and losing the
// 50 it was dealt in (-50); JJ meets 8 betting combinations (worth folding, -50) and 14
// checking ones it beats (+50): (8 x -50 + 14 x 50) / 22 = 13.64.
TEST_P(RiverValues, MatchThePairReferenceAndTheClosedForm) {
    const RiverCase c = GetParam();
    const CardMask board = Cards("Kh Qd 7c 4s 2h");
    Values r0(kComboCount, 0.0), r1(kComboCount, 0.0);
    std::vector<TreeLine> lines;
    if (c.polarised) {
        lines = {{0, -1, 0, 3, 0.0}, {0, 0, 1, 3, 0.0}, {1, 1, -1, -1, 100},
                 {2, 1, -1, -1, 50}, {0, 0, 1, 3, 0.0}, {1, 4, -1, -1, 50}};
        AddClass(r0, board, 12, 12);
        AddClass(r0, board, 4, 3);
        AddClass(r1, board, 9, 9);
    } else {
        LineBuilder b;
        b.stack = 400;
        b.raisesPerStreet = 2;
        lines = b.Build(3);
        r0 = RandomRange(board, 14, 5);
        r1 = RandomRange(board, 14, 6);
    }
    ASSERT_TRUE(BuildTree(Cards("Kh Qd 7c"), Card("4s"), Card("2h"), lines, r0, r1));
    SolvedTree* tree = g_solvedTree;
    while (tree->iteration < c.iterations) RunIteration(tree);

    PairReference ref{tree, board, {}};
    for (size_t node = 0; node < tree->nodes.size(); ++node) {
        const TreeNode& n = tree->nodes[node];
        ref.strategy.emplace_back(n.children.size() * kComboCount, 0.0);
        if (n.kind == 0)
            libsubgame_get_node_strategy(static_cast<int>(node), Card("4s"), Card("2h"),
                                         ref.strategy.back().data());
    }
    const double tol = 1e-5 * 100;
    for (int node = 0; node < static_cast<int>(tree->nodes.size()); ++node)
        for (int p = 0; p < 2; ++p) {
            const Query q = Ev(p, node, Card("4s"), Card("2h"));
            const Values own = ref.Reach(node, p), opp = ref.Reach(node, 1 - p);
            for (int i = 0; i < kComboCount; ++i) {
                if (tree->ranges[p][i] == 0.0 || (ComboMask(i) & board)) {
                    ASSERT_TRUE(std::isnan(q.ev[i]) && std::isnan(q.weight[i]));
                    continue;
                }
                double mass = 0, value = 0;
                for (int j = 0; j < kComboCount; ++j) {
                    if (opp[j] == 0.0 || (ComboMask(j) & (board | ComboMask(i)))) continue;
                    mass += opp[j];
                    value += opp[j] * ref.Value(node, p, i, j);
                }
                ASSERT_NEAR(q.ev[i], mass > 0 ? value / mass : 0.0, tol)
                    << "node " << node << " player " << p << " combo " << i;
                ASSERT_NEAR(q.weight[i], own[i] * mass, 1e-5 * std::max(1.0, own[i] * mass));
            }
        }

    // A river-rooted tree answers only for its own cards.
    Values ev(kComboCount, 7.0), weight(kComboCount, 7.0), freq(kComboCount, 7.0);
    libsubgame_calc_combo_ev(0, 0, Card("4s"), Card("3c"), ev.data(), weight.data(), 0);
    libsubgame_calc_line_freq(0, 0, Card("4s"), Card("3c"), freq.data());
    const Values untouched(kComboCount, 7.0);
    EXPECT_TRUE(ev == untouched && weight == untouched && freq == untouched);

    if (!c.polarised) return;
    auto classEv = [&](int p, const char* hands) {
        const Query q = Ev(p, 0, Card("4s"), Card("2h"));
        double sum = 0;
        int count = 0;
        const std::string text(hands);
        for (size_t at = 0; at + 4 <= text.size(); at += 5) {
            const CardMask m = Cards(text.substr(at, 4).c_str());
            sum += q.ev[ComboIndex(LowestCard(m), HighestCard(m))];
            ++count;
        }
        return sum / count;
    };
    EXPECT_NEAR(classEv(0, "AcAd AhAs AcAs"), 250.0 / 3, 0.5);
    EXPECT_NEAR(classEv(0, "6c5c 6d5h 6s5d"), -50.0, 0.5);
    EXPECT_NEAR(classEv(1, "JcJd JhJs JdJs"), 300.0 / 22, 0.5);
}

INSTANTIATE_TEST_SUITE_P(Games, RiverValues,
                         ::testing::Values(RiverCase{"RandomEarly", 20, false},
                                           RiverCase{"RandomAverages", 70, false},
                                           RiverCase{"Polarised", 3000, true}),
                         [](const ::testing::TestParamInfo<RiverCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace

namespace {

class LineFrequencies : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitHandEvalTables(); }
    void SetUp() override { threadsBefore_ = libsubgame_get_thread_count(); }
    void TearDown() override {
        libsubgame_free_scenario();
        libsubgame_set_thread_count(threadsBefore_);
    }
    // A flop tree of hearts and spades with isomorphism, solved past the averaging delay.
    void Build(int level) {
        static const int32_t kKinds[5][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 2}, {2, 2}};
        ASSERT_TRUE(BuildTree(Cards("Ah 8s 3h"), -1, -1, AllStreetLines(1), ClubDiamondRange(3),
                              ClubDiamondRange(4), true, kKinds[level]));
        libsubgame_set_thread_count(2);
        RunIteration(g_solvedTree);
        g_solvedTree->iteration = 61;
        while (g_solvedTree->iteration < 64) RunIteration(g_solvedTree);
    }
    static std::vector<int> Undealt(CardMask dead) {
        std::vector<int> cards;
        for (int c = 0; c < kCardCount; ++c)
            if (!(dead & CardBit(c))) cards.push_back(c);
        return cards;
    }
    int32_t threadsBefore_ = 1;
};

double Mass(int node, int turn, int river) {
    return Sum(LineFreq(0, node, turn, river));
}

// Nodes of AllStreetLines: 0, 1 flop; 2, 3 turn (2 first); 4, 5 river (4 first). Each node's
// mass is the sum over its children (leaves included), whatever the street; the turn and river
// cards of a street's first node add up to its chance view; suit-isomorphic cards agree; the
// river total over every runout does not depend on the thread count.
TEST_F(LineFrequencies, SumOverChildrenCardsAndThreads) {
    Build(1);
    const SolvedTree* tree = g_solvedTree;
    const CardMask flop = Cards("Ah 8s 3h");
    const int kc = Card("Kc"), kd = Card("Kd"), two = Card("2s");
    const double root = Mass(0, -1, -1);
    ASSERT_GT(root, 0);
    const std::vector<std::pair<int, Runout>> parents = {
        {0, {-1, -1}}, {1, {-1, -1}}, {2, {kc, -1}}, {3, {kc, -1}}, {4, {kc, two}}, {5, {kd, two}}};
    for (const auto& [node, at] : parents) {
        double children = 0;
        for (int child : tree->nodes[node].children) children += Mass(child, at.turn, at.river);
        EXPECT_NEAR(children, Mass(node, at.turn, at.river), 1e-6 * root) << "node " << node;
    }

    double turns = 0;
    for (int t : Undealt(flop)) turns += Mass(2, t, -1);
    EXPECT_NEAR(turns, Mass(2, -1, -1), 1e-6 * root);
    double rivers = 0;
    for (int r : Undealt(flop | CardBit(kc))) rivers += Mass(4, kc, r);
    EXPECT_NEAR(rivers, Mass(4, kc, -1), 1e-6 * root);
    EXPECT_NEAR(Mass(3, kc, -1), Mass(3, kd, -1), 1e-9 * root);
    EXPECT_NEAR(Mass(5, kc, two), Mass(5, kd, two), 1e-9 * root);

    // A few turn groups stand for the full list.
    std::vector<std::vector<int16_t>> codes;
    double direct = 0;
    for (int t : {kc, kd, two, Card("9c")}) {
        codes.emplace_back();
        for (int r : Undealt(flop | CardBit(t))) {
            codes.back().push_back(static_cast<int16_t>(t << 8 | r));
            direct += Mass(5, t, r);
        }
    }
    libsubgame_set_thread_count(1);
    const double one = libsubgame_calc_river_line_freq(5, codes);
    libsubgame_set_thread_count(8);
    const double eight = libsubgame_calc_river_line_freq(5, codes);
    EXPECT_EQ(one, eight);
    EXPECT_NEAR(one, direct, 1e-6 * root);
    EXPECT_GT(one, 0.0);
}

// After a solve that ended inside an iteration (mode 1, traverser 0), frequencies and values
// through both players' packed river decisions read every storage they need, and equal those
// taken after the results are recomputed (mode 0).
TEST_F(LineFrequencies, RiverQueriesAfterAnIterationMatchThoseAfterResults) {
    for (int level : {1, 2, 4}) {
        Build(level);
        ASSERT_EQ(g_solvedTree->mode, kModeUpdate);
        const int kc = Card("Kc"), two = Card("2s");
        auto take = [&] {
            std::vector<Values> all;
            for (int node : {4, 5, 6, 7}) {
                all.push_back(LineFreq(0, node, kc, two));
                all.push_back(LineFreq(1, node, kc, two));
            }
            for (int node : {4, 5})
                for (int p = 0; p < 2; ++p) all.push_back(Ev(p, node, kc, two).ev);
            return all;
        };
        const std::vector<Values> before = take();
        IterationLogRecord record{};
        libsubgame_calc_results(&record);
        const std::vector<Values> after = take();
        for (size_t k = 0; k < before.size(); ++k)
            for (int c = 0; c < kComboCount; ++c)
                if (!std::isnan(before[k][c]) || !std::isnan(after[k][c])) {
                    ASSERT_EQ(before[k][c], after[k][c]) << "level " << level << " list " << k;
                }
        libsubgame_free_scenario();
    }
}

// One refresh per iteration count; arguments that do not fit change nothing; the river total
// returns at once while a street is forgotten.
TEST_F(LineFrequencies, RefreshesOncePerIterationAndRefusesBadArguments) {
    Build(0);
    const int kc = Card("Kc"), two = Card("2s");
    const uint64_t start = ValueQueryRefreshCount();
    Ev(0, 4, kc, two);
    Ev(1, 2, kc, -1);
    EXPECT_EQ(ValueQueryRefreshCount(), start + 1);
    RunIteration(g_solvedTree);
    Ev(0, 0, -1, -1);
    EXPECT_EQ(ValueQueryRefreshCount(), start + 2);

    const struct {
        int player, node, turn, river;
    } bad[] = {{2, 0, -1, -1},  {-1, 0, -1, -1},        {0, -1, -1, -1},        {0, 13, -1, -1},
               {0, 0, kc, -1},  {0, 5, kc, -1},         {0, 3, -1, -1},         {0, 4, kc, kc},
               {0, 4, -1, two}, {0, 2, Card("Ah"), -1}, {0, 4, kc, Card("8s")}, {0, 2, 52, -1}};
    for (const auto& b : bad) {
        Values ev(kComboCount, 7.0), weight(kComboCount, 7.0), freq(kComboCount, 7.0);
        libsubgame_calc_combo_ev(b.player, b.node, b.turn, b.river, ev.data(), weight.data(), 0);
        libsubgame_calc_line_freq(b.player, b.node, b.turn, b.river, freq.data());
        for (int c = 0; c < kComboCount; ++c)
            ASSERT_TRUE(ev[c] == 7.0 && weight[c] == 7.0 && freq[c] == 7.0)
                << b.player << " " << b.node << " " << b.turn << " " << b.river;
    }
    Values ev(kComboCount, 7.0), weight(kComboCount, 7.0);
    libsubgame_calc_combo_ev(0, 0, -1, -1, ev.data(), weight.data(), 1);
    EXPECT_EQ(ev[0], 7.0) << "the per-runout form is not built";

    const int16_t good = static_cast<int16_t>(kc << 8 | two);
    EXPECT_GT(libsubgame_calc_river_line_freq(5, {{good}}), 0.0);
    for (const std::vector<std::vector<int16_t>>& groups :
         std::vector<std::vector<std::vector<int16_t>>>{
             {},
             {{static_cast<int16_t>(kc << 8 | kc)}},
             {{static_cast<int16_t>(Card("Ah") << 8 | two)}},
             {{static_cast<int16_t>(-1)}},
             {{good, static_cast<int16_t>(kc << 8 | 60)}},
             {{static_cast<int16_t>(good | 64)}},
             {std::vector<int16_t>(49, good)}})
        EXPECT_EQ(libsubgame_calc_river_line_freq(5, groups), 0.0);
    EXPECT_EQ(libsubgame_calc_river_line_freq(2, {{good}}), 0.0) << "a turn node";
    const Query solved = Ev(0, 5, kc, two);
    ASSERT_EQ(libsubgame_forget_street(3), kStreetOk);
    EXPECT_EQ(libsubgame_calc_river_line_freq(5, {{good}}), 0.0);
    const Query resolved = Ev(0, 5, kc, two);
    double moved = 0;
    for (int c = 0; c < kComboCount; ++c)
        if (!std::isnan(solved.ev[c])) {
            ASSERT_FALSE(std::isnan(resolved.ev[c])) << "the forgotten river is re-solved first";
            moved = std::max(moved, std::fabs(resolved.ev[c] - solved.ev[c]));
        }
    EXPECT_LT(moved, 100.0);
}

}  // namespace
