// The range (kind 0) and fast (kind 1) row coders: exact bytes of the format's edge cases,
// split trees checked structurally, round trips, hostile count tables and damaged streams.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <random>
#include <vector>

#include "compression/fast_coder.h"
#include "compression/range_coder.h"
#include "memory_streams.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Pass {
    MemoryStreams ms;
    CompressionStats stats{};
    CompressorInterface* coder;
    Pass(int kind, const uint64_t* counts = nullptr, uint64_t* countsOut = nullptr) {
        coder = MakeCompressor(kind, counts, countsOut, MemoryStreams::write, &ms, &stats);
    }
    ~Pass() { finish(); }
    void finish() {
        DeleteCompressor(coder);
        coder = nullptr;
    }
    void codes(std::vector<uint32_t> z, uint32_t tag = 0) {
        coder->compress(z.data(), static_cast<int32_t>(z.size()), tag);
    }
};

// Walks the split tree from the root over [0, 1024), checking that every record is used once,
// the left child follows its parent, two-symbol ranges split at lo + 1 with right 0; returns
// each symbol's depth and the root split.
std::vector<int> symbol_depths(const SplitNode* tree) {
    std::vector<int> depth(kRangeSymbols, -1);
    std::vector<int> used(kRangeTreeNodes, 0);
    std::function<void(int, int, int, int)> walk = [&](int node, int lo, int hi, int d) {
        if (hi - lo == 1) {
            depth[lo] = d;
            return;
        }
        ASSERT_GE(node, 0);
        ASSERT_LT(node, kRangeTreeNodes);
        used[node]++;
        const SplitNode r = tree[node];
        ASSERT_GT(r.split, lo);
        ASSERT_LT(r.split, hi);
        if (hi - lo == 2) {
            EXPECT_EQ(r.right, 0);
        }
        walk(node + 1, lo, r.split, d + 1);
        walk(r.right, r.split, hi, d + 1);
    };
    walk(0, 0, kRangeSymbols, 0);
    for (int u : used) EXPECT_EQ(u, 1);
    return depth;
}

TEST(RangeCoder, SplitTrees) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, int64_t>> counts;  // symbol, count; null table when empty
        int rootSplit;
        bool balanced;  // every symbol 10 decisions deep
    };
    const Case cases[] = {
        {"null table", {}, 512, true},
        {"all zero", {{0, 0}}, 512, true},
        {"negative sum", {{3, -5}, {7, 2}}, 512, true},
        {"all on symbol 0", {{0, 1000}}, 1, false},
        {"weight at 254", {{254, 1000}}, 255, false},
        {"weight above 255 ignored", {{255, 1000}, {100, 1}}, 255, false},
        {"weight split evenly", {{10, 5}, {20, 5}}, 11, false},
        // Hostile tables sum with wraparound: a sum that wraps to zero or below is halved.
        {"INT64_MAX", {{0, INT64_MAX}}, 1, false},
        {"INT64_MAX twice", {{5, INT64_MAX}, {9, INT64_MAX}}, 512, true},
        {"INT64_MIN", {{0, INT64_MIN}, {1, 1}}, 512, true},
        {"extremes mixed", {{0, INT64_MAX}, {1, INT64_MIN}, {2, INT64_MAX}, {200, -1}}, 1, false},
        {"all INT64_MAX", {{-1, INT64_MAX}}, 512, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int64_t> counts(256, 0);
        for (auto [s, v] : c.counts) {
            if (s < 0) {
                std::fill(counts.begin(), counts.end(), v);
            } else {
                counts[s] = v;
            }
        }
        SplitNode tree[kRangeSymbols] = {};
        CreateOptimalTree(tree, c.counts.empty() ? nullptr : counts.data());
        const std::vector<int> depth = symbol_depths(tree);
        for (int d : depth) EXPECT_GT(d, 0);
        EXPECT_EQ(tree[0].split, c.rootSplit);
        for (int d : depth) {
            if (c.balanced) {
                EXPECT_EQ(d, 10);
            }
        }
    }
}

