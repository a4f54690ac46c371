// The FSE row decoder (kind 2): reads the sub-streams the FSE row coder writes (layout in
// fse_row_coder.h) and rebuilds 32-bit and 16-bit rows itself.
#pragma once

#include <cstdint>

#include "compression/fse_row_coder.h"
#include "compression/row_coder.h"

class FSEDecompressor : public DecompressorInterface {
public:
    // Takes ownership of sink (its report must be set).
    explicit FSEDecompressor(SubstreamSink* sink);
    ~FSEDecompressor() override;
    FSEDecompressor(const FSEDecompressor&) = delete;
    FSEDecompressor& operator=(const FSEDecompressor&) = delete;

    // Rows must be read with the n and reference row they were written with, in writing order.
    // A tag is ignored without ref; with ref any nonzero tag means predicted. Returns the tag.
    uint32_t decompress(uint32_t* out, const uint32_t* ref, int32_t n) override;
    uint32_t decompress16(uint16_t* out, const uint16_t* ref, int32_t n) override;
    bool rebuildsRows() const override { return true; }
    NLHE_CODER_CACHED_ALLOCATION

private:
    struct Slot {
        uint32_t position;  // next byte of the buffer to take
        uint32_t end;       // bytes the current block holds; position == end: read the next
        uint8_t* buffer;    // 65536 bytes
        uint32_t substream;
    };

    uint8_t takeByte(uint32_t slot) {
        Slot& s = slots_[slot];
        if (s.position >= s.end) refillSlot(slot);
        return s.buffer[s.position++];
    }
    // Reads the next block of the slot's sub-stream. A corrupt block (rawCount outside 1 to
    // 65536, compressedSize above 66560, or a coded payload that does not decode to exactly
    // rawCount bytes) goes to the sink's report.
    void refillSlot(uint32_t slot);
    // One value b in context c whose context slot needs a refill, or whose first byte was 255.
    uint32_t readValue(uint32_t& context);
    uint32_t readEscape(uint32_t byte, uint32_t& context);
    template <typename T>
    uint32_t decodeRow(T* out, const T* ref, int32_t n);
    // The groups of one row; sum is the value the rebuilding starts from.
    template <bool kPredicted, typename T>
    void decodeGroups(T* out, const T* ref, int32_t n, uint32_t sum);

    SubstreamSink* sink_;
    Slot slots_[kFSESubstreams];
    uint8_t* coded_;  // one block's coded bytes, reused
};

// Called by MakeDecompressor for kind 2.
DecompressorInterface* NewFSEDecompressor(SubstreamSink* sink);
