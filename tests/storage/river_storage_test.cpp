#include "storage/river_storage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "storage/binary_io.h"
#include "storage/lock_record.h"
#include "storage/row_packing.h"

namespace {

// Two actions over two turn records with runouts of 5 and 8 hands, and of 3 hands.
FlatIndexLists ExampleLayout(int actions = 2) {
    const std::vector<std::vector<int32_t>> counts{{5, 8}, {3}};
    FlatIndexLists layout;
    FlattenIndexLists(&layout, actions, &counts);
    return layout;
}

PooledArray Row(std::vector<float>& values) {
    return {values.data(), int32_t(values.size()), 0};
}

TEST(RiverStorage, Addressing) {
    const FlatIndexLists layout = ExampleLayout();
    RiverStorage floats(&layout);
    ASSERT_TRUE(floats.reset());
    const float* base = floats.row(0, 0, 0);
    EXPECT_EQ(floats.row(0, 0, 1) - base, 8);
    EXPECT_EQ(floats.row(0, 1, 0) - base, 16);
    EXPECT_EQ(floats.row(0, 1, 1) - base, 24);
    EXPECT_EQ(floats.row(1, 0, 0) - base, 32);
    EXPECT_EQ(floats.row(1, 0, 1) - base, 36);
    EXPECT_EQ(floats.numHands(0, 1), 8);
    EXPECT_EQ(floats.numHands(1, 0), 3);
    for (int t : {-1, 0, 1}) EXPECT_EQ(floats.size(t), 32);
    EXPECT_EQ(floats.flagsPtr(1, 0) - floats.flagsPtr(0, 0), 2);

    // Full rows leave the padding alone, and it is zero after reset.
    std::vector<float> ones(8, 1.0f);
    for (int t = 0; t < 2; ++t) {
        for (int r = 0; r < (t == 0 ? 2 : 1); ++r) {
            for (int a = 0; a < 2; ++a) floats.setAction(t, r, a, Row(ones));
        }
    }
    const float* block = base;
    for (int i : {5, 6, 7, 13, 14, 15, 35, 39}) EXPECT_EQ(block[i], 0.0f) << i;
    EXPECT_EQ(block[4], 1.0f);
    ASSERT_TRUE(floats.reset());
    for (int i = 0; i < 40; ++i) EXPECT_EQ(block[i], 0.0f);

    ShortRiverStorage shorts(&layout);
    ASSERT_TRUE(shorts.reset());
    EXPECT_EQ(shorts.row(1, 0, 1) - shorts.row(0, 0, 0), 36);
    EXPECT_EQ(shorts.size(0), 32);
}

TEST(RiverStorage, WithoutBlockGivesDefaults) {
    const FlatIndexLists layout = ExampleLayout(3);
    const float defaults[3] = {0.5f, 0.25f, 0.25f};
    RiverStorage floats(&layout);
    ShortRiverStorage shorts(&layout);
    for (StorageInterface* s :
         {static_cast<StorageInterface*>(&floats), static_cast<StorageInterface*>(&shorts)}) {
        PooledArray out[3];
        s->getStrategy(out, 0, 1, defaults);
        for (int a = 0; a < 3; ++a) {
            ASSERT_EQ(out[a].count, 8);
            for (int i = 0; i < 8; ++i) EXPECT_EQ(out[a].data[i], defaults[a]);
            ReleasePooledArray(&out[a]);
        }
        EXPECT_EQ(s->unpack(nullptr, 0, 10), nullptr);
        EXPECT_EQ(s->pack(nullptr, 0, true), nullptr);
    }
}

TEST(RiverStorage, OperationsFollowTheRules) {
    const FlatIndexLists layout = ExampleLayout(2);
    const float defaults[2] = {0.6f, 0.4f};
    ShortRiverStorage shorts(&layout);
    ASSERT_TRUE(shorts.reset());
    std::vector<float> node(8, 0.0f), up(8, 1.0f), down(8, -1.0f);
    PooledArray values[2] = {Row(up), Row(down)};
    shorts.updateRegrets(0, 1, Row(node), values, nullptr, 16.0);
    PooledArray out[2];
    shorts.getStrategy(out, 0, 1, defaults);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(out[0].data[i], 1.0f);
        EXPECT_EQ(out[1].data[i], 0.0f);
    }
    EXPECT_EQ(shorts.row(0, 1, 0)[0], 8);
    // A masked hand is not updated.
    SetLockMask(shorts.flagsPtr(0, 1), 8);
    shorts.flagsPtr(0, 1)->mask[2] = 1;
    shorts.updateRegrets(0, 1, Row(node), values, nullptr, 16.0);
    EXPECT_EQ(shorts.row(0, 1, 0)[2], 8);
    EXPECT_EQ(shorts.row(0, 1, 0)[3], 16);
    // setAction quantises, clamping.
    std::vector<float> edit{2.9f, -1.0f, 65541.0f, 7, 7, 7, 7, 7};
    shorts.setAction(0, 1, 1, Row(edit));
    EXPECT_EQ(shorts.row(0, 1, 1)[0], 2);
    EXPECT_EQ(shorts.row(0, 1, 1)[1], 0);
    EXPECT_EQ(shorts.row(0, 1, 1)[2], 65535);
    for (auto& row : out) ReleasePooledArray(&row);

