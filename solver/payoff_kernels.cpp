// Compiled with -ffp-contract=off: every fused multiply-add below is explicit, so the scalar and
// the batched kernels perform the same operations lane by lane and agree bit for bit.
#include "solver/payoff_kernels.h"

#include <immintrin.h>

#include <cassert>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "solver/river_scratch.h"
#include "utilities/services.h"

using payoff::kMaxRiverHands;
using payoff::kMaxRiverRuns;

const uint16_t* ThreadShowdownMasks() {
    return ThreadRiverScratch()->groupFlags;
}

namespace {

void ZeroRow(float* out, int32_t n) {
    std::memset(out, 0, sizeof(float) * n);
}

[[noreturn]] void CapacityFailure() {
    fail_fatal("payoff kernel capacity");
}

// One record of the showdown sweep: a run with taken hands, or a stretch of dead runs.
template <typename L>
struct SweepRecord {
    typename L::V sum;  // s * reach over the taken hands
    uint16_t taken;    // taken hands (0: dead record)
    uint16_t covered;  // hands of the list it covers
};

// ---------------------------------------------------------------------------------------------
// Lane traits: V is one float per row; scalar is one lane.

struct ScalarLanes {
    using V = float;
    static V zero() { return 0.0f; }
    static V fma(V a, V b, V c) { return std::fmaf(a, b, c); }
    static V fnma(V a, V b, V c) { return std::fmaf(-a, b, c); }
    static V add(V a, V b) { return a + b; }
    static V sub(V a, V b) { return a - b; }
    static V mul(V a, V b) { return a * b; }
};

struct Lanes4 {
    using V = __m128;
    static constexpr int kLanes = 4;
    static V zero() { return _mm_setzero_ps(); }
    static V fma(V a, V b, V c) { return _mm_fmadd_ps(a, b, c); }
    static V fnma(V a, V b, V c) { return _mm_fnmadd_ps(a, b, c); }
    static V add(V a, V b) { return _mm_add_ps(a, b); }
    static V sub(V a, V b) { return _mm_sub_ps(a, b); }
    static V mul(V a, V b) { return _mm_mul_ps(a, b); }
    static V loadu(const float* p) { return _mm_loadu_ps(p); }
    static void storeu(float* p, V v) { _mm_storeu_ps(p, v); }
    static bool anyPositive(V v) { return _mm_movemask_ps(_mm_cmpgt_ps(v, zero())) != 0; }
    // Every lane's magnitude below FLT_MIN.
    static bool allTiny(V v) {
        V mag = _mm_andnot_ps(_mm_set1_ps(-0.0f), v);
        return _mm_movemask_ps(_mm_cmplt_ps(mag, _mm_set1_ps(FLT_MIN))) == 0xF;
    }
};

struct Lanes8 {
    using V = __m256;
    static constexpr int kLanes = 8;
    static V zero() { return _mm256_setzero_ps(); }
    static V fma(V a, V b, V c) { return _mm256_fmadd_ps(a, b, c); }
    static V fnma(V a, V b, V c) { return _mm256_fnmadd_ps(a, b, c); }
    static V add(V a, V b) { return _mm256_add_ps(a, b); }
    static V sub(V a, V b) { return _mm256_sub_ps(a, b); }
    static V mul(V a, V b) { return _mm256_mul_ps(a, b); }
    static V loadu(const float* p) { return _mm256_loadu_ps(p); }
    static void storeu(float* p, V v) { _mm256_storeu_ps(p, v); }
    static bool anyPositive(V v) {
        return _mm256_movemask_ps(_mm256_cmp_ps(v, zero(), _CMP_GT_OQ)) != 0;
    }
    static bool allTiny(V v) {
        V mag = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), v);
        return _mm256_movemask_ps(_mm256_cmp_ps(mag, _mm256_set1_ps(FLT_MIN), _CMP_LT_OQ)) == 0xFF;
    }
};

