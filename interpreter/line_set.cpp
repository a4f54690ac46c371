#include "interpreter/line_set.h"

#include <algorithm>

#include "interpreter/number_words.h"
#include "interpreter/tree_state.h"
#include "utilities/output.h"

namespace {

template <typename T>
void assign_noting_change(T& field, T value, bool& changed) {
    if (field != value) {
        field = value;
        changed = true;
    }
}

std::vector<double> amount_words(const std::vector<std::string>& words) {
    std::vector<double> amounts;
    for (size_t i = 1; i < words.size(); ++i) amounts.push_back(word_to_amount(words[i]));
    return amounts;
}

std::unique_ptr<LineNode> new_child(LineNode* parent) {
    auto node = std::make_unique<LineNode>();
    node->parent = parent;
    return node;
}

}  // namespace

LineNode::~LineNode() {
    std::vector<std::unique_ptr<LineNode>> pending;
    for (auto& entry : children) pending.push_back(std::move(entry.second));
    children.clear();
    while (!pending.empty()) {
        std::unique_ptr<LineNode> node = std::move(pending.back());
        pending.pop_back();
        for (auto& entry : node->children) pending.push_back(std::move(entry.second));
        node->children.clear();
    }
}

LineSet::LineSet() : root(new_line_root()) {}

LineSet& line_set() {
    static LineSet set;
    return set;
}

std::unique_ptr<LineNode> new_line_root() {
    return std::make_unique<LineNode>();
}

void clear_line_set(LineSet& set) {
    set.root = new_line_root();
    LinesEditedSinceBuild = true;
}

int prune_other_children(LineNode& node, double x) {
    return static_cast<int>(
        std::erase_if(node.children, [x](const auto& entry) { return entry.first != x; }));
}

void enter_line(LineSet& set, const std::vector<std::string>& words, bool force) {
    const std::vector<double> amounts = amount_words(words);
    LineNode& root = *set.root;
    bool changed = false;
    assign_noting_change(root.player, 0, changed);
    assign_noting_change(root.street, 0, changed);
    assign_noting_change(root.bets, 0, changed);
    assign_noting_change(root.amount, 0.0, changed);
    assign_noting_change(root.contribution[0], 0.0, changed);
    assign_noting_change(root.contribution[1], 0.0, changed);
    if (changed) LinesEditedSinceBuild = true;

    double prev = 0.0;
    bool check_made = false;
    int32_t player = 0, street = 0, bets = 0;
    LineNode* current = &root;
    for (const double x : amounts) {
        if (prev > x) throw_arg_error(words);
        // The actor's contribution comes from a dealing node's parent; a loaded set could hold
        // a player that indexes nothing.
        const LineNode* actor_node = current;
        if (actor_node->player < 0) actor_node = actor_node->parent;
        if (actor_node == nullptr || actor_node->player < 0 || actor_node->player > 1) {
            throw_arg_error(words);
        }
        const int a = actor_node->player;

        if (force && prune_other_children(*current, x) > 0) LinesEditedSinceBuild = true;
        auto found = current->children.find(x);
        const bool existed = found != current->children.end();
        if (!existed) {
            found = current->children.emplace(x, new_child(current)).first;
            LinesEditedSinceBuild = true;
        }

        if (x > prev) {
            prev = x;
            ++bets;
            check_made = false;
            player = 1 - player;
        } else if (bets == 0 && !check_made) {
            check_made = true;
            player = 1 - player;
        } else {
            ++street;
            bets = 0;
            check_made = false;
            player = 0;
        }

        LineNode& child = *found->second;
        changed = false;
        assign_noting_change(child.player, player, changed);
        assign_noting_change(child.street, street, changed);
        assign_noting_change(child.bets, bets, changed);
        assign_noting_change(child.amount, x, changed);
        assign_noting_change(child.contribution[a], x, changed);
        assign_noting_change(child.contribution[1 - a], actor_node->contribution[1 - a], changed);
        if (changed && existed) LinesEditedSinceBuild = true;

        if (!existed) {
            if (bets >= 1 || check_made) {
                if (!child.children.contains(x)) {
                    auto leaf = new_child(&child);
                    leaf->amount = x;
                    leaf->contribution[0] = leaf->contribution[1] = x;
                    leaf->street = street;
                    leaf->player = 0;
                    leaf->bets = 0;
                    child.children.emplace(x, std::move(leaf));
                }
            }
            if (bets >= 1 && !child.children.contains(-1.0)) {
                const int f = player;
                auto leaf = new_child(&child);
                leaf->amount = current->amount;
                leaf->contribution[f] = current->amount;
                leaf->contribution[1 - f] = x;
                leaf->street = street;
                leaf->player = 0;
                leaf->bets = 0;
                child.children.emplace(-1.0, std::move(leaf));
            }
        }
        current = &child;
    }
}

void remove_line(LineSet& set, const std::vector<std::string>& words) {
    const std::vector<double> amounts = amount_words(words);
    LineNode* current = set.root.get();
    double previous_key = 0.0;
    for (size_t i = 0; i < amounts.size(); ++i) {
        double key = amounts[i];
        if (key == 0.0 && previous_key > 0.0) key = -1.0;
        auto found = current->children.find(key);
        if (found == current->children.end()) return;
        if (i + 1 == amounts.size()) {
            current->children.erase(found);
            LinesEditedSinceBuild = true;
            return;
        }
        current = found->second.get();
        previous_key = key;
    }
}

double max_line_amount(const LineNode& node, double start) {
    // A walk with its own stack: deep lines must not exhaust the thread's.
    double best = start;
    std::vector<const LineNode*> pending{&node};
    while (!pending.empty()) {
        const LineNode* at = pending.back();
        pending.pop_back();
        for (const auto& [key, child] : at->children) {
            best = std::max(best, key);
            pending.push_back(child.get());
        }
    }
    return best;
}

void print_line_set(const LineNode& node, const std::string& prefix, double amount) {
    for (const auto& [k, child] : node.children) {
        const char* word;
        if (k == amount) {
            if (node.bets == 0) {
                word = "check";
            } else if (amount > 0.0 && node.bets > 0) {
                word = "call";
            } else {
                word = "bet";
            }
        } else {
            word = amount > k ? "fold" : "bet";
        }
        if (node.player < 0) {
            out_printf("%sdeal\n", prefix.c_str());
        } else {
            out_printf("%s%d,%d: %s %.1f\n", prefix.c_str(), StartStreet + node.street, node.player,
                       word, k);
        }
        print_line_set(*child, prefix + "  ", k);
    }
}
