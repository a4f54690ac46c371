#include "solver/combo_equity.h"

#include <cmath>
#include <limits>

#include "cards/canonical_suits.h"
#include "cards/hand_set.h"
#include "solver/blocker_flags.h"
#include "solver/node_runout.h"
#include "solver/payoff_kernels.h"
#include "solver/river_scratch.h"
#include "solver/row_scaling.h"
#include "solver/runout_access.h"
#include "solver/runout_walks.h"
#include "solver/solved_tree.h"
#include "storage/row_kernels.h"

namespace {

// From a flop, a pair of disjoint hands has 45 turn cards, then 44 river cards.
constexpr float kPerTurnCard = 1.0f / 45.0f;
constexpr float kPerRiverCard = 1.0f / 44.0f;

void EquityWalkTurns(TraversalContext* ctx) {
    const HandSet& hs = *ctx->tree->hands;
    ConstructPooledArray(&ctx->value, static_cast<int32_t>(hs.hands.size()), true, false);
    for (size_t j = 0; j < hs.records.size(); ++j) {
        const SubgameRecord& record = hs.records[j];
        TraversalContext child;
        child.tree = ctx->tree;
        child.node = ctx->node;
        child.turn = static_cast<int32_t>(j);
        child.river = -1;
        ConstructPooledArray(&child.opponentReach, static_cast<int32_t>(record.hands.size()), false,
                             false);
        GatherRow(&child.opponentReach, &ctx->opponentReach, record.maps[0].data());
        EquityWalk(&child);
        for (const std::vector<uint16_t>& map : record.maps)
            ScatterAddRowByMap(&ctx->value, &child.value, map);
        ReleaseFourRows(&child);
    }
    ScaleRow(&ctx->value, kPerTurnCard);
}

void EquityWalkRivers(TraversalContext* ctx) {
    const SubgameRecord& record = ctx->tree->hands->records[ctx->turn];
    ConstructPooledArray(&ctx->value, static_cast<int32_t>(record.hands.size()), true, false);
    for (size_t j = 0; j < record.rivers.size(); ++j) {
        const RiverRecord& river = record.rivers[j];
        TraversalContext child;
        child.tree = ctx->tree;
        child.node = ctx->node;
        child.turn = ctx->turn;
        child.river = static_cast<int32_t>(j);
        GatherRowToRecord(river, &child.opponentReach, &ctx->opponentReach);
        EquityWalk(&child);
        ScatterRowFromRecord(river, &ctx->value, &child.value);
        ReleaseFourRows(&child);
    }
    ScaleRow(&ctx->value, kPerRiverCard);
}

void EquityRiverLeaf(TraversalContext* ctx) {
    const RiverRecord& record = ctx->tree->hands->records[ctx->turn].rivers[ctx->river];
    const int32_t n = static_cast<int32_t>(record.hands.size());
    RiverScratch* scratch = ThreadRiverScratch();
    scratch->ClearLists();
    const float* reach = ctx->opponentReach.data;
    BuildBlockerFlags(scratch->groupFlags, reach, record);
    ConstructPooledArray(&ctx->value, n, true, false);
    if (n > 0)
        ShowdownValues(ctx->value.data, reach, n, record.runLengths.data(),
                       reinterpret_cast<const uint8_t*>(record.pairs.data()), 1.0f);
}

// A row of the level's hand count holding range[combo] for every listed combination.
void RangeRow(PooledArray* row, const std::vector<double>& range, const uint16_t* index,
              int32_t count) {
    ConstructPooledArray(row, count, true, false);
    for (int combo = 0; combo < kComboCount; ++combo) {
        const int16_t k = static_cast<int16_t>(index[combo]);
        if (k >= 0) row->data[k] = static_cast<float>(range[combo]);
    }
}

// The real turn and river cards of a tree rooted on the turn or river, for callers that pass
// -1: the dead cards beyond the flop, ordered so that they name the root's records.
void RootRunoutCards(const SolvedTree* tree, int32_t* turnCard, int32_t* riverCard) {
    const CardMask extra = tree->deadCards & ~tree->board;
    if (tree->rootStreet() == 2) {
        *turnCard = LowestCard(extra);
        return;
    }
    const int32_t a = LowestCard(extra);
    const int32_t b = HighestCard(extra);
    int32_t turn;
    int32_t river;
    MapRunoutCards(tree, a, b, &turn, &river);
    const bool ordered = turn == tree->rootTurnRecord && river == tree->rootRiverRecord;
    *turnCard = ordered ? a : b;
    *riverCard = ordered ? b : a;
}

}  // namespace

