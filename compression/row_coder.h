// The row coders' shared interfaces: the numbered byte sub-streams they write and read through a
// callback, the kind byte and the factories, and the row functions that turn a row into zigzag
// codes for a coder and back.
//
// Sub-streams 0 to 23 are independent ordered byte sequences kept by the callback's owner; only
// the order within each matters. Sub-stream 0 begins with the kind byte (CoderKind), written by
// MakeCompressor and read by MakeDecompressor. Kind 2 (FSE) uses 0 tags, 1 group masks, 2 to 17
// context value bytes, 18 to 23 escapes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "compression/coder_buffer.h"

// Compressor: appends length bytes at data to sub-stream substream. Decompressor: copies the next
// length bytes of the sub-stream to data. A writer's callback accepts every write; a reader's
// supplies every byte or reports through the sink's corruption report.
using SubstreamCallback = void (*)(void* ctx, int32_t substream, void* data, int32_t length);

// Called by a decoder on a corrupt block, with the sink's ctx. It should not return (exit or
// throw); if it does, the decoder goes on with zero bytes in place of the block, never reading
// or writing out of bounds.
using CorruptionReport = void (*)(void* ctx);

// Prints "fse error" as a line on standard output, flushes, and ends the process with status 1.
[[noreturn]] void default_corruption_report(void* ctx);

// The callback, its context and the corruption report; owned by the coder it is given to.
struct SubstreamSink {
    SubstreamCallback callback;
    void* ctx;
    CorruptionReport report;
    NLHE_CODER_CACHED_ALLOCATION
};

// The kind byte at the head of sub-stream 0.
enum CoderKind : int32_t { kRangeCoder = 0, kFastCoder = 1, kFSECoder = 2 };

// Statistics a compressor updates with plain additions (one thread per record). Zeroed by its
// owner before MakeCompressor. The FSE coder updates predictedRows, rawBytes, largestEscaped
// and rows; the other fields belong to the range coder.
struct CompressionStats {
    uint64_t zeroGroups;     // groups whose codes are all zero
    uint64_t groups;         // groups of codes
    uint64_t predictedRows;  // rows coded with a nonzero tag
    uint64_t rawBytes;       // 4 per value, also for 16-bit rows
    uint64_t directCodes;    // nonzero codes below 1024
    uint64_t escapedCodes;   // codes of 1024 or more
    uint64_t codeSum;        // sum of nonzero codes
    int32_t largestEscaped;  // largest escaped value b (b >= 255), compared as signed
    int32_t rows;            // rows coded
};

class CompressorInterface {
public:
    virtual ~CompressorInterface() = default;
    // Codes one row of n zigzag codes (n <= 1326) with its tag (0 plain, 1 predicted).
    virtual void compress(const uint32_t* codes, int32_t n, uint32_t tag) = 0;
};

class DecompressorInterface {
public:
    virtual ~DecompressorInterface() = default;
    // Reads one row written by compress and writes the n rebuilt values, using ref (n values)
    // when given; returns the row's tag as read.
    virtual uint32_t decompress(uint32_t* out, const uint32_t* ref, int32_t n) = 0;
    // The same for 16-bit rows, rebuilt modulo 2^16.
    virtual uint32_t decompress16(uint16_t* out, const uint16_t* ref, int32_t n) = 0;
    // True when the two operations above return finished rows.
    virtual bool rebuildsRows() const = 0;
};

// Writes the low byte of kind to sub-stream 0 and builds the compressor of that kind (0 range,
// 1 fast, 2 FSE); any other kind gives null after the byte is written. counts and countsOut
// belong to the range coder (null: zeros, not kept); the others ignore them.
CompressorInterface* MakeCompressor(int32_t kind, const uint64_t* counts, uint64_t* countsOut,
                                    SubstreamCallback callback, void* ctx, CompressionStats* stats);

// Reads the kind byte from sub-stream 0 and builds the matching decompressor; null for any other
// kind byte. A null report means default_corruption_report. The range decoder reports a wrong
// magic through it (construction may so throw what the report throws, releasing everything).
DecompressorInterface* MakeDecompressor(SubstreamCallback callback, void* ctx,
                                        CorruptionReport report = nullptr);

// Destroy a coder (a compressor's destructor writes its last blocks); null is ignored.
void DeleteCompressor(CompressorInterface* coder);
void DeleteDecompressor(DecompressorInterface* coder);

// Transform and code one row; n above 1326 ends the process through fail_fatal ("fail").
void CompressRow32(CompressorInterface* coder, const uint32_t* row, const uint32_t* ref, int32_t n);
void CompressRow16(CompressorInterface* coder, const uint16_t* row, const uint16_t* ref, int32_t n);

// Read one row back with the n and reference row it was written with; return the decoder's
// result. n above 1326 ends the process through fail_fatal.
uint32_t DecompressRow32(DecompressorInterface* d, uint32_t* out, const uint32_t* ref, int32_t n);
uint32_t DecompressRow16(DecompressorInterface* d, uint16_t* out, const uint16_t* ref, int32_t n);

// An upper bound (at least 4096) of the bytes one kind-2 writing pass of rows rows holding
// values values in all puts on its sub-streams: kind byte, tags, masks, at most 7 bytes per
// value, and an 8-byte header per block.
uint64_t FSEPassSizeBound(uint64_t rows, uint64_t values);

// Longest row any coder takes.
constexpr int32_t kMaxRowLength = 1326;
