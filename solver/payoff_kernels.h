// Terminal payoffs with card removal, linear in the number of hands.
//
// Every kernel values each hand i of one hand list against the opponent's reach over the same
// list: opponent hands that share a card with i count for nothing. Fold payoffs come from one
// total and 52 per-card sums (inclusion-exclusion); showdown payoffs from one sweep over the
// hands in ascending strength with the same per-card sums, equal strengths paying nothing.
//
// Shared arguments:
//   out     n floats, written (n <= 0 leaves every output untouched)
//   reach   the opponent's reach per hand; null stands for a row of zeros
//   pairs   2n bytes: the two hole cards of hand i at pairs[2i], pairs[2i + 1] (a CardPair list
//           read as bytes)
//   groups  showdown kernels: lengths of the runs of equal strength in list order, summing to n
//           (the list is weakest first)
//   s       payoff per unit of opponent reach (already negated for the traverser's own fold)
//
// Showdown and two-terminal kernels also read the calling thread's flag words
// (ThreadShowdownMasks), which BuildBlockerFlags must have filled for the same river record
// from a reach that is non-zero wherever this one is. Those kernels take lists of at most
// kMaxRiverHands hands and kMaxRiverRuns runs; FoldValues takes any length.
//
// Nothing here allocates: the working arrays live on the stack.
#pragma once

#include <cstdint>

namespace payoff {
inline constexpr int kMaxRiverHands = 1081;  // two-card holdings of the 47 unseen cards
inline constexpr int kMaxRiverRuns = 136;
}  // namespace payoff

// out[i] = s * (sum of reach[j] > 0 over hands j disjoint from i). A total at most FLT_MIN in
// magnitude gives a zero row.
void FoldValues(float* out, const float* reach, int32_t n, const uint8_t* pairs, float s);

// k rows at once, one per vector lane (4 lanes); lane l scales by s[l]. Every hand is
// accumulated whatever its reach; all rows are zero only when every lane's total is below
// FLT_MIN. A null reach array gives k zero rows; the rows of a non-null array must have data.
void FoldValuesX2(float* const out[2], const float* const reach[2], int32_t n, const uint8_t* pairs,
                  const float s[4]);
void FoldValuesX3(float* const out[3], const float* const reach[3], int32_t n, const uint8_t* pairs,
                  const float s[4]);
void FoldValuesX4(float* const out[4], const float* const reach[4], int32_t n, const uint8_t* pairs,
                  const float s[4]);

// out[i] = s * (reach of disjoint weaker hands - reach of disjoint stronger hands).
void ShowdownValues(float* out, const float* reach, int32_t n, const int16_t* groups,
                    const uint8_t* pairs, float s);

// Batched showdowns: 4 lanes up to 4 rows, 8 lanes for 6 and 8 rows. Lane by lane the same
// operations as ShowdownValues; the zero rule and the null-array rule are those of the batched
// folds.
void ShowdownValuesX2(float* const out[2], const float* const reach[2], int32_t n,
                      const int16_t* groups, const uint8_t* pairs, const float s[4]);
void ShowdownValuesX3(float* const out[3], const float* const reach[3], int32_t n,
                      const int16_t* groups, const uint8_t* pairs, const float s[4]);
void ShowdownValuesX4(float* const out[4], const float* const reach[4], int32_t n,
                      const int16_t* groups, const uint8_t* pairs, const float s[4]);
void ShowdownValuesX6(float* const out[6], const float* const reach[6], int32_t n,
                      const int16_t* groups, const uint8_t* pairs, const float s[8]);
void ShowdownValuesX8(float* const out[8], const float* const reach[8], int32_t n,
                      const int16_t* groups, const uint8_t* pairs, const float s[8]);

// A showdown child and a fold child facing the same reach, in one sweep. Both rows are zero
// when the unscaled total is at most FLT_MIN.
void TwoTerminalValues(float* outShowdown, float* outFold, const float* reach, int32_t n,
                       const int16_t* groups, const uint8_t* pairs, float sShowdown, float sFold);

// The same for different reach rows per child. Pass both rows or neither (a single null row
// reads as zeros in release builds and asserts in debug builds).
void TwoTerminalValuesWeighted(float* outShowdown, float* outFold, const float* reachShowdown,
                               const float* reachFold, int32_t n, const int16_t* groups,
                               const uint8_t* pairs, float sShowdown, float sFold);

// The calling thread's flag words, one per equal-strength run (its RiverScratch's groupFlags).
const uint16_t* ThreadShowdownMasks();
