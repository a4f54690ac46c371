#include "solver/iterations.h"

#include <omp.h>

#include <mutex>

#include "solver/chance_nodes.h"
#include "solver/compression_levels.h"
#include "solver/forgotten_streets.h"
#include "solver/solved_tree.h"
#include "solver/solver_defaults.h"
#include "solver/solver_mutex.h"
#include "solver/solver_mutex_claim.h"
#include "solver/solver_settings.h"
#include "solver/solver_thread.h"
#include "solver/traversal.h"
#include "solver/tree_storage.h"
#include "storage/thread_array_pool.h"
#include "utilities/services.h"

namespace {

void RootReach(const SolvedTree* tree, int32_t p, PooledArray* row) {
    const std::vector<float>& reach = tree->rootRows[1 - p];
    ReleasePooledArray(row);
    ConstructPooledArray(row, static_cast<int32_t>(reach.size()), false, false);
    for (size_t i = 0; i < reach.size(); ++i) row->data[i] = reach[i];
}

float WeightedSum(const PooledArray& row, const std::vector<float>& weights) {
    if (!row.data) return 0.0f;
    float sum = 0.0f;
    for (int32_t i = 0; i < row.count; ++i) sum += row.data[i] * weights[i];
    return sum;
}

// The solve the solver thread runs on the global tree.
class TreeWork : public SolverWork {
public:
    int32_t iteration() override {
        std::lock_guard<std::recursive_mutex> lock(SolverMutex());
        return g_solvedTree->iteration;
    }
    void runIteration() override {
        omp_set_num_threads(libsubgame_get_thread_count());
        RunIteration(g_solvedTree);
    }
    void bestResponse(double r0[2], double r1[2]) override {
        CalcBestResponse(g_solvedTree, r0, r1, kModeEvaluate);
    }
    int32_t iterationCap() override { return SolverIterationCap(); }
    int32_t checkInterval() override { return libsubgame_get_check_interval(); }
    double targetAccuracy() override { return libsubgame_get_target_accuracy(); }
};

TreeWork Work;

}  // namespace

bool TreeHasStorages(const SolvedTree* tree) {
    for (const TreeNode& node : tree->nodes)
        if (node.kind == 0 && !node.regrets &&
            (tree->forgottenStreet < 0 || node.street < tree->forgottenStreet))
            return false;
    return true;
}

TraversalSums TraverseForPlayer(SolvedTree* tree, int32_t p, TraversalMode mode) {
    std::lock_guard<std::recursive_mutex> lock(SolverMutex());
    // A pool left by a tree with another hand count must be replaced before any pooled row.
    EnsureThreadPool(*tree->hands);
    tree->traverser = p;
    tree->mode = mode;
    tree->simdLevel = simd_level.load(std::memory_order_relaxed);
    tree->target = nullptr;
    tree->pass = kPassRecordJobs;

    TraversalContext root;
    root.tree = tree;
    root.node = &tree->nodes[0];
    root.turn = tree->rootTurnRecord;
    root.river = tree->rootRiverRecord;
    RootReach(tree, p, &root.opponentReach);
    TraverseNode(&root);
    ReleasePooledArray(&root.value);
    ReleasePooledArray(&root.bestResponse);

    tree->pass = kPassRunJobs;
    TraverseSubgames();

    tree->pass = kPassTakeMerged;
    RootReach(tree, p, &root.opponentReach);
    ResetJobCursor();
    TraverseNode(&root);

    TraversalSums sums{0.0, 0.0};
    const std::vector<float>& weights = tree->rootRows[2 + p];
    sums.valueSum = WeightedSum(root.value, weights);
    sums.bestResponseSum = WeightedSum(root.bestResponse, weights);
    DeleteSubgameJobs();
    ReleaseFourRows(&root);
    return sums;
}

