#include "storage/strategy_kernels.h"

#include <immintrin.h>

#include <cfloat>
#include <cmath>
#include <cstring>

#include "utilities/services.h"

namespace {

// The zero-masked AVX-512 forms with every lane on: the plain forms start from an undefined
// vector, which GCC 12 reports as maybe-uninitialized.
constexpr __mmask16 kAllLanes = 0xFFFF;

constexpr double kCountCeiling = 2147483647.0;

inline __m256 Load16AsFloat(const uint16_t* p) {
    return _mm256_cvtepi32_ps(
        _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}

__attribute__((target("avx512f,avx512bw,avx512vl"))) inline __m512 Load16AsFloatWide(
    const uint16_t* p) {
    return _mm512_maskz_cvtepi32_ps(
        kAllLanes, _mm512_maskz_cvtepu16_epi32(
                       kAllLanes, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))));
}

// Below 2^24 a count is exact in float and the sum is taken in float, the fused
// multiply-add rounding once; above, a float sum would drop or even take back increments, so it
// is taken in double.
constexpr int32_t kFloatExactCount = 1 << 24;

inline uint32_t CountScalar(uint32_t count, float strategy, float reach, float weight) {
    const float ws = weight * strategy;
    const int32_t c = int32_t(count);
    const double x = c < kFloatExactCount ? double(std::fmaf(ws, reach, float(c))) + 0.5
                                          : double(c) + double(ws * reach) + 0.5;
    // NaN fails both tests and keeps the count.
    if (x >= kCountCeiling) return uint32_t(kCountCeiling);
    if (x >= 0.0) return uint32_t(int32_t(x));
    if (x < 0.0) return 0;
    return count;
}

}  // namespace

void NormalizeTwoActions(const float* a, const float* b, int32_t n, const float* defaults,
                         float* outA, float* outB) {
    int32_t i = 0;
    const __m256 minNormal = _mm256_set1_ps(FLT_MIN);
    const __m256 d0 = _mm256_set1_ps(defaults[0]), d1 = _mm256_set1_ps(defaults[1]);
    for (; i + 8 <= n; i += 8) {
        const __m256 va = _mm256_loadu_ps(a + i), vb = _mm256_loadu_ps(b + i);
        const __m256 s = _mm256_add_ps(va, vb);
        const __m256 ok = _mm256_cmp_ps(s, minNormal, _CMP_GE_OQ);
        _mm256_storeu_ps(outA + i, _mm256_blendv_ps(d0, _mm256_div_ps(va, s), ok));
        _mm256_storeu_ps(outB + i, _mm256_blendv_ps(d1, _mm256_div_ps(vb, s), ok));
    }
    for (; i < n; ++i) {
        const float s = a[i] + b[i];
        const bool ok = s >= FLT_MIN;
        outA[i] = ok ? a[i] / s : defaults[0];
        outB[i] = ok ? b[i] / s : defaults[1];
    }
}

void NormalizeThreeActions(const float* a, const float* b, const float* c, int32_t n,
                           const float* defaults, float* outA, float* outB, float* outC) {
    int32_t i = 0;
    const __m256 minNormal = _mm256_set1_ps(FLT_MIN);
    const __m256 d0 = _mm256_set1_ps(defaults[0]), d1 = _mm256_set1_ps(defaults[1]),
                 d2 = _mm256_set1_ps(defaults[2]);
    for (; i + 8 <= n; i += 8) {
        const __m256 va = _mm256_loadu_ps(a + i), vb = _mm256_loadu_ps(b + i),
                     vc = _mm256_loadu_ps(c + i);
        const __m256 s = _mm256_add_ps(_mm256_add_ps(va, vb), vc);
        const __m256 ok = _mm256_cmp_ps(s, minNormal, _CMP_GE_OQ);
        _mm256_storeu_ps(outA + i, _mm256_blendv_ps(d0, _mm256_div_ps(va, s), ok));
        _mm256_storeu_ps(outB + i, _mm256_blendv_ps(d1, _mm256_div_ps(vb, s), ok));
        _mm256_storeu_ps(outC + i, _mm256_blendv_ps(d2, _mm256_div_ps(vc, s), ok));
    }
    for (; i < n; ++i) {
        const float s = (a[i] + b[i]) + c[i];
        const bool ok = s >= FLT_MIN;
        outA[i] = ok ? a[i] / s : defaults[0];
        outB[i] = ok ? b[i] / s : defaults[1];
        outC[i] = ok ? c[i] / s : defaults[2];
    }
}

