#include "interpreter/value_commands.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cards/cards.h"
#include "interpreter/combo_order.h"
#include "interpreter/combo_table_order.h"
#include "interpreter/equity_commands.h"
#include "interpreter/node_commands.h"
#include "interpreter/node_path.h"
#include "interpreter/situation.h"
#include "interpreter/tree_commands.h"
#include "interpreter/tree_state.h"
#include "solver/forgotten_streets.h"
#include "solver/line_frequency.h"
#include "solver/node_values.h"
#include "utilities/output.h"

namespace {

std::string first_node_path(const std::string& word) {
    return canonical_path_text(word) == "r" ? "r:0" : word;
}

// A path whose node has every card of its street (a street-closing call counts as the street
// it closes).
NodePath complete_path(const std::string& text) {
    const NodePath path = parse_node_path(text);
    require_node_cards(path);
    return path;
}

// Share of the player's tree range that reaches the path's node: the sum of range_at_path over
// the combinations it keeps, over the sum of their start weights.
double reach_probability(int player, const NodePath& path) {
    const std::vector<double> reach = range_at_path(player, path);
    const std::vector<double>& start = TreePresent ? TreeRanges[player] : PlayerRanges[player];
    double num = 0.0;
    double den = 0.0;
    for (size_t c = 0; c < reach.size(); ++c)
        if (!std::isnan(reach[c])) {
            num += reach[c];
            den += start[c];
        }
    return num / den;
}

// The share of the acting player's reach at the node that takes the child's action, over the
// combinations the action has a probability for: a dealt card leaves the combinations holding
// it out of the child's reach, and counting them at the node would keep the shares of a turn or
// river node from summing to 1.
double action_share(const std::vector<double>& at_node, int player, const NodePath& child) {
    const std::vector<double> reach = range_at_path(player, child);
    double num = 0.0;
    double den = 0.0;
    for (size_t c = 0; c < reach.size(); ++c)
        if (!std::isnan(reach[c]) && !std::isnan(at_node[c])) {
            num += reach[c];
            den += at_node[c];
        }
    return num / den;
}

double non_nan_sum(const std::vector<double>& values) {
    double sum = 0.0;
    for (double v : values)
        if (!std::isnan(v)) sum += v;
    return sum;
}

double line_mass(int32_t node, int32_t turn, int32_t river) {
    std::vector<double> out(kComboCount, 0.0);
    libsubgame_calc_line_freq(0, node, turn, river, out.data());
    return non_nan_sum(out);
}

// The root's mass, the normaliser of every line frequency.
double root_mass() {
    return line_mass(0, lowest_card(TreeBoardMasks[1]), lowest_card(TreeBoardMasks[2]));
}

CardMask tree_board() {
    return TreeBoardMasks[0] | TreeBoardMasks[1] | TreeBoardMasks[2];
}

struct NodeEvs {
    std::vector<double> values;
    std::vector<double> weights;
};

// Steps 1 to 3 of the EV commands, in canonical order.
NodeEvs node_evs(const CommandWords& words) {
    const int player = parse_player(words[1]);
    const NodePath path = complete_path(first_node_path(words[2]));
    NodeEvs e{std::vector<double>(kComboCount, 0.0), std::vector<double>(kComboCount, 0.0)};
    libsubgame_calc_combo_ev(player, path.node->recordIndex, path.turn, path.river, e.values.data(),
                             e.weights.data(), 0);
    for (double& v : e.values)
        if (!std::isnan(v)) v = SavedTreeFlag ? 0.0 : v + TreePot * 0.5;
    remap_combo_values(e.values, HandOrderToCombo, e.values);
    remap_combo_values(e.weights, HandOrderToCombo, e.weights);
    return e;
}

}  // namespace

void cmd_show_range(CommandWords& words) {
    if (words.size() < 2) throw_arg_error(words);
    const int player = parse_player(words[1]);
    std::vector<double> values = range_at_node(player, words.size() >= 3 ? words[2] : "");
    if (values.empty()) return;
    remap_combo_values(values, HandOrderToCombo, values);
    print_value_line(values, "%.12g", "0");
}

