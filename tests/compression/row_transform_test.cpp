#include "compression/row_transform.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "child_process.h"
#include "compression/row_coder.h"
#include "memory_streams.h"
#include "solver_rows.h"
#include "utilities/services.h"

namespace {

TEST(RowTransform, ZigzagCodesWrapModuloTwoToThe32) {
    uint32_t plain[2], predicted[2];
    const uint32_t a[2] = {0, 0xFFFFFFFFu};
    EXPECT_FALSE(BuildRowResiduals32(predicted, plain, a, nullptr, 2));
    EXPECT_EQ(plain[0], 0u);
    EXPECT_EQ(plain[1], 1u);
    const uint32_t b[1] = {0x80000000u};
    BuildRowResiduals32(predicted, plain, b, nullptr, 1);
    EXPECT_EQ(plain[0], 0xFFFFFFFFu);
    // 16-bit values are widened before subtracting: codes reach 17 bits.
    const uint16_t c[2] = {65535, 0};
    BuildRowResiduals16(predicted, plain, c, nullptr, 2);
    EXPECT_EQ(plain[0], 131070u);
    EXPECT_EQ(plain[1], 131069u);
    for (uint32_t x : {0u, 1u, 0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 12345u})
        EXPECT_EQ(zigzag_decode(zigzag_encode(x)), x);
    EXPECT_EQ(zigzag_encode(static_cast<uint32_t>(-1)), 1u);
    EXPECT_EQ(zigzag_encode(1), 2u);
    EXPECT_EQ(zigzag_encode(static_cast<uint32_t>(-2)), 3u);
}

TEST(RowTransform, PredictedRowOnlyWithStrictlyFewerNonzeroCodes) {
    uint32_t plain[8], predicted[8];
    const uint32_t constant[4] = {9, 9, 9, 9};
    EXPECT_FALSE(BuildRowResiduals32(predicted, plain, constant, constant, 4));  // tie: 1 and 1
    const uint32_t one[1] = {5}, oneRef[1] = {2};
    EXPECT_FALSE(BuildRowResiduals32(predicted, plain, one, oneRef, 1));
    EXPECT_EQ(predicted[0], plain[0]);
    const uint32_t row[4] = {1, 5, 2, 8};
    EXPECT_TRUE(BuildRowResiduals32(predicted, plain, row, row, 4));
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(predicted[i], 0u);
    }
    // Two nonzero codes each way.
    const uint32_t tieRow[3] = {0, 1, 1}, tieRef[3] = {1, 1, 2};
    EXPECT_FALSE(BuildRowResiduals32(predicted, plain, tieRow, tieRef, 3));
    // Nothing written for n = 0.
    plain[0] = predicted[0] = 77;
    EXPECT_FALSE(BuildRowResiduals32(predicted, plain, row, row, 0));
    EXPECT_FALSE(BuildRowResiduals16Vec128(predicted, plain, nullptr, nullptr, 0));
    EXPECT_EQ(plain[0], 77u);
    EXPECT_EQ(predicted[0], 77u);
}