// Reach of hand j in every lane; lanes at or above K are zero.
// Built in registers: a vector load over floats just stored one by one on the stack cannot be
// forwarded from those stores and stalls, which made the 2- and 3-row forms slower than the
// 4-row one.
template <typename L, int K>
inline typename L::V LoadLanes(const float* const* rows, int j) {
    auto lane = [&](int l) { return l < K ? rows[l][j] : 0.0f; };
    if constexpr (L::kLanes == 4)
        return _mm_setr_ps(lane(0), lane(1), lane(2), lane(3));
    else
        return _mm256_setr_ps(lane(0), lane(1), lane(2), lane(3), lane(4), lane(5), lane(6),
                              lane(7));
}

template <typename L, int K>
inline void StoreLanes(float* const* out, int h, typename L::V v) {
    alignas(32) float lanes[L::kLanes];
    L::storeu(lanes, v);
    for (int l = 0; l < K; ++l) out[l][h] = lanes[l];
}

// Four floats of row l from hand j; rows at or above K read as zeros.
template <int K>
inline __m128 RowQuad(const float* const* rows, int l, int j) {
    return l < K ? _mm_loadu_ps(rows[l] + j) : _mm_setzero_ps();
}

// Hands j .. j + 3 as lane vectors (v[b] is hand j + b): one register transpose instead of a
// scalar gather per hand.
template <int K>
inline void LoadBlock(const float* const* rows, int j, __m128 v[4]) {
    for (int l = 0; l < 4; ++l) v[l] = RowQuad<K>(rows, l, j);
    _MM_TRANSPOSE4_PS(v[0], v[1], v[2], v[3]);
}

// The inverse: v[b] is hand h + b; rows at or above K are not written.
template <int K>
inline void StoreBlock(float* const* out, int h, __m128 v[4]) {
    _MM_TRANSPOSE4_PS(v[0], v[1], v[2], v[3]);
    for (int l = 0; l < K; ++l) _mm_storeu_ps(out[l] + h, v[l]);
}

template <typename L, int K>
inline typename L::V ScaleLanes(const float* s) {
    alignas(32) float lanes[L::kLanes] = {};
    for (int l = 0; l < K; ++l) lanes[l] = s[l];
    return L::loadu(lanes);
}

// ---------------------------------------------------------------------------------------------
// Batched fold: every hand accumulated, in list order.

template <typename L, int K>
void FoldBatch(float* const* out, const float* const* reach, int32_t n, const uint8_t* pairs,
               const float* scales) {
    using V = typename L::V;
    if (n <= 0) return;
    if (reach == nullptr) {
        for (int l = 0; l < K; ++l) ZeroRow(out[l], n);
        return;
    }
    static_assert(L::kLanes == 4, "blocks of four hands");
    constexpr int B = 4;
    const V s = ScaleLanes<L, K>(scales);
    V card[52];
    for (V& c : card) c = L::zero();
    V total = L::zero();
    auto accumulate = [&](int j, V r) {
        total = L::fma(r, s, total);
        card[pairs[2 * j]] = L::fma(r, s, card[pairs[2 * j]]);
        card[pairs[2 * j + 1]] = L::fma(r, s, card[pairs[2 * j + 1]]);
    };
    int j = 0;
    for (; j + B <= n; j += B) {
        V r[B];
        LoadBlock<K>(reach, j, r);
        for (int b = 0; b < B; ++b) accumulate(j + b, r[b]);
    }
    for (; j < n; ++j) accumulate(j, LoadLanes<L, K>(reach, j));
    if (L::allTiny(total)) {
        for (int l = 0; l < K; ++l) ZeroRow(out[l], n);
        return;
    }
    auto value = [&](int i, V r) {
        return L::sub(L::fma(s, r, total), L::add(card[pairs[2 * i]], card[pairs[2 * i + 1]]));
    };
    int i = 0;
    for (; i + B <= n; i += B) {
        V v[B];
        LoadBlock<K>(reach, i, v);
        for (int b = 0; b < B; ++b) v[b] = value(i + b, v[b]);
        StoreBlock<K>(out, i, v);
    }
    for (; i < n; ++i) StoreLanes<L, K>(out, i, value(i, LoadLanes<L, K>(reach, i)));
}

