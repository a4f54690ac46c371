#include "compression/compressed_storage_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "compression/coder_buffer.h"
#include "storage/storage_io_counters.h"
#include "utilities/services.h"

std::atomic<int64_t> g_live_buffer_tables{0};

namespace {

int64_t RoundToGranule(int64_t bytes) {
    return (bytes + kCompressedGranule - 1) & ~(kCompressedGranule - 1);
}

// Other threads may still be running: leave without static destructors.
[[noreturn]] void NotEnoughReserved() {
    std::puts("out of memory (not enough reserved)");
    std::fflush(stdout);
    _exit(1);
}

[[noreturn]] void AllocationFailed(const char* what, int64_t bytes, int error) {
    std::printf("%s %lld bytes fail (errno %d)\n", what, static_cast<long long>(bytes), error);
    std::fflush(stdout);
    _exit(1);
}

// malloc for a null buffer, else realloc; the failure message names which.
uint8_t* GrowOrDie(uint8_t* buffer, int64_t bytes) {
    g_coder_heap_allocations.fetch_add(1, std::memory_order_relaxed);
    void* grown =
        buffer == nullptr ? std::malloc(size_t(bytes)) : std::realloc(buffer, size_t(bytes));
    if (grown == nullptr) AllocationFailed(buffer == nullptr ? "malloc" : "realloc", bytes, errno);
    return static_cast<uint8_t*>(grown);
}

// The free tables of one thread; freed with it, as the solver starts a new thread per solve.
struct TableList {
    std::vector<BufferTable*> free;
    ~TableList() {
        for (BufferTable* t : free) {
            for (uint8_t* b : t->buffers) std::free(b);
            delete t;
            g_live_buffer_tables.fetch_sub(1, std::memory_order_relaxed);
        }
    }
};

thread_local TableList t_tables;

BufferTable* TakeTable() {
    if (!t_tables.free.empty()) {
        BufferTable* t = t_tables.free.back();
        t_tables.free.pop_back();
        return t;
    }
    g_coder_heap_allocations.fetch_add(1, std::memory_order_relaxed);
    g_live_buffer_tables.fetch_add(1, std::memory_order_relaxed);
    // Room for the tables of several open passes, so putting one back never allocates.
    if (t_tables.free.capacity() < 8) t_tables.free.reserve(8);
    return new BufferTable{};
}

int64_t SumOf(const int32_t* values) {
    int64_t sum = 0;
    for (int k = 0; k < 24; ++k) sum += values[k];
    return sum;
}

}  // namespace

CompressedStorageStream::CompressedStorageStream(int64_t reserved)
    : reserved_(std::max<int64_t>(reserved, kCompressedGranule)) {}

CompressedStorageStream::~CompressedStorageStream() {
    g_storage_io.heldBytes.fetch_sub(allocated_, std::memory_order_relaxed);
    std::free(buffer_);
}

int64_t CompressedStorageStream::reset() {
    if (passOpen()) fail_fatal(nullptr);
    table_ = TakeTable();
    std::fill(std::begin(sizes_), std::end(sizes_), 0);
    std::fill(std::begin(positions_), std::end(positions_), 0);
    stats_ = CompressionStats{};
    rawRowBytes_ = 0;
    passRows_ = 0;
    compressor_ = MakeCompressor(kFSECoder, nullptr, nullptr, writeSubstream, this, &stats_);
    return 0;
}

void CompressedStorageStream::writeSubstream(void* ctx, int32_t k, void* data, int32_t length) {
    auto* self = static_cast<CompressedStorageStream*>(ctx);
    if (length <= 0) return;
    const int64_t need = int64_t(self->positions_[k]) + length;
    // The save block keeps 32-bit lengths; no reservation reaches 2 GiB anyway.
    if (need > INT32_MAX) NotEnoughReserved();
    if (need > self->sizes_[k]) {
        self->sizes_[k] = int32_t(need);
        const int64_t g = (k == 1 || k == 17) ? 65535 : 16383;
        const int64_t c = (need + g) & ~g;
        BufferTable* t = self->table_;
        if (c > t->capacities[k]) {
            t->buffers[k] = GrowOrDie(t->buffers[k], c);
            t->capacities[k] = int32_t(std::min<int64_t>(c, INT32_MAX));
        }
    }
    std::memcpy(self->table_->buffers[k] + self->positions_[k], data, size_t(length));
    self->positions_[k] = int32_t(need);
    self->bytesPushed_ += length;
}

