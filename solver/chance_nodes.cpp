#include "solver/chance_nodes.h"

#include <omp.h>

#include <algorithm>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstring>

#include "cards/hand_set.h"
#include "solver/iteration_thresholds.h"
#include "solver/row_scaling.h"
#include "solver/runout_walks.h"
#include "solver/solved_tree.h"
#include "solver/solver_defaults.h"
#include "solver/solver_mutex.h"
#include "solver/solver_settings.h"
#include "solver/solver_thread.h"
#include "solver/target_record.h"
#include "solver/traversal.h"
#include "storage/node_data.h"
#include "storage/row_kernels.h"
#include "storage/thread_array_pool.h"

namespace {

std::vector<SubgameJob*> Jobs;  // guarded by the solver mutex
size_t JobCursor = 0;

constexpr float kTurnScale = 1.0f / 45.0f;
constexpr float kRiverScale = 1.0f / 44.0f;

void CopyRowToHeap(PooledArray* dst, const PooledArray& src) {
    ReleasePooledArray(dst);
    if (!src.data) {
        dst->count = src.count;
        return;
    }
    ResizePooledArray(dst, src.count, false);
    std::memcpy(dst->data, src.data, sizeof(float) * static_cast<size_t>(src.count));
}

void ZeroRow(PooledArray* row, int32_t count) {
    ReleasePooledArray(row);
    ConstructPooledArray(row, count, true, false);
}

bool Incomplete(const SolvedTree* tree) {
    return (tree->flags & kTreeIncomplete) != 0;
}

double ReachWeight(const SolvedTree* tree) {
    return std::pow(static_cast<double>(tree->iteration) + 1.0, AveragingExponent());
}

// A stored row without a value for each of the node's hands (never stored, or saved empty and
// loaded as an allocation of none) reads as zeros of the node's count, as the street below would
// give when nobody reaches it.
void TakeStoredRow(PooledArray* dst, const PooledArray& stored, int32_t count) {
    if (stored.count != count) {
        ReleasePooledArray(dst);
        dst->count = count;
        return;
    }
    CopyRowToHeap(dst, stored);
}

// The chance node's values stored by an earlier evaluation (the street below is gone).
void TakeStoredValues(TraversalContext* ctx, NodeData& record, int32_t count) {
    const int32_t p = ctx->tree->traverser;
    TakeStoredRow(&ctx->value, record.rows[2 + p], count);
    TakeStoredRow(&ctx->bestResponse, record.rows[4 + p], count);
}

void StoreValues(const TraversalContext* ctx, NodeData& record) {
    const int32_t p = ctx->tree->traverser;
    CopyRowToHeap(&record.rows[2 + p], ctx->value);
    CopyRowToHeap(&record.rows[4 + p], ctx->bestResponse);
}

SubgameShared* MakeShared(const TraversalContext* ctx, int32_t handCount) {
    SubgameShared* shared = new SubgameShared;
    CopyRowToHeap(&shared->parentOpponentReach, ctx->opponentReach);
    ConstructPooledArray(&shared->valueSum, handCount, true, false);
    if (ctx->ownReach.count > 0) CopyRowToHeap(&shared->parentOwnReach, ctx->ownReach);
    if (ctx->tree->mode == kModeEvaluate)
        ConstructPooledArray(&shared->bestResponseSum, handCount, true, false);
    return shared;
}

void RecordJob(TraversalContext* ctx, SubgameShared* shared, bool first, int32_t turn,
               int32_t river) {
    SubgameJob* job = new SubgameJob;
    job->tree = ctx->tree;
    job->node = ctx->node;
    job->turn = turn;
    job->river = river;
    job->shared = shared;
    job->ownsShared = first;
    Jobs.push_back(job);
}

void ReleaseShared(SubgameShared* shared) {
    ReleasePooledArray(&shared->parentOpponentReach);
    ReleasePooledArray(&shared->valueSum);
    ReleasePooledArray(&shared->parentOwnReach);
    ReleasePooledArray(&shared->bestResponseSum);
}

// Pass 2: the chance node takes the merged sums of the visit's jobs.
void TakeMergedJobs(TraversalContext* ctx, size_t jobCount) {
    SubgameJob* job = Jobs.at(JobCursor);
    MovePooledArray(&ctx->value, &job->shared->valueSum);
    if (job->shared->bestResponseSum.data || job->shared->bestResponseSum.count)
        MovePooledArray(&ctx->bestResponse, &job->shared->bestResponseSum);
    ReleaseShared(job->shared);
    JobCursor += jobCount;
}

void RunJob(SubgameJob* job) {
    const auto start = std::chrono::steady_clock::now();
    SolvedTree* tree = job->tree;
    EnsureThreadPool(*tree->hands);
    SubgameShared* shared = job->shared;
    if (job->river < 0) {
        const SubgameRecord& record = tree->hands->records[job->turn];
        const int32_t n = static_cast<int32_t>(record.hands.size());
        ResizePooledArray(&job->opponentReach, n, true);
        GatherRow(&job->opponentReach, &shared->parentOpponentReach, record.maps[0].data());
        if (shared->parentOwnReach.count > 0) {
            ResizePooledArray(&job->ownReach, n, true);
            GatherRow(&job->ownReach, &shared->parentOwnReach, record.maps[0].data());
        }
        std::mutex* mutexes = job->node->turnMutexes.get();
        if (mutexes) mutexes[job->turn].lock();
        TraverseNode(job);
        if (mutexes) mutexes[job->turn].unlock();
    } else {
        const RiverRecord& record = tree->hands->records[job->turn].rivers[job->river];
        GatherRowToRecord(record, &job->opponentReach, &shared->parentOpponentReach);
        if (shared->parentOwnReach.count > 0)
            GatherRowToRecord(record, &job->ownReach, &shared->parentOwnReach);
        TraverseNode(job);
    }
    // Heap copies: pooled rows go back to this worker's pool, the merge runs elsewhere.
    CopyRowToHeap(&job->resultValue, job->value);
    CopyRowToHeap(&job->resultBestResponse, job->bestResponse);
    ReleaseFourRows(job);
    if (tree->mode == kModeUpdate) {
        const auto micros = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count() /
                            1000;
        job->node->jobCost[tree->traverser].store(static_cast<int32_t>(micros),
                                                  std::memory_order_relaxed);
    }
}

void MergeJob(SubgameJob* job) {
    SubgameShared* shared = job->shared;
    const bool withBest = shared->bestResponseSum.data != nullptr;
    if (job->river < 0) {
        const SubgameRecord& record = job->tree->hands->records[job->turn];
        for (int32_t k = 0; k < record.weight; ++k) {
            ScatterAddRowByMap(&shared->valueSum, &job->resultValue, record.maps[k]);
            if (withBest)
                ScatterAddRowByMap(&shared->bestResponseSum, &job->resultBestResponse,
                                   record.maps[k]);
        }
    } else {
        const RiverRecord& record = job->tree->hands->records[job->turn].rivers[job->river];
        ScatterRowFromRecord(record, &shared->valueSum, &job->resultValue);
        if (withBest)
            ScatterRowFromRecord(record, &shared->bestResponseSum, &job->resultBestResponse);
    }
    ReleasePooledArray(&job->resultValue);
    ReleasePooledArray(&job->resultBestResponse);
}

bool FlopRooted(const SolvedTree* tree) {
    return tree->rootStreet() <= 1;
}

// A value query's walk below a target that sits above this chance node's street reads the
// values the last best-response refresh stored here instead of dealing the street again.
bool TargetAboveTurn(const SolvedTree* tree) {
    const TargetRecord* target = tree->target;
    return tree->mode == kModeCollect && target != nullptr &&
           (target->node->street < 2 || (target->node->street == 2 && target->turn < 0));
}

bool TargetAboveRiver(const SolvedTree* tree) {
    const TargetRecord* target = tree->target;
    return tree->mode == kModeCollect && target != nullptr &&
           (target->node->street != 3 || target->river < 0);
}

// The stored value row of the traverser, or zeros when the refresh left none of this size.
void TakeStoredValue(TraversalContext* ctx, NodeData& record, int32_t count) {
    const PooledArray& stored = record.rows[2 + ctx->tree->traverser];
    if (stored.count == count)
        CopyRowToHeap(&ctx->value, stored);
    else
        ZeroRow(&ctx->value, count);
}

}  // namespace