    // Float sums, more than four actions: weight x reach x strategy per hand.
    const FlatIndexLists five = ExampleLayout(5);
    RiverStorage sums(&five);
    ASSERT_TRUE(sums.reset());
    std::vector<float> reach(3, 2.0f), strat(3, 0.2f);
    PooledArray strategy[5];
    for (auto& s : strategy) s = Row(strat);
    sums.accumulateStrategy(1, 0, strategy, Row(reach), 0.5f);
    sums.accumulateStrategy(1, 0, strategy, Row(reach), 0.0f);
    sums.accumulateStrategy(1, 0, strategy, PooledArray{nullptr, 3, 0}, 1.0f);
    for (int a = 0; a < 5; ++a) {
        for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(sums.row(1, 0, a)[i], 0.2f);
    }
    const float d5[5] = {0.2f, 0.2f, 0.2f, 0.2f, 0.2f};
    PooledArray p5[5];
    sums.getStrategy(p5, 1, 0, d5);
    for (auto& row : p5) {
        EXPECT_FLOAT_EQ(row.data[1], 0.2f);
        ReleasePooledArray(&row);
    }
}

// One river block written by hand: the lock part, then rows by turn record, runout, action.
struct BlockWriter {
    const FlatIndexLists& layout;
    std::vector<std::vector<uint16_t>> rows;  // in file order
    std::vector<LockRecord> locks;

    explicit BlockWriter(const FlatIndexLists& l, uint32_t seed) : layout(l) {
        std::mt19937 rng(seed);
        locks.resize(layout.runoutCount);
        for (uint32_t r = 0; r < layout.runoutCount; ++r) {
            for (int a = 0; a < layout.actionCount; ++a) {
                std::vector<uint16_t> row(layout.runouts[r].hands);
                for (auto& v : row) v = rng() % 3 ? uint16_t(rng() >> (rng() % 16)) : 0;
                rows.push_back(row);
            }
        }
        SetLockMask(&locks[1], int32_t(layout.runouts[1].hands));
        locks[1].mask[2] = 1;
        locks[1].flags |= kLockNodeFlag;
    }
    ~BlockWriter() {
        for (auto& l : locks) ClearLockMask(&l);
    }
    std::vector<uint8_t> raw16() const {
        MemoryWriter out;
        for (auto& l : locks) SaveLockRecord(out, l);
        for (auto& row : rows) out.write(row.data(), row.size() * 2);
        return out.take();
    }
    std::vector<uint8_t> packed16() const {
        MemoryWriter out;
        for (auto& l : locks) SaveLockRecord(out, l);
        for (auto& row : rows) {
            std::vector<uint8_t> bytes(size_t(PackedRow16Bound(int32_t(row.size()))) + 1);
            const auto b =
                int16_t(PackRow16(bytes.data(), row.data(), int32_t(row.size())) - bytes.data());
            WriteValue(out, b);
            out.write(bytes.data(), size_t(b));
        }
        return out.take();
    }
    std::vector<uint8_t> rawFloats() const {
        MemoryWriter out;
        for (auto& l : locks) SaveLockRecord(out, l);
        for (auto& row : rows) {
            for (uint16_t v : row) WriteValue(out, float(v) * 0.5f);
        }
        return out.take();
    }
};