// ---------------------------------------------------------------------------------------------
// Showdown sweep shared by every showdown form.
//
// First sweep: taken hands move their s * reach into the live list and out of the card sums
// and the total, so afterwards every taken hand counts as stronger than everything. Second
// sweep, weakest record first: the record's own hands are added back once (a tie pays nothing),
// its hands are valued, then added once more, moving them to the weaker side.

// Keyed by the lane traits, not the vector type: a vector type as a template argument loses its
// alignment attributes.
template <typename L>
struct ShowdownState {
    using V = typename L::V;
    V card[52];
    V total;
    V liveValue[kMaxRiverHands];
    uint8_t liveCards[2 * kMaxRiverHands];
    SweepRecord<L> records[kMaxRiverRuns];
    int liveCount = 0;
    int recordCount = 0;
    bool deadOpen = false;
};

template <typename L>
inline void TakeHand(ShowdownState<L>& st, typename L::V r, typename L::V s, int a, int b,
                     typename L::V& sum) {
    sum = L::fma(r, s, sum);
    st.liveValue[st.liveCount] = L::mul(s, r);
    st.liveCards[2 * st.liveCount] = static_cast<uint8_t>(a);
    st.liveCards[2 * st.liveCount + 1] = static_cast<uint8_t>(b);
    ++st.liveCount;
    st.card[a] = L::fnma(r, s, st.card[a]);
    st.card[b] = L::fnma(r, s, st.card[b]);
}

template <typename L>
inline void CloseRun(ShowdownState<L>& st, int taken, typename L::V sum, int length) {
    if (taken > 0) {
        st.records[st.recordCount++] = {sum, static_cast<uint16_t>(taken),
                                        static_cast<uint16_t>(length)};
        st.total = L::sub(st.total, sum);
        st.deadOpen = false;
    } else if (st.deadOpen) {
        st.records[st.recordCount - 1].covered += static_cast<uint16_t>(length);
    } else {
        st.records[st.recordCount++] = {L::zero(), 0, static_cast<uint16_t>(length)};
        st.deadOpen = true;
    }
}

// Second sweep; emit(h, value, taken) writes hand h's showdown value (taken: h lies in a record
// with taken hands).
template <typename L, typename Emit>
inline void ShowdownSecondSweep(ShowdownState<L>& st, const uint8_t* pairs, Emit&& emit) {
    int h = 0;
    int live = 0;
    for (int r = 0; r < st.recordCount; ++r) {
        const SweepRecord<L>& rec = st.records[r];
        const int end = h + rec.covered;
        if (rec.taken == 0) {
            for (; h < end; ++h) {
                emit(h, L::sub(L::sub(st.total, st.card[pairs[2 * h]]), st.card[pairs[2 * h + 1]]),
                     false);
            }
            continue;
        }
        const int liveEnd = live + rec.taken;
        for (int e = live; e < liveEnd; ++e) {
            st.card[st.liveCards[2 * e]] = L::add(st.card[st.liveCards[2 * e]], st.liveValue[e]);
            st.card[st.liveCards[2 * e + 1]] =
                L::add(st.card[st.liveCards[2 * e + 1]], st.liveValue[e]);
        }
        st.total = L::add(st.total, rec.sum);
        for (; h < end; ++h) {
            emit(h, L::sub(L::sub(st.total, st.card[pairs[2 * h]]), st.card[pairs[2 * h + 1]]),
                 true);
        }
        for (int e = live; e < liveEnd; ++e) {
            st.card[st.liveCards[2 * e]] = L::add(st.card[st.liveCards[2 * e]], st.liveValue[e]);
            st.card[st.liveCards[2 * e + 1]] =
                L::add(st.card[st.liveCards[2 * e + 1]], st.liveValue[e]);
        }
        st.total = L::add(st.total, rec.sum);
        live = liveEnd;
    }
}

template <typename L>
inline void ResetState(ShowdownState<L>& st) {
    for (typename L::V& c : st.card) c = L::zero();
    st.total = L::zero();
    st.liveCount = 0;
    st.recordCount = 0;
    st.deadOpen = false;
}

