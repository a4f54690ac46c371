#include "storage/row_kernels.h"

#include <immintrin.h>

#include <cfloat>
#include <cmath>
#include <cstring>

#include "cards/hand_set.h"
#include "storage/node_data.h"
#include "utilities/services.h"

namespace {

void CheckLength(const PooledArray* row, int32_t n) {
    if (row->data != nullptr && row->count < n) fail_fatal("row length");
}

// Gives a row without data zeroed heap storage of its own count.
void EnsureData(PooledArray* row) {
    if (row->data != nullptr) return;
    ResizePooledArray(row, row->count, false);
    if (row->count > 0) std::memset(row->data, 0, static_cast<size_t>(row->count) * 4);
}

// dst = a * b over n floats; returns the sum of the products.
float MultiplySum(float* dst, const float* a, const float* b, int32_t n) {
    __m256 s0 = _mm256_setzero_ps(), s1 = _mm256_setzero_ps();
    int32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256 p0 = _mm256_mul_ps(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i));
        const __m256 p1 = _mm256_mul_ps(_mm256_loadu_ps(a + i + 8), _mm256_loadu_ps(b + i + 8));
        _mm256_storeu_ps(dst + i, p0);
        _mm256_storeu_ps(dst + i + 8, p1);
        s0 = _mm256_add_ps(s0, p0);
        s1 = _mm256_add_ps(s1, p1);
    }
    for (; i + 8 <= n; i += 8) {
        const __m256 p = _mm256_mul_ps(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i));
        _mm256_storeu_ps(dst + i, p);
        s0 = _mm256_add_ps(s0, p);
    }
    s0 = _mm256_add_ps(s0, s1);
    __m128 h = _mm_add_ps(_mm256_castps256_ps128(s0), _mm256_extractf128_ps(s0, 1));
    h = _mm_add_ps(h, _mm_movehl_ps(h, h));
    h = _mm_add_ss(h, _mm_movehdup_ps(h));
    float sum = _mm_cvtss_f32(h);
    for (; i < n; ++i) {
        dst[i] = a[i] * b[i];
        sum += dst[i];
    }
    return sum;
}

void Multiply(float* dst, const float* a, const float* b, int32_t n) {
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        _mm256_storeu_ps(dst + i, _mm256_mul_ps(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i)));
    }
    for (; i < n; ++i) dst[i] = a[i] * b[i];
}

inline float Max(float x, float y) {
    return x > y ? x : y;
}

inline __m256 FreeLanes(const uint8_t* mask) {
    uint64_t bytes;
    std::memcpy(&bytes, mask, 8);
    const __m256i wide = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(bytes)));
    return _mm256_castsi256_ps(_mm256_cmpeq_epi32(wide, _mm256_setzero_si256()));
}

// dst = max(dst, v) over n floats.
void ClampBelow(float* dst, float v, int32_t n) {
    const __m256 vv = _mm256_set1_ps(v);
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
        _mm256_storeu_ps(dst + i, _mm256_max_ps(_mm256_loadu_ps(dst + i), vv));
    for (; i < n; ++i) dst[i] = Max(dst[i], v);
}

}  // namespace

void GatherRow(PooledArray* dst, const PooledArray* src, const uint16_t* map) {
    if (src->data == nullptr) {
        DropPooledArray(dst);
        return;
    }
    if (dst->data == nullptr) ResizePooledArray(dst, dst->count, false);
    const int32_t n = dst->count;
    float* d = dst->data;
    const float* s = src->data;
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i idx =
            _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(map + i)));
        _mm256_storeu_ps(d + i, _mm256_i32gather_ps(s, idx, 4));
    }
    for (; i < n; ++i) d[i] = s[map[i]];
}

void GatherRowToRecord(const RiverRecord& record, PooledArray* dst, const PooledArray* src) {
    const int32_t n = static_cast<int32_t>(record.hands.size());
    if (src->data == nullptr) {
        DropPooledArray(dst);
        dst->count = n;
        return;
    }
    if (record.maps.empty() || static_cast<int32_t>(record.maps[0].size()) < n) {
        fail_fatal("river record without maps");
    }
    ResizePooledArray(dst, n, true);
    GatherRow(dst, src, record.maps[0].data());
}

void ScatterAddRow(PooledArray* dst, const PooledArray* src, const uint16_t* map) {
    if (src->data == nullptr) return;
    EnsureData(dst);
    float* d = dst->data;
    const float* s = src->data;
    // Scalar: one map sends distinct hands to distinct positions, but a vector scatter would
    // cost more than the loads it saves on AVX2.
    for (int32_t i = 0; i < src->count; ++i) d[map[i]] += s[i];
}