void ExpectRows(ShortRiverStorage& s, const BlockWriter& w) {
    size_t i = 0;
    for (int t = 0; t < w.layout.turnCount; ++t) {
        for (uint32_t j = 0; j < w.layout.turnRunouts[size_t(t)].count; ++j) {
            for (int a = 0; a < w.layout.actionCount; ++a, ++i) {
                const uint16_t* row = s.row(t, int32_t(j), a);
                ASSERT_TRUE(std::equal(w.rows[i].begin(), w.rows[i].end(), row)) << i;
            }
        }
    }
    EXPECT_EQ(s.flagsPtr(0, 1)->flags, kLockNodeFlag | kLockCombosFlag);
    EXPECT_EQ(s.flagsPtr(0, 1)->mask[2], 1);
    EXPECT_EQ(s.flagsPtr(0, 1)->mask[1], 0);
}

TEST(RiverStorage, LoadsRawAndPackedBlocksAlike) {
    const FlatIndexLists layout = ExampleLayout(3);
    const BlockWriter w(layout, 4);
    ShortRiverStorage raw(&layout), packed(&layout);
    ASSERT_TRUE(raw.reset());
    MemoryReader rawIn(w.raw16(), 3);
    raw.load(rawIn);
    EXPECT_EQ(rawIn.remaining(), 0u);
    ExpectRows(raw, w);
    // No reset before load: the block is allocated by load itself.
    MemoryReader packedIn(w.packed16(), 4);
    packed.load(packedIn);
    EXPECT_EQ(packedIn.remaining(), 0u);
    ExpectRows(packed, w);

    // Float storages read raw floats at every version.
    for (int version : {3, 4, 7}) {
        RiverStorage floats(&layout);
        MemoryReader in(w.rawFloats(), version);
        floats.load(in);
        EXPECT_EQ(in.remaining(), 0u);
        EXPECT_EQ(floats.row(0, 1, 2)[4], float(w.rows[5][4]) * 0.5f);
        EXPECT_EQ(floats.row(1, 0, 0)[2], float(w.rows[6][2]) * 0.5f);
    }
}

void ExpectRefused(const FlatIndexLists& layout, std::vector<uint8_t> bytes, int version) {
    ShortRiverStorage s(&layout);
    MemoryReader in(std::move(bytes), version);
    EXPECT_THROW(s.load(in), IOException);
}

TEST(RiverStorage, RefusesMalformedBlocks) {
    const FlatIndexLists layout = ExampleLayout(2);
    const BlockWriter w(layout, 9);
    const std::vector<uint8_t> packed = w.packed16();
    const std::vector<uint8_t> raw = w.raw16();
    for (size_t cut = 0; cut < packed.size(); ++cut) {
        ExpectRefused(layout, std::vector<uint8_t>(packed.begin(), packed.begin() + long(cut)), 4);
    }
    for (size_t cut = 0; cut < raw.size(); ++cut) {
        ExpectRefused(layout, std::vector<uint8_t>(raw.begin(), raw.begin() + long(cut)), 3);
    }

    // The first row's byte count sits right after the lock part.
    MemoryWriter lockPart;
    for (auto& l : w.locks) SaveLockRecord(lockPart, l);
    const size_t at = lockPart.bytes().size();
    auto withCount = [&](int16_t b) {
        std::vector<uint8_t> bytes = packed;
        std::memcpy(bytes.data() + at, &b, 2);
        return bytes;
    };
    ExpectRefused(layout, withCount(0), 4);
    ExpectRefused(layout, withCount(-3), 4);
    ExpectRefused(layout, withCount(5000), 4);
    ExpectRefused(layout, withCount(1), 4);  // the 5-hand row needs more than 1 byte

    // Lock part: maskLength other than the runout's hand count, negative run count.
    auto withLock = [&](int16_t maskLength, int16_t runCount) {
        MemoryWriter out;
        WriteValue<uint32_t>(out, kLockCombosFlag);
        WriteValue(out, maskLength);
        WriteValue(out, runCount);
        WriteValue<int16_t>(out, 5);
        std::vector<uint8_t> bytes = out.take();
        bytes.insert(bytes.end(), packed.begin() + 4, packed.end());
        return bytes;
    };
    ExpectRefused(layout, withLock(4, 1), 4);
    ExpectRefused(layout, withLock(6, 1), 4);
    ExpectRefused(layout, withLock(5, -1), 4);
}

}  // namespace
