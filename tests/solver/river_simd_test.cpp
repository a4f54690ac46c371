// The vectorised river path: the greedy batch cut, the kernel calls of each river root, bit
// equality with the scalar walk (its two-terminal kernels off) and across simd levels, the
// river-strategy switch turned on after a build, pooled rows per root, and simd level changes
// during a solve.
#include "solver/river_simd.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "cards/hand_evaluator.h"
#include "solver/iterations.h"
#include "solver/node_edits.h"
#include "solver/river_batches.h"
#include "solver/river_scratch.h"
#include "solver/runout_access.h"
#include "solver/solver_defaults.h"
#include "solver/solver_settings.h"
#include "solver/solver_thread.h"
#include "solver/traversal.h"
#include "solver_test_games.h"
#include "storage/thread_array_pool.h"

namespace {

using namespace testgames;
constexpr RiverBatchKind kShowdown = RiverBatchKind::kShowdown, kFold = RiverBatchKind::kFold;

TEST(RiverBatchCut, WidestAllowedWidthFirstForEveryCountAndLevel) {
    struct Case {
        RiverBatchKind kind;
        int count, level;
        std::vector<int32_t> widths;
    };
    const Case examples[] = {{kShowdown, 5, 2, {2, 2, 1}}, {kShowdown, 7, 8, {6, 1}},
                             {kShowdown, 9, 8, {8, 1}},    {kShowdown, 11, 5, {4, 4, 3}},
                             {kFold, 11, 5, {4, 4, 3}},    {kFold, 9, 8, {4, 4, 1}},
                             {kShowdown, 3, 1, {1, 1, 1}}, {kShowdown, 0, 8, {}}};
    for (const Case& c : examples)
        EXPECT_EQ(RiverBatchWidths(c.kind, c.count, c.level), c.widths)
            << c.count << " " << c.level;
    // The rule: the kind's widths no wider than the level (1 always), widest first, each taken
    // again while that many terminals remain.
    for (RiverBatchKind kind : {kShowdown, kFold})
        for (int level = 1; level <= 8; ++level)
            for (int count = 0; count <= 40; ++count) {
                std::vector<int32_t> expected;
                int left = count;
                for (int w : kind == kShowdown ? std::vector<int>{8, 6, 4, 3, 2, 1}
                                               : std::vector<int>{4, 3, 2, 1})
                    for (; (w <= level || w == 1) && left >= w; left -= w) expected.push_back(w);
                EXPECT_EQ(RiverBatchWidths(kind, count, level), expected) << count << " " << level;
            }
}

// Settings every test here changes, restored afterwards.
class RiverSimd : public ::testing::Test {
protected:
    void SetUp() override {
        InitHandEvalTables();
        simd_ = simd_level.load();
        threads_ = libsubgame_get_thread_count();
        libsubgame_set_thread_count(2);
    }
    void TearDown() override {
        libsubgame_finish_solver();
        simd_level.store(simd_);
        river_strategy_enabled.store(1);
        libsubgame_set_thread_count(threads_);
        libsubgame_set_target_accuracy(0.0);
        SetTwoTerminalKernels(true);
        SetRiverRootObserver(nullptr);
    }
    int32_t simd_ = 8, threads_ = 1;
};

// Pot 100. Flop root Td 9d 6h (clubs and spades isomorphic) with stack 150, where a called
// turn bet is all-in (a river root that is a showdown leaf), or turn root Qd with stack 50.
// Raises on the river widen its subtrees.
bool BuildSpot(bool flopRoot, const int32_t kinds[2], bool iso, int every, int raises = 0) {
    const CardMask flop = Cards("Td 9d 6h");
    const int turn = flopRoot ? -1 : LowestCard(Cards("Qd"));
    LineBuilder b;
    b.stack = flopRoot ? 150 : raises > 0 ? 1000 : 50;
    b.raisesPerStreet = 0;
    b.riverRaises = raises;
    const CardMask board = flop | (turn >= 0 ? CardBit(turn) : 0);
    return BuildTree(flop, turn, -1, b.Build(flopRoot ? 1 : 2), RankRange(board, every, 1),
                     RankRange(board, every, 2), iso, kinds);
}

// The first river root after the turn checks through, its IP child facing the bet, and the
// runout (real cards) the edits use.
struct RiverEdits {
    int root, facingBet;
    int turnCard, riverCard;
};
RiverEdits FindRiverRoot(bool flopRoot) {
    const SolvedTree* tree = g_solvedTree;
    for (int n = 0; n < static_cast<int>(tree->nodes.size()); ++n) {
        const TreeNode& node = tree->nodes[n];
        if (node.kind == 0 && node.street == 3 && node.parentNode->street == 2)
            return {n, node.children[0],
                    flopRoot ? LowestCard(Cards("Qc")) : LowestCard(Cards("Qd")),
                    LowestCard(Cards("3s"))};
    }
    return {-1, -1, -1, -1};
}

// A locked node whose call no hand takes, combination locks, and EV boosts on a fold, a
// showdown and a same-street decision child.
void ApplyEdits(bool flopRoot) {
    const RiverEdits e = FindRiverRoot(flopRoot);
    const TreeNode& facing = g_solvedTree->nodes[e.facingBet];
    const TreeNode& check = g_solvedTree->nodes[g_solvedTree->nodes[e.root].children[1]];
    std::vector<double> zeros(1326, 0.0), ones(1326, 1.0), mask(1326, 0.0);
    for (int c = 0; c < 1326; c += 3) mask[c] = 1.0;
    EXPECT_EQ(libsubgame_set_strategy(e.facingBet, 0, e.turnCard, e.riverCard, zeros.data()), 0);
    EXPECT_EQ(libsubgame_set_strategy(e.facingBet, 1, e.turnCard, e.riverCard, ones.data()), 0);
    EXPECT_EQ(libsubgame_set_node_lock(e.facingBet, e.turnCard, e.riverCard, 1), 0);
    EXPECT_EQ(libsubgame_combo_lock_node(e.root, e.turnCard, e.riverCard, mask.data()), 0);
    EXPECT_EQ(libsubgame_set_ev_boost(facing.children.back(), 0.3f), 0);
    EXPECT_EQ(libsubgame_set_ev_boost(check.children.back(), 0.2f), 0);
    EXPECT_EQ(libsubgame_set_ev_boost(g_solvedTree->nodes[e.root].children[1], 0.25f), 0);
}

struct EqualityCase {
    bool flopRoot;
    int32_t kinds[2];
    bool iso;
};
class RiverSimdEquality : public RiverSimd, public ::testing::WithParamInterface<EqualityCase> {};

// Two trees built and edited alike, solved alike at simd level 1; then from identical storages one
// iteration at level 1 on one and at level 8 on the other must leave bit-identical regrets, sums,
// NodeData rows and root values, at iteration counts 0 (equal-strength groups), 30, 61 (weight 1)
// and 70 (weighted sums).
TEST_P(RiverSimdEquality, OneIterationAtLevelEightEqualsTheScalarWalk) {
    const EqualityCase& c = GetParam();
    SetTwoTerminalKernels(false);
    SolvedTree* trees[2];
    for (SolvedTree*& tree : trees) {
        ASSERT_TRUE(BuildSpot(c.flopRoot, c.kinds, c.iso, c.flopRoot ? 14 : 8));
        ApplyEdits(c.flopRoot);
        tree = g_solvedTree;
        g_solvedTree = nullptr;
    }
    for (int t : {0, 30, 61, 70}) {
        IterationValues values[2];
        std::vector<uint64_t> digest[2];
        for (int i = 0; i < 2; ++i) {
            g_solvedTree = trees[i];
            simd_level.store(1);
            // A solved iteration, then the count the rules read moves on to t.
            if (t > 0) RunIteration(trees[i]);
            trees[i]->iteration = t;
            simd_level.store(i == 0 ? 1 : 8);
            values[i] = RunIteration(trees[i]);
            digest[i] = TreeDigest(trees[i]);
        }
        EXPECT_EQ(values[0].value0, values[1].value0) << "iteration " << t;
        EXPECT_EQ(values[0].value1, values[1].value1) << "iteration " << t;
        for (size_t n = 0; n < digest[0].size(); ++n)
            ASSERT_EQ(digest[0][n], digest[1][n]) << "node " << n << " iteration " << t;
    }
    g_solvedTree = trees[1];
    libsubgame_free_scenario();
    g_solvedTree = trees[0];
}

INSTANTIATE_TEST_SUITE_P(
    Trees, RiverSimdEquality,
    ::testing::Values(EqualityCase{true, {0, 0}, false}, EqualityCase{true, {0, 0}, true},
                      EqualityCase{true, {0, 1}, false}, EqualityCase{true, {0, 1}, true},
                      EqualityCase{true, {1, 1}, false}, EqualityCase{true, {1, 1}, true},
                      EqualityCase{true, {1, 2}, false}, EqualityCase{true, {2, 2}, true},
                      EqualityCase{false, {0, 0}, false}, EqualityCase{false, {0, 0}, true}));

// Wide river subtrees (two raises) make every level cut differently. Release-only: OpenMP teams
// of eight on a busy machine take seconds per solve.
TEST_F(RiverSimd, LongLevelsTwoToEightSolveBitIdenticallyOnOneAndEightThreads) {
    const int32_t plain[2] = {0, 0};
    std::vector<uint64_t> first;
    for (int threads : {1, 8})
        for (int level = 2; level <= 8; ++level) {
            libsubgame_set_thread_count(threads);
            ASSERT_TRUE(BuildSpot(false, plain, false, 24, 2));
            simd_level.store(level);
            for (int i = 0; i < 50; ++i) RunIteration(g_solvedTree);
            const std::vector<uint64_t> digest = TreeDigest(g_solvedTree);
            if (first.empty()) first = digest;
            EXPECT_EQ(digest, first) << "level " << level << " threads " << threads;
        }
}

// Per river root, on a fresh tree where only one OOP root at one runout has an action no hand
// takes: the kernel calls cut the terminals with reach as the rule says, those below the dead
// action get none, and afterwards the scratch holds no row and the pool its earlier blocks.
struct RootLog {
    std::mutex mutex;
    std::vector<RiverRootReport> reports;
    int64_t inUse = 0;  // one thread: pool blocks in use when the current root began
} Log;

int64_t BlocksInUse() {
    const ThreadArrayPool* pool = CurrentThreadPool();
    return LivePoolBlocks() - (pool ? static_cast<int64_t>(pool->freeCount) : 0);
}

void Observe(const RiverRootReport& report) {
    std::lock_guard<std::mutex> lock(Log.mutex);
    if (!report.finished) {
        Log.inUse = BlocksInUse();
        return;
    }
    const RiverScratch* s = ThreadRiverScratch();
    EXPECT_TRUE(s->terminalReach.empty() && s->terminalValues.empty() && s->terminals.empty());
    const PooledArray& value = report.context->value;
    EXPECT_EQ(BlocksInUse(), Log.inUse + (value.data && value.fromPool ? 1 : 0));
    Log.reports.push_back(report);
}

void CountLeaves(const SolvedTree* tree, int node, int counts[3]) {
    const TreeNode& n = tree->nodes[node];
    ++counts[n.kind];
    for (int child : n.children) CountLeaves(tree, child, counts);
}

TEST_F(RiverSimd, KernelCallsPerRootFollowTheCutAndSkipTerminalsWithoutReach) {
    const int32_t plain[2] = {0, 0};
    libsubgame_set_thread_count(1);
    SetRiverRootObserver(Observe);
    for (int level = 1; level <= 8; ++level) {
        ASSERT_TRUE(BuildSpot(false, plain, false, 10, 2));
        SolvedTree* tree = g_solvedTree;
        const RiverEdits e = FindRiverRoot(false);
        std::vector<double> zeros(1326, 0.0), ones(1326, 1.0);
        ASSERT_EQ(libsubgame_set_strategy(e.root, 0, e.turnCard, e.riverCard, zeros.data()), 0);
        ASSERT_EQ(libsubgame_set_strategy(e.root, 1, e.turnCard, e.riverCard, ones.data()), 0);
        int32_t deadTurn, deadRiver;
        MapRunoutCards(tree, e.turnCard, e.riverCard, &deadTurn, &deadRiver);
        Log.reports.clear();
        simd_level.store(level);
        TraverseForPlayer(tree, 1, kModeEvaluate);
        TraverseForPlayer(tree, 1, kModeCollect);
        EXPECT_TRUE(Log.reports.empty()) << "evaluation walks stay scalar";
        TraverseForPlayer(tree, 1, kModeUpdate);
        int roots = 0;
        for (const TreeNode& n : tree->nodes) roots += n.street == 3 && n.parentNode->street < 3;
        const size_t expected = level == 1 ? 0 : roots * tree->hands->records[0].rivers.size();
        ASSERT_EQ(Log.reports.size(), expected) << "level " << level;
        for (const RiverRootReport& r : Log.reports) {
            const int node = static_cast<int>(r.root - tree->nodes.data());
            int all[3] = {}, dead[3] = {};
            CountLeaves(tree, node, all);
            if (node == e.root && r.river == deadRiver)
                CountLeaves(tree, tree->nodes[node].children[0], dead);
            EXPECT_EQ(r.terminals, all[1] + all[2]);
            EXPECT_EQ(r.nullTerminals, dead[1] + dead[2]);
            EXPECT_EQ(r.showdownWidths, RiverBatchWidths(kShowdown, all[1] - dead[1], level));
            EXPECT_EQ(r.foldWidths, RiverBatchWidths(kFold, all[2] - dead[2], level));
        }
    }
}

// River strategy-sum storages exist only when the switch was on at the build: turning it on
// afterwards adds none and the solve runs past the averaging delay.
TEST_F(RiverSimd, RiverSumsSwitchedOnAfterTheBuildStayAbsent) {
    const int32_t plain[2] = {0, 0};
    river_strategy_enabled.store(0);
    ASSERT_TRUE(BuildSpot(false, plain, false, 8));
    river_strategy_enabled.store(1);
    simd_level.store(8);
    for (int i = 0; i < 66; ++i) RunIteration(g_solvedTree);
    for (const TreeNode& n : g_solvedTree->nodes) {
        if (n.kind == 0 && n.street == 3) {
            EXPECT_EQ(n.strategySums, nullptr);
        }
    }
    double r0[2], r1[2];
    EXPECT_TRUE(std::isfinite(CalcBestResponse(g_solvedTree, r0, r1, kModeEvaluate).exploitability));
}

// Short enough for the sanitizer run: flop trees of growing hand counts on eight threads.
TEST_F(RiverSimd, GrowingTreesOnEightThreads) {
    const int32_t packed[2] = {1, 1};
    libsubgame_set_thread_count(8);
    simd_level.store(8);
    for (int every : {40, 14, 5}) {
        ASSERT_TRUE(BuildSpot(true, packed, every != 14, every));
        for (int i = 0; i < 3; ++i) RunIteration(g_solvedTree);
        double r0[2], r1[2];
        EXPECT_TRUE(std::isfinite(CalcBestResponse(g_solvedTree, r0, r1, kModeEvaluate).exploitability));
    }
}

// The level is read once per traversal, so switching it while the solver runs is safe.
TEST_F(RiverSimd, SimdLevelSwitchedDuringASolveStillReachesTheTarget) {
    const int32_t packed[2] = {1, 1};
    ASSERT_TRUE(BuildSpot(true, packed, true, 40));
    libsubgame_set_target_accuracy(0.005 * 100);
    libsubgame_set_check_interval(5);
    testing::internal::CaptureStdout();
    ASSERT_EQ(libsubgame_start_solver(0, 0), 1);
    for (bool one = true; libsubgame_solver_running() != 0; one = !one) {
        simd_level.store(one ? 1 : 8);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    libsubgame_wait_solver();
    const std::string out = testing::internal::GetCapturedStdout();
    libsubgame_set_check_interval(25);
    EXPECT_NE(out.find("SOLVER: stopped (required accuracy reached)"), std::string::npos) << out;
}

}  // namespace
