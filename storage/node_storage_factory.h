// Chooses and creates the storages of one decision node: the regret storage and, when the tree
// averages, the strategy-sum storage, from the node's street, the root street, the tree's format
// version and the two stream kinds of its compression level.
//
//   street 1                 StorageUnit (both)
//   street 2                 TurnStorage, one unit per turn record (both)
//   street 3 regrets         RiverStorage when rootStreet = 3, or 2 with formatAtLeast5;
//                            else CompressedRiverStorage (16-bit) when streamKinds[0] != 0;
//                            else ShortRiverStorage
//   street 3 sums            only with withSums and riverStrategyEnabled:
//                            CompressedRiverStorage (32-bit) when streamKinds[1] != 0, else
//                            RiverStorage
// New storages hold no values until their reset.
#pragma once

#include <cstdint>

#include "storage/storage_interface.h"

struct HandSet;
struct FlatIndexLists;

// What the factory reads and writes of a tree node.
struct NodeStorageSlots {
    int32_t kind;         // 0 decision; leaves get nothing
    int32_t street;       // 1 flop, 2 turn, 3 river
    int32_t actionCount;  // the node's child count
    StorageInterface** regrets;
    StorageInterface** strategySums;
    uint8_t* resident;
};

// What the tree tells the factory about all its nodes' storages.
struct NodeStorageOptions {
    bool withSums = true;               // the tree averages: strategy-sum storages too
    int32_t rootStreet = 1;             // street of the tree's root
    uint32_t streamKinds[2] = {0, 0};   // river regrets, river strategy sums
    bool formatAtLeast5 = false;        // the tree's format version is 5 or later
    bool riverStrategyEnabled = true;   // the tree's captured copy of the switch
};

// Replaces the node's storages (the old ones are destroyed and resident cleared first); a leaf
// is left untouched. Returns the number of values the new regret storage holds once reset (0
// for a leaf), which the caller adds into its per-street total. layout is the tree's index
// lists for the node's action count (river nodes keep a pointer to it). Fatal for a street
// outside 1-3 and for a stream kind other than 0, 1 and 2 ("unknown stream kind").
int64_t CreateNodeStorages(const NodeStorageSlots& node, const HandSet* hands,
                           const FlatIndexLists* layout, const NodeStorageOptions& options);

// The same on a tree node record (fields kind, street, children, regrets, strategySums,
// resident), adding the regret storage's values into streetBytes[street].
template <class Node, class Total>
void CreateNodeStorages(Node* node, const HandSet* hands, const FlatIndexLists* layout,
                        Total* streetBytes, const NodeStorageOptions& options) {
    const NodeStorageSlots slots{
        node->kind,     node->street,        int32_t(node->children.size()),
        &node->regrets, &node->strategySums, &node->resident};
    const int64_t values = CreateNodeStorages(slots, hands, layout, options);
    if (node->kind == 0) streetBytes[node->street] += Total(values);
}
