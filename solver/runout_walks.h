// Opening and closing the packed river rows of one turn card's river subtree, the lock that
// guards them, and the conversions between a runout's hand row and 1326 combination values.
#pragma once

#include <cstdint>

#include "storage/pooled_array.h"
#include "storage/traversal_context.h"

struct SolvedTree;
struct TreeNode;
class StorageStreamInterface;

// Which storages a subtree walk opens or writes back.
enum class WalkRule {
    Solve,  // the traversal's rule: open what the tree's mode and traverser read, write back
            // only what they change
    All,    // every storage of the kind (queries and edits)
    None,   // pack without write-back (a query leaves the packed rows as they were)
};

// Adds, per acting player, the value counts of the river decision nodes in ctx's subtree;
// which 0 counts regrets, 1 strategy sums.
void SubtreeStorageSize(const TraversalContext* ctx, uint8_t which, uint64_t sizes[2]);

// Pre-order over the river decision nodes of ctx's subtree, threading one stream per acting
// player: unpack opens the storages of one kind, pack closes them. sizes is null when packing.
void PackUnpackSubtree(bool unpack, const TraversalContext* ctx, StorageStreamInterface* streams[2],
                       uint8_t which, const uint64_t sizes[2], WalkRule rule);

// Opens (unpack, then tallyBytes on each stream) or closes (pack, then finish) one kind of
// storage (which 0 regrets, 1 strategy sums) below a river top for turn record `turn`.
void OpenRiverKind(SolvedTree* tree, TreeNode* top, int32_t turn, uint8_t which, WalkRule rule);
void CloseRiverKind(SolvedTree* tree, TreeNode* top, int32_t turn, uint8_t which, WalkRule rule);

// Takes the lock of a street-3 node's river storages (the turn mutex on flop-rooted trees, the
// solver mutex otherwise) and opens every existing storage of its river subtree for `turn`.
// No effect on other streets.
void LockNodeStorage(TreeNode* node, int32_t turn);
// Closes the subtree (writing back every opened storage when writeBack, else none) and unlocks.
void UnlockNodeStorage(TreeNode* node, int32_t turn, bool writeBack);
// The closing half without the lock; nothing when river < 0.
void PackRiverSubtree(TreeNode* node, int32_t turn, int32_t river, bool writeBack);

// dst[i] := src[table[i]] for listed combinations, else NaN (bits 7FC00000) or 0.
void GatherByIndex(float dst[1326], const PooledArray& src, const uint16_t* table, bool nan);
// row[table[i]] := values[i] for every listed combination.
void ScatterComboValues(PooledArray& row, const double values[1326], const uint16_t* table);
// 1326 values of a runout's hand row, through the index table of the runout's level.
void RunoutHandValues(float out[1326], const SolvedTree* tree, const PooledArray& row, int32_t turn,
                      int32_t river, bool nan);
// 1326 values of the canonical board written under the real board's combinations.
void UnfoldComboValues(const SolvedTree* tree, double out[1326], const float values[1326],
                       int32_t turnCard, int32_t riverCard);
