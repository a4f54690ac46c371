#include "storage/fast_storage_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "storage/row_packing.h"
#include "storage/storage_io_counters.h"

namespace {

constexpr int64_t kLargestRow = 1326;

int64_t RoundToGranule(int64_t bytes) {
    return (bytes + kStreamGranule - 1) & ~(kStreamGranule - 1);
}

// Another thread may still be using the process; end it without static destructors.
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

int64_t Reservation16(int32_t n) {
    return 2 * int64_t(n) + n / 32 + ((n % 32) + 7) / 8;
}
int64_t Reservation32(int32_t n) {
    return 5 * int64_t(n);
}

}  // namespace

int64_t FastStreamReserve(int64_t n, bool is16bit) {
    n = std::max<int64_t>(n, 0);
    const int64_t rows =
        is16bit ? 3 * n + 2 * Reservation16(kLargestRow) : 5 * n + 2 * Reservation32(kLargestRow);
    return RoundToGranule(std::max<int64_t>(rows, 4096));
}

FastStorageStream::FastStorageStream(int64_t reservedMax) : reservedMax_(reservedMax) {}

FastStorageStream::~FastStorageStream() {
    g_storage_io.heldBytes.fetch_sub(allocated_, std::memory_order_relaxed);
    std::free(buffer_);
}

int64_t FastStorageStream::reset() {
    position_ = 0;
    need_ = 0;
    roundedNeed_ = 0;
    needCopy_ = 0;
    logicalBytes_ = 0;
    peak_ = 0;
    validBytes_ = 0;
    fromFile_ = false;
    return 0;
}

void FastStorageStream::finish() {
    g_storage_io.allocatedBytes.fetch_add(allocated_, std::memory_order_relaxed);
    g_storage_io.rawBytes.fetch_add(logicalBytes_, std::memory_order_relaxed);
    RaiseStoragePeak(peak_);
    g_storage_io.bytesWritten.fetch_add(position_, std::memory_order_relaxed);
}

std::atomic<int64_t>* FastStorageStream::tallyBytes() {
    g_storage_io.bytesRead.fetch_add(position_, std::memory_order_relaxed);
    return &g_storage_io.bytesRead;
}

void FastStorageStream::grow(int64_t r) {
    if (position_ + r <= need_) return;
    const int64_t need = int64_t(need_) + r;
    // Positions are 32-bit: a stream holds less than 2 GiB whatever its cap says.
    if (need > INT32_MAX) NotEnoughReserved();
    need_ = int32_t(need);
    needCopy_ = need;
    roundedNeed_ = RoundToGranule(need);
    if (roundedNeed_ <= allocated_) return;
    if (roundedNeed_ > reservedMax_) NotEnoughReserved();
    void* grown = buffer_ == nullptr ? std::malloc(size_t(roundedNeed_))
                                     : std::realloc(buffer_, size_t(roundedNeed_));
    if (grown == nullptr)
        AllocationFailed(buffer_ == nullptr ? "malloc" : "realloc", roundedNeed_, errno);
    buffer_ = static_cast<uint8_t*>(grown);
    g_storage_io.heldBytes.fetch_add(roundedNeed_ - allocated_, std::memory_order_relaxed);
    allocated_ = roundedNeed_;
}

int64_t FastStorageStream::writeRow(const uint32_t* row, const uint32_t*, int32_t n) {
    const int64_t before = logicalBytes_;
    if (n <= 0) return before;
    grow(Reservation32(n));
    position_ = int32_t(PackRow32(buffer_ + position_, row, n) - buffer_);
    validBytes_ = std::max(validBytes_, position_);
    logicalBytes_ += 4 * int64_t(n);
    return before;
}

int64_t FastStorageStream::writeRow16(const uint16_t* row, const uint16_t*, int32_t n) {
    const int64_t before = logicalBytes_;
    if (n <= 0) return before;
    grow(Reservation16(n));
    position_ = int32_t(PackRow16(buffer_ + position_, row, n) - buffer_);
    validBytes_ = std::max(validBytes_, position_);
    logicalBytes_ += 2 * int64_t(n);
    return before;
}

