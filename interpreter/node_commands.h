// Node display and two small tree commands: show_node, show_children, show_effective_stack,
// set_rake. Reports are built from the line set, the node path and the tree's own copy of its
// board and pot; only the flags line asks the solver library. Main thread only.
#pragma once

#include <string>

#include "interpreter/command_loop.h"
#include "interpreter/node_path.h"

// "ROOT", "SPLIT_NODE", "IP_DEC", "OOP_DEC" or "END_NODE", tested in that order. A chance node
// is a path ending in a street-closing call or check with a street still to deal (at most 3).
const char* node_kind_name(const NodePath& path);
bool is_decision_node(const NodePath& path);
bool is_root_path(const NodePath& path);
// Label of the i-th child of a node: "b<key as %d>" for a bet or raise, "c" for a check or
// call, "f" for the fold.
std::string action_label(const LineNode& node, int i);

// The node report: header, kind, board, pot line, child count, flags line.
void print_node(const std::string& header, const NodePath& path);

void cmd_show_node(CommandWords& words);
void cmd_show_children(CommandWords& words);
void cmd_show_effective_stack(CommandWords& words);
void cmd_set_rake(CommandWords& words);
