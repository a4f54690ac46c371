// The command loop's own commands: readiness, elapsed time, and scripts.
#pragma once

#include "interpreter/command_loop.h"

// "is_ready ok!".
void cmd_is_ready(CommandWords& words);
// Seconds since start-up as "%f"; no acknowledgement.
void cmd_solver_time(CommandWords& words);
// skip_if_done <file> <label>: when the file exists, ignore lines up to "LABEL: <label>".
void cmd_skip_if_done(CommandWords& words);
// load_script <file>: runs the file's lines as if typed. Refuses "can't open file", and a
// nesting deeper than kMaxScriptNesting with "nesting too deep".
void cmd_load_script(CommandWords& words);

inline constexpr int kMaxScriptNesting = 64;
