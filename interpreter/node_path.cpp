#include "interpreter/node_path.h"

#include "cards/cards.h"
#include "interpreter/number_words.h"
#include "interpreter/tree_state.h"
#include "utilities/output.h"

namespace {

LineNode* child_at(const LineNode* node, double key) {
    auto found = node->children.find(key);
    if (found == node->children.end()) throw_path_error();
    return found->second.get();
}

void deal_path_card(NodePath& cur, const std::string& item) {
    if (item.size() != 2) throw_path_error();
    CardMask mask = 0;
    ParseCards(&mask, item.c_str());
    if (__builtin_popcountll(mask) != 1) throw_path_error();
    const int32_t card = __builtin_ctzll(mask);
    const CardMask dealt = TreeBoardMasks[0] | TreeBoardMasks[1] | TreeBoardMasks[2];
    if ((dealt & mask) != 0 || card == cur.turn) throw_path_error();
    if (cur.node->parent == nullptr) throw_path_error();
    const NodePath parent = complete_path_cards(cur);
    const int32_t parent_street = path_street(parent);
    const int32_t street = path_street(cur);
    if (parent_street == 1 && street == 2) {
        if (cur.turn != -1) throw_path_error();
        cur.turn = card;
    } else {
        // The river needs its turn card: the library indexes its runouts by both.
        if (parent_street != 2 || street != 3 || cur.river != -1 || cur.turn == -1) {
            throw_path_error();
        }
        cur.river = card;
    }
}

}  // namespace

std::vector<std::string> split(const std::string& text, char delimiter) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(delimiter, start);
        if (end == std::string::npos) end = text.size();
        if (end > start) items.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

std::string canonical_path_text(const std::string& text) {
    std::string out;
    for (const std::string& item : split(text, ':')) {
        if (!out.empty()) out += ':';
        out += item;
    }
    return out;
}

void require_tree() {
    if (!TreePresent) throw_command_error("missing/incorrect tree");
}

void throw_path_error() {
    throw_command_error("incorrect path");
}

int32_t path_street(const NodePath& path) {
    return StartStreet + path.node->street;
}

NodePath complete_path_cards(const NodePath& path) {
    if (path.node == nullptr) return path;
    NodePath parent;
    parent.node = path.node->parent;
    if (parent.node != nullptr) {
        const int32_t s = path_street(parent);
        parent.turn = s >= 2 ? path.turn : -1;
        parent.river = s >= 3 ? path.river : -1;
    }
    return parent;
}

NodePath parse_node_path(const std::string& text) {
    require_tree();
    if (LinesEditedSinceBuild) throw_command_error("missing/incorrect tree");
    const std::vector<std::string> items = split(text, ':');
    if (items.empty() || items[0] != "r") throw_path_error();
    NodePath cur;
    cur.turn = lowest_card(TreeBoardMasks[1]);
    cur.river = lowest_card(TreeBoardMasks[2]);
    if (items.size() == 1) return cur;
    if (items[1] != "0") throw_path_error();
    cur.node = line_set().root.get();
    for (size_t i = 2; i < items.size(); ++i) {
        const std::string& item = items[i];
        cur.streetClosed = 0;
        switch (item[0]) {
            case 'b':
                cur.node = child_at(cur.node, word_to_amount(item.substr(1)));
                break;
            case 'c': {
                const int32_t before = path_street(cur);
                cur.node = child_at(cur.node, cur.node->amount);
                if (path_street(cur) > before) cur.streetClosed = 1;
                break;
            }
            case 'f':
                cur.node = child_at(cur.node, -1.0);
                break;
            default:
                deal_path_card(cur, item);
        }
    }
    return cur;
}

void require_node_cards(const NodePath& path) {
    if (path.node == nullptr) return;
    const int32_t street = path_street(path) - path.streetClosed;
    if (street >= 2 && path.turn == -1) throw_path_error();
    if (street >= 3 && path.river == -1) throw_path_error();
}
