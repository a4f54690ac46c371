#include "reference_cfr.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "cards/hand_evaluator.h"

namespace {
constexpr int kCombos = 1326;
constexpr int kNoRiver = 52;
}  // namespace

ReferenceCfr::ReferenceCfr(const RefGame& game, double exponent, double cap)
    : board_(game.board), exponent_(exponent), cap_(cap) {
    InitHandEvalTables();
    turnRoot_ = CardCount(board_) == 4;
    flopRoot_ = CardCount(board_) == 3;
    for (size_t i = 0; i < game.lines.size(); ++i) {
        const RefLine& l = game.lines[i];
        Node n{l.kind, l.parent, l.player, l.street, l.amount, {}};
        if (l.kind != 0) {
            n.player = game.lines[l.parent].player;
            n.street = l.kind == 2 ? game.lines[l.parent].street : 3;
        }
        nodes_.push_back(n);
        if (l.parent >= 0) nodes_[l.parent].children.push_back(static_cast<int>(i));
    }
    for (int c = 0; c < kCombos; ++c) {
        const CardMask hand = ComboMask(c);
        live_[c] = !(hand & board_) && (game.range[0][c] > 0 || game.range[1][c] > 0);
        for (int p = 0; p < 2; ++p)
            weights_[p][c] = live_[c] ? static_cast<float>(game.range[p][c]) : 0.0;
        for (int r = 0; r <= kNoRiver; ++r) {
            const CardMask river = r < kNoRiver ? CardBit(r) : 0;
            const bool ok = CardCount(board_ | river) == 5 && !(hand & (board_ | river));
            strength_[r][c] = ok ? EvalCardMask(board_ | river | hand) : 0;
        }
    }
    for (int c = 0; c < kCombos; ++c)
        if (live_[c]) liveList_.push_back(c);
    size_t offset = 0;
    for (const Node& n : nodes_) {
        nodeOffset_.push_back(offset);
        if (n.kind == 0) offset += 53 * kCombos * n.children.size();
    }
    regrets_.assign(offset, 0.0);
    sums_.assign(offset, 0.0);
}

size_t ReferenceCfr::Slot(int node, int riverCard, int combo) const {
    const int r = riverCard < 0 ? kNoRiver : riverCard;
    return nodeOffset_[node] +
           (static_cast<size_t>(r) * kCombos + combo) * nodes_[node].children.size();
}

bool ReferenceCfr::Available(int combo, int river) const {
    if (!live_[combo]) return false;
    if (dealtTurn_ >= 0 && (ComboMask(combo) & CardBit(dealtTurn_))) return false;
    return river < 0 || !(ComboMask(combo) & CardBit(river));
}

double ReferenceCfr::Weight() const {
    return std::min(std::pow(std::max(t_ - 60, 0), exponent_), cap_);
}

std::vector<double> ReferenceCfr::Matched(const double* regrets, int n, bool firstDefault) const {
    std::vector<double> s(n);
    double sum = 0;
    for (int a = 0; a < n; ++a) sum += regrets[a];
    if (sum >= FLT_MIN) {
        for (int a = 0; a < n; ++a) s[a] = regrets[a] / sum;
    } else if (firstDefault) {
        const double first = std::max(1.0 / n, 0.9);
        s[0] = first;
        for (int a = 1; a < n; ++a) s[a] = (1.0 - first) / (n - 1);
    } else {
        for (int a = 0; a < n; ++a) s[a] = 1.0 / n;
    }
    return s;
}

std::vector<double> ReferenceCfr::CurrentStrategy(int node, int riverCard, int combo) const {
    return Matched(&regrets_[Slot(node, riverCard, combo)], ActionCount(node), true);
}

