#include "solver/river_simd.h"

#include <atomic>
#include <chrono>
#include <cstring>

#include "cards/hand_set.h"
#include "solver/iteration_thresholds.h"
#include "solver/payoff_kernels.h"
#include "solver/river_batches.h"
#include "solver/river_scratch.h"
#include "solver/row_scaling.h"
#include "solver/solved_tree.h"
#include "solver/solver_defaults.h"
#include "solver/traversal.h"
#include "storage/lock_record.h"
#include "storage/row_kernels.h"
#include "storage/storage_interface.h"

namespace {

std::atomic<RiverRootObserver> Observer{nullptr};

// The report of the root being walked on this thread; filled only while an observer is set.
thread_local RiverRootReport* Report = nullptr;

const RiverRecord& RiverOf(const TraversalContext* ctx) {
    return ctx->tree->hands->records[ctx->turn].rivers[ctx->river];
}

int32_t HandCount(const TraversalContext* ctx) {
    return static_cast<int32_t>(RiverOf(ctx).hands.size());
}

const uint8_t* PairsOf(const RiverRecord& record) {
    return reinterpret_cast<const uint8_t*>(record.pairs.data());
}

TraversalContext ChildContext(const TraversalContext* ctx, int32_t a) {
    TraversalContext child;
    child.tree = ctx->tree;
    child.node = &ctx->tree->nodes[ctx->node->children[a]];
    child.turn = ctx->turn;
    child.river = ctx->river;
    return child;
}

// The rows of one node's actions, released at scope end. The usual few actions stay on the
// stack: a heap vector per decision node was a visible share of a river root's time.
class NodeRows {
public:
    explicit NodeRows(int32_t n) : n_(n) {
        if (n > kInline) heap_.resize(static_cast<size_t>(n));
    }
    NodeRows(const NodeRows&) = delete;
    NodeRows& operator=(const NodeRows&) = delete;
    ~NodeRows() {
        for (int32_t a = 0; a < n_; ++a) ReleasePooledArray(&data()[a]);
    }
    PooledArray* data() { return n_ > kInline ? heap_.data() : inline_; }
    PooledArray& operator[](int32_t a) { return data()[a]; }

private:
    static constexpr int32_t kInline = 8;
    int32_t n_;
    PooledArray inline_[kInline];
    std::vector<PooledArray> heap_;
};

bool Locked(const TreeNode* node, const TraversalContext* ctx) {
    return (node->regrets->flagsPtr(ctx->turn, ctx->river)->flags & kLockNodeFlag) != 0;
}

// The opponent's strategy sums take part in this iteration (averaging past its delay, river sums
// kept this iteration and made when the tree was built).
bool RiverSumsWanted(const SolvedTree* tree, const TreeNode* node) {
    const bool averaging = StrategySumsActive(tree->averaging, tree->iteration);
    return averaging && tree->riverAveraging && tree->riverStrategy && node->strategySums;
}

void AppendTerminal(TraversalContext* ctx) {
    const SolvedTree* tree = ctx->tree;
    const TreeNode* node = ctx->node;
    RiverScratch* scratch = ThreadRiverScratch();
    const double amount =
        node->kind == 2 && node->player == tree->traverser ? -node->amount : node->amount;
    scratch->terminals.push_back({amount, node->kind});
    PooledArray copy;
    copy.count = HandCount(ctx);
    if (ctx->opponentReach.data) {
        ResizePooledArray(&copy, copy.count, true);
        std::memcpy(copy.data, ctx->opponentReach.data, sizeof(float) * copy.count);
    }
    scratch->terminalReach.push_back(copy);
}

// The value row of child a in phase 3: the next terminal row, or the child's own update walk.
void TakeChildValue(TraversalContext* ctx, int32_t a, PooledArray* value) {
    TraversalContext child = ChildContext(ctx, a);
    if (child.node->kind != 0) {
        RiverScratch* scratch = ThreadRiverScratch();
        MovePooledArray(value, &scratch->terminalValues[scratch->cursor++]);
        return;
    }
    if (child.node->player == ctx->tree->traverser)
        RiverUpdateOwn(&child);
    else
        RiverUpdateOpp(&child);
    MovePooledArray(value, &child.value);
    ReleaseFourRows(&child);
}

// One call of the kernel of `width` rows.
using BatchCall = void (*)(int32_t width, float* const* out, const float* const* reach, int32_t n,
                           const RiverRecord& record, const float* s);

void ShowdownBatch(int32_t width, float* const* out, const float* const* reach, int32_t n,
                   const RiverRecord& record, const float* s) {
    const int16_t* g = record.runLengths.data();
    const uint8_t* p = PairsOf(record);
    switch (width) {
        case 8:
            return ShowdownValuesX8(out, reach, n, g, p, s);
        case 6:
            return ShowdownValuesX6(out, reach, n, g, p, s);
        case 4:
            return ShowdownValuesX4(out, reach, n, g, p, s);
        case 3:
            return ShowdownValuesX3(out, reach, n, g, p, s);
        case 2:
            return ShowdownValuesX2(out, reach, n, g, p, s);
        default:
            return ShowdownValues(out[0], reach[0], n, g, p, s[0]);
    }
}

void FoldBatch(int32_t width, float* const* out, const float* const* reach, int32_t n,
               const RiverRecord& record, const float* s) {
    const uint8_t* p = PairsOf(record);
    switch (width) {
        case 4:
            return FoldValuesX4(out, reach, n, p, s);
        case 3:
            return FoldValuesX3(out, reach, n, p, s);
        case 2:
            return FoldValuesX2(out, reach, n, p, s);
        default:
            return FoldValues(out[0], reach[0], n, p, s[0]);
    }
}

// One kernel call per batch; each reach copy goes back to the pool right after its batch, so
// the scratch holds at most the unevaluated copies beside the rows already computed.
void EvaluateBatches(TraversalContext* ctx, const std::vector<int32_t>& list, RiverBatchKind kind,
                     BatchCall call) {
    RiverScratch* scratch = ThreadRiverScratch();
    const RiverRecord& record = RiverOf(ctx);
    const int32_t level = ctx->tree->simdLevel;
    const int32_t total = static_cast<int32_t>(list.size());
    for (int32_t pos = 0; pos < total;) {
        const int32_t width = NextRiverBatchWidth(kind, total - pos, level);
        float* out[8];
        const float* reach[8];
        float scales[8] = {};
        for (int32_t j = 0; j < width; ++j) {
            const int32_t k = list[pos + j];
            PooledArray& value = scratch->terminalValues[k];
            const int32_t count = scratch->terminalReach[k].count;
            if (kind == RiverBatchKind::kShowdown)
                ConstructPooledArray(&value, count, false, true);
            else
                ResizePooledArray(&value, count, true);
            out[j] = value.data;
            reach[j] = scratch->terminalReach[k].data;
            scales[j] = static_cast<float>(scratch->terminals[k].amount);
        }
        call(width, out, reach, scratch->terminalReach[list[pos]].count, record, scales);
        for (int32_t j = 0; j < width; ++j)
            ReleasePooledArray(&scratch->terminalReach[list[pos + j]]);
        if (Report)
            (kind == RiverBatchKind::kShowdown ? Report->showdownWidths : Report->foldWidths)
                .push_back(width);
        pos += width;
    }
}

void RunRoot(TraversalContext* ctx) {
    RiverScratch* scratch = ThreadRiverScratch();
    FlattenRiverSubtree(ctx);
    const size_t terminals = scratch->terminalReach.size();
    scratch->terminalValues.resize(terminals);
    scratch->showdownList.clear();
    scratch->foldList.clear();
    for (size_t k = 0; k < terminals; ++k) {
        const PooledArray& reach = scratch->terminalReach[k];
        if (!reach.data) {
            scratch->terminalValues[k].count = reach.count;
            continue;
        }
        (scratch->terminals[k].kind == 1 ? scratch->showdownList : scratch->foldList)
            .push_back(static_cast<int32_t>(k));
    }
    if (Report) {
        Report->terminals = static_cast<int32_t>(terminals);
        Report->nullTerminals = static_cast<int32_t>(terminals - scratch->showdownList.size() -
                                                     scratch->foldList.size());
    }
    const auto kernelStart =
        Report ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point();
    EvaluateShowdownTerminals(ctx, scratch->showdownList);
    EvaluateFoldTerminals(ctx, scratch->foldList);
    if (Report)
        Report->kernelNanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::steady_clock::now() - kernelStart)
                                        .count();