void TwoActionProbabilities16Scalar(const uint16_t* a, const uint16_t* b, int32_t n,
                                    const float* defaults, float* outA, float* outB) {
    for (int32_t i = 0; i < n; ++i) {
        const float s = float(a[i]) + float(b[i]);
        const float p = s > 0.0f ? float(a[i]) / s : defaults[0];
        outA[i] = p;
        outB[i] = 1.0f - p;
    }
}

void TwoActionProbabilities16(const uint16_t* a, const uint16_t* b, int32_t n,
                              const float* defaults, float* outA, float* outB) {
    if (avx512_usable()) {
        TwoActionProbabilities16Wide(a, b, n, defaults, outA, outB);
        return;
    }
    int32_t i = 0;
    const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
    const __m256 d0 = _mm256_set1_ps(defaults[0]);
    for (; i + 8 <= n; i += 8) {
        const __m256 va = Load16AsFloat(a + i), vb = Load16AsFloat(b + i);
        const __m256 s = _mm256_add_ps(va, vb);
        const __m256 p =
            _mm256_blendv_ps(d0, _mm256_div_ps(va, s), _mm256_cmp_ps(s, zero, _CMP_GT_OQ));
        _mm256_storeu_ps(outA + i, p);
        _mm256_storeu_ps(outB + i, _mm256_sub_ps(one, p));
    }
    TwoActionProbabilities16Scalar(a + i, b + i, n - i, defaults, outA + i, outB + i);
}

__attribute__((target("avx512f,avx512bw,avx512vl"))) void TwoActionProbabilities16Wide(
    const uint16_t* a, const uint16_t* b, int32_t n, const float* defaults, float* outA,
    float* outB) {
    int32_t i = 0;
    const __m512 zero = _mm512_setzero_ps(), one = _mm512_set1_ps(1.0f);
    const __m512 d0 = _mm512_set1_ps(defaults[0]);
    for (; i + 16 <= n; i += 16) {
        const __m512 va = Load16AsFloatWide(a + i);
        const __m512 vb = Load16AsFloatWide(b + i);
        const __m512 s = _mm512_add_ps(va, vb);
        const __mmask16 ok = _mm512_cmp_ps_mask(s, zero, _CMP_GT_OQ);
        const __m512 p = _mm512_mask_blend_ps(ok, d0, _mm512_div_ps(va, s));
        _mm512_storeu_ps(outA + i, p);
        _mm512_storeu_ps(outB + i, _mm512_sub_ps(one, p));
    }
    TwoActionProbabilities16Scalar(a + i, b + i, n - i, defaults, outA + i, outB + i);
}

void ThreeActionProbabilities16Scalar(const uint16_t* a, const uint16_t* b, const uint16_t* c,
                                      int32_t n, const float* defaults, float* outA, float* outB,
                                      float* outC) {
    for (int32_t i = 0; i < n; ++i) {
        const float s = float(int32_t(a[i]) + int32_t(b[i]) + int32_t(c[i]));
        if (s > 0.0f) {
            const float r = 1.0f / s;
            outA[i] = float(a[i]) * r;
            outB[i] = float(b[i]) * r;
            outC[i] = float(c[i]) * r;
        } else {
            outA[i] = defaults[0];
            outB[i] = defaults[1];
            outC[i] = defaults[2];
        }
    }
}

