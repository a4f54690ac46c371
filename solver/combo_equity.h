// Showdown equity of every combination against an opponent range, averaged over the cards still
// to come, and the per-hand step that turns summed values into values per unit of compatible
// opponent weight (shared with the value queries).
#pragma once

#include <cstdint>
#include <vector>

#include "cards/cards.h"
#include "storage/pooled_array.h"
#include "storage/traversal_context.h"

struct HandSet;

// For each hand i of the level (hands: its card masks), s = sum of opponentReach over the hands
// sharing no card with i (0 when opponentReach is null or has no data). evOut (resized to
// value's count) := value[i] / s, 0 when s <= 0; left untouched when value has no data.
// weightOut (resized to ownReach's count) := divisor * ownReach[i] * s, 0 without ownReach data.
void ComputeTargetValues(PooledArray* evOut, PooledArray* weightOut, const PooledArray* value,
                         const PooledArray* opponentReach, const PooledArray* ownReach,
                         const std::vector<CardMask>& hands, double divisor);

// ComputeTargetValues on the level of (turn, river): the river record with divisor 1, the turn
// record with 44, the flop list with 1980. The indices must name records of the set.
void CollectTargetRunouts(const HandSet& hands, PooledArray* evOut, PooledArray* weightOut,
                          int32_t turn, int32_t river, const PooledArray* value,
                          const PooledArray* opponentReach, const PooledArray* ownReach);

// Fills ctx->value on the level of (ctx->turn, ctx->river) with each hand's showdown result
// (+1 per unit of compatible opponent reach it beats, -1 per unit that beats it) averaged over
// the turn and river cards still to come. Reads tree, turn, river and opponentReach only; the
// caller releases every row. Uses the calling thread's river scratch.
void EquityWalk(TraversalContext* ctx);

// Per combination (ComboIndex order, real suits): equity = (opponent weight beaten - weight
// beating it) / compatible opponent weight, averaged over the undealt cards (0 without
// compatible weight); weight = runout count x own weight x compatible opponent weight. Both NaN
// where the tree's range of `player` is exactly 0. turnCard and riverCard are real cards or -1;
// on a tree rooted on the turn or river, -1 stands for the root's own cards. Without a tree, for
// a player other than 0 or 1, or for cards that name no runout of the tree (a board card, a
// river without a turn), both outputs are left as they were.
void libsubgame_calc_combo_equity(int32_t player, int32_t turnCard, int32_t riverCard,
                                  const double* ownRange, const double* oppRange, double* equity,
                                  double* weight);
