#include "storage/compressed_river_storage.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "storage/binary_io.h"
#include "storage/fast_storage_stream.h"
#include "storage/lock_record.h"

namespace {

FlatIndexLists MakeLayout(int actions, const std::vector<std::vector<int32_t>>& counts) {
    FlatIndexLists layout;
    FlattenIndexLists(&layout, actions, &counts);
    return layout;
}

// Turn records of a few runouts each, hand counts rising and falling so both sides of the
// reference rule occur.
std::vector<std::vector<int32_t>> RandomCounts(uint32_t seed, int turns, int runouts) {
    std::mt19937 rng(seed);
    std::vector<std::vector<int32_t>> counts(static_cast<size_t>(turns));
    for (auto& turn : counts) {
        for (int j = 0; j < runouts; ++j) turn.push_back(1 + int32_t(rng() % 120));
    }
    return counts;
}

// Fills every row of an open turn with random values of its width.
void FillTurn(CompressedRiverStorage& s, int turn, std::mt19937& rng) {
    const auto& span = s.layout()->turnRunouts[size_t(turn)];
    for (uint32_t j = 0; j < span.count; ++j) {
        const int h = s.numHands(turn, int32_t(j));
        for (int a = 0; a < s.numActions(); ++a) {
            for (int i = 0; i < h; ++i) {
                if (s.is16bit()) {
                    s.row16(turn, int32_t(j), a)[i] = rng() % 3 ? uint16_t(rng()) : 0;
                } else {
                    s.row32(turn, int32_t(j), a)[i] = rng() % 3 ? rng() >> 1 : 0;
                }
            }
        }
    }
}

// Opens a turn on its own stream and ends the reading pass, as a walk of one storage does.
StorageStreamInterface* Open(CompressedRiverStorage& s, int turn, int32_t n) {
    StorageStreamInterface* stream = s.unpack(nullptr, turn, n);
    if (stream) stream->tallyBytes();
    return stream;
}

// Closes a turn on its own stream and ends the writing pass.
StorageStreamInterface* Close(CompressedRiverStorage& s, int turn, bool writeBack) {
    StorageStreamInterface* stream = s.pack(nullptr, turn, writeBack);
    if (stream) stream->finish();
    return stream;
}

// Sets the reservation of a saved own stream at offset at to the least its bytes allow.
void TightenReserve(std::vector<uint8_t>& bytes, size_t at, int kind) {
    if (kind == 1) {
        uint32_t need;
        std::memcpy(&need, bytes.data() + at, 4);
        const uint64_t tight = (uint64_t(need) + 16383) & ~uint64_t(16383);
        std::memcpy(bytes.data() + at + 4, &tight, 8);
    } else {
        int64_t used;
        std::memcpy(&used, bytes.data() + at + 200, 8);
        const int64_t tight = (used + 4095) & ~int64_t(4095);
        std::memcpy(bytes.data() + at + 192, &tight, 8);
    }
}

// The river storage tests run for stream kinds 1 and 2.
class CompressedRiverStorageKinds : public testing::TestWithParam<int> {
protected:
    int Kind() const { return GetParam(); }
};

// The values of an open turn, row by row.
std::vector<uint32_t> TurnValues(const CompressedRiverStorage& s, int turn) {
    std::vector<uint32_t> values;
    const auto& span = s.layout()->turnRunouts[size_t(turn)];
    for (uint32_t j = 0; j < span.count; ++j) {
        const int h = s.numHands(turn, int32_t(j));
        for (int a = 0; a < s.numActions(); ++a) {
            for (int i = 0; i < h; ++i) {
                values.push_back(s.is16bit() ? s.row16(turn, int32_t(j), a)[i]
                                             : s.row32(turn, int32_t(j), a)[i]);
            }
        }
    }
    return values;
}

TEST_P(CompressedRiverStorageKinds, RowsSurvivePackAndUnpack) {
    const FlatIndexLists layout = MakeLayout(3, RandomCounts(1, 4, 6));
    for (bool narrow : {true, false}) {
        CompressedRiverStorage s(&layout, narrow, Kind());
        EXPECT_TRUE(s.reset());
        EXPECT_EQ(s.size(-1), layout.packedSize);
        EXPECT_EQ(Close(s, 1, true), nullptr);  // closed: nothing happens
        const int32_t n = int32_t(s.size(1));
        StorageStreamInterface* own = Open(s, 1, n);
        ASSERT_NE(own, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(narrow ? (void*)s.row16(1, 0, 0)
                                                     : (void*)s.row32(1, 0, 0)) %
                      128,
                  0u);
        EXPECT_EQ(TurnValues(s, 1), std::vector<uint32_t>(size_t(n), 0));

        std::mt19937 rng(narrow ? 2 : 3);
        FillTurn(s, 1, rng);
        const auto written = TurnValues(s, 1);
        EXPECT_EQ(Close(s, 1, true), own);
        EXPECT_FALSE(s.isOpen(1));
        EXPECT_EQ(Open(s, 1, n), own);
        EXPECT_EQ(TurnValues(s, 1), written);

        // Write-back false discards the changes and hands back no stream.
        FillTurn(s, 1, rng);
        EXPECT_EQ(Close(s, 1, false), nullptr);
        Open(s, 1, n);
        EXPECT_EQ(TurnValues(s, 1), written);
        Close(s, 1, false);
        // A turn without hands packs and unpacks.
        const FlatIndexLists empty = MakeLayout(3, {{}, {0}});
        CompressedRiverStorage none(&empty, narrow, Kind());
        for (int t = 0; t < 2; ++t) {
            for (int round = 0; round < 2; ++round) {
                Open(none, t, 0);
                EXPECT_NE(Close(none, t, true), nullptr);
            }
        }
        // Other turns never written give zeros.
        Open(s, 2, int32_t(s.size(2)));
        EXPECT_EQ(TurnValues(s, 2), std::vector<uint32_t>(size_t(s.size(2)), 0));
        Close(s, 2, false);
    }
}

TEST_P(CompressedRiverStorageKinds, ThreeStoragesShareOneStream) {
    const FlatIndexLists two = MakeLayout(2, RandomCounts(5, 3, 5));
    const FlatIndexLists four = MakeLayout(4, RandomCounts(5, 3, 5));
    CompressedRiverStorage a(&two, true, Kind()), b(&four, true, Kind()), c(&two, true, Kind());
    const int turn = 2;
    const int32_t n = int32_t(a.size(turn) + b.size(turn) + c.size(turn));
    std::mt19937 rng(6);
    StorageStreamInterface* s = a.unpack(nullptr, turn, n);
    EXPECT_EQ(b.unpack(s, turn, n), s);
    EXPECT_EQ(c.unpack(s, turn, n), s);
    for (auto* x : {&a, &b, &c}) FillTurn(*x, turn, rng);
    const auto va = TurnValues(a, turn), vb = TurnValues(b, turn), vc = TurnValues(c, turn);
    s = a.pack(nullptr, turn, true);
    EXPECT_EQ(s, a.ownStream(turn));
    EXPECT_EQ(b.pack(s, turn, true), s);
    EXPECT_EQ(c.pack(s, turn, true), s);
    EXPECT_EQ(b.ownStream(turn), nullptr);
    s->finish();

    s = a.unpack(nullptr, turn, n);
    b.unpack(s, turn, n);
    c.unpack(s, turn, n);
    s->tallyBytes();
    EXPECT_EQ(TurnValues(a, turn), va);
    EXPECT_EQ(TurnValues(b, turn), vb);
    EXPECT_EQ(TurnValues(c, turn), vc);
}

// Records which rows came with a reference.
class SpyStream final : public StorageStreamInterface {
public:
    std::vector<std::pair<int32_t, bool>> calls;
    int64_t reset() override { return 0; }
    void finish() override {}
    bool hasData() const override { return true; }
    void rewind() override {}
    std::atomic<int64_t>* tallyBytes() override { return nullptr; }
    int64_t writeRow(const uint32_t*, const uint32_t* r, int32_t n) override {
        calls.emplace_back(n, r != nullptr);
        return 0;
    }
    int64_t writeRow16(const uint16_t*, const uint16_t* r, int32_t n) override {
        calls.emplace_back(n, r != nullptr);
        return 0;
    }
    int64_t readRow(uint32_t* row, const uint32_t* r, int32_t n) override {
        std::fill(row, row + n, 0u);
        calls.emplace_back(n, r != nullptr);
        return 0;
    }
    int64_t readRow16(uint16_t* row, const uint16_t* r, int32_t n) override {
        std::fill(row, row + n, uint16_t(0));
        calls.emplace_back(n, r != nullptr);
        return 0;
    }
    void save(BinaryWriter&) override {}
    void load(BinaryReader*) override {}
    void raiseReserve(int64_t) override {}
};

TEST(CompressedRiverStorage, ReferenceRowsFollowHandCounts) {
    const FlatIndexLists layout = MakeLayout(2, {{7}, {4, 5, 4, 4}});
    CompressedRiverStorage s(&layout, false, 1);
    SpyStream spy;
    EXPECT_EQ(s.unpack(&spy, 1, 34), &spy);
    EXPECT_EQ(s.pack(&spy, 1, true), &spy);
    // Action by action, record by record: 4 (first), 5 after 4, 4 after 5, 4 after 4.
    const std::vector<std::pair<int32_t, bool>> order{{4, false}, {5, false}, {4, true}, {4, true}};
    std::vector<std::pair<int32_t, bool>> expected;
    for (int pass = 0; pass < 2; ++pass) {
        for (int a = 0; a < 2; ++a) expected.insert(expected.end(), order.begin(), order.end());
    }
    EXPECT_EQ(spy.calls, expected);
}

void StrategyOfClosedTurn(const FlatIndexLists* layout) {
    dup2(STDERR_FILENO, STDOUT_FILENO);
    CompressedRiverStorage s(layout, true, 1);
    const float defaults[2] = {0.5f, 0.5f};
    PooledArray out[2];
    s.getStrategy(out, 0, 0, defaults);
}

TEST(CompressedRiverStorageDeath, StrategyOfAClosedTurn) {
    const FlatIndexLists layout = MakeLayout(2, {{5, 8}, {3}});
    EXPECT_EXIT(StrategyOfClosedTurn(&layout), testing::ExitedWithCode(1), "fail \\(not open\\)");
}

TEST_P(CompressedRiverStorageKinds, OperationsOnOpenTurns) {
    const FlatIndexLists layout = MakeLayout(3, {{5, 8}, {3}});
    CompressedRiverStorage counts(&layout, false, Kind());
    Open(counts, 0, int32_t(counts.size(0)));
    std::vector<float> reach(8, 1.0f), third(8, 1.0f / 3.0f);
    PooledArray strategy[3] = {{third.data(), 8, 0}, {third.data(), 8, 0}, {third.data(), 8, 0}};
    for (int i = 0; i < 30; ++i) {
        counts.accumulateStrategy(0, 1, strategy, {reach.data(), 8, 0}, 3.0f);
    }
    counts.accumulateStrategy(0, 1, strategy, {reach.data(), 8, 0}, -1.0f);
    EXPECT_EQ(counts.row32(0, 1, 2)[7], 30u);
    // The strategy edit writes a zero row: exactly that row is cleared.
    std::vector<float> zeros(8, 0.0f), odd{-5.0f, NAN, 3e9f, 2.7f, 0, 0, 0, 0};
    counts.setAction(0, 1, 1, {zeros.data(), 8, 0});
    EXPECT_EQ(counts.row32(0, 1, 1)[3], 0u);
    EXPECT_EQ(counts.row32(0, 1, 0)[3], 30u);
    EXPECT_EQ(counts.row32(0, 1, 2)[3], 30u);
    EXPECT_EQ(counts.row32(0, 0, 1)[3], 0u);
    counts.setAction(0, 1, 1, {odd.data(), 8, 0});
    EXPECT_EQ(counts.row32(0, 1, 1)[0], 0u);
    EXPECT_EQ(counts.row32(0, 1, 1)[1], 0u);
    EXPECT_EQ(counts.row32(0, 1, 1)[2], 2147483647u);
    EXPECT_EQ(counts.row32(0, 1, 1)[3], 2u);
    const float defaults[3] = {0.2f, 0.3f, 0.5f};
    PooledArray out[3];
    counts.getStrategy(out, 0, 1, defaults);
    EXPECT_EQ(out[0].count, 8);
    EXPECT_FLOAT_EQ(out[0].data[5], 0.5f);
    EXPECT_FLOAT_EQ(out[1].data[5], 0.0f);
    counts.getStrategy(out, 0, 0, defaults);
    EXPECT_EQ(out[2].data[4], 0.5f);
    for (auto& row : out) ReleasePooledArray(&row);
    Close(counts, 0, true);
}

TEST_P(CompressedRiverStorageKinds, SaveAndLoad) {
    const FlatIndexLists layout = MakeLayout(2, RandomCounts(8, 3, 4));
    CompressedRiverStorage s(&layout, true, Kind());
    SetLockMask(s.flagsPtr(1, 2), s.numHands(1, 2));
    s.flagsPtr(1, 2)->mask[0] = 1;
    s.flagsPtr(0, 0)->flags = kLockNodeFlag;
    std::mt19937 rng(9);
    std::vector<std::vector<uint32_t>> written(3);
    for (int t : {1, 2}) {
        Open(s, t, int32_t(s.size(t)));
        FillTurn(s, t, rng);
        written[size_t(t)] = TurnValues(s, t);
        Close(s, t, true);
    }
    MemoryWriter out;
    s.save(out);
    const std::vector<uint8_t> bytes = out.take();

    CompressedRiverStorage loaded(&layout, true, Kind());
    MemoryReader in(bytes, 7);
    loaded.load(in);
    EXPECT_EQ(in.remaining(), 0u);
    EXPECT_EQ(loaded.flagsPtr(0, 0)->flags, kLockNodeFlag);
    ASSERT_NE(loaded.flagsPtr(1, 2)->mask, nullptr);
    EXPECT_EQ(loaded.flagsPtr(1, 2)->mask[0], 1);
    for (int t : {1, 2}) {
        Open(loaded, t, int32_t(loaded.size(t)));
        EXPECT_EQ(TurnValues(loaded, t), written[size_t(t)]);
        Close(loaded, t, false);
    }
    // Turn 0 had no stream: the others' rows still follow, it loads as a turn without data, and
    // a full write-back of worst-case rows into its empty stream succeeds.
    Open(loaded, 0, int32_t(loaded.size(0)));
    EXPECT_EQ(TurnValues(loaded, 0), std::vector<uint32_t>(size_t(loaded.size(0)), 0));
    for (uint32_t j = 0; j < layout.turnRunouts[0].count; ++j) {
        for (int a = 0; a < 2; ++a) {
            std::fill(loaded.row16(0, int32_t(j), a),
                      loaded.row16(0, int32_t(j), a) + loaded.numHands(0, int32_t(j)), 65535);
        }
    }
    Close(loaded, 0, true);
    Open(loaded, 0, int32_t(loaded.size(0)));
    EXPECT_EQ(TurnValues(loaded, 0), std::vector<uint32_t>(size_t(loaded.size(0)), 65535));
    Close(loaded, 0, false);

    // streamsFollow 0: every turn without data.
    CompressedRiverStorage fresh(&layout, true, Kind());
    MemoryWriter freshOut;
    fresh.save(freshOut);
    CompressedRiverStorage zeros(&layout, true, Kind());
    MemoryReader freshIn(freshOut.take(), 7);
    zeros.load(freshIn);
    EXPECT_EQ(zeros.ownStream(0), nullptr);
    Open(zeros, 0, int32_t(zeros.size(0)));
    EXPECT_EQ(TurnValues(zeros, 0), std::vector<uint32_t>(size_t(zeros.size(0)), 0));
    Close(zeros, 0, false);

    // Cut anywhere, the block is refused.
    for (size_t cut = 0; cut < bytes.size(); cut += 7) {
        CompressedRiverStorage broken(&layout, true, Kind());
        MemoryReader part(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(cut)), 7);
        EXPECT_THROW(broken.load(part), IOException) << cut;
    }
}

