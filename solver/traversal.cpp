#include "solver/traversal.h"

#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "cards/hand_set.h"
#include "solver/blocker_flags.h"
#include "solver/chance_nodes.h"
#include "solver/iteration_thresholds.h"
#include "solver/payoff_kernels.h"
#include "solver/river_scratch.h"
#include "solver/river_simd.h"
#include "solver/row_scaling.h"
#include "solver/solved_tree.h"
#include "solver/solver_defaults.h"
#include "solver/target_record.h"
#include "storage/lock_record.h"
#include "storage/row_kernels.h"
#include "storage/storage_interface.h"
#include "utilities/services.h"

namespace {

struct Level {
    int32_t count;
    const uint8_t* pairs;
};

Level LevelOf(const SolvedTree* tree, int32_t turn, int32_t river) {
    const HandSet& hs = *tree->hands;
    if (river >= 0) {
        const RiverRecord& r = hs.records[turn].rivers[river];
        return {static_cast<int32_t>(r.hands.size()),
                reinterpret_cast<const uint8_t*>(r.pairs.data())};
    }
    if (turn >= 0) {
        const SubgameRecord& r = hs.records[turn];
        return {static_cast<int32_t>(r.hands.size()),
                reinterpret_cast<const uint8_t*>(r.pairs.data())};
    }
    return {static_cast<int32_t>(hs.hands.size()),
            reinterpret_cast<const uint8_t*>(hs.pairs.data())};
}

const RiverRecord& RiverOf(const SolvedTree* tree, int32_t turn, int32_t river) {
    return tree->hands->records[turn].rivers[river];
}

TreeNode* Child(SolvedTree* tree, const TreeNode* node, int32_t a) {
    return &tree->nodes[node->children[a]];
}

// A heap row with the contents of src (src null: a null row of its count).
void CopyRowToHeap(PooledArray* dst, const PooledArray& src) {
    ReleasePooledArray(dst);
    if (!src.data) {
        dst->count = src.count;
        return;
    }
    ResizePooledArray(dst, src.count, false);
    std::memcpy(dst->data, src.data, sizeof(float) * static_cast<size_t>(src.count));
}

bool IsTerminal(const TreeNode* node) {
    return node->kind != 0;
}

// Fold payoffs are negated for the player who folded; showdowns and other children are signed
// as the node's amount, which is 0 for decisions.
double SignedChildAmount(const SolvedTree* tree, const TreeNode* child) {
    if (child->kind == 2) return child->player == tree->traverser ? -child->amount : child->amount;
    if (child->kind == 1) return child->amount;
    return 0.0;
}

void FoldOrShowdown(bool showdown, const RiverRecord& record, PooledArray* out,
                    const PooledArray* reach, double amount) {
    const int32_t n = static_cast<int32_t>(record.hands.size());
    if (!reach->data) {
        ReleasePooledArray(out);
        out->count = n;
        return;
    }
    ResizePooledArray(out, n, false);
    const uint8_t* pairs = reinterpret_cast<const uint8_t*>(record.pairs.data());
    if (showdown)
        ShowdownValues(out->data, reach->data, n, record.runLengths.data(), pairs,
                       static_cast<float>(amount));
    else
        FoldValues(out->data, reach->data, n, pairs, static_cast<float>(amount));
}

void TwoTerminalChildValues(double amount0, double amount1, const RiverRecord& record,
                            PooledArray* out0, PooledArray* out1, const PooledArray* reach) {
    const int32_t n = static_cast<int32_t>(record.hands.size());
    if (!reach->data) {
        ReleasePooledArray(out0);
        ReleasePooledArray(out1);
        out0->count = out1->count = n;
        return;
    }
    ResizePooledArray(out0, n, false);
    ResizePooledArray(out1, n, false);
    TwoTerminalValues(out0->data, out1->data, reach->data, n, record.runLengths.data(),
                      reinterpret_cast<const uint8_t*>(record.pairs.data()),
                      static_cast<float>(amount0), static_cast<float>(amount1));
}

void TwoTerminalChildValuesWeighted(double amount0, double amount1, const RiverRecord& record,
                                    PooledArray* out0, PooledArray* out1, const PooledArray* reach0,
                                    const PooledArray* reach1) {
    const int32_t n = static_cast<int32_t>(record.hands.size());
    if (!reach0->data && !reach1->data) {
        ReleasePooledArray(out0);
        ReleasePooledArray(out1);
        out0->count = out1->count = n;
        return;
    }
    ResizePooledArray(out0, n, false);
    ResizePooledArray(out1, n, false);
    TwoTerminalValuesWeighted(out0->data, out1->data, reach0->data, reach1->data, n,
                              record.runLengths.data(),
                              reinterpret_cast<const uint8_t*>(record.pairs.data()),
                              static_cast<float>(amount0), static_cast<float>(amount1));
}

std::atomic<bool> TwoTerminalKernels{true};

// Strategy sums are read (evaluation) or accumulated only past the averaging delay.
bool AveragingActive(const SolvedTree* tree) {
    return StrategySumsActive(tree->averaging, tree->iteration);
}

}  // namespace

