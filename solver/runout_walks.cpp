#include "solver/runout_walks.h"

#include <cstring>
#include <mutex>

#include "cards/canonical_suits.h"
#include "cards/hand_set.h"
#include "solver/iteration_thresholds.h"
#include "solver/solved_tree.h"
#include "solver/solver_mutex.h"
#include "storage/row_kernels.h"
#include "storage/storage_interface.h"
#include "storage/storage_stream.h"

namespace {

bool AveragingActive(const SolvedTree* tree) {
    return StrategySumsActive(tree->averaging, tree->iteration);
}

StorageInterface* StorageOf(const TreeNode* node, uint8_t which) {
    return which == 0 ? node->regrets : node->strategySums;
}

TraversalContext WalkContext(SolvedTree* tree, TreeNode* node, int32_t turn, int32_t river) {
    TraversalContext ctx;
    ctx.tree = tree;
    ctx.node = node;
    ctx.turn = turn;
    ctx.river = river;
    return ctx;
}

// The first node of the river street above (or at) a street-3 node.
TreeNode* RiverTop(TreeNode* node) {
    while (node->parentNode && node->parentNode->street >= 3) node = node->parentNode;
    return node;
}

// The first turn node above a street-3 node: it holds the turn mutexes of a flop-rooted tree.
TreeNode* LockOwner(TreeNode* node) {
    while (node->parentNode && node->parentNode->street >= 2) node = node->parentNode;
    return node;
}

bool FlopRooted(const SolvedTree* tree) {
    return tree->rootStreet() <= 1;
}

void LockFor(TreeNode* node, int32_t turn, bool lock) {
    TreeNode* owner = LockOwner(node);
    if (FlopRooted(g_solvedTree) && owner->turnMutexes) {
        if (lock)
            owner->turnMutexes[turn].lock();
        else
            owner->turnMutexes[turn].unlock();
    } else if (lock) {
        SolverMutex().lock();
    } else {
        SolverMutex().unlock();
    }
}

}  // namespace

void SubtreeStorageSize(const TraversalContext* ctx, uint8_t which, uint64_t sizes[2]) {
    const TreeNode* node = ctx->node;
    if (node->kind != 0) return;
    if (node->street == 3) {
        const StorageInterface* s = StorageOf(node, which);
        if (s) sizes[node->player] += static_cast<uint64_t>(s->size(ctx->turn));
    }
    for (int32_t child : node->children) {
        TraversalContext c =
            WalkContext(ctx->tree, &ctx->tree->nodes[child], ctx->turn, ctx->river);
        SubtreeStorageSize(&c, which, sizes);
    }
}

void PackUnpackSubtree(bool unpack, const TraversalContext* ctx, StorageStreamInterface* streams[2],
                       uint8_t which, const uint64_t sizes[2], WalkRule rule) {
    const SolvedTree* tree = ctx->tree;
    const TreeNode* node = ctx->node;
    if (node->kind != 0) return;
    StorageInterface* s = StorageOf(node, which);
    if (node->street == 3 && s) {
        const int32_t p = node->player;
        if (unpack) {
            bool open = rule != WalkRule::Solve || which == 0;
            if (!open && AveragingActive(tree)) open = tree->mode != kModeUpdate || p == 1 - tree->traverser;
            if (open) streams[p] = s->unpack(streams[p], ctx->turn, static_cast<int32_t>(sizes[p]));
        } else {
            bool writeBack = rule == WalkRule::All;
            if (rule == WalkRule::Solve) {
                if (which == 0)
                    writeBack = tree->mode == kModeUpdate && p == tree->traverser;
                else
                    writeBack =
                        tree->mode == kModeUpdate && AveragingActive(tree) && p == 1 - tree->traverser;
            }
            streams[p] = s->pack(streams[p], ctx->turn, writeBack);
        }
    }
    for (int32_t child : node->children) {
        TraversalContext c =
            WalkContext(ctx->tree, &ctx->tree->nodes[child], ctx->turn, ctx->river);
        PackUnpackSubtree(unpack, &c, streams, which, sizes, rule);
    }
}

