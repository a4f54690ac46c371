// How often the players reach a node: per-combination reach products of the node's line with
// card removal, and their total over a list of turn-and-river runouts.
#pragma once

#include <cstdint>
#include <vector>

#include "cards/cards.h"
#include "storage/pooled_array.h"

struct HandSet;

// Sum over hands i of w x b_i x (mass of a over the hands sharing no card with i), in double with
// fused multiply-adds, linear in the hand count (per-card sums). a and b are reach rows over the
// same n hands with these card pairs; a null row gives 0.0, as does n = 0.
double RunoutReachProduct(const PooledArray& a, const PooledArray& b, const CardPair* pairs,
                          int32_t n, double w);
// The same terms per hand, as floats into out (resized to n; dropped when b is null).
void RunoutReachProductCombos(PooledArray* out, const PooledArray& a, const PooledArray& b,
                              const CardPair* pairs, int32_t n, double w);
// The two products on the level of a runout reference, with its runout weight (1980 flop, 44
// turn, 1 river).
double RunoutReachProductWeighted(const HandSet& hands, int32_t turn, int32_t river,
                                  const PooledArray& a, const PooledArray& b);
void RunoutValueWithHands(const HandSet& hands, PooledArray* out, int32_t turn, int32_t river,
                          const PooledArray& a, const PooledArray& b);

// out[1326] (ComboIndex order, real suits) := the reach product of the node's line for each
// combination of `player`: runout weight x its own reach x the other player's compatible reach
// at the node, for the runout of turnCard, riverCard (cards as libsubgame_calc_combo_ev takes
// them). NaN where the combination meets a dealt card or the tree's range of the player is
// exactly 0. Without a tree or for bad arguments out is left as it was. Safe while the solver
// runs (holds the solver mutex).
void libsubgame_calc_line_freq(int32_t player, int32_t node, int32_t turnCard, int32_t riverCard,
                               double* out);

// Sum over every runout code of every group of the weighted reach product (player 0's reach
// against player 1's) of the line to a river-street node. A code is (turn card << 8) | river
// card; one group per turn card, at most 48 codes each. The codes of a group run on the OpenMP
// team, their results are added in code order on the calling thread, so the total does not
// depend on the thread count. 0.0 without a tree, while a street is forgotten, or when any code
// or the node does not fit.
double libsubgame_calc_river_line_freq(int32_t node,
                                       const std::vector<std::vector<int16_t>>& groups);
