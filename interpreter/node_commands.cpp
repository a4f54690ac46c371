#include "interpreter/node_commands.h"

#include <iterator>

#include "interpreter/node_report.h"
#include "interpreter/number_words.h"
#include "interpreter/tree_commands.h"
#include "interpreter/tree_state.h"
#include "solver/node_locks.h"
#include "solver/solver_settings.h"
#include "utilities/output.h"

bool is_root_path(const NodePath& path) {
    return path.node == nullptr;
}

namespace {

bool is_chance_node(const NodePath& path) {
    // A call that closes the river deals nothing: the hand is over.
    return path.node != nullptr && path.streetClosed && path_street(path) <= 3;
}

}  // namespace

const char* node_kind_name(const NodePath& path) {
    if (is_root_path(path)) return "ROOT";
    if (is_chance_node(path)) return "SPLIT_NODE";
    if (!path.node->children.empty()) return path.node->player != 0 ? "IP_DEC" : "OOP_DEC";
    return "END_NODE";
}

bool is_decision_node(const NodePath& path) {
    return !is_root_path(path) && !is_chance_node(path) && !path.node->children.empty();
}

std::string action_label(const LineNode& node, int i) {
    auto it = node.children.begin();
    std::advance(it, i);
    const double key = it->first;
    if (key < 0.0) return "f";
    if (key > node.amount) {
        std::string label = "b";
        label += std::to_string(static_cast<int>(key));
        return label;
    }
    return "c";
}

void print_node(const std::string& header, const NodePath& path) {
    out_printf("%s\n", header.c_str());
    out_printf("%s\n", node_kind_name(path));
    print_board(TreeBoardMasks[0], path.turn, path.river);
    print_pot_line(path.node, TreePot);
    int children;
    if (is_root_path(path)) {
        children = 1;
    } else if (is_chance_node(path)) {
        children = path_street(path) == 2 ? 49 : 48;
    } else {
        children = static_cast<int>(path.node->children.size());
    }
    out_printf("%d children\n", children);
    std::string flags;
    if (is_root_path(path)) {
        libsubgame_tree_flags_text(&flags);
        out_printf("flags: %s\n", flags.c_str());
    } else if (is_chance_node(path)) {
        out_printf("flags:\n");
    } else {
        libsubgame_node_flags_text(&flags, path.node->recordIndex, path.turn, path.river);
        out_printf("flags: %s\n", flags.c_str());
    }
}

void cmd_show_node(CommandWords& words) {
    const NodePath path = parse_node_path(words[1]);
    if (is_decision_node(path)) require_node_cards(path);
    print_node(canonical_path_text(words[1]), path);
    out_printf("END\n");
}

void cmd_show_children(CommandWords& words) {
    const NodePath path = parse_node_path(words[1]);
    if (is_decision_node(path)) require_node_cards(path);
    const std::string base = canonical_path_text(words[1]);
    if (is_root_path(path)) {
        NodePath child;
        child.node = line_set().root.get();
        child.turn = lowest_card(TreeBoardMasks[1]);
        child.river = lowest_card(TreeBoardMasks[2]);
        out_printf("child 0:\n");
        print_node("r:0", child);
    } else if (is_chance_node(path)) {
        CardMask dead = TreeBoardMasks[0];
        if (path.turn >= 0) dead |= CardBit(path.turn);
        if (path.river >= 0) dead |= CardBit(path.river);
        const bool dealsTurn = path_street(path) == 2;
        int i = 0;
        for (int rank = 12; rank >= 0; --rank) {
            for (int suit = 3; suit >= 0; --suit) {
                const int card = MakeCard(rank, suit);
                if ((dead & CardBit(card)) != 0) continue;
                NodePath child = path;
                child.streetClosed = 0;
                (dealsTurn ? child.turn : child.river) = card;
                out_printf("child %d:\n", i++);
                print_node(base + ":" + CardText(card), child);
            }
        }
    } else {
        const int street = path_street(path);
        int i = 0;
        for (auto& [key, node] : path.node->children) {
            NodePath child;
            child.node = node.get();
            child.turn = path.turn;
            child.river = path.river;
            child.streetClosed = path_street(child) > street ? 1 : 0;
            out_printf("child %d:\n", i);
            print_node(base + ":" + action_label(*path.node, i), child);
            ++i;
        }
    }
    out_printf("END\n");
}

void cmd_show_effective_stack(CommandWords& words) {
    require_tree();
    out_printf("%d\n", EffectiveStack);
}

void cmd_set_rake(CommandWords& words) {
    const double fraction = word_to_finite(words[1]);
    if (!(fraction >= 0.0 && fraction <= 1.0)) throw_arg_error(words);
    const double cap = word_to_finite(words[2]);
    if (!(cap >= 0.0)) throw_arg_error(words);
    libsubgame_set_rake(fraction, cap);
    reply_ok(words);
}