void SetTwoTerminalKernels(bool on) {
    TwoTerminalKernels.store(on, std::memory_order_relaxed);
}

void ApplyEvBoost(const TreeNode* node, const TreeNode* child, PooledArray* row) {
    const float b = child->evBoost;
    if (b == 0.0f) return;
    if (child->kind == 2) {
        ScaleRow(row, 1.0f - b);
    } else if (child->kind == 1 || child->street > node->street) {
        const float up = 1.0f + b;
        ScaleRowBySign(row, up, static_cast<float>(1.0 / static_cast<double>(up)));
    } else {
        ScalePositiveRow(row, 1.0f + b);
    }
}

namespace {

std::vector<PooledArray> StrategyFor(const SolvedTree* tree, const TreeNode* node, int32_t turn,
                                     int32_t river) {
    if (tree->mode == kModeUpdate) {
        std::vector<PooledArray> s(node->children.size());
        CurrentStrategy(node, s.data(), turn, river);
        return s;
    }
    return EvaluationStrategy(tree, node, turn, river);
}

}  // namespace

void ReleaseRows(std::vector<PooledArray>& rows) {
    for (PooledArray& row : rows) ReleasePooledArray(&row);
}

int32_t LevelHandCount(const SolvedTree* tree, int32_t turn, int32_t river) {
    return LevelOf(tree, turn, river).count;
}

double AverageWeight(int32_t t) {
    const double base = t > kAveragingDelay ? static_cast<double>(t - kAveragingDelay) : 0.0;
    return std::min(std::pow(base, AveragingExponent()), AveragingCap());
}

void CurrentStrategy(const TreeNode* node, PooledArray* out, int32_t turn, int32_t river) {
    const size_t n = node->children.size();
    std::vector<float> d(n);
    const double first = std::max(1.0 / static_cast<double>(n), 0.9);
    d[0] = static_cast<float>(first);
    for (size_t k = 1; k < n; ++k) d[k] = static_cast<float>((1.0 - first) / (n - 1));
    node->regrets->getStrategy(out, turn, river, d.data());
}

std::vector<PooledArray> CurrentStrategyUniformDefault(const TreeNode* node, int32_t turn,
                                                       int32_t river) {
    const size_t n = node->children.size();
    std::vector<float> d(n, 1.0f / static_cast<float>(n));
    std::vector<PooledArray> out(n);
    node->regrets->getStrategy(out.data(), turn, river, d.data());
    return out;
}

std::vector<PooledArray> AverageStrategy(const TreeNode* node, int32_t turn, int32_t river) {
    const size_t n = node->children.size();
    std::vector<float> zeros(n, 0.0f);
    std::vector<PooledArray> avg(n);
    node->strategySums->getStrategy(avg.data(), turn, river, zeros.data());
    std::vector<PooledArray> cur = CurrentStrategyUniformDefault(node, turn, river);
    const int32_t hands = avg.empty() ? 0 : avg[0].count;
    for (int32_t i = 0; i < hands; ++i) {
        float total = 0.0f;
        for (size_t a = 0; a < n; ++a) total += avg[a].data ? avg[a].data[i] : 0.0f;
        if (total == 0.0f)
            for (size_t a = 0; a < n; ++a)
                if (avg[a].data) avg[a].data[i] = cur[a].data ? cur[a].data[i] : 0.0f;
    }
    ReleaseRows(cur);
    return avg;
}

std::vector<PooledArray> EvaluationStrategy(const SolvedTree* tree, const TreeNode* node,
                                            int32_t turn, int32_t river) {
    if (!AveragingActive(tree) || !node->strategySums ||
        (node->street >= 3 && !tree->riverStrategy))
        return CurrentStrategyUniformDefault(node, turn, river);
    return AverageStrategy(node, turn, river);
}

