// An independent double-precision CFR for small river- and turn-rooted games, written from the
// solver's rules and sharing none of its code: plain recursion, O(n^2) payoffs with card
// removal, alternating traversals (player 1 first), regret matching with the first-action
// default, the 0.75-power update floored at FLT_MIN, delayed weighted averaging, the
// evaluation strategies and the 1/44 river chance weight. Tests compare the solver with it.
#pragma once

#include <cstdint>
#include <vector>

#include "cards/cards.h"

struct RefLine {
    int kind;    // 0 decision, 1 showdown, 2 fold
    int parent;  // -1 for the root
    int player;  // acting player at a decision; -1 at a leaf
    int street;  // 2 turn, 3 river at a decision; -1 at a leaf
    double amount;
};

struct RefGame {
    CardMask board = 0;  // three (flop root), four (turn root) or five (river root) cards
    std::vector<RefLine> lines;
    std::vector<double> range[2];  // 1326 weights each, ComboIndex order
};

struct RefEvaluation {
    double value[2];
    double bestResponse[2];
    double exploitability;
};

class ReferenceCfr {
public:
    // exponent and cap of the averaging weight (river root 4.0 and unbounded, turn root 1.5
    // and 262143).
    // A flop board (three cards) supports Evaluate of the fresh game only (its strategies are
    // the uniform defaults; the turn chance weighs 1/45).
    ReferenceCfr(const RefGame& game, double exponent, double cap);

    // One iteration: player 1, then player 0, then the count advances.
    void Iterate();
    // On a river root, each player's updating walk runs twice per iteration, as the vectorised
    // river path updates in both root passes.
    void UpdateInBothRootPasses(bool on) { bothRootPasses_ = on; }
    int Iteration() const { return t_; }

    // Values and best responses of both players under the evaluation strategy.
    RefEvaluation Evaluate();

    // Stored numbers of a decision node for one combination at one river card (-1 on a river
    // root or at a turn node).
    double Regret(int node, int riverCard, int combo, int action) const;
    double StrategySum(int node, int riverCard, int combo, int action) const;
    // The regret-matched strategy with the first-action default, and the evaluation strategy.
    std::vector<double> CurrentStrategy(int node, int riverCard, int combo) const;
    std::vector<double> EvaluationStrategy(int node, int riverCard, int combo) const;

    bool Live(int combo) const { return live_[combo]; }
    int NodeCount() const { return static_cast<int>(nodes_.size()); }
    int ActionCount(int node) const { return static_cast<int>(nodes_[node].children.size()); }
    int NodeStreet(int node) const { return nodes_[node].street; }
    int NodeKind(int node) const { return nodes_[node].kind; }

private:
    struct Node {
        int kind, parent, player, street;
        double amount;
        std::vector<int> children;
    };
    using Row = std::vector<double>;  // 1326 entries, one per combination

    struct Result {
        Row value, best;
    };
    Result Walk(int node, int river, int p, bool update, const Row& oppReach);
    Result Terminal(int node, int river, int p, const Row& oppReach);
    std::vector<double> Matched(const double* regrets, int n, bool firstDefault) const;
    size_t Slot(int node, int riverCard, int combo) const;
    bool Available(int combo, int river) const;
    double Weight() const;
    double RootNormaliser(int p) const;

    std::vector<Node> nodes_;
    std::vector<size_t> nodeOffset_;  // per node, start of its numbers
    CardMask board_;
    bool turnRoot_;
    bool flopRoot_;
    int dealtTurn_ = -1;  // the turn card of the current walk on a flop root
    bool live_[1326];
    std::vector<int> liveList_;  // live combinations in ComboIndex order
    double weights_[2][1326];
    uint32_t strength_[53][1326];  // [river card or 52 for the board alone][combo]
    std::vector<double> regrets_, sums_;
    double exponent_, cap_;
    int t_ = 0;
    bool bothRootPasses_ = false;
};
