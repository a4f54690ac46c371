// The record through which a value query names the one node (and runout) whose values a mode-2
// walk must hand back, and the collection step the walk runs after every node.
#pragma once

#include <cstdint>

#include "storage/pooled_array.h"
#include "storage/traversal_context.h"

struct TreeNode;

// Created on the stack of the value query, reached through SolvedTree::target for the length of
// one evaluation (solver mutex held). Only the single-runout form exists: the walk collects at
// exactly (node, turn, river).
struct TargetRecord {
    TreeNode* node = nullptr;  // the target node
    int32_t turn = -1;         // turn record index the values are wanted at; -1 none
    int32_t river = -1;        // river record index under it; -1 none
    // Per hand of the target's level: value per unit of compatible opponent reach, and
    // divisor x own reach x compatible opponent reach (divisor 1980, 44 or 1 by level). Heap
    // rows; the creator releases them.
    PooledArray valueRow;
    PooledArray weightRow;
    uint8_t split = 0;  // always 0: the per-runout form has no caller
};

// Called by TraverseNode after every node in mode 2, passes 1 and 2: when ctx is the target of
// the tree's record, fills the record's rows from ctx's value and reach rows. Nothing otherwise.
void CollectTargetNode(const TraversalContext* ctx);
