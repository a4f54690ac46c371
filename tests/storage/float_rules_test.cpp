#include "storage/float_rules.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "storage/aligned_memory.h"

namespace {

std::vector<float> RandomRow(std::mt19937& rng, int32_t n, float lo, float hi) {
    std::uniform_real_distribution<float> d(lo, hi);
    std::vector<float> v(n);
    for (auto& x : v) x = d(rng);
    return v;
}

PooledArray View(std::vector<float>& v) {
    return PooledArray{v.data(), int32_t(v.size()), 0};
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * 4) == 0);
}

}  // namespace

TEST(RegretRule, KnownAnswers) {
    // 16^0.75 = 8 exactly: sqrt(16) = 4, sqrt(4) = 2.
    std::vector<float> r = {10, 10, 5, 3, 0, 1e-39f, 2e-38f, 7, 1, 1};
    std::vector<float> node = {0, 16, 16, 0, 0, 0, 0, 0, 0, 1e-39f};
    std::vector<float> act = {16, 0, 0, 0, 1e-39f, 0, -1e-30f, 7, 1, 0};
    UpdateRegretRow(r.data(), node.data(), act.data(), int32_t(r.size()), nullptr);
    EXPECT_EQ(r[0], 18.0f);  // d = 16 adds 8
    EXPECT_EQ(r[1], 2.0f);   // d = -16 subtracts 8
    EXPECT_EQ(r[2], 0.0f);   // floored at 0
    EXPECT_EQ(r[3], 3.0f);   // d = 0 adds nothing
    EXPECT_EQ(r[4], 0.0f);   // |d| below FLT_MIN moves nothing
    EXPECT_EQ(r[5], 0.0f);   // a result below FLT_MIN is stored as exactly 0
    EXPECT_EQ(r[6], 0.0f);   // pushed from just above FLT_MIN to below it
    EXPECT_EQ(r[7], 7.0f + std::sqrt(7.0f) * std::sqrt(std::sqrt(7.0f)));
    EXPECT_EQ(r[8], 2.0f);
    EXPECT_EQ(r[9], 1.0f);
    EXPECT_FALSE(std::signbit(r[2]));
    // A null action row reads as zeros.
    std::vector<float> z = {20, 20};
    std::vector<float> v = {16, -16};
    UpdateRegretRow(z.data(), v.data(), nullptr, 2, nullptr);
    EXPECT_EQ(z[0], 12.0f);
    EXPECT_EQ(z[1], 28.0f);
}

TEST(RegretRule, VectorMatchesScalarAndDoublePrecision) {
    std::mt19937 rng(11);
    for (int32_t n : {0, 1, 7, 8, 9, 17, 33, 1081, 1176}) {
        auto r = RandomRow(rng, n, 0.0f, 50.0f);
        for (int32_t i = 0; i < n; i += 5) r[i] = 0.0f;
        const auto node = RandomRow(rng, n, -100.0f, 100.0f);
        auto act = RandomRow(rng, n, -100.0f, 100.0f);
        for (int32_t i = 3; i < n; i += 7) act[i] = node[i];
        std::vector<uint8_t> mask(n);
        for (auto& b : mask) b = rng() % 3 == 0;
        for (const uint8_t* m :
             {static_cast<const uint8_t*>(nullptr), static_cast<const uint8_t*>(mask.data())}) {
            auto vec = r, ref = r;
            UpdateRegretRow(vec.data(), node.data(), act.data(), n, m);
            UpdateRegretRowScalar(ref.data(), node.data(), act.data(), n, m);
            EXPECT_TRUE(SameBits(vec, ref)) << n;
            for (int32_t i = 0; i < n; ++i) {
                if (m && m[i]) {
                    EXPECT_EQ(vec[i], r[i]);
                    continue;
                }
                const double d = double(act[i]) - double(node[i]);
                const double step = std::pow(std::fabs(d), 0.75);
                double want = r[i] + (d >= 0 ? step : -step);
                if (want < FLT_MIN) want = 0;
                const double tol = std::ldexp(std::max<double>(r[i], step), -20);
                EXPECT_NEAR(vec[i], want, tol) << i;
                EXPECT_TRUE(vec[i] == 0.0f || vec[i] >= FLT_MIN);
            }
        }
    }
}

TEST(RegretRule, MaskedHandsKeepTheirRegretsBesideChangingNeighbours) {
    std::vector<float> r(16, 4.0f), node(16, 0.0f), act(16, 16.0f);
    std::vector<uint8_t> mask(16, 1);
    mask[3] = 0;  // one free hand in the first group of 8; the second group is all locked
    UpdateRegretRow(r.data(), node.data(), act.data(), 16, mask.data());
    for (int i = 0; i < 16; ++i) EXPECT_EQ(r[i], i == 3 ? 12.0f : 4.0f) << i;
}