    const TreeNode* node = ctx->node;
    if (node->kind != 0)
        MovePooledArray(&ctx->value, &scratch->terminalValues[scratch->cursor++]);
    else if (node->player != ctx->tree->traverser)
        RiverUpdateOpp(ctx);
    else
        RiverUpdateOwn(ctx);
    // No pooled row outlives the walk that took it; the vectors keep their capacity.
    scratch->ClearLists();
}

}  // namespace

void SetRiverRootObserver(RiverRootObserver observer) {
    Observer.store(observer, std::memory_order_relaxed);
}

void TraverseRiverSimd(TraversalContext* ctx) {
    const RiverRootObserver observer = Observer.load(std::memory_order_relaxed);
    if (!observer) {
        RunRoot(ctx);
        return;
    }
    thread_local RiverRootReport report;
    report.finished = false;
    report.context = ctx;
    report.root = ctx->node;
    report.turn = ctx->turn;
    report.river = ctx->river;
    report.simdLevel = ctx->tree->simdLevel;
    report.terminals = report.nullTerminals = 0;
    report.showdownWidths.clear();
    report.foldWidths.clear();
    report.nanoseconds = report.kernelNanoseconds = 0;
    observer(report);
    const auto start = std::chrono::steady_clock::now();
    Report = &report;
    RunRoot(ctx);
    Report = nullptr;
    report.nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    report.finished = true;
    observer(report);
}

