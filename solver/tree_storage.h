// The tree's link to the node storage factory and the storage traffic counters.
#pragma once

#include <cstdint>

struct SolvedTree;
struct TreeNode;

// Makes the node's storages anew for the tree's hand set, layouts, stream kinds and captured
// river strategy switch, adding the regret storage's size into the tree's street totals. Leaves
// get none.
void MakeNodeStorages(SolvedTree* tree, TreeNode* node, int32_t rootStreet);
// The same, adding the size into streetBytes[4] instead.
void MakeNodeStorages(SolvedTree* tree, TreeNode* node, int32_t rootStreet, uint64_t* streetBytes);

// Clears the bytes-read and bytes-written traffic counters.
void ClearStorageTraffic();
// Packed bytes the storages have read and written since the tree's storage was made.
void libsubgame_storage_traffic(uint64_t* bytesRead, uint64_t* bytesWritten);
