// The slow saved-row reader over blocks of 24 {u64 length, bytes} pairs: round trips through
// every coder kind, and the damaged blocks that must end in IOException.
#include "compression/saved_row_reader.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

#include "memory_streams.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put_u64(Bytes& out, uint64_t v) {
    for (int i = 0; i < 8; i++) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Bytes saved_block(const MemoryStreams& ms) {
    Bytes out;
    for (const Bytes& s : ms.streams) {
        put_u64(out, s.size());
        out.insert(out.end(), s.begin(), s.end());
    }
    return out;
}

// Rows of varying n (0 and negative included) coded as one pass of the given kind.
struct RowSet {
    std::vector<std::vector<uint32_t>> rows32;
    std::vector<std::vector<uint16_t>> rows16;
    std::vector<uint32_t> ref32 = std::vector<uint32_t>(kMaxRowLength);
    std::vector<uint16_t> ref16 = std::vector<uint16_t>(kMaxRowLength);
    MemoryStreams ms;

    explicit RowSet(int kind) {
        std::mt19937 rng(kind + 11);
        for (auto& v : ref32) v = rng();
        for (auto& v : ref16) v = static_cast<uint16_t>(rng());
        CompressionStats stats{};
        CompressorInterface* c =
            MakeCompressor(kind, nullptr, nullptr, MemoryStreams::write, &ms, &stats);
        for (int r = 0; r < 12; r++) {
            const int n = r == 0 ? 0 : r == 1 ? kMaxRowLength : static_cast<int>(rng() % 400);
            std::vector<uint32_t> a(n);
            std::vector<uint16_t> b(n);
            for (int i = 0; i < n; i++) {
                a[i] = ref32[i] + (rng() % 5 == 0 ? rng() % 1000 : 0);
                b[i] = static_cast<uint16_t>(ref16[i] + rng() % 3);
            }
            if (n > 0) {  // rows of no values are neither written nor read
                CompressRow32(c, a.data(), r % 2 ? ref32.data() : nullptr, n);
                CompressRow16(c, b.data(), r % 2 ? ref16.data() : nullptr, n);
            }
            rows32.push_back(a);
            rows16.push_back(b);
        }
        DeleteCompressor(c);
    }
    void readAll(SaveDecompressor& d) {
        for (size_t r = 0; r < rows32.size(); r++) {
            const int n = static_cast<int>(rows32[r].size());
            std::vector<uint32_t> a(n + 1, 77);
            std::vector<uint16_t> b(n + 1, 77);
            d.readRow(a.data(), r % 2 ? ref32.data() : nullptr, n);
            d.readRow16(b.data(), r % 2 ? ref16.data() : nullptr, n);
            if (n == 0) d.readRow(a.data(), nullptr, -5);
            ASSERT_EQ(std::vector<uint32_t>(a.begin(), a.begin() + n), rows32[r]);
            ASSERT_EQ(std::vector<uint16_t>(b.begin(), b.begin() + n), rows16[r]);
            ASSERT_EQ(a[n], 77u);
            ASSERT_EQ(b[n], 77u);
        }
    }
};

TEST(SlowSaveDecompressor, RoundTripsAndDamage) {
    struct Case {
        const char* name;
        int kind;
        std::function<void(Bytes&)> damage;  // null: a good block
        const char* error;                   // at construction or while reading rows
    };
    // Offsets in a saved block: length 0 at 0, then sub-stream 0 from byte 8.
    const Case cases[] = {
        {"range", kRangeCoder, nullptr, nullptr},
        {"fast", kFastCoder, nullptr, nullptr},
        {"FSE", kFSECoder, nullptr, nullptr},
        {"kind byte 3", kFastCoder, [](Bytes& b) { b[8] = 3; }, "invalid file (compressed block)"},
        {"wrong magic", kRangeCoder, [](Bytes& b) { b[9 + 3] = 's'; },
         "invalid file (compressed block)"},
        {"range stream cut", kRangeCoder,
         [](Bytes& b) {
             const Bytes tail(b.begin() + 8 + 2060 + 100, b.end());
             b.resize(8 + 2060);
             b[0] = 2060 & 0xFF;
             b[1] = 2060 >> 8;
             b.insert(b.end(), tail.end() - 23 * 8, tail.end());  // 23 empty sub-streams
         },
         "invalid file (compressed block)"},
        {"fast bit stream missing", kFastCoder,
         [](Bytes& b) {
             // Sub-stream 0 holds the kind byte and whole 256-byte blocks; empty sub-stream 1.
             uint64_t l0 = 0;
             std::memcpy(&l0, b.data(), 8);
             uint64_t l1 = 0;
             std::memcpy(&l1, b.data() + 8 + l0, 8);
             b.erase(b.begin() + 8 + l0 + 8, b.begin() + 8 + l0 + 8 + l1);
             std::memset(b.data() + 8 + l0, 0, 8);
         },
         "invalid file (compressed block)"},
        {"FSE block corrupt", kFSECoder, [](Bytes& b) { b[9] = 0; },  // rawCount 0 in the tags
         "invalid file (compressed block)"},
        {"empty sub-stream 0", kFastCoder, [](Bytes& b) { b = Bytes(24 * 8, 0); },
         "invalid file (compressed block)"},
        {"length beyond the data", kFastCoder,
         [](Bytes& b) {
             b = Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x3F, 1});
         },
         "can't read from memory (end of data)"},
        {"cut in a length", kFastCoder, [](Bytes& b) { b.resize(8 + 1 + 4); },
         "can't read from memory (end of data)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RowSet set(c.kind);
        Bytes block = saved_block(set.ms);
        if (c.damage) c.damage(block);
        MemoryReader in(block);
        try {
            SlowSaveDecompressor d(in);
            set.readAll(d);
            EXPECT_EQ(c.error, nullptr);
            EXPECT_EQ(in.remaining(), 0u);
        } catch (const IOException& e) {
            ASSERT_NE(c.error, nullptr) << e.message();
            EXPECT_EQ(e.message(), c.error);
        }
    }
}

TEST(SlowSaveDecompressor, ZeroLengthsAndRowsOfNoValues) {
    // A fast pass with only empty rows: sub-stream 0 is the kind byte alone.
    Bytes block;
    put_u64(block, 1);
    block.push_back(kFastCoder);
    for (int k = 1; k < 24; k++) put_u64(block, 0);
    block.push_back(0xAB);  // the next field of the file stays unread
    MemoryReader in(block);
    SlowSaveDecompressor d(in);
    uint32_t out = 5;
    d.readRow(&out, nullptr, 0);
    EXPECT_EQ(out, 5u);
    EXPECT_EQ(in.remaining(), 1u);
    EXPECT_THROW(d.readRow(&out, nullptr, 1), IOException);  // its tag bit has no block
}

}  // namespace