void ThreeActionProbabilities16(const uint16_t* a, const uint16_t* b, const uint16_t* c, int32_t n,
                                const float* defaults, float* outA, float* outB, float* outC) {
    if (avx512_usable()) {
        ThreeActionProbabilities16Wide(a, b, c, n, defaults, outA, outB, outC);
        return;
    }
    int32_t i = 0;
    const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
    const __m256 d0 = _mm256_set1_ps(defaults[0]), d1 = _mm256_set1_ps(defaults[1]),
                 d2 = _mm256_set1_ps(defaults[2]);
    for (; i + 8 <= n; i += 8) {
        const __m256 va = Load16AsFloat(a + i), vb = Load16AsFloat(b + i),
                     vc = Load16AsFloat(c + i);
        // The integer sum of three u16 is exact in float, like the scalar form's.
        const __m256 s = _mm256_add_ps(_mm256_add_ps(va, vb), vc);
        const __m256 ok = _mm256_cmp_ps(s, zero, _CMP_GT_OQ);
        const __m256 r = _mm256_div_ps(one, s);
        _mm256_storeu_ps(outA + i, _mm256_blendv_ps(d0, _mm256_mul_ps(va, r), ok));
        _mm256_storeu_ps(outB + i, _mm256_blendv_ps(d1, _mm256_mul_ps(vb, r), ok));
        _mm256_storeu_ps(outC + i, _mm256_blendv_ps(d2, _mm256_mul_ps(vc, r), ok));
    }
    ThreeActionProbabilities16Scalar(a + i, b + i, c + i, n - i, defaults, outA + i, outB + i,
                                     outC + i);
}

__attribute__((target("avx512f,avx512bw,avx512vl"))) void ThreeActionProbabilities16Wide(
    const uint16_t* a, const uint16_t* b, const uint16_t* c, int32_t n, const float* defaults,
    float* outA, float* outB, float* outC) {
    int32_t i = 0;
    const __m512 zero = _mm512_setzero_ps(), one = _mm512_set1_ps(1.0f);
    const __m512 d0 = _mm512_set1_ps(defaults[0]), d1 = _mm512_set1_ps(defaults[1]),
                 d2 = _mm512_set1_ps(defaults[2]);
    for (; i + 16 <= n; i += 16) {
        const __m512 va = Load16AsFloatWide(a + i), vb = Load16AsFloatWide(b + i),
                     vc = Load16AsFloatWide(c + i);
        const __m512 s = _mm512_add_ps(_mm512_add_ps(va, vb), vc);
        const __mmask16 ok = _mm512_cmp_ps_mask(s, zero, _CMP_GT_OQ);
        const __m512 r = _mm512_div_ps(one, s);
        _mm512_storeu_ps(outA + i, _mm512_mask_blend_ps(ok, d0, _mm512_mul_ps(va, r)));
        _mm512_storeu_ps(outB + i, _mm512_mask_blend_ps(ok, d1, _mm512_mul_ps(vb, r)));
        _mm512_storeu_ps(outC + i, _mm512_mask_blend_ps(ok, d2, _mm512_mul_ps(vc, r)));
    }
    ThreeActionProbabilities16Scalar(a + i, b + i, c + i, n - i, defaults, outA + i, outB + i,
                                     outC + i);
}

void FourActionProbabilities(const uint16_t* const* rows, int32_t n, const float* defaults,
                             float* const* out) {
    int32_t i = 0;
    const __m256 minNormal = _mm256_set1_ps(FLT_MIN);
    for (; i + 8 <= n; i += 8) {
        __m256 v[4];
        for (int a = 0; a < 4; ++a) v[a] = Load16AsFloat(rows[a] + i);
        const __m256 s = _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(v[0], v[1]), v[2]), v[3]);
        const __m256 ok = _mm256_cmp_ps(s, minNormal, _CMP_GE_OQ);
        for (int a = 0; a < 4; ++a) {
            _mm256_storeu_ps(out[a] + i, _mm256_blendv_ps(_mm256_set1_ps(defaults[a]),
                                                          _mm256_div_ps(v[a], s), ok));
        }
    }
    for (; i < n; ++i) {
        const float s =
            ((float(rows[0][i]) + float(rows[1][i])) + float(rows[2][i])) + float(rows[3][i]);
        for (int a = 0; a < 4; ++a) {
            out[a][i] = s >= FLT_MIN ? float(rows[a][i]) / s : defaults[a];
        }
    }
}

void WidenAddRow16(uint32_t* sum, const uint16_t* row, int32_t n) {
    for (int32_t i = 0; i < n; ++i) sum[i] += row[i];
}

void ActionProbabilitiesFromSum(const uint16_t* row, const uint32_t* sum, int32_t n,
                                float defaultValue, float* out) {
    for (int32_t i = 0; i < n; ++i) {
        const int32_t s = int32_t(sum[i]);
        out[i] = s > 0 ? float(row[i]) / float(s) : defaultValue;
    }
}

