// The tree builder: node records, root records and rows, suit-permuted ranges, solver defaults,
// refused builds and the small entry points.
#include "solver/solved_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "cards/hand_evaluator.h"
#include "cards/hand_set.h"
#include "solver/iterations.h"
#include "solver/node_locks.h"
#include "solver/runout_access.h"
#include "solver/solver_defaults.h"
#include "solver/solver_mutex.h"
#include "solver/solver_thread.h"
#include "storage/node_data.h"
#include "storage/storage_interface.h"
#include "storage/thread_array_pool.h"
#include "utilities/output.h"

namespace {

int Card(const char* text) {
    CardMask m = 0;
    ParseCards(&m, text);
    return LowestCard(m);
}

// add_line 0 50 50 150 150 on a flop with pot 100, flattened in pre-order, children by
// descending key.
std::vector<TreeLine> WorkedExample() {
    return {
        {0, -1, 0, 1, 0.0},    {0, 0, 1, 1, 0.0},    {0, 1, 0, 1, 0.0},
        {0, 2, 0, 2, 0.0},     {0, 3, 1, 2, 0.0},    {1, 4, -1, -1, 200.0},
        {2, 4, -1, -1, 100.0}, {2, 2, -1, -1, 50.0}, {1, 1, -1, -1, 50.0},
    };
}

// A bet and its call and fold on the root street.
std::vector<TreeLine> BetLines(int street) {
    return {{0, -1, 0, street, 0.0},
            {0, 0, 1, street, 0.0},
            {1, 1, -1, -1, 100.0},
            {2, 1, -1, -1, 50.0}};
}

std::vector<double> Full() {
    return std::vector<double>(kComboCount, 1.0);
}

class SolvedTreeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitHandEvalTables(); }
    void TearDown() override { libsubgame_free_scenario(); }

    int32_t Build(const std::vector<TreeLine>& lines, const char* flop, int turn = -1,
                  int river = -1, const std::vector<double>& r0 = Full(),
                  const std::vector<double>& r1 = Full(), uint8_t iso = 0) {
        CardMask m = 0;
        ParseCards(&m, flop);
        int c[3];
        for (int& x : c) {
            x = LowestCard(m);
            m &= m - 1;
        }
        return libsubgame_build_tree(1, lines.data(), static_cast<int32_t>(lines.size()), c[0],
                                     c[1], c[2], turn, river, r0.data(), r1.data(), iso);
    }
};

TEST_F(SolvedTreeTest, WorkedExampleNodes) {
    set_show_hash_lines(true);
    clear_output_buffer();
    ASSERT_EQ(Build(WorkedExample(), "Ks7h2d"), kBuildOk);
    EXPECT_NE(output_buffer().find("#actions max 2 avg 1.6\n"), std::string::npos);
    flush_output();
    const SolvedTree& t = *g_solvedTree;
    ASSERT_EQ(t.nodes.size(), 9u);
    struct Want {
        int kind, player, street;
        std::vector<int32_t> children;
    };
    const Want want[9] = {{0, 0, 1, {1}}, {0, 1, 1, {2, 8}}, {0, 0, 1, {3, 7}},
                          {0, 0, 2, {4}}, {0, 1, 2, {5, 6}}, {1, 1, 3, {}},
                          {2, 1, 2, {}},  {2, 0, 1, {}},     {1, 1, 3, {}}};
    for (int i = 0; i < 9; ++i) {
        const TreeNode& n = t.nodes[i];
        EXPECT_EQ(n.kind, want[i].kind) << i;
        EXPECT_EQ(n.player, want[i].player) << i;
        EXPECT_EQ(n.street, want[i].street) << i;
        EXPECT_EQ(n.children, want[i].children) << i;
        EXPECT_EQ(n.owned, 1);
        EXPECT_EQ(n.resident, 0);
        EXPECT_EQ(n.jobCost[0].load(), -1);
        EXPECT_EQ(n.parentNode, i == 0 ? nullptr : &t.nodes[n.parent]);
        EXPECT_EQ(n.turnMutexes != nullptr, i == 3) << i;
        EXPECT_EQ(n.nodeData != nullptr, i == 3) << i;
    }
    EXPECT_EQ(t.nodes[3].nodeDataCount, 1);
    EXPECT_DOUBLE_EQ(t.maxAmount, 200.0);
    EXPECT_DOUBLE_EQ(t.payoffScale, 0.625);
    EXPECT_EQ(t.params.maxActions, 2);
    EXPECT_DOUBLE_EQ(t.params.averageActions, 1.6);
    EXPECT_EQ(t.rootTurnRecord, -1);
    EXPECT_EQ(t.rootRiverRecord, -1);
    EXPECT_EQ(t.flags, kTreeNew);
    EXPECT_EQ(t.formatVersion, 7);
    EXPECT_EQ(t.forgottenStreet, -1);
    EXPECT_EQ(t.indexLists.size(), 3u);
    EXPECT_EQ(t.indexLists[0], nullptr);
    std::string text;
    libsubgame_tree_flags_text(&text);
    EXPECT_EQ(text, "NEW_TREE");
}

