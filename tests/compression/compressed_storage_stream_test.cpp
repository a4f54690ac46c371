// The kind-2 row stream: pass bookkeeping, joined buffer against an independent sink, save
// blocks, corrupt blocks, fatal paths, per-thread tables and counters.
#include "compression/compressed_storage_stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "child_process.h"
#include "memory_streams.h"
#include "solver_rows.h"
#include "storage/storage_io_counters.h"

namespace {

// One row of a pass; a row takes the previous row as reference when both have the same width
// and the previous one has at least as many values (the river storages' rule).
struct Row {
    bool is16;
    std::vector<uint32_t> values;  // 16-bit rows hold values below 2^16
};

using Pass = std::vector<Row>;

const Row* ReferenceOf(const Pass& pass, size_t i) {
    if (i == 0) return nullptr;
    const Row& p = pass[i - 1];
    return p.is16 == pass[i].is16 && p.values.size() >= pass[i].values.size() ? &p : nullptr;
}

std::vector<uint16_t> Narrow(const std::vector<uint32_t>& v) {
    return std::vector<uint16_t>(v.begin(), v.end());
}

// Writes every row with its reference and returns the offsets writeRow gave.
std::vector<int64_t> WriteRows(StorageStreamInterface& s, const Pass& pass) {
    std::vector<int64_t> offsets;
    for (size_t i = 0; i < pass.size(); ++i) {
        const Row& r = pass[i];
        const Row* ref = ReferenceOf(pass, i);
        const auto n = int32_t(r.values.size());
        if (r.is16) {
            const auto row = Narrow(r.values);
            const auto refRow = ref ? Narrow(ref->values) : std::vector<uint16_t>{};
            offsets.push_back(s.writeRow16(row.data(), ref ? refRow.data() : nullptr, n));
        } else {
            offsets.push_back(s.writeRow(r.values.data(), ref ? ref->values.data() : nullptr, n));
        }
    }
    return offsets;
}

void WritePass(StorageStreamInterface& s, const Pass& pass) {
    EXPECT_EQ(s.reset(), 0);
    WriteRows(s, pass);
    s.finish();
}

// Reads the rows back, each against the reference as read.
Pass ReadRows(StorageStreamInterface& s, const Pass& shape) {
    Pass out;
    for (size_t i = 0; i < shape.size(); ++i) {
        const Row* ref = ReferenceOf(shape, i) ? &out[i - 1] : nullptr;
        const size_t n = shape[i].values.size();
        Row r{shape[i].is16, std::vector<uint32_t>(n)};
        if (r.is16) {
            std::vector<uint16_t> row(n);
            const auto refRow = ref ? Narrow(ref->values) : std::vector<uint16_t>{};
            s.readRow16(row.data(), ref ? refRow.data() : nullptr, int32_t(n));
            r.values.assign(row.begin(), row.end());
        } else {
            s.readRow(r.values.data(), ref ? ref->values.data() : nullptr, int32_t(n));
        }
        out.push_back(std::move(r));
    }
    return out;
}

Pass ReadPass(StorageStreamInterface& s, const Pass& shape) {
    s.rewind();
    Pass out = ReadRows(s, shape);
    s.tallyBytes();
    return out;
}

bool SameRows(const Pass& a, const Pass& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].values != b[i].values) return false;
    return true;
}

enum class Shape { Solver, Random32, ZeroRuns, Mixed };

