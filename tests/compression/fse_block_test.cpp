#include "compression/fse_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "byte_sources.h"
#include "rfc_header_reader.h"

namespace {

constexpr size_t err(FSE_ErrorCode c) {
    return static_cast<size_t>(-static_cast<int>(c));
}

std::vector<uint8_t> compress(const std::vector<uint8_t>& src, size_t* result) {
    std::vector<uint8_t> dst(FSE_compressBound(src.size()));
    *result = FSE_compress(dst.data(), dst.size(), src.data(), src.size());
    if (*result >= 2 && !FSE_isError(*result)) dst.resize(*result);
    return dst;
}

// A block that codes: two thirds 'a', the rest spread over a few letters.
std::vector<uint8_t> skewed_source(size_t size, uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::vector<uint8_t> src(size);
    for (auto& b : src) b = rng() % 3 ? 'a' : static_cast<uint8_t>('b' + rng() % 5);
    return src;
}

TEST(FseBlock, ResultCodesOfTheEntryPoints) {
    EXPECT_EQ(FSE_compressBound(65536), 66560u);
    uint8_t dst[64];
    const uint8_t same[4] = {7, 7, 7, 7}, mixed[4] = {7, 7, 7, 8};
    EXPECT_EQ(FSE_compress(dst, sizeof dst, same, 0), 0u);
    EXPECT_EQ(FSE_compress(dst, sizeof dst, same, 1), 0u);
    for (size_t n = 2; n <= 4; n++) {
        std::memset(dst, 0xA5, sizeof dst);
        EXPECT_EQ(FSE_compress(dst, sizeof dst, same, n), 1u) << n;
        for (uint8_t b : dst) ASSERT_EQ(b, 0xA5);  // destination untouched
        EXPECT_EQ(FSE_compress(dst, sizeof dst, mixed + 4 - n, n), 0u) << n;
    }
    std::vector<uint8_t> distinct(256);
    for (int i = 0; i < 256; i++) distinct[i] = static_cast<uint8_t>(i);
    size_t r;
    compress(distinct, &r);
    EXPECT_EQ(r, 0u);
    // Every count 256, below 65536 / 128.
    std::vector<uint8_t> flat(65536);
    for (size_t i = 0; i < flat.size(); i++) flat[i] = static_cast<uint8_t>(i * 7);
    compress(flat, &r);
    EXPECT_EQ(r, 0u);
}

TEST(FseBlock, BlockNotSmallerThanSourceMinusOneIsNotUsed) {
    // Eighteen symbols, one repeated: the header and stream are built, but too long.
    std::vector<uint8_t> src;
    for (uint8_t s = 0; s < 18; s++) src.push_back(s);
    src.push_back(0);
    src.push_back(0);
    unsigned count[256], maxSymbol = 255;
    ASSERT_EQ(FSE_count(count, &maxSymbol, src.data(), src.size()), 3u);
    const unsigned tableLog = FSE_optimalTableLog(11, src.size(), maxSymbol);
    short norm[256];
    ASSERT_EQ(FSE_normalizeCount(norm, tableLog, count, src.size(), maxSymbol), tableLog);
    uint8_t block[600];
    const size_t header = FSE_writeNCount(block, sizeof block, norm, maxSymbol, tableLog);
    ASSERT_FALSE(FSE_isError(header));
    FSE_CTable ct;
    ASSERT_EQ(FSE_buildCTable(&ct, norm, maxSymbol, tableLog), 0u);
    const size_t stream = FSE_compress_usingCTable(block + header, sizeof block - header,
                                                   src.data(), src.size(), &ct);
    ASSERT_GT(stream, 0u);
    ASSERT_GE(header + stream, src.size() - 1);
    EXPECT_EQ(FSE_compress(block, sizeof block, src.data(), src.size()), 0u);
}

TEST(FseBlock, ErrorTests) {
    for (int e = 1; e <= 7; e++) EXPECT_TRUE(FSE_isError(static_cast<size_t>(-e))) << e;
    EXPECT_FALSE(FSE_isError(0));
    EXPECT_FALSE(FSE_isError(static_cast<size_t>(-8)));
    EXPECT_FALSE(FSE_isError(66560));
    EXPECT_STREQ(FSE_getErrorName(err(FSE_ERROR_GENERIC)), "FSE_ERROR_GENERIC");
    EXPECT_STREQ(FSE_getErrorName(err(FSE_ERROR_corruptionDetected)),
                 "FSE_ERROR_corruptionDetected");
    EXPECT_STREQ(FSE_getErrorName(0), "Unspecified error code");
    EXPECT_STREQ(FSE_getErrorName(static_cast<size_t>(-8)), "Unspecified error code");
}

// Codes sources of every shape and checks each block and each normalisation.
void round_trips(int sources, size_t largest, uint64_t seed) {
    std::mt19937_64 rng(seed);
    const uint64_t secondBefore = FSE_secondMethodCount();
    int coded = 0, repeated = 0, raw = 0;
    std::vector<uint8_t> dst(FSE_compressBound(65536)), back(65536 + 64);
    for (int k = 0; k < sources; k++) {
        const auto shape = static_cast<byte_sources::Shape>(k % byte_sources::kShapes);
        const size_t size = byte_sources::draw_size(rng, largest);
        const std::vector<uint8_t> src = byte_sources::make(shape, size, rng);

        // The normalisation of every codable source fills the table exactly.
        unsigned count[256], maxSymbol = 255;
        const size_t largestCount = FSE_count(count, &maxSymbol, src.data(), size);
        if (largestCount < size && largestCount > 1 && largestCount >= (size >> 7)) {
            const unsigned tableLog = FSE_optimalTableLog(11, size, maxSymbol);
            short norm[256];
            const size_t r = FSE_normalizeCount(norm, tableLog, count, size, maxSymbol);
            ASSERT_FALSE(FSE_isError(r)) << byte_sources::shape_name(shape) << " size " << size;
            int sum = 0;
            for (unsigned s = 0; s <= maxSymbol; s++) {
                ASSERT_GE(norm[s], -1);
                ASSERT_EQ(norm[s] == 0, count[s] == 0);
                sum += norm[s] == -1 ? 1 : norm[s];
            }
            ASSERT_EQ(sum, 1 << tableLog);
        }

        const size_t r = FSE_compress(dst.data(), dst.size(), src.data(), size);
        ASSERT_FALSE(FSE_isError(r));
        if (r == 0) {
            raw++;
            continue;
        }
        if (r == 1) {
            repeated++;
            for (uint8_t b : src) ASSERT_EQ(b, src[0]);
            continue;
        }
        coded++;
        ASSERT_LE(r, size - 2);
        // The header reads the same by the RFC's description as by FSE_readNCount.
        const RfcHeader rfc = rfc_read_header(dst.data(), r);
        short readNorm[256];
        unsigned readMax = 255, readLog = 0;
        ASSERT_TRUE(rfc.ok);
        ASSERT_EQ(FSE_readNCount(readNorm, &readMax, &readLog, dst.data(), r), rfc.bytes);
        ASSERT_EQ(static_cast<int>(readLog), rfc.accuracyLog);
        ASSERT_EQ(readMax + 1, rfc.probabilities.size());
        for (unsigned s = 0; s <= readMax; s++) ASSERT_EQ(readNorm[s], rfc.probabilities[s]);
        // A roomier destination shows the block ends by itself at exactly its length.
        const size_t d = FSE_decompress(back.data(), back.size(), dst.data(), r);
        ASSERT_EQ(d, size) << byte_sources::shape_name(shape) << " " << FSE_getErrorName(d);
        ASSERT_EQ(std::memcmp(back.data(), src.data(), size), 0);
        ASSERT_EQ(FSE_decompress(back.data(), size, dst.data(), r), size);
    }
    EXPECT_GT(coded, sources / 3);
    EXPECT_GT(raw, 0);
    EXPECT_GT(repeated + coded + raw, 0);
    EXPECT_GT(FSE_secondMethodCount() - secondBefore, static_cast<uint64_t>(sources / 1000))
        << "second normalisation method rarely reached";
}

TEST(FseBlock, RoundTripsOfManyShapes) {
    round_trips(3000, 65536, 1);
}

TEST(LongFseBlock, RoundTripsOfAHundredThousandSources) {
    round_trips(100000, 65536, 2);
}

TEST(FseBlock, BadBlocksGiveTheirErrors) {
    uint8_t out[4096];
    // Accuracy nibble 11: table log 16.
    const uint8_t nibble11[] = {0x0B, 0x00, 0x00, 0x00, 0x01};
    EXPECT_EQ(FSE_decompress(out, sizeof out, nibble11, sizeof nibble11),
              err(FSE_ERROR_tableLog_tooLarge));
    // Table log 13, a valid header (8191 and 1 cells), refused when the table is built:
    // nibble 8, then 16382 in 14 bits, then 3 in 2 bits.
    const uint32_t bits13 = 8u | (16382u << 4) | (3u << 18);
    const uint8_t log13[] = {static_cast<uint8_t>(bits13), static_cast<uint8_t>(bits13 >> 8),
                             static_cast<uint8_t>(bits13 >> 16), 0x01, 0x01};
    short norm[256];
    unsigned maxSymbol = 255, tableLog = 0;
    EXPECT_EQ(FSE_readNCount(norm, &maxSymbol, &tableLog, log13, sizeof log13), 3u);
    EXPECT_EQ(tableLog, 13u);
    EXPECT_EQ(maxSymbol, 1u);
    EXPECT_EQ(FSE_decompress(out, sizeof out, log13, sizeof log13),
              err(FSE_ERROR_tableLog_tooLarge));
    // Symbol 0 absent, then zero-run fields of 3 past symbol 255.
    std::vector<uint8_t> run(40, 0xFF);
    run[0] = 0x10;  // nibble 0; symbol 0 written as 1 in 5 bits: bits 4..8 = 00001
    run[1] = 0xFE;  // bit 8 (first bit of this byte) 0, then one-bits
    EXPECT_EQ(FSE_decompress(out, sizeof out, run.data(), run.size()),
              err(FSE_ERROR_maxSymbolValue_tooSmall));
    // Table log 9 and only zero bits: 256 counts of -1 leave 256 of 512 cells unfilled.
    std::vector<uint8_t> shortSum(300, 0);
    shortSum[0] = 0x04;
    shortSum.back() = 0x01;
    EXPECT_EQ(FSE_decompress(out, sizeof out, shortSum.data(), shortSum.size()),
              err(FSE_ERROR_GENERIC));
    EXPECT_EQ(FSE_decompress(out, sizeof out, nibble11, 1), err(FSE_ERROR_srcSize_wrong));
    EXPECT_EQ(FSE_decompress(out, sizeof out, nibble11, 3), err(FSE_ERROR_srcSize_wrong));

    const std::vector<uint8_t> src = skewed_source(3000, 5);
    size_t r;
    std::vector<uint8_t> block = compress(src, &r);
    ASSERT_GE(r, 2u);
    ASSERT_EQ(FSE_decompress(out, src.size(), block.data(), r), src.size());
    EXPECT_EQ(FSE_decompress(out, src.size() - 1, block.data(), r),
              err(FSE_ERROR_dstSize_tooSmall));
    std::vector<uint8_t> noMark = block;
    noMark.back() = 0;
    EXPECT_EQ(FSE_decompress(out, sizeof out, noMark.data(), noMark.size()),
              err(FSE_ERROR_GENERIC));
    // The header alone, or the header and a cut stream.
    const size_t header = FSE_readNCount(norm, &(maxSymbol = 255), &tableLog, block.data(), r);
    ASSERT_FALSE(FSE_isError(header));
    EXPECT_EQ(FSE_decompress(out, sizeof out, block.data(), header), err(FSE_ERROR_srcSize_wrong));
    std::vector<uint8_t> cut(block.begin(), block.begin() + header);
    cut.insert(cut.end(), block.begin() + header + 40, block.end());
    EXPECT_EQ(FSE_decompress(out, sizeof out, cut.data(), cut.size()),
              err(FSE_ERROR_corruptionDetected));
}

TEST(FseBlock, CountsThatDoNotFillTheTableAreRefused) {
    // 31 of 32 cells; and a count below -1, which a signed sum would take for 32 (the header
    // writer stops at the 10, which fills the table, and never reads it).
    short norm[4] = {20, 10, 0, 1}, belowMinusOne[4] = {22, 10, -2, 2};
    uint8_t header[64];
    EXPECT_EQ(FSE_writeNCount(header, sizeof header, norm, 3, 5), err(FSE_ERROR_GENERIC));
    FSE_DTable dt;
    FSE_CTable ct;
    for (const short* n : {norm, belowMinusOne}) {
        EXPECT_EQ(FSE_buildDTable(&dt, n, 3, 5), err(FSE_ERROR_GENERIC));
        EXPECT_EQ(FSE_buildCTable(&ct, n, 3, 5), err(FSE_ERROR_GENERIC));
    }
    short fits[4] = {20, 10, 0, 2};
    EXPECT_EQ(FSE_buildDTable(&dt, fits, 3, 13), err(FSE_ERROR_tableLog_tooLarge));
    EXPECT_EQ(FSE_buildDTable(&dt, fits, 256, 5), err(FSE_ERROR_maxSymbolValue_tooLarge));
    // A too small destination for the header.
    EXPECT_EQ(FSE_writeNCount(header, 2, fits, 3, 5), err(FSE_ERROR_dstSize_tooSmall));
    EXPECT_EQ(FSE_writeNCount(header, sizeof header, fits, 3, 4), err(FSE_ERROR_GENERIC));
}

TEST(FseBlock, FastAndCheckedPathsGiveTheSameBytes) {
    // A roomy destination and one just large enough give identical blocks.
    const std::vector<uint8_t> src = skewed_source(20000, 9);
    size_t r;
    const std::vector<uint8_t> block = compress(src, &r);
    ASSERT_GE(r, 2u);
    std::vector<uint8_t> tight(r + 8);
    ASSERT_EQ(FSE_compress(tight.data(), tight.size(), src.data(), src.size()), r);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), tight.begin()));
    // Too small for the stream: not compressed, no error.
    EXPECT_EQ(FSE_compress(tight.data(), r - 4, src.data(), src.size()), 0u);
}