int64_t CompressedStorageStream::writeRow(const uint32_t* row, const uint32_t* reference,
                                          int32_t n) {
    if (compressor_ == nullptr) fail_fatal(nullptr);
    CompressRow32(compressor_, row, reference, n);
    const int64_t before = rawRowBytes_;
    rawRowBytes_ += 4 * int64_t(std::max(n, 0));
    ++passRows_;
    return before;
}

int64_t CompressedStorageStream::writeRow16(const uint16_t* row, const uint16_t* reference,
                                            int32_t n) {
    if (compressor_ == nullptr) fail_fatal(nullptr);
    CompressRow16(compressor_, row, reference, n);
    const int64_t before = rawRowBytes_;
    rawRowBytes_ += 4 * int64_t(std::max(n, 0));
    ++passRows_;
    return before;
}

void CompressedStorageStream::growJoined(int64_t rounded) {
    if (rounded <= allocated_) return;
    if (rounded > reserved_) NotEnoughReserved();
    buffer_ = GrowOrDie(buffer_, rounded);
    g_storage_io.heldBytes.fetch_add(rounded - allocated_, std::memory_order_relaxed);
    allocated_ = rounded;
}

void CompressedStorageStream::finish() {
    if (compressor_ == nullptr) return;
    DeleteCompressor(compressor_);  // writes the last blocks
    compressor_ = nullptr;
    const int64_t total = SumOf(positions_);
    if (total > INT32_MAX) NotEnoughReserved();
    // The reservation is a true upper bound of every legitimate pass, so only a fault passes it.
    const auto values = uint64_t(rawRowBytes_ / 4);
    raiseReserve(RoundToGranule(int64_t(FSEPassSizeBound(uint64_t(passRows_), values))));
    growJoined(RoundToGranule(total));
    int64_t at = 0;
    for (int k = 0; k < 24; ++k) {
        if (positions_[k] > 0) std::memcpy(buffer_ + at, table_->buffers[k], size_t(positions_[k]));
        at += positions_[k];
        lengths_[k] = sizes_[k] = positions_[k];
    }
    usedBytes_ = total;
    fromFile_ = false;
    damaged_ = false;

    g_storage_io.allocatedBytes.fetch_add(allocated_, std::memory_order_relaxed);
    g_storage_io.rawBytes.fetch_add(int64_t(stats_.rawBytes), std::memory_order_relaxed);
    g_storage_io.bytesWritten.fetch_add(total, std::memory_order_relaxed);
    RaiseStoragePeak(stats_.largestEscaped);

    t_tables.free.push_back(table_);
    table_ = nullptr;
}

void CompressedStorageStream::rewind() {
    if (passOpen()) fail_fatal(nullptr);
    const uint8_t* at = buffer_;
    for (int k = 0; k < 24; ++k) {
        sizes_[k] = lengths_[k];
        starts_[k] = at;
        at += lengths_[k];
        positions_[k] = 0;
    }
    if (!hasData()) return;  // nothing to decode; rows read as zeros
    // A loaded stream's corrupt block is the file's damage: recorded, not fatal.
    CorruptionReport report = report_;
    if (report == nullptr && fromFile_) report = recordDamage;
    decoder_ = MakeDecompressor(readSubstream, this, report);
    if (decoder_ == nullptr) fail_fatal("stream kind");  // load refuses such blocks
}

void CompressedStorageStream::recordDamage(void* ctx) {
    static_cast<CompressedStorageStream*>(ctx)->damaged_ = true;
}

void CompressedStorageStream::readSubstream(void* ctx, int32_t k, void* data, int32_t length) {
    auto* self = static_cast<CompressedStorageStream*>(ctx);
    if (length <= 0) return;
    const int32_t available = std::max(self->sizes_[k] - self->positions_[k], 0);
    const int32_t take = std::min(length, available);
    if (take > 0) std::memcpy(data, self->starts_[k] + self->positions_[k], size_t(take));
    self->positions_[k] += take;
    self->bytesTaken_ += take;
    if (take == length) return;
    std::memset(static_cast<uint8_t*>(data) + take, 0, size_t(length - take));
    if (!self->fromFile_) fail_fatal("stream overrun");
    self->damaged_ = true;
}

