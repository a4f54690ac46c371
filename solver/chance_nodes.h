// Chance nodes and parallel subgames: pass 0 records one job per dealt card class, pass 1 runs
// the jobs on the OpenMP team costliest first, pass 2 takes each chance node's merged values.
#pragma once

#include <cstdint>
#include <vector>

#include "storage/pooled_array.h"
#include "storage/traversal_context.h"

struct SolvedTree;

// A recorded subgame: the context of the dealt card plus the chance node's shared rows, which
// one heap record per chance-node visit owns (the first job of the visit points at it).
struct SubgameShared {
    PooledArray parentOpponentReach;
    PooledArray valueSum;
    PooledArray parentOwnReach;
    PooledArray bestResponseSum;
};

struct SubgameJob : TraversalContext {
    SubgameShared* shared = nullptr;
    bool ownsShared = false;  // the visit's first job deletes the shared rows
    // The job's results, kept until they are merged in recording order (heap rows).
    PooledArray resultValue;
    PooledArray resultBestResponse;
};

// Fill ctx->value (and ctx->bestResponse) over the chance node's hand list.
void DealTurnChance(TraversalContext* ctx);
void DealRiverChance(TraversalContext* ctx);

// Pass 1: runs every recorded job, then merges their results into their chance nodes' sums in
// recording order (so results do not depend on thread count or completion order).
void TraverseSubgames();
// The order pass 1 starts the recorded jobs in: in mode 1 by the job node's cost for the
// traverser, descending (never measured, -1, last), equal costs in recording order; otherwise
// recording order.
std::vector<SubgameJob*> JobRunOrder();

// The process-wide job list (guarded by the solver mutex): jobs recorded so far, and the
// cursor pass 2 reads them with.
std::vector<SubgameJob*>& SubgameJobs();
void ResetJobCursor();
// Deletes every job with its own and shared rows and empties the list.
void DeleteSubgameJobs();

// The subgame roots of a street below ctx's node with both players' reach.
struct SubgameRoot {
    TraversalContext ctx;  // opponentReach: player 1's reach; ownReach: player 0's reach
};
void CollectSubgameRoots(TraversalContext* ctx, int32_t street, std::vector<SubgameRoot>& roots);
