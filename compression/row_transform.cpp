#include "compression/row_transform.h"

// GCC 12 flags the undefined-value helpers inside its own AVX-512 intrinsics.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "interpreter/services.h"

namespace {

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

// Four values at p widened to 32 bits.
inline __m128i load4(const uint32_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// One step of four positions: d are the row differences, r the reference differences (or
// unused). Counts zero codes per lane by subtracting the all-ones compare result.
inline void step4(uint32_t* predicted, uint32_t* plain, __m128i d, __m128i r, bool withRef,
                  __m128i& zeroPlain, __m128i& zeroPredicted) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i zp = zz128(d);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(plain), zp);
    zeroPlain = _mm_sub_epi32(zeroPlain, _mm_cmpeq_epi32(zp, zero));
    if (withRef) {
        const __m128i zq = zz128(_mm_sub_epi32(d, r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(predicted), zq);
        zeroPredicted = _mm_sub_epi32(zeroPredicted, _mm_cmpeq_epi32(zq, zero));
    }
}

inline int32_t hsum(__m128i v) {
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0x4E));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0xB1));
    return _mm_cvtsi128_si32(v);
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

// The vector loops, eight positions per step from position 1; return the first position left.
template <bool kRef>
int32_t vec128_rows32(uint32_t* predicted, uint32_t* plain, const uint32_t* row,
                      const uint32_t* ref, int32_t n, __m128i& zeroPlain, __m128i& zeroPredicted) {
    int32_t i = 1;
    for (; i + 8 <= n; i += 8) {
        for (int32_t h = 0; h < 8; h += 4) {
            const __m128i d = _mm_sub_epi32(load4(row + i + h), load4(row + i + h - 1));
            const __m128i r = kRef ? _mm_sub_epi32(load4(ref + i + h), load4(ref + i + h - 1))
                                   : _mm_setzero_si128();
            step4(predicted + i + h, plain + i + h, d, r, kRef, zeroPlain, zeroPredicted);
        }
    }
    return i;
}

// Eight 16-bit values at p - 1 ... p + 7 widened: the differences in two halves.
inline void diff8(const uint16_t* p, __m128i& lo, __m128i& hi) {
    const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 1));
    lo = _mm_sub_epi32(_mm_cvtepu16_epi32(cur), _mm_cvtepu16_epi32(prev));
    hi = _mm_sub_epi32(_mm_cvtepu16_epi32(_mm_srli_si128(cur, 8)),
                       _mm_cvtepu16_epi32(_mm_srli_si128(prev, 8)));
}

template <bool kRef>
int32_t vec128_rows16(uint32_t* predicted, uint32_t* plain, const uint16_t* row,
                      const uint16_t* ref, int32_t n, __m128i& zeroPlain, __m128i& zeroPredicted) {
    int32_t i = 1;
    for (; i + 8 <= n; i += 8) {
        __m128i dLo, dHi, rLo = _mm_setzero_si128(), rHi = _mm_setzero_si128();
        diff8(row + i, dLo, dHi);
        if (kRef) diff8(ref + i, rLo, rHi);
        step4(predicted + i, plain + i, dLo, rLo, kRef, zeroPlain, zeroPredicted);
        step4(predicted + i + 4, plain + i + 4, dHi, rHi, kRef, zeroPlain, zeroPredicted);
    }
    return i;
}

// Counts of the vector part (positions 1 to i - 1) and the scalar tail; the tag.
template <typename T>
bool finish_form(uint32_t* predicted, uint32_t* plain, const T* row, const T* ref, int32_t n,
                 int32_t i, int32_t nzPlain, int32_t nzPredicted, __m128i zeroPlain,
                 __m128i zeroPredicted) {
    nzPlain += (i - 1) - hsum(zeroPlain);
    nzPredicted += (i - 1) - hsum(zeroPredicted);
    scalar_range(predicted, plain, row, ref, i, n, nzPlain, nzPredicted);
    return ref && nzPredicted < nzPlain;
}

}  // namespace

