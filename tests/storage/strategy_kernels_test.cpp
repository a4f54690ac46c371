#include "storage/strategy_kernels.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

#include "storage/regret_update16.h"
#include "utilities/services.h"

namespace {

// Known answers, each worked by hand from the kernel's rule.
TEST(StrategyKernels, KnownAnswers) {
    const float d2[2] = {0.9f, 0.1f};
    const float d3[3] = {0.2f, 0.3f, 0.5f};
    float o[4][4];

    const float a[2] = {3, 0}, b[2] = {1, 0};
    NormalizeTwoActions(a, b, 2, d2, o[0], o[1]);
    EXPECT_EQ(o[0][0], 0.75f);
    EXPECT_EQ(o[1][0], 0.25f);
    EXPECT_EQ(o[0][1], 0.9f);
    EXPECT_EQ(o[1][1], 0.1f);
    const float tiny[1] = {1e-39f}, zero[1] = {0};
    NormalizeThreeActions(tiny, zero, zero, 1, d3, o[0], o[1], o[2]);
    EXPECT_EQ(o[0][0], 0.2f);
    EXPECT_EQ(o[2][0], 0.5f);

    // 16-bit pairs: the second row is 1 - p, default 1 never read.
    const uint16_t p[2] = {0, 1}, q[2] = {0, 3};
    const float d2odd[2] = {0.9f, 12345.0f};
    TwoActionProbabilities16(p, q, 2, d2odd, o[0], o[1]);
    EXPECT_EQ(o[0][0], 0.9f);
    EXPECT_EQ(o[1][0], 1.0f - 0.9f);
    EXPECT_EQ(o[0][1], 0.25f);
    EXPECT_EQ(o[1][1], 0.75f);

    const uint16_t t1[2] = {1, 0}, t2[2] = {1, 0}, t3[2] = {2, 0};
    ThreeActionProbabilities16(t1, t2, t3, 2, d3, o[0], o[1], o[2]);
    EXPECT_EQ(o[0][0], 0.25f);
    EXPECT_EQ(o[1][0], 0.25f);
    EXPECT_EQ(o[2][0], 0.5f);
    EXPECT_EQ(o[1][1], 0.3f);

    const uint16_t f0[1] = {1}, f1[1] = {1}, f2[1] = {2}, f3[1] = {4};
    const uint16_t* four[4] = {f0, f1, f2, f3};
    float* outs[4] = {o[0], o[1], o[2], o[3]};
    const float d4[4] = {0.1f, 0.2f, 0.3f, 0.4f};
    FourActionProbabilities(four, 1, d4, outs);
    EXPECT_EQ(o[3][0], 0.5f);
    EXPECT_EQ(o[0][0], 0.125f);

    const uint32_t sum[2] = {0, 0x80000000u};
    const uint16_t v[2] = {5, 5};
    ActionProbabilitiesFromSum(v, sum, 2, 0.7f, o[0]);
    EXPECT_EQ(o[0][0], 0.7f);
    EXPECT_EQ(o[0][1], 0.7f);  // a sum read as negative gives the default

    // Counts: 2 + 1 x 0.5 x 1 = 2.5, rounded half up to 3; saturation at 2^31 - 1.
    float half = 0.5f, one = 1.0f;
    uint32_t counts[1] = {2};
    AccumulateStrategyCounts(counts, {&half, 1, 0}, {&one, 1, 0}, nullptr, 1.0f);
    EXPECT_EQ(counts[0], 3u);
    counts[0] = 2147483600u;
    float big = 1000.0f;
    AccumulateStrategyCounts(counts, {&big, 1, 0}, {&one, 1, 0}, nullptr, 1.0f);
    EXPECT_EQ(counts[0], 2147483647u);
    AccumulateStrategyCounts(counts, {&big, 1, 0}, {&one, 1, 0}, nullptr, 0.0f);
    AccumulateStrategyCounts(counts, {&big, 1, 0}, {nullptr, 1, 0}, nullptr, 1.0f);
    EXPECT_EQ(counts[0], 2147483647u);
    // Below 2^24 the sum is a float: 1000 + (0.5 - 2^-25) rounds to 1000.5, so the count becomes
    // 1001 (a double sum would keep 1000). From 2^24 on it is a double, which keeps odd counts a
    // float would round away.
    struct Case {
        uint32_t count;
        float increment;
        uint32_t expected;
    };
    for (const Case& c :
         {Case{1000, 0.5f - 1.0f / 33554432.0f, 1001}, Case{16777217u, 0.25f, 16777217u}}) {
        // Eight hands, so the vector form runs as well as the single-hand one.
        std::vector<uint32_t> vec(8, c.count), single(8, c.count);
        std::vector<float> s(8, c.increment), r(8, 1.0f);
        AccumulateStrategyCounts(vec.data(), {s.data(), 8, 0}, {r.data(), 8, 0}, nullptr, 1.0f);
        AccumulateStrategyCountsScalar(single.data(), {s.data(), 8, 0}, {r.data(), 8, 0}, nullptr,
                                       1.0f);
        EXPECT_EQ(vec, std::vector<uint32_t>(8, c.expected)) << c.count;
        EXPECT_EQ(single, vec);
    }

    // Sums of saturated counts stay exact.
    double wide[1] = {0};
    const uint32_t c1[1] = {2147483647u}, c2[1] = {2147483647u}, c3[1] = {1};
    AddRow32(wide, c1, 1);
    AddRow32(wide, c2, 1);
    AddRow32(wide, c3, 1);
    ActionProbabilitiesFromSum32(c3, wide, 1, 0.5f, o[0]);
    EXPECT_GT(o[0][0], 0.0f);
    ActionProbabilitiesFromSum32(c1, wide, 1, 0.5f, o[0]);
    EXPECT_NEAR(o[0][0], 0.5f, 1e-9);
    // The division is float / float: 16777217 / 16777219 is 16777216.0f / 16777220.0f.
    double odd[1] = {16777219.0};
    const uint32_t top[1] = {16777217u};
    ActionProbabilitiesFromSum32(top, odd, 1, 0.5f, o[0]);
    EXPECT_EQ(o[0][0], 16777216.0f / 16777220.0f);

    const float src[4] = {2.9f, -1.0f, 65541.0f, NAN};
    uint16_t dst[4];
    QuantizeRow16(dst, src, 4);
    EXPECT_EQ(dst[0], 2);
    EXPECT_EQ(dst[1], 0);
    EXPECT_EQ(dst[2], 65535);
    EXPECT_EQ(dst[3], 0);
}

TEST(RegretUpdate16, KnownAnswers) {
    // Scale 16: p = 8, t = 1/16.
    const float node[5] = {0, 0, 1, 0, 0};
    const float action[5] = {1, 0.05f, 0, 16, 1e30f};
    uint16_t q[5] = {10, 10, 5, 10, 0};
    UpdateRegrets16(q, node, action, 5, nullptr, nullptr, 16.0f);
    EXPECT_EQ(q[0], 18);
    EXPECT_EQ(q[1], 10);
    EXPECT_EQ(q[2], 0);
    EXPECT_EQ(q[3], 74);
    EXPECT_EQ(q[4], 65535);  // saturates, never wraps

    uint16_t high[1] = {65530};
    const float sixteen[1] = {16};
    UpdateRegrets16(high, nullptr, sixteen, 1, nullptr, nullptr, 16.0f);
    EXPECT_EQ(high[0], 65535);

    // A null action row reads as zeros: d = -node.
    uint16_t r[1] = {100};
    const float n1[1] = {1};
    UpdateRegrets16(r, n1, nullptr, 1, nullptr, nullptr, 16.0f);
    EXPECT_EQ(r[0], 92);

    // Runs 2, 1 over 3, 4, 9 give 3, 3, 9; a masked hand is not updated but is averaged.
    uint16_t s[3] = {3, 4, 9};
    const std::vector<int16_t> runs{2, 1};
    UpdateRegrets16(s, nullptr, nullptr, 3, &runs, nullptr, 16.0f);
    EXPECT_EQ(s[0], 3);
    EXPECT_EQ(s[1], 3);
    EXPECT_EQ(s[2], 9);
    uint16_t m[2] = {0, 0};
    const uint8_t mask[2] = {1, 0};
    const float up[2] = {1, 1};
    const std::vector<int16_t> pair{2};
    UpdateRegrets16(m, nullptr, up, 2, &pair, mask, 16.0f);
    EXPECT_EQ(m[0], 4);
    EXPECT_EQ(m[1], 4);
}

std::vector<float> RandomRow(std::mt19937& rng, int n, float spread) {
    std::uniform_real_distribution<float> u(-spread, spread);
    std::vector<float> row(static_cast<size_t>(n));
    for (auto& v : row) v = rng() % 5 == 0 ? 0.0f : u(rng);
    return row;
}

// Vector and single-hand forms agree exactly on 10^6 random hands, with and without masks and
// run lengths.
TEST(RegretUpdate16, FormsAgree) {
    std::mt19937 rng(3);
    int64_t hands = 0;
    while (hands < 1000000) {
        const int n = 1 + int(rng() % 1081);
        const float spread = std::pow(10.0f, float(rng() % 8) - 3);
        const auto node = RandomRow(rng, n, spread);
        const auto action = RandomRow(rng, n, spread);
        std::vector<uint16_t> q(static_cast<size_t>(n));
        for (auto& v : q) v = rng() % 3 ? uint16_t(rng()) : 0;
        std::vector<uint8_t> mask(static_cast<size_t>(n));
        for (auto& v : mask) v = rng() % 4 == 0;
        std::vector<int16_t> runs;
        for (int left = n; left > 0;) {
            const int g = std::min(left, 1 + int(rng() % 6));
            runs.push_back(int16_t(g));
            left -= g;
        }
        const float scale = float(1 + rng() % 1000);
        const bool masked = rng() % 2, grouped = rng() % 2;
        auto a = q, b = q;
        UpdateRegrets16(a.data(), node.data(), action.data(), n, grouped ? &runs : nullptr,
                        masked ? mask.data() : nullptr, scale);
        UpdateRegrets16Scalar(b.data(), node.data(), action.data(), n, grouped ? &runs : nullptr,
                              masked ? mask.data() : nullptr, scale);
        ASSERT_EQ(a, b);
        hands += n;
    }
}

std::vector<uint16_t> Random16(std::mt19937& rng, int n) {
    std::vector<uint16_t> row(static_cast<size_t>(n));
    for (auto& v : row) v = rng() % 4 == 0 ? 0 : uint16_t(rng() >> (rng() % 16));
    return row;
}

// On random rows every hand's probabilities sum to 1 within 1e-6 or are the defaults; the
// dispatching forms equal the scalar references, and the 512-bit forms the 256-bit ones.
TEST(StrategyKernels, RandomRows) {
    std::mt19937 rng(11);
    const float defaults[4] = {0.4f, 0.3f, 0.2f, 0.1f};
    const uint8_t avx512 = avx512_enabled.load();
    for (int trial = 0; trial < 200; ++trial) {
        const int n = int(rng() % 1100);
        auto a = Random16(rng, n), b = Random16(rng, n), c = Random16(rng, n), d = Random16(rng, n);
        if (trial % 3 == 0) std::fill(a.begin(), a.begin() + n / 2, 0);
        if (trial % 3 == 0) std::fill(b.begin(), b.begin() + n / 2, 0);
        std::vector<float> o[4], r[4], w[4];
        for (int k = 0; k < 4; ++k) {
            o[k].resize(size_t(n));
            r[k].resize(size_t(n));
            w[k].resize(size_t(n));
        }
        avx512_enabled.store(0);
        TwoActionProbabilities16(a.data(), b.data(), n, defaults, o[0].data(), o[1].data());
        TwoActionProbabilities16Scalar(a.data(), b.data(), n, defaults, r[0].data(), r[1].data());
        ASSERT_EQ(o[0], r[0]);
        ASSERT_EQ(o[1], r[1]);
        for (int i = 0; i < n; ++i) {
            if (a[size_t(i)] + b[size_t(i)] > 0) {
                ASSERT_NEAR(o[0][size_t(i)] + o[1][size_t(i)], 1.0, 1e-6);
            } else {
                ASSERT_EQ(o[0][size_t(i)], defaults[0]);
            }
        }
        if (avx512_supported()) {
            TwoActionProbabilities16Wide(a.data(), b.data(), n, defaults, w[0].data(), w[1].data());
            ASSERT_EQ(w[0], r[0]);
            ASSERT_EQ(w[1], r[1]);
        }

        ThreeActionProbabilities16(a.data(), b.data(), c.data(), n, defaults, o[0].data(),
                                   o[1].data(), o[2].data());
        ThreeActionProbabilities16Scalar(a.data(), b.data(), c.data(), n, defaults, r[0].data(),
                                         r[1].data(), r[2].data());
        for (int k = 0; k < 3; ++k) ASSERT_EQ(o[k], r[k]);
        if (avx512_supported()) {
            ThreeActionProbabilities16Wide(a.data(), b.data(), c.data(), n, defaults, w[0].data(),
                                           w[1].data(), w[2].data());
            for (int k = 0; k < 3; ++k) ASSERT_EQ(w[k], r[k]);
        }
        for (int i = 0; i < n; ++i) {
            const size_t h = size_t(i);
            if (a[h] + b[h] + c[h] > 0) {
                ASSERT_NEAR(o[0][h] + o[1][h] + o[2][h], 1.0, 1e-6);
            } else {
                ASSERT_EQ(o[2][h], defaults[2]);
            }
        }

        // Four actions: the dedicated kernel and the sum path give the same numbers.
        const uint16_t* rows[4] = {a.data(), b.data(), c.data(), d.data()};
        float* outs[4] = {o[0].data(), o[1].data(), o[2].data(), o[3].data()};
        FourActionProbabilities(rows, n, defaults, outs);
        std::vector<uint32_t> sum(size_t(n), 0);
        for (auto* row : rows) WidenAddRow16(sum.data(), row, n);
        for (int k = 0; k < 4; ++k) {
            ActionProbabilitiesFromSum(rows[k], sum.data(), n, defaults[k], r[k].data());
            ASSERT_EQ(o[k], r[k]);
        }
    }
    avx512_enabled.store(avx512);
}

TEST(StrategyKernels, CountsVectorMatchesScalar) {
    std::mt19937 rng(21);
    for (int trial = 0; trial < 300; ++trial) {
        const int n = int(rng() % 300);
        std::vector<float> s(static_cast<size_t>(n)), reach(static_cast<size_t>(n));
        for (auto& v : s) v = float(rng() % 1000) / 1000.0f;
        for (auto& v : reach) v = float(rng() % 1000) / 10.0f;
        if (n > 0 && trial % 7 == 0) s[0] = NAN;
        std::vector<uint32_t> c(static_cast<size_t>(n));
        for (auto& v : c) v = rng() % 5 == 0 ? 2147483600u + rng() % 40 : rng() % 100000;
        auto x = c, y = c;
        const float weight = float(1 + rng() % 50) / 3.0f;
        AccumulateStrategyCounts(x.data(), {s.data(), n, 0}, {reach.data(), n, 0}, nullptr, weight);
        AccumulateStrategyCountsScalar(y.data(), {s.data(), n, 0}, {reach.data(), n, 0}, nullptr,
                                       weight);
        ASSERT_EQ(x, y);
        for (auto v : x) ASSERT_LE(v, 2147483647u);
    }
}

}  // namespace
