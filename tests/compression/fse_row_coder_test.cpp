#include "compression/fse_row_coder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "child_process.h"
#include "compression/fse_row_decoder.h"
#include "compression/row_transform.h"
#include "memory_streams.h"
#include "solver_rows.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A coder over fresh streams; codes the given code rows with compress() directly.
struct Pass {
    MemoryStreams ms;
    CompressionStats stats{};
    CompressorInterface* coder;
    Pass() {
        coder = MakeCompressor(kFSECoder, nullptr, nullptr, MemoryStreams::write, &ms, &stats);
    }
    ~Pass() { finish(); }
    void finish() {
        DeleteCompressor(coder);
        coder = nullptr;
    }
    // The bytes a sub-stream stands for (the kind byte dropped from sub-stream 0).
    Bytes bytes(int s) const { return unblock(ms.streams[s], s == 0 ? 1 : 0); }
};

Bytes raw_block(const Bytes& payload) {
    Bytes b(8 + payload.size(), 0);
    const uint32_t n = static_cast<uint32_t>(payload.size());
    std::memcpy(b.data(), &n, 4);
    std::copy(payload.begin(), payload.end(), b.begin() + 8);
    return b;
}

// The rebuilding rule, from codes: what a decoder must return.
std::vector<uint32_t> rebuild(const std::vector<uint32_t>& codes, const uint32_t* ref, bool pred) {
    std::vector<uint32_t> out(codes.size());
    uint32_t acc = ref ? ref[0] : 0;
    for (size_t i = 0; i < codes.size(); i++) {
        if (i > 0 && pred) acc += ref[i] - ref[i - 1];
        acc += zigzag_decode(codes[i]);
        out[i] = acc;
    }
    return out;
}

TEST(FseRowCoder, WorkedExampleByteForByte) {
    Pass p;
    const std::vector<uint32_t> codes = {0, 3, 0, 0, 300, 1, 0, 0, 0, 2};
    p.coder->compress(codes.data(), 10, 0);
    EXPECT_EQ(p.ms.total(), 1u);  // only the kind byte before the destructor
    p.finish();
    const Bytes expected[24] = {{}, {0x32, 0x02}, {0x02, 0x01}, {},     {0xFF}, {},    {},
                                {}, {},           {},           {},     {},     {},    {},
                                {}, {},           {},           {0x00}, {0x2B}, {0x01}};
    Bytes head0 = {2};
    const Bytes tag = raw_block({0x00});
    head0.insert(head0.end(), tag.begin(), tag.end());
    EXPECT_EQ(p.ms.streams[0], head0);
    for (int s = 1; s < 24; s++)
        EXPECT_EQ(p.ms.streams[s], expected[s].empty() ? Bytes{} : raw_block(expected[s])) << s;

    DecompressorInterface* d = MakeDecompressor(MemoryStreams::read, &p.ms, throwing_report);
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->rebuildsRows());
    std::vector<uint32_t> out(10);
    EXPECT_EQ(DecompressRow32(d, out.data(), nullptr, 10), 0u);
    EXPECT_EQ(out, rebuild(codes, nullptr, false));
    DeleteDecompressor(d);
}

