// Lock state of a node's runout, as text for the node listing.
#pragma once

#include <cstdint>
#include <string>

// "LOCKED", "COMBO_LOCKED", both joined by one blank, or empty: the lock record of the node's
// regret storage at the runout of the two cards (real suits, -1 when not dealt). Empty without
// a tree, for a node index out of range, a node without storage, or a turn or river node whose
// runout the cards do not name.
void libsubgame_node_flags_text(std::string* out, int32_t node, int32_t turnCard,
                                int32_t riverCard);
