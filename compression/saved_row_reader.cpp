#include "compression/saved_row_reader.h"

#include <cstring>

namespace {

const char kDamaged[] = "invalid file (compressed block)";

void throwing_report(void*) {
    throw IOException(kDamaged);
}

}  // namespace

SlowSaveDecompressor::SlowSaveDecompressor(BinaryReader& in) {
    for (std::vector<uint8_t>& block : blocks_) {
        uint64_t length = ReadValue<uint64_t>(in);
        // Memory follows the bytes that arrive, never the length as written.
        while (length > 0) {
            const size_t step = length < kReadChunk ? static_cast<size_t>(length) : kReadChunk;
            const size_t at = block.size();
            block.resize(at + step);
            in.read(block.data() + at, step);
            length -= step;
        }
    }
    decoder_ = MakeDecompressor(readBlock, this, throwing_report);
    if (!decoder_) throw IOException(kDamaged);
}

SlowSaveDecompressor::~SlowSaveDecompressor() {
    DeleteDecompressor(decoder_);
}

void SlowSaveDecompressor::readBlock(void* ctx, int32_t k, void* data, int32_t length) {
    auto* self = static_cast<SlowSaveDecompressor*>(ctx);
    if (k < 0 || k >= 24 || length < 0) throw IOException(kDamaged);
    const std::vector<uint8_t>& block = self->blocks_[k];
    uint64_t& cursor = self->cursors_[k];
    if (static_cast<uint64_t>(length) > block.size() - cursor) throw IOException(kDamaged);
    if (length > 0) std::memcpy(data, block.data() + cursor, static_cast<size_t>(length));
    cursor += static_cast<uint64_t>(length);
}

void SlowSaveDecompressor::readRow(uint32_t* out, const uint32_t* reference, int32_t n) {
    if (n <= 0) return;
    if (n > kMaxRowLength) throw IOException("invalid file (row length)");
    DecompressRow32(decoder_, out, reference, n);
}

void SlowSaveDecompressor::readRow16(uint16_t* out, const uint16_t* reference, int32_t n) {
    if (n <= 0) return;
    if (n > kMaxRowLength) throw IOException("invalid file (row length)");
    DecompressRow16(decoder_, out, reference, n);
}