std::vector<SubgameJob*>& SubgameJobs() {
    return Jobs;
}

void ResetJobCursor() {
    JobCursor = 0;
}

void DeleteSubgameJobs() {
    for (SubgameJob* job : Jobs) {
        ReleaseFourRows(job);
        ReleasePooledArray(&job->resultValue);
        ReleasePooledArray(&job->resultBestResponse);
        if (job->ownsShared) {
            ReleaseShared(job->shared);
            delete job->shared;
        }
        delete job;
    }
    Jobs.clear();
    JobCursor = 0;
}

void DealTurnChance(TraversalContext* ctx) {
    SolvedTree* tree = ctx->tree;
    TreeNode* node = ctx->node;
    const int32_t n = static_cast<int32_t>(tree->hands->hands.size());
    const bool decision = node->kind == 0;
    if (tree->mode == kModeEvaluate && decision && Incomplete(tree)) {
        if (tree->pass == kPassTakeMerged) {
            TakeStoredValues(ctx, node->nodeData[0], n);
        } else {
            ZeroRow(&ctx->value, n);
            ZeroRow(&ctx->bestResponse, n);
        }
        return;
    }
    if (decision && TargetAboveTurn(tree)) {
        if (tree->pass == kPassTakeMerged)
            TakeStoredValue(ctx, node->nodeData[0], n);
        else
            ZeroRow(&ctx->value, n);
        return;
    }
    ZeroRow(&ctx->value, n);
    if (tree->mode == kModeEvaluate) ZeroRow(&ctx->bestResponse, n);
    const size_t records = tree->hands->records.size();
    // A target below one turn card needs only that card's job.
    const TargetRecord* target = tree->mode == kModeCollect ? tree->target : nullptr;
    const bool oneCard = target != nullptr && target->turn >= 0 && target->split == 0;
    if (tree->pass == kPassRecordJobs) {
        if (tree->mode == kModeUpdate && decision)
            AddScaledToNodeData(&node->nodeData[0], tree->traverser ^ 1, &ctx->opponentReach,
                                ReachWeight(tree));
        SubgameShared* shared = MakeShared(ctx, n);
        if (oneCard) {
            RecordJob(ctx, shared, true, target->turn, -1);
        } else {
            for (size_t c = 0; c < records; ++c)
                RecordJob(ctx, shared, c == 0, static_cast<int32_t>(c), -1);
        }
    } else if (tree->pass == kPassTakeMerged) {
        TakeMergedJobs(ctx, oneCard ? 1 : records);
    }
    ScaleRow(&ctx->value, kTurnScale);
    ScaleRow(&ctx->bestResponse, kTurnScale);
    if (tree->mode == kModeEvaluate && decision && !tree->resolving)
        StoreValues(ctx, node->nodeData[0]);
}

