#include "solver/node_values.h"

#include <atomic>
#include <limits>
#include <vector>

#include "cards/hand_set.h"
#include "solver/blocker_flags.h"
#include "solver/chance_nodes.h"
#include "solver/ensure_node_strategy.h"
#include "solver/iterations.h"
#include "solver/line_reach.h"
#include "solver/river_scratch.h"
#include "solver/runout_walks.h"
#include "solver/solved_tree.h"
#include "solver/solver_mutex_claim.h"
#include "solver/target_record.h"
#include "solver/traversal.h"
#include "storage/thread_array_pool.h"

namespace {

std::atomic<uint64_t> RefreshCount{0};

// Best-response values, exploitability and the chance nodes' stored values of this iteration's
// strategies; the mode-2 walk reads those stored values below the target's street.
void RefreshResults(SolvedTree* tree) {
    if (tree->resultsIteration == tree->iteration) return;
    CheckTreeStorageReady(tree);
    const BestResponseResult r =
        CalcBestResponse(tree, tree->bestResponse[0], tree->bestResponse[1], kModeEvaluate);
    tree->exploitability = r.exploitability;
    tree->meanValue = r.meanValue;
    tree->resultsIteration = tree->iteration;
    RefreshCount.fetch_add(1, std::memory_order_relaxed);
}

// The showdown kernels read the flags of the river root above them; a walk that starts below
// that root builds them itself from the reach it starts with.
void PrepareRiverScratch(const SolvedTree* tree, const TraversalContext& ctx) {
    if (ctx.node->street != 3 || ctx.turn < 0 || ctx.river < 0) return;
    RiverScratch* scratch = ThreadRiverScratch();
    BuildBlockerFlags(scratch->groupFlags, ctx.opponentReach.data,
                      tree->hands->records[ctx.turn].rivers[ctx.river]);
    scratch->ClearLists();
}

void EvaluateNodeValues(SolvedTree* tree, int32_t player, TargetRecord* record,
                        const QueryTarget& at) {
    EnsureThreadPool(*tree->hands);
    tree->mode = kModeCollect;
    tree->traverser = player;
    OpenQuerySubtree(tree, at);

    PooledArray reach[2];
    CalcLineReach(tree, at, reach);
    TraversalContext ctx;
    ctx.tree = tree;
    ctx.node = at.node;
    ctx.turn = at.turn;
    ctx.river = at.river;
    MovePooledArray(&ctx.ownReach, &reach[player]);
    MovePooledArray(&ctx.opponentReach, &reach[1 - player]);

    tree->target = record;
    tree->pass = kPassRecordJobs;
    PrepareRiverScratch(tree, ctx);
    TraverseNode(&ctx);
    ReleasePooledArray(&ctx.value);
    ReleasePooledArray(&ctx.bestResponse);
    tree->pass = kPassRunJobs;
    TraverseSubgames();
    tree->pass = kPassTakeMerged;
    ResetJobCursor();
    // Pass 1 may have run a job on this thread's scratch.
    PrepareRiverScratch(tree, ctx);
    TraverseNode(&ctx);
    DeleteSubgameJobs();
    tree->target = nullptr;
    tree->pass = kPassRecordJobs;
    ReleaseFourRows(&ctx);

    CloseQuerySubtree(tree, at);
}

}  // namespace

uint64_t ValueQueryRefreshCount() {
    return RefreshCount.load(std::memory_order_relaxed);
}

void libsubgame_calc_combo_ev(int32_t player, int32_t node, int32_t turnCard, int32_t riverCard,
                              double* ev, double* weight, uint8_t split) {
    SolvedTree* tree = g_solvedTree;
    QueryTarget at;
    if (split != 0 || (player != 0 && player != 1)) return;
    if (!ResolveQueryTarget(tree, node, turnCard, riverCard, &at)) return;
    CheckTreeStorageReady(tree);
    // Re-solves a forgotten street first, before any lock is held (it takes the mutex itself).
    EnsureNodeStrategy(tree, node, at.turn, at.river, 0);

    TargetRecord record;
    {
        // One strategy profile from the refresh to the end of the walk.
        SolverMutexClaim claim;
        if (!TreeHasStorages(tree)) return;
        RefreshResults(tree);
        record.node = at.node;
        record.turn = at.turn;
        record.river = at.river;
        EvaluateNodeValues(tree, player, &record, at);
    }

    std::vector<float> spread(kComboCount);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const PooledArray* rows[2] = {&record.valueRow, &record.weightRow};
    double* outs[2] = {ev, weight};
    for (int k = 0; k < 2; ++k) {
        RunoutHandValues(spread.data(), tree, *rows[k], at.turn, at.river, true);
        UnfoldComboValues(tree, outs[k], spread.data(), turnCard, riverCard);
    }
    const std::vector<double>& range = tree->ranges[player];
    for (int combo = 0; combo < kComboCount; ++combo)
        if (range[combo] == 0.0) ev[combo] = weight[combo] = nan;
    ReleasePooledArray(&record.valueRow);
    ReleasePooledArray(&record.weightRow);
}
