#include "storage/storage_unit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>

#include "storage/binary_io.h"
#include "storage/thread_array_pool.h"
#include "storage/turn_storage.h"

namespace {

// A heap row with the given values (owned by the caller; release with ReleasePooledArray).
PooledArray Row(const std::vector<float>& v) {
    PooledArray r;
    ConstructPooledArray(&r, static_cast<int32_t>(v.size()), false, false);
    if (!v.empty()) std::memcpy(r.data, v.data(), v.size() * 4);
    return r;
}

std::vector<float> Values(const StorageRow& row) {
    return std::vector<float>(row.data, row.data + row.count);
}

void Fill(StorageUnit* unit, std::mt19937& rng) {
    std::uniform_real_distribution<float> d(0.0f, 100.0f);
    const int32_t n = unit->numHands(-1, -1);
    for (int32_t a = 0; a < unit->numActions(); ++a) {
        std::vector<float> v(n);
        for (auto& x : v) x = d(rng);
        PooledArray r = Row(v);
        unit->setAction(-1, -1, a, r);
        ReleasePooledArray(&r);
    }
}

void ExpectSameUnit(StorageUnit& a, StorageUnit& b) {
    ASSERT_EQ(a.numActions(), b.numActions());
    const LockRecord* la = a.flagsPtr(-1, -1);
    const LockRecord* lb = b.flagsPtr(-1, -1);
    EXPECT_EQ(la->flags, lb->flags);
    ASSERT_EQ(la->mask == nullptr, lb->mask == nullptr);
    ASSERT_EQ(la->maskLength, lb->maskLength);
    if (la->mask) {
        EXPECT_EQ(std::memcmp(la->mask, lb->mask, la->maskLength), 0);
    }
    for (int32_t k = 0; k < a.numActions(); ++k) {
        ASSERT_EQ(a.row(k).count, b.row(k).count);
        EXPECT_EQ(std::memcmp(a.row(k).data, b.row(k).data, a.row(k).count * 4), 0);
    }
}

std::vector<uint8_t> Saved(StorageInterface& s) {
    MemoryWriter out;
    s.save(out);
    return out.take();
}

// Unit block of 5 hands, 1 action, with the given mask part words.
std::vector<uint8_t> MaskedBlock(std::vector<int16_t> words) {
    MemoryWriter out;
    WriteValue<uint32_t>(out, kLockCombosFlag);
    out.write(words.data(), words.size() * 2);
    const float row[5] = {1, 2, 3, 4, 5};
    out.write(row, sizeof row);
    return out.take();
}

}  // namespace

TEST(StorageUnit, LifecycleAndStrategies) {
    StorageUnit unit(3, 4);
    EXPECT_EQ(unit.size(-1), 0);
    const float defaults[] = {0.2f, 0.3f, 0.5f};
    PooledArray out[3];
    unit.getStrategy(out, -1, -1, defaults);  // before reset: empty rows
    for (auto& r : out) EXPECT_EQ(r.count, 0);

    ASSERT_TRUE(unit.reset());
    EXPECT_EQ(unit.size(7), 12);
    // Strategies come from the heap even on a thread with a pool: any thread may ask, and the
    // rows may be released on a thread whose pool has another size.
    EnsureThreadPool(4);
    PooledArray r0 = Row({3, 0, 1e-39f, 1}), r1 = Row({1, 0, 0, 1});
    unit.setAction(-1, -1, 0, r0);
    unit.setAction(-1, -1, 1, r1);
    unit.getStrategy(out, 5, 9, defaults);
    EXPECT_EQ(out[0].data[0], 0.75f);
    EXPECT_EQ(out[1].data[0], 0.25f);
    EXPECT_EQ(out[2].data[0], 0.0f);
    for (int i : {1, 2}) {  // all zero, or one regret of 1e-39: the defaults
        EXPECT_EQ(out[0].data[i], 0.2f);
        EXPECT_EQ(out[2].data[i], 0.5f);
    }
    EXPECT_EQ(out[0].data[3], 0.5f);
    for (auto& r : out) {
        EXPECT_EQ(r.fromPool, 0);
        ReleasePooledArray(&r);
    }
    ReleasePooledArray(&r0);
    ReleasePooledArray(&r1);
    ReleaseThreadPool();
}

