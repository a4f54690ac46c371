#include "interpreter/solver_commands.h"

#include <sys/sysinfo.h>

#include <chrono>
#include <thread>
#include <vector>

#include "interpreter/console_state.h"
#include "interpreter/line_set.h"
#include "interpreter/meminfo.h"
#include "interpreter/node_path.h"
#include "interpreter/result_summary.h"
#include "interpreter/tree_state.h"
#include "solver/iteration_log.h"
#include "solver/iterations.h"
#include "solver/solver_settings.h"
#include "solver/solver_thread.h"
#include "solver/tree_storage.h"
#include "utilities/output.h"

namespace {

// A count of milliseconds or seconds; negative counts are refused, the product kept in 64 bits.
int64_t sleep_micros(const CommandWords& words, int64_t unitMicros) {
    const int n = word_to_int(words[1]);
    if (n < 0) throw_arg_error(words);
    return static_cast<int64_t>(n) * unitMicros;
}

// Runouts one node stands for on an absolute street: one flop, 49 turns, 49 x 48 rivers.
int32_t street_weight(int32_t street) {
    static const int32_t kWeights[4] = {0, 1, 49, 2352};
    return kWeights[street];
}

bool counted_street(int32_t street) {
    return street >= 1 && street <= 3;
}

void count_node(const LineNode& top, NodeCounts& counts) {
    // An explicit stack: a line may be far deeper than the thread's stack allows recursion.
    std::vector<const LineNode*> pending{&top};
    while (!pending.empty()) {
        const LineNode& node = *pending.back();
        pending.pop_back();
        const int32_t s = StartStreet + node.street;
        // Loaded sets may hold dealing nodes (negative player) and failed builds lines past the
        // river: only decisions of the two players on the three streets count.
        const bool streetOk = counted_street(s);
        if (!node.children.empty() && streetOk && (node.player == 0 || node.player == 1)) {
            counts.decisions[node.player][s] += street_weight(s);
            counts.decisionTotal[node.player] += street_weight(s);
            counts.total += street_weight(s);
        }
        for (const auto& entry : node.children) {
            const LineNode& child = *entry.second;
            if (streetOk && child.street > node.street) {
                counts.splits[s] += street_weight(s);
                counts.splitTotal += street_weight(s);
                counts.total += street_weight(s);
            }
            if (streetOk && child.children.empty()) {
                counts.ends[s] += street_weight(s);
                counts.endTotal += street_weight(s);
                counts.total += street_weight(s);
            }
            pending.push_back(&child);
        }
    }
}

void print_street_lines(const int64_t perStreet[4]) {
    out_printf("FLOP  %lld\n", static_cast<long long>(perStreet[1]));
    out_printf("TURN  %lld\n", static_cast<long long>(perStreet[2]));
    out_printf("RIVER  %lld\n", static_cast<long long>(perStreet[3]));
}

}  // namespace

NodeCounts count_line_nodes() {
    NodeCounts counts;
    if (line_set().root) count_node(*line_set().root, counts);
    return counts;
}

void cmd_go(CommandWords& words) {
    require_tree();
    if (libsubgame_solver_running()) throw_command_error("Can't do that when solver is running");
    if (!libsubgame_tree_complete()) throw_command_error("incomplete tree");
    reset_progress_log_count();
    set_progress_pot(TreePot);
    int32_t budget = 0;
    bool steps = false;
    if (words.size() > 1) {
        if (words.size() < 3) throw_arg_error(words);
        if (words[2] == "seconds")
            steps = false;
        else if (words[2] == "steps")
            steps = true;
        else
            throw_arg_error(words);
        budget = word_to_int(words[1]);
    }
    // The reply (and everything before it) reaches standard output before the thread prints.
    hold_locked_output();
    if (!libsubgame_start_solver(budget, steps ? 1 : 0)) throw_command_error("out of memory");
    if (Verbosity >= 1) out_printf("[go %d threads]\n", libsubgame_get_thread_count());
    reply_ok(words);
}

void cmd_calc_results(CommandWords&) {
    require_tree();
    IterationLogRecord record{};
    libsubgame_calc_results(&record);
    // The record has no running time of its own (its rates would always read 0): the traffic is
    // that of the solve so far, so the rates take the time of its last check.
    record.seconds = libsubgame_last_check_seconds();
    uint64_t bytesRead = 0, bytesWritten = 0;
    libsubgame_storage_traffic(&bytesRead, &bytesWritten);
    print_command_summary(record, TreePot, bytesRead, bytesWritten);
}

void cmd_stop(CommandWords& words) {
    // The "stopped" line this request causes comes after the reply.
    hold_locked_output();
    libsubgame_request_stop();
    reply_ok(words);
}

void cmd_take_a_break(CommandWords& words) {
    const int64_t micros = sleep_micros(words, 1000000);
    libsubgame_request_stop();
    std::this_thread::sleep_for(std::chrono::microseconds(micros));
    reply_ok(words);
}

void cmd_sleep(CommandWords& words) {
    std::this_thread::sleep_for(std::chrono::microseconds(sleep_micros(words, 1000)));
}

void cmd_wait_for_solver(CommandWords&) {
    libsubgame_wait_solver();
}

void cmd_show_memory(CommandWords&) {
    struct sysinfo info {};
    sysinfo(&info);
    read_meminfo();
    const uint64_t unit = info.mem_unit ? info.mem_unit : 1;
    const uint64_t total = static_cast<uint64_t>(info.totalram) * unit;
    const uint64_t available = static_cast<uint64_t>(info.freeram) * unit +
                               (meminfo_buffers_kb + meminfo_cached_kb) * 1024;
    out_printf("Total Physical Memory: %d MB\n", static_cast<int32_t>(total >> 20));
    out_printf("Available Phys Memory: %d MB\n", static_cast<int32_t>(available >> 20));
    out_printf("END\n");
}

void cmd_node_count(CommandWords&) {
    require_tree();
    const NodeCounts c = count_line_nodes();
    out_printf("H_DEC: %lld\n", static_cast<long long>(c.decisionTotal[1]));
    print_street_lines(c.decisions[1]);
    out_printf("V_DEC: %lld\n", static_cast<long long>(c.decisionTotal[0]));
    print_street_lines(c.decisions[0]);
    out_printf("SPLIT: %lld\n", static_cast<long long>(c.splitTotal));
    print_street_lines(c.splits);
    out_printf("END: %lld\n", static_cast<long long>(c.endTotal));
    print_street_lines(c.ends);
    out_printf("ROOT: 1\n");
    out_printf("FLOP  %d\n", StartStreet == 1 ? 1 : 0);
    out_printf("TURN  %d\n", StartStreet == 2 ? 1 : 0);
    out_printf("RIVER %d\n", StartStreet == 3 ? 1 : 0);
    out_printf("TOTAL: %lld\n", static_cast<long long>(c.total + 1));
    out_printf("END\n");
}

void cmd_is_tree_present(CommandWords&) {
    out_printf(TreePresent ? "true\n" : "false\n");
}