// Sum over hands i of row[2 + p][i] x (sum of row[1 - p][j] over hands j disjoint from i).
double NormalisedTotal(const SolvedTree& t, const std::vector<CardMask>& hands, int p) {
    double total = 0;
    for (size_t i = 0; i < hands.size(); ++i) {
        double compatible = 0;
        for (size_t j = 0; j < hands.size(); ++j)
            if ((hands[i] & hands[j]) == 0) compatible += t.rootRows[1 - p][j];
        total += t.rootRows[2 + p][i] * compatible;
    }
    return total;
}

TEST_F(SolvedTreeTest, RootRecordsOnEveryStreet) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<double> r0(kComboCount), r1(kComboCount);
    for (int k = 0; k < kComboCount; ++k) {
        r0[k] = u(rng) < 0.4 ? u(rng) : 0.0;
        r1[k] = u(rng) < 0.4 ? u(rng) : 0.0;
    }
    // Flop root.
    ASSERT_EQ(Build(WorkedExample(), "Ks7h2d", Card("9c"), Card("3s"), r0, r1), kBuildOk);
    EXPECT_EQ(g_solvedTree->rootTurnRecord, -1);
    EXPECT_EQ(g_solvedTree->deadCards, g_solvedTree->board);  // turn and river ignored
    EXPECT_NEAR(NormalisedTotal(*g_solvedTree, g_solvedTree->hands->hands, 0), 1.0, 1e-6);
    EXPECT_NEAR(NormalisedTotal(*g_solvedTree, g_solvedTree->hands->hands, 1), 1.0, 1e-6);
    // Turn root: one record, the root on it; first turn node with mutexes and one record.
    ASSERT_EQ(Build(BetLines(2), "Ks7h2d", Card("9c"), Card("3s"), r0, r1), kBuildOk);
    const SolvedTree* t = g_solvedTree;
    EXPECT_GE(t->rootTurnRecord, 0);
    EXPECT_EQ(t->rootRiverRecord, -1);
    EXPECT_EQ(t->hands->records.size(), 1u);
    EXPECT_NE(t->nodes[0].turnMutexes, nullptr);
    EXPECT_EQ(t->nodes[0].nodeDataCount, 1);
    const auto& turnHands = t->hands->records[t->rootTurnRecord].hands;
    EXPECT_EQ(t->rootRows[0].size(), turnHands.size());
    EXPECT_NEAR(NormalisedTotal(*t, turnHands, 0), 1.0, 1e-6);
    EXPECT_NEAR(NormalisedTotal(*t, turnHands, 1), 1.0, 1e-6);
    // River root: no mutexes, 49 records on the root.
    ASSERT_EQ(Build(BetLines(3), "Ks7h2d", Card("9c"), Card("3s"), r0, r1), kBuildOk);
    t = g_solvedTree;
    EXPECT_GE(t->rootTurnRecord, 0);
    EXPECT_GE(t->rootRiverRecord, 0);
    EXPECT_EQ(t->nodes[0].turnMutexes, nullptr);
    EXPECT_EQ(t->nodes[0].nodeDataCount, 49);
    const auto& riverHands = t->hands->records[t->rootTurnRecord].rivers[t->rootRiverRecord].hands;
    EXPECT_NEAR(NormalisedTotal(*t, riverHands, 0), 1.0, 1e-6);
    EXPECT_NEAR(NormalisedTotal(*t, riverHands, 1), 1.0, 1e-6);
    for (const TreeNode& n : t->nodes) EXPECT_EQ(n.turnMutexes, nullptr);
}

