#include "solver/strategy_queries.h"

#include <memory>
#include <vector>

#include "cards/hand_set.h"
#include "solver/ensure_node_strategy.h"
#include "solver/iteration_thresholds.h"
#include "solver/node_runout.h"
#include "solver/runout_walks.h"
#include "solver/solved_tree.h"
#include "solver/solver_mutex_claim.h"
#include "solver/traversal.h"

namespace {

// Every action's row of the node at the runout, from one reading of its storages (under the
// river lock for river nodes), so the rows form one strategy even while the solver runs. False,
// with no rows, when the arguments do not fit or the node has no storage.
bool StrategyRows(SolvedTree* tree, int32_t node, int32_t turnCard, int32_t riverCard,
                  NodeRunout* at, std::vector<PooledArray>* rows) {
    if (!ResolveNodeRunout(tree, node, turnCard, riverCard, at)) return false;
    CheckTreeStorageReady(tree);
    EnsureNodeStrategy(tree, node, at->turn, at->river, 0);
    if (at->node->regrets == nullptr) return false;

    // River storages below a turn-rooted or river-rooted tree share the solver mutex with the
    // solve: claim it so the solver thread hands it over between iterations.
    std::unique_ptr<SolverMutexClaim> claim;
    if (at->node->street == 3 && tree->rootStreet() >= 2)
        claim = std::make_unique<SolverMutexClaim>();
    LockNodeStorage(at->node, at->turn);
    *rows = tree->iteration >= kFirstDisplayedAverage && at->node->strategySums != nullptr
                ? AverageStrategy(at->node, at->turn, at->river)
                : CurrentStrategyUniformDefault(at->node, at->turn, at->river);
    UnlockNodeStorage(at->node, at->turn, false);
    return true;
}

// One action's row as 1326 values in real suits, with the NaN and 0 rules.
void WriteAction(const SolvedTree* tree, const NodeRunout& at, const PooledArray& row,
                 double* out) {
    std::vector<float> gathered(kComboCount, 0.0f);
    GatherByIndex(gathered.data(), row, LevelIndexTable(*tree->hands, at.turn, at.river), true);
    UnfoldComboValues(tree, out, gathered.data(), at.turnCard, at.riverCard);
    const std::vector<double>& range = tree->ranges[at.node->player];
    for (int combo = 0; combo < kComboCount; ++combo)
        if (range[combo] == 0.0) out[combo] = 0.0;
}

}  // namespace

void libsubgame_get_combo_strategy(int32_t node, int32_t action, int32_t turnCard,
                                   int32_t riverCard, double* out, uint8_t raw, int32_t* rawCount) {
    (void)rawCount;
    SolvedTree* tree = g_solvedTree;
    NodeRunout at;
    std::vector<PooledArray> rows;
    if (raw != 0 || action < 0) return;
    if (!StrategyRows(tree, node, turnCard, riverCard, &at, &rows)) return;
    if (action < static_cast<int32_t>(rows.size())) WriteAction(tree, at, rows[action], out);
    ReleaseRows(rows);
}

int32_t libsubgame_get_node_strategy(int32_t node, int32_t turnCard, int32_t riverCard,
                                     double* out) {
    SolvedTree* tree = g_solvedTree;
    NodeRunout at;
    std::vector<PooledArray> rows;
    if (!StrategyRows(tree, node, turnCard, riverCard, &at, &rows)) return 0;
    for (size_t a = 0; a < rows.size(); ++a) WriteAction(tree, at, rows[a], out + a * kComboCount);
    const int32_t count = static_cast<int32_t>(rows.size());
    ReleaseRows(rows);
    return count;
}