// Rows of a shape holding about values values in all.
Pass MakePass(Shape shape, std::mt19937_64& rng, int64_t values) {
    Pass pass;
    for (int64_t held = 0; held < values;) {
        const int n = 1 + int(rng() % 1326);
        Row r{false, {}};
        switch (shape) {
            case Shape::Solver:
            case Shape::Mixed:
                r.is16 = shape == Shape::Mixed ? rng() % 2 == 0 : (held / 4096) % 2 == 0;
                if (r.is16) {
                    auto v = solver_rows::regret_row(rng, n);
                    r.values.assign(v.begin(), v.end());
                } else {
                    r.values = solver_rows::strategy_row(rng, n);
                }
                // Often a small change of the previous row, as river cards of one turn give.
                if (!pass.empty() && pass.back().is16 == r.is16 && rng() % 2 == 0) {
                    r.values = pass.back().values;
                    r.values.resize(std::min<size_t>(r.values.size(), size_t(n)));
                    for (uint32_t& v : r.values)
                        if (rng() % 8 == 0) v = (v + rng() % 5) & (r.is16 ? 0xFFFF : ~0u);
                }
                break;
            case Shape::Random32:
                r.values.resize(size_t(n));
                for (uint32_t& v : r.values) v = uint32_t(rng());
                break;
            case Shape::ZeroRuns:
                r.is16 = rng() % 2 == 0;
                r.values.assign(size_t(rng() % 4 == 0 ? 0 : n), 0);
                break;
        }
        held += int64_t(r.values.size()) + 1;
        pass.push_back(std::move(r));
    }
    return pass;
}

int64_t ValuesOf(const Pass& pass) {
    int64_t v = 0;
    for (const Row& r : pass) v += int64_t(r.values.size());
    return v;
}

// The coder's sub-streams for the same rows, written to a plain in-memory sink.
std::vector<uint8_t> IndependentJoin(const Pass& pass) {
    MemoryStreams sink;
    CompressionStats stats{};
    CompressorInterface* c =
        MakeCompressor(kFSECoder, nullptr, nullptr, MemoryStreams::write, &sink, &stats);
    for (size_t i = 0; i < pass.size(); ++i) {
        const Row& r = pass[i];
        const Row* ref = ReferenceOf(pass, i);
        if (r.is16) {
            const auto row = Narrow(r.values);
            const auto refRow = ref ? Narrow(ref->values) : std::vector<uint16_t>{};
            CompressRow16(c, row.data(), ref ? refRow.data() : nullptr, int32_t(row.size()));
        } else {
            CompressRow32(c, r.values.data(), ref ? ref->values.data() : nullptr,
                          int32_t(r.values.size()));
        }
    }
    DeleteCompressor(c);
    std::vector<uint8_t> joined;
    for (const auto& s : sink.streams) joined.insert(joined.end(), s.begin(), s.end());
    return joined;
}

std::vector<uint8_t> Joined(const CompressedStorageStream& s) {
    return std::vector<uint8_t>(s.buffer(), s.buffer() + s.usedBytes());
}

std::vector<uint8_t> Saved(CompressedStorageStream& s) {
    MemoryWriter w;
    s.save(w);
    return w.take();
}

template <class T>
void Put(std::vector<uint8_t>& block, size_t offset, T value) {
    std::memcpy(block.data() + offset, &value, sizeof value);
}

template <class T>
T Get(const std::vector<uint8_t>& block, size_t offset) {
    T value;
    std::memcpy(&value, block.data() + offset, sizeof value);
    return value;
}

// The reservation the river storage gives: two bytes per value in 4 KiB granules.
int64_t TwoBytesPerValue(int64_t values) {
    return (2 * values + 4095) & ~int64_t(4095);
}

}  // namespace