// The canonical suit rule written out independently: flop suits first (one suit; two suits with
// the larger count first; three by ascending card), then a new turn suit, a new river suit, the
// rest in suit order.
void ReferenceMap(int map[4], const std::vector<int>& flop, int turn, int river) {
    for (int s = 0; s < 4; ++s) map[s] = -1;
    int next = 0;
    int count[4] = {};
    for (int c : flop) ++count[c / 13];
    int present = 0;
    for (int s = 0; s < 4; ++s) present += count[s] > 0;
    if (present == 2) {
        int first = -1;
        for (int s = 0; s < 4; ++s)
            if (count[s] == 2) first = s;
        map[first] = next++;
        for (int s = 0; s < 4; ++s)
            if (count[s] == 1) map[s] = next++;
    } else {
        std::vector<int> sorted = flop;
        std::sort(sorted.begin(), sorted.end());
        for (int c : sorted)
            if (map[c / 13] < 0) map[c / 13] = next++;
    }
    for (int c : {turn, river})
        if (c >= 0 && map[c / 13] < 0) map[c / 13] = next++;
    for (int s = 0; s < 4; ++s)
        if (map[s] < 0) map[s] = next++;
}

// Weight by hand class (ranks and suitedness), 0 on dead cards.
std::vector<double> ClassRange(std::mt19937& rng, CardMask dead) {
    std::uniform_int_distribution<int> w(0, 4);
    std::vector<double> byClass(13 * 13 * 2);
    for (double& x : byClass) x = w(rng) * 0.25;
    std::vector<double> range(kComboCount);
    for (int k = 0; k < kComboCount; ++k) {
        const CardPair p = ComboCards(k);
        const int a = CardPairLo(p), b = CardPairHi(p);
        const int lo = std::min(CardRank(a), CardRank(b)), hi = std::max(CardRank(a), CardRank(b));
        const int cls = (lo * 13 + hi) * 2 + (CardSuit(a) == CardSuit(b));
        range[k] = (ComboMask(k) & dead) != 0 ? 0.0 : byClass[cls];
    }
    return range;
}

TEST_F(SolvedTreeTest, IsomorphicRangesLandOnCanonicalImages) {
    std::mt19937 rng(11);
    struct Case {
        const char* flop;
        const char* turn;
    };
    // Monotone, two-tone and rainbow flops; a turn root whose turn brings a new suit.
    const Case cases[] = {
        {"Ah9h4h", nullptr}, {"Kd7d2s", nullptr}, {"QcJd5h", nullptr}, {"Ks7s2d", "9c"}};
    for (const Case& c : cases) {
        CardMask flopMask = 0;
        ParseCards(&flopMask, c.flop);
        std::vector<int> flop;
        for (CardMask m = flopMask; m; m &= m - 1) flop.push_back(LowestCard(m));
        const int turn = c.turn ? Card(c.turn) : -1;
        const CardMask dead = flopMask | (turn >= 0 ? CardBit(turn) : 0);
        std::vector<double> r0 = ClassRange(rng, dead), r1 = ClassRange(rng, dead);
        ASSERT_EQ(Build(BetLines(turn >= 0 ? 2 : 1), c.flop, turn, -1, r0, r1, 1), kBuildOk)
            << c.flop;
        const SolvedTree& t = *g_solvedTree;
        const uint16_t* index =
            turn >= 0 ? t.hands->records[t.rootTurnRecord].index : t.hands->index;
        int map[4];
        ReferenceMap(map, flop, turn, -1);
        int live = 0;
        for (int k = 0; k < kComboCount; ++k) {
            if ((ComboMask(k) & dead) != 0) continue;
            const int image = ComboIndex(PermuteSuits(ComboMask(k), map));
            if (r0[k] == 0 && r1[k] == 0) {
                EXPECT_EQ(index[image], kNoPosition);
                continue;
            }
            ASSERT_NE(index[image], kNoPosition) << c.flop << " combo " << k;
            EXPECT_EQ(t.rootRows[0][index[image]], static_cast<float>(r0[k]));
            EXPECT_EQ(t.rootRows[1][index[image]], static_cast<float>(r1[k]));
            ++live;
        }
        EXPECT_EQ(static_cast<size_t>(live), t.rootRows[0].size()) << c.flop;
        std::string text;
        libsubgame_tree_flags_text(&text);
        EXPECT_EQ(text, "ISOMORPHISM_ON NEW_TREE");
        EXPECT_EQ(t.ranges[0], r0);  // the input ranges are kept unpermuted
    }
}

