// Commands that read and edit the strategy of one decision node of the built tree: the strategy
// lines and table, node and per-combination locks, overwriting one action's strategy, an
// action's EV boost. Every check runs before the first library call, so a refused command
// changes nothing. None refuses while the solver runs: the library takes its own locks.
#pragma once

#include "interpreter/command_loop.h"

// show_strategy <path>: one line of 1326 probabilities (canonical order, "%.12g", "0" for a
// combination without a value) per action, then "END".
void cmd_show_strategy(CommandWords& words);
// show_strategy_pp <path>: "<combo>:" and "  %.6f" per action for each combination of the
// acting player's range, strongest first; then "END".
void cmd_show_strategy_pp(CommandWords& words);
// show_locked_combos <path>: one line, 1 for a locked combination, else 0; no "END".
void cmd_show_locked_combos(CommandWords& words);
// lock_node / unlock_node <path>: the node lock of the path's runout; "%s ok!".
void cmd_lock_node(CommandWords& words);
void cmd_unlock_node(CommandWords& words);
// set_strategy <path> <child> <1326 values>: the child's probability per combination.
void cmd_set_strategy(CommandWords& words);
// combo_lock_node <path> <1326 values>: locks the combinations whose value is not 0.
void cmd_combo_lock_node(CommandWords& words);
// set_ev_boost <path of an action> <x in [-0.99, 1]>: the boost of the action the path ends in.
void cmd_set_ev_boost(CommandWords& words);
