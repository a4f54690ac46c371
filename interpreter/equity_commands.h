// Showdown equity of each combination against the other player's range, and a player's range
// narrowed by that player's own actions on the way to a node. Main thread only; the library
// takes its own locks, so none of these refuses while the solver runs.
#pragma once

#include <string>
#include <vector>

#include "interpreter/command_loop.h"
#include "interpreter/node_path.h"

// The player's range (the built tree's copy; the entered one without a tree), ComboIndex order,
// times the probability of each own action between the root and the path's node (never the
// node's own strategy). An empty path text gives the range itself, which is empty when never
// set. Passes on the node path's errors; a turn or river node without its card is
// "incorrect path".
std::vector<double> range_at_node(int player, const std::string& path_text);
// The same for a parsed path whose cards are complete.
std::vector<double> range_at_path(int player, const NodePath& path);

// A node's equity total from lists in ComboIndex order, summed in that order: sum of equity x
// weight over the non-NaN equities, divided by the sum of the non-NaN weights (printf's text
// for the division by 0 of a node nobody reaches).
double equity_total(const std::vector<double>& equity, const std::vector<double>& weight);

// calc_eq <player>: equities (canonical order, "%.9g", "nan"), weights ("%.9g", "0"), "END".
void cmd_calc_eq(CommandWords& words);
// calc_eq_node <player> <path>: the same for the ranges reaching the node, then the node total.
void cmd_calc_eq_node(CommandWords& words);
// calc_eq_pp <player>: "<combo>: <100 x equity>; <weight>" for the player's combinations,
// strongest first, then "END".
void cmd_calc_eq_pp(CommandWords& words);