TEST_F(SolvedTreeTest, SolverDefaultsByRootStreetAndKinds) {
    const int32_t kinds[5][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 2}, {2, 2}};
    for (int street = 1; street <= 3; ++street) {
        ASSERT_EQ(Build(BetLines(street), "Ks7h2d", Card("9c"), Card("3s")), kBuildOk);
        EXPECT_EQ(RiverDelay(), 0);  // a build applies kinds {0, 0}
        for (const auto& k : kinds) {
            SetSolverDefaults(g_solvedTree, k);
            EXPECT_EQ(SolverIterationCap(), 9000);
            EXPECT_EQ(RiverDelay(), k[0] >= 2 ? 30 : 0);
            EXPECT_EQ(g_solvedTree->streamKinds[0], street == 1 ? k[0] : 0);
            EXPECT_EQ(g_solvedTree->streamKinds[1], street == 1 ? k[1] : 0);
            EXPECT_EQ(AveragingExponent(), street == 3 ? 4.0 : 1.5);
            EXPECT_EQ(AveragingCap(), street == 3 ? std::numeric_limits<double>::max() : 262143.0);
        }
        EXPECT_DOUBLE_EQ(g_solvedTree->payoffScale, 1.25);
    }
    // Leaves that all pay 0 would make the scale infinite.
    std::vector<TreeLine> zero = {{0, -1, 0, 1, 0.0}, {1, 0, -1, -1, 0.0}};
    ASSERT_EQ(Build(zero, "Ks7h2d"), kBuildOk);
    EXPECT_EQ(g_solvedTree->payoffScale, 1.0);
}

TEST_F(SolvedTreeTest, RefusedBuildsKeepTheOldTree) {
    ASSERT_EQ(Build(WorkedExample(), "Ks7h2d"), kBuildOk);
    SolvedTree* old = g_solvedTree;
    auto expectKept = [&](int32_t result, int32_t want) {
        EXPECT_EQ(result, want);
        EXPECT_EQ(g_solvedTree, old);
        EXPECT_EQ(g_solvedTree->nodes.size(), 9u);
    };
    std::vector<std::vector<TreeLine>> bad = {
        {},                                                            // no line
        {{1, -1, -1, -1, 50.0}},                                       // a leaf without parent
        {{0, -1, 0, 1, 0.0}},                                          // a decision without actions
        {{0, -1, 0, 1, 0.0}, {1, 2, -1, -1, 1.0}, {0, 0, 1, 1, 0.0}},  // parent after child
        {{0, -1, 0, 4, 0.0}, {1, 0, -1, -1, 1.0}},                     // street 4
        {{0, -1, 0, 0, 0.0}, {1, 0, -1, -1, 1.0}},                     // street 0
        {{0, -1, 2, 1, 0.0}, {1, 0, -1, -1, 1.0}},                     // player 2
        {{0, -1, 0, 1, 0.0}, {1, 0, -1, -1, 1.0}, {1, 1, -1, -1, 1.0}},  // a leaf as parent
        {{0, -1, 0, 1, 0.0},
         {0, 0, 1, 1, 0.0},
         {1, 1, -1, -1, 1.0},
         {1, 0, -1, -1, 1.0},
         {1, 1, -1, -1, 1.0}},  // not pre-order: back into a finished subtree
        {{0, -1, 0, 1, 0.0}, {1, 0, -1, -1, std::nan("")}},            // non-finite amount
        {{0, -1, 0, 2, 0.0}, {0, 0, 1, 1, 0.0}, {1, 1, -1, -1, 1.0}},  // street going back
        {{0, -1, 0, 1, 0.0}, {0, 0, 1, 3, 0.0}, {1, 1, -1, -1, 1.0}},  // flop to river at once
    };
    for (const auto& lines : bad) {
        expectKept(libsubgame_build_tree(1, lines.data(), static_cast<int32_t>(lines.size()), 0, 1,
                                         2, -1, -1, Full().data(), Full().data(), 0),
                   kBuildInvalidLines);
    }
    expectKept(Build(BetLines(2), "Ks7h2d"), kBuildInvalidCards);  // turn root without a turn
    expectKept(Build(BetLines(2), "Ks7h2d", Card("Ks")), kBuildInvalidCards);
    expectKept(Build(BetLines(3), "Ks7h2d", Card("9c"), Card("9c")), kBuildInvalidCards);
    expectKept(libsubgame_build_tree(1, WorkedExample().data(), 9, 0, 0, 1, -1, -1, Full().data(),
                                     Full().data(), 0),
               kBuildInvalidCards);
    // Every live pair of hands shares a card: AcKc for one player, AcQc for the other.
    std::vector<double> a(kComboCount, 0.0), b(kComboCount, 0.0);
    a[ComboIndex(CardBit(Card("Ac")) | CardBit(Card("Kc")))] = 1.0;
    b[ComboIndex(CardBit(Card("Ac")) | CardBit(Card("Qc")))] = 1.0;
    expectKept(Build(WorkedExample(), "Ks7h2d", -1, -1, a, b), kBuildNoCompatibleHands);
    expectKept(
        Build(WorkedExample(), "Ks7h2d", -1, -1, std::vector<double>(kComboCount, 0.0), Full()),
        kBuildNoCompatibleHands);
}