TEST(NormalisationRule, DefaultsAndSums) {
    std::vector<float> a = {3, 0, 1e-39f, 1, 2, NAN, 0, 5};
    std::vector<float> b = {1, 0, 0, 1, 6, 1, 0, 0};
    std::vector<float> c = {0, 0, 0, 2, 0, 1, 1e-39f, 0};
    const float* rows[] = {a.data(), b.data(), c.data()};
    const int32_t counts[] = {8, 8, 8};
    const float defaults[] = {0.5f, 0.25f, 0.25f};
    PooledArray out[3];
    NormalizeStrategy(rows, counts, 3, defaults, out);
    for (auto& row : out) {
        ASSERT_EQ(row.count, 8);
        EXPECT_EQ(row.fromPool, 0);
    }
    EXPECT_EQ(out[0].data[0], 0.75f);
    EXPECT_EQ(out[1].data[0], 0.25f);
    for (int i : {1, 2, 5, 6}) {  // all zero, 1e-39 alone, NaN sum: the defaults
        EXPECT_EQ(out[0].data[i], 0.5f) << i;
        EXPECT_EQ(out[1].data[i], 0.25f) << i;
        EXPECT_EQ(out[2].data[i], 0.25f) << i;
    }
    EXPECT_EQ(out[2].data[3], 0.5f);
    EXPECT_EQ(out[0].data[7], 1.0f);
    for (auto& row : out) ReleasePooledArray(&row);
}

TEST(NormalisationRule, VectorMatchesScalarAndSumsToOne) {
    std::mt19937 rng(3);
    for (int32_t n : {1, 9, 31, 1081, 1176}) {
        for (int32_t k : {1, 2, 3, 4, 6}) {
            std::vector<std::vector<float>> rows(k);
            std::vector<const float*> ptrs;
            for (auto& row : rows) {
                row = RandomRow(rng, n, 0.0f, 10.0f);
                for (int32_t i = 0; i < n; i += 4) row[i] = 0.0f;
                ptrs.push_back(row.data());
            }
            std::vector<float> sum(n), sumRef(n);
            SumActionRows(ptrs.data(), k, n, sum.data());
            SumActionRowsScalar(ptrs.data(), k, n, sumRef.data());
            EXPECT_TRUE(SameBits(sum, sumRef));
            std::vector<int32_t> counts(k, n);
            std::vector<float> defaults(k, 1.0f / k);
            std::vector<PooledArray> out(k);
            NormalizeStrategy(ptrs.data(), counts.data(), k, defaults.data(), out.data());
            for (int32_t a = 0; a < k; ++a) {
                std::vector<float> ref(n);
                NormalizeRowBySumScalar(ptrs[a], sumRef.data(), n, defaults[a], ref.data());
                EXPECT_EQ(std::memcmp(ref.data(), out[a].data, n * 4), 0);
            }
            for (int32_t i = 0; i < n; ++i) {
                double total = 0;
                for (int32_t a = 0; a < k; ++a) total += out[a].data[i];
                EXPECT_NEAR(total, 1.0, 1e-6);
            }
            for (auto& row : out) ReleasePooledArray(&row);
        }
    }
}

TEST(AccumulationRule, SkipsAndMasks) {
    std::vector<float> sums(16, 1.0f), strategy(16, 0.5f), reach(16, 2.0f);
    std::vector<uint8_t> mask(16, 1);
    mask[5] = 0;
    const std::vector<float> before = sums;
    PooledArray s = View(strategy), r = View(reach), nullReach{nullptr, 16, 0};
    for (float w : {0.0f, -1.0f, NAN}) {
        AccumulateStrategyRow(sums.data(), s, r, nullptr, w);
        EXPECT_EQ(sums, before);
    }
    AccumulateStrategyRow(sums.data(), s, nullReach, nullptr, 3.0f);
    EXPECT_EQ(sums, before);
    AccumulateStrategyRow(sums.data(), s, r, mask.data(), 3.0f);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(sums[i], i == 5 ? 4.0f : 1.0f);

    std::mt19937 rng(9);
    for (int32_t n : {1, 7, 8, 9, 33, 1176}) {
        auto base = RandomRow(rng, n, 0, 5), st = RandomRow(rng, n, 0, 1),
             re = RandomRow(rng, n, 0, 1);
        std::vector<uint8_t> m(n);
        for (auto& b : m) b = rng() % 4 == 0;
        auto vec = base, ref = base;
        AccumulateStrategyRow(vec.data(), View(st), View(re), m.data(), 0.37f);
        AccumulateStrategyRowScalar(ref.data(), View(st), View(re), m.data(), 0.37f);
        EXPECT_TRUE(SameBits(vec, ref));
    }
}
