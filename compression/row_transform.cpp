#include "compression/row_transform.h"

#include <immintrin.h>

#include "utilities/services.h"

namespace {

// The zero-masked AVX-512 forms with every lane on: the plain forms start from an undefined
// vector, which GCC 12 reports as maybe-uninitialized.
constexpr __mmask16 kAllLanes = 0xFFFF;

// Scalar codes for positions [from, to) (from >= 1); adds the nonzero counts.
template <typename T>
inline void scalar_range(uint32_t* predicted, uint32_t* plain, const T* row, const T* ref,
                         int32_t from, int32_t to, int32_t& nzPlain, int32_t& nzPredicted) {
    for (int32_t i = from; i < to; i++) {
        const uint32_t d = static_cast<uint32_t>(row[i]) - static_cast<uint32_t>(row[i - 1]);
        plain[i] = zigzag_encode(d);
        nzPlain += plain[i] != 0;
        if (ref) {
            const uint32_t r = static_cast<uint32_t>(ref[i]) - static_cast<uint32_t>(ref[i - 1]);
            predicted[i] = zigzag_encode(d - r);
            nzPredicted += predicted[i] != 0;
        }
    }
}

// Position 0, the same for every form.
template <typename T>
inline void first_code(uint32_t* predicted, uint32_t* plain, const T* row, const T* ref,
                       int32_t& nzPlain, int32_t& nzPredicted) {
    const uint32_t base = ref ? static_cast<uint32_t>(ref[0]) : 0u;
    plain[0] = zigzag_encode(static_cast<uint32_t>(row[0]) - base);
    if (ref) predicted[0] = plain[0];
    nzPlain = nzPredicted = plain[0] != 0;
}

template <typename T>
bool scalar_form(uint32_t* predicted, uint32_t* plain, const T* row, const T* ref, int32_t n) {
    if (n <= 0) return false;
    int32_t nzPlain, nzPredicted;
    first_code(predicted, plain, row, ref, nzPlain, nzPredicted);
    scalar_range(predicted, plain, row, ref, 1, n, nzPlain, nzPredicted);
    return ref && nzPredicted < nzPlain;
}

inline __m128i zz128(__m128i d) {
    return _mm_xor_si128(_mm_slli_epi32(d, 1), _mm_srai_epi32(d, 31));
}

inline __m256i zz256(__m256i d) {
    return _mm256_xor_si256(_mm256_slli_epi32(d, 1), _mm256_srai_epi32(d, 31));
}

// Four values at p, widened to 32 bits on the load.
inline __m128i load4(const uint32_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline __m128i load4(const uint16_t* p) {
    return _mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}

// Eight values at p, widened to 32 bits on the load.
inline __m256i load8(const uint32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
inline __m256i load8(const uint16_t* p) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

inline int32_t hsum(__m128i v) {
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0x4E));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0xB1));
    return _mm_cvtsi128_si32(v);
}

inline int32_t hsum(__m256i v) {
    return hsum(_mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
}

}  // namespace

bool BuildRowResiduals32Scalar(uint32_t* predicted, uint32_t* plain, const uint32_t* row,
                               const uint32_t* ref, int32_t n) {
    return scalar_form(predicted, plain, row, ref, n);
}

bool BuildRowResiduals16Scalar(uint32_t* predicted, uint32_t* plain, const uint16_t* row,
                               const uint16_t* ref, int32_t n) {
    return scalar_form(predicted, plain, row, ref, n);
}

namespace {

// The vector loops, eight positions per step from position 1; return the first position left
// and add the zero codes of the positions they did. A code is zero exactly when its difference
// is, so zeros are counted on the differences.
template <bool kRef, typename T>
int32_t vec128_rows(uint32_t* predicted, uint32_t* plain, const T* row, const T* ref, int32_t n,
                    int32_t& zeroPlain, int32_t& zeroPredicted) {
    const __m128i zero = _mm_setzero_si128();
    __m128i zp = zero, zq = zero;
    int32_t i = 1;
    for (; i + 8 <= n; i += 8) {
        for (int32_t h = 0; h < 8; h += 4) {
            const __m128i d = _mm_sub_epi32(load4(row + i + h), load4(row + i + h - 1));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(plain + i + h), zz128(d));
            zp = _mm_sub_epi32(zp, _mm_cmpeq_epi32(d, zero));
            if (kRef) {
                const __m128i e =
                    _mm_sub_epi32(d, _mm_sub_epi32(load4(ref + i + h), load4(ref + i + h - 1)));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(predicted + i + h), zz128(e));
                zq = _mm_sub_epi32(zq, _mm_cmpeq_epi32(e, zero));
            }
        }
    }
    zeroPlain = hsum(zp);
    zeroPredicted = hsum(zq);
    return i;
}

template <bool kRef, typename T>
int32_t vec256_rows(uint32_t* predicted, uint32_t* plain, const T* row, const T* ref, int32_t n,
                    int32_t& zeroPlain, int32_t& zeroPredicted) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i zp = zero, zq = zero;
    int32_t i = 1;
    for (; i + 8 <= n; i += 8) {
        const __m256i d = _mm256_sub_epi32(load8(row + i), load8(row + i - 1));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(plain + i), zz256(d));
        zp = _mm256_sub_epi32(zp, _mm256_cmpeq_epi32(d, zero));
        if (kRef) {
            const __m256i e =
                _mm256_sub_epi32(d, _mm256_sub_epi32(load8(ref + i), load8(ref + i - 1)));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(predicted + i), zz256(e));
            zq = _mm256_sub_epi32(zq, _mm256_cmpeq_epi32(e, zero));
        }
    }
    zeroPlain = hsum(zp);
    zeroPredicted = hsum(zq);
    return i;
}