uint8_t RiverAveragingAt(const SolvedTree* tree, int32_t iteration) {
    if (tree->rootStreet() > 1) return 1;
    return RiverSumsAt(tree->compressionLevel, iteration) ? 1 : 0;
}

IterationValues RunIteration(SolvedTree* tree) {
    // A query or edit waiting for the mutex goes first: it would rarely win the race otherwise.
    // Here, before the lock, the solver thread holds no lock of its own.
    YieldSolverMutexToClaims();
    TraversalSums r1;
    {
        std::lock_guard<std::recursive_mutex> lock(SolverMutex());
        tree->riverAveraging = RiverAveragingAt(tree, tree->iteration);
        r1 = TraverseForPlayer(tree, 1, kModeUpdate);
    }
    // Again between the two traversals, so a waiter waits one traversal at most.
    YieldSolverMutexToClaims();
    std::lock_guard<std::recursive_mutex> lock(SolverMutex());
    TraversalSums r0 = TraverseForPlayer(tree, 0, kModeUpdate);
    tree->iteration += 1;
    tree->flags &= ~kTreeNew;
    return {(r0.valueSum + r1.valueSum) / 2, r1.valueSum, r0.valueSum};
}

BestResponseResult CalcBestResponse(SolvedTree* tree, double result0[2], double result1[2],
                                    TraversalMode mode) {
    YieldSolverMutexToClaims();
    {
        std::lock_guard<std::recursive_mutex> lock(SolverMutex());
        TraversalSums a = TraverseForPlayer(tree, 0, mode);
        result0[0] = a.bestResponseSum;
        result0[1] = a.valueSum;
    }
    YieldSolverMutexToClaims();
    std::lock_guard<std::recursive_mutex> lock(SolverMutex());
    TraversalSums b = TraverseForPlayer(tree, 1, mode);
    result1[0] = b.bestResponseSum;
    result1[1] = b.valueSum;
    return {((result0[0] - result0[1]) + (result1[0] - result1[1])) / 2,
            (result0[1] + result1[1]) / 2};
}

int32_t libsubgame_start_solver(int32_t budget, uint8_t steps) {
    SolvedTree* tree = g_solvedTree;
    if (!tree || libsubgame_solver_running() || (tree->flags & kTreeIncomplete)) return 0;
    // A rebuilt tree is solved whole: no later query may re-solve from the old reach.
    DropForgottenState(tree);
    IterationLogClear();
    if (!CheckTreeStorageReady(tree) || !TreeHasStorages(tree)) return 0;
    return StartSolverThread(&Work, budget, steps != 0) ? 1 : 0;
}

uint32_t libsubgame_tree_complete() {
    SolvedTree* tree = g_solvedTree;
    return tree && !(tree->flags & kTreeIncomplete) ? 1u : 0u;
}

void libsubgame_calc_results(IterationLogRecord* out) {
    SolvedTree* tree = g_solvedTree;
    if (!tree) return;
    std::lock_guard<std::recursive_mutex> lock(SolverMutex());
    CheckTreeStorageReady(tree);
    if (!(tree->flags & kTreeIncomplete)) tree->resultsIteration = -1;
    if (tree->resultsIteration != tree->iteration && TreeHasStorages(tree)) {
        CheckTreeStorageReady(tree);
        BestResponseResult r =
            CalcBestResponse(tree, tree->bestResponse[0], tree->bestResponse[1], kModeEvaluate);
        tree->exploitability = r.exploitability;
        tree->meanValue = r.meanValue;
        tree->resultsIteration = tree->iteration;
    }
    *out = IterationLogRecord{};
    out->iteration = tree->iteration;
    out->zero = 0;
    out->seconds = 0.0;
    out->value0 = tree->bestResponse[0][1];
    out->value1 = tree->bestResponse[1][1];
    out->bestResponse0 = tree->bestResponse[0][0];
    out->bestResponse1 = tree->bestResponse[1][0];
    out->exploitability = tree->exploitability;
}
