// The hand classifier's commands: category names, and both categories of every combination on
// a board given in the command.
#pragma once

#include "interpreter/command_loop.h"

// show_category_names: the 19 made-hand names, the 5 draw names, "END".
void cmd_show_category_names(CommandWords& words);
// show_categories <cards...>: the words joined and read as 3 to 5 cards ("invalid board"
// otherwise, "ERROR: invalid card" for a bad or repeated card); two lines of 1326 numbers in the
// canonical combination order, then "END".
void cmd_show_categories(CommandWords& words);
