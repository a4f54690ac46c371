#include "solver/forgotten_streets.h"

#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <mutex>

#include "cards/hand_set.h"
#include "solver/chance_nodes.h"
#include "solver/ensure_node_strategy.h"
#include "solver/iterations.h"
#include "solver/node_runout.h"
#include "solver/row_scaling.h"
#include "solver/runout_walks.h"
#include "solver/solved_tree.h"
#include "solver/solver_mutex.h"
#include "solver/solver_settings.h"
#include "solver/solver_thread.h"
#include "solver/traversal.h"
#include "solver/tree_storage.h"
#include "storage/aligned_memory.h"
#include "storage/node_data.h"
#include "storage/row_kernels.h"
#include "storage/storage_interface.h"
#include "storage/thread_array_pool.h"
#include "utilities/kernel_switches.h"

namespace {

constexpr int32_t kMaxResolveIterations = 1000;
constexpr int32_t kFirstCheck = 50;
constexpr int32_t kCheckInterval = 25;
// A root reaching at most this share of the largest root reach keeps its old row.
constexpr double kNegligibleReach = 0.01;
constexpr float kReachTotal = 200.0f;

std::atomic<uint64_t> Resolves{0};
std::atomic<uint64_t> ResolveIterations{0};

float RowSum(const PooledArray& row) {
    float sum = 0.0f;
    if (row.data)
        for (int32_t i = 0; i < row.count; ++i) sum += row.data[i];
    return sum;
}

void CopyRowToHeap(PooledArray* dst, const PooledArray& src) {
    ReleasePooledArray(dst);
    dst->count = src.count;
    if (!src.data) return;
    ResizePooledArray(dst, src.count, false);
    std::memcpy(dst->data, src.data, sizeof(float) * static_cast<size_t>(src.count));
}

// One player's row of a root record: the reach when it is not negligible, then scaled to 200.
void StoreRootReach(PooledArray* row, uint8_t* absent, const PooledArray& reach, double largest) {
    if (static_cast<double>(RowSum(reach)) <= kNegligibleReach * largest) {
        *absent = 0;
    } else {
        CopyRowToHeap(row, reach);
        *absent = 1;
    }
    ScaleRootReach(row);
}

// Sizes of storages made after the forgetting; the tree's totals describe the full tree.
uint64_t ScratchBytes[4] = {};

bool MakeResident(SolvedTree* tree, TreeNode* node, bool force) {
    if (node->kind != 0 || (node->resident && !force)) return false;
    MakeNodeStorages(tree, node, tree->rootStreet(), ScratchBytes);
    if (node->regrets && !node->resident) {
        const bool ready =
            node->regrets->reset() && (!node->strategySums || node->strategySums->reset());
        if (ready) node->resident = 1;
    }
    return true;
}

// Pairs of hands without a shared card, each weighed by own x opponent reach, in double.
double PairWeight(const PooledArray& own, const PooledArray& opponent,
                  const std::vector<CardMask>& hands) {
    if (!own.data || !opponent.data) return 0.0;
    const int32_t n = static_cast<int32_t>(hands.size());
    double w = 0.0;
    for (int32_t i = 0; i < n && i < own.count; ++i) {
        double inner = 0.0;
        for (int32_t j = 0; j < n && j < opponent.count; ++j)
            if (!(hands[i] & hands[j])) inner += static_cast<double>(opponent.data[j]);
        w = std::fma(inner, static_cast<double>(own.data[i]), w);
    }
    return w;
}

// Runs one traversal of root's subtree for the traverser with the opponent's reach moved in
// and back; the caller sets mode and pass.
void TraverseSubtree(TraversalContext* ctx, PooledArray* opponentReach, int32_t traverser) {
    ctx->tree->traverser = traverser;
    MovePooledArray(&ctx->opponentReach, opponentReach);
    TraverseNode(ctx);
    MovePooledArray(opponentReach, &ctx->opponentReach);
    ReleasePooledArray(&ctx->value);
    ReleasePooledArray(&ctx->bestResponse);
}

}  // namespace