int64_t CompressedStorageStream::readRow(uint32_t* row, const uint32_t* reference, int32_t n) {
    if (decoder_ != nullptr) return DecompressRow32(decoder_, row, reference, n);
    if (!fromFile_ || n > kMaxRowLength) fail_fatal(nullptr);
    std::memset(row, 0, size_t(std::max(n, 0)) * 4);
    damaged_ = true;
    return 0;
}

int64_t CompressedStorageStream::readRow16(uint16_t* row, const uint16_t* reference, int32_t n) {
    if (decoder_ != nullptr) return DecompressRow16(decoder_, row, reference, n);
    if (!fromFile_ || n > kMaxRowLength) fail_fatal(nullptr);
    std::memset(row, 0, size_t(std::max(n, 0)) * 2);
    damaged_ = true;
    return 0;
}

std::atomic<int64_t>* CompressedStorageStream::tallyBytes() {
    if (decoder_ != nullptr) {
        DeleteDecompressor(decoder_);
        decoder_ = nullptr;
        g_storage_io.bytesRead.fetch_add(SumOf(positions_), std::memory_order_relaxed);
    }
    return &g_storage_io.bytesRead;
}

void CompressedStorageStream::save(BinaryWriter& out) {
    if (passOpen()) fail_fatal(nullptr);
    // The lengths, not the positions: a reading pass may have stopped early.
    for (int k = 0; k < 24; ++k) {
        WriteValue<int32_t>(out, lengths_[k]);
        WriteValue<int32_t>(out, lengths_[k]);
    }
    WriteValue<int64_t>(out, reserved_);
    WriteValue<int64_t>(out, usedBytes_);
    if (usedBytes_ > 0) out.write(buffer_, size_t(usedBytes_));
}

void CompressedStorageStream::load(BinaryReader* in) {
    if (passOpen()) fail_fatal(nullptr);
    int32_t sizes[24], positions[24];
    for (int k = 0; k < 24; ++k) {
        sizes[k] = ReadValue<int32_t>(*in);
        positions[k] = ReadValue<int32_t>(*in);
    }
    const auto reserve = ReadValue<int64_t>(*in);
    const auto used = ReadValue<int64_t>(*in);
    for (int k = 0; k < 24; ++k) {
        if (sizes[k] < 0 || positions[k] != sizes[k])
            throw IOException("invalid file (stream sub-stream length)");
    }
    if (used < 0 || used > INT32_MAX) throw IOException("invalid file (stream size)");
    if (SumOf(positions) != used) throw IOException("invalid file (stream lengths)");
    if (reserve < RoundToGranule(used)) throw IOException("invalid file (stream reserve)");
    if (used > 0 && positions[0] < 1) throw IOException("invalid file (stream kind)");

    // Until the bytes are in and checked, the stream holds nothing.
    std::fill(std::begin(lengths_), std::end(lengths_), 0);
    std::fill(std::begin(sizes_), std::end(sizes_), 0);
    std::fill(std::begin(positions_), std::end(positions_), 0);
    usedBytes_ = 0;
    fromFile_ = true;
    damaged_ = false;
    // The buffer grows with the bytes that arrive, so a size the file cannot back ends in the
    // read error after at most one step of memory beyond them.
    constexpr int64_t kStep = int64_t{4} << 20;
    for (int64_t done = 0;;) {
        const int64_t step = std::min(used - done, kStep);
        const int64_t want = done + step == used ? RoundToGranule(used) : done + step;
        if (want > allocated_) {
            g_coder_heap_allocations.fetch_add(1, std::memory_order_relaxed);
            void* grown = buffer_ == nullptr ? std::malloc(size_t(want))
                                             : std::realloc(buffer_, size_t(want));
            if (grown == nullptr) throw IOException("out of memory");
            buffer_ = static_cast<uint8_t*>(grown);
            g_storage_io.heldBytes.fetch_add(want - allocated_, std::memory_order_relaxed);
            allocated_ = want;
        }
        if (step == 0) break;
        in->read(buffer_ + done, size_t(step));
        done += step;
    }
    // This stream writes kind 2 only; other kinds' decoders would misread its rows.
    if (used > 0 && buffer_[0] != kFSECoder) throw IOException("invalid file (stream kind)");
    reserved_ = reserve;
    std::copy(std::begin(positions), std::end(positions), lengths_);
    std::copy(std::begin(positions), std::end(positions), sizes_);
    std::copy(std::begin(positions), std::end(positions), positions_);
    usedBytes_ = used;
}

void CompressedStorageStream::raiseReserve(int64_t bytes) {
    reserved_ = std::max(reserved_, bytes);
}
