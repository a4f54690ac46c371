#include "solver/line_frequency.h"

#include <omp.h>

#include <cmath>
#include <limits>
#include <set>

#include "cards/hand_set.h"
#include "solver/ensure_node_strategy.h"
#include "solver/iterations.h"
#include "solver/line_reach.h"
#include "solver/runout_walks.h"
#include "solver/solved_tree.h"
#include "solver/solver_mutex_claim.h"
#include "solver/solver_settings.h"
#include "storage/thread_array_pool.h"

namespace {

constexpr size_t kMaxGroupCodes = 48;

// T = sum of a, S[c] = sum of a over the hands holding card c: the compatible mass of hand i is
// then T - S[c1] - S[c2] + a_i (hand i itself was taken away twice).
void CardSums(const float* a, const CardPair* pairs, int32_t n, double* total, double sums[52]) {
    *total = 0.0;
    for (int c = 0; c < kCardCount; ++c) sums[c] = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double x = a[i];
        *total += x;
        sums[CardPairLo(pairs[i])] += x;
        sums[CardPairHi(pairs[i])] += x;
    }
}

struct Level {
    const CardPair* pairs;
    int32_t count;
    double weight;
};

Level LevelOf(const HandSet& hs, int32_t turn, int32_t river) {
    if (river >= 0) {
        const RiverRecord& r = hs.records[turn].rivers[river];
        return {r.pairs.data(), static_cast<int32_t>(r.pairs.size()), 1.0};
    }
    if (turn >= 0) {
        const SubgameRecord& r = hs.records[turn];
        return {r.pairs.data(), static_cast<int32_t>(r.pairs.size()), 44.0};
    }
    return {hs.pairs.data(), static_cast<int32_t>(hs.pairs.size()), 1980.0};
}

struct Code {
    int32_t turnCard;
    int32_t riverCard;
    QueryTarget at;
};

}  // namespace

double RunoutReachProduct(const PooledArray& a, const PooledArray& b, const CardPair* pairs,
                          int32_t n, double w) {
    if (a.data == nullptr || b.data == nullptr || n <= 0) return 0.0;
    double total;
    double sums[52];
    CardSums(a.data, pairs, n, &total, sums);
    double result = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double mass = total - sums[CardPairLo(pairs[i])] - sums[CardPairHi(pairs[i])] +
                            static_cast<double>(a.data[i]);
        result = std::fma(w * static_cast<double>(b.data[i]), mass, result);
    }
    return result;
}

void RunoutReachProductCombos(PooledArray* out, const PooledArray& a, const PooledArray& b,
                              const CardPair* pairs, int32_t n, double w) {
    ReleasePooledArray(out);
    out->count = n;
    if (b.data == nullptr || n <= 0) return;
    ConstructPooledArray(out, n, true, false);
    if (a.data == nullptr) return;
    double total;
    double sums[52];
    CardSums(a.data, pairs, n, &total, sums);
    for (int32_t i = 0; i < n; ++i) {
        const double mass = total - sums[CardPairLo(pairs[i])] - sums[CardPairHi(pairs[i])] +
                            static_cast<double>(a.data[i]);
        out->data[i] = static_cast<float>(w * static_cast<double>(b.data[i]) * mass);
    }
}

double RunoutReachProductWeighted(const HandSet& hands, int32_t turn, int32_t river,
                                  const PooledArray& a, const PooledArray& b) {
    const Level level = LevelOf(hands, turn, river);
    return RunoutReachProduct(a, b, level.pairs, level.count, level.weight);
}

void RunoutValueWithHands(const HandSet& hands, PooledArray* out, int32_t turn, int32_t river,
                          const PooledArray& a, const PooledArray& b) {
    const Level level = LevelOf(hands, turn, river);
    RunoutReachProductCombos(out, a, b, level.pairs, level.count, level.weight);
}

