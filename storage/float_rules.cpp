#include "storage/float_rules.h"

#include <immintrin.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

#include "storage/aligned_memory.h"
#include "utilities/services.h"

namespace {

// 8 mask bytes, all non-zero: the whole group is locked and may be skipped.
inline bool AllLocked(uint64_t bytes) {
    return ((bytes - 0x0101010101010101ull) & ~bytes & 0x8080808080808080ull) == 0;
}

// Lanes whose mask byte is 0 (free hands), as an all-ones float lane mask.
inline __m256 FreeLanes(uint64_t bytes) {
    const __m256i wide = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(bytes)));
    return _mm256_castsi256_ps(_mm256_cmpeq_epi32(wide, _mm256_setzero_si256()));
}

inline uint64_t LoadMask8(const uint8_t* mask) {
    uint64_t bytes;
    std::memcpy(&bytes, mask, 8);
    return bytes;
}

inline float RegretScalar(float r, float node, float action) {
    const float d = action - node;
    const float ad = std::fabs(d);
    float m = 0.0f;
    if (!(ad < FLT_MIN)) {
        const float s = std::sqrt(ad);
        m = s * std::sqrt(s);
    }
    const float next = r + (d >= 0.0f ? m : -m);
    return next >= FLT_MIN ? next : 0.0f;
}

inline __m256 RegretVector(__m256 r, __m256 node, __m256 action) {
    const __m256 sign = _mm256_set1_ps(-0.0f);
    const __m256 minNormal = _mm256_set1_ps(FLT_MIN);
    const __m256 d = _mm256_sub_ps(action, node);
    const __m256 ad = _mm256_andnot_ps(sign, d);
    const __m256 s = _mm256_sqrt_ps(ad);
    __m256 m = _mm256_mul_ps(s, _mm256_sqrt_ps(s));
    m = _mm256_andnot_ps(_mm256_cmp_ps(ad, minNormal, _CMP_LT_OQ), m);
    const __m256 nonNegative = _mm256_cmp_ps(d, _mm256_setzero_ps(), _CMP_GE_OQ);
    const __m256 step = _mm256_blendv_ps(_mm256_xor_ps(m, sign), m, nonNegative);
    const __m256 next = _mm256_add_ps(r, step);
    return _mm256_and_ps(next, _mm256_cmp_ps(next, minNormal, _CMP_GE_OQ));
}

}  // namespace

void UpdateRegretRowScalar(float* regrets, const float* nodeValue, const float* actionValue,
                           int32_t count, const uint8_t* mask) {
    for (int32_t i = 0; i < count; ++i) {
        if (mask != nullptr && mask[i] != 0) continue;
        regrets[i] = RegretScalar(regrets[i], nodeValue ? nodeValue[i] : 0.0f,
                                  actionValue ? actionValue[i] : 0.0f);
    }
}

void UpdateRegretRow(float* regrets, const float* nodeValue, const float* actionValue,
                     int32_t count, const uint8_t* mask) {
    int32_t i = 0;
    const __m256 zero = _mm256_setzero_ps();
    for (; i + 8 <= count; i += 8) {
        __m256 free = _mm256_castsi256_ps(_mm256_set1_epi32(-1));
        if (mask != nullptr) {
            const uint64_t bytes = LoadMask8(mask + i);
            if (AllLocked(bytes)) continue;
            free = FreeLanes(bytes);
        }
        const __m256 r = _mm256_loadu_ps(regrets + i);
        const __m256 a = actionValue ? _mm256_loadu_ps(actionValue + i) : zero;
        const __m256 v = nodeValue ? _mm256_loadu_ps(nodeValue + i) : zero;
        const __m256 next = RegretVector(r, v, a);
        _mm256_storeu_ps(regrets + i, _mm256_blendv_ps(r, next, free));
    }
    UpdateRegretRowScalar(regrets + i, nodeValue ? nodeValue + i : nullptr,
                          actionValue ? actionValue + i : nullptr, count - i,
                          mask ? mask + i : nullptr);
}

void SumActionRowsScalar(const float* const* rows, int32_t numActions, int32_t count, float* sum) {
    for (int32_t i = 0; i < count; ++i) {
        float s = rows[0][i];
        for (int32_t a = 1; a < numActions; ++a) s += rows[a][i];
        sum[i] = s;
    }
}