uint64_t ResolveCount() {
    return Resolves.load();
}

uint64_t ResolveIterationCount() {
    return ResolveIterations.load();
}

uint64_t StreetStorageValues(const SolvedTree* tree, int32_t street) {
    uint64_t total = 0;
    for (const TreeNode& node : tree->nodes) {
        if (node.street != street || node.kind != 0) continue;
        for (const StorageInterface* s : {node.regrets, node.strategySums})
            if (s) total += static_cast<uint64_t>(s->size(-1));
    }
    return total;
}

void DeleteStreetStorages(SolvedTree* tree, int32_t street) {
    for (TreeNode& node : tree->nodes) {
        if (node.street != street) continue;
        delete node.regrets;
        delete node.strategySums;
        node.regrets = nullptr;
        node.strategySums = nullptr;
        node.resident = 0;
    }
}

void DropForgottenState(SolvedTree* tree) {
    tree->forgottenStreet = -1;
    for (TreeNode& node : tree->nodes)
        for (int32_t r = 0; r < node.nodeDataCount; ++r) {
            node.nodeData[r].done = 0;
            node.nodeData[r].doneBits = 0;
        }
}

void ForgetStreetStorage(SolvedTree* tree, int32_t street) {
    // The walk below reads the strategies of the streets kept, which a new level has made anew
    // even when the results need no refresh.
    CheckTreeStorageReady(tree);
    if (tree->resultsIteration != tree->iteration) {
        const BestResponseResult r =
            CalcBestResponse(tree, tree->bestResponse[0], tree->bestResponse[1], kModeEvaluate);
        tree->exploitability = r.exploitability;
        tree->meanValue = r.meanValue;
        tree->resultsIteration = tree->iteration;
    }
    for (int32_t s = street; s <= 3; ++s) DeleteStreetStorages(tree, s);

    std::vector<SubgameRoot> roots;
    {
        std::lock_guard<std::recursive_mutex> lock(SolverMutex());
        EnsureThreadPool(*tree->hands);
        TraversalContext root;
        root.tree = tree;
        root.node = &tree->nodes[0];
        root.turn = tree->rootTurnRecord;
        root.river = tree->rootRiverRecord;
        for (int32_t p = 0; p < 2; ++p) {
            PooledArray& row = p == 1 ? root.opponentReach : root.ownReach;
            const std::vector<float>& reach = tree->rootRows[p];
            ConstructPooledArray(&row, static_cast<int32_t>(reach.size()), false, false);
            std::memcpy(row.data, reach.data(), sizeof(float) * reach.size());
        }
        CollectSubgameRoots(&root, street, roots);
        ReleaseFourRows(&root);
    }

    double largest = 0.0;
    for (const SubgameRoot& root : roots) {
        largest = std::max(largest, static_cast<double>(RowSum(root.ctx.ownReach)));
        largest = std::max(largest, static_cast<double>(RowSum(root.ctx.opponentReach)));
    }
    for (SubgameRoot& root : roots) {
        NodeData& d = root.ctx.node->nodeData[street == 3 ? root.ctx.turn : 0];
        StoreRootReach(&d.rows[0], &d.rowZeroAbsent, root.ctx.ownReach, largest);
        StoreRootReach(&d.rows[1], &d.rowOneAbsent, root.ctx.opponentReach, largest);
        d.done = 1;
        // Storages made after this forgetting start empty: no runout of theirs is re-solved yet.
        d.doneBits = 0;
        ReleaseFourRows(&root.ctx);
    }
    tree->flags &= ~kTreeNew;
    tree->flags |= kTreeIncomplete;
    tree->forgottenStreet = street;
    tree->allResident = 0;
    ReturnFreedMemory();
}

