#include "storage/row_packing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kUntouched = 0xA5;

// Packs into room beyond the bound and checks that nothing past the returned end was written.
template <class T, class Packer>
Bytes PackChecked(const std::vector<T>& row, int64_t bound, Packer pack) {
    Bytes out(size_t(bound) + 1, kUntouched);
    const uint8_t* end = pack(out.data(), row.data(), int32_t(row.size()));
    for (size_t i = size_t(end - out.data()); i < out.size(); ++i) {
        EXPECT_EQ(out[i], kUntouched) << "byte " << i << " past the end of " << row.size();
    }
    out.resize(size_t(end - out.data()));
    return out;
}

Bytes Pack16(const std::vector<uint16_t>& row) {
    return PackChecked(row, PackedRow16Bound(int32_t(row.size())), PackRow16);
}

Bytes Pack32(const std::vector<uint32_t>& row) {
    return PackChecked(row, PackedRow32Bound(int32_t(row.size())), PackRow32);
}

// Values at every code and flag boundary of both widths, with many zeros, so groups of every
// code and tails of every flag appear.
template <class T>
std::vector<T> BoundaryRow(std::mt19937& rng, int n, bool wide) {
    static const uint32_t k16[] = {0, 1, 255, 256, 4095, 4096, 65535};
    static const uint32_t k32[] = {0, 1, 255, 256, 4095, 4096, 65535, 65536, 2147483647u};
    std::vector<T> row(static_cast<size_t>(n));
    const uint32_t* table = wide ? k32 : k16;
    const int kinds = wide ? 9 : 7;
    // Each group of 8 draws from a narrow range so group codes vary across the row.
    for (int g = 0; g < n; g += 8) {
        const int top = int(rng() % uint32_t(kinds));
        for (int i = g; i < g + 8 && i < n; ++i) {
            row[size_t(i)] = rng() % 3 == 0 ? T(0) : T(table[rng() % uint32_t(top + 1)]);
        }
    }
    return row;
}

