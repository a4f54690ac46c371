// Fast row packing: a byte-aligned code for rows of small non-negative integers (16-bit river
// regrets, 32-bit strategy counts). The bytes are a saved-file format; do not change them.
//
// Packed row of n values, little-endian, no fill:
//   blocks  while 32 or more values remain: one header byte of four 2-bit group codes (group g of
//           8 values in bits 2g..2g+1), written after the payloads are known, then the payloads:
//             16-bit codes: 0 none (zeros), 1 eight bytes, 2 twelve bytes (eight 12-bit fields of
//                           a little-endian 96-bit number), 3 eight u16
//             32-bit codes: 0 none, 1 eight bytes, 2 eight u16, 3 eight u32
//   tail    the last n mod 32 values in groups of min(8, remaining): a flag byte, then the values
//             16-bit flag: 1 all <= 255 -> bytes; 3 otherwise -> u16 (a reader takes any flag
//                          but 1 as u16)
//             32-bit flag: OR of 2 (a value > 65535) and 1 (a value in 256..65535):
//                          0 bytes, 1 u16, 2 or 3 u32
// The packed form carries no length: the reader must know n. n <= 0 reads and writes nothing.
#pragma once

#include <cstdint>

// Largest packed size of n values: the room a caller provides for an encoder.
inline int64_t PackedRow16Bound(int32_t n) {
    if (n <= 0) return 0;
    const int64_t r = n % 32;
    return 65 * int64_t(n / 32) + 2 * r + (r + 7) / 8;
}
inline int64_t PackedRow32Bound(int32_t n) {
    if (n <= 0) return 0;
    const int64_t r = n % 32;
    return 129 * int64_t(n / 32) + 4 * r + (r + 7) / 8;
}

// Packs n values at out, which has room for PackedRow16Bound(n) bytes; writes nothing past the
// end it returns. Returns the end of the packed row.
uint8_t* PackRow16(uint8_t* out, const uint16_t* row, int32_t n);
// As PackRow16 for 32-bit values. Group maxima are unsigned, so values of 2^31 and more stay
// exact (the storages never produce them).
uint8_t* PackRow32(uint8_t* out, const uint32_t* row, int32_t n);

// Decodes n values from trusted bytes (the program's own buffers). Returns the end of the
// bytes read; reads exactly what the encoder produced for the same n, nothing beyond.
const uint8_t* UnpackRow16(uint16_t* row, int32_t n, const uint8_t* in);
const uint8_t* UnpackRow32(uint32_t* row, int32_t n, const uint8_t* in);

// Decodes n values from untrusted bytes [in, end). Returns the end of the bytes read, or null
// when the row needs bytes beyond end; never reads at or past end. On null the row's contents
// are unspecified.
const uint8_t* UnpackRow16Checked(uint16_t* row, int32_t n, const uint8_t* in, const uint8_t* end);
const uint8_t* UnpackRow32Checked(uint32_t* row, int32_t n, const uint8_t* in, const uint8_t* end);

// Plain scalar encoders written straight from the format rules: the reference the vector
// encoders are tested against. Same contract as PackRow16 / PackRow32.
uint8_t* PackRow16Reference(uint8_t* out, const uint16_t* row, int32_t n);
uint8_t* PackRow32Reference(uint8_t* out, const uint32_t* row, int32_t n);
