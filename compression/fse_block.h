// Finite State Entropy (tabled ANS) block coder for byte blocks: a normalised-count header in
// the FSE table description format of RFC 8878 section 4.1.1, then a backwards-read bit stream
// carrying two interleaved coder states. Symbols are bytes; table logs 5 to 12, default 11.
// Nothing here allocates, prints or keeps state: every function is reentrant and keeps its
// working tables on the stack (about 12 KB to code, 17 KB to decode).
#pragma once

#include <cstddef>
#include <cstdint>

// Results are sizes; an error is the two's complement negative of its number (-1 ... -7).
enum FSE_ErrorCode : int {
    FSE_OK_NoError = 0,
    FSE_ERROR_GENERIC = 1,
    FSE_ERROR_tableLog_tooLarge = 2,
    FSE_ERROR_maxSymbolValue_tooLarge = 3,
    FSE_ERROR_maxSymbolValue_tooSmall = 4,
    FSE_ERROR_dstSize_tooSmall = 5,
    FSE_ERROR_srcSize_wrong = 6,
    FSE_ERROR_corruptionDetected = 7,
    FSE_ERROR_maxCode = 8,  // end of the list, not an error
};

constexpr unsigned FSE_MAX_SYMBOL_VALUE = 255;
constexpr unsigned FSE_MIN_TABLELOG = 5;
constexpr unsigned FSE_MAX_TABLELOG = 12;
constexpr unsigned FSE_DEFAULT_TABLELOG = 11;
constexpr unsigned FSE_MAX_TABLESIZE = 1u << FSE_MAX_TABLELOG;

// size + size/128 + 512: the destination that always holds a block of size source bytes.
constexpr size_t FSE_compressBound(size_t size) {
    return size + (size >> 7) + 512;
}

// True exactly for the results -1 ... -7.
constexpr bool FSE_isError(size_t result) {
    return result > static_cast<size_t>(-8);
}

// The error's name, or "Unspecified error code" for any result that is not an error.
const char* FSE_getErrorName(size_t result);

// FSE_compress2 with maxSymbolValue 255 and tableLog 11; srcSize is taken as 32 bits.
size_t FSE_compress(void* dst, size_t dstCapacity, const void* src, size_t srcSize);

// Codes src into dst. Returns 0 when the block is not worth coding (fewer than 2 bytes, no byte
// value repeated, the largest count below srcSize/128, a block of srcSize - 1 bytes or more, or
// a bit stream that does not fit; dst may then be partly written), 1 when every byte is the
// same (dst untouched), else the block size n <= srcSize - 2. Errors only for invalid
// parameters or a destination too small for the header. 0 parameters mean 255 and 11.
size_t FSE_compress2(void* dst, size_t dstCapacity, const void* src, size_t srcSize,
                     unsigned maxSymbolValue, unsigned tableLog);

// Decodes one block of srcSize bytes into at most dstCapacity bytes; returns the count decoded
// (the block does not record it) or an error. Never writes past dstCapacity.
size_t FSE_decompress(void* dst, size_t dstCapacity, const void* src, size_t srcSize);

// Stages, in calling order.

// Byte histogram over src: count[0 ... *maxSymbolValue] (0 means 255); lowers *maxSymbolValue to
// the largest byte present and returns the largest count. A byte above a given maximum below
// 255 is GENERIC.
size_t FSE_count(unsigned* count, unsigned* maxSymbolValue, const void* src, size_t srcSize);

// The table log for srcSize bytes over symbols 0 ... maxSymbolValue, within 5 ... 12.
unsigned FSE_optimalTableLog(unsigned maxTableLog, size_t srcSize, unsigned maxSymbolValue);

// Scales count[0 ... maxSymbolValue] (summing to total) to norm summing to 2^tableLog, with -1
// for present symbols below one cell. Returns tableLog, 0 when one symbol holds everything, or
// GENERIC for a table log outside 5 ... 12 or too small for the data.
size_t FSE_normalizeCount(short* norm, unsigned tableLog, const unsigned* count, size_t total,
                          unsigned maxSymbolValue);

// How often the second normalisation method ran in this process (a diagnostic for tests).
uint64_t FSE_secondMethodCount();

// Writes the header of norm; returns its size, GENERIC for bad counts or table log,
// dstSize_tooSmall when it does not fit.
size_t FSE_writeNCount(void* dst, size_t dstCapacity, const short* norm, unsigned maxSymbolValue,
                       unsigned tableLog);

// Reads a header from src (srcSize bytes, at least 4): fills norm[0 ... 255], sets the last
// symbol read and the table log, returns the header size or an error.
size_t FSE_readNCount(short* norm, unsigned* maxSymbolValue, unsigned* tableLog, const void* src,
                      size_t srcSize);

// Encoding table: next states ordered by symbol, and the per-symbol transform.
struct FSE_CTable {
    uint32_t tableLog;
    uint32_t maxSymbolValue;
    uint16_t nextState[FSE_MAX_TABLESIZE];
    struct Transform {
        int32_t deltaFindState;
        uint32_t deltaNbBits;
    } symbolTT[FSE_MAX_SYMBOL_VALUE + 1];
};

// Decoding table: 2^tableLog cells; fastMode 1 when every cell reads at least one bit.
struct FSE_DTable {
    uint16_t tableLog;
    uint16_t fastMode;
    struct Cell {
        uint16_t newState;
        uint8_t symbol;
        uint8_t nbBits;
    } cells[FSE_MAX_TABLESIZE];
};

// Both return 0, or GENERIC for counts that do not fill the table exactly,
// maxSymbolValue_tooLarge above 255 and tableLog_tooLarge above 12.
size_t FSE_buildCTable(FSE_CTable* ct, const short* norm, unsigned maxSymbolValue,
                       unsigned tableLog);
size_t FSE_buildDTable(FSE_DTable* dt, const short* norm, unsigned maxSymbolValue,
                       unsigned tableLog);

// Codes src (srcSize >= 1) as a bit stream; returns its size, or 0 when it does not fit.
size_t FSE_compress_usingCTable(void* dst, size_t dstCapacity, const void* src, size_t srcSize,
                                const FSE_CTable* ct);

// Decodes a bit stream; the count when it is used up exactly with both states back at 0,
// else dstSize_tooSmall (destination full) or corruptionDetected.
size_t FSE_decompress_usingDTable(void* dst, size_t dstCapacity, const void* src, size_t srcSize,
                                  const FSE_DTable* dt);