// First sweep of the batched showdown: run <= 16 by its flag bits, longer runs by any lane's
// positive reach (all lanes of such a hand are taken).
template <typename L, int K>
void ShowdownBatch(float* const* out, const float* const* reach, int32_t n, const int16_t* groups,
                   const uint8_t* pairs, const float* scales) {
    using V = typename L::V;
    if (n <= 0) return;
    if (reach == nullptr) {
        for (int l = 0; l < K; ++l) ZeroRow(out[l], n);
        return;
    }
    if (n > kMaxRiverHands) CapacityFailure();
    const V s = ScaleLanes<L, K>(scales);
    const uint16_t* flags = ThreadShowdownMasks();
    ShowdownState<L> st;
    ResetState(st);
    int start = 0;
    for (int g = 0; start < n; ++g) {
        if (g >= kMaxRiverRuns) CapacityFailure();
        const int length = groups[g];
        int taken = 0;
        V sum = L::zero();
        const unsigned word = flags[g];
        if (word != 0) {
            if (length <= 16) {
                for (unsigned bits = word; bits != 0; bits &= bits - 1) {
                    const int j = start + __builtin_ctz(bits);
                    TakeHand<L>(st, LoadLanes<L, K>(reach, j), s, pairs[2 * j], pairs[2 * j + 1],
                                sum);
                    ++taken;
                }
            } else {
                for (int j = start; j < start + length; ++j) {
                    const V r = LoadLanes<L, K>(reach, j);
                    if (!L::anyPositive(r)) continue;
                    TakeHand<L>(st, r, s, pairs[2 * j], pairs[2 * j + 1], sum);
                    ++taken;
                }
            }
        }
        CloseRun<L>(st, taken, sum, length);
        start += length;
    }
    if (L::allTiny(st.total)) {
        for (int l = 0; l < K; ++l) ZeroRow(out[l], n);
        return;
    }
    ShowdownSecondSweep<L>(st, pairs, [&](int h, V v, bool) { StoreLanes<L, K>(out, h, v); });
}

}  // namespace

// ---------------------------------------------------------------------------------------------

void FoldValues(float* out, const float* reach, int32_t n, const uint8_t* pairs, float s) {
    if (n <= 0) return;
    if (reach == nullptr) {
        ZeroRow(out, n);
        return;
    }
    float card[52] = {};
    float total = 0.0f;
    for (int j = 0; j < n; ++j) {
        const float r = reach[j];
        if (!(r > 0.0f)) continue;
        total = std::fmaf(r, s, total);
        card[pairs[2 * j]] = std::fmaf(r, s, card[pairs[2 * j]]);
        card[pairs[2 * j + 1]] = std::fmaf(r, s, card[pairs[2 * j + 1]]);
    }
    if (std::fabs(total) <= FLT_MIN) {
        ZeroRow(out, n);
        return;
    }
    // Hand i sits in both of its card sums, so its own reach is added back once.
    for (int i = 0; i < n; ++i) {
        out[i] = std::fmaf(s, reach[i], total) - (card[pairs[2 * i]] + card[pairs[2 * i + 1]]);
    }
}

void FoldValuesX2(float* const out[2], const float* const reach[2], int32_t n, const uint8_t* pairs,
                  const float s[4]) {
    FoldBatch<Lanes4, 2>(out, reach, n, pairs, s);
}
void FoldValuesX3(float* const out[3], const float* const reach[3], int32_t n, const uint8_t* pairs,
                  const float s[4]) {
    FoldBatch<Lanes4, 3>(out, reach, n, pairs, s);
}
void FoldValuesX4(float* const out[4], const float* const reach[4], int32_t n, const uint8_t* pairs,
                  const float s[4]) {
    FoldBatch<Lanes4, 4>(out, reach, n, pairs, s);
}

