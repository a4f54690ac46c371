// The bodies of the fuzz targets, shared by the libFuzzer programs (tests/fuzz/*_fuzz.cpp) and
// the corpus replay unit test of the sanitizer build. Each returns 0; a broken property traps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "../compression/memory_streams.h"
#include "compression/fse_block.h"
#include "compression/row_coder.h"

namespace fuzz {

inline void require(bool property) {
    if (!property) __builtin_trap();
}

// FSE_decompress on arbitrary bytes: two bytes of capacity, then the block. The destination is
// exactly capacity bytes, so the sanitizer sees any write past it; the result is an error or a
// count within the capacity.
inline int fse_decompress(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t capacity = data[0] | (static_cast<size_t>(data[1]) << 8);
    std::unique_ptr<uint8_t[]> dst(new uint8_t[capacity]);
    const size_t r = FSE_decompress(dst.get(), capacity, data + 2, size - 2);
    require(FSE_isError(r) || r <= capacity);
    return 0;
}

// Compress then decompress: a coded block is at most size - 2 bytes and decodes to exactly the
// source; 1 means every byte is the same.
inline int fse_round_trip(const uint8_t* data, size_t size) {
    if (size > 65536) size = 65536;
    std::vector<uint8_t> block(FSE_compressBound(size));
    const size_t r = FSE_compress(block.data(), block.size(), data, size);
    require(!FSE_isError(r));
    if (r == 1) {
        for (size_t i = 1; i < size; i++) require(data[i] == data[0]);
    } else if (r >= 2) {
        require(r <= size - 2);
        std::unique_ptr<uint8_t[]> back(new uint8_t[size]);
        require(FSE_decompress(back.get(), size, block.data(), r) == size);
        require(std::memcmp(back.get(), data, size) == 0);
    }
    return 0;
}

// The row decoder over fuzzer-made sub-streams. Layout: flags (bit 0: 16-bit rows, bit 1: with
// a reference row), u16 row length (taken modulo 1327), row count (modulo 16), then for each of
// the 24 sub-streams a u16 length and that many bytes (cut at the end of the input). The kind
// byte 2 is put in front of sub-stream 0. Reads past a sub-stream and corrupt blocks reach the
// throwing report; nothing else may happen.
inline int row_decoder(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const bool narrow = data[0] & 1, withRef = data[0] & 2;
    const int n = (data[1] | (data[2] << 8)) % (kMaxRowLength + 1);
    const int rows = data[3] % 16;
    // Bits 2-3 of the flags: 0 FSE (the older seeds), 1 range, 2 fast, 3 FSE.
    const int kindBits = (data[0] >> 2) & 3;
    MemoryStreams ms;
    ms.streams[0].push_back(static_cast<uint8_t>(kindBits == 0 ? kFSECoder : kindBits - 1));
    size_t at = 4;
    for (int s = 0; s < 24 && at + 2 <= size; s++) {
        size_t length = data[at] | (static_cast<size_t>(data[at + 1]) << 8);
        at += 2;
        if (length > size - at) length = size - at;
        ms.streams[s].insert(ms.streams[s].end(), data + at, data + at + length);
        at += length;
    }
    DecompressorInterface* d = nullptr;
    try {
        d = MakeDecompressor(MemoryStreams::read, &ms, throwing_report);
    } catch (const CorruptInput&) {
        return 0;  // a range stream's magic or count table is damaged
    }
    require(d != nullptr);
    std::vector<uint32_t> out32(static_cast<size_t>(n) + 1), ref32(static_cast<size_t>(n) + 1);
    std::vector<uint16_t> out16(static_cast<size_t>(n) + 1), ref16(static_cast<size_t>(n) + 1);
    for (int i = 0; i < n; i++) {
        ref32[i] = static_cast<uint32_t>(i) * 2654435761u;
        ref16[i] = static_cast<uint16_t>(ref32[i] >> 16);
    }
    try {
        for (int r = 0; r < rows; r++) {
            if (narrow)
                DecompressRow16(d, out16.data(), withRef ? ref16.data() : nullptr, n);
            else
                DecompressRow32(d, out32.data(), withRef ? ref32.data() : nullptr, n);
        }
    } catch (const CorruptInput&) {
    }
    DeleteDecompressor(d);
    return 0;
}

}  // namespace fuzz
