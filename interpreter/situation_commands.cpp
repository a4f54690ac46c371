#include "interpreter/situation_commands.h"

#include <omp.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "cards/cards.h"
#include "interpreter/combo_order.h"
#include "interpreter/console_state.h"
#include "interpreter/node_report.h"
#include "interpreter/number_words.h"
#include "interpreter/situation.h"
#include "interpreter/tree_state.h"
#include "solver/solver_settings.h"
#include "utilities/instruction_set.h"
#include "utilities/kernel_switches.h"
#include "utilities/output.h"

namespace {

// Weights this small are noise from the front end's rounding: store them as 0.
constexpr double kSmallestWeight = 0.00001;
// Weights are relative; products of two weights with a pot still have to fit a float, so larger
// ones are refused as values out of range instead of solving to infinities and NaNs.
constexpr double kLargestWeight = 1e9;

CardMask card_word(const std::string& word) {
    CardMask mask = 0;
    // The parser reads up to a NUL byte; the rest of such a word would go unread.
    if (word.find('\0') != std::string::npos) throw std::runtime_error("ERROR: invalid card\n");
    ParseCards(&mask, word.c_str());
    return mask;
}

// "0" or "1" exactly; anything else is the argument error.
int binary_word(const CommandWords& words) {
    if (words[1] == "0") return 0;
    if (words[1] == "1") return 1;
    throw_arg_error(words);
}

}  // namespace

void cmd_set_range(CommandWords& words) {
    const int player = parse_player(words[1]);
    std::vector<double> canonical;
    parse_combo_values(canonical, words, 2);
    if (canonical.size() != kComboCount) throw_arg_error(words);
    for (const double w : canonical)
        if (w > kLargestWeight) throw std::out_of_range("combination weight");
    ComboRange range;
    remap_combo_values(range, ComboToHandOrder, canonical);
    double low = std::numeric_limits<double>::max();
    double high = std::numeric_limits<double>::lowest();
    for (double& w : range) {
        if (w < kSmallestWeight) w = 0.0;
        low = std::min(low, w);
        high = std::max(high, w);
    }
    PlayerRanges[player] = std::move(range);
    if (Verbosity >= 1) out_printf("[set_range min %.8g max %.8g]\n", low, high);
    reply_ok(words);
}

void cmd_set_board(CommandWords& words) {
    if (words.size() < 4 || words.size() > 6) throw_arg_error(words);
    const CardMask flop = card_word(words[1]) | card_word(words[2]) | card_word(words[3]);
    if (CardCount(flop) != 3) throw_arg_error(words);
    CardMask turn = 0, river = 0;
    if (words.size() >= 5) {
        turn = card_word(words[4]);
        if (CardCount(turn) != 1) throw_arg_error(words);
    }
    if (words.size() == 6) {
        river = card_word(words[5]);
        if (CardCount(river) != 1) throw_arg_error(words);
    }
    if (CardCount(flop | turn | river) != static_cast<int>(words.size()) - 1) {
        throw_command_error("duplicate cards");
    }
    BoardMasks = {flop, turn, river};
    reply_ok(words);
}

void cmd_set_pot(CommandWords& words) {
    const int first = word_to_int(words[1]);
    const int second = word_to_int(words[2]);
    const int pot = word_to_int(words[3]);
    PotValues = {static_cast<double>(first), static_cast<double>(second), static_cast<double>(pot)};
    apply_accuracy();
    reply_ok(words);
}

void cmd_set_accuracy(CommandWords& words) {
    if (words.size() < 2) throw_arg_error(words);
    const double accuracy = word_to_finite(words[1]);
    if (accuracy < 0.0) throw_arg_error(words);
    AccuracySetting = accuracy;
    AccuracyIsFraction = words.size() >= 3 && words[2] == "fraction";
    apply_accuracy();
    reply_ok(words);
}

void cmd_set_recalc_accuracy(CommandWords& words) {
    const double flop = word_to_finite(words[1]);
    const double turn = word_to_finite(words[2]);
    const double river = word_to_finite(words[3]);
    const double pot = PotValues[2];
    libsubgame_set_recalc_accuracy(flop * pot, turn * pot, river * pot);
    reply_ok(words);
}

void cmd_set_isomorphism(CommandWords& words) {
    IsomorphismByStreet[1] = words[1] != "0";
    IsomorphismByStreet[2] = words[2] != "0";
    reply_ok(words);
}

void cmd_set_threads(CommandWords& words) {
    int n = word_to_int(words[1]);
    if (n < 1) n = omp_get_max_threads();
    libsubgame_set_thread_count(n);
    reply_ok(words);
}

void cmd_set_simd_level(CommandWords& words) {
    const int level = word_to_int(words[1]);
    if (level < 1 || level > 8) throw_arg_error(words);
    simd_level.store(level, std::memory_order_relaxed);
    reply_ok(words);
}

void cmd_enable_avx512(CommandWords& words) {
    avx512_enabled.store(static_cast<uint8_t>(binary_word(words)), std::memory_order_relaxed);
    reply_ok(words);
}

void cmd_enable_river_strategy(CommandWords& words) {
    river_strategy_enabled.store(static_cast<uint8_t>(binary_word(words)),
                                 std::memory_order_relaxed);
    reply_ok(words);
}

void cmd_set_scheduler(CommandWords& words) {
    const int mode = word_to_int(words[1]);
    if (mode != 0 && mode != 1) throw_arg_error(words);
    SchedulerMode = mode;
    reply_ok(words);
}

void cmd_set_eff_stack(CommandWords& words) {
    reply_ok(words);
}

void cmd_ignore_mem_check(CommandWords& words) {
    if (words[1] != "on" && words[1] != "off") throw_arg_error(words);
    reply_ok(words);
}

void cmd_show_settings(CommandWords&) {
    out_printf("END\n");
}

void cmd_show_tree_params(CommandWords&) {
    out_printf("board: ");
    print_board(BoardMasks[0], lowest_card(BoardMasks[1]), lowest_card(BoardMasks[2]));
    out_printf("pot: ");
    print_pot_line(nullptr, PotValues[2]);
    out_printf("bet_sizes: \n");
    out_printf("donk_bet: FALSE\n");
    out_printf("END\n");
}

void cmd_get_instruction_set(CommandWords&) {
    out_printf("%s\n", cpu_has_avx2() ? "AVX2" : cpu_has_avx() ? "AVX" : "SSE3");
}
