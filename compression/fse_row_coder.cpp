#include "compression/fse_row_coder.h"

#include <immintrin.h>

#include <cstring>

#include "compression/coder_buffer.h"
#include "compression/fse_block.h"

FSECompressor::FSECompressor(SubstreamSink* sink, CompressionStats* stats)
    : sink_(sink), stats_(stats ? stats : &ownStats_) {
    for (int i = 0; i < kFSESubstreams; i++) {
        slots_[i].count = 0;
        slots_[i].buffer = static_cast<uint8_t*>(coder_buffer_alloc(kFSESlotSize));
        slots_[i].substream = static_cast<uint32_t>(i);
    }
    destination_ = static_cast<uint8_t*>(coder_buffer_alloc(kFSEMaxBlockSize));
}

FSECompressor::~FSECompressor() {
    for (uint32_t i = 0; i < kFSESubstreams; i++)
        if (slots_[i].count > 0) flushSlot(i);
    delete sink_;
    for (Slot& s : slots_) coder_buffer_free(s.buffer, kFSESlotSize);
    coder_buffer_free(destination_, kFSEMaxBlockSize);
}

void FSECompressor::flushSlot(uint32_t slot) {
    Slot& s = slots_[slot];
    const size_t r = FSE_compress(destination_, kFSEMaxBlockSize, s.buffer, s.count);
    const int32_t compressedSize = static_cast<int32_t>(static_cast<uint32_t>(r));
    uint8_t header[8];
    std::memcpy(header, &s.count, 4);
    std::memcpy(header + 4, &compressedSize, 4);
    const int32_t ss = static_cast<int32_t>(s.substream);
    sink_->callback(sink_->ctx, ss, header, 8);
    if (compressedSize > 1)
        sink_->callback(sink_->ctx, ss, destination_, compressedSize);
    else if (compressedSize == 1)
        sink_->callback(sink_->ctx, ss, s.buffer, 1);
    else
        sink_->callback(sink_->ctx, ss, s.buffer, static_cast<int32_t>(s.count));
    s.count = 0;
}

uint32_t FSECompressor::writeSymbolSlow(uint32_t b, uint32_t context) {
    if (b < 255) {
        put(2 + context, static_cast<uint8_t>(b));
        return b < 15 ? b : 15;
    }
    put(2 + context, 255);
    if (b < 65535) {
        put(18, static_cast<uint8_t>(b));
        put(19, static_cast<uint8_t>(b >> 8));
    } else {
        put(18, 0xFF);
        put(19, 0xFF);
        put(20, static_cast<uint8_t>(b));
        put(21, static_cast<uint8_t>(b >> 8));
        put(22, static_cast<uint8_t>(b >> 16));
        put(23, static_cast<uint8_t>(b >> 24));
    }
    if (static_cast<int32_t>(b) > stats_->largestEscaped)
        stats_->largestEscaped = static_cast<int32_t>(b);
    return 15;
}

void FSECompressor::compress(const uint32_t* values, int32_t n, uint32_t tag) {
    put(0, static_cast<uint8_t>(tag));
    uint32_t context = 0;
    // One nonzero value: the common case is a single byte store into the context slot.
    auto code = [&](uint32_t z) {
        const uint32_t b = z - 1;
        Slot& s = slots_[2 + context];
        if (b < 255 && s.count < kFSESlotSize - 1) {
            s.buffer[s.count++] = static_cast<uint8_t>(b);
            context = b < 15 ? b : 15;
        } else {
            context = writeSymbolSlow(b, context);
        }
    };
    int32_t i = 0;
    const __m256i zero = _mm256_setzero_si256();
    for (; i + 8 <= n; i += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + i));
        const uint32_t zeroMask = static_cast<uint32_t>(
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(v, zero))));
        const uint32_t mask = ~zeroMask & 0xFFu;
        for (uint32_t m = mask; m; m &= m - 1) code(values[i + __builtin_ctz(m)]);
        put(1, static_cast<uint8_t>(mask));
    }
    if (i < n) {
        uint32_t mask = 0;
        for (int32_t j = 0; i + j < n; j++) {
            if (values[i + j] == 0) continue;
            mask |= 1u << j;
            code(values[i + j]);
        }
        put(1, static_cast<uint8_t>(mask));
    }
    stats_->rows += 1;
    stats_->rawBytes += 4 * static_cast<uint64_t>(n > 0 ? n : 0);
    if (tag != 0) stats_->predictedRows += 1;
}

CompressorInterface* NewFSECompressor(SubstreamSink* sink, CompressionStats* stats) {
    return new FSECompressor(sink, stats);
}
