// The recursive walk every solve, best response and value query runs: one call handles one
// node for one traversing player and one dealt runout (scalar path).
#pragma once

#include <cstdint>
#include <vector>

#include "storage/pooled_array.h"
#include "storage/traversal_context.h"

struct SolvedTree;
struct TreeNode;

// Fills ctx->value (and ctx->bestResponse in mode 0) for ctx->node. The caller sets tree, node,
// turn, river and the reach rows, leaves value and bestResponse null, and releases every row.
void TraverseNode(TraversalContext* ctx);
void EvalTerminalNode(TraversalContext* ctx);
void TraverseOwnDecision(TraversalContext* ctx);
void TraverseOppDecision(TraversalContext* ctx);

// Regret matching over storage A with the first-action default {max(1/n, 0.9), rest shared};
// out holds one row per child.
void CurrentStrategy(const TreeNode* node, PooledArray* out, int32_t turn, int32_t river);
// The same with the uniform default 1/n.
std::vector<PooledArray> CurrentStrategyUniformDefault(const TreeNode* node, int32_t turn,
                                                       int32_t river);
// Normalised strategy sums; a hand without sums takes the uniform-default current strategy.
std::vector<PooledArray> AverageStrategy(const TreeNode* node, int32_t turn, int32_t river);
// The strategy evaluation walks use (modes 0 and 2) at a node of the tree.
std::vector<PooledArray> EvaluationStrategy(const SolvedTree* tree, const TreeNode* node,
                                            int32_t turn, int32_t river);

// The EV boost of `child` applied to its value row at `node` (regret-update walks only): a fold
// child scaled by 1 - b; a showdown child or a later-street decision by 1 + b above zero and
// 1 / (1 + b) below; a same-street decision by 1 + b above zero only.
void ApplyEvBoost(const TreeNode* node, const TreeNode* child, PooledArray* row);

// Test-only: off makes the scalar walk evaluate a river node's two terminal children one by
// one, as the vectorised river path does, so the two paths can be compared bit for bit.
void SetTwoTerminalKernels(bool on);

// Delayed averaging weight min(max(t - kAveragingDelay, 0)^exponent, cap).
double AverageWeight(int32_t t);

// Number of hands of the level of a runout reference: river record, turn record or flop list.
int32_t LevelHandCount(const SolvedTree* tree, int32_t turn, int32_t river);

// Releases every row of a strategy or value vector.
void ReleaseRows(std::vector<PooledArray>& rows);
