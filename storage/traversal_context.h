// The argument record of every traversal call. The solver owns its meaning; the row layer only
// releases its rows (ReleaseFourRows), so the tree types are named, not included.
#pragma once

#include <cstdint>

#include "storage/pooled_array.h"

struct SolvedTree;
struct TreeNode;

// Fields in order; a subgame job is a heap copy of this record extended by the chance-node
// code's own words.
struct TraversalContext {
    SolvedTree* tree = nullptr;  // the tree being walked
    TreeNode* node = nullptr;    // the node this call handles
    int32_t turn = -1;           // dealt turn record index in the hand set, -1 before the turn
    int32_t river = -1;          // dealt river record index under that turn, -1 before the river
    PooledArray opponentReach;   // input: reach of the traverser's opponent, per hand
    PooledArray value;           // output: the traverser's counterfactual value per hand
    PooledArray ownReach;        // input: the traverser's own reach per hand
    PooledArray bestResponse;    // output in best-response mode: best-response value per hand
};
