// Solver control commands: start, stop and wait for the solver thread, report its results,
// the memory report and the size of the entered line tree.
#pragma once

#include <cstdint>

#include "interpreter/command_loop.h"

// go [<n> seconds | <n> steps]: starts the solver thread. Refuses without a tree, while the
// solver runs, on an incomplete tree, and with "out of memory" when the storages cannot be made
// ready.
void cmd_go(CommandWords& words);
// The result summary of the current strategies.
void cmd_calc_results(CommandWords& words);
// Requests a stop of a running solve; does not wait.
void cmd_stop(CommandWords& words);
// Requests a stop, then sleeps n seconds before replying.
void cmd_take_a_break(CommandWords& words);
// Sleeps n milliseconds; no reply.
void cmd_sleep(CommandWords& words);
// Returns once no solver thread runs; no reply.
void cmd_wait_for_solver(CommandWords& words);
// Total and available physical memory.
void cmd_show_memory(CommandWords& words);
// Decision, split and end nodes of the entered lines per player and street.
void cmd_node_count(CommandWords& words);
// "true" or "false".
void cmd_is_tree_present(CommandWords& words);

// Node counts of the entered line set, weighted by the runouts each street stands for.
// 64-bit: river nodes weigh 2352 each, so large trees pass 2^31.
struct NodeCounts {
    int64_t decisions[2][4] = {};  // [player][street 1..3]
    int64_t decisionTotal[2] = {};
    int64_t splits[4] = {};  // [street 1..3]
    int64_t splitTotal = 0;
    int64_t ends[4] = {};
    int64_t endTotal = 0;
    int64_t total = 0;  // without the root's own 1
};
NodeCounts count_line_nodes();
