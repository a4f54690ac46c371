#include "interpreter/combo_table_order.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "cards/cards.h"
#include "interpreter/combo_order.h"
#include "interpreter/node_path.h"
#include "interpreter/tree_state.h"
#include "solver/combo_equity.h"

std::vector<int> combo_table_order(const std::string& path_text, int player) {
    const std::string text = canonical_path_text(path_text);
    const NodePath path = parse_node_path(text == "r" ? "r:0" : text);
    const std::vector<double> uniform(kComboCount, 1.0);
    std::vector<double> equity(kComboCount, 0.0);
    std::vector<double> weight(kComboCount, 0.0);
    libsubgame_calc_combo_equity(player, path.turn, path.river, uniform.data(), uniform.data(),
                                 equity.data(), weight.data());
    remap_combo_values(equity, HandOrderToCombo, equity);

    // The equity entry gives 0, not NaN, to a combination that meets a dealt card; such a hand
    // is not in play and must not be listed as a middling one.
    CardMask dead = TreeBoardMasks[0];
    if (path.turn >= 0) dead |= CardBit(path.turn);
    if (path.river >= 0) dead |= CardBit(path.river);
    const double lowest = std::numeric_limits<double>::lowest();
    for (int k = 0; k < kComboCount; ++k)
        if (std::isnan(equity[k]) || (HandOrderMasks[k] & dead) != 0) equity[k] = lowest;

    std::vector<int> order(kComboCount);
    for (int k = 0; k < kComboCount; ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return equity[a] > equity[b]; });
    const auto cut =
        std::find_if(order.begin(), order.end(), [&](int k) { return equity[k] == lowest; });
    order.erase(cut, order.end());
    return order;
}
