// The fast row coder (kind 1): plain bit packing over three streams, each cut into 256-byte
// blocks sent the moment they fill (a multi-byte item may span two blocks; a stream's last block
// is zero-padded; a stream without items has no block):
//   sub-stream 1  bits, bit i of a block = bit i % 8 of byte i / 8
//   sub-stream 2  nibbles, nibble j = low half of byte j / 2 for even j, high half for odd j
//   sub-stream 0  bytes (after the kind byte), multi-byte items little-endian
// A row: tag bit; groups of eight codes (a last partial group) each with a group bit (any code
// nonzero); in a nonzero group one flag bit per code, and for a nonzero code z the value
// b = z - 1: nibble b (b < 15), else nibble 15 and byte b (b < 255), else byte 0xFF and u16 b
// (b < 65535), else 0xFF, u16 0xFFFF and u32 b.
#pragma once

#include <cstdint>

#include "compression/row_coder.h"

constexpr int32_t kFastBlockBytes = 256;

// Take ownership of sink; stats may be null. The compressor's destructor sends the partial bit,
// nibble and byte blocks, in that order.
CompressorInterface* NewFastCompressor(SubstreamSink* sink, CompressionStats* stats);
// Positions start at the end of an empty block, so each stream's first read fetches its first
// block. 16-bit rows are decoded as 32-bit rows narrowed to their low 16 bits.
DecompressorInterface* NewFastDecompressor(SubstreamSink* sink);