TEST(StorageUnit, UpdatesAndSumsSkipLockedHandsOnly) {
    StorageUnit unit(2, 16);
    unit.reset();
    LockRecord* lock = unit.flagsPtr(-1, -1);
    SetLockMask(lock, 16);
    for (int i = 0; i < 16; ++i) lock->mask[i] = i != 3;  // one free hand among locked ones
    lock->mask[12] = 0;
    PooledArray node = Row(std::vector<float>(16, 0.0f));
    PooledArray values[2] = {Row(std::vector<float>(16, 16.0f)), Row(std::vector<float>(16, -1))};
    unit.updateRegrets(-1, -1, node, values, nullptr, 1.0);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(unit.row(0).data[i], (i == 3 || i == 12) ? 8.0f : 0.0f) << i;
        EXPECT_EQ(unit.row(1).data[i], 0.0f) << i;  // negative results floor at 0
    }
    PooledArray strategy[2] = {Row(std::vector<float>(16, 0.5f)), Row(std::vector<float>(16, 1))};
    PooledArray reach = Row(std::vector<float>(16, 2.0f)), nullReach;
    nullReach.count = 16;
    unit.accumulateStrategy(-1, -1, strategy, reach, 0.0f);
    unit.accumulateStrategy(-1, -1, strategy, reach, -1.0f);
    unit.accumulateStrategy(-1, -1, strategy, nullReach, 1.0f);
    EXPECT_EQ(unit.row(0).data[3], 8.0f);
    unit.accumulateStrategy(-1, -1, strategy, reach, 1.0f);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(unit.row(0).data[i], (i == 3 || i == 12) ? 9.0f : 0.0f) << i;
        EXPECT_EQ(unit.row(1).data[i], (i == 3 || i == 12) ? 2.0f : 0.0f) << i;
    }
    for (PooledArray* r : {&node, &values[0], &values[1], &strategy[0], &strategy[1], &reach}) {
        ReleasePooledArray(r);
    }
}

TEST(StorageUnit, SavedBlockLayoutAndRoundTrips) {
    std::mt19937 rng(4);
    StorageUnit plain(2, 3);
    plain.reset();
    Fill(&plain, rng);
    plain.flagsPtr(-1, -1)->flags = kLockNodeFlag;
    const auto bytes = Saved(plain);
    ASSERT_EQ(bytes.size(), 4u + 2 * 3 * 4);  // flags, then the rows
    EXPECT_EQ(std::memcmp(bytes.data() + 4, plain.row(0).data, 12), 0);
    EXPECT_EQ(std::memcmp(bytes.data() + 16, plain.row(1).data, 12), 0);
    StorageUnit back(2, 3);  // never reset: load sizes the rows itself
    MemoryReader in(bytes);
    back.load(in);
    EXPECT_EQ(in.remaining(), 0u);
    ExpectSameUnit(plain, back);

    StorageUnit masked(1, 5);
    masked.reset();
    Fill(&masked, rng);
    SetLockMask(masked.flagsPtr(-1, -1), 5);
    const uint8_t m[] = {1, 1, 0, 0, 1};
    std::memcpy(masked.flagsPtr(-1, -1)->mask, m, 5);
    const auto maskedBytes = Saved(masked);
    ASSERT_EQ(maskedBytes.size(), 4u + 12 + 20);
    int16_t words[6];
    std::memcpy(words, maskedBytes.data() + 4, 12);
    EXPECT_EQ(std::vector<int16_t>(words, words + 6), (std::vector<int16_t>{5, 4, 0, 2, 2, 1}));
    StorageUnit maskedBack(1, 5);
    maskedBack.reset();
    SetLockMask(maskedBack.flagsPtr(-1, -1), 2);  // a mask of another length is replaced
    MemoryReader maskedIn(maskedBytes);
    maskedBack.load(maskedIn);
    ExpectSameUnit(masked, maskedBack);
    EXPECT_EQ(Saved(maskedBack), maskedBytes);

    // Runs 3, 2 for a unit of 4 hands load as 0, 0, 0, 1.
    MemoryWriter w;
    WriteValue<uint32_t>(w, kLockCombosFlag);
    for (int16_t v : {4, 2, 3, 2}) WriteValue<int16_t>(w, v);
    for (int i = 0; i < 4; ++i) WriteValue<float>(w, float(i));
    StorageUnit four(1, 4);
    MemoryReader fourIn(w.take());
    four.load(fourIn);
    const LockRecord* lock = four.flagsPtr(-1, -1);
    EXPECT_EQ(std::vector<uint8_t>(lock->mask, lock->mask + 4), (std::vector<uint8_t>{0, 0, 0, 1}));
    EXPECT_EQ(Values(four.row(0)), (std::vector<float>{0, 1, 2, 3}));
}

