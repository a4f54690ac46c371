// The FSE row coder (kind 2), the one row format this system writes. Each row is split by byte
// role over 24 sub-streams:
//   0       one tag byte per row
//   1       one mask byte per group of eight values (last partial group included); bit j set
//           when value j of the group is nonzero
//   2 + c   value bytes of the nonzero codes z coded in context c (0 to 15): b = z - 1 when
//           b < 255, else 255 (escape); the context starts at 0 in every row and becomes
//           min(b, 15), or 15 after an escape
//   18, 19  per escape: low and high byte of b when b < 65535, else 0xFF, 0xFF
//   20..23  per escape with b >= 65535: bytes 0 to 3 of b
// Each sub-stream is a concatenation of blocks {u32 rawCount (1 to 65536), i32 compressedSize,
// payload}, little-endian: compressedSize > 1: that many FSE-coded bytes; 1: one byte that fills
// rawCount bytes; <= 0: rawCount raw bytes. Every block but a sub-stream's last holds 65536.
#pragma once

#include <cstdint>

#include "compression/row_coder.h"

constexpr int kFSESubstreams = 24;
constexpr uint32_t kFSESlotSize = 65536;
// FSE_compressBound(65536): the largest compressedSize a block may have.
constexpr int32_t kFSEMaxBlockSize = 66560;

class FSECompressor : public CompressorInterface {
public:
    // Takes ownership of sink; stats is not owned (null: the coder keeps its own).
    FSECompressor(SubstreamSink* sink, CompressionStats* stats);
    // Writes the last block of every non-empty slot in slot order, then frees everything.
    ~FSECompressor() override;
    FSECompressor(const FSECompressor&) = delete;
    FSECompressor& operator=(const FSECompressor&) = delete;

    void compress(const uint32_t* values, int32_t n, uint32_t tag) override;
    NLHE_CODER_CACHED_ALLOCATION

private:
    struct Slot {
        uint32_t count;   // bytes buffered, below 65536 between operations
        uint8_t* buffer;  // 65536 bytes
        uint32_t substream;
    };

    // Out-of-line path of one value b in context c: escapes and a nearly full context slot.
    uint32_t writeSymbolSlow(uint32_t b, uint32_t context);
    void put(uint32_t slot, uint8_t byte) {
        Slot& s = slots_[slot];
        s.buffer[s.count++] = byte;
        if (s.count == kFSESlotSize) flushSlot(slot);
    }
    // Writes the slot's bytes as one block and empties it.
    void flushSlot(uint32_t slot);

    SubstreamSink* sink_;
    CompressionStats* stats_;
    CompressionStats ownStats_{};
    Slot slots_[kFSESubstreams];
    uint8_t* destination_;  // FSE_compressBound(65536) bytes, reused by every block
};

// Called by MakeCompressor for kind 2.
CompressorInterface* NewFSECompressor(SubstreamSink* sink, CompressionStats* stats);