TEST(FseRowCoder, EscapesAndContexts) {
    struct Case {
        uint32_t b;
        Bytes context, s18, s19, s20to23;
    } cases[] = {
        {254, {254}, {}, {}, {}},
        {255, {255}, {0xFF}, {0x00}, {}},
        {65534, {255}, {0xFE}, {0xFF}, {}},
        {65535, {255}, {0xFF}, {0xFF}, {0xFF, 0xFF, 0x00, 0x00}},
        {0xFFFFFFFEu, {255}, {0xFF}, {0xFF}, {0xFE, 0xFF, 0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        Pass p;
        const std::vector<uint32_t> codes = {c.b + 1, 5};  // the second value follows the first
        p.coder->compress(codes.data(), 2, 0);
        p.finish();
        EXPECT_EQ(p.bytes(2), c.context) << c.b;
        EXPECT_EQ(p.bytes(18), c.s18) << c.b;
        EXPECT_EQ(p.bytes(19), c.s19) << c.b;
        for (int k = 0; k < 4; k++)
            EXPECT_EQ(p.bytes(20 + k), c.s20to23.empty() ? Bytes{} : Bytes{c.s20to23[k]}) << c.b;
        // After an escape (and after any b >= 15) the next value is coded in context 15.
        EXPECT_EQ(p.bytes(17), Bytes{4}) << c.b;
        // The statistic compares as signed: 0xFFFFFFFE (-2) leaves it at 0.
        const int32_t largest = c.b >= 255 && c.b < 0x80000000u ? static_cast<int32_t>(c.b) : 0;
        EXPECT_EQ(p.stats.largestEscaped, largest);
    }
    // Zero values keep the context: 3, 0, 0, 7 puts 7 in context 3.
    Pass p;
    const std::vector<uint32_t> codes = {4, 0, 0, 8, 1};
    p.coder->compress(codes.data(), 5, 1);
    p.finish();
    EXPECT_EQ(p.bytes(2), Bytes{3});
    EXPECT_EQ(p.bytes(5), Bytes{7});
    EXPECT_EQ(p.bytes(9), Bytes{0});
    EXPECT_EQ(p.bytes(0), Bytes{1});
    EXPECT_EQ(p.stats.predictedRows, 1u);
    EXPECT_EQ(p.stats.rawBytes, 20u);
}

TEST(FseRowCoder, MaskBytesPerRow) {
    for (auto [n, masks] : {std::pair{0, 0}, {8, 1}, {9, 2}, {1, 1}, {16, 2}, {17, 3}}) {
        Pass p;
        std::vector<uint32_t> codes(static_cast<size_t>(n), 0);
        if (n == 9) codes[8] = 1;
        p.coder->compress(codes.data(), n, 0);
        p.finish();
        const Bytes m = p.bytes(1);
        EXPECT_EQ(static_cast<int>(m.size()), masks) << n;
        if (n == 9) {
            EXPECT_EQ(m, (Bytes{0x00, 0x01}));
        }
    }
}

TEST(FseRowCoder, BlockEdges) {
    // Tags fill slot 0: flushed at once at 65536 bytes, all equal, so stored as one byte.
    Pass p;
    for (int r = 0; r < 65536; r++) p.coder->compress(nullptr, 0, 0);
    ASSERT_EQ(p.ms.streams[0].size(), 1u + 8 + 1);
    uint32_t rawCount;
    int32_t compressedSize;
    std::memcpy(&rawCount, p.ms.streams[0].data() + 1, 4);
    std::memcpy(&compressedSize, p.ms.streams[0].data() + 5, 4);
    EXPECT_EQ(rawCount, 65536u);
    EXPECT_EQ(compressedSize, 1);
    p.coder->compress(nullptr, 0, 7);  // the 65537th tag
    p.coder->compress(nullptr, 0, 7);
    p.finish();
    // The destructor added a block of two equal bytes, stored as compressedSize 1.
    const auto blocks = split_blocks(p.ms.streams[0], 1);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[1].rawCount, 2u);
    EXPECT_EQ(blocks[1].compressedSize, 1);
    DecompressorInterface* d = MakeDecompressor(MemoryStreams::read, &p.ms, throwing_report);
    for (int r = 0; r < 65536; r++) {
        ASSERT_EQ(d->decompress(nullptr, nullptr, 0), 0u);
    }
    EXPECT_EQ(d->decompress(nullptr, nullptr, 0), 7u);  // from the second block
    EXPECT_EQ(d->decompress(nullptr, nullptr, 0), 7u);
    DeleteDecompressor(d);

    // 65536 escapes of b >= 65535 fill slots 18 to 23 together: each is flushed between the
    // bytes of one escape, before the destructor.
    Pass q;
    const uint32_t big[1] = {0x12345678u};
    for (int r = 0; r < 65536; r++) q.coder->compress(big, 1, 0);
    for (int s = 18; s < 24; s++) {
        const auto b = split_blocks(q.ms.streams[s]);
        ASSERT_EQ(b.size(), 1u) << s;
        EXPECT_EQ(b[0].rawCount, 65536u);
    }
    std::vector<size_t> before(24);
    for (int s = 0; s < 24; s++) before[s] = q.ms.streams[s].size();
    q.finish();
    for (int s = 18; s < 24; s++) {
        EXPECT_EQ(q.ms.streams[s].size(), before[s]) << "empty block";
    }
    for (int s = 0; s < 24; s++)
        for (const BlockView& b : split_blocks(q.ms.streams[s], s == 0 ? 1 : 0))
            if (b.offset >= before[s]) {
                EXPECT_LT(b.rawCount, 65536u) << "full block at the end";
            }
}

TEST(FseRowCoder, SingleByteBlocksAreRaw) {
    Pass p;
    p.coder->compress(nullptr, 0, 9);
    p.finish();
    EXPECT_EQ(p.ms.streams[0], (Bytes{2, 1, 0, 0, 0, 0, 0, 0, 0, 9}));
}

// Writes a pass of rows (each with the previous row as reference when asked), reads it back.
template <typename T>
struct RowPass {
    std::vector<std::vector<T>> rows;
    bool withRef;
    MemoryStreams ms;
    CompressionStats stats{};
    uint64_t predicted = 0, raw = 0;
    int32_t largest = 0;

    void write() {
        CompressorInterface* c =
            MakeCompressor(kFSECoder, nullptr, nullptr, MemoryStreams::write, &ms, &stats);
        std::vector<uint32_t> p(1326), q(1326);
        for (size_t k = 0; k < rows.size(); k++) {
            const T* ref = withRef && k > 0 ? rows[k - 1].data() : nullptr;
            const int n = static_cast<int>(rows[k].size());
            // Expected statistics from the scalar transform.
            bool pred;
            if constexpr (sizeof(T) == 4)
                pred = BuildRowResiduals32Scalar(q.data(), p.data(), rows[k].data(), ref, n);
            else
                pred = BuildRowResiduals16Scalar(q.data(), p.data(), rows[k].data(), ref, n);
            predicted += pred;
            raw += 4 * static_cast<uint64_t>(n);
            for (int i = 0; i < n; i++) {
                const uint32_t z = pred ? q[i] : p[i];
                if (z >= 256) largest = std::max(largest, static_cast<int32_t>(z - 1));
            }
            if constexpr (sizeof(T) == 4)
                CompressRow32(c, rows[k].data(), ref, n);
            else
                CompressRow16(c, rows[k].data(), ref, n);
        }
        DeleteCompressor(c);
    }
    // Reads every row back; false at the first difference.
    bool read_back() {
        ms.rewind();
        DecompressorInterface* d = MakeDecompressor(MemoryStreams::read, &ms, throwing_report);
        std::vector<T> out(1326);
        bool same = true;
        try {
            for (size_t k = 0; k < rows.size() && same; k++) {
                const T* ref = withRef && k > 0 ? rows[k - 1].data() : nullptr;
                const int n = static_cast<int>(rows[k].size());
                if constexpr (sizeof(T) == 4)
                    DecompressRow32(d, out.data(), ref, n);
                else
                    DecompressRow16(d, out.data(), ref, n);
                same = std::equal(out.begin(), out.begin() + n, rows[k].begin());
            }
        } catch (...) {
            DeleteDecompressor(d);
            throw;
        }
        DeleteDecompressor(d);
        return same;
    }
};

// Rows of solver shape, with the previous row slightly changed, plus some random rows.
template <typename T>
RowPass<T> make_pass(uint64_t seed, int rowCount, bool withRef, bool randomRows) {
    std::mt19937_64 rng(seed);
    RowPass<T> pass;
    pass.withRef = withRef;
    std::vector<T> prev;
    for (int k = 0; k < rowCount; k++) {
        std::vector<T> row;
        if (randomRows) {
            const int n = static_cast<int>(rng() % 1327);
            row = solver_rows::random_row<T>(rng, n);
            if (withRef && k > 0) row.resize(pass.rows.back().size(), 3);  // same n as its ref
        } else if (withRef && k > 0 && rng() % 8) {
            row = solver_rows::changed(rng, prev);
        } else {
            const int n = 800 + static_cast<int>(rng() % 527);
            if constexpr (sizeof(T) == 4)
                row = solver_rows::strategy_row(rng, n);
            else
                row = solver_rows::regret_row(rng, n);
            if (withRef && k > 0) row.resize(prev.size());
        }
        pass.rows.push_back(row);
        prev = row;
    }
    pass.write();
    return pass;
}

template <typename T>
void check_round_trip(uint64_t seed, int rowCount, bool withRef, bool randomRows) {
    RowPass<T> pass = make_pass<T>(seed, rowCount, withRef, randomRows);
    EXPECT_TRUE(pass.read_back());
    EXPECT_EQ(pass.stats.rows, rowCount);
    EXPECT_EQ(pass.stats.rawBytes, pass.raw);
    EXPECT_EQ(pass.stats.predictedRows, pass.predicted);
    EXPECT_EQ(pass.stats.largestEscaped, pass.largest);
    if (!withRef) {
        EXPECT_EQ(pass.predicted, 0u);
    }
    EXPECT_LE(pass.ms.total(), FSEPassSizeBound(rowCount, pass.raw / 4));
}

TEST(FseRowCoder, RoundTripsAcrossBlocks) {
    check_round_trip<uint32_t>(1, 600, false, true);
    check_round_trip<uint32_t>(2, 600, true, true);
    check_round_trip<uint16_t>(3, 600, true, true);
    check_round_trip<uint16_t>(4, 1500, true, false);
    check_round_trip<uint32_t>(5, 1500, true, false);
    check_round_trip<uint16_t>(6, 800, false, false);
}

TEST(LongFseRowCoder, RoundTripsOfManyMegabytes) {
    check_round_trip<uint32_t>(11, 8000, false, true);
    check_round_trip<uint32_t>(12, 8000, true, true);
    check_round_trip<uint16_t>(13, 8000, true, true);
    check_round_trip<uint16_t>(14, 30000, true, false);
    check_round_trip<uint32_t>(15, 20000, true, false);
}

TEST(LongFseRowCoder, EverySubstreamCrossesSeveralBlocks) {
    // Codes mixing small values of every context, zeros and wide escapes, in 70000 short rows.
    std::mt19937_64 rng(16);
    std::vector<std::vector<uint32_t>> rows(70000);
    Pass p;
    for (auto& row : rows) {
        row.resize(rng() % 129);
        for (uint32_t& z : row) {
            const uint64_t r = rng() % 100;
            z = r < 70   ? 1 + static_cast<uint32_t>(rng() % 16)
                : r < 75 ? 0
                         : static_cast<uint32_t>(rng());
        }
        p.coder->compress(row.data(), static_cast<int32_t>(row.size()), 0);
    }
    p.finish();
    for (int s = 0; s < 24; s++) {
        EXPECT_GE(split_blocks(p.ms.streams[s], s == 0).size(), 2u) << s;
    }
    DecompressorInterface* d = MakeDecompressor(MemoryStreams::read, &p.ms, throwing_report);
    std::vector<uint32_t> out(128);
    for (const auto& row : rows) {
        d->decompress(out.data(), nullptr, static_cast<int32_t>(row.size()));
        const auto expected = rebuild(row, nullptr, false);
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
    }
    DeleteDecompressor(d);
}

TEST(FseRowCoder, SixteenBitRowsWrap) {
    RowPass<uint16_t> pass;
    pass.withRef = true;
    pass.rows = {{65535, 0, 65535, 1, 2}, {0, 65535, 0, 65534, 65535}, {1, 1, 1, 1, 1}};
    pass.write();
    EXPECT_TRUE(pass.read_back());
}

TEST(FseRowCoder, TagsAndReferences) {
    // A predicted row read without its reference is rebuilt as a plain row; a plain row read
    // with one starts from ref[0].
    Pass p;
    const std::vector<uint32_t> codes = {2, 0, 4, 1};
    p.coder->compress(codes.data(), 4, 1);
    p.coder->compress(codes.data(), 4, 0);
    p.coder->compress(codes.data(), 4, 200);
    p.finish();
    const uint32_t ref[4] = {10, 20, 15, 40};
    DecompressorInterface* d = MakeDecompressor(MemoryStreams::read, &p.ms, throwing_report);
    std::vector<uint32_t> out(4);
    EXPECT_EQ(d->decompress(out.data(), nullptr, 4), 1u);
    EXPECT_EQ(out, rebuild(codes, nullptr, false));
    EXPECT_EQ(d->decompress(out.data(), ref, 4), 0u);
    EXPECT_EQ(out, rebuild(codes, ref, false));
    EXPECT_EQ(d->decompress(out.data(), ref, 4), 200u);  // any nonzero tag is predicted
    EXPECT_EQ(out, rebuild(codes, ref, true));
    DeleteDecompressor(d);
}

// Hand-made sub-streams for the decoder alone: kind byte, then the given blocks.
MemoryStreams hand_made(const std::vector<std::pair<int, Bytes>>& blocks) {
    MemoryStreams ms;
    ms.streams[0] = {2};
    for (const auto& [s, b] : blocks) ms.streams[s].insert(ms.streams[s].end(), b.begin(), b.end());
    return ms;
}

Bytes header(uint32_t rawCount, int32_t compressedSize) {
    Bytes b(8);
    std::memcpy(b.data(), &rawCount, 4);
    std::memcpy(b.data() + 4, &compressedSize, 4);
    return b;
}

Bytes rle_block(uint32_t rawCount, uint8_t byte) {
    Bytes b = header(rawCount, 1);
    b.push_back(byte);
    return b;
}

TEST(FseRowDecoder, HandMadeBlocks) {
    // 65536 copies of b = 0 on context 0, read as rows of three values under masks 0xFF whose
    // bits past the row end are ignored; the 65537th value needs a second block.
    MemoryStreams ms = hand_made(
        {{0, rle_block(21846, 0)}, {1, rle_block(21846, 0xFF)}, {2, rle_block(65536, 0)}});
    DecompressorInterface* d = MakeDecompressor(MemoryStreams::read, &ms, throwing_report);
    uint32_t out[3];
    for (int r = 0; r < 21845; r++) {
        d->decompress(out, nullptr, 3);
        ASSERT_EQ(out[2], static_cast<uint32_t>(-3));  // residuals -1, -1, -1
    }
    d->decompress(out, nullptr, 1);  // the 65536th byte
    EXPECT_THROW(d->decompress(out, nullptr, 1), CorruptInput);
    DeleteDecompressor(d);

    // 0xFF then 0xFE on the escape streams is b = 65279; nothing is taken from 20 to 23.
    MemoryStreams esc = hand_made({{0, raw_block({0})},
                                   {1, raw_block({1})},
                                   {2, raw_block({255})},
                                   {18, raw_block({0xFF})},
                                   {19, raw_block({0xFE})}});
    d = MakeDecompressor(MemoryStreams::read, &esc, throwing_report);
    uint16_t out16[1];
    EXPECT_EQ(DecompressRow16(d, out16, nullptr, 1), 0u);
    EXPECT_EQ(out16[0], static_cast<uint16_t>(zigzag_decode(65280)));
    DeleteDecompressor(d);

    // A zero mask fills its group from the rule alone; raw blocks with a negative size.
    MemoryStreams zero = hand_made({{0, header(1, -3)}, {1, header(1, -3)}});
    zero.streams[0].push_back(1);
    zero.streams[1].push_back(0);
    d = MakeDecompressor(MemoryStreams::read, &zero, throwing_report);
    const uint32_t ref[5] = {7, 9, 4, 4, 100};
    uint32_t row[5];
    EXPECT_EQ(d->decompress(row, ref, 5), 1u);
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(row[i], ref[i]);
    }
    DeleteDecompressor(d);
}

