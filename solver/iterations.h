// One-player traversals, iterations and best responses on the solved tree, and the library
// entry points that start a solve and report results.
#pragma once

#include <cstdint>

#include "solver/iteration_log.h"
#include "solver/traversal_modes.h"

struct SolvedTree;

struct TraversalSums {
    double bestResponseSum;
    double valueSum;
};

// The three passes of one traversal for player p in the given mode, under the solver mutex;
// the root sums are weighted by player p's root weight row.
TraversalSums TraverseForPlayer(SolvedTree* tree, int32_t p, TraversalMode mode);

struct IterationValues {
    double mean;
    double value1;
    double value0;
};
// Whether river strategy sums accumulate at an iteration: on flop trees by the schedule of the
// tree's compression level, on turn and river roots always.
uint8_t RiverAveragingAt(const SolvedTree* tree, int32_t iteration);

// One iteration: player 1, then player 0, in mode 1; then iteration += 1 and "NEW_TREE" clears.
IterationValues RunIteration(SolvedTree* tree);

struct BestResponseResult {
    double exploitability;
    double meanValue;
};
// resultP = {best-response value, value} of player p.
BestResponseResult CalcBestResponse(SolvedTree* tree, double result0[2], double result1[2],
                                    TraversalMode mode);

// True when every decision node above a forgotten street has its regret storage.
bool TreeHasStorages(const SolvedTree* tree);

// 1 when the solve started; 0, starting nothing, without a tree, while a solver thread exists,
// with "INCOMPLETE_TREE" set, or when a node's storage cannot be made ready.
int32_t libsubgame_start_solver(int32_t budget, uint8_t steps);
// 1 when "INCOMPLETE_TREE" is clear. Requires a tree.
uint32_t libsubgame_tree_complete();
// Brings the stored results up to date (one strategy profile, under the solver mutex) and writes
// them into out. Requires a tree.
void libsubgame_calc_results(IterationLogRecord* out);
