#include "interpreter/command_table.h"

#include <cstring>

#include "interpreter/category_commands.h"
#include "interpreter/combo_order.h"
#include "interpreter/equity_commands.h"
#include "interpreter/forget_commands.h"
#include "interpreter/line_commands.h"
#include "interpreter/node_commands.h"
#include "interpreter/saved_tree_commands.h"
#include "interpreter/script_commands.h"
#include "interpreter/situation_commands.h"
#include "interpreter/solver_commands.h"
#include "interpreter/strategy_commands.h"
#include "interpreter/tree_commands.h"
#include "interpreter/utility_commands.h"
#include "interpreter/value_commands.h"

namespace {

// One line per command word; groups follow the command families.
const CommandTableEntry CommandTable[] = {
    // Command loop and scripts
    {"is_ready", cmd_is_ready, 1},
    {"solver_time", cmd_solver_time, 1},
    {"skip_if_done", cmd_skip_if_done, 3},
    {"load_script", cmd_load_script, 2},

    // Betting lines
    {"clear_lines", cmd_clear_lines, 1},
    {"free_schematic_tree", cmd_clear_lines, 1},
    {"add_line", cmd_add_line, kAnyWords},
    {"remove_line", cmd_remove_line, kAnyWords},
    {"force_line", cmd_force_line, kAnyWords},

    // Tree building
    {"build_tree", cmd_build_tree, 1},
    {"cut_line", cmd_cut_line, 2},
    {"qx7_set_compression", cmd_set_compression, 2},
    {"set_compression", cmd_set_compression, 2},
    {"qx7_get_actual_compression", cmd_get_actual_compression, 1},
    {"get_actual_compression", cmd_get_actual_compression, 1},

    // Saved trees and tree info lines
    {"load_tree", cmd_load_tree, 2},
    {"free_tree", cmd_free_tree, 1},
    {"reset_tree_info", cmd_reset_tree_info, 1},
    {"add_info_line", cmd_add_info_line, 2},
    {"show_tree_info", cmd_show_tree_info, 1},

    // Node display
    {"show_node", cmd_show_node, 2},
    {"show_children", cmd_show_children, 2},
    {"show_effective_stack", cmd_show_effective_stack, 1},
    {"set_rake", cmd_set_rake, 3},

    // Situation and settings
    {"show_settings", cmd_show_settings, 1},
    {"show_tree_params", cmd_show_tree_params, 1},
    {"set_threads", cmd_set_threads, 2},
    {"qx7_set_threads", cmd_set_threads, 2},
    {"set_recalc_accuracy", cmd_set_recalc_accuracy, 4},
    {"set_isomorphism", cmd_set_isomorphism, 3},
    {"set_range", cmd_set_range, 1328},
    {"set_board", cmd_set_board, kAnyWords},
    {"set_pot", cmd_set_pot, 4},
    {"set_eff_stack", cmd_set_eff_stack, 2},
    {"set_accuracy", cmd_set_accuracy, kAnyWords},
    {"qx7_get_instruction_set", cmd_get_instruction_set, 1},
    {"get_instruction_set", cmd_get_instruction_set, 1},
    {"set_scheduler", cmd_set_scheduler, 2},
    {"enable_avx512", cmd_enable_avx512, 2},
    {"enable_river_strategy", cmd_enable_river_strategy, 2},
    {"ignore_mem_check", cmd_ignore_mem_check, 2},
    {"set_simd_level", cmd_set_simd_level, 2},

    // Combination order
    {"show_hand_order", cmd_show_hand_order, 1},

    // Strategies and node locks
    {"show_strategy", cmd_show_strategy, 2},
    {"show_strategy_pp", cmd_show_strategy_pp, 2},
    {"show_locked_combos", cmd_show_locked_combos, 2},
    {"lock_node", cmd_lock_node, 2},
    {"unlock_node", cmd_unlock_node, 2},
    {"set_strategy", cmd_set_strategy, 1329},
    {"combo_lock_node", cmd_combo_lock_node, 1328},
    {"set_ev_boost", cmd_set_ev_boost, 3},

    // Ranges, values, equities and line frequencies
    {"show_range", cmd_show_range, kAnyWords},
    {"show_probs", cmd_show_probs, 2},
    {"calc_ev", cmd_calc_ev, 3},
    {"calc_ev_pp", cmd_calc_ev_pp, 3},
    {"calc_ev_line", cmd_calc_ev_line, 3},
    {"calc_line_freq", cmd_calc_line_freq, 2},
    {"calc_global_freq", cmd_calc_global_freq, 2},
    {"calc_eq", cmd_calc_eq, 2},
    {"calc_eq_node", cmd_calc_eq_node, 3},
    {"calc_eq_pp", cmd_calc_eq_pp, 2},
    // Utility commands
    {"stdoutredi", cmd_stdoutredi, 2},
    {"stdoutredi_append", cmd_stdoutredi_append, 2},
    {"stdoutback", cmd_stdoutback, 1},
    {"repeat", cmd_repeat, kAnyWords},
    {"echo", cmd_echo, kAnyWords},
    {"show_cpu_info", cmd_show_cpu_info, 1},
    {"help", cmd_help, 1},

    // Hand categories
    {"show_category_names", cmd_show_category_names, 1},
    {"show_categories", cmd_show_categories, kAnyWords},

    // Solver control
    {"is_tree_present", cmd_is_tree_present, 1},
    {"go", cmd_go, kAnyWords},
    {"calc_results", cmd_calc_results, 1},
    {"stop", cmd_stop, 1},
    {"wait_for_solver", cmd_wait_for_solver, 1},
    {"show_memory", cmd_show_memory, 1},
    {"node_count", cmd_node_count, 1},
    {"sleep", cmd_sleep, 2},
    {"take_a_break", cmd_take_a_break, 2},

    // Forgotten streets and partial re-solves
    {"forget", cmd_forget, 2},
    {"rebuild_forgotten_streets", cmd_rebuild_forgotten_streets, 1},
    {"rebuild_all", cmd_rebuild_forgotten_streets, 1},
    {"solve_all_splits", cmd_solve_all_splits, 2},
    {"solve_partial", cmd_solve_partial, 2},
    {"explo_partial", cmd_explo_partial, 2},
};

constexpr int kCommandCount = sizeof CommandTable / sizeof CommandTable[0];

}  // namespace

const CommandTableEntry* find_command(const char* word) {
    for (const CommandTableEntry& entry : CommandTable)
        if (std::strcmp(entry.word, word) == 0) return &entry;
    return nullptr;
}

const CommandTableEntry* command_table(int* count) {
    *count = kCommandCount;
    return CommandTable;
}