void DealRiverChance(TraversalContext* ctx) {
    SolvedTree* tree = ctx->tree;
    TreeNode* node = ctx->node;
    const int32_t t = ctx->turn;
    const SubgameRecord& record = tree->hands->records[t];
    const int32_t n = static_cast<int32_t>(record.hands.size());
    const bool decision = node->kind == 0;
    if (tree->mode == kModeEvaluate && decision && Incomplete(tree)) {
        TakeStoredValues(ctx, node->nodeData[t], n);
        return;
    }
    if (decision && TargetAboveRiver(tree)) {
        TakeStoredValue(ctx, node->nodeData[t], n);
        return;
    }
    ZeroRow(&ctx->value, n);
    if (tree->mode == kModeEvaluate) ZeroRow(&ctx->bestResponse, n);
    if (tree->mode == kModeUpdate && decision && !tree->resolving)
        AddScaledToNodeData(&node->nodeData[t], tree->traverser ^ 1, &ctx->opponentReach,
                            ReachWeight(tree));

    const size_t rivers = record.rivers.size();
    if (FlopRooted(tree)) {
        if (ctx->opponentReach.data) {
            const bool active = StrategySumsActive(tree->averaging, tree->iteration);
            const bool sumsTakePart = tree->mode != kModeUpdate || (active && tree->riverAveraging);
            const bool walkSums = sumsTakePart && active && tree->riverStrategy;
            OpenRiverKind(tree, node, t, 0, WalkRule::Solve);
            if (walkSums) OpenRiverKind(tree, node, t, 1, WalkRule::Solve);
            for (size_t r = 0; r < rivers; ++r) {
                const RiverRecord& river = record.rivers[r];
                TraversalContext child;
                child.tree = tree;
                child.node = node;
                child.turn = t;
                child.river = static_cast<int32_t>(r);
                GatherRowToRecord(river, &child.opponentReach, &ctx->opponentReach);
                if (ctx->ownReach.count > 0)
                    GatherRowToRecord(river, &child.ownReach, &ctx->ownReach);
                TraverseNode(&child);
                ScatterRowFromRecord(river, &ctx->value, &child.value);
                if (ctx->bestResponse.data)
                    ScatterRowFromRecord(river, &ctx->bestResponse, &child.bestResponse);
                ReleaseFourRows(&child);
            }
            CloseRiverKind(tree, node, t, 0, WalkRule::Solve);
            if (walkSums) CloseRiverKind(tree, node, t, 1, WalkRule::Solve);
        }
    } else if (tree->pass == kPassRecordJobs) {
        SubgameShared* shared = MakeShared(ctx, n);
        for (size_t r = 0; r < rivers; ++r)
            RecordJob(ctx, shared, r == 0, t, static_cast<int32_t>(r));
    } else if (tree->pass == kPassTakeMerged) {
        TakeMergedJobs(ctx, rivers);
    }
    ScaleRow(&ctx->value, kRiverScale);
    ScaleRow(&ctx->bestResponse, kRiverScale);
    if (tree->mode == kModeEvaluate && decision && !tree->resolving)
        StoreValues(ctx, node->nodeData[t]);
}