void ScatterAddRowByMap(PooledArray* dst, const PooledArray* src,
                        const std::vector<uint16_t>& map) {
    if (src->data != nullptr && static_cast<int32_t>(map.size()) < src->count) {
        fail_fatal("map shorter than row");
    }
    ScatterAddRow(dst, src, map.data());
}

void ScatterRowFromRecord(const RiverRecord& record, PooledArray* dst, const PooledArray* src) {
    if (static_cast<int32_t>(record.maps.size()) < record.weight) {
        fail_fatal("river record without maps");
    }
    for (int32_t k = 0; k < record.weight; ++k) ScatterAddRowByMap(dst, src, record.maps[k]);
}

void MultiplyRowInPlace(PooledArray* a, const PooledArray* b) {
    if (b->data == nullptr) {
        DropPooledArray(a);
        a->count = b->count;
        return;
    }
    if (a->data == nullptr) return;  // zeros stay zeros
    CheckLength(b, a->count);
    const float sum = MultiplySum(a->data, a->data, b->data, a->count);
    if (sum < FLT_MIN) DropPooledArray(a);
}

void MultiplyRowsSparse(PooledArray* dst, const PooledArray* a, const PooledArray* b) {
    if (a->data == nullptr) {
        if (dst->data != nullptr) fail_fatal(nullptr);
        dst->count = a->count;
        return;
    }
    ResizePooledArray(dst, a->count, false);
    if (b->data == nullptr) {
        DropPooledArray(dst);
        return;
    }
    CheckLength(b, a->count);
    const float sum = MultiplySum(dst->data, a->data, b->data, a->count);
    if (sum < FLT_MIN) DropPooledArray(dst);
}

void MultiplyRows(PooledArray* dst, const PooledArray* a, const PooledArray* b) {
    const int32_t n = a->count;
    if (a->data == nullptr || b->data == nullptr) {
        DropPooledArray(dst);
        dst->count = n;
        return;
    }
    CheckLength(b, n);
    ResizePooledArray(dst, n, true);
    Multiply(dst->data, a->data, b->data, n);
}

void MultiplyRowsMasked(PooledArray* dst, const PooledArray* a, const PooledArray* b,
                        const uint8_t* mask) {
    const int32_t n = a->count;
    if (a->data == nullptr || b->data == nullptr) {
        DropPooledArray(dst);
        dst->count = n;
        return;
    }
    CheckLength(b, n);
    ResizePooledArray(dst, n, false);
    float* d = dst->data;
    const float* x = a->data;
    const float* y = b->data;
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256 av = _mm256_loadu_ps(x + i);
        const __m256 p = _mm256_mul_ps(av, _mm256_loadu_ps(y + i));
        _mm256_storeu_ps(d + i, _mm256_blendv_ps(p, av, FreeLanes(mask + i)));
    }
    for (; i < n; ++i) d[i] = mask[i] != 0 ? x[i] * y[i] : x[i];
}

void AccumulateProduct256(float* dst, const float* a, const float* b, int32_t n) {
    int32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        _mm256_storeu_ps(dst + i, _mm256_fmadd_ps(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i),
                                                  _mm256_loadu_ps(dst + i)));
        _mm256_storeu_ps(dst + i + 8,
                         _mm256_fmadd_ps(_mm256_loadu_ps(a + i + 8), _mm256_loadu_ps(b + i + 8),
                                         _mm256_loadu_ps(dst + i + 8)));
    }
    for (; i + 8 <= n; i += 8) {
        _mm256_storeu_ps(dst + i, _mm256_fmadd_ps(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i),
                                                  _mm256_loadu_ps(dst + i)));
    }
    for (; i < n; ++i) dst[i] = std::fma(a[i], b[i], dst[i]);
}

__attribute__((target("avx512f,avx512bw,avx512vl"))) void AccumulateProduct512(float* dst,
                                                                               const float* a,
                                                                               const float* b,
                                                                               int32_t n) {
    int32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        _mm512_storeu_ps(dst + i, _mm512_fmadd_ps(_mm512_loadu_ps(a + i), _mm512_loadu_ps(b + i),
                                                  _mm512_loadu_ps(dst + i)));
    }
    if (i < n) {
        const __mmask16 tail = static_cast<__mmask16>((1u << (n - i)) - 1);
        const __m512 t =
            _mm512_fmadd_ps(_mm512_maskz_loadu_ps(tail, a + i), _mm512_maskz_loadu_ps(tail, b + i),
                            _mm512_maskz_loadu_ps(tail, dst + i));
        _mm512_mask_storeu_ps(dst + i, tail, t);
    }
}

