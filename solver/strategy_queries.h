// What the solved strategy does at a decision node: each action's probability per combination.
#pragma once

#include <cstdint>

// out[1326] (ComboIndex order, the board's real suits) := the probability of `action` at
// decision node `node` for the runout of turnCard and riverCard (real cards, -1 when not
// dealt; exactly the cards of the node's street). Shown is the average strategy from iteration
// 63 on when the node keeps strategy sums, else regret matching with the uniform default 1/n.
// NaN for a combination with weight that meets a board or dealt card, 0.0 where the acting
// player's input range is 0. raw must be 0 (rawCount is not written). Without a tree, for an
// index, action or runout that does not fit, out is left as it was. Safe while the solver runs:
// river nodes are read under the lock of their turn card's river storages.
void libsubgame_get_combo_strategy(int32_t node, int32_t action, int32_t turnCard,
                                   int32_t riverCard, double* out, uint8_t raw, int32_t* rawCount);

// Every action of the node at once: out[a * 1326 + combo] for a below the child count, as
// libsubgame_get_combo_strategy gives them but from one reading of the node's storages, so the
// actions of a combination sum to 1 even while the solver runs. Returns the number of actions
// written, 0 (out untouched) when the arguments do not fit or the node has no storage.
int32_t libsubgame_get_node_strategy(int32_t node, int32_t turnCard, int32_t riverCard,
                                     double* out);
