// The slow reader of a saved tree's coded rows: a compressed block of 24 {u64 length, bytes}
// pairs (sub-streams 0 to 23 of one row coder pass, little-endian lengths, each pair right after
// the previous one), read whole before any row; sub-stream 0 starts with the kind byte.
#pragma once

#include <cstdint>
#include <vector>

#include "compression/row_coder.h"
#include "storage/binary_io.h"
#include "storage/save_decompressor.h"

class SlowSaveDecompressor final : public SaveDecompressor {
public:
    // Bytes read per allocation step: a length the source cannot back ends in the source's read
    // error after at most this much memory beyond the bytes actually read.
    static constexpr size_t kReadChunk = size_t{4} << 20;

    // Reads the 24 sub-streams and builds their decoder. Throws IOException: the reader's own
    // errors, and "invalid file (compressed block)" for an unknown kind byte or a damaged
    // kind-0 header.
    explicit SlowSaveDecompressor(BinaryReader& in);
    ~SlowSaveDecompressor() override;
    SlowSaveDecompressor(const SlowSaveDecompressor&) = delete;
    SlowSaveDecompressor& operator=(const SlowSaveDecompressor&) = delete;

    // n <= 0 reads nothing and leaves out alone. Throws IOException "invalid file (compressed
    // block)" when a row needs bytes past a sub-stream's end or its block is corrupt, and
    // "invalid file (row length)" for n above 1326. Rows must come with the n and reference row
    // they were written with; 16-bit rows of kinds 0 and 1 decode as narrowed 32-bit rows.
    void readRow(uint32_t* out, const uint32_t* reference, int32_t n) override;
    void readRow16(uint16_t* out, const uint16_t* reference, int32_t n) override;

    // The decoders' callback: the next length bytes of block k, bounds checked.
    static void readBlock(void* ctx, int32_t k, void* data, int32_t length);

private:
    std::vector<uint8_t> blocks_[24];
    uint64_t cursors_[24] = {};
    DecompressorInterface* decoder_ = nullptr;
};