TEST(StorageUnit, CorruptBlocksGiveIOExceptionOnly) {
    const std::vector<std::vector<int16_t>> bad = {
        {5, -1},                                 // negative run count
        {-1, 1, 5},                              // mask lengths other than the hand count
        {3, 1, 3},  {6, 1, 6}, {5, 3, 1, 1, 1},  // runs that end early
    };
    for (const auto& words : bad) {
        StorageUnit unit(1, 5);
        unit.reset();
        MemoryReader in(MaskedBlock(words));
        try {
            unit.load(in);
            ADD_FAILURE() << "accepted";
        } catch (const IOException& e) {
            EXPECT_EQ(e.message().rfind("invalid file (", 0), 0u) << e.message();
        }
        EXPECT_EQ(unit.flagsPtr(-1, -1)->mask, nullptr);
    }
    const auto good = MaskedBlock({5, 4, 0, 2, 2, 1});
    for (size_t cut = 0; cut < good.size(); ++cut) {
        StorageUnit unit(1, 5);
        MemoryReader in({good.begin(), good.begin() + cut});
        EXPECT_THROW(unit.load(in), IOException) << cut;
    }
}

TEST(TurnStorage, ForwardsToUnitsAndSavesInRecordOrder) {
    TurnStorage turn(2, {3, 1, 4});
    EXPECT_EQ(turn.unitCount(), 3);
    EXPECT_EQ(turn.size(-1), 0);
    turn.reset();
    EXPECT_EQ(turn.size(-1), 2 * (3 + 1 + 4));
    EXPECT_EQ(turn.numHands(2, 17), 4);
    EXPECT_EQ(turn.flagsPtr(1, 5), turn.unit(1).flagsPtr(-1, -1));
    const StorageUnit* first = &turn.unit(0);
    std::mt19937 rng(8);
    for (int t = 0; t < 3; ++t) Fill(&turn.unit(t), rng);
    SetLockMask(turn.flagsPtr(2, -1), 4);
    turn.flagsPtr(2, -1)->mask[1] = 1;
    turn.flagsPtr(0, -1)->flags = kLockNodeFlag;

    const auto bytes = Saved(turn);
    MemoryWriter concatenated;
    for (int t = 0; t < 3; ++t) turn.unit(t).save(concatenated);
    EXPECT_EQ(bytes, concatenated.bytes());
    TurnStorage back(2, {3, 1, 4});
    MemoryReader in(bytes);
    back.load(in);
    EXPECT_EQ(in.remaining(), 0u);
    for (int t = 0; t < 3; ++t) ExpectSameUnit(turn.unit(t), back.unit(t));
    EXPECT_EQ(&turn.unit(0), first);  // units never move

    // accumulateStrategy is not forwarded for a weight of 0 or below.
    PooledArray strategy[2] = {Row({1, 1, 1, 1}), Row({1, 1, 1, 1})}, reach = Row({1, 1, 1, 1});
    const std::vector<float> before = Values(turn.unit(2).row(0));
    turn.accumulateStrategy(2, -1, strategy, reach, 0.0f);
    EXPECT_EQ(Values(turn.unit(2).row(0)), before);
    turn.accumulateStrategy(2, -1, strategy, reach, 1.0f);
    EXPECT_EQ(turn.unit(2).row(0).data[0], before[0] + 1.0f);
    EXPECT_EQ(turn.unit(2).row(0).data[1], before[1]);  // locked hand
    for (PooledArray* r : {&strategy[0], &strategy[1], &reach}) ReleasePooledArray(r);
}

