// Edits of a solved node before or between solves, also while the solver runs: node locks,
// per-combination locks, overwriting one action's strategy, the EV boost of an action; and the
// listing of per-combination locks. Every edit holds the solver mutex for its whole duration, so
// it lands between two one-player traversals; a lock made through a card applies to the
// canonical runout, so to every card isomorphic to it.
//
// Node, action and runout arguments as libsubgame_get_combo_strategy (strategy_queries.h): a
// decision node, 0 <= action < its child count, exactly the real cards of its street.
// Per-combination values are 1326 doubles in ComboIndex order and the board's real suits.
#pragma once

#include <cstdint>

enum EditResult : int32_t {
    kEditDone = 0,
    kEditRefused = 1,    // no tree, or arguments that do not fit: nothing changed
    kEditNoStorage = 2,  // the node has no regret storage (even after a re-solve): nothing changed
    kEditTooLarge = 3,   // a strategy weight the node's regrets cannot keep: nothing changed
};

// lock 1: the node's runout is locked (no regret update, no strategy-sum accumulation), lock 0:
// unlocked; either way its per-combination locks are dropped. Kept in step in the regret and the
// strategy-sum storage.
int32_t libsubgame_set_node_lock(int32_t node, int32_t turnCard, int32_t riverCard, uint8_t lock);

// Per-combination locks: a hand is locked where its value is not 0 (NaN locks), free where it is
// 0; combinations not on the runout's list are ignored. Clears the node lock.
int32_t libsubgame_combo_lock_node(int32_t node, int32_t turnCard, int32_t riverCard,
                                   const double* values);

// The action's regrets := 1000 x value per hand (a negative or NaN value counts as 0; 16-bit
// rows keep whole thousandths, the rest cut off); with averaging in effect the action's strategy
// sums are zeroed too. Set every action of the node: regret matching normalises over the actions.
// kEditTooLarge, before anything changes, when a value exceeds what the regrets keep at 1000 x
// (65.535 on 16-bit rows, else 1e30): saturated weights would give another strategy than their
// ratio.
int32_t libsubgame_set_strategy(int32_t node, int32_t action, int32_t turnCard, int32_t riverCard,
                                const double* values);

// out[1326] := 1.0 for a locked hand, 0.0 for a free one (all free without a mask), NaN for a
// combination not on the runout's list. out unchanged when the result is not kEditDone.
int32_t libsubgame_get_locked_combos(int32_t node, int32_t turnCard, int32_t riverCard,
                                     double* out);

// Stores the boost on node (any node: it scales the values of the action leading to it at its
// parent's regret updates from the next update on). Refused without a tree, for an index out of
// range or a boost that is not finite.
int32_t libsubgame_set_ev_boost(int32_t node, float boost);
