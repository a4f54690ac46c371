#include "storage/regret_update16.h"

#include <immintrin.h>

#include <cmath>
#include <cstring>

namespace {

// The step for |d| = x, clamped to [0, 65535] before conversion; NaN gives 0. Written as the
// vector form computes it: max with 0 first (NaN -> 0), then min with 65535.
inline int32_t Step(float p, float x) {
    const float s = std::sqrt(x);
    float m = (p * s) * std::sqrt(s);
    m = m > 0.0f ? m : 0.0f;
    m = m < 65535.0f ? m : 65535.0f;
    return int32_t(m);
}

// Averages each run of equal strength; runs reaching past n are cut at n.
void AverageRuns(uint16_t* q, int32_t n, const std::vector<int16_t>& groups) {
    int32_t pos = 0;
    for (const int16_t g : groups) {
        if (pos >= n) break;
        if (g > 1) {  // a run of one is its own mean
            const int32_t len = g < n - pos ? g : n - pos;
            int32_t sum = 0;
            for (int32_t i = 0; i < len; ++i) sum += q[pos + i];
            const auto mean = uint16_t(sum / len);
            for (int32_t i = 0; i < len; ++i) q[pos + i] = mean;
        }
        pos += g;
    }
}

// scale^0.75. A solve passes the same few scales row after row, so the last one is kept per
// thread rather than calling powf for every row.
inline float ScalePower(float scale) {
    thread_local float lastScale = 1.0f, lastPower = 1.0f;
    if (scale != lastScale) {
        lastPower = powf(scale, 0.75f);
        lastScale = scale;
    }
    return lastPower;
}

inline int32_t UpdateOne(int32_t q, float d, float p, float t) {
    if (d >= t) {
        q += Step(p, d);
        return q < 65535 ? q : 65535;
    }
    if (d <= -t) {
        q -= Step(p, -d);
        return q > 0 ? q : 0;
    }
    return q;
}

}  // namespace

void UpdateRegrets16Scalar(uint16_t* q, const float* node, const float* action, int32_t n,
                           const std::vector<int16_t>* groups, const uint8_t* mask, float scale) {
    const float p = ScalePower(scale);
    const float t = 1.0f / scale;
    for (int32_t i = 0; i < n; ++i) {
        if (mask != nullptr && mask[i] != 0) continue;
        const float d = (action ? action[i] : 0.0f) - (node ? node[i] : 0.0f);
        q[i] = uint16_t(UpdateOne(q[i], d, p, t));
    }
    if (groups != nullptr) AverageRuns(q, n, *groups);
}

void UpdateRegrets16(uint16_t* q, const float* node, const float* action, int32_t n,
                     const std::vector<int16_t>* groups, const uint8_t* mask, float scale) {
    const float p = ScalePower(scale);
    const float t = 1.0f / scale;
    const __m256 vp = _mm256_set1_ps(p), vt = _mm256_set1_ps(t), negT = _mm256_set1_ps(-t);
    const __m256 zero = _mm256_setzero_ps(), top = _mm256_set1_ps(65535.0f);
    const __m256 sign = _mm256_set1_ps(-0.0f);
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m256i keep = _mm256_setzero_si256();
        if (mask != nullptr) {
            uint64_t bytes;
            std::memcpy(&bytes, mask + i, 8);
            if (((bytes - 0x0101010101010101ull) & ~bytes & 0x8080808080808080ull) == 0) continue;
            keep = _mm256_cmpeq_epi32(
                _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(bytes))),
                _mm256_setzero_si256());
            keep = _mm256_xor_si256(keep, _mm256_set1_epi32(-1));
        }
        const __m256 a = action ? _mm256_loadu_ps(action + i) : zero;
        const __m256 nv = node ? _mm256_loadu_ps(node + i) : zero;
        const __m256 d = _mm256_sub_ps(a, nv);
        const __m256 x = _mm256_andnot_ps(sign, d);
        const __m256 s = _mm256_sqrt_ps(x);
        __m256 m = _mm256_mul_ps(_mm256_mul_ps(vp, s), _mm256_sqrt_ps(s));
        m = _mm256_min_ps(_mm256_max_ps(m, zero), top);
        const __m256i step = _mm256_cvttps_epi32(m);
        const __m256i up = _mm256_castps_si256(_mm256_cmp_ps(d, vt, _CMP_GE_OQ));
        const __m256i down =
            _mm256_andnot_si256(up, _mm256_castps_si256(_mm256_cmp_ps(d, negT, _CMP_LE_OQ)));
        const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + i));
        const __m256i old = _mm256_cvtepu16_epi32(raw);
        __m256i next = _mm256_add_epi32(old, _mm256_and_si256(step, up));
        next = _mm256_sub_epi32(next, _mm256_and_si256(step, down));
        next = _mm256_min_epi32(_mm256_max_epi32(next, _mm256_setzero_si256()),
                                _mm256_set1_epi32(65535));
        next = _mm256_blendv_epi8(next, old, keep);
        const __m128i packed =
            _mm_packus_epi32(_mm256_castsi256_si128(next), _mm256_extracti128_si256(next, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q + i), packed);
    }
    for (; i < n; ++i) {
        if (mask != nullptr && mask[i] != 0) continue;
        const float d = (action ? action[i] : 0.0f) - (node ? node[i] : 0.0f);
        q[i] = uint16_t(UpdateOne(q[i], d, p, t));
    }
    if (groups != nullptr) AverageRuns(q, n, *groups);
}
