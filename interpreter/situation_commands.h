// Commands that describe the situation (ranges, board, pot), set the solver's numbers and the
// kernel switches, and report them. Each parses, stores, replies; none refuses while solving.
#pragma once

#include "interpreter/command_loop.h"

// set_range <player> <1326 weights in canonical order>: weights below 0.00001 become 0; every
// weight is converted before the old range is replaced.
void cmd_set_range(CommandWords& words);
// set_board <flop words> [turn] [river]: the flop words make exactly three cards, turn and
// river one each; a board with a repeated card is refused ("duplicate cards") and not stored.
void cmd_set_board(CommandWords& words);
// set_pot <int> <int> <int>: read like stoi; the third is the pot. Re-applies the accuracy.
void cmd_set_pot(CommandWords& words);
// set_accuracy <x >= 0> [fraction]: absolute target, or a fraction of the pot.
void cmd_set_accuracy(CommandWords& words);
// set_recalc_accuracy <flop> <turn> <river>: fractions of the pot of this moment.
void cmd_set_recalc_accuracy(CommandWords& words);
// set_isomorphism <flop> <turn>: on unless the word is exactly "0".
void cmd_set_isomorphism(CommandWords& words);
// set_threads / qx7_set_threads <n>: below 1 means the OpenMP default; at most 1,024.
void cmd_set_threads(CommandWords& words);
// set_simd_level <1..8>: river runouts per vector batch; acts at the next traversal.
void cmd_set_simd_level(CommandWords& words);
// enable_avx512 <0|1>: AVX-512 kernels where the processor has them.
void cmd_enable_avx512(CommandWords& words);
// enable_river_strategy <0|1>: acts at the next build or storage reset.
void cmd_enable_river_strategy(CommandWords& words);
// set_scheduler <0|1>: stored only.
void cmd_set_scheduler(CommandWords& words);
// set_eff_stack <word>: accepted and ignored.
void cmd_set_eff_stack(CommandWords& words);
// ignore_mem_check <on|off>: accepted and ignored.
void cmd_ignore_mem_check(CommandWords& words);
// show_settings: the line "END" only.
void cmd_show_settings(CommandWords& words);
// show_tree_params: board, pot, bet sizes and donk-bet lines of the current situation, "END".
void cmd_show_tree_params(CommandWords& words);
// get_instruction_set / qx7_get_instruction_set: "AVX2", "AVX" or "SSE3"; no "END".
void cmd_get_instruction_set(CommandWords& words);
