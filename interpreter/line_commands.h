// Commands that edit the betting-line set. Each replies "<word> ok!".
#pragma once

#include "interpreter/command_loop.h"

// add_line <amount>...: enters one line of cumulative amounts.
void cmd_add_line(CommandWords& words);
// force_line <amount>...: the same, erasing every other branch along the line.
void cmd_force_line(CommandWords& words);
// remove_line <amount>...: removes the node the amounts reach (0 after a bet is the fold).
void cmd_remove_line(CommandWords& words);
// clear_lines / free_schematic_tree: an empty set.
void cmd_clear_lines(CommandWords& words);
