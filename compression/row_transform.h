// The row transform: zigzag codes of a row's left-neighbour differences (the plain row) or of
// its differences from a reference row's (the predicted row). All arithmetic modulo 2^32;
// 16-bit values are widened with zeros first, so their codes reach 17 bits.
#pragma once

#include <cstdint>

// zz(x) = (x << 1) ^ (x >> 31, arithmetic): 0, -1, 1, -2 ... become 0, 1, 2, 3 ...
inline uint32_t zigzag_encode(uint32_t x) {
    return (x << 1) ^ static_cast<uint32_t>(static_cast<int32_t>(x) >> 31);
}
inline uint32_t zigzag_decode(uint32_t z) {
    return (z >> 1) ^ (0u - (z & 1));
}

// Fill plain (and predicted, when ref is given) with n codes; true when the predicted row has
// strictly fewer nonzero codes (a tie keeps the plain row). n <= 0 touches nothing: false.
// The dispatching forms take the 512-bit form for 16-bit rows where avx512_usable(), else the
// 256-bit form (every processor this program runs on has it); every form gives identical output.
bool BuildRowResiduals32(uint32_t* predicted, uint32_t* plain, const uint32_t* row,
                         const uint32_t* ref, int32_t n);
bool BuildRowResiduals16(uint32_t* predicted, uint32_t* plain, const uint16_t* row,
                         const uint16_t* ref, int32_t n);

// The forms themselves, each one pass that builds both code rows and counts their nonzero codes:
// the scalar reference, 128-bit and 256-bit vectors (eight values per step; the 128-bit form does
// half the work per instruction, so the dispatch passes it by) and, for 16-bit rows, 512-bit
// vectors (sixteen per step; only where avx512_usable()).
bool BuildRowResiduals32Scalar(uint32_t* predicted, uint32_t* plain, const uint32_t* row,
                               const uint32_t* ref, int32_t n);
bool BuildRowResiduals32Vec128(uint32_t* predicted, uint32_t* plain, const uint32_t* row,
                               const uint32_t* ref, int32_t n);
bool BuildRowResiduals32Vec256(uint32_t* predicted, uint32_t* plain, const uint32_t* row,
                               const uint32_t* ref, int32_t n);
bool BuildRowResiduals16Scalar(uint32_t* predicted, uint32_t* plain, const uint16_t* row,
                               const uint16_t* ref, int32_t n);
bool BuildRowResiduals16Vec128(uint32_t* predicted, uint32_t* plain, const uint16_t* row,
                               const uint16_t* ref, int32_t n);
bool BuildRowResiduals16Vec256(uint32_t* predicted, uint32_t* plain, const uint16_t* row,
                               const uint16_t* ref, int32_t n);
bool BuildRowResiduals16Vec512(uint32_t* predicted, uint32_t* plain, const uint16_t* row,
                               const uint16_t* ref, int32_t n);