// One decision per action, players alternating, ending in a showdown `depth` actions below the
// root.
std::vector<TreeLine> Chain(int depth) {
    std::vector<TreeLine> lines;
    for (int i = 0; i < depth; ++i) lines.push_back({0, i - 1, i % 2, 1, 0.0});
    lines.push_back({1, depth - 1, -1, -1, 60.0});
    return lines;
}

TEST_F(SolvedTreeTest, DepthLimit) {
    // The tree walks recurse once per level: deeper trees are refused before anything changes.
    ASSERT_EQ(Build(WorkedExample(), "Ks7h2d"), kBuildOk);
    SolvedTree* old = g_solvedTree;
    EXPECT_EQ(TreeLinesDepth(WorkedExample().data(), 9), 5);  // down to the turn call
    const std::vector<TreeLine> tooDeep = Chain(kMaxTreeDepth + 1);
    EXPECT_EQ(TreeLinesDepth(tooDeep.data(), static_cast<int32_t>(tooDeep.size())),
              kMaxTreeDepth + 1);
    EXPECT_EQ(Build(tooDeep, "Ks7h2d"), kBuildTooDeep);
    EXPECT_EQ(g_solvedTree, old);
    EXPECT_EQ(g_solvedTree->nodes.size(), 9u);
    const std::vector<TreeLine> deepest = Chain(kMaxTreeDepth);
    ASSERT_EQ(Build(deepest, "Ks7h2d"), kBuildOk);
    EXPECT_EQ(g_solvedTree->nodes.size(), deepest.size());
    EXPECT_EQ(g_solvedTree->nodes.back().parent, kMaxTreeDepth - 1);
}

TEST_F(SolvedTreeTest, TreeChangesRefusedWhileSolving) {
    ASSERT_EQ(Build(BetLines(3), "Ks7h2d", Card("9c"), Card("3s")), kBuildOk);
    const int32_t plain[2] = {0, 0};
    ASSERT_TRUE(libsubgame_reset_progress(plain));
    SolvedTree* tree = g_solvedTree;
    {
        // Holding the solver mutex keeps the solver thread in its first traversal.
        std::lock_guard<std::recursive_mutex> hold(SolverMutex());
        ASSERT_EQ(libsubgame_start_solver(1000, 1), 1);
        EXPECT_EQ(Build(WorkedExample(), "Ks7h2d"), kBuildSolverRunning);
        EXPECT_FALSE(libsubgame_reset_progress(plain));
        EXPECT_FALSE(libsubgame_free_scenario());
        EXPECT_EQ(g_solvedTree, tree);
        EXPECT_EQ(g_solvedTree->nodes.size(), 4u);
        libsubgame_request_stop();
    }
    libsubgame_wait_solver();
    EXPECT_EQ(Build(WorkedExample(), "Ks7h2d"), kBuildOk);
}

