#include "compression/row_coder.h"

#include <unistd.h>

#include <memory>

#include "compression/fast_coder.h"
#include "compression/fse_row_coder.h"
#include "compression/fse_row_decoder.h"
#include "compression/range_coder.h"
#include "compression/row_transform.h"
#include "utilities/services.h"

void default_corruption_report(void*) {
    // Rows are decoded on worker threads: print under the output lock, then leave at once.
    locked_print_final("fse error\n");
    _exit(1);
}

CompressorInterface* MakeCompressor(int32_t kind, const uint64_t* counts, uint64_t* countsOut,
                                    SubstreamCallback callback, void* ctx,
                                    CompressionStats* stats) {
    uint8_t kindByte = static_cast<uint8_t>(kind);
    callback(ctx, 0, &kindByte, 1);
    switch (kind) {
        case kRangeCoder:
            return NewCompressor(new SubstreamSink{callback, ctx, default_corruption_report},
                                 counts, countsOut, stats);
        case kFastCoder:
            return NewFastCompressor(new SubstreamSink{callback, ctx, default_corruption_report},
                                     stats);
        case kFSECoder:
            return NewFSECompressor(new SubstreamSink{callback, ctx, default_corruption_report},
                                    stats);
        default:
            return nullptr;
    }
}

DecompressorInterface* MakeDecompressor(SubstreamCallback callback, void* ctx,
                                        CorruptionReport report) {
    // Held until a decoder takes it: the callback or the report may throw.
    auto sink = std::make_unique<SubstreamSink>(
        SubstreamSink{callback, ctx, report ? report : default_corruption_report});
    uint8_t kindByte = 0xFF;
    callback(ctx, 0, &kindByte, 1);
    switch (kindByte) {
        case kRangeCoder:
            return NewDecompressor(sink.release());
        case kFastCoder:
            return NewFastDecompressor(sink.release());
        case kFSECoder:
            return NewFSEDecompressor(sink.release());
        default:
            return nullptr;
    }
}

void DeleteCompressor(CompressorInterface* coder) {
    delete coder;
}

void DeleteDecompressor(DecompressorInterface* coder) {
    delete coder;
}

void CompressRow32(CompressorInterface* coder, const uint32_t* row, const uint32_t* ref,
                   int32_t n) {
    if (n > kMaxRowLength) fail_fatal(nullptr);
    uint32_t predicted[kMaxRowLength];
    uint32_t plain[kMaxRowLength];
    if (BuildRowResiduals32(predicted, plain, row, ref, n))
        coder->compress(predicted, n, 1);
    else
        coder->compress(plain, n, 0);
}

void CompressRow16(CompressorInterface* coder, const uint16_t* row, const uint16_t* ref,
                   int32_t n) {
    if (n > kMaxRowLength) fail_fatal(nullptr);
    uint32_t predicted[kMaxRowLength];
    uint32_t plain[kMaxRowLength];
    if (BuildRowResiduals16(predicted, plain, row, ref, n))
        coder->compress(predicted, n, 1);
    else
        coder->compress(plain, n, 0);
}

// Every decoder of this system rebuilds rows itself, so the residual path of a decoder that
// does not is left out.
uint32_t DecompressRow32(DecompressorInterface* d, uint32_t* out, const uint32_t* ref, int32_t n) {
    if (n > kMaxRowLength) fail_fatal(nullptr);
    if (!d->rebuildsRows()) fail_fatal("decoder does not rebuild rows");
    return d->decompress(out, ref, n);
}

uint32_t DecompressRow16(DecompressorInterface* d, uint16_t* out, const uint16_t* ref, int32_t n) {
    if (n > kMaxRowLength) fail_fatal(nullptr);
    if (!d->rebuildsRows()) fail_fatal("decoder does not rebuild rows");
    return d->decompress16(out, ref, n);
}

uint64_t FSEPassSizeBound(uint64_t rows, uint64_t values) {
    // Raw bytes over all sub-streams: kind byte, one tag per row, ceil(n / 8) masks per row,
    // at most 1 + 2 + 4 bytes per value. A block never takes more than its raw bytes plus its
    // header, and each sub-stream has at most one partial block.
    const uint64_t raw = 1 + rows + (values / 8 + rows) + 7 * values;
    const uint64_t blocks = raw / 65536 + kFSESubstreams;
    const uint64_t bound = raw + 8 * blocks;
    return bound < 4096 ? 4096 : bound;
}
