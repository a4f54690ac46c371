#include "interpreter/strategy_commands.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "cards/cards.h"
#include "interpreter/combo_order.h"
#include "interpreter/combo_table_order.h"
#include "interpreter/node_commands.h"
#include "interpreter/node_path.h"
#include "interpreter/number_words.h"
#include "interpreter/situation.h"
#include "solver/node_edits.h"
#include "solver/strategy_queries.h"
#include "utilities/output.h"

namespace {

// A decision node whose runout is fully dealt, else "incorrect path".
NodePath decision_path(const std::string& text) {
    NodePath path = parse_node_path(text);
    if (!is_decision_node(path)) throw_path_error();
    require_node_cards(path);
    return path;
}

int action_count(const NodePath& path) {
    return static_cast<int>(path.node->children.size());
}

// One list per action, canonical order, from one reading of the node's strategy.
std::vector<std::vector<double>> strategy_lists(const NodePath& path) {
    const int n = action_count(path);
    std::vector<double> all(static_cast<size_t>(n) * kComboCount, 0.0);
    libsubgame_get_node_strategy(path.node->recordIndex, path.turn, path.river, all.data());
    std::vector<std::vector<double>> lists;
    for (int i = 0; i < n; ++i) {
        std::vector<double> list(all.begin() + static_cast<long>(i) * kComboCount,
                                 all.begin() + static_cast<long>(i + 1) * kComboCount);
        remap_combo_values(list, HandOrderToCombo, list);
        lists.push_back(std::move(list));
    }
    return lists;
}

// 1326 values from words[first..] in canonical order, returned in ComboIndex order.
std::vector<double> combo_values_from(const CommandWords& words, size_t first) {
    std::vector<double> values;
    parse_combo_values(values, words, first);
    remap_combo_values(values, ComboToHandOrder, values);
    return values;
}

void check_edit(int32_t result) {
    if (result == kEditNoStorage) throw_command_error("incomplete tree");
    // The checks above mirror the library's; a refusal here means they disagree.
    if (result != kEditDone) throw_path_error();
}

void set_lock(CommandWords& words, uint8_t lock) {
    const NodePath path = decision_path(words[1]);
    check_edit(libsubgame_set_node_lock(path.node->recordIndex, path.turn, path.river, lock));
    reply_ok(words);
}

}  // namespace

void cmd_show_strategy(CommandWords& words) {
    const NodePath path = decision_path(words[1]);
    for (const std::vector<double>& list : strategy_lists(path))
        print_value_line(list, "%.12g", "0");
    out_printf("END\n");
}

void cmd_show_strategy_pp(CommandWords& words) {
    const NodePath path = decision_path(words[1]);
    const std::vector<std::vector<double>> lists = strategy_lists(path);
    for (int k : combo_table_order(words[1], path.node->player)) {
        std::string row = combo_name(k) + ": ";
        char cell[64];
        for (const std::vector<double>& list : lists) {
            std::snprintf(cell, sizeof cell, "  %.6f", list[k]);
            row += cell;
        }
        out_printf("%s\n", row.c_str());
    }
    out_printf("END\n");
}

void cmd_show_locked_combos(CommandWords& words) {
    const NodePath path = decision_path(words[1]);
    std::vector<double> list(kComboCount, 0.0);
    libsubgame_get_locked_combos(path.node->recordIndex, path.turn, path.river, list.data());
    remap_combo_values(list, HandOrderToCombo, list);
    for (double& v : list)
        if (std::isnan(v)) v = 0.0;
    print_value_line(list, "%.12g", "nan");
}

void cmd_lock_node(CommandWords& words) {
    set_lock(words, 1);
}

void cmd_unlock_node(CommandWords& words) {
    set_lock(words, 0);
}

void cmd_set_strategy(CommandWords& words) {
    const NodePath path = decision_path(words[1]);
    const int child = word_to_int(words[2]);
    if (child < 0 || child >= action_count(path)) throw_command_error("invalid child index");
    const std::vector<double> values = combo_values_from(words, 3);
    const int32_t result = libsubgame_set_strategy(path.node->recordIndex, child, path.turn,
                                                   path.river, values.data());
    if (result == kEditTooLarge) throw_arg_error(words);
    check_edit(result);
    reply_ok(words);
}

void cmd_combo_lock_node(CommandWords& words) {
    const NodePath path = decision_path(words[1]);
    const std::vector<double> values = combo_values_from(words, 2);
    check_edit(
        libsubgame_combo_lock_node(path.node->recordIndex, path.turn, path.river, values.data()));
    reply_ok(words);
}

void cmd_set_ev_boost(CommandWords& words) {
    require_tree();
    const NodePath path = parse_node_path(words[1]);
    // The boost belongs to the action's node, whatever its runout: no cards are required.
    if (!is_decision_node(complete_path_cards(path))) throw_arg_error(words);
    const double x = word_to_finite(words[2]);
    if (!(x >= -0.99 && x <= 1.0)) throw_arg_error(words);
    if (libsubgame_set_ev_boost(path.node->recordIndex, static_cast<float>(x)) != kEditDone)
        throw_path_error();
    reply_ok(words);
}