TEST(TurnStorage, ConcurrentUnitsGiveTheSequentialResult) {
    constexpr int kUnits = 8, kHands = 1081, kSteps = 200;
    const std::vector<int32_t> counts(kUnits, kHands);
    TurnStorage parallel(3, counts), sequential(3, counts);
    parallel.reset();
    sequential.reset();
    auto work = [](TurnStorage* storage, int t) {
        std::mt19937 rng(100 + t);
        std::uniform_real_distribution<float> d(-10.0f, 10.0f);
        std::vector<float> buf(kHands);
        auto row = [&] {
            for (auto& x : buf) x = d(rng);
            return Row(buf);
        };
        const float defaults[] = {0.3f, 0.3f, 0.4f};
        for (int step = 0; step < kSteps; ++step) {
            PooledArray node = row(), values[3] = {row(), row(), row()}, strategy[3];
            storage->updateRegrets(t, -1, node, values, nullptr, 1.0);
            storage->getStrategy(strategy, t, -1, defaults);
            PooledArray reach = row();
            storage->accumulateStrategy(t, -1, strategy, reach, 0.5f);
            for (PooledArray* r : {&node, &values[0], &values[1], &values[2], &strategy[0],
                                   &strategy[1], &strategy[2], &reach}) {
                ReleasePooledArray(r);
            }
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kUnits; ++t) threads.emplace_back(work, &parallel, t);
    for (auto& th : threads) th.join();
    for (int t = 0; t < kUnits; ++t) work(&sequential, t);
    EXPECT_EQ(Saved(parallel), Saved(sequential));
}

TEST(StorageUnit, MutatedBlocksLoadOrThrowIOException) {
    // Bytes of a sound two-unit block, mutated at random: every outcome is a load or an
    // IOException, and a loaded mask always has the unit's hand count.
    TurnStorage source(2, {5, 9});
    source.reset();
    std::mt19937 rng(77);
    for (int t = 0; t < 2; ++t) Fill(&source.unit(t), rng);
    SetLockMask(source.flagsPtr(0, -1), 5);
    source.flagsPtr(0, -1)->mask[2] = 1;
    SetLockMask(source.flagsPtr(1, -1), 9);
    source.flagsPtr(1, -1)->mask[8] = 1;
    const auto sound = Saved(source);
    int loaded = 0, refused = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        auto bytes = sound;
        const int edits = 1 + rng() % 4;
        for (int e = 0; e < edits; ++e) bytes[rng() % 40] = static_cast<uint8_t>(rng());
        if (rng() % 4 == 0) bytes.resize(rng() % bytes.size());
        TurnStorage target(2, {5, 9});
        MemoryReader in(bytes);
        try {
            target.load(in);
            ++loaded;
        } catch (const IOException&) {
            ++refused;
        }
        for (int t = 0; t < 2; ++t) {
            const LockRecord* lock = target.flagsPtr(t, -1);
            EXPECT_EQ(lock->mask != nullptr, (lock->flags & kLockCombosFlag) != 0);
            if (lock->mask) {
                EXPECT_EQ(lock->maskLength, target.numHands(t, -1));
            }
        }
    }
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refused, 0);
}
