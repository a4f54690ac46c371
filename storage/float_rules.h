// The three float rules every float storage applies (regret update, strategy extraction,
// strategy-sum accumulation). Every storage calls these same functions, so results are
// reproducible run to run, across thread counts and across processors: roots and divisions are
// exact IEEE operations, and the accumulation is one fused multiply-add per hand.
// Each rule has a plain scalar form, the reference of the tests; the vector forms give the same
// bits.
#pragma once

#include <cstdint>

#include "storage/pooled_array.h"

// Regret update of one action's row over count hands:
//   d = action - node (a null node or action row is zeros), m = sqrt|d| x sqrt(sqrt|d|) (|d|^0.75,
//   0 for |d| < FLT_MIN), R' = R + (d >= 0 ? m : -m), stored as R' when R' >= FLT_MIN, else exactly
//   0.
// Hands whose mask byte is not 0 keep their regret (mask may be null).
void UpdateRegretRow(float* regrets, const float* nodeValue, const float* actionValue,
                     int32_t count, const uint8_t* mask);
void UpdateRegretRowScalar(float* regrets, const float* nodeValue, const float* actionValue,
                           int32_t count, const uint8_t* mask);

// sum[i] = rows[0][i] + rows[1][i] + ... in action order, over count hands.
void SumActionRows(const float* const* rows, int32_t numActions, int32_t count, float* sum);
void SumActionRowsScalar(const float* const* rows, int32_t numActions, int32_t count, float* sum);

// out[i] = values[i] / sum[i] when sum[i] >= FLT_MIN, else (a NaN sum included) defaultValue.
void NormalizeRowBySum(const float* values, const float* sum, int32_t count, float defaultValue,
                       float* out);
void NormalizeRowBySumScalar(const float* values, const float* sum, int32_t count,
                             float defaultValue, float* out);

// The whole normalisation rule: the action-order sum over the hands of row 0, then each output
// row a resized to counts[a] from the heap (never a pool, so any thread may ask) and filled.
// A row count other than counts[0] is a broken invariant (fatal).
void NormalizeStrategy(const float* const* rows, const int32_t* counts, int32_t numActions,
                       const float* defaults, PooledArray* out);

// Accumulation rule: S[i] = fma(weight x strategy[i], reach[i], S[i]) for the hands below the
// strategy row's count whose mask byte is 0. Nothing for weight <= 0 (a NaN weight included) or
// a reach row without data; a strategy row without data adds zeros.
void AccumulateStrategyRow(float* sums, const PooledArray& strategy, const PooledArray& reach,
                           const uint8_t* mask, float weight);
void AccumulateStrategyRowScalar(float* sums, const PooledArray& strategy, const PooledArray& reach,
                                 const uint8_t* mask, float weight);