TEST_F(SolvedTreeTest, EntryPointsCheckIndices) {
    EXPECT_EQ(libsubgame_copy_tree_params(), nullptr);
    EXPECT_EQ(libsubgame_child_count(0), -1);
    EXPECT_EQ(libsubgame_get_node(0), nullptr);
    std::string text = "x";
    libsubgame_tree_flags_text(&text);
    EXPECT_EQ(text, "");
    EXPECT_TRUE(libsubgame_free_scenario());  // nothing to free
    ASSERT_EQ(Build(WorkedExample(), "Ks7h2d"), kBuildOk);
    EXPECT_EQ(libsubgame_child_count(1), 2);
    EXPECT_EQ(libsubgame_child_index(1, 1), 8);
    EXPECT_EQ(libsubgame_child_index(1, 2), -1);
    EXPECT_EQ(libsubgame_child_index(1, -1), -1);
    EXPECT_EQ(libsubgame_child_count(9), -1);
    EXPECT_EQ(libsubgame_child_count(-1), -1);
    EXPECT_EQ(libsubgame_get_node(9), nullptr);
    EXPECT_EQ(libsubgame_get_node(8), &g_solvedTree->nodes[8]);
    TreeParams* params = libsubgame_copy_tree_params();
    ASSERT_NE(params, nullptr);
    EXPECT_EQ(params->maxActions, 2);
    libsubgame_free(params);
    EXPECT_TRUE(libsubgame_free_scenario());
    EXPECT_EQ(g_solvedTree, nullptr);
}

TEST_F(SolvedTreeTest, RunoutLookup) {
    // Two-tone flop, spades and diamonds: clubs and hearts are both absent and collapse.
    ASSERT_EQ(Build(WorkedExample(), "Ks7s2d", -1, -1, Full(), Full(), 1), kBuildOk);
    int32_t t1, r1, t2, r2;
    MapRunoutCards(g_solvedTree, Card("9c"), -1, &t1, &r1);
    MapRunoutCards(g_solvedTree, Card("9h"), -1, &t2, &r2);
    EXPECT_GE(t1, 0);
    EXPECT_EQ(t1, t2);
    EXPECT_EQ(r1, -1);
    MapRunoutCards(g_solvedTree, Card("9s"), -1, &t2, &r2);  // a flop suit stays apart
    EXPECT_GE(t2, 0);
    EXPECT_NE(t1, t2);
    MapRunoutCards(g_solvedTree, Card("9c"), Card("3h"), &t1, &r1);
    MapRunoutCards(g_solvedTree, Card("9h"), Card("3c"), &t2, &r2);
    EXPECT_EQ(t1, t2);
    EXPECT_GE(r1, 0);
    EXPECT_EQ(r1, r2);
    MapRunoutCards(g_solvedTree, -1, Card("3h"), &t1, &r1);  // a river needs its turn
    EXPECT_EQ(t1, -1);
    EXPECT_EQ(r1, -1);
    MapRunoutCards(g_solvedTree, Card("Ks"), Card("3h"), &t1, &r1);  // a board card
    EXPECT_EQ(t1, -1);
    EXPECT_EQ(r1, -1);
    MapRunoutCards(g_solvedTree, 52, -7, &t1, &r1);
    EXPECT_EQ(t1, -1);
    EXPECT_EQ(r1, -1);
}

