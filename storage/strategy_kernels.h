// Row kernels of the river storages: strategies from float regrets, 16-bit regrets and 32-bit
// strategy counts, strategy-sum accumulation and quantisation. Every river storage class calls
// these same functions, so one arithmetic serves all. Divisions are exact IEEE divisions, so the
// vector forms give the bits of the scalar forms (the *Scalar functions, the tests' reference).
// Scratch rows belong to the caller: storages are shared by parallel subgames.
#pragma once

#include <cstdint>

#include "storage/pooled_array.h"

// s = a + b; out = a / s, b / s when s >= FLT_MIN, else defaults[0], defaults[1].
void NormalizeTwoActions(const float* a, const float* b, int32_t n, const float* defaults,
                         float* outA, float* outB);
// s = (a + b) + c; each / s when s >= FLT_MIN, else defaults[0..2].
void NormalizeThreeActions(const float* a, const float* b, const float* c, int32_t n,
                           const float* defaults, float* outA, float* outB, float* outC);

// s = float(a) + float(b); p = a / s when s > 0, else defaults[0]; the second row is 1 - p
// (defaults[1] is never read). 512-bit form when avx512_usable().
void TwoActionProbabilities16(const uint16_t* a, const uint16_t* b, int32_t n,
                              const float* defaults, float* outA, float* outB);
void TwoActionProbabilities16Scalar(const uint16_t* a, const uint16_t* b, int32_t n,
                                    const float* defaults, float* outA, float* outB);
// The 512-bit form; call only when avx512_supported().
void TwoActionProbabilities16Wide(const uint16_t* a, const uint16_t* b, int32_t n,
                                  const float* defaults, float* outA, float* outB);

// s = float(a + b + c); each value x (1 / s) when s > 0, else defaults[0..2]. 512-bit form when
// avx512_usable().
void ThreeActionProbabilities16(const uint16_t* a, const uint16_t* b, const uint16_t* c, int32_t n,
                                const float* defaults, float* outA, float* outB, float* outC);
void ThreeActionProbabilities16Scalar(const uint16_t* a, const uint16_t* b, const uint16_t* c,
                                      int32_t n, const float* defaults, float* outA, float* outB,
                                      float* outC);
void ThreeActionProbabilities16Wide(const uint16_t* a, const uint16_t* b, const uint16_t* c,
                                    int32_t n, const float* defaults, float* outA, float* outB,
                                    float* outC);

// rows[0..3] u16; s = ((a + b) + c) + d in float; each / s when s >= FLT_MIN, else defaults.
void FourActionProbabilities(const uint16_t* const* rows, int32_t n, const float* defaults,
                             float* const* out);

// sum[i] += row[i].
void WidenAddRow16(uint32_t* sum, const uint16_t* row, int32_t n);
// out = float(v) / float(sum) when sum (read as signed 32-bit) > 0, else defaultValue.
void ActionProbabilitiesFromSum(const uint16_t* row, const uint32_t* sum, int32_t n,
                                float defaultValue, float* out);

// 32-bit strategy counts: sum[i] += row[i], exactly (a double holds any sum of counts; a 32-bit
// sum of several saturated counts would wrap).
void AddRow32(double* sum, const uint32_t* row, int32_t n);
// out = float(v) / float(sum) when sum > 0, else defaultValue.
void ActionProbabilitiesFromSum32(const uint32_t* row, const double* sum, int32_t n,
                                  float defaultValue, float* out);

// S[i] = fma(w[i], strategy[i], S[i]) for i below the strategy row's count whose mask byte is 0;
// nothing when w is null; a strategy row without data adds nothing.
void AccumulateStrategyRiver(float* sums, const PooledArray& strategy, const float* w,
                             const uint8_t* mask);

// Strategy counts: nothing when weight <= 0 or the reach row has no data; else for the hands
// below the strategy row's count whose mask byte is 0: x = C + (weight x strategy) x reach, in
// float with one fused multiply-add while C < 2^24, in double above (where float loses whole
// units); C = x + 0.5 truncated, saturated to [0, 2^31 - 1].
void AccumulateStrategyCounts(uint32_t* counts, const PooledArray& strategy,
                              const PooledArray& reach, const uint8_t* mask, float weight);
void AccumulateStrategyCountsScalar(uint32_t* counts, const PooledArray& strategy,
                                    const PooledArray& reach, const uint8_t* mask, float weight);

// Copies n 32-bit values.
void CopyRow32(void* dst, const void* src, int32_t n);

// dst = src truncated toward zero, clamped to [0, 65535]; NaN gives 0.
void QuantizeRow16(uint16_t* dst, const float* src, int32_t n);