void ComputeTargetValues(PooledArray* evOut, PooledArray* weightOut, const PooledArray* value,
                         const PooledArray* opponentReach, const PooledArray* ownReach,
                         const std::vector<CardMask>& hands, double divisor) {
    const int32_t n = static_cast<int32_t>(hands.size());
    const bool withValue = value != nullptr && value->data != nullptr;
    const bool withOwn = ownReach != nullptr && ownReach->data != nullptr;
    const float* opp = opponentReach != nullptr ? opponentReach->data : nullptr;
    if (withValue) ResizePooledArray(evOut, value->count, false);
    if (ownReach != nullptr) ResizePooledArray(weightOut, ownReach->count, false);
    const CardMask* masks = hands.data();
    for (int32_t i = 0; i < n; ++i) {
        double s = 0.0;
        if (opp != nullptr) {
            const CardMask mine = masks[i];
            // Branch-free so the loop vectorises: one mask test and one add per opponent hand.
            for (int32_t j = 0; j < n; ++j)
                s += (masks[j] & mine) == 0 ? static_cast<double>(opp[j]) : 0.0;
        }
        if (withValue && i < evOut->count)
            evOut->data[i] = s > 0.0 ? static_cast<float>(value->data[i] / s) : 0.0f;
        if (ownReach != nullptr && i < weightOut->count)
            weightOut->data[i] =
                withOwn ? static_cast<float>(divisor * ownReach->data[i] * s) : 0.0f;
    }
}

void CollectTargetRunouts(const HandSet& hands, PooledArray* evOut, PooledArray* weightOut,
                          int32_t turn, int32_t river, const PooledArray* value,
                          const PooledArray* opponentReach, const PooledArray* ownReach) {
    const double divisor = river >= 0 ? 1.0 : turn >= 0 ? 44.0 : 1980.0;
    ComputeTargetValues(evOut, weightOut, value, opponentReach, ownReach,
                        LevelHands(hands, turn, river), divisor);
}

void EquityWalk(TraversalContext* ctx) {
    if (ctx->turn < 0)
        EquityWalkTurns(ctx);
    else if (ctx->river < 0)
        EquityWalkRivers(ctx);
    else
        EquityRiverLeaf(ctx);
}

void libsubgame_calc_combo_equity(int32_t player, int32_t turnCard, int32_t riverCard,
                                  const double* ownRange, const double* oppRange, double* equity,
                                  double* weight) {
    SolvedTree* tree = g_solvedTree;
    if (tree == nullptr || tree->hands == nullptr || (player != 0 && player != 1)) return;
    CheckTreeStorageReady(tree);

    if (tree->rootStreet() >= 2 && turnCard < 0 && riverCard < 0)
        RootRunoutCards(tree, &turnCard, &riverCard);
    int32_t turn;
    int32_t river;
    MapRunoutCards(tree, turnCard, riverCard, &turn, &river);
    if ((turnCard >= 0 && turn < 0) || (riverCard >= 0 && river < 0)) return;
    // Below the root's street the walk would sum over runouts the tree never deals.
    if (tree->rootStreet() >= 2 && turn != tree->rootTurnRecord) return;
    if (tree->rootStreet() >= 3 && river != tree->rootRiverRecord) return;

    const CardMask turnMask = turnCard >= 0 ? CardBit(turnCard) : 0;
    const CardMask riverMask = riverCard >= 0 ? CardBit(riverCard) : 0;
    const bool isomorphism = (tree->flags & kTreeIsomorphism) != 0;
    std::vector<double> own(ownRange, ownRange + kComboCount);
    std::vector<double> opp(oppRange, oppRange + kComboCount);
    if (isomorphism) {
        PermuteComboSuits(tree->board, turnMask, riverMask, own.data(), ownRange);
        PermuteComboSuits(tree->board, turnMask, riverMask, opp.data(), oppRange);
    }

    const HandSet& hs = *tree->hands;
    const uint16_t* index = LevelIndexTable(hs, turn, river);
    const int32_t count = static_cast<int32_t>(LevelHands(hs, turn, river).size());
    TraversalContext ctx;
    ctx.tree = tree;
    ctx.turn = turn;
    ctx.river = river;
    RangeRow(&ctx.opponentReach, opp, index, count);
    RangeRow(&ctx.ownReach, own, index, count);
    EquityWalk(&ctx);

    PooledArray evRow;
    PooledArray weightRow;
    CollectTargetRunouts(hs, &evRow, &weightRow, turn, river, &ctx.value, &ctx.opponentReach,
                         &ctx.ownReach);

    std::vector<float> spread(kComboCount);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const PooledArray* rows[2] = {&evRow, &weightRow};
    double* outs[2] = {equity, weight};
    for (int k = 0; k < 2; ++k) {
        RunoutHandValues(spread.data(), tree, *rows[k], turn, river, false);
        UnfoldComboValues(tree, outs[k], spread.data(), turnCard, riverCard);
        for (int combo = 0; combo < kComboCount; ++combo)
            if (tree->ranges[player][combo] == 0.0) outs[k][combo] = nan;
    }
    ReleasePooledArray(&evRow);
    ReleasePooledArray(&weightRow);
    ReleaseFourRows(&ctx);
}