void ShowdownValues(float* out, const float* reach, int32_t n, const int16_t* groups,
                    const uint8_t* pairs, float s) {
    if (n <= 0) return;
    if (reach == nullptr) {
        ZeroRow(out, n);
        return;
    }
    if (n > kMaxRiverHands) CapacityFailure();
    const uint16_t* flags = ThreadShowdownMasks();
    ShowdownState<ScalarLanes> st;
    ResetState(st);
    int start = 0;
    for (int g = 0; start < n; ++g) {
        if (g >= kMaxRiverRuns) CapacityFailure();
        const int length = groups[g];
        int taken = 0;
        float sum = 0.0f;
        const unsigned word = flags[g];
        if (word != 0) {
            if (length <= 16) {
                for (unsigned bits = word; bits != 0; bits &= bits - 1) {
                    const int j = start + __builtin_ctz(bits);
                    TakeHand<ScalarLanes>(st, reach[j], s, pairs[2 * j], pairs[2 * j + 1], sum);
                    ++taken;
                }
            } else {
                for (int j = start; j < start + length; ++j) {
                    if (!(reach[j] > 0.0f)) continue;
                    TakeHand<ScalarLanes>(st, reach[j], s, pairs[2 * j], pairs[2 * j + 1], sum);
                    ++taken;
                }
            }
        }
        CloseRun<ScalarLanes>(st, taken, sum, length);
        start += length;
    }
    if (std::fabs(st.total) <= FLT_MIN) {
        ZeroRow(out, n);
        return;
    }
    ShowdownSecondSweep<ScalarLanes>(st, pairs, [&](int h, float v, bool) { out[h] = v; });
}

void ShowdownValuesX2(float* const out[2], const float* const reach[2], int32_t n,
                      const int16_t* groups, const uint8_t* pairs, const float s[4]) {
    ShowdownBatch<Lanes4, 2>(out, reach, n, groups, pairs, s);
}
void ShowdownValuesX3(float* const out[3], const float* const reach[3], int32_t n,
                      const int16_t* groups, const uint8_t* pairs, const float s[4]) {
    ShowdownBatch<Lanes4, 3>(out, reach, n, groups, pairs, s);
}
void ShowdownValuesX4(float* const out[4], const float* const reach[4], int32_t n,
                      const int16_t* groups, const uint8_t* pairs, const float s[4]) {
    ShowdownBatch<Lanes4, 4>(out, reach, n, groups, pairs, s);
}
void ShowdownValuesX6(float* const out[6], const float* const reach[6], int32_t n,
                      const int16_t* groups, const uint8_t* pairs, const float s[8]) {
    ShowdownBatch<Lanes8, 6>(out, reach, n, groups, pairs, s);
}
void ShowdownValuesX8(float* const out[8], const float* const reach[8], int32_t n,
                      const int16_t* groups, const uint8_t* pairs, const float s[8]) {
    ShowdownBatch<Lanes8, 8>(out, reach, n, groups, pairs, s);
}

void TwoTerminalValues(float* outShowdown, float* outFold, const float* reach, int32_t n,
                       const int16_t* groups, const uint8_t* pairs, float sShowdown, float sFold) {
    if (n <= 0) return;
    if (reach == nullptr) {
        ZeroRow(outShowdown, n);
        ZeroRow(outFold, n);
        return;
    }
    if (n > kMaxRiverHands) CapacityFailure();
    const uint16_t* flags = ThreadShowdownMasks();
    // The first sweep runs on unscaled reach; the card sums are scaled per child afterwards.
    ShowdownState<ScalarLanes> st;
    ResetState(st);
    auto take = [&](int j, float& plain) {
        const float r = reach[j];
        const int a = pairs[2 * j];
        const int b = pairs[2 * j + 1];
        plain += r;
        st.liveValue[st.liveCount] = sShowdown * r;
        st.liveCards[2 * st.liveCount] = static_cast<uint8_t>(a);
        st.liveCards[2 * st.liveCount + 1] = static_cast<uint8_t>(b);
        ++st.liveCount;
        st.total -= r;
        st.card[a] -= r;
        st.card[b] -= r;
    };
    int start = 0;
    for (int g = 0; start < n; ++g) {
        if (g >= kMaxRiverRuns) CapacityFailure();
        const int length = groups[g];
        int taken = 0;
        float plain = 0.0f;
        const unsigned word = flags[g];
        if (word != 0) {
            if (length <= 16) {
                for (unsigned bits = word; bits != 0; bits &= bits - 1) {
                    take(start + __builtin_ctz(bits), plain);
                    ++taken;
                }
            } else {
                for (int j = start; j < start + length; ++j) {
                    if (!(reach[j] > 0.0f)) continue;
                    take(j, plain);
                    ++taken;
                }
            }
        }
        // The record keeps the scaled sum; the running total stays unscaled (it moved per hand).
        if (taken > 0) {
            st.records[st.recordCount++] = {sShowdown * plain, static_cast<uint16_t>(taken),
                                            static_cast<uint16_t>(length)};
            st.deadOpen = false;
        } else if (st.deadOpen) {
            st.records[st.recordCount - 1].covered += static_cast<uint16_t>(length);
        } else {
            st.records[st.recordCount++] = {0.0f, 0, static_cast<uint16_t>(length)};
            st.deadOpen = true;
        }
        start += length;
    }
    const float unscaled = st.total;
    if (std::fabs(unscaled) <= FLT_MIN) {
        ZeroRow(outShowdown, n);
        ZeroRow(outFold, n);
        return;
    }
    float foldCard[52];
    for (int c = 0; c < 52; ++c) {
        foldCard[c] = sFold * st.card[c];
        st.card[c] = sShowdown * st.card[c];
    }
    st.total = sShowdown * unscaled;
    const float foldTotal = -(sFold * unscaled);
    // Hands of dead records were never taken: their fold value has no own-reach term.
    ShowdownSecondSweep<ScalarLanes>(st, pairs, [&](int h, float v, bool taken) {
        outShowdown[h] = v;
        const float base = taken ? std::fmaf(sFold, reach[h], foldTotal) : foldTotal;
        outFold[h] = base + foldCard[pairs[2 * h]] + foldCard[pairs[2 * h + 1]];
    });
}

