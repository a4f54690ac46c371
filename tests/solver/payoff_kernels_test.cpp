// Payoff kernels against an O(n^2) reference, and the batched forms against the scalar ones.
#include "solver/payoff_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "solver/river_scratch.h"

namespace {

// A hand list as the kernels see it: pairs, strength runs (weakest first) and per-hand strength.
struct HandList {
    std::vector<uint8_t> pairs;  // 2n
    std::vector<int16_t> runs;   // lengths, sum n
    std::vector<int> strength;   // run index per hand
    int n() const { return static_cast<int>(strength.size()); }
};

// Random list over the 47 cards not on a random five-card board: a random subset of the 1081
// holdings, shuffled into runs of random lengths, with runs of exactly 16 and 17 mixed in.
HandList RandomList(std::mt19937& rng, int wanted) {
    std::vector<int> deck(52);
    for (int c = 0; c < 52; ++c) deck[c] = c;
    std::shuffle(deck.begin(), deck.end(), rng);
    std::vector<std::pair<int, int>> holdings;
    for (int a = 5; a < 52; ++a)
        for (int b = a + 1; b < 52; ++b)
            holdings.push_back({std::min(deck[a], deck[b]), std::max(deck[a], deck[b])});
    std::shuffle(holdings.begin(), holdings.end(), rng);
    holdings.resize(std::min<size_t>(wanted, holdings.size()));
    HandList list;
    const int n = static_cast<int>(holdings.size());
    std::uniform_int_distribution<int> pick(0, 9);
    int left = n;
    while (left > 0) {
        int length;
        switch (pick(rng)) {
            case 0:
                length = 16;
                break;
            case 1:
                length = 17;
                break;
            case 2:
                length = 1 + static_cast<int>(rng() % 40);
                break;
            default:
                length = 1 + static_cast<int>(rng() % 12);
                break;
        }
        length = std::min(length, left);
        list.runs.push_back(static_cast<int16_t>(length));
        left -= length;
    }
    // Capacity of the flag table: merge the tail into the last run.
    while (list.runs.size() > payoff::kMaxRiverRuns) {
        int16_t last = list.runs.back();
        list.runs.pop_back();
        list.runs.back() = static_cast<int16_t>(list.runs.back() + last);
    }
    for (size_t g = 0; g < list.runs.size(); ++g)
        for (int k = 0; k < list.runs[g]; ++k) list.strength.push_back(static_cast<int>(g));
    for (auto [lo, hi] : holdings) {
        list.pairs.push_back(static_cast<uint8_t>(lo));
        list.pairs.push_back(static_cast<uint8_t>(hi));
    }
    return list;
}

// Reach with zeros, negative zeros, values below FLT_MIN and ordinary weights.
std::vector<float> RandomReach(std::mt19937& rng, int n, double zeroShare) {
    std::vector<float> reach(n);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (float& r : reach) {
        double x = u(rng);
        if (x < zeroShare) {
            r = (rng() & 1) ? 0.0f : -0.0f;
        } else if (x < zeroShare + 0.03) {
            r = 1e-40f;  // below FLT_MIN, still positive
        } else {
            r = static_cast<float>(u(rng));
        }
    }
    return reach;
}

bool Disjoint(const HandList& l, int i, int j) {
    const uint8_t* a = &l.pairs[2 * i];
    const uint8_t* b = &l.pairs[2 * j];
    return a[0] != b[0] && a[0] != b[1] && a[1] != b[0] && a[1] != b[1];
}

std::vector<double> ReferenceFold(const HandList& l, const std::vector<float>& reach, double s) {
    std::vector<double> out(l.n(), 0.0);
    for (int i = 0; i < l.n(); ++i)
        for (int j = 0; j < l.n(); ++j)
            if (j != i && Disjoint(l, i, j) && reach[j] > 0) out[i] += s * reach[j];
    return out;
}

std::vector<double> ReferenceShowdown(const HandList& l, const std::vector<float>& reach,
                                      double s) {
    std::vector<double> out(l.n(), 0.0);
    for (int i = 0; i < l.n(); ++i)
        for (int j = 0; j < l.n(); ++j) {
            if (j == i || !Disjoint(l, i, j) || !(reach[j] > 0)) continue;
            if (l.strength[j] < l.strength[i]) out[i] += s * reach[j];
            if (l.strength[j] > l.strength[i]) out[i] -= s * reach[j];
        }
    return out;
}

double PositiveTotal(const std::vector<float>& reach) {
    double t = 0;
    for (float r : reach)
        if (r > 0) t += r;
    return t;
}

// The flag rule of the river root: per run of at most 16 hands one bit per hand with a non-zero
// reach pattern; longer runs one word, non-zero when any hand has one.
void SetFlags(const HandList& l, const std::vector<float>& rootReach) {
    uint16_t* flags = ThreadRiverScratch()->groupFlags;
    std::memset(flags, 0, sizeof(uint16_t) * payoff::kMaxRiverRuns);
    int start = 0;
    for (size_t g = 0; g < l.runs.size(); ++g) {
        const int length = l.runs[g];
        for (int k = 0; k < length; ++k) {
            uint32_t bits;
            std::memcpy(&bits, &rootReach[start + k], 4);
            if (bits == 0) continue;
            flags[g] |= length <= 16 ? static_cast<uint16_t>(1u << k) : uint16_t{1};
        }
        start += length;
    }
}

void ExpectNear(const std::vector<double>& want, const std::vector<float>& got, double tol) {
    ASSERT_EQ(want.size(), got.size());
    for (size_t i = 0; i < want.size(); ++i) ASSERT_NEAR(want[i], got[i], tol) << "hand " << i;
}

bool SameBits(float a, float b) {
    return std::memcmp(&a, &b, 4) == 0;
}

void CheckAgainstReference(int rounds, unsigned seed) {
    std::mt19937 rng(seed);
    for (int round = 0; round < rounds; ++round) {
        const int n = round % 10 == 0 ? 1081 : 1 + static_cast<int>(rng() % 300);
        HandList l = RandomList(rng, n);
        std::vector<float> reach = RandomReach(rng, l.n(), (round % 4) * 0.25);
        SetFlags(l, reach);
        const float s = (rng() & 1) ? 1.75f : -0.5f;
        const double tol = 1e-5 * std::fabs(s) * std::max(1.0, PositiveTotal(reach));
        std::vector<float> out(l.n(), 99.0f);
        ShowdownValues(out.data(), reach.data(), l.n(), l.runs.data(), l.pairs.data(), s);
        ExpectNear(ReferenceShowdown(l, reach, s), out, tol);
        FoldValues(out.data(), reach.data(), l.n(), l.pairs.data(), s);
        ExpectNear(ReferenceFold(l, reach, s), out, tol);
    }
}

TEST(PayoffKernels, AgreeWithQuadraticReference) {
    CheckAgainstReference(200, 12345);
}
TEST(LongPayoffKernels, AgreeWithQuadraticReference) {
    CheckAgainstReference(3000, 2024);
}

TEST(PayoffKernels, FoldOnLongTurnAndFlopLists) {
    // Fold keeps no per-hand working array, so it takes the 1128- and 1176-hand lists too.
    std::mt19937 rng(7);
    for (int boardCards : {4, 3}) {
        std::vector<int> cards(52);
        for (int c = 0; c < 52; ++c) cards[c] = c;
        std::shuffle(cards.begin(), cards.end(), rng);
        HandList l;
        for (int a = boardCards; a < 52; ++a)
            for (int b = a + 1; b < 52; ++b) {
                l.pairs.push_back(static_cast<uint8_t>(std::min(cards[a], cards[b])));
                l.pairs.push_back(static_cast<uint8_t>(std::max(cards[a], cards[b])));
                l.strength.push_back(0);
            }
        EXPECT_EQ(l.n(), boardCards == 4 ? 1128 : 1176);
        std::vector<float> reach = RandomReach(rng, l.n(), 0.3);
        std::vector<float> out(l.n());
        FoldValues(out.data(), reach.data(), l.n(), l.pairs.data(), -2.0f);
        ExpectNear(ReferenceFold(l, reach, -2.0), out, 2e-5 * PositiveTotal(reach));
    }
}

TEST(PayoffKernels, KnownAnswersAndZeroRows) {
    // Three hands on distinct cards, weakest first: 0 < 1 == 2.
    HandList l;
    l.pairs = {0, 1, 2, 3, 4, 5};
    l.runs = {1, 2};
    l.strength = {0, 1, 1};
    std::vector<float> reach = {1.0f, 2.0f, 4.0f};
    SetFlags(l, reach);
    std::vector<float> out(3);
    ShowdownValues(out.data(), reach.data(), 3, l.runs.data(), l.pairs.data(), 1.0f);
    EXPECT_FLOAT_EQ(out[0], -6.0f);  // loses to both stronger hands
    EXPECT_FLOAT_EQ(out[1], 1.0f);   // beats hand 0, ties hand 2
    EXPECT_FLOAT_EQ(out[2], 1.0f);
    FoldValues(out.data(), reach.data(), 3, l.pairs.data(), 2.0f);
    EXPECT_FLOAT_EQ(out[0], 12.0f);
    EXPECT_FLOAT_EQ(out[1], 10.0f);

    // Null and all-zero reach give zero rows; so does a total below FLT_MIN.
    for (const float* r : {static_cast<const float*>(nullptr)}) {
        out.assign(3, 5.0f);
        ShowdownValues(out.data(), r, 3, l.runs.data(), l.pairs.data(), 1.0f);
        EXPECT_EQ(out, std::vector<float>(3, 0.0f));
        out.assign(3, 5.0f);
        FoldValues(out.data(), r, 3, l.pairs.data(), 1.0f);
        EXPECT_EQ(out, std::vector<float>(3, 0.0f));
    }
    std::vector<float> tiny = {1e-40f, 0.0f, -0.0f};
    SetFlags(l, tiny);
    out.assign(3, 5.0f);
    ShowdownValues(out.data(), tiny.data(), 3, l.runs.data(), l.pairs.data(), 1.0f);
    EXPECT_EQ(out, std::vector<float>(3, 0.0f));
    out.assign(3, 5.0f);
    FoldValues(out.data(), tiny.data(), 3, l.pairs.data(), 1.0f);
    EXPECT_EQ(out, std::vector<float>(3, 0.0f));

    // n <= 0 touches nothing.
    out.assign(3, 5.0f);
    FoldValues(out.data(), reach.data(), 0, l.pairs.data(), 1.0f);
    ShowdownValues(out.data(), reach.data(), -1, l.runs.data(), l.pairs.data(), 1.0f);
    EXPECT_EQ(out, std::vector<float>(3, 5.0f));

    // Card removal: hand 1 shares card 2 with hand 0.
    l.pairs = {0, 2, 2, 3, 4, 5};
    SetFlags(l, reach);
    FoldValues(out.data(), reach.data(), 3, l.pairs.data(), 1.0f);
    EXPECT_FLOAT_EQ(out[0], 4.0f);
    EXPECT_FLOAT_EQ(out[1], 4.0f);
    EXPECT_FLOAT_EQ(out[2], 3.0f);
}

TEST(PayoffKernels, SupersetFlagsChangeNothing) {
    std::mt19937 rng(99);
    for (int round = 0; round < 300; ++round) {
        HandList l = RandomList(rng, 1 + static_cast<int>(rng() % 1081));
        std::vector<float> reach = RandomReach(rng, l.n(), 0.5);
        const float s = 3.0f;
        std::vector<float> exact(l.n()), wide(l.n()), fold1(l.n()), fold2(l.n());
        SetFlags(l, reach);
        ShowdownValues(exact.data(), reach.data(), l.n(), l.runs.data(), l.pairs.data(), s);
        TwoTerminalValues(wide.data(), fold1.data(), reach.data(), l.n(), l.runs.data(),
                          l.pairs.data(), s, -s);
        std::vector<float> everything(l.n(), 1.0f);
        SetFlags(l, everything);
        ShowdownValues(wide.data(), reach.data(), l.n(), l.runs.data(), l.pairs.data(), s);
        for (int i = 0; i < l.n(); ++i) ASSERT_TRUE(SameBits(exact[i], wide[i])) << i;
        std::vector<float> sd(l.n());
        TwoTerminalValues(sd.data(), fold2.data(), reach.data(), l.n(), l.runs.data(),
                          l.pairs.data(), s, -s);
        for (int i = 0; i < l.n(); ++i) ASSERT_FLOAT_EQ(fold1[i], fold2[i]) << i;
    }
}

// Runs a batched kernel over rows[0..k) and compares every lane with the scalar kernel.
template <typename Batched, typename Scalar>
void CompareLanes(int k, const HandList& l, std::vector<std::vector<float>>& rows,
                  const float* scales, Batched batched, Scalar scalar) {
    std::vector<const float*> in(k);
    std::vector<std::vector<float>> outRows(k, std::vector<float>(l.n(), 7.0f));
    std::vector<float*> out(k);
    for (int r = 0; r < k; ++r) {
        in[r] = rows[r].data();
        out[r] = outRows[r].data();
    }
    batched(out.data(), in.data());
    for (int r = 0; r < k; ++r) {
        std::vector<float> want(l.n(), 7.0f);
        scalar(want.data(), rows[r].data(), scales[r]);
        for (int i = 0; i < l.n(); ++i)
            ASSERT_TRUE(SameBits(want[i], outRows[r][i]))
                << "k " << k << " lane " << r << " hand " << i << ": " << want[i] << " vs "
                << outRows[r][i];
    }
}

TEST(PayoffKernels, BatchedEqualScalarLaneByLane) {
    std::mt19937 rng(4242);
    for (int round = 0; round < 400; ++round) {
        // The first rounds walk n = 1 .. 17: every remainder of a four-hand block, after zero to
        // four whole blocks.
        const int wanted = round < 17       ? round + 1
                           : round % 5 == 0 ? 1081
                                            : 1 + static_cast<int>(rng() % 600);
        HandList l = RandomList(rng, wanted);
        const int n = l.n();
        std::vector<std::vector<float>> rows(8);
        // The root reach is the union of the rows' supports; some lanes are all zero.
        std::vector<float> root(n, 0.0f);
        for (int r = 0; r < 8; ++r) {
            rows[r] = RandomReach(rng, n, 0.4);
            if (round % 3 == 0 && r == 1) rows[r].assign(n, 0.0f);
            for (int i = 0; i < n; ++i)
                if (rows[r][i] != 0.0f || std::signbit(rows[r][i])) root[i] = 1.0f;
        }
        SetFlags(l, root);
        float scales[8];
        for (float& s : scales) s = static_cast<float>(static_cast<int>(rng() % 7) - 3) + 0.25f;
        const uint8_t* p = l.pairs.data();
        const int16_t* g = l.runs.data();
        auto sd = [&](float* o, const float* r, float s) { ShowdownValues(o, r, n, g, p, s); };
        auto fd = [&](float* o, const float* r, float s) {
            // Batched folds take every hand: a scalar fold over a reach whose non-positive
            // entries are zero performs the same operations.
            FoldValues(o, r, n, p, s);
        };
        CompareLanes(
            2, l, rows, scales,
            [&](float** o, const float** r) { ShowdownValuesX2(o, r, n, g, p, scales); }, sd);
        CompareLanes(
            3, l, rows, scales,
            [&](float** o, const float** r) { ShowdownValuesX3(o, r, n, g, p, scales); }, sd);
        CompareLanes(
            4, l, rows, scales,
            [&](float** o, const float** r) { ShowdownValuesX4(o, r, n, g, p, scales); }, sd);
        CompareLanes(
            6, l, rows, scales,
            [&](float** o, const float** r) { ShowdownValuesX6(o, r, n, g, p, scales); }, sd);
        CompareLanes(
            8, l, rows, scales,
            [&](float** o, const float** r) { ShowdownValuesX8(o, r, n, g, p, scales); }, sd);
        CompareLanes(
            2, l, rows, scales,
            [&](float** o, const float** r) { FoldValuesX2(o, r, n, p, scales); }, fd);
        CompareLanes(
            3, l, rows, scales,
            [&](float** o, const float** r) { FoldValuesX3(o, r, n, p, scales); }, fd);
        CompareLanes(
            4, l, rows, scales,
            [&](float** o, const float** r) { FoldValuesX4(o, r, n, p, scales); }, fd);
    }
}

TEST(PayoffKernels, BatchedZeroRules) {
    std::mt19937 rng(5);
    HandList l = RandomList(rng, 200);
    const int n = l.n();
    std::vector<float> zero(n, 0.0f), tiny(n, 0.0f);
    tiny[3] = 1e-40f;
    std::vector<float> live = RandomReach(rng, n, 0.2);
    SetFlags(l, live);
    float scales[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    std::vector<float> a(n, 9.0f), b(n, 9.0f);
    float* out[2] = {a.data(), b.data()};
    // Every lane tiny: every row zero.
    const float* both[2] = {zero.data(), tiny.data()};
    ShowdownValuesX2(out, both, n, l.runs.data(), l.pairs.data(), scales);
    EXPECT_EQ(a, zero);
    EXPECT_EQ(b, zero);
    a.assign(n, 9.0f);
    FoldValuesX2(out, both, n, l.pairs.data(), scales);
    EXPECT_EQ(a, zero);
    // A null reach array zeroes all k rows.
    a.assign(n, 9.0f);
    b.assign(n, 9.0f);
    ShowdownValuesX2(out, nullptr, n, l.runs.data(), l.pairs.data(), scales);
    EXPECT_EQ(a, zero);
    EXPECT_EQ(b, zero);
    // One live lane: the tiny lane is computed, not zeroed (the scalar kernel would zero it).
    const float* mixed[2] = {live.data(), tiny.data()};
    FoldValuesX2(out, mixed, n, l.pairs.data(), scales);
    std::vector<float> want(n);
    FoldValues(want.data(), live.data(), n, l.pairs.data(), 1.0f);
    EXPECT_EQ(a, want);
}

TEST(PayoffKernels, TwoTerminalMatchesSeparateCalls) {
    std::mt19937 rng(777);
    for (int round = 0; round < 500; ++round) {
        HandList l = RandomList(rng, 1 + static_cast<int>(rng() % 1081));
        const int n = l.n();
        std::vector<float> reach = RandomReach(rng, n, 0.3);
        std::vector<float> other = reach;
        for (float& r : other)
            if (r > 0 && (rng() & 1)) r *= 0.5f;
        SetFlags(l, reach);
        const float sS = 2.5f, sF = -1.5f;
        const double tol = 2e-5 * 2.5 * std::max(1.0, PositiveTotal(reach));
        std::vector<float> sd(n), fd(n), wantS(n), wantF(n);
        TwoTerminalValues(sd.data(), fd.data(), reach.data(), n, l.runs.data(), l.pairs.data(), sS,
                          sF);
        ShowdownValues(wantS.data(), reach.data(), n, l.runs.data(), l.pairs.data(), sS);
        FoldValues(wantF.data(), reach.data(), n, l.pairs.data(), sF);
        for (int i = 0; i < n; ++i) {
            ASSERT_NEAR(sd[i], wantS[i], tol);
            ASSERT_NEAR(fd[i], wantF[i], tol);
        }
        TwoTerminalValuesWeighted(sd.data(), fd.data(), reach.data(), other.data(), n,
                                  l.runs.data(), l.pairs.data(), sS, sF);
        FoldValues(wantF.data(), other.data(), n, l.pairs.data(), sF);
        for (int i = 0; i < n; ++i) {
            ASSERT_TRUE(SameBits(sd[i], wantS[i])) << i;
            ASSERT_NEAR(fd[i], wantF[i], tol);
        }
    }
    // Both rows null: both outputs zero. A zero unscaled total zeroes both whatever the scales.
    HandList l = RandomList(rng, 50);
    std::vector<float> a(l.n(), 3.0f), b(l.n(), 3.0f), zero(l.n(), 0.0f);
    TwoTerminalValuesWeighted(a.data(), b.data(), nullptr, nullptr, l.n(), l.runs.data(),
                              l.pairs.data(), 1.0f, 1.0f);
    EXPECT_EQ(a, zero);
    EXPECT_EQ(b, zero);
    a.assign(l.n(), 3.0f);
    b.assign(l.n(), 3.0f);
    std::vector<float> tiny(l.n(), 0.0f);
    tiny[0] = 1e-40f;
    SetFlags(l, tiny);
    TwoTerminalValues(a.data(), b.data(), tiny.data(), l.n(), l.runs.data(), l.pairs.data(), 1e30f,
                      1e30f);
    EXPECT_EQ(a, zero);
    EXPECT_EQ(b, zero);
    // Only one of the two rows zero: the other terminal is still valued. The flags come from
    // the root reach, which covers both rows.
    std::vector<float> some = RandomReach(rng, l.n(), 0.3);
    some[0] = 0.5f;
    SetFlags(l, some);
    for (const bool showdownZero : {true, false}) {
        const std::vector<float>& rs = showdownZero ? zero : some;
        const std::vector<float>& rf = showdownZero ? some : zero;
        std::vector<float> wantS(l.n()), wantF(l.n());
        TwoTerminalValuesWeighted(a.data(), b.data(), rs.data(), rf.data(), l.n(), l.runs.data(),
                                  l.pairs.data(), 2.0f, -1.0f);
        ShowdownValues(wantS.data(), rs.data(), l.n(), l.runs.data(), l.pairs.data(), 2.0f);
        FoldValues(wantF.data(), rf.data(), l.n(), l.pairs.data(), -1.0f);
        for (int i = 0; i < l.n(); ++i) {
            ASSERT_NEAR(a[i], wantS[i], 1e-4) << showdownZero << " " << i;
            ASSERT_NEAR(b[i], wantF[i], 1e-4) << showdownZero << " " << i;
        }
    }
}

}  // namespace