// A pass whose sub-streams hold several blocks, some coded, some raw.
RowPass<uint32_t> corruptible_pass() {
    return make_pass<uint32_t>(21, 240, true, true);
}

// Decodes the pass; true when the corruption report was called.
bool reported(RowPass<uint32_t>& pass) {
    try {
        pass.read_back();
    } catch (const CorruptInput&) {
        return true;
    }
    return false;
}

TEST(FseRowDecoder, AlteredBlockHeadersAreReported) {
    RowPass<uint32_t> pass = corruptible_pass();
    ASSERT_TRUE(pass.read_back());
    int coded = 0;
    for (int s = 0; s < 24; s++) {
        const auto blocks = split_blocks(pass.ms.streams[s], s == 0);
        for (size_t k = 0; k < blocks.size(); k++) {
            const BlockView& b = blocks[k];
            auto with = [&](uint32_t rawCount, int32_t compressedSize) {
                RowPass<uint32_t> bad = pass;
                std::memcpy(bad.ms.streams[s].data() + b.offset, &rawCount, 4);
                std::memcpy(bad.ms.streams[s].data() + b.offset + 4, &compressedSize, 4);
                return reported(bad);
            };
            for (uint32_t rc : {0u, 65537u, 0x80000000u, 0xFFFFFFFFu})
                EXPECT_TRUE(with(rc, b.compressedSize)) << s << " " << k << " " << rc;
            EXPECT_TRUE(with(b.rawCount, 66561)) << s;
            EXPECT_TRUE(with(b.rawCount, 0x7FFFFFFF)) << s;
            if (b.compressedSize > 1) {
                coded++;
                // A coded block must decode to exactly rawCount bytes.
                EXPECT_TRUE(with(b.rawCount - 1, b.compressedSize)) << s;
                if (b.rawCount < 65536) {
                    EXPECT_TRUE(with(b.rawCount + 1, b.compressedSize)) << s;
                }
            }
        }
    }
    EXPECT_GT(coded, 5);
}