void TwoTerminalValuesWeighted(float* outShowdown, float* outFold, const float* reachShowdown,
                               const float* reachFold, int32_t n, const int16_t* groups,
                               const uint8_t* pairs, float sShowdown, float sFold) {
    if (n <= 0) return;
    if (reachShowdown == nullptr && reachFold == nullptr) {
        ZeroRow(outShowdown, n);
        ZeroRow(outFold, n);
        return;
    }
    assert(reachShowdown != nullptr && reachFold != nullptr);
    if (n > kMaxRiverHands) CapacityFailure();
    const uint16_t* flags = ThreadShowdownMasks();
    ShowdownState<ScalarLanes> st;
    ResetState(st);
    float foldCard[52] = {};
    float foldTotal = 0.0f;
    int start = 0;
    for (int g = 0; start < n; ++g) {
        if (g >= kMaxRiverRuns) CapacityFailure();
        const int length = groups[g];
        int taken = 0;
        float sum = 0.0f;
        if (flags[g] != 0) {
            for (int j = start; j < start + length; ++j) {
                const int a = pairs[2 * j];
                const int b = pairs[2 * j + 1];
                const float rs = reachShowdown != nullptr ? reachShowdown[j] : 0.0f;
                if (rs > 0.0f) {
                    TakeHand<ScalarLanes>(st, rs, sShowdown, a, b, sum);
                    ++taken;
                }
                const float rf = reachFold != nullptr ? reachFold[j] : 0.0f;
                if (rf > 0.0f) {
                    foldTotal = std::fmaf(rf, sFold, foldTotal);
                    foldCard[a] = std::fmaf(rf, sFold, foldCard[a]);
                    foldCard[b] = std::fmaf(rf, sFold, foldCard[b]);
                }
            }
        }
        CloseRun<ScalarLanes>(st, taken, sum, length);
        start += length;
    }
    if (std::fabs(st.total) <= FLT_MIN && std::fabs(foldTotal) <= FLT_MIN) {
        ZeroRow(outShowdown, n);
        ZeroRow(outFold, n);
        return;
    }
    ShowdownSecondSweep<ScalarLanes>(st, pairs, [&](int h, float v, bool) {
        outShowdown[h] = v;
        const float rf = reachFold != nullptr ? reachFold[h] : 0.0f;
        outFold[h] =
            std::fmaf(sFold, rf, foldTotal) - (foldCard[pairs[2 * h]] + foldCard[pairs[2 * h + 1]]);
    });
}
