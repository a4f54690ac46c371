#include "solver/strategy_queries.h"

#include <memory>
#include <vector>

#include "cards/hand_set.h"
#include "solver/ensure_node_strategy.h"
#include "solver/node_runout.h"
#include "solver/runout_walks.h"
#include "solver/solved_tree.h"
#include "solver/solver_mutex_claim.h"
#include "solver/traversal.h"

namespace {

// Averages need 63 iterations: the first 60 carry no weight under delayed averaging.
constexpr int32_t kLastCurrentStrategyIteration = 62;

}  // namespace

void libsubgame_get_combo_strategy(int32_t node, int32_t action, int32_t turnCard,
                                   int32_t riverCard, double* out, uint8_t raw, int32_t* rawCount) {
    (void)rawCount;
    SolvedTree* tree = g_solvedTree;
    NodeRunout at;
    if (raw != 0 || !ResolveNodeRunout(tree, node, turnCard, riverCard, &at)) return;
    if (action < 0 || action >= static_cast<int32_t>(at.node->children.size())) return;
    CheckTreeStorageReady(tree);
    EnsureNodeStrategy(tree, node, at.turn, at.river, 0);
    if (at.node->regrets == nullptr) return;

    // River storages below a turn-rooted or river-rooted tree share the solver mutex with the
    // solve: claim it so the solver thread hands it over between traversals.
    std::unique_ptr<SolverMutexClaim> claim;
    if (at.node->street == 3 && tree->rootStreet() >= 2)
        claim = std::make_unique<SolverMutexClaim>();
    LockNodeStorage(at.node, at.turn);
    std::vector<PooledArray> rows =
        tree->iteration > kLastCurrentStrategyIteration && at.node->strategySums != nullptr
            ? AverageStrategy(at.node, at.turn, at.river)
            : CurrentStrategyUniformDefault(at.node, at.turn, at.river);
    UnlockNodeStorage(at.node, at.turn, false);
    claim.reset();

    std::vector<float> gathered(kComboCount, 0.0f);
    GatherByIndex(gathered.data(), rows[action], LevelIndexTable(*tree->hands, at.turn, at.river),
                  true);
    ReleaseRows(rows);
    UnfoldComboValues(tree, out, gathered.data(), turnCard, riverCard);
    const std::vector<double>& range = tree->ranges[at.node->player];
    for (int combo = 0; combo < kComboCount; ++combo)
        if (range[combo] == 0.0) out[combo] = 0.0;
}