TEST(FseRowDecoder, TruncatedStreamsAreReported) {
    RowPass<uint32_t> pass = corruptible_pass();
    for (int s = 0; s < 24; s++) {
        const auto blocks = split_blocks(pass.ms.streams[s], s == 0);
        for (const BlockView& b : blocks) {
            for (size_t cut : {b.offset, b.offset + 3, b.offset + 8, b.offset + b.size / 2,
                               b.offset + b.size - 1}) {
                RowPass<uint32_t> bad = pass;
                bad.ms.streams[s].resize(cut);
                EXPECT_TRUE(reported(bad)) << s << " " << cut;
            }
        }
    }
}

TEST(FseRowDecoder, FlippedBitsAndChangedBytesNeverEscapeTheBuffers) {
    RowPass<uint32_t> pass = corruptible_pass();
    std::mt19937_64 rng(8);
    int detected = 0;
    for (int k = 0; k < 300; k++) {
        RowPass<uint32_t> bad = pass;
        const int s = static_cast<int>(rng() % 24);
        if (bad.ms.streams[s].size() < 2) continue;
        const size_t at = 1 + rng() % (bad.ms.streams[s].size() - 1);
        if (k % 2)
            bad.ms.streams[s][at] ^= static_cast<uint8_t>(1u << (rng() % 8));
        else
            bad.ms.streams[s][at] = static_cast<uint8_t>(rng());
        detected += reported(bad);  // either rows come back or the report is called
    }
    EXPECT_GT(detected, 0);
}

TEST(FseRowDecoder, DefaultReportPrintsFseErrorAndEndsWithStatusOne) {
    MemoryStreams ms = hand_made({{0, header(0, 0)}});
    const ChildResult r = run_in_child([&] {
        DecompressorInterface* d = MakeDecompressor(MemoryStreams::read, &ms);
        d->decompress(nullptr, nullptr, 0);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "fse error\n");
}

}  // namespace