bool BuildRowResiduals32Vec128(uint32_t* predicted, uint32_t* plain, const uint32_t* row,
                               const uint32_t* ref, int32_t n) {
    if (n <= 0) return false;
    int32_t nzPlain, nzPredicted;
    first_code(predicted, plain, row, ref, nzPlain, nzPredicted);
    __m128i zp = _mm_setzero_si128(), zq = _mm_setzero_si128();
    const int32_t i = ref ? vec128_rows32<true>(predicted, plain, row, ref, n, zp, zq)
                          : vec128_rows32<false>(predicted, plain, row, ref, n, zp, zq);
    return finish_form(predicted, plain, row, ref, n, i, nzPlain, nzPredicted, zp, zq);
}

bool BuildRowResiduals16Vec128(uint32_t* predicted, uint32_t* plain, const uint16_t* row,
                               const uint16_t* ref, int32_t n) {
    if (n <= 0) return false;
    int32_t nzPlain, nzPredicted;
    first_code(predicted, plain, row, ref, nzPlain, nzPredicted);
    __m128i zp = _mm_setzero_si128(), zq = _mm_setzero_si128();
    const int32_t i = ref ? vec128_rows16<true>(predicted, plain, row, ref, n, zp, zq)
                          : vec128_rows16<false>(predicted, plain, row, ref, n, zp, zq);
    return finish_form(predicted, plain, row, ref, n, i, nzPlain, nzPredicted, zp, zq);
}

__attribute__((target("avx512f,avx512bw,avx512vl"))) bool BuildRowResiduals16Vec512(
    uint32_t* predicted, uint32_t* plain, const uint16_t* row, const uint16_t* ref, int32_t n) {
    if (n <= 0) return false;
    int32_t nzPlain, nzPredicted;
    first_code(predicted, plain, row, ref, nzPlain, nzPredicted);
    const bool withRef = ref != nullptr;
    int32_t i = 1;
    for (; i + 16 <= n; i += 16) {
        const __m512i cur =
            _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + i)));
        const __m512i prev = _mm512_cvtepu16_epi32(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + i - 1)));
        const __m512i d = _mm512_sub_epi32(cur, prev);
        const __m512i zp = _mm512_xor_si512(_mm512_slli_epi32(d, 1), _mm512_srai_epi32(d, 31));
        _mm512_storeu_si512(plain + i, zp);
        nzPlain += __builtin_popcount(_mm512_test_epi32_mask(zp, zp));
        if (withRef) {
            const __m512i rc = _mm512_cvtepu16_epi32(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ref + i)));
            const __m512i rp = _mm512_cvtepu16_epi32(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ref + i - 1)));
            const __m512i e = _mm512_sub_epi32(d, _mm512_sub_epi32(rc, rp));
            const __m512i zq = _mm512_xor_si512(_mm512_slli_epi32(e, 1), _mm512_srai_epi32(e, 31));
            _mm512_storeu_si512(predicted + i, zq);
            nzPredicted += __builtin_popcount(_mm512_test_epi32_mask(zq, zq));
        }
    }
    scalar_range(predicted, plain, row, ref, i, n, nzPlain, nzPredicted);
    return withRef && nzPredicted < nzPlain;
}

bool BuildRowResiduals32(uint32_t* predicted, uint32_t* plain, const uint32_t* row,
                         const uint32_t* ref, int32_t n) {
    return BuildRowResiduals32Vec128(predicted, plain, row, ref, n);
}

bool BuildRowResiduals16(uint32_t* predicted, uint32_t* plain, const uint16_t* row,
                         const uint16_t* ref, int32_t n) {
    if (avx512_usable()) return BuildRowResiduals16Vec512(predicted, plain, row, ref, n);
    return BuildRowResiduals16Vec128(predicted, plain, row, ref, n);
}
