#include "storage/fast_storage_stream.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <thread>
#include <vector>

#include "storage/row_packing.h"
#include "storage/storage_io_counters.h"

namespace {

std::vector<uint16_t> Row16(std::mt19937& rng, int n) {
    std::vector<uint16_t> row(static_cast<size_t>(n));
    const uint32_t top = 1u << (rng() % 17);
    for (auto& v : row) v = rng() % 2 ? 0 : uint16_t(rng() % top);
    return row;
}

std::vector<uint32_t> Row32(std::mt19937& rng, int n) {
    std::vector<uint32_t> row(static_cast<size_t>(n));
    const uint32_t top = 1u << (rng() % 31);
    for (auto& v : row) v = rng() % 2 ? 0 : rng() % top;
    return row;
}

// A sequence of rows of both widths, as one walk over several storages writes them.
struct Rows {
    std::vector<std::vector<uint16_t>> narrow;
    std::vector<std::vector<uint32_t>> wide;
    std::vector<bool> isNarrow;

    explicit Rows(uint32_t seed, int count = 60) {
        std::mt19937 rng(seed);
        for (int i = 0; i < count; ++i) {
            const int n = int(rng() % 1200);
            const bool small = rng() % 2 != 0;
            isNarrow.push_back(small);
            narrow.push_back(small ? Row16(rng, n) : std::vector<uint16_t>());
            wide.push_back(small ? std::vector<uint32_t>() : Row32(rng, n));
        }
    }
    int64_t values() const {
        int64_t total = 0;
        for (size_t i = 0; i < isNarrow.size(); ++i) {
            total += int64_t(isNarrow[i] ? narrow[i].size() : wide[i].size());
        }
        return total;
    }
    void write(StorageStreamInterface& s) const {
        for (size_t i = 0; i < isNarrow.size(); ++i) {
            if (isNarrow[i]) {
                s.writeRow16(narrow[i].data(), nullptr, int32_t(narrow[i].size()));
            } else {
                s.writeRow(wide[i].data(), nullptr, int32_t(wide[i].size()));
            }
        }
    }
    void expectReadBack(StorageStreamInterface& s) const {
        for (size_t i = 0; i < isNarrow.size(); ++i) {
            if (isNarrow[i]) {
                std::vector<uint16_t> back(narrow[i].size(), 0xBEEF);
                s.readRow16(back.data(), nullptr, int32_t(back.size()));
                ASSERT_EQ(back, narrow[i]) << "row " << i;
            } else {
                std::vector<uint32_t> back(wide[i].size(), 0xBEEF);
                s.readRow(back.data(), nullptr, int32_t(back.size()));
                ASSERT_EQ(back, wide[i]) << "row " << i;
            }
        }
    }
};

std::vector<uint8_t> Saved(FastStorageStream& s) {
    MemoryWriter out;
    s.save(out);
    return out.take();
}

TEST(FastStorageStream, GrowthFollowsReservations) {
    FastStorageStream s(1 << 20);
    EXPECT_FALSE(s.hasData());
    s.reset();
    uint16_t unused = 0;
    s.writeRow16(&unused, nullptr, 0);
    EXPECT_FALSE(s.hasData());
    EXPECT_EQ(s.need(), 0);

    std::vector<uint32_t> row(100);
    for (size_t i = 0; i < row.size(); ++i) row[i] = uint32_t(i * i);
    std::vector<uint8_t> packed(size_t(PackedRow32Bound(100)));
    const int64_t packedLength = PackRow32(packed.data(), row.data(), 100) - packed.data();

    EXPECT_EQ(s.writeRow(row.data(), nullptr, 100), 0);
    EXPECT_TRUE(s.hasData());
    EXPECT_EQ(s.need(), 500);
    EXPECT_EQ(s.allocated(), 16384);
    EXPECT_EQ(s.position(), packedLength);
    EXPECT_EQ(s.logicalBytes(), 400);
    EXPECT_TRUE(std::equal(packed.begin(), packed.begin() + packedLength, s.buffer()));
    // The next row fits in what was reserved: no growth.
    EXPECT_EQ(s.writeRow16(std::vector<uint16_t>(10).data(), nullptr, 10), 400);
    EXPECT_EQ(s.need(), 500);
    // reset keeps the buffer.
    s.reset();
    EXPECT_FALSE(s.hasData());
    EXPECT_EQ(s.allocated(), 16384);
}

TEST(FastStorageStream, MixedRowsReadBack) {
    const Rows rows(1);
    FastStorageStream s(FastStreamReserve(rows.values(), false));
    for (int pass = 0; pass < 2; ++pass) {
        s.reset();
        rows.write(s);
        s.rewind();
        rows.expectReadBack(s);
        EXPECT_FALSE(s.damaged());
    }
}

TEST(FastStorageStreamDeath, GrowthPastTheCapEndsTheProcess) {
    // Zero rows pack to a few bytes, but reservations count, not packed bytes.
    EXPECT_EXIT(
        {
            dup2(STDERR_FILENO, STDOUT_FILENO);
            FastStorageStream s(16384);
            std::vector<uint32_t> zeros(3000);
            s.writeRow(zeros.data(), nullptr, 3000);
            s.writeRow(zeros.data(), nullptr, 3000);
        },
        testing::ExitedWithCode(1), "out of memory \\(not enough reserved\\)");
}

// A turn of near-incompressible rows (every count above 65535) fits the reserve computed from
// its value count, for every row count; a reserve of n/32 + 4n bytes is exceeded for some.
TEST(FastStorageStream, WorstCaseTurnsFitTheirReserve) {
    const int hands = 1081;
    const std::vector<uint32_t> wide(hands, 70000);
    const std::vector<uint16_t> narrow(hands, 65535);
    int shortReserves = 0;
    for (int rows = 1; rows <= 150; ++rows) {
        const int64_t n = int64_t(rows) * hands;
        FastStorageStream s(FastStreamReserve(n, false));
        s.reset();
        for (int i = 0; i < rows; ++i) s.writeRow(wide.data(), nullptr, hands);
        ASSERT_LE(s.allocated(), s.reservedMax());
        if (s.allocated() > (((n + 31) / 32 + 4 * n + 16383) & ~int64_t(16383))) ++shortReserves;

        FastStorageStream t(FastStreamReserve(n, true));
        t.reset();
        for (int i = 0; i < rows; ++i) t.writeRow16(narrow.data(), nullptr, hands);
        ASSERT_LE(t.allocated(), t.reservedMax());
    }
    EXPECT_GT(shortReserves, 0);
    EXPECT_GE(FastStreamReserve(0, true), 4096);
    EXPECT_EQ(FastStreamReserve(1000, false) % kStreamGranule, 0);
}

TEST(FastStorageStream, SaveLoadRoundTrip) {
    const Rows rows(2);
    FastStorageStream s(FastStreamReserve(rows.values(), false));
    s.reset();
    rows.write(s);
    const std::vector<uint8_t> bytes = Saved(s);
    ASSERT_EQ(bytes.size(), size_t(20 + s.need()));

    FastStorageStream loaded(0);
    MemoryReader in(bytes);
    loaded.load(&in);
    EXPECT_EQ(in.remaining(), 0u);
    EXPECT_TRUE(loaded.hasData());
    EXPECT_EQ(loaded.need(), s.need());
    EXPECT_EQ(loaded.reservedMax(), s.reservedMax());
    EXPECT_EQ(loaded.position(), 0);
    EXPECT_TRUE(std::equal(s.buffer(), s.buffer() + s.position(), loaded.buffer()));
    rows.expectReadBack(loaded);
    EXPECT_FALSE(loaded.damaged());
    // Saving the loaded stream gives the same block.
    EXPECT_EQ(Saved(loaded), bytes);

    // An empty stream saves as need 0, its reserve, no bytes, and loads as a stream without data.
    FastStorageStream empty(16384);
    const std::vector<uint8_t> emptyBytes = Saved(empty);
    EXPECT_EQ(emptyBytes.size(), 20u);
    FastStorageStream emptyLoaded(0);
    MemoryReader emptyIn(emptyBytes);
    emptyLoaded.load(&emptyIn);
    EXPECT_FALSE(emptyLoaded.hasData());
}

std::vector<uint8_t> Block(uint32_t need, uint64_t reserve, uint64_t count,
                           const std::vector<uint8_t>& payload) {
    MemoryWriter out;
    WriteValue(out, need);
    WriteValue(out, reserve);
    WriteValue(out, count);
    out.write(payload.data(), payload.size());
    return out.take();
}

void ExpectRefused(const std::vector<uint8_t>& bytes) {
    FastStorageStream s(0);
    MemoryReader in(bytes);
    EXPECT_THROW(s.load(&in), IOException);
}

TEST(FastStorageStream, LoadRefusesBadBlocks) {
    const std::vector<uint8_t> payload(100, 0);
    ExpectRefused(Block(100, 16384, 99, payload));       // c != need
    ExpectRefused(Block(100, 16384, 101, payload));      // c != need, and past the data
    ExpectRefused(Block(20000, 16384, 20000, payload));  // c above the reserve
    ExpectRefused(Block(100, 0, 100, payload));          // c above the reserve
    ExpectRefused(Block(0x80000000u, uint64_t(1) << 32, 0x80000000u, payload));  // c >= 2^31

    // A reserve beyond 32 bits is only a cap: the block loads and saves back unchanged.
    for (uint64_t reserve : {uint64_t(1) << 40, ~uint64_t(0) >> 1}) {
        const std::vector<uint8_t> big = Block(100, reserve, 100, payload);
        FastStorageStream s(0);
        MemoryReader in(big);
        s.load(&in);
        EXPECT_TRUE(s.hasData());
        EXPECT_EQ(Saved(s), big);
    }

    // Cut at every byte offset of a valid block.
    const Rows rows(3, 6);
    FastStorageStream s(FastStreamReserve(rows.values(), false));
    s.reset();
    rows.write(s);
    const std::vector<uint8_t> bytes = Saved(s);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        ExpectRefused(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(cut)));
    }
}

