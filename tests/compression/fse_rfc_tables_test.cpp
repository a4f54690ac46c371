// Checks the header format and the table construction against the public description the block
// coder follows: RFC 8878 (Zstandard), section 4.1.1 (FSE table description) and Appendix A
// (decoding tables of the predefined distributions).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "byte_sources.h"
#include "compression/fse_block.h"
#include "rfc_header_reader.h"

namespace {

// Compares the RFC reader and the product's reader on one header, and both with norm.
void expect_same_reading(const uint8_t* header, size_t size, const short* norm, unsigned maxSymbol,
                         unsigned tableLog) {
    const RfcHeader rfc = rfc_read_header(header, size);
    ASSERT_TRUE(rfc.ok);
    short read[256];
    unsigned readMax = 255, readLog = 0;
    const size_t bytes = FSE_readNCount(read, &readMax, &readLog, header, size);
    ASSERT_FALSE(FSE_isError(bytes)) << FSE_getErrorName(bytes);
    EXPECT_EQ(bytes, rfc.bytes);
    EXPECT_EQ(readLog, static_cast<unsigned>(rfc.accuracyLog));
    EXPECT_EQ(readLog, tableLog);
    ASSERT_EQ(readMax + 1, rfc.probabilities.size());
    ASSERT_EQ(readMax, maxSymbol);
    for (unsigned s = 0; s <= readMax; s++) {
        ASSERT_EQ(read[s], rfc.probabilities[s]) << "symbol " << s;
        ASSERT_EQ(read[s], norm[s]) << "symbol " << s;
    }
}

TEST(FseRfcTables, PredefinedDistributionsGiveTheAppendixTables) {
    struct Cell {
        int symbol, bits, base;
    };
    // Appendix A, "Literal Length Code" (accuracy log 6).
    const short ll[36] = {4, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1, 1,  1,  2,  2,
                          2, 2, 2, 2, 2, 2, 2, 3, 2, 1, 1, 1, 1, 1, -1, -1, -1, -1};
    const Cell llTable[64] = {
        {0, 4, 0},   {0, 4, 16},  {1, 5, 32},  {3, 5, 0},   {4, 5, 0},   {6, 5, 0},   {7, 5, 0},
        {9, 5, 0},   {10, 5, 0},  {12, 5, 0},  {14, 6, 0},  {16, 5, 0},  {18, 5, 0},  {19, 5, 0},
        {21, 5, 0},  {22, 5, 0},  {24, 5, 0},  {25, 5, 32}, {26, 5, 0},  {27, 6, 0},  {29, 6, 0},
        {31, 6, 0},  {0, 4, 32},  {1, 4, 0},   {2, 5, 0},   {4, 5, 32},  {5, 5, 0},   {7, 5, 32},
        {8, 5, 0},   {10, 5, 32}, {11, 5, 0},  {13, 6, 0},  {16, 5, 32}, {17, 5, 0},  {19, 5, 32},
        {20, 5, 0},  {22, 5, 32}, {23, 5, 0},  {25, 4, 0},  {25, 4, 16}, {26, 5, 32}, {28, 6, 0},
        {30, 6, 0},  {0, 4, 48},  {1, 4, 16},  {2, 5, 32},  {3, 5, 32},  {5, 5, 32},  {6, 5, 32},
        {8, 5, 32},  {9, 5, 32},  {11, 5, 32}, {12, 5, 32}, {15, 6, 0},  {17, 5, 32}, {18, 5, 32},
        {20, 5, 32}, {21, 5, 32}, {23, 5, 32}, {24, 5, 32}, {35, 6, 0},  {34, 6, 0},  {33, 6, 0},
        {32, 6, 0}};
    // "Match Length Code" (accuracy log 6).
    short ml[53];
    for (int i = 0; i < 53; i++) ml[i] = i < 46 ? 1 : -1;
    const short mlHead[9] = {1, 4, 3, 2, 2, 2, 2, 2, 2};
    std::memcpy(ml, mlHead, sizeof mlHead);
    const Cell mlTable[64] = {
        {0, 6, 0},  {1, 4, 0},  {2, 5, 32}, {3, 5, 0},  {5, 5, 0},  {6, 5, 0},  {8, 5, 0},
        {10, 6, 0}, {13, 6, 0}, {16, 6, 0}, {19, 6, 0}, {22, 6, 0}, {25, 6, 0}, {28, 6, 0},
        {31, 6, 0}, {33, 6, 0}, {35, 6, 0}, {37, 6, 0}, {39, 6, 0}, {41, 6, 0}, {43, 6, 0},
        {45, 6, 0}, {1, 4, 16}, {2, 4, 0},  {3, 5, 32}, {4, 5, 0},  {6, 5, 32}, {7, 5, 0},
        {9, 6, 0},  {12, 6, 0}, {15, 6, 0}, {18, 6, 0}, {21, 6, 0}, {24, 6, 0}, {27, 6, 0},
        {30, 6, 0}, {32, 6, 0}, {34, 6, 0}, {36, 6, 0}, {38, 6, 0}, {40, 6, 0}, {42, 6, 0},
        {44, 6, 0}, {1, 4, 32}, {1, 4, 48}, {2, 4, 16}, {4, 5, 32}, {5, 5, 32}, {7, 5, 32},
        {8, 5, 32}, {11, 6, 0}, {14, 6, 0}, {17, 6, 0}, {20, 6, 0}, {23, 6, 0}, {26, 6, 0},
        {29, 6, 0}, {52, 6, 0}, {51, 6, 0}, {50, 6, 0}, {49, 6, 0}, {48, 6, 0}, {47, 6, 0},
        {46, 6, 0}};
    // "Offset Code" (accuracy log 5).
    const short of[29] = {1, 1, 1, 1, 1, 1, 2, 2, 2, 1,  1,  1,  1,  1, 1,
                          1, 1, 1, 1, 1, 1, 1, 1, 1, -1, -1, -1, -1, -1};
    const Cell ofTable[32] = {
        {0, 5, 0},  {6, 4, 0},  {9, 5, 0},  {15, 5, 0}, {21, 5, 0}, {3, 5, 0},  {7, 4, 0},
        {12, 5, 0}, {18, 5, 0}, {23, 5, 0}, {5, 5, 0},  {8, 4, 0},  {14, 5, 0}, {20, 5, 0},
        {2, 5, 0},  {7, 4, 16}, {11, 5, 0}, {17, 5, 0}, {22, 5, 0}, {4, 5, 0},  {8, 4, 16},
        {13, 5, 0}, {19, 5, 0}, {1, 5, 0},  {6, 4, 16}, {10, 5, 0}, {16, 5, 0}, {28, 5, 0},
        {27, 5, 0}, {26, 5, 0}, {25, 5, 0}, {24, 5, 0}};

    struct Case {
        const char* name;
        const short* norm;
        unsigned maxSymbol, log;
        const Cell* table;
    } cases[] = {{"literal length", ll, 35, 6, llTable},
                 {"match length", ml, 52, 6, mlTable},
                 {"offset", of, 28, 5, ofTable}};
    for (const Case& c : cases) {
        FSE_DTable dt;
        ASSERT_EQ(FSE_buildDTable(&dt, c.norm, c.maxSymbol, c.log), 0u) << c.name;
        for (unsigned state = 0; state < (1u << c.log); state++) {
            EXPECT_EQ(dt.cells[state].symbol, c.table[state].symbol) << c.name << " " << state;
            EXPECT_EQ(dt.cells[state].nbBits, c.table[state].bits) << c.name << " " << state;
            EXPECT_EQ(dt.cells[state].newState, c.table[state].base) << c.name << " " << state;
        }
        // The headers of these distributions read back the same both ways.
        uint8_t header[64];
        const size_t size = FSE_writeNCount(header, sizeof header, c.norm, c.maxSymbol, c.log);
        ASSERT_FALSE(FSE_isError(size));
        expect_same_reading(header, size, c.norm, c.maxSymbol, c.log);
    }
}

TEST(FseRfcTables, HandMadeHeadersReadAsTheRfcDescribes) {
    // Zero runs longer than 24, -1 counts, and the table logs 5 and 12.
    std::vector<std::pair<std::vector<short>, unsigned>> cases;
    {
        std::vector<short> n(256, 0);
        n[0] = 30;
        n[100] = -1;
        n[255] = 1;
        cases.push_back({n, 5});
    }
    {
        std::vector<short> n(201, 0);
        n[3] = 4000;
        n[30] = -1;
        n[31] = -1;
        n[60] = 90;
        n[200] = 4;
        cases.push_back({n, 12});
    }
    cases.push_back({std::vector<short>(32, -1), 5});  // every symbol below one cell
    {
        std::vector<short> n(256, 1);  // all 256 symbols, one cell each
        cases.push_back({n, 8});
    }
    for (const auto& [norm, log] : cases) {
        uint8_t header[600];
        const unsigned maxSymbol = static_cast<unsigned>(norm.size() - 1);
        const size_t size = FSE_writeNCount(header, sizeof header, norm.data(), maxSymbol, log);
        ASSERT_FALSE(FSE_isError(size)) << FSE_getErrorName(size);
        expect_same_reading(header, size, norm.data(), maxSymbol, log);
    }
}

TEST(FseRfcTables, HeadersOfCodedBlocksReadAsTheRfcDescribes) {
    std::mt19937_64 rng(11);
    std::vector<uint8_t> dst(FSE_compressBound(65536));
    int checked = 0;
    for (int k = 0; k < 2000; k++) {
        const auto shape = static_cast<byte_sources::Shape>(k % byte_sources::kShapes);
        const std::vector<uint8_t> src =
            byte_sources::make(shape, byte_sources::draw_size(rng, 20000), rng);
        const size_t r = FSE_compress(dst.data(), dst.size(), src.data(), src.size());
        if (r < 2) continue;
        unsigned count[256], maxSymbol = 255;
        FSE_count(count, &maxSymbol, src.data(), src.size());
        const unsigned log = FSE_optimalTableLog(11, src.size(), maxSymbol);
        short norm[256];
        ASSERT_EQ(FSE_normalizeCount(norm, log, count, src.size(), maxSymbol), log);
        expect_same_reading(dst.data(), r, norm, maxSymbol, log);
        checked++;
    }
    EXPECT_GT(checked, 500);
}

}  // namespace