void TraverseNode(TraversalContext* ctx) {
    const TreeNode* node = ctx->node;
    if (node->street == 3 && ctx->turn >= 0 && ctx->river >= 0 &&
        (!node->parentNode || node->parentNode->street < 3)) {
        RiverScratch* scratch = ThreadRiverScratch();
        BuildBlockerFlags(scratch->groupFlags, ctx->opponentReach.data,
                          RiverOf(ctx->tree, ctx->turn, ctx->river));
        scratch->ClearLists();
        if (ctx->tree->mode == kModeUpdate && ctx->tree->simdLevel > 1) {
            TraverseRiverSimd(ctx);
            return;
        }
    }
    if (node->street >= 2 && ctx->turn < 0)
        DealTurnChance(ctx);
    else if (node->street >= 3 && ctx->river < 0)
        DealRiverChance(ctx);
    else if (node->kind != 0)
        EvalTerminalNode(ctx);
    else if (node->player != ctx->tree->traverser)
        TraverseOppDecision(ctx);
    else
        TraverseOwnDecision(ctx);
    if (ctx->tree->mode == kModeCollect && ctx->tree->target != nullptr && ctx->tree->pass != kPassRecordJobs)
        CollectTargetNode(ctx);
}

void EvalTerminalNode(TraversalContext* ctx) {
    const SolvedTree* tree = ctx->tree;
    const TreeNode* node = ctx->node;
    const double a =
        (node->kind == 2 && node->player == tree->traverser) ? -node->amount : node->amount;
    if (node->kind == 1) {
        FoldOrShowdown(true, RiverOf(tree, ctx->turn, ctx->river), &ctx->value, &ctx->opponentReach,
                       a);
    } else if (ctx->river >= 0) {
        FoldOrShowdown(false, RiverOf(tree, ctx->turn, ctx->river), &ctx->value,
                       &ctx->opponentReach, a);
    } else {
        const Level level = LevelOf(tree, ctx->turn, -1);
        ResizePooledArray(&ctx->value, level.count, false);
        FoldValues(ctx->value.data, ctx->opponentReach.data, level.count, level.pairs,
                   static_cast<float>(a));
    }
    if (tree->mode == kModeEvaluate) {
        if (!ctx->value.data && ctx->bestResponse.data) fail_fatal(nullptr);
        CopyRowToHeap(&ctx->bestResponse, ctx->value);
    }
}

void TraverseOwnDecision(TraversalContext* ctx) {
    SolvedTree* tree = ctx->tree;
    const TreeNode* node = ctx->node;
    const int32_t n = static_cast<int32_t>(node->children.size());
    const LockRecord* lock = node->regrets->flagsPtr(ctx->turn, ctx->river);
    const bool locked = (lock->flags & 1u) != 0;
    const uint8_t* mask = lock->mask;

    std::vector<PooledArray> s = StrategyFor(tree, node, ctx->turn, ctx->river);
    PooledArray fast[2];
    bool fastPath = false;
    if (tree->mode == kModeUpdate && node->street == 3 && n >= 2 && IsTerminal(Child(tree, node, n - 2)) &&
        IsTerminal(Child(tree, node, n - 1)) && TwoTerminalKernels.load(std::memory_order_relaxed)) {
        TwoTerminalChildValues(SignedChildAmount(tree, Child(tree, node, n - 2)),
                               SignedChildAmount(tree, Child(tree, node, n - 1)),
                               RiverOf(tree, ctx->turn, ctx->river), &fast[0], &fast[1],
                               &ctx->opponentReach);
        fastPath = true;
    }

    std::vector<PooledArray> actionValues(n);
    for (int32_t a = 0; a < n; ++a) {
        TraversalContext child;
        child.tree = tree;
        child.node = Child(tree, node, a);
        child.turn = ctx->turn;
        child.river = ctx->river;
        if (ctx->ownReach.count > 0) MultiplyRowsSparse(&child.ownReach, &ctx->ownReach, &s[a]);
        PooledArray* fastRow = fastPath && a >= n - 2 ? &fast[a - (n - 2)] : nullptr;
        if (fastRow && fastRow->data) {
            MovePooledArray(&child.value, fastRow);
        } else {
            MovePooledArray(&child.opponentReach, &ctx->opponentReach);
            TraverseNode(&child);
            MovePooledArray(&ctx->opponentReach, &child.opponentReach);
        }
        if (tree->mode == kModeUpdate) ApplyEvBoost(node, child.node, &child.value);
        if (ctx->opponentReach.data) {
            if (a == 0)
                MultiplyRows(&ctx->value, &child.value, &s[a]);
            else
                AccumulateProduct(&ctx->value, &child.value, &s[a]);
        }
        if (tree->mode == kModeEvaluate) {
            if (a == 0) {
                if (locked)
                    MultiplyRows(&ctx->bestResponse, &child.bestResponse, &s[a]);
                else if (mask)
                    MultiplyRowsMasked(&ctx->bestResponse, &child.bestResponse, &s[a], mask);
                else
                    MovePooledArray(&ctx->bestResponse, &child.bestResponse);
            } else {
                if (locked)
                    AccumulateProduct(&ctx->bestResponse, &child.bestResponse, &s[a]);
                else if (mask)
                    MaxOrAccumulateMasked(&ctx->bestResponse, &child.bestResponse, &s[a], mask);
                else
                    MaxRowInPlace(&ctx->bestResponse, &child.bestResponse);
            }
        }
        ReleasePooledArray(&s[a]);
        MovePooledArray(&actionValues[a], &child.value);
        ReleaseFourRows(&child);
    }

    if (!ctx->opponentReach.data || !ctx->value.data) {
        ReleasePooledArray(&ctx->value);
        ctx->value.count = actionValues[0].count;
    } else if (tree->mode == kModeUpdate && tree->pass != kPassRecordJobs) {
        double scale = tree->payoffScale;
        if (node->street >= 3) scale /= tree->maxWeight[1 - node->player];
        const std::vector<int16_t>* groups = node->street == 3 && tree->iteration <= RiverDelay()
                                                 ? &RiverOf(tree, ctx->turn, ctx->river).runLengths
                                                 : nullptr;
        if (!(node->regrets->flagsPtr(ctx->turn, ctx->river)->flags & 1u))
            node->regrets->updateRegrets(ctx->turn, ctx->river, ctx->value, actionValues.data(),
                                         groups, scale);
    }
    ReleaseRows(s);
    ReleaseRows(actionValues);
    ReleasePooledArray(&fast[0]);
    ReleasePooledArray(&fast[1]);
}