std::vector<double> ReferenceCfr::EvaluationStrategy(int node, int riverCard, int combo) const {
    const int n = ActionCount(node);
    const double* regrets = &regrets_[Slot(node, riverCard, combo)];
    if (t_ <= 60) return Matched(regrets, n, false);
    const double* sums = &sums_[Slot(node, riverCard, combo)];
    double total = 0;
    for (int a = 0; a < n; ++a) total += sums[a];
    if (total < FLT_MIN) return Matched(regrets, n, false);
    std::vector<double> s(n);
    for (int a = 0; a < n; ++a) s[a] = sums[a] / total;
    return s;
}

double ReferenceCfr::Regret(int node, int riverCard, int combo, int action) const {
    return regrets_[Slot(node, riverCard, combo) + action];
}

double ReferenceCfr::StrategySum(int node, int riverCard, int combo, int action) const {
    return sums_[Slot(node, riverCard, combo) + action];
}

ReferenceCfr::Result ReferenceCfr::Terminal(int node, int river, int p, const Row& opp) {
    const Node& n = nodes_[node];
    Result r{Row(kCombos, 0.0), Row()};
    const int sr = river < 0 ? kNoRiver : river;
    for (int i : liveList_) {
        if (!Available(i, river)) continue;
        const CardMask hi = ComboMask(i);
        double v = 0;
        for (int j : liveList_) {
            if (!Available(j, river) || (ComboMask(j) & hi) || opp[j] == 0) continue;
            if (n.kind == 2) {
                v += opp[j];
            } else if (flopRoot_) {
                const CardMask dealt = board_ | CardBit(dealtTurn_) | CardBit(river);
                const uint32_t a = EvalCardMask(dealt | hi), b = EvalCardMask(dealt | ComboMask(j));
                v += a > b ? opp[j] : a < b ? -opp[j] : 0.0;
            } else {
                const uint32_t a = strength_[sr][i], b = strength_[sr][j];
                v += a > b ? opp[j] : a < b ? -opp[j] : 0.0;
            }
        }
        const double amount = n.kind == 2 && n.player == p ? -n.amount : n.amount;
        r.value[i] = amount * v;
    }
    r.best = r.value;
    return r;
}