void AddRow32(double* sum, const uint32_t* row, int32_t n) {
    for (int32_t i = 0; i < n; ++i) sum[i] += double(row[i]);
}

void ActionProbabilitiesFromSum32(const uint32_t* row, const double* sum, int32_t n,
                                  float defaultValue, float* out) {
    for (int32_t i = 0; i < n; ++i) {
        // float / float as for a 32-bit sum; the double sum only keeps several saturated counts
        // from wrapping.
        out[i] = sum[i] > 0.0 ? float(row[i]) / float(sum[i]) : defaultValue;
    }
}

void AccumulateStrategyRiver(float* sums, const PooledArray& strategy, const float* w,
                             const uint8_t* mask) {
    if (w == nullptr || strategy.data == nullptr) return;
    const float* s = strategy.data;
    for (int32_t i = 0; i < strategy.count; ++i) {
        if (mask != nullptr && mask[i] != 0) continue;
        sums[i] = std::fma(w[i], s[i], sums[i]);
    }
}

void AccumulateStrategyCountsScalar(uint32_t* counts, const PooledArray& strategy,
                                    const PooledArray& reach, const uint8_t* mask, float weight) {
    if (!(weight > 0.0f) || reach.data == nullptr) return;
    for (int32_t i = 0; i < strategy.count; ++i) {
        if (mask != nullptr && mask[i] != 0) continue;
        const float s = strategy.data != nullptr ? strategy.data[i] : 0.0f;
        counts[i] = CountScalar(counts[i], s, reach.data[i], weight);
    }
}

void AccumulateStrategyCounts(uint32_t* counts, const PooledArray& strategy,
                              const PooledArray& reach, const uint8_t* mask, float weight) {
    if (!(weight > 0.0f) || reach.data == nullptr) return;
    if (strategy.data == nullptr || mask != nullptr) {
        AccumulateStrategyCountsScalar(counts, strategy, reach, mask, weight);
        return;
    }
    int32_t i = 0;
    const __m256 w = _mm256_set1_ps(weight);
    const __m256d half = _mm256_set1_pd(0.5), ceiling = _mm256_set1_pd(kCountCeiling),
                  zero = _mm256_setzero_pd();
    const __m128i exact = _mm_set1_epi32(kFloatExactCount);
    for (; i + 4 <= strategy.count; i += 4) {
        const __m128 ws = _mm_mul_ps(_mm256_castps256_ps128(w), _mm_loadu_ps(strategy.data + i));
        const __m128 r = _mm_loadu_ps(reach.data + i);
        const __m128i ci = _mm_loadu_si128(reinterpret_cast<const __m128i*>(counts + i));
        const __m256d c = _mm256_cvtepi32_pd(ci);
        const __m256d inFloat = _mm256_cvtps_pd(_mm_fmadd_ps(ws, r, _mm_cvtepi32_ps(ci)));
        const __m256d inDouble = _mm256_add_pd(c, _mm256_cvtps_pd(_mm_mul_ps(ws, r)));
        const __m256d small =
            _mm256_castsi256_pd(_mm256_cvtepi32_epi64(_mm_cmplt_epi32(ci, exact)));
        __m256d x = _mm256_add_pd(_mm256_blendv_pd(inDouble, inFloat, small), half);
        // NaN lanes keep their count, like the scalar form.
        const __m256d nan = _mm256_cmp_pd(x, x, _CMP_UNORD_Q);
        x = _mm256_min_pd(_mm256_max_pd(x, zero), ceiling);
        x = _mm256_blendv_pd(x, c, nan);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(counts + i), _mm256_cvttpd_epi32(x));
    }
    PooledArray restS{strategy.data + i, strategy.count - i, 0};
    PooledArray restR{reach.data + i, reach.count - i, 0};
    AccumulateStrategyCountsScalar(counts + i, restS, restR, nullptr, weight);
}

void CopyRow32(void* dst, const void* src, int32_t n) {
    if (n > 0) std::memcpy(dst, src, size_t(n) * 4);
}

void QuantizeRow16(uint16_t* dst, const float* src, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        float y = src[i] > 0.0f ? src[i] : 0.0f;
        y = y < 65535.0f ? y : 65535.0f;
        dst[i] = uint16_t(int32_t(y));
    }
}