void SumActionRows(const float* const* rows, int32_t numActions, int32_t count, float* sum) {
    if (numActions <= 0) {
        if (count > 0) std::memset(sum, 0, static_cast<size_t>(count) * 4);
        return;
    }
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m256 s = _mm256_loadu_ps(rows[0] + i);
        for (int32_t a = 1; a < numActions; ++a) s = _mm256_add_ps(s, _mm256_loadu_ps(rows[a] + i));
        _mm256_storeu_ps(sum + i, s);
    }
    for (; i < count; ++i) {
        float s = rows[0][i];
        for (int32_t a = 1; a < numActions; ++a) s += rows[a][i];
        sum[i] = s;
    }
}

void NormalizeRowBySumScalar(const float* values, const float* sum, int32_t count,
                             float defaultValue, float* out) {
    for (int32_t i = 0; i < count; ++i) {
        out[i] = sum[i] >= FLT_MIN ? values[i] / sum[i] : defaultValue;
    }
}

void NormalizeRowBySum(const float* values, const float* sum, int32_t count, float defaultValue,
                       float* out) {
    const __m256 minNormal = _mm256_set1_ps(FLT_MIN);
    const __m256 fallback = _mm256_set1_ps(defaultValue);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256 s = _mm256_loadu_ps(sum + i);
        const __m256 q = _mm256_div_ps(_mm256_loadu_ps(values + i), s);
        const __m256 ok = _mm256_cmp_ps(s, minNormal, _CMP_GE_OQ);
        _mm256_storeu_ps(out + i, _mm256_blendv_ps(fallback, q, ok));
    }
    NormalizeRowBySumScalar(values + i, sum + i, count - i, defaultValue, out + i);
}

void NormalizeStrategy(const float* const* rows, const int32_t* counts, int32_t numActions,
                       const float* defaults, PooledArray* out) {
    if (numActions <= 0) return;
    const int32_t n = counts[0];
    for (int32_t a = 1; a < numActions; ++a) {
        if (counts[a] != n) fail_fatal("strategy rows of different lengths");
    }
    float* sum = static_cast<float*>(AlignedAllocOrDie(static_cast<size_t>(n) * 4));
    SumActionRows(rows, numActions, n, sum);
    for (int32_t a = 0; a < numActions; ++a) {
        ResizePooledArray(&out[a], counts[a], false);
        NormalizeRowBySum(rows[a], sum, n, defaults[a], out[a].data);
    }
    AlignedFree(sum);
}

void AccumulateStrategyRowScalar(float* sums, const PooledArray& strategy, const PooledArray& reach,
                                 const uint8_t* mask, float weight) {
    if (!(weight > 0.0f) || reach.data == nullptr || strategy.data == nullptr) return;
    if (reach.count < strategy.count) fail_fatal("reach row shorter than strategy row");
    for (int32_t i = 0; i < strategy.count; ++i) {
        if (mask != nullptr && mask[i] != 0) continue;
        sums[i] = std::fma(weight * strategy.data[i], reach.data[i], sums[i]);
    }
}

void AccumulateStrategyRow(float* sums, const PooledArray& strategy, const PooledArray& reach,
                           const uint8_t* mask, float weight) {
    if (!(weight > 0.0f) || reach.data == nullptr || strategy.data == nullptr) return;
    if (reach.count < strategy.count) fail_fatal("reach row shorter than strategy row");
    const int32_t count = strategy.count;
    const float* s = strategy.data;
    const float* r = reach.data;
    const __m256 w = _mm256_set1_ps(weight);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m256 free = _mm256_castsi256_ps(_mm256_set1_epi32(-1));
        if (mask != nullptr) {
            const uint64_t bytes = LoadMask8(mask + i);
            if (AllLocked(bytes)) continue;
            free = FreeLanes(bytes);
        }
        const __m256 old = _mm256_loadu_ps(sums + i);
        const __m256 next =
            _mm256_fmadd_ps(_mm256_mul_ps(w, _mm256_loadu_ps(s + i)), _mm256_loadu_ps(r + i), old);
        _mm256_storeu_ps(sums + i, _mm256_blendv_ps(old, next, free));
    }
    for (; i < count; ++i) {
        if (mask != nullptr && mask[i] != 0) continue;
        sums[i] = std::fma(weight * s[i], r[i], sums[i]);
    }
}
