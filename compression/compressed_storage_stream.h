// Stream kind 2: rows coded by the FSE row coder over 24 byte sub-streams. A writing pass
// collects each sub-stream in a growable buffer of a per-thread table; finish joins them, in
// sub-stream order, into the stream's one buffer, capped by its reservation. A reading pass
// points a decoder at the 24 pieces of that buffer. One thread uses a stream at a time, and a
// writing pass begins and ends on one thread.
//
// Save block (little-endian, no gaps):
//   offset 0:   24 x (i32 size, i32 position) of sub-streams 0..23 (equal: their lengths)
//   offset 192: i64 reservation
//   offset 200: i64 used size (sum of the lengths)
//   offset 208: used-size bytes: sub-streams 0 to 23 back to back
#pragma once

#include <cstdint>

#include "compression/row_coder.h"
#include "storage/storage_stream.h"

// Joined buffers grow in whole granules of 4 KiB.
constexpr int64_t kCompressedGranule = 4096;

// Sub-stream buffers of one writing pass; kept by a thread between passes and only ever grown.
struct BufferTable {
    uint8_t* buffers[24];    // buffer k collects sub-stream k (malloc / realloc)
    int32_t capacities[24];  // bytes allocated for buffer k
};

// Test hook: tables alive in the process (freed when their thread ends).
extern std::atomic<int64_t> g_live_buffer_tables;

class CompressedStorageStream final : public StorageStreamInterface {
public:
    // An empty stream whose joined buffer may take max(reserved, 4096) bytes.
    explicit CompressedStorageStream(int64_t reserved);
    ~CompressedStorageStream() override;
    CompressedStorageStream(const CompressedStorageStream&) = delete;
    CompressedStorageStream& operator=(const CompressedStorageStream&) = delete;

    // Begins a writing pass (the kind byte 2 goes to sub-stream 0). Returns 0. With a pass open,
    // "fail" and exit status 1.
    int64_t reset() override;
    // Ends a writing pass: the reservation is raised to the pass's size bound, the sub-streams
    // are joined and the counters updated. A joined size above the reservation prints "out of
    // memory (not enough reserved)", a failed allocation "malloc|realloc N bytes fail (errno E)";
    // both end the process with status 1. Without an open writing pass it does nothing.
    void finish() override;
    bool hasData() const override { return sizes_[0] > 0; }
    // Begins a reading pass from the lengths of the last finish or load. With a pass open,
    // "fail" and exit status 1.
    void rewind() override;
    // Ends a reading pass: adds the bytes consumed to bytesRead. Nothing without one.
    std::atomic<int64_t>* tallyBytes() override;

    // Return 4 x the values written before this row in the pass (16-bit rows too).
    int64_t writeRow(const uint32_t* row, const uint32_t* reference, int32_t n) override;
    int64_t writeRow16(const uint16_t* row, const uint16_t* reference, int32_t n) override;
    // Return the decoder's result. Bytes missing from a loaded stream read as zeros and mark it
    // damaged; on a stream this program wrote they are fatal ("stream overrun").
    int64_t readRow(uint32_t* row, const uint32_t* reference, int32_t n) override;
    int64_t readRow16(uint16_t* row, const uint16_t* reference, int32_t n) override;

    // Between passes only.
    void save(BinaryWriter& out) override;
    // Between passes only. Throws IOException "invalid file (...)" for a block no save writes
    // (sizes and positions unequal or negative, used size off 0..2^31-1 or unequal to their
    // sum, reservation below the data, a first byte other than kind 2) and "out of memory" when
    // the buffer cannot be had; the stream then holds no data. Takes the file's reservation.
    void load(BinaryReader* in) override;
    void raiseReserve(int64_t bytes) override;

    // The report given to every decoder of this stream (null: the coder's default, or for a
    // loaded stream one that marks it damaged).
    void setCorruptionReport(CorruptionReport report) { report_ = report; }
    // A read of a loaded stream ran past a sub-stream's end.
    bool damaged() const override { return damaged_; }

    int64_t usedBytes() const { return usedBytes_; }
    int64_t allocated() const { return allocated_; }
    int64_t reserved() const { return reserved_; }
    const uint8_t* buffer() const { return buffer_; }
    int32_t length(int32_t k) const { return lengths_[k]; }
    // Bytes the coders pushed into and took out of this stream over its life, counted as they
    // pass (the traffic counters are added to once per pass).
    int64_t bytesPushed() const { return bytesPushed_; }
    int64_t bytesTaken() const { return bytesTaken_; }

    // The SubstreamCallback functions of the coders; ctx is the stream.
    static void writeSubstream(void* ctx, int32_t k, void* data, int32_t length);
    static void readSubstream(void* ctx, int32_t k, void* data, int32_t length);

private:
    bool passOpen() const { return compressor_ != nullptr || decoder_ != nullptr; }
    // Grows the joined buffer to rounded bytes (finish's messages on failure).
    void growJoined(int64_t rounded);

    int32_t sizes_[24] = {};          // writing: bytes written per sub-stream; reading: its length
    int32_t positions_[24] = {};      // write or read position per sub-stream
    int32_t lengths_[24] = {};        // sub-stream lengths of the joined buffer (finish, load)
    const uint8_t* starts_[24] = {};  // reading: where each sub-stream begins in buffer_
    CompressorInterface* compressor_ = nullptr;  // open writing pass
    DecompressorInterface* decoder_ = nullptr;   // open reading pass
    CompressionStats stats_{};                   // of the current writing pass
    int64_t rawRowBytes_ = 0;                    // 4 x values written in the pass
    int64_t passRows_ = 0;                       // rows written in the pass
    int64_t usedBytes_ = 0;                      // joined size
    int64_t allocated_ = 0;                      // bytes allocated for buffer_
    int64_t reserved_;                           // the most buffer_ may take
    uint8_t* buffer_ = nullptr;
    BufferTable* table_ = nullptr;  // held by the open writing pass
    CorruptionReport report_ = nullptr;
    // The report of loaded streams without one of their own: marks the stream damaged.
    static void recordDamage(void* ctx);
    int64_t bytesPushed_ = 0;
    int64_t bytesTaken_ = 0;
    bool fromFile_ = false;  // the bytes came from load
    bool damaged_ = false;
};