void AccumulateProduct(PooledArray* dst, const PooledArray* a, const PooledArray* b) {
    if (a->data == nullptr || b->data == nullptr) return;
    EnsureData(dst);
    const int32_t n = dst->count;
    CheckLength(a, n);
    CheckLength(b, n);
    if (avx512_usable()) {
        AccumulateProduct512(dst->data, a->data, b->data, n);
    } else {
        AccumulateProduct256(dst->data, a->data, b->data, n);
    }
}

void MaxRowInPlace(PooledArray* dst, const PooledArray* src) {
    EnsureData(dst);
    const int32_t n = dst->count;
    if (src->data == nullptr) {
        ClampBelow(dst->data, 0.0f, n);
        return;
    }
    CheckLength(src, n);
    float* d = dst->data;
    const float* s = src->data;
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        _mm256_storeu_ps(d + i, _mm256_max_ps(_mm256_loadu_ps(d + i), _mm256_loadu_ps(s + i)));
    }
    for (; i < n; ++i) d[i] = Max(d[i], s[i]);
}

void MaxOrAccumulateMasked(PooledArray* dst, const PooledArray* a, const PooledArray* b,
                           const uint8_t* mask) {
    EnsureData(dst);
    const int32_t n = dst->count;
    float* d = dst->data;
    int32_t i = 0;
    if (a->data == nullptr || b->data == nullptr) {
        const __m256 zero = _mm256_setzero_ps();
        for (; i + 8 <= n; i += 8) {
            const __m256 old = _mm256_loadu_ps(d + i);
            _mm256_storeu_ps(d + i,
                             _mm256_blendv_ps(old, _mm256_max_ps(old, zero), FreeLanes(mask + i)));
        }
        for (; i < n; ++i) {
            if (mask[i] == 0) d[i] = Max(d[i], 0.0f);
        }
        return;
    }
    CheckLength(a, n);
    CheckLength(b, n);
    const float* x = a->data;
    const float* y = b->data;
    for (; i + 8 <= n; i += 8) {
        const __m256 old = _mm256_loadu_ps(d + i);
        const __m256 av = _mm256_loadu_ps(x + i);
        const __m256 sum = _mm256_fmadd_ps(av, _mm256_loadu_ps(y + i), old);
        _mm256_storeu_ps(d + i, _mm256_blendv_ps(sum, _mm256_max_ps(av, old), FreeLanes(mask + i)));
    }
    for (; i < n; ++i) d[i] = mask[i] != 0 ? std::fma(x[i], y[i], d[i]) : Max(x[i], d[i]);
}

void ScaleAddRow(PooledArray* dst, const PooledArray* src, float scale) {
    if (src->data == nullptr) return;
    EnsureData(dst);
    const int32_t n = dst->count;
    CheckLength(src, n);
    float* d = dst->data;
    const float* s = src->data;
    const __m256 k = _mm256_set1_ps(scale);
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        _mm256_storeu_ps(d + i, _mm256_fmadd_ps(k, _mm256_loadu_ps(s + i), _mm256_loadu_ps(d + i)));
    }
    for (; i < n; ++i) d[i] = std::fma(scale, s[i], d[i]);
}

void AddScaledToNodeData(NodeData* record, int32_t k, const PooledArray* src, double scale) {
    if (record->done != 0) return;
    PooledArray* row = &record->rows[k];
    if (row->data == nullptr) ConstructPooledArray(row, src->count, true, false);
    ScaleAddRow(row, src, static_cast<float>(scale));
}

void SubtractRow(PooledArray* dst, const PooledArray* src) {
    if (src->data == nullptr) return;
    EnsureData(dst);
    const int32_t n = dst->count;
    CheckLength(src, n);
    float* d = dst->data;
    const float* s = src->data;
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        _mm256_storeu_ps(d + i, _mm256_sub_ps(_mm256_loadu_ps(d + i), _mm256_loadu_ps(s + i)));
    }
    for (; i < n; ++i) d[i] -= s[i];
}

void ClampRowBelow(PooledArray* dst, float v) {
    EnsureData(dst);
    ClampBelow(dst->data, v, dst->count);
}
