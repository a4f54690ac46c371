// Re-solving every subgame of a street (solve_all_splits).
#pragma once

#include <cstdint>

struct SolvedTree;

// Re-solves every subgame that begins on street 2 (turns) or 3 (rivers), both players, for as
// many iterations as the tree has run (at least one), then drops any forgotten state.
bool SolveSubgames(SolvedTree* tree, int32_t street);
// SolveSubgames on the global tree; a StreetResult. Refused, changing nothing, without a tree,
// while the solver runs, for a street other than 2 and 3 or not below the root's street, and
// with "INCOMPLETE_TREE" set or storages missing.
int32_t libsubgame_solve_all_splits(int32_t street);