ReferenceCfr::Result ReferenceCfr::Walk(int node, int river, int p, bool update, const Row& opp) {
    const Node& n = nodes_[node];
    if (flopRoot_ && n.street >= 2 && dealtTurn_ < 0) {
        Result sum{Row(kCombos, 0.0), Row(kCombos, 0.0)};
        for (int c = 0; c < 52; ++c) {
            if (board_ & CardBit(c)) continue;
            Row dealt = opp;
            for (int j : liveList_)
                if (ComboMask(j) & CardBit(c)) dealt[j] = 0;
            dealtTurn_ = c;
            Result child = Walk(node, -1, p, update, dealt);
            dealtTurn_ = -1;
            for (int i : liveList_) {
                if (ComboMask(i) & CardBit(c)) continue;
                sum.value[i] += child.value[i];
                sum.best[i] += child.best[i];
            }
        }
        for (int i = 0; i < kCombos; ++i) {
            sum.value[i] /= 45.0;
            sum.best[i] /= 45.0;
        }
        return sum;
    }
    if ((turnRoot_ || flopRoot_) && n.street == 3 && river < 0) {
        Result sum{Row(kCombos, 0.0), Row(kCombos, 0.0)};
        for (int c = 0; c < 52; ++c) {
            if ((board_ | (dealtTurn_ >= 0 ? CardBit(dealtTurn_) : 0)) & CardBit(c)) continue;
            Row dealt = opp;
            for (int j : liveList_)
                if (ComboMask(j) & CardBit(c)) dealt[j] = 0;
            Result child = Walk(node, c, p, update, dealt);
            for (int i : liveList_) {
                if (ComboMask(i) & CardBit(c)) continue;
                sum.value[i] += child.value[i];
                sum.best[i] += child.best[i];
            }
        }
        for (int i = 0; i < kCombos; ++i) {
            sum.value[i] /= 44.0;
            sum.best[i] /= 44.0;
        }
        return sum;
    }
    if (n.kind != 0) return Terminal(node, river, p, opp);
    const int actions = static_cast<int>(n.children.size());
    // s[i * actions + a]: the strategy of hand i.
    std::vector<double> s(static_cast<size_t>(kCombos) * actions, 0.0);
    for (int i : liveList_) {
        if (!Available(i, river)) continue;
        const std::vector<double> si =
            update ? CurrentStrategy(node, river, i) : EvaluationStrategy(node, river, i);
        std::copy(si.begin(), si.end(), s.begin() + static_cast<size_t>(i) * actions);
    }

    Result r{Row(kCombos, 0.0), Row(kCombos, 0.0)};
    if (n.player == p) {
        std::vector<Row> childValues;
        for (int a = 0; a < actions; ++a) {
            Result child = Walk(n.children[a], river, p, update, opp);
            for (int i : liveList_) {
                if (!Available(i, river)) continue;
                r.value[i] += s[i * actions + a] * child.value[i];
                r.best[i] = a == 0 ? child.best[i] : std::max(r.best[i], child.best[i]);
            }
            childValues.push_back(child.value);
        }
        if (update) {
            for (int i : liveList_) {
                if (!Available(i, river)) continue;
                double* regrets = &regrets_[Slot(node, river, i)];
                for (int a = 0; a < actions; ++a) {
                    const double d = childValues[a][i] - r.value[i];
                    const double m = std::fabs(d) < FLT_MIN ? 0.0 : std::pow(std::fabs(d), 0.75);
                    const double next = regrets[a] + (d >= 0 ? m : -m);
                    regrets[a] = next >= FLT_MIN ? next : 0.0;
                }
            }
        }
        return r;
    }
    if (update && t_ > 60) {
        const double w = Weight();
        for (int j : liveList_) {
            if (!Available(j, river) || opp[j] == 0) continue;
            double* sums = &sums_[Slot(node, river, j)];
            for (int a = 0; a < actions; ++a) sums[a] += w * s[j * actions + a] * opp[j];
        }
    }
    for (int a = 0; a < actions; ++a) {
        Row reach(kCombos, 0.0);
        for (int j : liveList_)
            if (Available(j, river)) reach[j] = opp[j] * s[j * actions + a];
        Result child = Walk(n.children[a], river, p, update, reach);
        for (int i : liveList_) {
            r.value[i] += child.value[i];
            r.best[i] += child.best[i];
        }
    }
    return r;
}

double ReferenceCfr::RootNormaliser(int p) const {
    double total = 0;
    for (int i : liveList_) {
        if (weights_[p][i] == 0) continue;
        double compatible = 0;
        for (int j : liveList_)
            if (!(ComboMask(i) & ComboMask(j))) compatible += weights_[1 - p][j];
        total += weights_[p][i] * compatible;
    }
    return total;
}

void ReferenceCfr::Iterate() {
    for (int p = 1; p >= 0; --p) {
        Row opp(weights_[1 - p], weights_[1 - p] + kCombos);
        Walk(0, -1, p, true, opp);
        if (bothRootPasses_ && !turnRoot_ && !flopRoot_) Walk(0, -1, p, true, opp);
    }
    ++t_;
}

RefEvaluation ReferenceCfr::Evaluate() {
    RefEvaluation e{};
    for (int p = 0; p < 2; ++p) {
        Row opp(weights_[1 - p], weights_[1 - p] + kCombos);
        Result r = Walk(0, -1, p, false, opp);
        const double norm = RootNormaliser(p);
        for (int i = 0; i < kCombos; ++i) {
            if (!live_[i]) continue;
            e.value[p] += weights_[p][i] / norm * r.value[i];
            e.bestResponse[p] += weights_[p][i] / norm * r.best[i];
        }
    }
    e.exploitability = ((e.bestResponse[0] - e.value[0]) + (e.bestResponse[1] - e.value[1])) / 2;
    return e;
}
