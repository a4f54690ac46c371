// The betting-line set: every entered line of cumulative amounts merged into one tree of
// LineNode records, with the obvious closing and folding answers added automatically. Tree
// building flattens it, node paths walk it. Main thread only; no lock.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// One decision point or leaf of the entered lines. Amounts are cumulative per player over the
// whole hand, in pot units.
struct LineNode {
    LineNode* parent = nullptr;  // one action earlier; null for the root (not owning)
    // Continuations keyed by the cumulative amount of the action, in descending exact order;
    // the fold is -1.0 and so comes last. A child's position is the library's action index.
    std::map<double, std::unique_ptr<LineNode>, std::greater<double>> children;
    int32_t player = 0;  // to act: 0 OOP, 1 IP; negative only in a loaded dealing node
    int32_t street = 0;  // streets closed since the root; the real street is StartStreet + this
    int32_t bets = 0;    // bets and raises so far on this node's street
    // Library node index from the last build (flatten_lines writes it); -1 for a node made
    // since, so nothing can mistake it for the root.
    int32_t recordIndex = -1;
    double amount = 0.0;  // the key that led here; for a fold leaf the folder's own total
    double contribution[2] = {0.0, 0.0};  // totals of player 0 and player 1 after the action

    LineNode() = default;
    LineNode(const LineNode&) = delete;
    LineNode& operator=(const LineNode&) = delete;
    // Frees the subtree without recursion: a line may be hundreds of thousands of actions deep.
    ~LineNode();
};

// The single owner of the entered lines.
struct LineSet {
    std::unique_ptr<LineNode> root;
    LineSet();
};

// The process-wide set of the interpreter.
LineSet& line_set();

// A fresh root: no parent, no children, every number 0, record index -1.
std::unique_ptr<LineNode> new_line_root();

// Replaces the set's tree by an empty root; marks the lines edited.
void clear_line_set(LineSet& set);

// Enters the amounts words[1..] as one line (force: erase every other branch along it first).
// Every word is converted before anything changes: a non-number or a non-finite or too large
// amount throws the conversion error. A decreasing amount, or a node whose actor is not player
// 0 or 1, throws the argument error; nodes made by earlier words stay. Creating, erasing or
// changing a node marks the lines edited; re-entering an existing line does not.
void enter_line(LineSet& set, const std::vector<std::string>& words, bool force);

// Erases every child of node whose key differs from x; returns how many were erased.
int prune_other_children(LineNode& node, double x);

// Removes the node reached by the amounts words[1..] with its subtree; a 0 after a positive
// key names the fold. Silently nothing when the line is not in the set. Conversion errors as
// enter_line, raised before anything changes.
void remove_line(LineSet& set, const std::vector<std::string>& words);

// The largest of start and every key below node.
double max_line_amount(const LineNode& node, double start);

// Debug dump through out_printf, one line per child: "<street>,<player>: <word> <key>".
void print_line_set(const LineNode& node, const std::string& prefix, double amount);