// Loaded bytes that do not hold the rows asked for read as zeros and mark the stream damaged;
// nothing is read past the loaded bytes.
TEST(FastStorageStream, OverrunningLoadedRowsReadAsZeros) {
    // A header promising 32 one-byte values, followed by only two of them.
    FastStorageStream s(0);
    MemoryReader in(Block(3, 16384, 3, {0x55, 7, 7}));
    s.load(&in);
    std::vector<uint16_t> row(32, 0xBEEF);
    s.readRow16(row.data(), nullptr, 32);
    EXPECT_EQ(row, std::vector<uint16_t>(32, 0));
    EXPECT_TRUE(s.damaged());
    std::vector<uint32_t> next(5, 1);
    s.readRow(next.data(), nullptr, 5);
    EXPECT_EQ(next, std::vector<uint32_t>(5, 0));

    // A write pass after the load works on the program's own bytes again.
    s.raiseReserve(FastStreamReserve(64, true));
    s.reset();
    std::vector<uint16_t> ones(64, 1);
    s.writeRow16(ones.data(), nullptr, 64);
    s.rewind();
    std::vector<uint16_t> back(64);
    s.readRow16(back.data(), nullptr, 64);
    EXPECT_EQ(back, ones);
}

// Streams finished and tallied on many threads at once leave exact totals.
TEST(StorageIoCounters, ConcurrentStreamsCountExactly) {
    ResetStorageTraffic();
    const int64_t raw0 = g_storage_io.rawBytes.load();
    const int64_t alloc0 = g_storage_io.allocatedBytes.load();
    const int threads = 32;
    std::vector<int64_t> written(threads), logical(threads), allocated(threads);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([t, &written, &logical, &allocated] {
            const Rows rows(100 + uint32_t(t), 20);
            FastStorageStream s(FastStreamReserve(rows.values(), false));
            for (int pass = 0; pass < 5; ++pass) {
                s.reset();
                rows.write(s);
                s.finish();
                s.rewind();
                rows.expectReadBack(s);
                s.tallyBytes();
            }
            written[size_t(t)] = 5 * s.position();
            logical[size_t(t)] = 5 * s.logicalBytes();
            allocated[size_t(t)] = 5 * s.allocated();
        });
    }
    for (auto& th : pool) th.join();
    int64_t w = 0, l = 0, a = 0;
    for (int t = 0; t < threads; ++t) {
        w += written[size_t(t)];
        l += logical[size_t(t)];
        a += allocated[size_t(t)];
    }
    EXPECT_EQ(g_storage_io.bytesWritten.load(), w);
    EXPECT_EQ(g_storage_io.bytesRead.load(), w);
    EXPECT_EQ(g_storage_io.rawBytes.load() - raw0, l);
    EXPECT_EQ(g_storage_io.allocatedBytes.load() - alloc0, a);
    ResetStorageTraffic();
    EXPECT_EQ(g_storage_io.bytesWritten.load(), 0);
    EXPECT_EQ(g_storage_io.bytesRead.load(), 0);
}

TEST(StorageIoCounters, PeakIsAConcurrentMaximum) {
    std::vector<std::thread> pool;
    for (int t = 0; t < 16; ++t) {
        pool.emplace_back([t] {
            for (int64_t v = 0; v < 2000; ++v) RaiseStoragePeak(v * 16 + t);
        });
    }
    for (auto& th : pool) th.join();
    EXPECT_EQ(g_storage_io.peakValue.load(), 1999 * 16 + 15);
}

}  // namespace