// Exact bytes: what the streams hold after the pass (sub-stream 0 without its kind byte).
TEST(RowCoders, ExactBytes) {
    struct Case {
        const char* name;
        int kind;
        std::function<void(Pass&)> rows;
        std::function<void(const MemoryStreams&)> check;
    };
    auto block = [](std::initializer_list<uint8_t> head) {
        Bytes b(256, 0);
        std::copy(head.begin(), head.end(), b.begin());
        return b;
    };
    auto stream0 = [](const MemoryStreams& ms) {
        return Bytes(ms.streams[0].begin() + 1, ms.streams[0].end());
    };
    const Case cases[] = {
        {"range: no rows", kRangeCoder, [](Pass&) {},
         [&](const MemoryStreams& ms) {
             ASSERT_EQ(ms.streams[0].size(), 1u + 4 + 2048 + 5);
             EXPECT_EQ(ms.streams[0][0], 0);
             EXPECT_EQ(Bytes(ms.streams[0].begin() + 1, ms.streams[0].begin() + 5),
                       Bytes({'C', 'm', 'p', 'r'}));
             EXPECT_EQ(ms.streams[0][1 + 4 + 2048], 0);
             for (int s = 1; s < 24; s++) EXPECT_TRUE(ms.streams[s].empty());
         }},
        // Three rows of one context sequence (the later rows code with the probabilities the
        // earlier ones adapted), then a zero group before a nonzero code.
        {"range: rows of ones, a zero group", kRangeCoder,
         [](Pass& p) {
             for (int r = 0; r < 3; r++) p.codes(std::vector<uint32_t>(16, 1));
             std::vector<uint32_t> row(17, 0);
             row[16] = 1;
             p.codes(row);
         },
         [&](const MemoryStreams& ms) {
             EXPECT_EQ(Bytes(ms.streams[0].begin() + 1 + 4 + 2048, ms.streams[0].end()),
                       Bytes({0x00, 0x60, 0x03, 0xFC, 0x80, 0x1D, 0x61, 0x5B, 0x0C, 0xEF, 0x8F,
                              0x8E, 0xD7, 0x52, 0x22, 0x12, 0x39, 0xDF, 0x97, 0x19, 0xCE, 0x79,
                              0x33, 0x7D, 0xA2, 0x42, 0x40, 0x82, 0xF7, 0xCB, 0xD1, 0x00}));
         }},
        {"fast: eight zeros, tag 0", kFastCoder, [](Pass& p) { p.codes(std::vector<uint32_t>(8)); },
         [&](const MemoryStreams& ms) {
             EXPECT_EQ(ms.streams[1], block({0}));
             EXPECT_TRUE(stream0(ms).empty());
             EXPECT_TRUE(ms.streams[2].empty());
         }},
        {"fast: nine codes, tag 1", kFastCoder,
         [](Pass& p) {
             p.codes({0, 0, 0, 0, 0, 0, 0, 0, 3}, 1);
         },
         [&](const MemoryStreams& ms) {
             // tag 1, group 0, group 1, flag 1
             EXPECT_EQ(ms.streams[1], block({0b1101}));
             EXPECT_EQ(ms.streams[2], block({2}));
         }},
        {"fast: value codes", kFastCoder,
         [](Pass& p) {
             p.codes({15, 16, 255, 256, 65535, 65536, 0xFFFFFFFF});
         },
         [&](const MemoryStreams& ms) {
             // b = 14 | 15 | 254 | 255 | 65534 | 65535 | 0xFFFFFFFE
             EXPECT_EQ(ms.streams[2], block({0xFE, 0xFF, 0xFF, 0x0F}));
             EXPECT_EQ(stream0(ms),
                       block({15,   254,  0xFF, 0xFF, 0x00, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF,
                              0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF}));
             EXPECT_EQ(ms.streams[1], block({0xFE, 0x01}));  // tag 0, group 1, seven flags 1
         }},
        {"fast: u16 across a block", kFastCoder,
         [](Pass& p) {
             std::vector<uint32_t> row(254, 21);
             row.push_back(301);  // b = 300 = 0x12C: 0xFF at byte 254, 0x2C at 255, 0x01 next
             p.codes(row);
         },
         [&](const MemoryStreams& ms) {
             const Bytes s = stream0(ms);
             ASSERT_EQ(s.size(), 512u);
             EXPECT_EQ(s[253], 20);
             EXPECT_EQ(s[254], 0xFF);
             EXPECT_EQ(s[255], 0x2C);
             EXPECT_EQ(s[256], 0x01);
             EXPECT_EQ(s[257], 0);
         }},
        {"fast: u32 across a block", kFastCoder,
         [](Pass& p) {
             std::vector<uint32_t> row(252, 21);
             row.push_back(0x01020305);  // 0xFF, 0xFF 0xFF at 253-254, b at 255 and on
             p.codes(row);
         },
         [&](const MemoryStreams& ms) {
             const Bytes s = stream0(ms);
             ASSERT_EQ(s.size(), 512u);
             EXPECT_EQ(Bytes(s.begin() + 252, s.begin() + 259),
                       Bytes({0xFF, 0xFF, 0xFF, 0x04, 0x03, 0x02, 0x01}));
         }},
        {"fast: 2048 bits flush at once", kFastCoder,
         [](Pass& p) {
             for (int i = 0; i < 1024; i++) p.codes(std::vector<uint32_t>(8));
             EXPECT_EQ(p.ms.streams[1].size(), 256u);
         },
         [&](const MemoryStreams& ms) { EXPECT_EQ(ms.streams[1], Bytes(256, 0)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pass p(c.kind);
        ASSERT_NE(p.coder, nullptr);
        c.rows(p);
        p.finish();
        EXPECT_EQ(p.ms.streams[0][0], c.kind);
        c.check(p.ms);
    }
}

// What a decoder must return, from the rows as written.
template <typename T>
void round_trip(int kind, const std::vector<std::vector<T>>& rows, bool withRef,
                const uint64_t* counts) {
    Pass p(kind, counts);
    std::vector<T> ref(kMaxRowLength);
    std::mt19937 rng(7);
    for (T& v : ref) v = static_cast<T>(rng());
    for (const auto& row : rows) {
        const int32_t n = static_cast<int32_t>(row.size());
        if constexpr (sizeof(T) == 4)
            CompressRow32(p.coder, row.data(), withRef ? ref.data() : nullptr, n);
        else
            CompressRow16(p.coder, row.data(), withRef ? ref.data() : nullptr, n);
    }
    p.finish();
    DecompressorInterface* d = MakeDecompressor(MemoryStreams::read, &p.ms, throwing_report);
    ASSERT_NE(d, nullptr);
    for (const auto& row : rows) {
        const int32_t n = static_cast<int32_t>(row.size());
        std::vector<T> out(row.size() + 1, static_cast<T>(0x5A5A5A5A));
        if constexpr (sizeof(T) == 4)
            DecompressRow32(d, out.data(), withRef ? ref.data() : nullptr, n);
        else
            DecompressRow16(d, out.data(), withRef ? ref.data() : nullptr, n);
        ASSERT_EQ(std::vector<T>(out.begin(), out.begin() + n), row);
        ASSERT_EQ(out[n], static_cast<T>(0x5A5A5A5A));  // nothing past the row
    }
    DeleteDecompressor(d);
    for (int s = 0; s < 24; s++) EXPECT_EQ(p.ms.positions[s], p.ms.streams[s].size()) << s;
}

template <typename T>
std::vector<std::vector<T>> sample_rows(uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::vector<T>> rows;
    const uint32_t spreads[] = {0, 1, 7, 40, 300, 70000, 0xFFFFFFFF};
    for (int r = 0; r < 60; r++) {
        const int32_t n = r == 0 ? 0 : r == 1 ? kMaxRowLength : static_cast<int32_t>(rng() % 1327);
        const uint32_t spread = spreads[rng() % 7];
        std::vector<T> row(n);
        uint32_t v = rng();
        for (T& x : row) {
            if (rng() % 3 == 0) v += spread ? rng() % spread - spread / 2 : 0;
            x = static_cast<T>(v);
        }
        rows.push_back(row);
    }
    // The escapes' edges as lone codes: zz(x) = 2x for x >= 0.
    const uint32_t codes[] = {1022, 1023, 1024, 0x103FF, 0x10400, 0xFFFFFFFF};
    std::vector<T> edges;
    for (uint32_t z : codes) {
        const uint32_t x = (z >> 1) ^ (0u - (z & 1));
        edges.push_back(static_cast<T>((edges.empty() ? 0 : edges.back()) + x));
    }
    rows.push_back(edges);
    return rows;
}

TEST(RowCoders, RoundTrips) {
    std::vector<uint64_t> skewed(256, 0);
    for (int i = 0; i < 256; i++) skewed[i] = 1000u / (i + 1);
    std::vector<uint64_t> hostile(256, static_cast<uint64_t>(INT64_MAX));
    hostile[3] = static_cast<uint64_t>(INT64_MIN);
    const uint64_t* tables[] = {nullptr, skewed.data(), hostile.data()};
    for (int kind : {kRangeCoder, kFastCoder}) {
        for (bool withRef : {false, true}) {
            for (const uint64_t* counts : tables) {
                if (kind == kFastCoder && counts) continue;
                SCOPED_TRACE(testing::Message() << "kind " << kind << " ref " << withRef);
                round_trip<uint32_t>(kind, sample_rows<uint32_t>(1), withRef, counts);
                round_trip<uint16_t>(kind, sample_rows<uint16_t>(2), withRef, counts);
            }
        }
    }
}

TEST(RangeCoder, StatisticsAndCountsOut) {
    std::vector<uint64_t> out(256, 99);
    Pass p(kRangeCoder, nullptr, out.data());
    EXPECT_EQ(out, std::vector<uint64_t>(256, 0));
    p.codes({0, 1023, 1024, 0x10400, 0xFFFFFFFF, 256, 3}, 1);
    std::vector<uint32_t> zeros(17, 0);
    p.coder->compress(zeros.data(), 17, 0);
    p.coder->compress(zeros.data(), 0, 0);  // a row of no values adds no raw bytes
    EXPECT_EQ(out[255], 5u);                // every b >= 255 lands in entry 255
    EXPECT_EQ(out[2], 1u);
    EXPECT_EQ(p.stats.directCodes, 3u);
    EXPECT_EQ(p.stats.escapedCodes, 3u);
    EXPECT_EQ(p.stats.groups, 3u);
    EXPECT_EQ(p.stats.zeroGroups, 2u);
    EXPECT_EQ(p.stats.rows, 3);
    EXPECT_EQ(p.stats.predictedRows, 1u);
    EXPECT_EQ(p.stats.rawBytes, 4u * 24);
    EXPECT_EQ(p.stats.largestEscaped, 0x10400 - 1);  // 0xFFFFFFFE is negative as i32
}

// Damaged streams go to the report (which throws here); nothing leaks or reads out of bounds.
TEST(RowCoders, DamagedStreams) {
    struct Case {
        const char* name;
        int kind;
        std::function<void(MemoryStreams&)> damage;
        bool throwsAtOpen;
    };
    const Case cases[] = {
        {"range: wrong magic", kRangeCoder, [](MemoryStreams& ms) { ms.streams[0][4] = 'R'; },
         true},
        {"range: cut in the count table", kRangeCoder,
         [](MemoryStreams& ms) { ms.streams[0].resize(100); }, true},
        {"range: cut in the coded bytes", kRangeCoder,
         [](MemoryStreams& ms) { ms.streams[0].resize(ms.streams[0].size() / 2); }, false},
        {"fast: no bit block", kFastCoder, [](MemoryStreams& ms) { ms.streams[1].clear(); }, false},
        {"fast: short byte block", kFastCoder, [](MemoryStreams& ms) { ms.streams[0].resize(200); },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::vector<uint32_t>> rows = sample_rows<uint32_t>(3);
        Pass p(c.kind);
        for (const auto& row : rows)
            CompressRow32(p.coder, row.data(), nullptr, static_cast<int32_t>(row.size()));
        p.finish();
        c.damage(p.ms);
        DecompressorInterface* d = nullptr;
        if (c.throwsAtOpen) {
            EXPECT_THROW(d = MakeDecompressor(MemoryStreams::read, &p.ms, throwing_report),
                         CorruptInput);
            continue;
        }
        d = MakeDecompressor(MemoryStreams::read, &p.ms, throwing_report);
        ASSERT_NE(d, nullptr);
        std::vector<uint32_t> out(kMaxRowLength);
        EXPECT_THROW(for (const auto& row
                          : rows)
                         DecompressRow32(d, out.data(), nullptr, static_cast<int32_t>(row.size())),
                     CorruptInput);
        DeleteDecompressor(d);
    }
}

}  // namespace
