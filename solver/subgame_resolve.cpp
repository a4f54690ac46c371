#include "solver/subgame_resolve.h"

#include <cfloat>
#include <cstring>
#include <mutex>

#include "cards/hand_set.h"
#include "solver/chance_nodes.h"
#include "solver/forgotten_streets.h"
#include "solver/iterations.h"
#include "solver/row_scaling.h"
#include "solver/solved_tree.h"
#include "solver/solver_mutex.h"
#include "solver/solver_settings.h"
#include "solver/solver_thread.h"
#include "solver/traversal.h"
#include "solver/tree_storage.h"
#include "storage/node_data.h"
#include "storage/row_kernels.h"
#include "storage/thread_array_pool.h"
#include "utilities/services.h"

namespace {

// A heap copy of a stored reach row scaled to sum 200: the stored sums grow as pow(t + 1, e),
// far past what the 16-bit river regret increments can take. A record row that holds no values
// for the root's n hands (never reached, or saved empty) gives a row of n zeros, never one of
// another length: the chance node sizes its rows and the record's from this one.
void ScaledReach(PooledArray* dst, const PooledArray& src, int32_t n) {
    ReleasePooledArray(dst);
    dst->count = n;
    if (!src.data || src.count != n) return;
    ResizePooledArray(dst, n, false);
    std::memcpy(dst->data, src.data, sizeof(float) * static_cast<size_t>(n));
    float sum = 0.0f;
    for (int32_t i = 0; i < n; ++i) sum += src.data[i];
    if (sum > FLT_EPSILON) ScaleRow(dst, 200.0f / sum);
}

PooledArray& ReachOf(SubgameRoot& root, int32_t player) {
    return player == 1 ? root.ctx.opponentReach : root.ctx.ownReach;
}

void TraverseRoot(SubgameRoot& root, int32_t traverser) {
    TraversalContext ctx;
    ctx.tree = root.ctx.tree;
    ctx.node = root.ctx.node;
    ctx.turn = root.ctx.turn;
    ctx.river = root.ctx.river;
    const PooledArray& reach = ReachOf(root, 1 - traverser);
    ctx.opponentReach.count = reach.count;
    if (reach.data) {
        ResizePooledArray(&ctx.opponentReach, reach.count, false);
        std::memcpy(ctx.opponentReach.data, reach.data, sizeof(float) * reach.count);
    }
    TraverseNode(&ctx);
    ReleaseFourRows(&ctx);
}

NodeData& RecordOf(SubgameRoot& root, int32_t street) {
    return root.ctx.node->nodeData[street == 3 ? root.ctx.turn : 0];
}

// The hands a root's reach is over: its turn record's list below a river chance, the hand
// set's below a turn chance.
int32_t RootHands(const SolvedTree* tree, const SubgameRoot& root, int32_t street) {
    const HandSet& hs = *tree->hands;
    return static_cast<int32_t>(street == 3 ? hs.records[root.ctx.turn].hands.size()
                                            : hs.hands.size());
}

}  // namespace

bool SolveSubgames(SolvedTree* tree, int32_t street) {
    CheckTreeStorageReady(tree);
    EnsureThreadPool(*tree->hands);
    std::vector<SubgameRoot> roots;
    {
        TraversalContext root;
        root.tree = tree;
        root.node = &tree->nodes[0];
        root.turn = tree->rootTurnRecord;
        root.river = tree->rootRiverRecord;
        for (int p = 0; p < 2; ++p) {
            PooledArray& row = p == 1 ? root.opponentReach : root.ownReach;
            const std::vector<float>& reach = tree->rootRows[p];
            ConstructPooledArray(&row, static_cast<int32_t>(reach.size()), false, false);
            for (size_t i = 0; i < reach.size(); ++i) row.data[i] = reach[i];
        }
        CollectSubgameRoots(&root, street, roots);
        ReleaseFourRows(&root);
    }

    std::lock_guard<std::recursive_mutex> lock(SolverMutex());
    tree->mode = kModeUpdate;
    tree->simdLevel = simd_level.load(std::memory_order_relaxed);
    for (SubgameRoot& root : roots) {
        NodeData& record = RecordOf(root, street);
        const int32_t n = RootHands(tree, root, street);
        ScaledReach(&root.ctx.ownReach, record.rows[0], n);
        ScaledReach(&root.ctx.opponentReach, record.rows[1], n);
    }
    const int32_t repetitions = tree->iteration > 1 ? tree->iteration : 1;
    const int32_t savedIteration = tree->iteration;
    tree->iteration = 0;
    const bool inlineRivers = street == 3 && tree->nodes[0].street <= 1;
    const int count = static_cast<int>(roots.size());
    const int threads = libsubgame_get_thread_count();
    for (int32_t rep = 0; rep < repetitions; ++rep) {
        if (rep > 0) tree->iteration += 1;
        for (int32_t traverser = 1; traverser >= 0; --traverser) {
            tree->traverser = traverser;
            if (inlineRivers) {
                tree->pass = kPassRunJobs;
#pragma omp parallel for schedule(guided, 1) num_threads(threads)
                for (int i = 0; i < count; ++i) {
                    EnsureThreadPool(*tree->hands);
                    TraverseRoot(roots[i], traverser);
                }
            } else {
                // Turn subgames, and river subgames of turn-rooted trees, run as recorded jobs.
                tree->pass = kPassRecordJobs;
                for (SubgameRoot& root : roots) TraverseRoot(root, traverser);
                tree->pass = kPassRunJobs;
                TraverseSubgames();
                DeleteSubgameJobs();
            }
        }
    }
    // The re-solved subgames supersede whatever a forgetting left.
    DropForgottenState(tree);
    tree->iteration = savedIteration;
    for (SubgameRoot& root : roots) ReleaseFourRows(&root.ctx);
    return true;
}

int32_t libsubgame_solve_all_splits(int32_t street) {
    SolvedTree* tree = g_solvedTree;
    if (!tree) return kStreetNoTree;
    if (libsubgame_solver_running()) return kStreetSolverRunning;
    if (street != 2 && street != 3) return kStreetBadArgument;
    // No chance node above the root's own street fills the reach rows a re-solve starts from.
    if (street <= tree->rootStreet()) return kStreetNotBelowRoot;
    if ((tree->flags & kTreeIncomplete) || !TreeHasStorages(tree)) return kStreetIncomplete;
    SolveSubgames(tree, street);
    return kStreetOk;
}