std::vector<SubgameJob*> JobRunOrder() {
    std::vector<SubgameJob*> order = Jobs;
    if (order.empty()) return order;
    SolvedTree* tree = order[0]->tree;
    if (tree->mode == kModeUpdate) {
        const int32_t p = tree->traverser;
        std::stable_sort(order.begin(), order.end(), [p](const SubgameJob* a, const SubgameJob* b) {
            return a->node->jobCost[p].load(std::memory_order_relaxed) >
                   b->node->jobCost[p].load(std::memory_order_relaxed);
        });
    }
    return order;
}

void TraverseSubgames() {
    if (Jobs.empty()) return;
    std::vector<SubgameJob*> order = JobRunOrder();
    const int count = static_cast<int>(order.size());
    const int threads = libsubgame_get_thread_count();
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads)
    for (int i = 0; i < count; ++i) RunJob(order[i]);
    for (SubgameJob* job : Jobs) MergeJob(job);
}

void CollectSubgameRoots(TraversalContext* ctx, int32_t street, std::vector<SubgameRoot>& roots) {
    SolvedTree* tree = ctx->tree;
    TreeNode* node = ctx->node;
    auto recurse = [&](TreeNode* next, int32_t turn, int32_t river, auto&& fill) {
        TraversalContext child;
        child.tree = tree;
        child.node = next;
        child.turn = turn;
        child.river = river;
        fill(child);
        CollectSubgameRoots(&child, street, roots);
        ReleaseFourRows(&child);
    };
    if (node->street == street) {
        if (node->kind == 0) {
            SubgameRoot root;
            root.ctx.tree = tree;
            root.ctx.node = node;
            root.ctx.turn = ctx->turn;
            root.ctx.river = ctx->river;
            CopyRowToHeap(&root.ctx.opponentReach, ctx->opponentReach);
            CopyRowToHeap(&root.ctx.ownReach, ctx->ownReach);
            roots.push_back(root);
        }
        return;
    }
    if (node->street > 1 && ctx->turn < 0) {
        for (size_t c = 0; c < tree->hands->records.size(); ++c) {
            const SubgameRecord& record = tree->hands->records[c];
            const int32_t n = static_cast<int32_t>(record.hands.size());
            recurse(node, static_cast<int32_t>(c), -1, [&](TraversalContext& child) {
                ResizePooledArray(&child.opponentReach, n, false);
                GatherRow(&child.opponentReach, &ctx->opponentReach, record.maps[0].data());
                ResizePooledArray(&child.ownReach, n, false);
                GatherRow(&child.ownReach, &ctx->ownReach, record.maps[0].data());
            });
        }
        return;
    }
    if (node->street > 2 && ctx->river < 0) {
        const SubgameRecord& record = tree->hands->records[ctx->turn];
        for (size_t r = 0; r < record.rivers.size(); ++r) {
            recurse(node, ctx->turn, static_cast<int32_t>(r), [&](TraversalContext& child) {
                GatherRowToRecord(record.rivers[r], &child.opponentReach, &ctx->opponentReach);
                GatherRowToRecord(record.rivers[r], &child.ownReach, &ctx->ownReach);
            });
        }
        return;
    }
    if (node->kind != 0) return;
    std::vector<PooledArray> s = EvaluationStrategy(tree, node, ctx->turn, ctx->river);
    for (size_t i = 0; i < node->children.size(); ++i) {
        TreeNode* next = &tree->nodes[node->children[i]];
        if (next->kind != 0 && next->street == street) continue;
        recurse(next, ctx->turn, ctx->river, [&](TraversalContext& child) {
            // opponentReach holds player 1, ownReach player 0.
            PooledArray* acting = node->player == 1 ? &ctx->opponentReach : &ctx->ownReach;
            PooledArray* other = node->player == 1 ? &ctx->ownReach : &ctx->opponentReach;
            PooledArray* childActing = node->player == 1 ? &child.opponentReach : &child.ownReach;
            PooledArray* childOther = node->player == 1 ? &child.ownReach : &child.opponentReach;
            MultiplyRows(childActing, acting, &s[i]);
            CopyRowToHeap(childOther, *other);
        });
    }
    ReleaseRows(s);
}