// Sources from a fixed 64-bit LCG: byte i is pick(x_i >> 33).
template <typename Pick>
std::vector<uint8_t> lcg_source(uint64_t seed, size_t size, Pick pick) {
    std::vector<uint8_t> out(size);
    uint64_t x = seed;
    for (auto& b : out) {
        x = x * 6364136223846793005u + 1442695040888963407u;
        b = static_cast<uint8_t>(pick(static_cast<uint32_t>(x >> 33)));
    }
    return out;
}

std::vector<uint8_t> from_hex(const char* hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    return out;
}

// Whole blocks pinned byte for byte. The bytes come from a separate bit-at-a-time coder written
// from the format description alone (header fields, spreading, both normalisation methods, the
// two states from the last byte back, the closing states and end mark), so a change in any stage
// shows here even when coder and decoder would still agree with each other.
TEST(FseBlock, BlocksMatchIndependentlyComputedBytes) {
    const auto skew = [](uint32_t v) { return "aaaaaaaabbbbccde"[v % 16]; };
    struct Case {
        const char* name;
        std::vector<uint8_t> src;
        const char* block;
    } cases[] = {
        // 50 bytes (2 mod 4), table log 6, zero runs of 97 symbols before 'a'.
        {"skewed 50", lcg_source(1, 50, skew),
         "11fcffffffffffffffd349c60380ac7653741669fe37e3a929962c"},
        // 51 bytes (odd).
        {"skewed 51", lcg_source(1, 51, skew),
         "11fcffffffffffffffc34dc603d885e72b60f88ef172514ec4c7b3"},
        // 173 bytes over 32 symbols: the second normalisation method, seven -1 counts.
        {"second method",
         lcg_source(629, 173, [](uint32_t v) { return (v >> 20) % 4 ? v % 32 : 0u; }),
         "210102c418600801c420200322223423700e605ff4dd4a851b0778a600474004d1ea4430559d1d2c"
         "c4a414a1e31583e817d7b386181c0fa0844e3a3a75c232603547382f821b1c099d78a9177842d9f6"
         "a316c6b4e9ac4af8a45249282be1653279387a3fe03730696c611b94b346cecf6c4702"},
        // 1000 bytes over symbols 0, 1, 60 and 200: zero runs of 58 and 139, table log 9.
        {"sparse",
         lcg_source(3, 1000,
                    [](uint32_t v) {
                        const uint32_t r = v % 1000;
                        return r < 600 ? 0u : r < 900 ? 1u : r < 990 ? 60u : 200u;
                    }),
         "545339fcffffffffe0f9ffffffffffffffffffff7f1ec0f405e5a61df55ce6162544b48729ccee7d"
         "f51272413576e0e5d91621cb9a4a8ed634fd3638b0e1bd0c01ab145ddfdc419a3f8ac326098b8d59"
         "e8d1ac00682aaccfab0cf4859248a7bbbd2354ee973cab8c64aa2930c16f848a095c3ddb87d4b0bb"
         "2c5bc472a0df37e9b154f4c304d89930ef9e4d6fb2bb49850d44d2a7e1f49431468737b7a1d528a3"
         "19d1f19c57c1e18a39ab2df880d3dc6b88ce7a5d65450a19db414c8199f8e845b2148b"},
    };
    const uint64_t secondBefore = FSE_secondMethodCount();
    for (const Case& c : cases) {
        const std::vector<uint8_t> expected = from_hex(c.block);
        size_t r;
        std::vector<uint8_t> block = compress(c.src, &r);
        ASSERT_EQ(r, expected.size()) << c.name;
        EXPECT_EQ(block, expected) << c.name;
        std::vector<uint8_t> back(c.src.size());
        ASSERT_EQ(FSE_decompress(back.data(), back.size(), expected.data(), expected.size()),
                  c.src.size())
            << c.name;
        EXPECT_EQ(back, c.src) << c.name;
    }
    EXPECT_GT(FSE_secondMethodCount(), secondBefore);
}