void OpenRiverKind(SolvedTree* tree, TreeNode* top, int32_t turn, uint8_t which, WalkRule rule) {
    uint64_t sizes[2] = {0, 0};
    if (top->kind == 0 && StorageOf(top, which))
        sizes[top->player] += static_cast<uint64_t>(StorageOf(top, which)->size(turn));
    for (int32_t child : top->children) {
        TraversalContext c = WalkContext(tree, &tree->nodes[child], turn, -1);
        SubtreeStorageSize(&c, which, sizes);
    }
    StorageStreamInterface* streams[2] = {nullptr, nullptr};
    TraversalContext ctx = WalkContext(tree, top, turn, -1);
    PackUnpackSubtree(true, &ctx, streams, which, sizes, rule);
    for (StorageStreamInterface* s : streams)
        if (s) s->tallyBytes();
}

void CloseRiverKind(SolvedTree* tree, TreeNode* top, int32_t turn, uint8_t which, WalkRule rule) {
    StorageStreamInterface* streams[2] = {nullptr, nullptr};
    TraversalContext ctx = WalkContext(tree, top, turn, -1);
    PackUnpackSubtree(false, &ctx, streams, which, nullptr, rule);
    for (StorageStreamInterface* s : streams)
        if (s) s->finish();
}

namespace {

// Queries and edits open both kinds whatever the tree's mode; every storage that exists.
void OpenAll(SolvedTree* tree, TreeNode* top, int32_t turn) {
    OpenRiverKind(tree, top, turn, 0, WalkRule::All);
    OpenRiverKind(tree, top, turn, 1, WalkRule::All);
}

void CloseAll(SolvedTree* tree, TreeNode* top, int32_t turn, bool writeBack) {
    const WalkRule rule = writeBack ? WalkRule::All : WalkRule::None;
    CloseRiverKind(tree, top, turn, 0, rule);
    CloseRiverKind(tree, top, turn, 1, rule);
}

}  // namespace

void LockNodeStorage(TreeNode* node, int32_t turn) {
    if (node->street != 3) return;
    LockFor(node, turn, true);
    OpenAll(g_solvedTree, RiverTop(node), turn);
}

void UnlockNodeStorage(TreeNode* node, int32_t turn, bool writeBack) {
    if (node->street != 3) return;
    CloseAll(g_solvedTree, RiverTop(node), turn, writeBack);
    LockFor(node, turn, false);
}

void PackRiverSubtree(TreeNode* node, int32_t turn, int32_t river, bool writeBack) {
    if (river < 0) return;
    CloseAll(g_solvedTree, RiverTop(node), turn, writeBack);
}

void GatherByIndex(float dst[1326], const PooledArray& src, const uint16_t* table, bool nan) {
    float missing = 0.0f;
    if (nan) {
        const uint32_t bits = 0x7FC00000u;
        std::memcpy(&missing, &bits, sizeof missing);
    }
    for (int i = 0; i < 1326; ++i) {
        const int16_t k = static_cast<int16_t>(table[i]);
        dst[i] = k >= 0 ? (src.data ? src.data[k] : 0.0f) : missing;
    }
}

void ScatterComboValues(PooledArray& row, const double values[1326], const uint16_t* table) {
    for (int i = 0; i < 1326; ++i) {
        const int16_t k = static_cast<int16_t>(table[i]);
        if (k >= 0) row.data[k] = static_cast<float>(values[i]);
    }
}

void RunoutHandValues(float out[1326], const SolvedTree* tree, const PooledArray& row, int32_t turn,
                      int32_t river, bool nan) {
    for (int i = 0; i < 1326; ++i) out[i] = 0.0f;
    const HandSet& hs = *tree->hands;
    const uint16_t* table = river >= 0  ? hs.records[turn].rivers[river].index
                            : turn >= 0 ? hs.records[turn].index
                                        : hs.index;
    GatherByIndex(out, row, table, nan);
}

void UnfoldComboValues(const SolvedTree* tree, double out[1326], const float values[1326],
                       int32_t turnCard, int32_t riverCard) {
    if (!(tree->flags & kTreeIsomorphism)) {
        for (int i = 0; i < 1326; ++i) out[i] = values[i];
        return;
    }
    const CardMask turnMask = turnCard >= 0 ? CardMask{1} << turnCard : 0;
    const CardMask riverMask = riverCard >= 0 ? CardMask{1} << riverCard : 0;
    MapComboValuesToBoardSuits(tree->board, turnMask, riverMask, out, values);
}