TEST(RowPacking, KnownBytes) {
    EXPECT_EQ(Pack16({0, 5, 300}), (Bytes{0x03, 0x00, 0x00, 0x05, 0x00, 0x2C, 0x01}));

    // The eight values 256, 1, 0 ... form a code-2 group: bits 8 and 12 of the 96-bit field.
    std::vector<uint16_t> twelve(32, 0);
    twelve[0] = 256;
    twelve[1] = 1;
    EXPECT_EQ(Pack16(twelve), (Bytes{0x02, 0x00, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    Bytes ones{0x55};
    ones.insert(ones.end(), 32, 0x01);
    EXPECT_EQ(Pack16(std::vector<uint16_t>(32, 1)), ones);
    EXPECT_EQ(Pack32(std::vector<uint32_t>(32, 1)), ones);
    EXPECT_EQ(Pack16(std::vector<uint16_t>(32, 0)), Bytes{0x00});
    EXPECT_EQ(Pack32(std::vector<uint32_t>(32, 0)), Bytes{0x00});

    // n = 31: no header, three flagged groups of 8 and one of 7.
    EXPECT_EQ(Pack16(std::vector<uint16_t>(31, 0)).size(), 4u + 31u);
    // A tail group of zeros still gets flag 1 and a byte per value.
    EXPECT_EQ(Pack16({0, 0}), (Bytes{0x01, 0x00, 0x00}));
    // 32-bit tail flags: the OR rule.
    EXPECT_EQ(Pack32({300, 65536}), (Bytes{0x03, 0x2C, 0x01, 0, 0, 0x00, 0x00, 0x01, 0x00}));
    EXPECT_EQ(Pack32({65536}), (Bytes{0x02, 0x00, 0x00, 0x01, 0x00}));
    EXPECT_EQ(Pack32({256}), (Bytes{0x01, 0x00, 0x01}));
    EXPECT_EQ(Pack32({255}), (Bytes{0x00, 0xFF}));
}

TEST(RowPacking, GroupWidthsAtBoundaries) {
    auto group16 = [](uint16_t top) {
        std::vector<uint16_t> row(32, 0);
        row[3] = top;
        return Pack16(row).size() - 1;
    };
    EXPECT_EQ(group16(255), 8u);
    EXPECT_EQ(group16(256), 12u);
    EXPECT_EQ(group16(4095), 12u);
    EXPECT_EQ(group16(4096), 16u);
    auto group32 = [](uint32_t top) {
        std::vector<uint32_t> row(32, 0);
        row[9] = top;
        return Pack32(row).size() - 1;
    };
    EXPECT_EQ(group32(255), 8u);
    EXPECT_EQ(group32(256), 16u);
    EXPECT_EQ(group32(65535), 16u);
    EXPECT_EQ(group32(65536), 32u);
    EXPECT_EQ(group32(0x80000000u), 32u);
}

TEST(RowPacking, EmptyRowsTouchNothing) {
    uint8_t buffer[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    uint16_t v16 = 7;
    uint32_t v32 = 7;
    for (int32_t n : {0, -1, -100}) {
        EXPECT_EQ(PackRow16(buffer, &v16, n), buffer);
        EXPECT_EQ(PackRow32(buffer, &v32, n), buffer);
        EXPECT_EQ(UnpackRow16(&v16, n, buffer), buffer);
        EXPECT_EQ(UnpackRow32(&v32, n, buffer), buffer);
        EXPECT_EQ(UnpackRow16Checked(&v16, n, buffer, buffer), buffer);
        EXPECT_EQ(UnpackRow32Checked(&v32, n, buffer, buffer), buffer);
        EXPECT_EQ(PackedRow16Bound(n), 0);
    }
    EXPECT_EQ(buffer[0], 0xAA);
    EXPECT_EQ(v16, 7);
    EXPECT_EQ(v32, 7u);
}

// Every n from 0 to 1400: vector bytes equal the reference's, both decoders give the values back
// and consume exactly the produced bytes, which stay within the room bound. The decoders read
// from a buffer of exactly the packed size, so the sanitizer sees any read past the row.
TEST(RowPacking, RoundTripsEveryLength) {
    std::mt19937 rng(12345);
    for (int n = 0; n <= 1400; ++n) {
        {
            const auto row = BoundaryRow<uint16_t>(rng, n, false);
            const Bytes packed = Pack16(row);
            Bytes reference(size_t(PackedRow16Bound(n)) + 1);
            const size_t refLength =
                size_t(PackRow16Reference(reference.data(), row.data(), n) - reference.data());
            reference.resize(refLength);
            ASSERT_EQ(packed, reference) << "n=" << n;
            ASSERT_LE(int64_t(packed.size()), PackedRow16Bound(n));

            auto exact = std::make_unique<uint8_t[]>(packed.size() + (packed.empty() ? 1 : 0));
            std::copy(packed.begin(), packed.end(), exact.get());
            std::vector<uint16_t> back(size_t(n) + 1, 0xBEEF);
            ASSERT_EQ(UnpackRow16(back.data(), n, exact.get()), exact.get() + packed.size());
            ASSERT_TRUE(std::equal(row.begin(), row.end(), back.begin())) << "n=" << n;
            ASSERT_EQ(back[size_t(n)], 0xBEEF);
            std::fill(back.begin(), back.end(), 0xBEEF);
            ASSERT_EQ(UnpackRow16Checked(back.data(), n, exact.get(), exact.get() + packed.size()),
                      exact.get() + packed.size());
            ASSERT_TRUE(std::equal(row.begin(), row.end(), back.begin())) << "n=" << n;
        }
        {
            const auto row = BoundaryRow<uint32_t>(rng, n, true);
            const Bytes packed = Pack32(row);
            Bytes reference(size_t(PackedRow32Bound(n)) + 1);
            const size_t refLength =
                size_t(PackRow32Reference(reference.data(), row.data(), n) - reference.data());
            reference.resize(refLength);
            ASSERT_EQ(packed, reference) << "n=" << n;
            ASSERT_LE(int64_t(packed.size()), PackedRow32Bound(n));

            auto exact = std::make_unique<uint8_t[]>(packed.size() + (packed.empty() ? 1 : 0));
            std::copy(packed.begin(), packed.end(), exact.get());
            std::vector<uint32_t> back(size_t(n) + 1, 0xDEADBEEF);
            ASSERT_EQ(UnpackRow32(back.data(), n, exact.get()), exact.get() + packed.size());
            ASSERT_TRUE(std::equal(row.begin(), row.end(), back.begin())) << "n=" << n;
            ASSERT_EQ(back[size_t(n)], 0xDEADBEEFu);
            ASSERT_EQ(UnpackRow32Checked(back.data(), n, exact.get(), exact.get() + packed.size()),
                      exact.get() + packed.size());
            ASSERT_TRUE(std::equal(row.begin(), row.end(), back.begin())) << "n=" << n;
        }
    }
}

// The bound is reached: the worst rows fill it exactly.
TEST(RowPacking, WorstCaseRowsFillTheBound) {
    for (int n : {1, 7, 8, 31, 32, 33, 1081, 1326}) {
        EXPECT_EQ(int64_t(Pack16(std::vector<uint16_t>(size_t(n), 65535)).size()),
                  PackedRow16Bound(n));
        EXPECT_EQ(int64_t(Pack32(std::vector<uint32_t>(size_t(n), 70000)).size()),
                  PackedRow32Bound(n));
    }
}

// Every truncation of a packed row is refused, from a buffer that ends exactly at the cut.
TEST(RowPacking, CheckedDecoderRefusesTruncation) {
    std::mt19937 rng(99);
    for (int n : {1, 5, 8, 9, 31, 32, 33, 64, 70, 100, 257}) {
        for (int trial = 0; trial < 3; ++trial) {
            const auto row16 = BoundaryRow<uint16_t>(rng, n, false);
            const auto row32 = BoundaryRow<uint32_t>(rng, n, true);
            const Bytes p16 = Pack16(row16);
            const Bytes p32 = Pack32(row32);
            std::vector<uint16_t> out16(static_cast<size_t>(n));
            std::vector<uint32_t> out32(static_cast<size_t>(n));
            for (size_t cut = 0; cut < p16.size(); ++cut) {
                auto part = std::make_unique<uint8_t[]>(cut + 1);
                std::copy(p16.begin(), p16.begin() + long(cut), part.get());
                ASSERT_EQ(UnpackRow16Checked(out16.data(), n, part.get(), part.get() + cut),
                          nullptr)
                    << "n=" << n << " cut=" << cut;
            }
            for (size_t cut = 0; cut < p32.size(); ++cut) {
                auto part = std::make_unique<uint8_t[]>(cut + 1);
                std::copy(p32.begin(), p32.begin() + long(cut), part.get());
                ASSERT_EQ(UnpackRow32Checked(out32.data(), n, part.get(), part.get() + cut),
                          nullptr)
                    << "n=" << n << " cut=" << cut;
            }
        }
    }
}

// Arbitrary bytes never make the checked decoder read past the end; when it accepts, it says
// how many bytes it took, and the 16-bit reader takes any tail flag but 1 as u16.
TEST(RowPacking, CheckedDecoderOnGarbage) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 2000; ++trial) {
        const int n = int(rng() % 200);
        const size_t length = rng() % 600;
        auto bytes = std::make_unique<uint8_t[]>(length + 1);
        for (size_t i = 0; i < length; ++i) bytes[i] = uint8_t(rng());
        std::vector<uint16_t> out16(static_cast<size_t>(n));
        std::vector<uint32_t> out32(static_cast<size_t>(n));
        const uint8_t* end = bytes.get() + length;
        const uint8_t* r16 = UnpackRow16Checked(out16.data(), n, bytes.get(), end);
        const uint8_t* r32 = UnpackRow32Checked(out32.data(), n, bytes.get(), end);
        if (r16 != nullptr) {
            ASSERT_LE(r16, end);
        }
        if (r32 != nullptr) {
            ASSERT_LE(r32, end);
        }
    }
    const uint8_t flag7[] = {0x07, 0x34, 0x12};
    uint16_t v = 0;
    EXPECT_EQ(UnpackRow16Checked(&v, 1, flag7, flag7 + 3), flag7 + 3);
    EXPECT_EQ(v, 0x1234);
}

}  // namespace