void libsubgame_calc_line_freq(int32_t player, int32_t node, int32_t turnCard, int32_t riverCard,
                               double* out) {
    SolvedTree* tree = g_solvedTree;
    QueryTarget at;
    if (player != 0 && player != 1) return;
    if (!ResolveQueryTarget(tree, node, turnCard, riverCard, &at)) return;
    CheckTreeStorageReady(tree);
    EnsureNodeStrategy(tree, node, at.turn, at.river, 0);

    PooledArray row;
    {
        SolverMutexClaim claim;
        if (!TreeHasStorages(tree)) return;
        EnsureThreadPool(*tree->hands);
        OpenQuerySubtree(tree, at);
        PooledArray reach[2];
        CalcLineReach(tree, at, reach);
        CloseQuerySubtree(tree, at);
        RunoutValueWithHands(*tree->hands, &row, at.turn, at.river, reach[1 - player],
                             reach[player]);
        ReleasePooledArray(&reach[0]);
        ReleasePooledArray(&reach[1]);
    }
    std::vector<float> spread(kComboCount);
    RunoutHandValues(spread.data(), tree, row, at.turn, at.river, true);
    UnfoldComboValues(tree, out, spread.data(), turnCard, riverCard);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int combo = 0; combo < kComboCount; ++combo)
        if (tree->ranges[player][combo] == 0.0) out[combo] = nan;
    ReleasePooledArray(&row);
}

double libsubgame_calc_river_line_freq(int32_t node,
                                       const std::vector<std::vector<int16_t>>& groups) {
    SolvedTree* tree = g_solvedTree;
    if (tree == nullptr || tree->hands == nullptr || groups.empty()) return 0.0;
    // A re-solve inside an opened group would unpack the same storages again.
    if (tree->forgottenStreet >= 0) return 0.0;
    if (node < 0 || node >= static_cast<int32_t>(tree->nodes.size())) return 0.0;
    if (tree->nodes[node].street != 3) return 0.0;
    std::vector<std::vector<Code>> work(groups.size());
    for (size_t g = 0; g < groups.size(); ++g) {
        if (groups[g].size() > kMaxGroupCodes) return 0.0;
        for (int16_t code : groups[g]) {
            // Bits 6 and 7 belong to no card: a code using them names no runout.
            if ((code & 0xC0) != 0) return 0.0;
            Code c{code >> 8, code & 63, {}};
            if (!ResolveQueryTarget(tree, node, c.turnCard, c.riverCard, &c.at)) return 0.0;
            if (c.at.river < 0) return 0.0;
            work[g].push_back(c);
        }
    }
    CheckTreeStorageReady(tree);

    SolverMutexClaim claim;
    if (!TreeHasStorages(tree)) return 0.0;
    double total = 0.0;
    const int threads = libsubgame_get_thread_count();
    for (std::vector<Code>& group : work) {
        // No re-solve here (it would take locks under this one): nothing is forgotten, as
        // checked above, so every strategy is in place.
        if (group.empty()) continue;
        // Suit renaming may send the codes of one turn card to more than one turn record.
        std::set<int32_t> turns;
        for (const Code& c : group)
            if (turns.insert(c.at.turn).second) OpenQuerySubtree(tree, c.at);
        double slots[kMaxGroupCodes] = {};
        const int count = static_cast<int>(group.size());
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads)
        for (int k = 0; k < count; ++k) {
            EnsureThreadPool(*tree->hands);
            PooledArray reach[2];
            CalcLineReach(tree, group[k].at, reach);
            slots[k] = RunoutReachProductWeighted(*tree->hands, group[k].at.turn, group[k].at.river,
                                                  reach[1], reach[0]);
            ReleasePooledArray(&reach[0]);
            ReleasePooledArray(&reach[1]);
        }
        for (int k = 0; k < count; ++k) total += slots[k];
        turns.clear();
        for (const Code& c : group)
            if (turns.insert(c.at.turn).second) CloseQuerySubtree(tree, c.at);
    }
    return total;
}