// A turn saved with zero rows (its need stays near one row's reservation) and loaded with a
// reserve as tight as its bytes takes a write-back of near-incompressible rows: the cap is
// raised at unpack.
TEST_P(CompressedRiverStorageKinds, WorstCaseTurnWritesBack) {
    const FlatIndexLists layout = MakeLayout(2, {std::vector<int32_t>(48, 1081)});
    CompressedRiverStorage s(&layout, false, Kind());
    for (int round = 0; round < 3; ++round) {
        const uint32_t value = round == 0 ? 0 : 70000u + uint32_t(round);
        Open(s, 0, int32_t(s.size(0)));
        for (int j = 0; j < 48; ++j) {
            for (int a = 0; a < 2; ++a) {
                std::fill(s.row32(0, j, a), s.row32(0, j, a) + 1081, value);
            }
        }
        Close(s, 0, true);
        MemoryWriter out;
        s.save(out);
        std::vector<uint8_t> bytes = out.take();
        // Lock part (48 flags words), streamsFollow, then the stream.
        TightenReserve(bytes, 48 * 4 + 1, Kind());
        MemoryReader in(bytes, 7);
        s.load(in);
        Open(s, 0, int32_t(s.size(0)));
        EXPECT_EQ(s.row32(0, 47, 1)[1080], value);
        Close(s, 0, false);
    }
}

