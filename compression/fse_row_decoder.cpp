#include "compression/fse_row_decoder.h"

#include <cstring>

#include "compression/coder_buffer.h"
#include "compression/fse_block.h"

FSEDecompressor::FSEDecompressor(SubstreamSink* sink) : sink_(sink) {
    for (int i = 0; i < kFSESubstreams; i++) {
        slots_[i].position = 0;
        slots_[i].end = 0;
        slots_[i].buffer = static_cast<uint8_t*>(coder_buffer_alloc(kFSESlotSize));
        slots_[i].substream = static_cast<uint32_t>(i);
    }
    coded_ = static_cast<uint8_t*>(coder_buffer_alloc(kFSEMaxBlockSize));
}

FSEDecompressor::~FSEDecompressor() {
    delete sink_;
    for (Slot& s : slots_) coder_buffer_free(s.buffer, kFSESlotSize);
    coder_buffer_free(coded_, kFSEMaxBlockSize);
}

void FSEDecompressor::refillSlot(uint32_t slot) {
    Slot& s = slots_[slot];
    const int32_t ss = static_cast<int32_t>(s.substream);
    uint8_t header[8];
    sink_->callback(sink_->ctx, ss, header, 8);
    uint32_t rawCount;
    int32_t compressedSize;
    std::memcpy(&rawCount, header, 4);
    std::memcpy(&compressedSize, header + 4, 4);
    bool corrupt = rawCount < 1 || rawCount > kFSESlotSize || compressedSize > kFSEMaxBlockSize;
    if (!corrupt) {
        if (compressedSize > 1) {
            sink_->callback(sink_->ctx, ss, coded_, compressedSize);
            const size_t r =
                FSE_decompress(s.buffer, rawCount, coded_, static_cast<size_t>(compressedSize));
            corrupt = FSE_isError(r) || r != rawCount;
        } else if (compressedSize == 1) {
            sink_->callback(sink_->ctx, ss, s.buffer, 1);
            std::memset(s.buffer + 1, s.buffer[0], rawCount - 1);
        } else {
            sink_->callback(sink_->ctx, ss, s.buffer, static_cast<int32_t>(rawCount));
        }
    }
    if (corrupt) {
        sink_->report(sink_->ctx);
        // A report that returns gets zeros, never stale or out-of-bounds bytes.
        std::memset(s.buffer, 0, kFSESlotSize);
        rawCount = kFSESlotSize;
    }
    s.position = 0;
    s.end = rawCount;
}

uint32_t FSEDecompressor::readEscape(uint32_t byte, uint32_t& context) {
    if (byte < 255) {
        context = byte < 15 ? byte : 15;
        return byte;
    }
    context = 15;
    const uint32_t lo = takeByte(18);
    const uint32_t hi = takeByte(19);
    const uint32_t v = lo | (hi << 8);
    if (v < 65535) return v;
    const uint32_t b0 = takeByte(20);
    const uint32_t b1 = takeByte(21);
    const uint32_t b2 = takeByte(22);
    const uint32_t b3 = takeByte(23);
    return b0 | (b1 << 8) | (b2 << 16) | (b3 << 24);
}

uint32_t FSEDecompressor::readValue(uint32_t& context) {
    return readEscape(takeByte(2 + context), context);
}

// With S_i the running sum of the residuals, the rebuilding rule gives out[i] = ref[i] + S_i for
// a predicted row and out[i] = ref[0] + S_i (or S_i without ref) otherwise, modulo 2^32.
template <bool kPredicted, typename T>
void FSEDecompressor::decodeGroups(T* out, const T* ref, int32_t n, uint32_t sum) {
    uint32_t context = 0;
    for (int32_t start = 0; start < n; start += 8) {
        const int32_t count = n - start < 8 ? n - start : 8;
        uint32_t mask = takeByte(1) & ((1u << count) - 1);  // bits past the row are ignored
        if (mask == 0) {                                    // the rule alone fills the group
            for (int32_t j = 0; j < count; j++)
                out[start + j] = static_cast<T>(kPredicted ? ref[start + j] + sum : sum);
            continue;
        }
        uint32_t residual[8] = {};
        for (; mask; mask &= mask - 1) {
            const int j = __builtin_ctz(mask);
            Slot& s = slots_[2 + context];
            uint32_t b;
            if (s.position < s.end && s.buffer[s.position] < 255) {
                b = s.buffer[s.position++];
                context = b < 15 ? b : 15;
            } else {
                b = readValue(context);
            }
            const uint32_t z = b + 1;
            residual[j] = (z >> 1) ^ (0u - (z & 1));
        }
        for (int32_t j = 0; j < count; j++) {
            sum += residual[j];
            out[start + j] = static_cast<T>(kPredicted ? ref[start + j] + sum : sum);
        }
    }
}

template <typename T>
uint32_t FSEDecompressor::decodeRow(T* out, const T* ref, int32_t n) {
    const uint32_t tag = takeByte(0);
    if (n <= 0) return tag;
    if (ref != nullptr && tag != 0)
        decodeGroups<true>(out, ref, n, 0);
    else
        decodeGroups<false>(out, ref, n, ref ? static_cast<uint32_t>(ref[0]) : 0u);
    return tag;
}

uint32_t FSEDecompressor::decompress(uint32_t* out, const uint32_t* ref, int32_t n) {
    return decodeRow(out, ref, n);
}

uint32_t FSEDecompressor::decompress16(uint16_t* out, const uint16_t* ref, int32_t n) {
    return decodeRow(out, ref, n);
}

DecompressorInterface* NewFSEDecompressor(SubstreamSink* sink) {
    return new FSEDecompressor(sink);
}