void cmd_show_probs(CommandWords& words) {
    const NodePath path = complete_path(words[1]);
    const double p[2] = {reach_probability(0, path), reach_probability(1, path)};
    std::string items;
    const bool listed = !path.streetClosed && !is_root_path(path) && !path.node->children.empty();
    if (listed && p[path.node->player] > 0) {
        const int q = path.node->player;
        const std::vector<double> at_node = range_at_path(q, path);
        int i = 0;
        for (const auto& entry : path.node->children) {
            // The child itself, not a path re-parsed from its label: labels truncate amounts.
            NodePath child = path;
            child.node = entry.second.get();
            child.streetClosed = 0;
            char item[96];
            std::snprintf(item, sizeof item, "%s%s %.12g", i == 0 ? "" : " ",
                          action_label(*path.node, i).c_str(), action_share(at_node, q, child));
            items += item;
            ++i;
        }
    }
    out_printf("OOP %.12g IP %.12g %s\n", p[0], p[1], items.c_str());
}

void cmd_calc_ev(CommandWords& words) {
    const NodeEvs e = node_evs(words);
    print_value_line(e.values, "%.9g", "nan");
    print_value_line(e.weights, "%.9g", "0");
    out_printf("END\n");
}

void cmd_calc_ev_pp(CommandWords& words) {
    const NodeEvs e = node_evs(words);
    for (int k : combo_table_order(words[2], parse_player(words[1])))
        out_printf("%s: %.2f; %.2f\n", combo_name(k).c_str(), e.values[k], e.weights[k]);
    out_printf("END\n");
}

void cmd_calc_ev_line(CommandWords& words) {
    parse_player(words[1]);
    complete_path(first_node_path(words[2]));
    print_value_line(std::vector<double>(kComboCount, 0.0), "%.9g", "nan");
    print_value_line(std::vector<double>(kComboCount, 1.0), "%.9g", "0");
    out_printf("END\n");
}

void cmd_calc_line_freq(CommandWords& words) {
    if (libsubgame_get_forgotten_street() >= 0) {
        out_printf("1\n");
        return;
    }
    const std::string text = first_node_path(words[1]);
    const NodePath path = parse_node_path(text);
    const double base = root_mass();
    // The street of the node as require_node_cards counts it, not the cards the path names:
    // a path may leave them out and still mean every card its line meets.
    const int32_t d = path_street(path) - path.streetClosed;
    const int32_t s = StartStreet;
    const CardMask board = tree_board();
    const int32_t node = path.node->recordIndex;
    double mass = 0.0;
    if (s == 1 && d >= 3) {
        std::vector<std::vector<int16_t>> runouts;
        for (int32_t t = 0; t < kCardCount; ++t) {
            if (board & CardBit(t)) continue;
            runouts.emplace_back();
            for (int32_t r = 0; r < kCardCount; ++r)
                if (!(board & CardBit(r)) && r != t)
                    runouts.back().push_back(static_cast<int16_t>(t << 8 | r));
        }
        mass = libsubgame_calc_river_line_freq(node, runouts);
    } else if (s == d) {
        mass = line_mass(node, path.turn, path.river);
    } else if (s == 1 && d == 2) {
        for (int32_t t = 0; t < kCardCount; ++t)
            if (!(board & CardBit(t))) mass += line_mass(node, t, -1);
    } else if (s == 2) {
        for (int32_t r = 0; r < kCardCount; ++r)
            if (!(board & CardBit(r))) mass += line_mass(node, path.turn, r);
    }
    out_printf("%.9g\n", mass / base);
}

void cmd_calc_global_freq(CommandWords& words) {
    const NodePath path = complete_path(first_node_path(words[1]));
    const double base = root_mass();
    out_printf("%.9g\n", line_mass(path.node->recordIndex, path.turn, path.river) / base);
}