// Position 0, the vector loop from position 1, the scalar tail, the tag.
template <typename T, typename Loop>
bool vector_form(uint32_t* predicted, uint32_t* plain, const T* row, const T* ref, int32_t n,
                 Loop loopWithRef, Loop loopPlain) {
    if (n <= 0) return false;
    int32_t nzPlain, nzPredicted, zeroPlain, zeroPredicted;
    first_code(predicted, plain, row, ref, nzPlain, nzPredicted);
    const int32_t i = ref ? loopWithRef(predicted, plain, row, ref, n, zeroPlain, zeroPredicted)
                          : loopPlain(predicted, plain, row, ref, n, zeroPlain, zeroPredicted);
    nzPlain += (i - 1) - zeroPlain;
    nzPredicted += (i - 1) - zeroPredicted;
    scalar_range(predicted, plain, row, ref, i, n, nzPlain, nzPredicted);
    return ref && nzPredicted < nzPlain;
}

}  // namespace

bool BuildRowResiduals32Vec128(uint32_t* predicted, uint32_t* plain, const uint32_t* row,
                               const uint32_t* ref, int32_t n) {
    return vector_form(predicted, plain, row, ref, n, vec128_rows<true, uint32_t>,
                       vec128_rows<false, uint32_t>);
}

bool BuildRowResiduals16Vec128(uint32_t* predicted, uint32_t* plain, const uint16_t* row,
                               const uint16_t* ref, int32_t n) {
    return vector_form(predicted, plain, row, ref, n, vec128_rows<true, uint16_t>,
                       vec128_rows<false, uint16_t>);
}

bool BuildRowResiduals32Vec256(uint32_t* predicted, uint32_t* plain, const uint32_t* row,
                               const uint32_t* ref, int32_t n) {
    return vector_form(predicted, plain, row, ref, n, vec256_rows<true, uint32_t>,
                       vec256_rows<false, uint32_t>);
}

bool BuildRowResiduals16Vec256(uint32_t* predicted, uint32_t* plain, const uint16_t* row,
                               const uint16_t* ref, int32_t n) {
    return vector_form(predicted, plain, row, ref, n, vec256_rows<true, uint16_t>,
                       vec256_rows<false, uint16_t>);
}

__attribute__((target("avx512f,avx512bw,avx512vl"))) bool BuildRowResiduals16Vec512(
    uint32_t* predicted, uint32_t* plain, const uint16_t* row, const uint16_t* ref, int32_t n) {
    if (n <= 0) return false;
    int32_t nzPlain, nzPredicted;
    first_code(predicted, plain, row, ref, nzPlain, nzPredicted);
    const bool withRef = ref != nullptr;
    int32_t i = 1;
    for (; i + 16 <= n; i += 16) {
        const __m512i cur = _mm512_maskz_cvtepu16_epi32(
            kAllLanes, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + i)));
        const __m512i prev = _mm512_maskz_cvtepu16_epi32(
            kAllLanes, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + i - 1)));
        const __m512i d = _mm512_sub_epi32(cur, prev);
        const __m512i zp = _mm512_xor_si512(_mm512_maskz_slli_epi32(kAllLanes, d, 1),
                                            _mm512_maskz_srai_epi32(kAllLanes, d, 31));
        _mm512_storeu_si512(plain + i, zp);
        nzPlain += __builtin_popcount(_mm512_test_epi32_mask(zp, zp));
        if (withRef) {
            const __m512i rc = _mm512_maskz_cvtepu16_epi32(
                kAllLanes, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ref + i)));
            const __m512i rp = _mm512_maskz_cvtepu16_epi32(
                kAllLanes, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ref + i - 1)));
            const __m512i e = _mm512_sub_epi32(d, _mm512_sub_epi32(rc, rp));
            const __m512i zq = _mm512_xor_si512(_mm512_maskz_slli_epi32(kAllLanes, e, 1),
                                                _mm512_maskz_srai_epi32(kAllLanes, e, 31));
            _mm512_storeu_si512(predicted + i, zq);
            nzPredicted += __builtin_popcount(_mm512_test_epi32_mask(zq, zq));
        }
    }
    scalar_range(predicted, plain, row, ref, i, n, nzPlain, nzPredicted);
    return withRef && nzPredicted < nzPlain;
}

bool BuildRowResiduals32(uint32_t* predicted, uint32_t* plain, const uint32_t* row,
                         const uint32_t* ref, int32_t n) {
    return BuildRowResiduals32Vec256(predicted, plain, row, ref, n);
}

bool BuildRowResiduals16(uint32_t* predicted, uint32_t* plain, const uint16_t* row,
                         const uint16_t* ref, int32_t n) {
    if (avx512_usable()) return BuildRowResiduals16Vec512(predicted, plain, row, ref, n);
    return BuildRowResiduals16Vec256(predicted, plain, row, ref, n);
}