TEST(CompressedStorageStream, PassBookkeeping) {
    std::mt19937_64 rng(7);
    CompressedStorageStream s(0);
    EXPECT_FALSE(s.hasData());
    const int64_t readBefore = g_storage_io.bytesRead.load();
    s.tallyBytes();
    EXPECT_EQ(g_storage_io.bytesRead.load(), readBefore);

    // An empty pass joins the kind byte alone, even on a stream reserved for nothing.
    s.reset();
    EXPECT_TRUE(s.hasData());
    s.finish();
    EXPECT_EQ(s.usedBytes(), 1);
    EXPECT_EQ(s.allocated(), 4096);
    EXPECT_EQ(s.buffer()[0], kFSECoder);
    // Its save block carries that byte and loads back with nothing left over.
    const std::vector<uint8_t> kindOnly = Saved(s);
    ASSERT_EQ(kindOnly.size(), 209u);
    CompressedStorageStream reloaded(0);
    MemoryReader kindReader(kindOnly);
    reloaded.load(&kindReader);
    EXPECT_EQ(kindReader.remaining(), 0u);
    EXPECT_EQ(Saved(reloaded), kindOnly);

    // Offsets count 4 bytes per value, 16-bit rows too.
    Pass pass = MakePass(Shape::Mixed, rng, 300000);
    s.reset();
    const std::vector<int64_t> offsets = WriteRows(s, pass);
    s.finish();
    int64_t expected = 0;
    for (size_t i = 0; i < pass.size(); ++i) {
        EXPECT_EQ(offsets[i], expected);
        expected += 4 * int64_t(pass[i].values.size());
    }
    EXPECT_EQ(Joined(s), IndependentJoin(pass));
    const int64_t large = s.allocated();
    EXPECT_GT(large, 4096);

    // Two reading passes read the same rows; one that stops early does not shift the next.
    EXPECT_TRUE(SameRows(ReadPass(s, pass), pass));
    s.rewind();
    ReadRows(s, Pass(pass.begin(), pass.begin() + 3));
    s.tallyBytes();
    const int64_t readAt = g_storage_io.bytesRead.load();
    EXPECT_TRUE(SameRows(ReadPass(s, pass), pass));
    EXPECT_EQ(g_storage_io.bytesRead.load() - readAt, s.usedBytes());

    // A smaller pass keeps the buffer; a larger one grows it.
    Pass small = MakePass(Shape::Solver, rng, 2000);
    WritePass(s, small);
    EXPECT_EQ(s.allocated(), large);
    EXPECT_TRUE(SameRows(ReadPass(s, small), small));
    Pass big = MakePass(Shape::Random32, rng, 600000);
    WritePass(s, big);
    EXPECT_GT(s.allocated(), large);
    EXPECT_LE(s.allocated(), s.reserved());
    EXPECT_TRUE(SameRows(ReadPass(s, big), big));

    // The save block: 24 equal pairs, reservation, used size, exactly the joined bytes.
    const std::vector<uint8_t> block = Saved(s);
    ASSERT_EQ(block.size(), 208 + size_t(s.usedBytes()));
    int64_t sum = 0;
    for (int k = 0; k < 24; ++k) {
        EXPECT_EQ(Get<int32_t>(block, 8 * k), s.length(k));
        EXPECT_EQ(Get<int32_t>(block, 8 * k + 4), s.length(k));
        sum += s.length(k);
    }
    EXPECT_EQ(Get<int64_t>(block, 192), s.reserved());
    EXPECT_EQ(Get<int64_t>(block, 200), sum);
    EXPECT_EQ(std::vector<uint8_t>(block.begin() + 208, block.end()), Joined(s));
    CompressedStorageStream loaded(0);
    MemoryReader reader(block);
    loaded.load(&reader);
    EXPECT_EQ(reader.remaining(), 0u);
    EXPECT_EQ(loaded.reserved(), s.reserved());
    EXPECT_TRUE(SameRows(ReadPass(loaded, big), big));
    EXPECT_FALSE(loaded.damaged());
    EXPECT_EQ(Saved(loaded), block);
}

// Rows come back exactly, the joined buffer is the coder's sub-streams in order, and the
// reservation of two bytes per value never ends a pass, incompressible rows included.
TEST(CompressedStorageStream, RoundTripsOfEveryShape) {
    struct Case {
        Shape shape;
        int64_t values;
    };
    const Case cases[] = {{Shape::Solver, 50000},    {Shape::Solver, 3000000},
                          {Shape::Mixed, 1000000},   {Shape::Random32, 700000},
                          {Shape::ZeroRuns, 200000}, {Shape::Mixed, 1}};
    std::mt19937_64 rng(11);
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.shape));
        const Pass pass = MakePass(c.shape, rng, c.values);
        CompressedStorageStream s(TwoBytesPerValue(ValuesOf(pass)));
        for (int round = 0; round < 2; ++round) {
            WritePass(s, pass);
            EXPECT_EQ(Joined(s), IndependentJoin(pass));
            EXPECT_TRUE(SameRows(ReadPass(s, pass), pass));
        }
    }
}

