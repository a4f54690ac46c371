// The vectorised river path of a regret-update traversal: a river subtree is flattened with the
// opponent's reach, all its terminal payoffs are computed by the batched kernels, and an update
// walk forms the values and updates the regrets. Same row operations, in the same order, as the
// scalar walk without its two-terminal kernels.
#pragma once

#include <cstdint>
#include <vector>

#include "storage/traversal_context.h"

struct TreeNode;

// A river root of a mode-1 walk whose simd level is above 1: fills ctx->value per hand of the
// river record and updates the subtree's regrets (traverser) and strategy sums (opponent),
// whatever the pass. TraverseNode has just rebuilt the thread's flag words and emptied its
// scratch; every terminal row is back in the pool when this returns.
void TraverseRiverSimd(TraversalContext* ctx);

// Phase 1: carries the opponent's reach down to every terminal and appends one scratch entry
// (signed amount, kind, reach copy) per terminal in walk order.
void FlattenRiverSubtree(TraversalContext* ctx);
// The traverser's node: the reach passes to each child unchanged.
void FlattenOwnDecision(TraversalContext* ctx);
// The opponent's node: strategy sums accumulated (when averaging applies), then the reach split
// by the current strategy.
void FlattenOppDecision(TraversalContext* ctx);

// Phase 2: the payoff rows of the listed terminals (scratch indices, ascending, each with
// reach), in batches cut by the tree's simd level.
void EvaluateShowdownTerminals(TraversalContext* ctx, const std::vector<int32_t>& terminals);
void EvaluateFoldTerminals(TraversalContext* ctx, const std::vector<int32_t>& terminals);

// Phase 3, taking the terminal rows back in walk order: the traverser's node forms its value
// with the EV boost and updates its regrets; the opponent's node adds its children's values.
void RiverUpdateOwn(TraversalContext* ctx);
void RiverUpdateOpp(TraversalContext* ctx);

// Test and bench instrumentation: what one river root did, handed to the observer on the thread
// that walks it, once before the walk (finished false, only the first fields set) and once after
// (observers may run on several threads at once).
struct RiverRootReport {
    bool finished;
    const TraversalContext* context;  // valid during the call only; after the walk value is set
    const TreeNode* root;
    int32_t turn;
    int32_t river;
    int32_t simdLevel;
    int32_t terminals;                    // terminals of the subtree
    int32_t nullTerminals;                // terminals without reach: no kernel call
    std::vector<int32_t> showdownWidths;  // kernel calls in call order
    std::vector<int32_t> foldWidths;
    int64_t nanoseconds;        // wall time of the whole root
    int64_t kernelNanoseconds;  // of which in the payoff kernels (phase 2)
};
using RiverRootObserver = void (*)(const RiverRootReport&);
// Installs the observer (null: none, the default). Nothing is measured without one.
void SetRiverRootObserver(RiverRootObserver observer);
