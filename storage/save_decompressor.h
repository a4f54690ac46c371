// Readers of the rows stored in a saved tree, one row per call in writing order. The fast form
// reads fast-packed rows straight from the file; the slow form (compression/) decodes the
// compressed sub-streams.
#pragma once

#include <cstdint>

#include "storage/binary_io.h"

class SaveDecompressor {
public:
    virtual ~SaveDecompressor() = default;
    // Read the next row of n values; reference is the row the writer coded against, or null.
    // Throw IOException on malformed rows.
    virtual void readRow(uint32_t* out, const uint32_t* reference, int32_t n) = 0;
    virtual void readRow16(uint16_t* out, const uint16_t* reference, int32_t n) = 0;
};

// Reads one stored fast-packed 16-bit row of n values: i16 byte count b, then b bytes (none when
// b <= 0). Throws IOException "invalid file (...)" when b <= 0 while n > 0, b exceeds 4096, or
// the row needs more than b bytes; reader failures propagate.
void ReadPackedRow16(BinaryReader& in, uint16_t* out, int32_t n);

// Stored row: i16 byte count b (little-endian), then b bytes of the fast-packed row.
class FastSaveDecompressor final : public SaveDecompressor {
public:
    // Largest stored row: a packed row of 1326 values needs at most 6,630 bytes (32-bit) and
    // 2,695 (16-bit).
    static constexpr int kMaxRowBytes32 = 8192;
    static constexpr int kMaxRowBytes16 = 4096;

    // The reader is not owned.
    explicit FastSaveDecompressor(BinaryReader* in) : in_(in) {}

    // n <= 0 reads nothing; the reference is ignored. Throws IOException "invalid file (...)"
    // when b is not positive, b exceeds the row buffer, or the row needs more than b bytes;
    // reader failures propagate.
    void readRow(uint32_t* out, const uint32_t* reference, int32_t n) override;
    void readRow16(uint16_t* out, const uint16_t* reference, int32_t n) override;

private:
    BinaryReader* in_;
};