int32_t libsubgame_forget_street(int32_t street) {
    SolvedTree* tree = g_solvedTree;
    if (!tree) return kStreetNoTree;
    if (libsubgame_solver_running()) return kStreetSolverRunning;
    if (street != 2 && street != 3) return kStreetBadArgument;
    // The re-solve reads a root's rows at the level above it: a root on the tree's own street
    // has none.
    if (street <= tree->rootStreet()) return kStreetNotBelowRoot;
    // The river roots' reach would need the deleted turn strategies.
    if (tree->forgottenStreet == 2 && street == 3) return kStreetTurnsForgotten;
    if (!TreeHasStorages(tree)) return kStreetIncomplete;
    ForgetStreetStorage(tree, street);
    return kStreetOk;
}

int32_t libsubgame_rebuild_forgotten_streets() {
    SolvedTree* tree = g_solvedTree;
    if (!tree) return kStreetNoTree;
    if (libsubgame_solver_running()) return kStreetSolverRunning;
    const int32_t first = tree->forgottenStreet;
    if (first < 0) return kStreetOk;
    for (int32_t s = first; s <= 3; ++s)
        for (TreeNode& node : tree->nodes)
            if (node.street == s && !node.resident) MakeResident(tree, &node, false);
    tree->flags &= ~kTreeIncomplete;
    return kStreetOk;
}

int32_t libsubgame_get_forgotten_street() {
    return g_solvedTree ? g_solvedTree->forgottenStreet : -1;
}

double libsubgame_solve_partial(int32_t node, int32_t turnCard, int32_t riverCard) {
    SolvedTree* tree = g_solvedTree;
    if (!tree || libsubgame_solver_running()) return 0.0;
    NodeRunout at;
    if (!ResolveNodeRunout(tree, node, turnCard, riverCard, &at)) return 0.0;
    return EnsureNodeStrategy(tree, node, at.turn, at.river, 1);
}

void EnsureSubtreeStorage(SolvedTree* tree, TreeNode* node, bool force) {
    if (tree->forgottenStreet < 0) return;
    MakeResident(tree, node, force);
    for (int32_t child : node->children) EnsureSubtreeStorage(tree, &tree->nodes[child], force);
}

double SubtreeBestResponseValue(const PooledArray& bestResponse, const PooledArray& ownReach,
                                const PooledArray& opponentReach,
                                const std::vector<CardMask>& hands) {
    const double w = PairWeight(ownReach, opponentReach, hands);
    if (!(w > 0.0) || !bestResponse.data) return 0.0;
    double sum = 0.0;
    const int32_t n = std::min(bestResponse.count, ownReach.count);
    for (int32_t i = 0; i < n; ++i)
        sum += static_cast<double>(bestResponse.data[i] * ownReach.data[i]) / w;
    return sum;
}

double SubtreeCheck(SolvedTree* tree, TreeNode* root, int32_t turn, int32_t river,
                    PooledArray reach[2], const std::vector<CardMask>& hands) {
    TraversalContext ctx;
    ctx.tree = tree;
    ctx.node = root;
    ctx.turn = turn;
    ctx.river = river;
    tree->mode = kModeEvaluate;
    tree->pass = kPassRunJobs;
    double value[2] = {0.0, 0.0};
    for (int32_t p = 1; p >= 0; --p) {
        tree->traverser = p;
        MovePooledArray(&ctx.opponentReach, &reach[1 - p]);
        TraverseNode(&ctx);
        MovePooledArray(&reach[1 - p], &ctx.opponentReach);
        value[p] = SubtreeBestResponseValue(ctx.bestResponse, reach[p], reach[1 - p], hands);
        ReleasePooledArray(&ctx.value);
        ReleasePooledArray(&ctx.bestResponse);
    }
    ReleaseFourRows(&ctx);
    return (value[0] + value[1]) * 0.5;
}