// Turns opened, changed and closed on eight threads at once give the sequential result.
TEST_P(CompressedRiverStorageKinds, TurnsOnManyThreads) {
    const FlatIndexLists layout = MakeLayout(3, RandomCounts(12, 16, 6));
    auto work = [&](CompressedRiverStorage& s, int turn) {
        std::mt19937 rng(uint32_t(100 + turn));
        for (int round = 0; round < 4; ++round) {
            Open(s, turn, int32_t(s.size(turn)));
            std::vector<float> node(200), up(200);
            for (auto& v : node) v = float(rng() % 100) / 10.0f;
            for (auto& v : up) v = float(rng() % 100) / 10.0f;
            PooledArray values[3] = {
                {up.data(), 200, 0}, {node.data(), 200, 0}, {up.data(), 200, 0}};
            for (uint32_t j = 0; j < layout.turnRunouts[size_t(turn)].count; ++j) {
                const int h = s.numHands(turn, int32_t(j));
                s.updateRegrets(turn, int32_t(j), {node.data(), h, 0}, values, nullptr, 10.0);
            }
            Close(s, turn, true);
        }
    };
    CompressedRiverStorage serial(&layout, true, Kind()), parallel(&layout, true, Kind());
    for (int t = 0; t < 16; ++t) work(serial, t);
    std::vector<std::thread> threads;
    for (int w = 0; w < 8; ++w) {
        threads.emplace_back([&, w] {
            for (int t = w; t < 16; t += 8) work(parallel, t);
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 16; ++t) {
        Open(serial, t, int32_t(serial.size(t)));
        Open(parallel, t, int32_t(parallel.size(t)));
        EXPECT_EQ(TurnValues(serial, t), TurnValues(parallel, t));
        EXPECT_GT(TurnValues(serial, t).size(), 0u);
    }
}

// One random sequence of regret updates applied to a ShortRiverStorage and to a 16-bit
// CompressedRiverStorage, and of accumulations applied to 32-bit storages of kinds 1 and 2,
// leaves bit-identical rows and strategies, with run lengths and without.
TEST_P(CompressedRiverStorageKinds, MatchesShortRiverStorage) {
    for (int actions = 2; actions <= 5; ++actions) {
        const FlatIndexLists layout = MakeLayout(actions, RandomCounts(uint32_t(actions), 3, 5));
        ShortRiverStorage plain(&layout);
        ASSERT_TRUE(plain.reset());
        CompressedRiverStorage packed(&layout, true, Kind());
        // Sums have no plain 32-bit count storage: kind 1 is the reference for kind 2.
        CompressedRiverStorage plainSums(&layout, false, 1);
        CompressedRiverStorage packedSums(&layout, false, Kind());
        std::mt19937 rng(uint32_t(40 + actions));
        std::vector<float> defaults(size_t(actions), 1.0f / float(actions));
        for (int batch = 0; batch < 6; ++batch) {
            const int turn = int(rng() % 3);
            Open(packed, turn, int32_t(packed.size(turn)));
            Open(packedSums, turn, int32_t(packedSums.size(turn)));
            Open(plainSums, turn, int32_t(plainSums.size(turn)));
            for (int step = 0; step < 20; ++step) {
                const int river = int(rng() % 5);
                const int h = plain.numHands(turn, river);
                std::vector<float> node(static_cast<size_t>(h));
                std::vector<std::vector<float>> values(static_cast<size_t>(actions),
                                                       std::vector<float>(static_cast<size_t>(h)));
                for (auto& v : node) v = float(int(rng() % 200) - 100) / 7.0f;
                for (auto& row : values) {
                    for (auto& v : row) v = float(int(rng() % 200) - 100) / 7.0f;
                }
                std::vector<PooledArray> rows;
                for (auto& row : values) rows.push_back({row.data(), h, 0});
                std::vector<int16_t> runs;
                for (int left = h; left > 0;) {
                    const int g = std::min(left, 1 + int(rng() % 4));
                    runs.push_back(int16_t(g));
                    left -= g;
                }
                const bool grouped = rng() % 2;
                plain.updateRegrets(turn, river, {node.data(), h, 0}, rows.data(),
                                    grouped ? &runs : nullptr, 25.0);
                packed.updateRegrets(turn, river, {node.data(), h, 0}, rows.data(),
                                     grouped ? &runs : nullptr, 25.0);
                // Strategy sums: the action values as strategies, the node values as reach.
                for (auto& v : node) v = std::abs(v);
                const float weight = float(rng() % 50) / 3.0f;
                plainSums.accumulateStrategy(turn, river, rows.data(), {node.data(), h, 0}, weight);
                packedSums.accumulateStrategy(turn, river, rows.data(), {node.data(), h, 0},
                                              weight);
            }
            for (int river = 0; river < 10; ++river) {
                std::vector<PooledArray> a(static_cast<size_t>(actions)),
                    b(static_cast<size_t>(actions));
                (river < 5 ? static_cast<StorageInterface&>(plain) : plainSums)
                    .getStrategy(a.data(), turn, river % 5, defaults.data());
                (river < 5 ? packed : packedSums)
                    .getStrategy(b.data(), turn, river % 5, defaults.data());
                for (int k = 0; k < actions; ++k) {
                    ASSERT_EQ(a[size_t(k)].count, b[size_t(k)].count);
                    for (int i = 0; i < a[size_t(k)].count; ++i) {
                        ASSERT_EQ(a[size_t(k)].data[i], b[size_t(k)].data[i]);
                    }
                    ReleasePooledArray(&a[size_t(k)]);
                    ReleasePooledArray(&b[size_t(k)]);
                }
            }
            Close(packed, turn, true);
            EXPECT_EQ(TurnValues(plainSums, turn), TurnValues(packedSums, turn));
            Close(packedSums, turn, true);
            Close(plainSums, turn, true);
        }
    }
}

}  // namespace

namespace {

// The same through one stream threaded over three storages: the cap raised at unpack covers the
// whole walk's values, not only the first storage's.
TEST_P(CompressedRiverStorageKinds, WorstCaseWalkWritesBackThroughATightStream) {
    const FlatIndexLists layout = MakeLayout(2, {std::vector<int32_t>(48, 1081)});
    CompressedRiverStorage a(&layout, false, Kind()), b(&layout, false, Kind()),
        c(&layout, false, Kind());
    CompressedRiverStorage* walk[3] = {&a, &b, &c};
    const int32_t n = int32_t(3 * a.size(0));
    auto open = [&] {
        StorageStreamInterface* s = nullptr;
        for (auto* x : walk) s = x->unpack(s, 0, n);
        s->tallyBytes();
    };
    auto close = [&] {
        StorageStreamInterface* s = nullptr;
        for (auto* x : walk) s = x->pack(s, 0, true);
        s->finish();
    };
    open();  // all zeros: the saved stream is small
    close();
    MemoryWriter out;
    a.save(out);
    std::vector<uint8_t> bytes = out.take();
    TightenReserve(bytes, 48 * 4 + 1, Kind());
    MemoryReader in(bytes, 7);
    a.load(in);

    open();
    uint32_t value = 70001;
    for (auto* x : walk) {
        for (int j = 0; j < 48; ++j) {
            for (int act = 0; act < 2; ++act)
                std::fill(x->row32(0, j, act), x->row32(0, j, act) + 1081, value);
        }
        ++value;
    }
    close();
    open();
    EXPECT_EQ(a.row32(0, 0, 0)[0], 70001u);
    EXPECT_EQ(c.row32(0, 47, 1)[1080], 70003u);
    for (auto* x : walk) x->pack(nullptr, 0, false);
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(StreamKinds, CompressedRiverStorageKinds, testing::Values(1, 2));
