// Commands that forget the storages of late streets, make them again, and re-solve streets or
// single subtrees of a solved tree. Each refuses without a tree and while the solver runs.
#pragma once

#include "interpreter/command_loop.h"

// forget rivers|turns: frees the storages of that street and every later one.
void cmd_forget(CommandWords& words);
// rebuild_forgotten_streets, rebuild_all: fresh storages for the forgotten streets.
void cmd_rebuild_forgotten_streets(CommandWords& words);
// solve_all_splits rivers|turns: re-solves every subgame of the street.
void cmd_solve_all_splits(CommandWords& words);
// solve_partial <path>: re-solves the forgotten subtree holding a decision node at its runout.
void cmd_solve_partial(CommandWords& words);
// explo_partial <path>: as solve_partial, printing the re-solve's last check value.
void cmd_explo_partial(CommandWords& words);