TEST(CompressedStorageStream, TwoPassesOpenOnOneThread) {
    std::mt19937_64 rng(3);
    const Pass a = MakePass(Shape::Solver, rng, 400000), b = MakePass(Shape::Mixed, rng, 400000);
    CompressedStorageStream sa(0), sb(0);
    sa.reset();
    sb.reset();
    for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        if (i < a.size()) WriteRows(sa, Pass(a.begin() + i, a.begin() + i + 1));
        if (i < b.size()) WriteRows(sb, Pass(b.begin() + i, b.begin() + i + 1));
    }
    sb.finish();
    sa.finish();
    // Rows written one at a time have no reference; they are read the same way.
    sa.rewind();
    sb.rewind();
    Pass ra, rb;
    for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        if (i < a.size()) ra.push_back(ReadRows(sa, Pass(a.begin() + i, a.begin() + i + 1))[0]);
        if (i < b.size()) rb.push_back(ReadRows(sb, Pass(b.begin() + i, b.begin() + i + 1))[0]);
    }
    sa.tallyBytes();
    sb.tallyBytes();
    EXPECT_TRUE(SameRows(ra, a));
    EXPECT_TRUE(SameRows(rb, b));
}

TEST(CompressedStorageStream, MisuseEndsTheProcess) {
    struct Case {
        const char* name;
        void (*run)();
        const char* out;
    };
    const Case cases[] = {
        {"reset while writing",
         [] {
             CompressedStorageStream s(0);
             s.reset();
             s.reset();
         },
         "fail\n"},
        {"rewind while writing",
         [] {
             CompressedStorageStream s(0);
             s.reset();
             s.rewind();
         },
         "fail\n"},
        {"reset while reading",
         [] {
             CompressedStorageStream s(0);
             s.reset();
             s.finish();
             s.rewind();
             s.reset();
         },
         "fail\n"},
        {"bytes past the pass's bound",
         [] {
             CompressedStorageStream s(0);
             s.reset();
             std::vector<uint8_t> junk(5000, 1);
             CompressedStorageStream::writeSubstream(&s, 3, junk.data(), int32_t(junk.size()));
             s.finish();
         },
         "out of memory (not enough reserved)\n"},
        {"reading past what was written",
         [] {
             CompressedStorageStream s(0);
             s.reset();
             s.finish();
             s.rewind();
             uint32_t row[8];
             s.readRow(row, nullptr, 8);
         },
         "fail (stream overrun)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ChildResult r = run_in_child(c.run);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, c.out);
    }
}

TEST(CompressedStorageStream, SteadyStateWritingAllocatesNothing) {
#ifdef NLHE_PLAIN_ALLOC
    GTEST_SKIP() << "the sanitizer build allocates every coder buffer";
#endif
    std::mt19937_64 rng(5);
    const Pass pass = MakePass(Shape::Solver, rng, 500000);
    CompressedStorageStream s(0), t(0);
    auto round = [&] {
        WritePass(s, pass);
        t.reset();  // a second pass open on the thread
        WriteRows(t, pass);
        ReadPass(s, pass);
        t.finish();
    };
    round();
    const int64_t heapBefore = g_coder_heap_allocations.load();
    round();
    round();
    EXPECT_EQ(g_coder_heap_allocations.load(), heapBefore);
}

// Threads that end free their tables; the counters equal the per-stream sums.
TEST(CompressedStorageStream, ThreadsWriteAndReadManyStreams) {
    const int64_t tablesBefore = g_live_buffer_tables.load();
    const int64_t written0 = g_storage_io.bytesWritten.load(),
                  read0 = g_storage_io.bytesRead.load(), raw0 = g_storage_io.rawBytes.load();
    std::atomic<int64_t> written{0}, raw{0}, bad{0};
    std::atomic<int32_t> peak{0};
    for (int round = 0; round < 100; ++round) {
        std::vector<std::thread> threads;
        for (int id = 0; id < 8; ++id) {
            threads.emplace_back([&, id, round] {
                std::mt19937_64 rng(uint64_t(round * 8 + id));
                const Pass a = MakePass(Shape::Solver, rng, 4000);
                const Pass b = MakePass(Shape::Random32, rng, 3000);
                CompressedStorageStream sa(0), sb(0);
                sa.reset();
                sb.reset();
                WriteRows(sa, a);
                WriteRows(sb, b);
                sa.finish();
                sb.finish();
                if (!SameRows(ReadPass(sa, a), a) || !SameRows(ReadPass(sb, b), b)) ++bad;
                written += sa.usedBytes() + sb.usedBytes();
                raw += 4 * (ValuesOf(a) + ValuesOf(b));
                int32_t top = 0;
                for (const Row& r : b)
                    for (uint32_t v : r.values) {
                        // The largest escaped byte value b = zigzag - 1 of a plain row.
                        const uint32_t z = (v << 1) ^ uint32_t(int32_t(v) >> 31);
                        if (z >= 256) top = std::max(top, int32_t(z - 1));
                    }
                for (int32_t seen = peak.load();
                     seen < top && !peak.compare_exchange_weak(seen, top);) {
                }
            });
        }
        for (std::thread& t : threads) t.join();
    }
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(g_storage_io.bytesWritten.load() - written0, written.load());
    EXPECT_EQ(g_storage_io.bytesRead.load() - read0, written.load());
    EXPECT_EQ(g_storage_io.rawBytes.load() - raw0, raw.load());
    EXPECT_GE(g_storage_io.peakValue.load(), peak.load());
    EXPECT_EQ(g_live_buffer_tables.load(), tablesBefore);
}

// A block no save writes is refused with IOException and leaves no readable data; a valid
// header over damaged coded bytes reports or reads zeros, inside the buffer.
TEST(CompressedStorageStream, CorruptBlocks) {
    std::mt19937_64 rng(9);
    const Pass pass = MakePass(Shape::Solver, rng, 200000);
    CompressedStorageStream source(0);
    WritePass(source, pass);
    const int64_t heldBefore = g_storage_io.heldBytes.load();
    const std::vector<uint8_t> good = Saved(source);
    const int32_t len0 = source.length(0), len1 = source.length(1);
    const int64_t used = source.usedBytes();

    struct Case {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> damage;
    };
    const Case cases[] = {
        {"negative used size", [](auto& b) { Put<int64_t>(b, 200, -1); }},
        {"used size unequal to its 64-bit field",
         [&](auto& b) { Put<int64_t>(b, 200, used + (int64_t(1) << 32)); }},
        {"negative size and position",
         [](auto& b) { Put<int32_t>(b, 8, -1), Put<int32_t>(b, 12, -1); }},
        {"size unequal to position", [&](auto& b) { Put<int32_t>(b, 8, len1 + 1); }},
        {"size 0 unequal to position 0", [&](auto& b) { Put<int32_t>(b, 0, len0 + 1); }},
        {"positions not summing to the used size",
         [&](auto& b) { Put<int32_t>(b, 0, len0 + 1), Put<int32_t>(b, 4, len0 + 1); }},
        {"reservation below the data", [](auto& b) { Put<int64_t>(b, 192, 4096); }},
        {"negative reservation", [](auto& b) { Put<int64_t>(b, 192, -4096); }},
        {"unknown kind byte", [](auto& b) { b[208] = 7; }},
        {"kind byte of another coder", [](auto& b) { b[208] = 1; }},
        {"data but an empty sub-stream 0",
         [&](auto& b) {
             Put<int32_t>(b, 0, 0), Put<int32_t>(b, 4, 0), Put<int32_t>(b, 8, len1 + len0),
                 Put<int32_t>(b, 12, len1 + len0);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> block = good;
        c.damage(block);
        CompressedStorageStream s(0);
        MemoryReader reader(block);
        EXPECT_THROW(s.load(&reader), IOException);
    }
    // A valid header claiming 1 GiB over a short body: refused before that memory is taken.
    {
        std::vector<uint8_t> block(good.begin(), good.begin() + 209);
        const int32_t huge = int32_t{1} << 30;
        for (int k = 0; k < 24; ++k)
            Put<int32_t>(block, 8 * k, 0), Put<int32_t>(block, 8 * k + 4, 0);
        Put<int32_t>(block, 0, huge), Put<int32_t>(block, 4, huge);
        Put<int64_t>(block, 192, huge), Put<int64_t>(block, 200, huge);
        CompressedStorageStream s(0);
        MemoryReader reader(block);
        EXPECT_THROW(s.load(&reader), IOException);
        EXPECT_FALSE(s.hasData());
        EXPECT_LE(s.allocated(), int64_t{4} << 20);
    }
    for (size_t cut = 0; cut < good.size(); cut += cut < 300 ? 1 : 997) {
        CompressedStorageStream s(0);
        MemoryReader reader(std::vector<uint8_t>(good.begin(), good.begin() + long(cut)));
        EXPECT_THROW(s.load(&reader), IOException) << cut;
        EXPECT_FALSE(s.hasData());
        EXPECT_EQ(s.usedBytes(), 0);
    }

    // Sub-stream 1's bytes moved to the end of 23: reads of 1 run dry, get zeros, and the stream
    // records the damage when its report returns.
    {
        std::vector<uint8_t> block = good;
        Put<int32_t>(block, 8 * 23, Get<int32_t>(block, 8 * 23) + len1);
        Put<int32_t>(block, 8 * 23 + 4, Get<int32_t>(block, 8 * 23 + 4) + len1);
        Put<int32_t>(block, 8, 0);
        Put<int32_t>(block, 12, 0);
        CompressedStorageStream s(0);
        static int reports;
        reports = 0;
        s.setCorruptionReport([](void*) { ++reports; });
        MemoryReader reader(block);
        s.load(&reader);
        ReadPass(s, pass);
        EXPECT_TRUE(s.damaged());
        EXPECT_GT(reports, 0);
    }

    // A block of no data read as if it held rows: zeros, and the damage recorded.
    for (bool is16 : {false, true}) {
        CompressedStorageStream s(0);
        MemoryReader reader(std::vector<uint8_t>(208, 0));
        s.load(&reader);
        const Pass got = ReadPass(s, {{is16, std::vector<uint32_t>(5, 7)}});
        EXPECT_EQ(got[0].values, std::vector<uint32_t>(5, 0));
        EXPECT_TRUE(s.damaged()) << is16;
    }

    // Damaged coded bytes: a throwing report, or zeros and the damage recorded.
    int reported = 0, damaged = 0;
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<uint8_t> block = good;
        const size_t at = 209 + rng() % size_t(used - 1);
        block[at] ^= uint8_t(1 + rng() % 255);
        if (trial % 3 == 0) {
            // Move bytes from one sub-stream to another: lengths stay valid, blocks do not.
            const int k = 1 + int(rng() % 23);
            const int32_t moved = std::min(Get<int32_t>(block, 8 * k), 16);
            Put<int32_t>(block, 8 * k, Get<int32_t>(block, 8 * k) - moved);
            Put<int32_t>(block, 8 * k + 4, Get<int32_t>(block, 8 * k));
            Put<int32_t>(block, 0, Get<int32_t>(block, 0) + moved);
            Put<int32_t>(block, 4, Get<int32_t>(block, 0));
        }
        CompressedStorageStream s(0);
        s.setCorruptionReport(throwing_report);
        MemoryReader reader(block);
        s.load(&reader);
        try {
            ReadPass(s, pass);
        } catch (const CorruptInput&) {
            ++reported;
            s.tallyBytes();
        }
        damaged += s.damaged();
    }
    EXPECT_GT(reported + damaged, 0);
    EXPECT_EQ(g_storage_io.heldBytes.load(), heldBefore);
}