// Counts that take the two rare steps of the second normalisation method; the expected tables
// are worked out by hand from its steps.
TEST(FseBlock, SecondNormalisationStepsGiveTheirTables) {
    struct Case {
        const char* name;
        std::vector<unsigned> count;
        unsigned tableLog;
        std::vector<short> norm;
        bool codable;  // FSE_compress codes the block itself
    };
    std::vector<unsigned> raised(13, 1), handedOut(22, 1);
    raised.insert(raised.end(), {12, 70, 70});
    std::vector<short> raisedNorm(13, -1), handedOutNorm(22, 1);
    raisedNorm.insert(raisedNorm.end(), {1, 9, 9});
    handedOutNorm[0] = 11;
    const Case cases[] = {
        // Total 165, 32 cells. First method: thirteen -1 (165 >> 5 = 5), 12 gives 2 (2.33),
        // each 70 gives 13 (13.58): 41 cells, 9 too many, at least 13 >> 1, so the second
        // method. lowOne = 495 >> 6 = 7 leaves 12, 70, 70 pending with 152 over 19 cells;
        // 152 / 19 = 8 > 7 raises lowOne to 456 / 38 = 12, so 12 takes one cell and the two
        // 70s share the 18 left. Without the raise 12 would get 2, and the 70s 9 and 8.
        {"lowOne raised", raised, 5, raisedNorm, true},
        // 22 symbols once each in 32 cells: 32 / 22 = 1.45 rounds up to 2 each, 12 too many.
        // lowOne = 66 >> 6 = 1 gives every symbol one cell; the ten left go to the first of
        // the largest counts.
        {"every symbol handed out", handedOut, 5, handedOutNorm, false},
    };
    std::mt19937_64 rng(9);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const unsigned maxSymbol = static_cast<unsigned>(c.count.size() - 1);
        std::vector<uint8_t> src;
        for (unsigned s = 0; s <= maxSymbol; s++) src.insert(src.end(), c.count[s], s);
        std::shuffle(src.begin(), src.end(), rng);

        const uint64_t secondBefore = FSE_secondMethodCount();
        short norm[256];
        ASSERT_EQ(FSE_normalizeCount(norm, c.tableLog, c.count.data(), src.size(), maxSymbol),
                  c.tableLog);
        EXPECT_EQ(FSE_secondMethodCount(), secondBefore + 1);
        EXPECT_EQ(std::vector<short>(norm, norm + maxSymbol + 1), c.norm);

        // The table codes and decodes its source through its own header.
        uint8_t block[1024];
        const size_t header = FSE_writeNCount(block, sizeof block, norm, maxSymbol, c.tableLog);
        ASSERT_FALSE(FSE_isError(header));
        short readNorm[256];
        unsigned readMax = 255, readLog = 0;
        ASSERT_EQ(FSE_readNCount(readNorm, &readMax, &readLog, block, sizeof block), header);
        ASSERT_EQ(readLog, c.tableLog);
        EXPECT_EQ(std::vector<short>(readNorm, readNorm + readMax + 1), c.norm);
        FSE_CTable ct;
        ASSERT_EQ(FSE_buildCTable(&ct, norm, maxSymbol, c.tableLog), 0u);
        const size_t stream = FSE_compress_usingCTable(block + header, sizeof block - header,
                                                       src.data(), src.size(), &ct);
        ASSERT_GT(stream, 0u);
        FSE_DTable dt;
        ASSERT_EQ(FSE_buildDTable(&dt, readNorm, readMax, readLog), 0u);
        std::vector<uint8_t> back(src.size());
        ASSERT_EQ(FSE_decompress_usingDTable(back.data(), back.size(), block + header, stream, &dt),
                  src.size());
        EXPECT_EQ(back, src);

        if (!c.codable) continue;
        size_t r;
        const std::vector<uint8_t> coded = compress(src, &r);
        ASSERT_GE(r, 2u);
        ASSERT_EQ(FSE_readNCount(readNorm, &readMax, &readLog, coded.data(), r), header);
        EXPECT_EQ(std::vector<short>(readNorm, readNorm + readMax + 1), c.norm);
        ASSERT_EQ(FSE_decompress(back.data(), back.size(), coded.data(), r), src.size());
        EXPECT_EQ(back, src);
    }
}

}  // namespace
