#include "solver/node_edits.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "cards/canonical_suits.h"
#include "cards/hand_set.h"
#include "solver/ensure_node_strategy.h"
#include "solver/node_runout.h"
#include "solver/runout_walks.h"
#include "solver/solved_tree.h"
#include "solver/solver_mutex_claim.h"
#include "storage/lock_record.h"
#include "storage/storage_interface.h"

namespace {

// The edits' common start: the runout, the residency walk, a re-solve of a forgotten subtree.
int32_t PrepareEdit(SolvedTree* tree, int32_t node, int32_t turnCard, int32_t riverCard,
                    NodeRunout* at) {
    if (!ResolveNodeRunout(tree, node, turnCard, riverCard, at)) return kEditRefused;
    CheckTreeStorageReady(tree);
    EnsureNodeStrategy(tree, node, at->turn, at->river, 0);
    return at->node->regrets != nullptr ? kEditDone : kEditNoStorage;
}

// values in the tree's suits, one float per hand of the runout's level. `clean` maps each value
// before it is stored.
void HandRow(PooledArray* row, const SolvedTree* tree, const NodeRunout& at, const double* values,
             double (*clean)(double)) {
    std::vector<double> given(values, values + kComboCount);
    for (double& v : given) v = clean(v);
    std::vector<double> work(kComboCount, 0.0);
    if ((tree->flags & kTreeIsomorphism) != 0)
        PermuteComboSuits(tree->board, at.turnMask, at.riverMask, work.data(), given.data());
    else
        work = given;
    const HandSet& hs = *tree->hands;
    ConstructPooledArray(row, static_cast<int32_t>(LevelHands(hs, at.turn, at.river).size()), true,
                         false);
    ScatterComboValues(*row, work.data(), LevelIndexTable(hs, at.turn, at.river));
}

double AsIs(double v) {
    return v;
}

// Weights past this would overflow float regrets (1000 x value) or their sum over the actions,
// and regret matching would turn an infinite regret into NaN probabilities.
constexpr double kLargestStrategyWeight = 1e30;

// The largest weight the node's regrets keep at 1000 x: past it a 16-bit row saturates and the
// strategy would no longer be the weights' ratio.
double LargestWeight(const StorageInterface& regrets) {
    return std::min(regrets.largestValue() / 1000.0, kLargestStrategyWeight);
}

// 1000 x the weight, multiplied before the float conversion: the float product of a thousandth
// can fall just short of its whole number (0.251 gives 250.99998), which a 16-bit row cuts to 250.
double ThousandTimes(double v) {
    return v > 0.0 ? v * 1000.0 : 0.0;  // NaN too
}

// Every lock record of the runout the traversal or a saved tree reads.
template <typename F>
void ForEachRecord(const NodeRunout& at, F f) {
    for (StorageInterface* s : {at.node->regrets, at.node->strategySums})
        if (s != nullptr) f(s->flagsPtr(at.turn, at.river));
}

}  // namespace

int32_t libsubgame_set_node_lock(int32_t node, int32_t turnCard, int32_t riverCard, uint8_t lock) {
    SolvedTree* tree = g_solvedTree;
    NodeRunout at;
    const int32_t ready = PrepareEdit(tree, node, turnCard, riverCard, &at);
    if (ready != kEditDone) return ready;
    SolverMutexClaim claim;
    ForEachRecord(at, [&](LockRecord* record) {
        if ((record->flags & kLockCombosFlag) != 0) ClearLockMask(record);
        if (lock != 0)
            record->flags |= kLockNodeFlag;
        else
            record->flags &= ~kLockNodeFlag;
    });
    return kEditDone;
}