int64_t FastStorageStream::readRow(uint32_t* row, const uint32_t*, int32_t n) {
    const int64_t before = position_;
    if (n <= 0) return before;
    if (!fromFile_) {
        position_ = int32_t(UnpackRow32(row, n, buffer_ + position_) - buffer_);
        return before;
    }
    const uint8_t* end =
        buffer_ == nullptr ? nullptr : UnpackRow32Checked(row, n, buffer_ + position_, dataEnd());
    if (end == nullptr) {
        std::memset(row, 0, size_t(n) * 4);
        damaged_ = true;
        position_ = validBytes_;
    } else {
        position_ = int32_t(end - buffer_);
    }
    return before;
}

int64_t FastStorageStream::readRow16(uint16_t* row, const uint16_t*, int32_t n) {
    const int64_t before = position_;
    if (n <= 0) return before;
    if (!fromFile_) {
        position_ = int32_t(UnpackRow16(row, n, buffer_ + position_) - buffer_);
        return before;
    }
    const uint8_t* end =
        buffer_ == nullptr ? nullptr : UnpackRow16Checked(row, n, buffer_ + position_, dataEnd());
    if (end == nullptr) {
        std::memset(row, 0, size_t(n) * 2);
        damaged_ = true;
        position_ = validBytes_;
    } else {
        position_ = int32_t(end - buffer_);
    }
    return before;
}

void FastStorageStream::save(BinaryWriter& out) {
    WriteValue<uint32_t>(out, uint32_t(need_));
    WriteValue<uint64_t>(out, uint64_t(reservedMax_));
    WriteValue<uint64_t>(out, uint64_t(needCopy_));
    // The bytes after the last packed row carry no meaning; write them as zeros.
    const int64_t packed = std::min<int64_t>(validBytes_, needCopy_);
    if (packed > 0) out.write(buffer_, size_t(packed));
    static const uint8_t kZeros[4096] = {};
    for (int64_t left = needCopy_ - packed; left > 0; left -= int64_t(sizeof kZeros)) {
        out.write(kZeros, size_t(std::min<int64_t>(left, int64_t(sizeof kZeros))));
    }
}

void FastStorageStream::load(BinaryReader* in) {
    const uint32_t need = ReadValue<uint32_t>(*in);
    const uint64_t reserve = ReadValue<uint64_t>(*in);
    const uint64_t count = ReadValue<uint64_t>(*in);
    if (count != need) throw IOException("invalid file (stream byte count)");
    if (count > uint64_t(INT32_MAX)) throw IOException("invalid file (stream size)");
    const int64_t c = int64_t(count);
    // A large reserve is only a cap (growth stops below 2 GiB anyway); the bytes must fit it.
    const int64_t cap = int64_t(std::min<uint64_t>(reserve, uint64_t(INT64_MAX)));
    if (RoundToGranule(c) > cap) throw IOException("invalid file (stream reserve)");

    reservedMax_ = cap;
    // Until the bytes are in, the stream holds nothing readable.
    need_ = 0;
    validBytes_ = 0;
    fromFile_ = true;
    // The buffer grows with the bytes that arrive, so a count the file cannot back ends in the
    // read error after at most one step of memory beyond them.
    constexpr int64_t kStep = int64_t{4} << 20;
    for (int64_t done = 0;;) {
        const int64_t step = std::min(c - done, kStep);
        const int64_t want = done + step == c ? RoundToGranule(c) : done + step;
        if (want > allocated_) {
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
    need_ = int32_t(c);
    needCopy_ = c;
    roundedNeed_ = RoundToGranule(c);
    validBytes_ = int32_t(c);
}

void FastStorageStream::raiseReserve(int64_t bytes) {
    reservedMax_ = std::max(reservedMax_, bytes);
}
