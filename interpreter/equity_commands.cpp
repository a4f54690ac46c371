#include "interpreter/equity_commands.h"

#include <cmath>

#include "cards/cards.h"
#include "interpreter/combo_order.h"
#include "interpreter/combo_table_order.h"
#include "interpreter/node_commands.h"
#include "interpreter/situation.h"
#include "interpreter/tree_state.h"
#include "solver/combo_equity.h"
#include "solver/strategy_queries.h"
#include "utilities/output.h"

namespace {

// Position of `child` among its parent's children, in child-map order (the library's action).
int child_ordinal(const LineNode& parent, const LineNode* child) {
    int k = 0;
    for (const auto& entry : parent.children) {
        if (entry.second.get() == child) return k;
        ++k;
    }
    return -1;
}

std::vector<double> start_range(int player) {
    return TreePresent ? TreeRanges[player] : PlayerRanges[player];
}

// A range that was never set takes part as all zeros.
std::vector<double> full_range(std::vector<double> range) {
    if (range.size() != static_cast<size_t>(kComboCount)) range.assign(kComboCount, 0.0);
    return range;
}

// Both lists in ComboIndex order, as the library gives them.
struct Equities {
    std::vector<double> equity;
    std::vector<double> weight;
};

Equities equities(int player, int turn, int river, const std::vector<double>& own,
                  const std::vector<double>& opp) {
    Equities e{std::vector<double>(kComboCount, 0.0), std::vector<double>(kComboCount, 0.0)};
    const std::vector<double> a = full_range(own);
    const std::vector<double> b = full_range(opp);
    libsubgame_calc_combo_equity(player, turn, river, a.data(), b.data(), e.equity.data(),
                                 e.weight.data());
    for (double& v : e.equity) v = v * 0.5 + 0.5;
    return e;
}

// The same lists in canonical order, for printing.
Equities canonical(Equities e) {
    remap_combo_values(e.equity, HandOrderToCombo, e.equity);
    remap_combo_values(e.weight, HandOrderToCombo, e.weight);
    return e;
}

void print_equities(const Equities& e) {
    const Equities c = canonical(e);
    print_value_line(c.equity, "%.9g", "nan");
    print_value_line(c.weight, "%.9g", "0");
}

}  // namespace

std::vector<double> range_at_path(int player, const NodePath& path) {
    std::vector<double> range = start_range(player);
    if (range.empty()) return range;
    NodePath cur = path;
    for (;;) {
        const NodePath parent = complete_path_cards(cur);
        if (parent.node == nullptr) break;
        if (is_decision_node(parent) && parent.node->player == player) {
            std::vector<double> s(kComboCount, 0.0);
            libsubgame_get_combo_strategy(parent.node->recordIndex,
                                          child_ordinal(*parent.node, cur.node), parent.turn,
                                          parent.river, s.data(), 0, nullptr);
            for (int c = 0; c < kComboCount; ++c) range[c] *= s[c];
        }
        cur = parent;
    }
    return range;
}

std::vector<double> range_at_node(int player, const std::string& path_text) {
    if (path_text.empty()) return start_range(player);
    const NodePath path = parse_node_path(path_text);
    require_node_cards(path);
    return range_at_path(player, path);
}

double equity_total(const std::vector<double>& equity, const std::vector<double>& weight) {
    double num = 0.0;
    double den = 0.0;
    for (size_t c = 0; c < equity.size() && c < weight.size(); ++c) {
        if (!std::isnan(equity[c])) num += equity[c] * weight[c];
        if (!std::isnan(weight[c])) den += weight[c];
    }
    return num / den;
}

void cmd_calc_eq(CommandWords& words) {
    const int p = parse_player(words[1]);
    print_equities(equities(p, -1, -1, start_range(p), start_range(1 - p)));
    out_printf("END\n");
}

void cmd_calc_eq_node(CommandWords& words) {
    const int p = parse_player(words[1]);
    const std::string given = canonical_path_text(words[2]);
    const std::string text = given == "r" ? "r:0" : given;
    const NodePath path = parse_node_path(text);
    require_node_cards(path);
    const Equities e =
        equities(p, path.turn, path.river, range_at_path(p, path), range_at_path(1 - p, path));
    print_equities(e);
    out_printf("%.9g\n", equity_total(e.equity, e.weight));
    out_printf("END\n");
}

void cmd_calc_eq_pp(CommandWords& words) {
    const int p = parse_player(words[1]);
    const Equities e = canonical(equities(p, -1, -1, start_range(p), start_range(1 - p)));
    for (int k : combo_table_order("r:0", p))
        out_printf("%s: %.2f; %.2f\n", combo_name(k).c_str(), 100.0 * e.equity[k], e.weight[k]);
    out_printf("END\n");
}