void FlattenRiverSubtree(TraversalContext* ctx) {
    if (ctx->node->kind != 0)
        AppendTerminal(ctx);
    else if (ctx->node->player != ctx->tree->traverser)
        FlattenOppDecision(ctx);
    else
        FlattenOwnDecision(ctx);
}

void FlattenOwnDecision(TraversalContext* ctx) {
    const int32_t n = static_cast<int32_t>(ctx->node->children.size());
    for (int32_t a = 0; a < n; ++a) {
        TraversalContext child = ChildContext(ctx, a);
        MovePooledArray(&child.opponentReach, &ctx->opponentReach);
        FlattenRiverSubtree(&child);
        MovePooledArray(&ctx->opponentReach, &child.opponentReach);
    }
}

void FlattenOppDecision(TraversalContext* ctx) {
    const SolvedTree* tree = ctx->tree;
    const TreeNode* node = ctx->node;
    const int32_t n = static_cast<int32_t>(node->children.size());
    NodeRows s(n);
    CurrentStrategy(node, s.data(), ctx->turn, ctx->river);
    // Sums before the reach split, as the scalar walk: they see the reach arriving here.
    if (RiverSumsWanted(tree, node)) {
        const double w = tree->averaging == 1 ? AverageWeight(tree->iteration) : 1.0;
        if (!Locked(node, ctx) && w > 0)
            node->strategySums->accumulateStrategy(ctx->turn, ctx->river, s.data(),
                                                   ctx->opponentReach, static_cast<float>(w));
    }
    for (int32_t a = 0; a < n; ++a) MultiplyRowInPlace(&s[a], &ctx->opponentReach);
    for (int32_t a = 0; a < n; ++a) {
        TraversalContext child = ChildContext(ctx, a);
        MovePooledArray(&child.opponentReach, &s[a]);
        MovePooledArray(&child.ownReach, &ctx->ownReach);
        FlattenRiverSubtree(&child);
        MovePooledArray(&ctx->ownReach, &child.ownReach);
        ReleasePooledArray(&child.opponentReach);
    }
}

void EvaluateShowdownTerminals(TraversalContext* ctx, const std::vector<int32_t>& terminals) {
    EvaluateBatches(ctx, terminals, RiverBatchKind::kShowdown, ShowdownBatch);
}

void EvaluateFoldTerminals(TraversalContext* ctx, const std::vector<int32_t>& terminals) {
    EvaluateBatches(ctx, terminals, RiverBatchKind::kFold, FoldBatch);
}

void RiverUpdateOpp(TraversalContext* ctx) {
    const int32_t n = static_cast<int32_t>(ctx->node->children.size());
    for (int32_t a = 0; a < n; ++a) {
        PooledArray value;
        TakeChildValue(ctx, a, &value);
        if (a == 0)
            MovePooledArray(&ctx->value, &value);
        else
            AccumulateRow(&ctx->value, &value);
        ReleasePooledArray(&value);
    }
}

void RiverUpdateOwn(TraversalContext* ctx) {
    const SolvedTree* tree = ctx->tree;
    const TreeNode* node = ctx->node;
    const int32_t n = static_cast<int32_t>(node->children.size());
    NodeRows s(n);
    CurrentStrategy(node, s.data(), ctx->turn, ctx->river);
    NodeRows actionValues(n);
    for (int32_t a = 0; a < n; ++a) {
        PooledArray value;
        TakeChildValue(ctx, a, &value);
        ApplyEvBoost(node, &tree->nodes[node->children[a]], &value);
        // A null first child leaves the value null; the first later child with data then
        // allocates it zeroed, as the scalar walk's products do.
        if (a == 0)
            MultiplyRows(&ctx->value, &value, &s[a]);
        else
            AccumulateProduct(&ctx->value, &value, &s[a]);
        ReleasePooledArray(&s[a]);
        MovePooledArray(&actionValues[a], &value);
    }
    if (!ctx->value.data) {
        ReleasePooledArray(&ctx->value);
        ctx->value.count = actionValues[0].count;
    } else if (!Locked(node, ctx)) {
        const double scale = tree->payoffScale / tree->maxWeight[1 - node->player];
        const std::vector<int16_t>* groups =
            tree->iteration <= RiverDelay() ? &RiverOf(ctx).runLengths : nullptr;
        node->regrets->updateRegrets(ctx->turn, ctx->river, ctx->value, actionValues.data(), groups,
                                     scale);
    }
}
