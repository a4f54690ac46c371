// The range row coder (kind 0): every code becomes bit decisions coded by an LZMA-style binary
// range coder with adaptive 11-bit probabilities (shift-4 updates). Layout of sub-stream 0 after
// the kind byte: "Cmpr", 256 little-endian i64 counts (the split-tree weights), then the coded
// bytes of all rows, ending with the five bytes of the final flush.
//
// A row: tag bit; groups of 16 codes (a last partial group) each with one group bit (any code
// nonzero) in context [tag][12-bit group history]; in a nonzero group one value bit per code in
// context [tag][16-bit value history]; a nonzero code z is the path of symbol min(z - 1, 1023)
// through the split tree in context [tag][previous symbol][node]; symbol 1023 is followed by
// v = z - 1024 in a 17-bit bit tree (bit 16: v >= 65536; low 16 bits of v) and, when
// v >= 65536, v >> 16 in a 16-bit one. Histories and previous symbol (1022) reset per row;
// probabilities persist for the coder's life.
#pragma once

#include <cstdint>

#include "compression/row_coder.h"

constexpr int kRangeCountEntries = 256;
constexpr int kRangeSymbols = 1024;
constexpr int kRangeTreeNodes = kRangeSymbols - 1;

// One record of the split tree: symbols below split go left (the next record), others right.
struct SplitNode {
    uint16_t right;
    uint16_t split;
};

// Builds the 1023 records of the split tree over symbols [0, 1024) from counts (256 entries,
// only 0 to 254 steer; null counts as zeros). Weights are summed in wrapping two's-complement,
// so every table, hostile ones included, gives a full tree.
void CreateOptimalTree(SplitNode* tree, const int64_t* counts);

// Takes ownership of sink. Writes "Cmpr" and counts (null: zeros) to sub-stream 0, zeroes
// countsOut (null: not kept) and counts each coded symbol min(z - 1, 255) in it. stats may be
// null. The destructor writes the final five bytes.
CompressorInterface* NewCompressor(SubstreamSink* sink, const uint64_t* counts, uint64_t* countsOut,
                                   CompressionStats* stats);

// Takes ownership of sink. Reads the magic and the count table and primes the decoder; a wrong
// magic goes to the sink's report (a report that returns gets a decoder of zero rows' worth of
// garbage, never an out-of-bounds access). 16-bit rows are decoded as 32-bit rows narrowed.
DecompressorInterface* NewDecompressor(SubstreamSink* sink);
