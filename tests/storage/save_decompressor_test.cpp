#include "storage/save_decompressor.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "storage/row_packing.h"

namespace {

void WriteStored16(MemoryWriter& out, const std::vector<uint16_t>& row) {
    std::vector<uint8_t> packed(size_t(PackedRow16Bound(int32_t(row.size()))) + 1);
    const auto length =
        int16_t(PackRow16(packed.data(), row.data(), int32_t(row.size())) - packed.data());
    WriteValue(out, length);
    out.write(packed.data(), size_t(length));
}

void WriteStored32(MemoryWriter& out, const std::vector<uint32_t>& row) {
    std::vector<uint8_t> packed(size_t(PackedRow32Bound(int32_t(row.size()))) + 1);
    const auto length =
        int16_t(PackRow32(packed.data(), row.data(), int32_t(row.size())) - packed.data());
    WriteValue(out, length);
    out.write(packed.data(), size_t(length));
}

TEST(FastSaveDecompressor, ReadsStoredRowsInOrder) {
    std::mt19937 rng(5);
    std::vector<std::vector<uint16_t>> narrow;
    std::vector<std::vector<uint32_t>> wide;
    MemoryWriter out;
    for (int i = 0; i < 20; ++i) {
        const int n = 1 + int(rng() % 1326);
        std::vector<uint16_t> a(static_cast<size_t>(n));
        std::vector<uint32_t> b(static_cast<size_t>(n));
        for (auto& v : a) v = uint16_t(rng());
        for (auto& v : b) v = rng() % 3 ? rng() >> 1 : 0;
        WriteStored16(out, a);
        WriteStored32(out, b);
        narrow.push_back(a);
        wide.push_back(b);
    }
    MemoryReader in(out.take());
    FastSaveDecompressor reader(&in);
    for (size_t i = 0; i < narrow.size(); ++i) {
        std::vector<uint16_t> a(narrow[i].size());
        std::vector<uint32_t> b(wide[i].size());
        // n = 0 between rows reads nothing.
        reader.readRow16(nullptr, nullptr, 0);
        reader.readRow16(a.data(), nullptr, int32_t(a.size()));
        reader.readRow(nullptr, nullptr, 0);
        reader.readRow(b.data(), wide[i].data(), int32_t(b.size()));
        ASSERT_EQ(a, narrow[i]);
        ASSERT_EQ(b, wide[i]);
    }
    EXPECT_EQ(in.remaining(), 0u);
}

std::vector<uint8_t> Stored(int16_t b, std::vector<uint8_t> payload) {
    MemoryWriter out;
    WriteValue(out, b);
    out.write(payload.data(), payload.size());
    return out.take();
}

TEST(FastSaveDecompressor, RefusesMalformedRows) {
    std::vector<uint16_t> row16(40);
    std::vector<uint32_t> row32(40);
    auto refuses = [&](const std::vector<uint8_t>& bytes) {
        MemoryReader a(bytes), b(bytes);
        FastSaveDecompressor ra(&a), rb(&b);
        EXPECT_THROW(ra.readRow16(row16.data(), nullptr, 40), IOException);
        EXPECT_THROW(rb.readRow(row32.data(), nullptr, 40), IOException);
    };
    refuses(Stored(30000, std::vector<uint8_t>(30000)));  // above either row buffer
    refuses(Stored(0, {}));                               // no bytes for 40 values
    refuses(Stored(-5, {}));
    refuses(Stored(2, {0x55, 1}));                  // the row needs more than b bytes
    refuses(Stored(40, std::vector<uint8_t>(10)));  // the file ends inside the row

    // A 16-bit row above 4096 bytes is refused, a 32-bit one of that size is read.
    MemoryReader big16(Stored(5000, std::vector<uint8_t>(5000)));
    FastSaveDecompressor r16(&big16);
    EXPECT_THROW(r16.readRow16(row16.data(), nullptr, 40), IOException);
    MemoryReader big32(Stored(5000, std::vector<uint8_t>(5000)));
    FastSaveDecompressor r32(&big32);
    EXPECT_NO_THROW(r32.readRow(row32.data(), nullptr, 40));

    // n = 0 reads no bytes at all, even a bad count.
    MemoryReader untouched(Stored(-1, {}));
    FastSaveDecompressor none(&untouched);
    none.readRow16(row16.data(), nullptr, 0);
    none.readRow(row32.data(), nullptr, -3);
    EXPECT_EQ(untouched.position(), 0u);
}

}  // namespace