// Every form against the scalar reference, for every n, at misaligned addresses.
TEST(RowTransform, AllFormsGiveTheScalarCodes) {
    const bool wide = avx512_supported();
    if (!wide) std::printf("512-bit form not checked: the processor lacks it\n");
    std::mt19937_64 rng(3);
    std::vector<uint32_t> r32(1400), f32(1400);
    std::vector<uint16_t> r16(1400), f16(1400);
    std::vector<uint32_t> p0(1400), q0(1400), p1(1400), q1(1400);
    for (int n = 0; n <= kMaxRowLength; n++) {
        const int shift = n % 7;  // misaligned starts
        for (int kind = 0; kind < 2; kind++) {
            const auto rows32 =
                kind ? solver_rows::strategy_pair(rng, n) : solver_rows::random32(rng, n);
            const auto rows16 =
                kind ? solver_rows::regret_pair(rng, n) : solver_rows::random16(rng, n);
            std::copy(rows32.first.begin(), rows32.first.end(), r32.begin() + shift);
            std::copy(rows32.second.begin(), rows32.second.end(), f32.begin() + shift);
            std::copy(rows16.first.begin(), rows16.first.end(), r16.begin() + shift);
            std::copy(rows16.second.begin(), rows16.second.end(), f16.begin() + shift);
            for (int withRef = 0; withRef < 2; withRef++) {
                const uint32_t* ref32 = withRef ? f32.data() + shift : nullptr;
                const uint16_t* ref16 = withRef ? f16.data() + shift : nullptr;
                const bool t0 =
                    BuildRowResiduals32Scalar(q0.data(), p0.data(), r32.data() + shift, ref32, n);
                const bool t1 = BuildRowResiduals32Vec128(q1.data() + 1, p1.data() + 1,
                                                          r32.data() + shift, ref32, n);
                ASSERT_EQ(t0, t1) << n;
                ASSERT_TRUE(std::equal(p0.begin(), p0.begin() + n, p1.begin() + 1)) << n;
                ASSERT_TRUE(!withRef || std::equal(q0.begin(), q0.begin() + n, q1.begin() + 1))
                    << n;
                const bool t2 = BuildRowResiduals32Vec256(q1.data() + 2, p1.data() + 2,
                                                          r32.data() + shift, ref32, n);
                ASSERT_EQ(t0, t2) << n;
                ASSERT_TRUE(std::equal(p0.begin(), p0.begin() + n, p1.begin() + 2)) << n;
                ASSERT_TRUE(!withRef || std::equal(q0.begin(), q0.begin() + n, q1.begin() + 2))
                    << n;

                const bool s0 =
                    BuildRowResiduals16Scalar(q0.data(), p0.data(), r16.data() + shift, ref16, n);
                const bool s1 = BuildRowResiduals16Vec128(q1.data() + 3, p1.data() + 3,
                                                          r16.data() + shift, ref16, n);
                ASSERT_EQ(s0, s1) << n;
                ASSERT_TRUE(std::equal(p0.begin(), p0.begin() + n, p1.begin() + 3)) << n;
                ASSERT_TRUE(!withRef || std::equal(q0.begin(), q0.begin() + n, q1.begin() + 3))
                    << n;
                const bool s3 = BuildRowResiduals16Vec256(q1.data() + 5, p1.data() + 5,
                                                          r16.data() + shift, ref16, n);
                ASSERT_EQ(s0, s3) << n;
                ASSERT_TRUE(std::equal(p0.begin(), p0.begin() + n, p1.begin() + 5)) << n;
                ASSERT_TRUE(!withRef || std::equal(q0.begin(), q0.begin() + n, q1.begin() + 5))
                    << n;
                if (wide) {
                    const bool s2 = BuildRowResiduals16Vec512(q1.data() + 1, p1.data() + 1,
                                                              r16.data() + shift, ref16, n);
                    ASSERT_EQ(s0, s2) << n;
                    ASSERT_TRUE(std::equal(p0.begin(), p0.begin() + n, p1.begin() + 1)) << n;
                    ASSERT_TRUE(!withRef || std::equal(q0.begin(), q0.begin() + n, q1.begin() + 1))
                        << n;
                }
            }
        }
    }
}

TEST(RowTransform, WideFormOnlyWhereTheProcessorHasIt) {
    // The switch alone never selects the 512-bit form; both settings give the same codes.
    std::mt19937_64 rng(4);
    const auto rows = solver_rows::regret_pair(rng, 1000);
    std::vector<uint32_t> p0(1000), q0(1000), p1(1000), q1(1000);
    const bool t0 =
        BuildRowResiduals16(q0.data(), p0.data(), rows.first.data(), rows.second.data(), 1000);
    avx512_enabled.store(1);
    EXPECT_EQ(avx512_usable(), avx512_supported());
    const bool t1 =
        BuildRowResiduals16(q1.data(), p1.data(), rows.first.data(), rows.second.data(), 1000);
    avx512_enabled.store(0);
    EXPECT_EQ(t0, t1);
    EXPECT_EQ(p0, p1);
    EXPECT_EQ(q0, q1);
}

TEST(RowFunctions, RowsAboveTheLimitEndTheProcess) {
    MemoryStreams ms;
    CompressionStats stats{};
    CompressorInterface* c =
        MakeCompressor(kFSECoder, nullptr, nullptr, MemoryStreams::write, &ms, &stats);
    std::vector<uint32_t> row(1327, 1);
    CompressRow32(c, row.data(), nullptr, 1326);  // the largest row is accepted
    EXPECT_EQ(stats.rows, 1);
    const ChildResult r = run_in_child([&] { CompressRow32(c, row.data(), nullptr, 1327); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "fail\n");
    std::vector<uint16_t> row16(1327, 1);
    EXPECT_EQ(run_in_child([&] { CompressRow16(c, row16.data(), nullptr, 1327); }).status, 1);
    DeleteCompressor(c);
    DecompressorInterface* d = MakeDecompressor(MemoryStreams::read, &ms, throwing_report);
    ASSERT_NE(d, nullptr);
    const ChildResult r2 = run_in_child([&] { DecompressRow32(d, row.data(), nullptr, 1327); });
    EXPECT_EQ(r2.status, 1);
    EXPECT_EQ(r2.out, "fail\n");
    DeleteDecompressor(d);
}

TEST(RowFunctions, UnknownKindsGiveNull) {
    for (int kind : {3, 255}) {
        MemoryStreams ms;
        CompressionStats stats{};
        EXPECT_EQ(MakeCompressor(kind, nullptr, nullptr, MemoryStreams::write, &ms, &stats),
                  nullptr);
        ASSERT_EQ(ms.streams[0].size(), 1u);
        EXPECT_EQ(ms.streams[0][0], kind);
        EXPECT_EQ(ms.total(), 1u);
        EXPECT_EQ(MakeDecompressor(MemoryStreams::read, &ms, throwing_report), nullptr);
    }
    DeleteCompressor(nullptr);
    DeleteDecompressor(nullptr);
}

}  // namespace
