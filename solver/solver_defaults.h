// The settings a tree build or storage reset sets (SetSolverDefaults). The settings are atomics: the solver thread and its workers read them.
#pragma once

#include <cstdint>

struct SolvedTree;

// Iteration cap, averaging exponent and cap, and river delay for the tree's root street and the
// storage kinds {river regrets, river strategy sums}: flop and turn roots exponent 1.5 and cap
// 262143, river roots 4.0 and the largest finite double; only a flop root keeps the kinds
// (turn and river roots store {0, 0}); the tree records the compression level whose kinds these
// are, and the river delay is that level's on every root street. Fatal for kinds of no level.
// payoffScale := 125 / maxAmount, or 1.0 when every leaf amount is 0.
void SetSolverDefaults(SolvedTree* tree, const int32_t kinds[2]);

int32_t SolverIterationCap();
double AveragingExponent();
double AveragingCap();
int32_t RiverDelay();