// A storage that only answers for its lock record.
class LockOnlyStorage : public StorageInterface {
public:
    LockRecord record;
    bool reset() override { return true; }
    int32_t numHands(int32_t, int32_t) const override { return 0; }
    void getStrategy(PooledArray*, int32_t, int32_t, const float*) override {}
    void setAction(int32_t, int32_t, int32_t, const PooledArray&) override {}
    void updateRegrets(int32_t, int32_t, const PooledArray&, const PooledArray*,
                       const std::vector<int16_t>*, double) override {}
    void accumulateStrategy(int32_t, int32_t, const PooledArray*, const PooledArray&,
                            float) override {}
    int64_t size(int32_t) const override { return 0; }
    void save(BinaryWriter&) override {}
    void load(BinaryReader&) override {}
    StorageStreamInterface* unpack(StorageStreamInterface*, int32_t, int32_t) override {
        return nullptr;
    }
    StorageStreamInterface* pack(StorageStreamInterface*, int32_t, bool) override {
        return nullptr;
    }
    LockRecord* flagsPtr(int32_t, int32_t) override { return &record; }
};

TEST_F(SolvedTreeTest, NodeFlagsText) {
    ASSERT_EQ(Build(WorkedExample(), "Ks7h2d"), kBuildOk);
    auto* flop = new LockOnlyStorage;
    auto* turn = new LockOnlyStorage;
    g_solvedTree->nodes[1].regrets = flop;
    g_solvedTree->nodes[4].regrets = turn;
    std::string text = "x";
    libsubgame_node_flags_text(&text, 1, -1, -1);
    EXPECT_EQ(text, "");
    flop->record.flags = kLockNodeFlag;
    libsubgame_node_flags_text(&text, 1, -1, -1);
    EXPECT_EQ(text, "LOCKED");
    flop->record.flags = kLockCombosFlag;
    libsubgame_node_flags_text(&text, 1, -1, -1);
    EXPECT_EQ(text, "COMBO_LOCKED");
    flop->record.flags = kLockNodeFlag | kLockCombosFlag;
    libsubgame_node_flags_text(&text, 1, -1, -1);
    EXPECT_EQ(text, "LOCKED COMBO_LOCKED");
    // A turn node needs its turn card; a leaf or a bad index has no text.
    turn->record.flags = kLockNodeFlag;
    libsubgame_node_flags_text(&text, 4, -1, -1);
    EXPECT_EQ(text, "");
    libsubgame_node_flags_text(&text, 4, Card("9c"), -1);
    EXPECT_EQ(text, "LOCKED");
    libsubgame_node_flags_text(&text, 5, Card("9c"), Card("3s"));
    EXPECT_EQ(text, "");
    libsubgame_node_flags_text(&text, 99, -1, -1);
    EXPECT_EQ(text, "");
}

}  // namespace

namespace {

// Build, storage, residency walk and tear-down again and again with growing hand counts, the
// team's threads holding pooled rows in between: clean under the sanitizers, no pool left.
TEST_F(SolvedTreeTest, RepeatedBuildAndTearDown) {
    std::mt19937 rng(5);
    const int64_t poolBlocksBefore = LivePoolBlocks();
    for (int loop = 0; loop < 50; ++loop) {
        std::vector<double> r0(kComboCount, 0.0), r1(kComboCount, 0.0);
        const int wanted = 20 + loop * 25;
        for (int i = 0; i < wanted; ++i) {
            r0[rng() % kComboCount] = 1.0;
            r1[rng() % kComboCount] = 0.5;
        }
        const int street = loop % 10 == 0 ? 1 : 2 + loop % 2;  // flop hand sets are the slow part
        ASSERT_EQ(Build(street == 1 ? WorkedExample() : BetLines(street), "Ks7h2d", Card("9c"),
                        Card("3s"), r0, r1),
                  kBuildOk);
        const int32_t kinds[2] = {loop % 2, loop % 2};
        ASSERT_TRUE(libsubgame_reset_progress(kinds));
        ASSERT_TRUE(CheckTreeStorageReady(g_solvedTree));
        EXPECT_EQ(g_solvedTree->allResident, 1);
        const int hands = static_cast<int>(g_solvedTree->hands->hands.size());
#pragma omp parallel
        {
            EnsureThreadPool(hands);
            PooledArray row;
            ConstructPooledArray(&row, hands, true, true);
            ReleasePooledArray(&row);
        }
        ASSERT_TRUE(libsubgame_free_scenario());
        EXPECT_EQ(g_solvedTree, nullptr);
    }
    EXPECT_EQ(LivePoolBlocks(), poolBlocksBefore);
}

}  // namespace