void TraverseOppDecision(TraversalContext* ctx) {
    SolvedTree* tree = ctx->tree;
    const TreeNode* node = ctx->node;
    const int32_t n = static_cast<int32_t>(node->children.size());
    std::vector<PooledArray> s = StrategyFor(tree, node, ctx->turn, ctx->river);

    if (tree->mode == kModeUpdate && tree->pass != kPassRecordJobs && AveragingActive(tree) && node->strategySums &&
        (node->street <= 2 || (node->street == 3 && tree->riverAveraging && tree->riverStrategy))) {
        const double w = tree->averaging == 1 ? AverageWeight(tree->iteration) : 1.0;
        if (!(node->regrets->flagsPtr(ctx->turn, ctx->river)->flags & 1u) && w > 0)
            node->strategySums->accumulateStrategy(ctx->turn, ctx->river, s.data(),
                                                   ctx->opponentReach, static_cast<float>(w));
    }
    for (int32_t a = 0; a < n; ++a) MultiplyRowInPlace(&s[a], &ctx->opponentReach);

    PooledArray fast[2];
    bool fastPath = false;
    if (tree->mode == kModeUpdate && node->street == 3 && n >= 2 && IsTerminal(Child(tree, node, n - 2)) &&
        IsTerminal(Child(tree, node, n - 1)) && s[n - 2].data && s[n - 1].data &&
        TwoTerminalKernels.load(std::memory_order_relaxed)) {
        TwoTerminalChildValuesWeighted(SignedChildAmount(tree, Child(tree, node, n - 2)),
                                       SignedChildAmount(tree, Child(tree, node, n - 1)),
                                       RiverOf(tree, ctx->turn, ctx->river), &fast[0], &fast[1],
                                       &s[n - 2], &s[n - 1]);
        fastPath = true;
    }

    for (int32_t a = 0; a < n; ++a) {
        TraversalContext child;
        child.tree = tree;
        child.node = Child(tree, node, a);
        child.turn = ctx->turn;
        child.river = ctx->river;
        PooledArray* fastRow = fastPath && a >= n - 2 ? &fast[a - (n - 2)] : nullptr;
        if (fastRow && fastRow->data) {
            MovePooledArray(&child.value, fastRow);
        } else {
            MovePooledArray(&child.opponentReach, &s[a]);
            MovePooledArray(&child.ownReach, &ctx->ownReach);
            TraverseNode(&child);
            MovePooledArray(&ctx->ownReach, &child.ownReach);
            ReleasePooledArray(&child.opponentReach);
        }
        if (a == 0) {
            MovePooledArray(&ctx->value, &child.value);
            if (tree->mode == kModeEvaluate) MovePooledArray(&ctx->bestResponse, &child.bestResponse);
        } else {
            AccumulateRow(&ctx->value, &child.value);
            if (tree->mode == kModeEvaluate) AccumulateRow(&ctx->bestResponse, &child.bestResponse);
        }
        ReleaseFourRows(&child);
    }
    ReleaseRows(s);
    ReleasePooledArray(&fast[0]);
    ReleasePooledArray(&fast[1]);
}