int32_t libsubgame_combo_lock_node(int32_t node, int32_t turnCard, int32_t riverCard,
                                   const double* values) {
    SolvedTree* tree = g_solvedTree;
    NodeRunout at;
    const int32_t ready = PrepareEdit(tree, node, turnCard, riverCard, &at);
    if (ready != kEditDone) return ready;
    PooledArray row;
    HandRow(&row, tree, at, values, AsIs);
    {
        SolverMutexClaim claim;
        LockNodeStorage(at.node, at.turn);
        ForEachRecord(at, [&](LockRecord* record) {
            if (record->mask == nullptr || record->maskLength != row.count)
                SetLockMask(record, row.count);
            record->flags = (record->flags & ~kLockNodeFlag) | kLockCombosFlag;
            for (int32_t i = 0; i < row.count; ++i)
                record->mask[i] = row.data[i] != 0.0f ? 1 : 0;  // NaN locks
        });
        UnlockNodeStorage(at.node, at.turn, false);
    }
    ReleasePooledArray(&row);
    return kEditDone;
}

int32_t libsubgame_set_strategy(int32_t node, int32_t action, int32_t turnCard, int32_t riverCard,
                                const double* values) {
    SolvedTree* tree = g_solvedTree;
    NodeRunout at;
    if (!ResolveNodeRunout(tree, node, turnCard, riverCard, &at)) return kEditRefused;
    if (action < 0 || action >= static_cast<int32_t>(at.node->children.size())) return kEditRefused;
    const int32_t ready = PrepareEdit(tree, node, turnCard, riverCard, &at);
    if (ready != kEditDone) return ready;
    const double largest = LargestWeight(*at.node->regrets);
    for (int32_t i = 0; i < kComboCount; ++i)
        if (values[i] > largest) return kEditTooLarge;
    PooledArray row;
    HandRow(&row, tree, at, values, ThousandTimes);
    PooledArray zeros;
    ConstructPooledArray(&zeros, row.count, true, false);
    {
        SolverMutexClaim claim;
        LockNodeStorage(at.node, at.turn);
        at.node->regrets->setAction(at.turn, at.river, action, row);
        if (AveragingInEffect(tree) && at.node->strategySums != nullptr)
            at.node->strategySums->setAction(at.turn, at.river, action, zeros);
        UnlockNodeStorage(at.node, at.turn, true);
    }
    ReleasePooledArray(&zeros);
    ReleasePooledArray(&row);
    return kEditDone;
}

int32_t libsubgame_get_locked_combos(int32_t node, int32_t turnCard, int32_t riverCard,
                                     double* out) {
    SolvedTree* tree = g_solvedTree;
    NodeRunout at;
    const int32_t ready = PrepareEdit(tree, node, turnCard, riverCard, &at);
    if (ready != kEditDone) return ready;
    PooledArray row;
    {
        std::unique_ptr<SolverMutexClaim> claim;
        if (at.node->street == 3 && tree->rootStreet() >= 2)
            claim = std::make_unique<SolverMutexClaim>();
        LockNodeStorage(at.node, at.turn);
        const LockRecord* record = at.node->regrets->flagsPtr(at.turn, at.river);
        const int32_t n = at.node->regrets->numHands(at.turn, at.river);
        ConstructPooledArray(&row, n, true, false);
        if (record->mask != nullptr)
            for (int32_t i = 0; i < n && i < record->maskLength; ++i)
                row.data[i] = static_cast<float>(record->mask[i]);
        UnlockNodeStorage(at.node, at.turn, false);
    }
    std::vector<float> gathered(kComboCount, 0.0f);
    GatherByIndex(gathered.data(), row, LevelIndexTable(*tree->hands, at.turn, at.river), true);
    ReleasePooledArray(&row);
    UnfoldComboValues(tree, out, gathered.data(), turnCard, riverCard);
    return kEditDone;
}

int32_t libsubgame_set_ev_boost(int32_t node, float boost) {
    SolvedTree* tree = g_solvedTree;
    if (tree == nullptr || node < 0 || node >= static_cast<int32_t>(tree->nodes.size()) ||
        !std::isfinite(boost))
        return kEditRefused;
    SolverMutexClaim claim;
    tree->nodes[node].evBoost = boost;
    return kEditDone;
}
