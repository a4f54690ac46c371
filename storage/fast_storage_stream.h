// Stream kind 1: rows packed with the fast row packing into one growable buffer with a fixed
// cap. One thread uses a stream at a time; only the counters are shared.
//
// Save layout (inside a saved tree, little-endian, no gaps):
//   u32 need | u64 reservedMax | u64 byte count c (= need) | c bytes of the buffer
#pragma once

#include <cstdint>

#include "storage/storage_stream.h"

// Allocations grow in whole granules of 16 KiB.
constexpr int64_t kStreamGranule = 16384;

// A cap on a kind-1 stream that carries n values in total (rows of at most 1326 values): every
// legitimate sequence of writes stays below it. Packed rows take at most 3 bytes a value (16-bit)
// or 5 (32-bit), and need may run up to two row reservations ahead of the packed bytes.
int64_t FastStreamReserve(int64_t n, bool is16bit);

class FastStorageStream final : public StorageStreamInterface {
public:
    // An empty stream (no buffer) that may grow to reservedMax bytes.
    explicit FastStorageStream(int64_t reservedMax);
    ~FastStorageStream() override;
    FastStorageStream(const FastStorageStream&) = delete;
    FastStorageStream& operator=(const FastStorageStream&) = delete;

    int64_t reset() override;
    void finish() override;
    bool hasData() const override { return need_ > 0; }
    void rewind() override { position_ = 0; }
    std::atomic<int64_t>* tallyBytes() override;

    // Growth past the cap prints "out of memory (not enough reserved)" and ends the process with
    // status 1; a failed allocation prints "malloc|realloc N bytes fail (errno E)" and does the
    // same.
    int64_t writeRow(const uint32_t* row, const uint32_t* reference, int32_t n) override;
    int64_t writeRow16(const uint16_t* row, const uint16_t* reference, int32_t n) override;
    // Rows that came from a file are decoded with the checked decoder: a row that would read
    // past the loaded bytes reads as zeros and marks the stream damaged.
    int64_t readRow(uint32_t* row, const uint32_t* reference, int32_t n) override;
    int64_t readRow16(uint16_t* row, const uint16_t* reference, int32_t n) override;

    void save(BinaryWriter& out) override;
    // Throws IOException "invalid file (...)" unless c equals need, is below 2^31 and fits the
    // stored reserve, and "out of memory" when the buffer cannot be had. The read position is
    // left alone.
    void load(BinaryReader* in) override;
    void raiseReserve(int64_t bytes) override;

    // A read ran past the bytes loaded from a file.
    bool damaged() const override { return damaged_; }

    int64_t need() const { return need_; }
    int64_t position() const { return position_; }
    int64_t allocated() const { return allocated_; }
    int64_t reservedMax() const { return reservedMax_; }
    int64_t logicalBytes() const { return logicalBytes_; }
    const uint8_t* buffer() const { return buffer_; }

private:
    // Makes room for r more bytes at position (growth rule above).
    void grow(int64_t r);
    const uint8_t* dataEnd() const { return buffer_ + validBytes_; }

    int64_t roundedNeed_ = 0;  // need rounded up to the granule, as last computed
    int64_t needCopy_ = 0;     // need as last computed: the byte count save writes
    int64_t allocated_ = 0;    // bytes allocated for buffer_
    int64_t reservedMax_;      // the largest allocation allowed
    uint8_t* buffer_ = nullptr;
    int32_t need_ = 0;          // bytes reserved for the rows written since reset
    int32_t position_ = 0;      // write position while writing, read position while reading
    int64_t logicalBytes_ = 0;  // unpacked size of the rows written since reset
    int32_t peak_ = 0;          // handed to the peak counter; always 0 in this stream
    int32_t validBytes_ = 0;    // bytes of packed rows behind buffer_ (written or loaded)
    bool fromFile_ = false;     // the rows came from load: decode them checked
    bool damaged_ = false;
};
