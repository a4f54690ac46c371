// Expected value of each combination of one player at one node of the solved tree: the
// best-response refresh that stores the chance nodes' values, the reach along the node's line,
// and a target-collecting walk of the subtree below the node only.
#pragma once

#include <cstdint>

// ev[1326], weight[1326] (ComboIndex order, the board's real suits) := the player's value of each
// combination at the node for the runout of turnCard, riverCard (real cards, -1 not dealt: every
// card of the node's street, the first node of a street also without that street's card), per
// unit of compatible opponent reach, and the weight runout count x own reach x compatible
// opponent reach. NaN where the combination meets a dealt card or the tree's range of the player
// is exactly 0. Runs the forgotten-street re-solve first, then holds the solver mutex for a
// best-response refresh when the stored results are older than the iteration count and for the
// walk. Without a tree or storages, for a bad player, node or runout, or split != 0 (the
// per-runout form has no caller), both arrays are left as they were. Safe while the solver runs.
void libsubgame_calc_combo_ev(int32_t player, int32_t node, int32_t turnCard, int32_t riverCard,
                              double* ev, double* weight, uint8_t split);

// How many best-response refreshes the value queries have run since the process began.
uint64_t ValueQueryRefreshCount();
