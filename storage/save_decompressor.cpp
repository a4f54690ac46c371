#include "storage/save_decompressor.h"

#include "storage/row_packing.h"

namespace {

// Reads the byte count and the packed bytes of one stored row into buffer; returns b.
int32_t ReadStoredRow(BinaryReader& in, uint8_t* buffer, int32_t capacity) {
    const int16_t b = ReadValue<int16_t>(in);
    if (b <= 0) throw IOException("invalid file (row byte count)");
    if (b > capacity) throw IOException("invalid file (row byte count)");
    in.read(buffer, size_t(b));
    return b;
}

}  // namespace

void FastSaveDecompressor::readRow(uint32_t* out, const uint32_t*, int32_t n) {
    if (n <= 0) return;
    uint8_t buffer[kMaxRowBytes32];
    const int32_t b = ReadStoredRow(*in_, buffer, kMaxRowBytes32);
    if (UnpackRow32Checked(out, n, buffer, buffer + b) == nullptr) {
        throw IOException("invalid file (packed row)");
    }
}

void FastSaveDecompressor::readRow16(uint16_t* out, const uint16_t*, int32_t n) {
    if (n <= 0) return;
    ReadPackedRow16(*in_, out, n);
}

void ReadPackedRow16(BinaryReader& in, uint16_t* out, int32_t n) {
    constexpr int32_t kCapacity = FastSaveDecompressor::kMaxRowBytes16;
    if (n <= 0) {
        // An empty row still carries its count, and any bytes it names.
        const int16_t b = ReadValue<int16_t>(in);
        if (b > kCapacity) throw IOException("invalid file (row byte count)");
        uint8_t skip[kCapacity];
        if (b > 0) in.read(skip, size_t(b));
        return;
    }
    uint8_t buffer[kCapacity];
    const int32_t b = ReadStoredRow(in, buffer, kCapacity);
    if (UnpackRow16Checked(out, n, buffer, buffer + b) == nullptr) {
        throw IOException("invalid file (packed row)");
    }
}
