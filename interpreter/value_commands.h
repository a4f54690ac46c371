// Range, reach, expected-value and line-frequency queries at a node of the built tree. Every
// check runs before the first library call; the library takes its own locks, so none of these
// refuses while the solver runs. Answers use the tree's own board, pot and ranges.
#pragma once

#include "interpreter/command_loop.h"

// show_range <player> [<path>]: the range reaching the node ("%.12g", "0" for NaN), no "END";
// nothing at all for a range never set.
void cmd_show_range(CommandWords& words);
// show_probs <path>: "OOP <p0> IP <p1> " and, at a decision node, each action's share of the
// acting player's reach ("b33 0.25 c 0.75").
void cmd_show_probs(CommandWords& words);
// calc_ev <player> <path>: EVs plus half the pot ("%.9g", "nan"), weights ("%.9g", "0"), "END".
void cmd_calc_ev(CommandWords& words);
// calc_ev_pp <player> <path>: "<combo>: <ev>; <weight>" for the player's combinations,
// strongest first, then "END".
void cmd_calc_ev_pp(CommandWords& words);
// calc_ev_line <player> <path>: 1326 zeros, 1326 ones, "END" once the arguments check out.
void cmd_calc_ev_line(CommandWords& words);
// calc_line_freq <path>: the share of the root's reach mass that follows the path's line over
// every card the line may meet; "1" while a street is forgotten.
void cmd_calc_line_freq(CommandWords& words);
// calc_global_freq <path>: the share that reaches the node with the path's own cards.
void cmd_calc_global_freq(CommandWords& words);