double ResolveForgottenSubtree(SolvedTree* tree, TreeNode* root, int32_t turn, int32_t river,
                               bool force) {
    const bool riverRoot = root->street == 3;
    NodeData& d = root->nodeData[riverRoot ? turn : 0];
    const int32_t k = riverRoot ? river : turn;
    const uint64_t bit = uint64_t{1} << k;
    if (!force && (d.doneBits & bit)) return 0.0;

    std::lock_guard<std::recursive_mutex> lock(SolverMutex());
    EnsureThreadPool(*tree->hands);
    tree->simdLevel = simd_level.load(std::memory_order_relaxed);
    const HandSet& hs = *tree->hands;
    const std::vector<CardMask>& hands = LevelHands(hs, turn, riverRoot ? river : -1);
    // A stored row without values for every hand of the level above (left empty, or saved
    // empty) is a row of zeros.
    const int32_t above =
        static_cast<int32_t>(riverRoot ? hs.records[turn].hands.size() : hs.hands.size());
    PooledArray reach[2];
    for (int32_t p = 0; p < 2; ++p) {
        const PooledArray& stored = d.rows[p];
        const bool full = stored.data != nullptr && stored.count == above;
        if (riverRoot) {
            PooledArray none;
            GatherRowToRecord(hs.records[turn].rivers[river], &reach[p], full ? &stored : &none);
        } else {
            reach[p].count = static_cast<int32_t>(hands.size());
            if (full) {
                ResizePooledArray(&reach[p], reach[p].count, false);
                GatherRow(&reach[p], &d.rows[p], hs.records[turn].maps[0].data());
            }
        }
    }
    // Nobody reaches this runout (a line never played): nothing to solve, and a check would
    // divide by zero.
    if (!(PairWeight(reach[0], reach[1], hands) > 0.0)) {
        d.doneBits |= bit;
        ReleasePooledArray(&reach[0]);
        ReleasePooledArray(&reach[1]);
        return 0.0;
    }

    const int32_t savedIteration = tree->iteration;
    const uint32_t savedIncomplete = tree->flags & kTreeIncomplete;
    const uint8_t savedRiverAveraging = tree->riverAveraging;
    tree->flags &= ~kTreeIncomplete;
    tree->iteration = 0;
    tree->resolving = 1;
    const bool sums = root->strategySums != nullptr;
    if (riverRoot) {
        OpenRiverKind(tree, root, turn, 0, WalkRule::All);
        if (sums) OpenRiverKind(tree, root, turn, 1, WalkRule::All);
    }

    TraversalContext ctx;
    ctx.tree = tree;
    ctx.node = root;
    ctx.turn = turn;
    ctx.river = riverRoot ? river : -1;
    const double target = libsubgame_get_recalc_accuracy(root->street);
    double v = 0.0;
    for (int32_t i = 0; i < kMaxResolveIterations; ++i) {
        tree->mode = kModeUpdate;
        tree->pass = kPassRunJobs;
        tree->riverAveraging = RiverAveragingAt(tree, tree->iteration);
        TraverseSubtree(&ctx, &reach[0], 1);
        TraverseSubtree(&ctx, &reach[1], 0);
        tree->iteration += 1;
        if (tree->iteration >= kFirstCheck && tree->iteration % kCheckInterval == 0) {
            v = SubtreeCheck(tree, root, ctx.turn, ctx.river, reach, hands);
            if (target >= v) break;
        }
    }
    ReleaseFourRows(&ctx);
    ReleasePooledArray(&reach[0]);
    ReleasePooledArray(&reach[1]);

    if (riverRoot) {
        CloseRiverKind(tree, root, turn, 0, WalkRule::All);
        if (sums) CloseRiverKind(tree, root, turn, 1, WalkRule::All);
    }
    ResolveIterations.fetch_add(static_cast<uint64_t>(tree->iteration));
    tree->iteration = savedIteration;
    tree->riverAveraging = savedRiverAveraging;
    tree->resolving = 0;
    tree->flags |= savedIncomplete;
    d.doneBits |= bit;
    Resolves.fetch_add(1);
    return v;
}

void ScaleRootReach(PooledArray* row) {
    const float sum = RowSum(*row);
    if (sum > FLT_EPSILON) ScaleRow(row, kReachTotal / sum);
}
