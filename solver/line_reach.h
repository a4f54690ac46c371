// Both players' reach along the one line from the root to a node at one runout, and the checks
// that a node and its dealt cards name something the value and frequency queries can walk to.
#pragma once

#include <cstdint>
#include <vector>

#include "storage/pooled_array.h"

struct SolvedTree;
struct TreeNode;

// A node and runout reference a query may ask about.
struct QueryTarget {
    TreeNode* node = nullptr;
    int32_t index = -1;
    int32_t turn = -1;  // runout reference (canonical suits)
    int32_t river = -1;
};

// Fills out for node `node` at the real cards turnCard, riverCard (-1 not dealt). The cards
// must be two distinct cards off the board with records (a river only under a turn), the root's
// own cards on a turn- or river-rooted tree, and fit the node: every card of its street and
// none later, except that the first node of a street may lack that street's card (its chance
// view). False, out unusable, otherwise or without a tree.
bool ResolveQueryTarget(SolvedTree* tree, int32_t node, int32_t turnCard, int32_t riverCard,
                        QueryTarget* out);

// Child positions from the root down to the node.
std::vector<int32_t> PathToNode(const SolvedTree* tree, const TreeNode* node);

// reach[0], reach[1] := player 0's and player 1's reach at the target over its level, walking
// the root's reach rows down the path with the evaluation strategy of each node (the acting
// player's row times the strategy of the action taken). Rows whose reach vanished are null
// with their count. The river storages the path crosses must be open. Uses the calling
// thread's pool; releases nothing of the caller's.
void CalcLineReach(SolvedTree* tree, const QueryTarget& target, PooledArray reach[2]);

// The first node of the river street at or above a street-3 node: the top of the subtree whose
// river storages one turn card's unpack opens.
TreeNode* RiverSubtreeTop(TreeNode* node);

// Opens every existing river storage (both kinds) of the subtree holding a street-3 target for
// its turn record, and closes it again without write-back: queries only read.
void OpenQuerySubtree(SolvedTree* tree, const QueryTarget& target);
void CloseQuerySubtree(SolvedTree* tree, const QueryTarget& target);
