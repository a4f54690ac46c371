// Saved river blocks and stored rows with random damage: every outcome is a load or an
// IOException, never a crash or a read past the data (the sanitizer build runs these too).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "storage/binary_io.h"
#include "storage/compressed_river_storage.h"
#include "storage/fast_storage_stream.h"
#include "storage/lock_record.h"
#include "storage/river_storage.h"
#include "storage/row_packing.h"
#include "storage/save_decompressor.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Hand counts rising and falling, with a 1-hand and a 33-hand runout so blocks and tails both
// occur.
FlatIndexLists Layout(int actions) {
    const std::vector<std::vector<int32_t>> counts{{5, 33, 1}, {40}, {12, 12}};
    FlatIndexLists layout;
    FlattenIndexLists(&layout, actions, &counts);
    return layout;
}

uint16_t Value16(std::mt19937& rng) {
    return rng() % 3 ? uint16_t(rng() >> (16 + rng() % 16)) : 0;
}

// A few random byte edits anywhere, sometimes a stretch of 0xFF (the widest group codes, so
// rows outgrow their bytes), and sometimes a cut.
Bytes Mutate(Bytes bytes, std::mt19937& rng) {
    const int edits = 1 + int(rng() % 4);
    for (int e = 0; e < edits && !bytes.empty(); ++e) {
        bytes[rng() % bytes.size()] = uint8_t(rng() % 4 == 0 ? rng() % 3 : rng());
    }
    if (rng() % 3 == 0 && !bytes.empty()) {
        const size_t at = rng() % bytes.size();
        const size_t end = std::min(bytes.size(), at + 8 + rng() % 200);
        std::fill(bytes.begin() + long(at), bytes.begin() + long(end), uint8_t(0xFF));
    }
    if (rng() % 5 == 0) bytes.resize(rng() % (bytes.size() + 1));
    return bytes;
}

void ExpectSoundLocks(RiverStorageBase& s) {
    const FlatIndexLists& layout = *s.layout();
    for (int t = 0; t < layout.turnCount; ++t) {
        for (uint32_t j = 0; j < layout.turnRunouts[size_t(t)].count; ++j) {
            const LockRecord* lock = s.flagsPtr(t, int32_t(j));
            ASSERT_EQ(lock->mask != nullptr, (lock->flags & kLockCombosFlag) != 0);
            if (lock->mask != nullptr) {
                ASSERT_EQ(lock->maskLength, s.numHands(t, int32_t(j)));
            }
        }
    }
}

// The river block of a ShortRiverStorage (version 3 raw, version 4 packed) and of a
// RiverStorage.
Bytes RiverBlock(const FlatIndexLists& layout, int version, bool floats, std::mt19937& rng) {
    MemoryWriter out;
    for (uint32_t r = 0; r < layout.runoutCount; ++r) {
        LockRecord lock;
        if (r % 2 == 1) {
            SetLockMask(&lock, int32_t(layout.runouts[r].hands));
            lock.mask[rng() % layout.runouts[r].hands] = 1;
        }
        SaveLockRecord(out, lock);
        ClearLockMask(&lock);
    }
    for (uint32_t r = 0; r < layout.runoutCount; ++r) {
        const int32_t h = int32_t(layout.runouts[r].hands);
        for (int a = 0; a < layout.actionCount; ++a) {
            std::vector<uint16_t> row(static_cast<size_t>(h));
            for (auto& v : row) v = Value16(rng);
            if (floats) {
                for (uint16_t v : row) WriteValue(out, float(v));
            } else if (version >= 4) {
                Bytes packed(size_t(PackedRow16Bound(h)) + 1);
                const auto b = int16_t(PackRow16(packed.data(), row.data(), h) - packed.data());
                WriteValue(out, b);
                out.write(packed.data(), size_t(b));
            } else {
                out.write(row.data(), row.size() * 2);
            }
        }
    }
    return out.take();
}

TEST(MutatedRiverBlocks, UncompressedStoragesLoadOrThrow) {
    const FlatIndexLists layout = Layout(3);
    std::mt19937 rng(31);
    int loaded = 0, refused = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const int version = trial % 3 == 0 ? 3 : 4;
        const bool floats = trial % 3 == 2;
        const Bytes bytes = Mutate(RiverBlock(layout, version, floats, rng), rng);
        ShortRiverStorage shorts(&layout);
        RiverStorage wide(&layout);
        RiverStorageBase& target = floats ? static_cast<RiverStorageBase&>(wide) : shorts;
        MemoryReader in(bytes, version);
        try {
            target.load(in);
            ++loaded;
        } catch (const IOException&) {
            ++refused;
        }
        ExpectSoundLocks(target);
    }
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refused, 0);
}

// A saved CompressedRiverStorage with streams: after a load that succeeds every turn unpacks
// (damaged rows read as zeros) and packs back.
TEST(MutatedRiverBlocks, CompressedStoragesLoadOrThrow) {
    int damaged = 0;
    for (bool narrow : {true, false}) {
        const FlatIndexLists layout = Layout(2);
        CompressedRiverStorage source(&layout, narrow, 1);
        SetLockMask(source.flagsPtr(0, 1), source.numHands(0, 1));
        source.flagsPtr(0, 1)->mask[3] = 1;
        std::mt19937 rng(narrow ? 41 : 42);
        for (int t : {0, 1, 2}) {
            source.unpack(nullptr, t, int32_t(source.size(t)));
            for (uint32_t j = 0; j < layout.turnRunouts[size_t(t)].count; ++j) {
                for (int a = 0; a < 2; ++a) {
                    for (int i = 0; i < source.numHands(t, int32_t(j)); ++i) {
                        if (narrow) {
                            source.row16(t, int32_t(j), a)[i] = Value16(rng);
                        } else {
                            source.row32(t, int32_t(j), a)[i] = rng() >> (1 + rng() % 31);
                        }
                    }
                }
            }
            source.pack(nullptr, t, true);
        }
        MemoryWriter out;
        source.save(out);
        const Bytes sound = out.take();

        int loaded = 0, refused = 0;
        for (int trial = 0; trial < 3000; ++trial) {
            CompressedRiverStorage target(&layout, narrow, 1);
            MemoryReader in(Mutate(sound, rng), 7);
            try {
                target.load(in);
                ++loaded;
            } catch (const IOException&) {
                ++refused;
            }
            ExpectSoundLocks(target);
            for (int t = 0; t < layout.turnCount; ++t) {
                target.unpack(nullptr, t, int32_t(target.size(t)));
                const auto* own = dynamic_cast<const FastStorageStream*>(target.ownStream(t));
                if (own != nullptr && own->damaged()) ++damaged;
                target.pack(nullptr, t, trial % 2 == 0);
            }
        }
        EXPECT_GT(loaded, 0);
        EXPECT_GT(refused, 0);
    }
    EXPECT_GT(damaged, 0);  // some damage reached the row decoder
}

TEST(MutatedRiverBlocks, StoredRowsReadOrThrow) {
    std::mt19937 rng(51);
    MemoryWriter out;
    std::vector<int32_t> counts;
    for (int i = 0; i < 12; ++i) {
        const int32_t n = int32_t(rng() % 200);
        counts.push_back(n);
        std::vector<uint32_t> row(static_cast<size_t>(n));
        for (auto& v : row) v = rng() % 3 ? rng() >> (1 + rng() % 31) : 0;
        Bytes packed(size_t(PackedRow32Bound(n)) + 1);
        std::vector<uint16_t> narrow(row.begin(), row.end());
        const bool wide = i % 2 == 0;
        const auto b = int16_t((wide ? PackRow32(packed.data(), row.data(), n)
                                     : PackRow16(packed.data(), narrow.data(), n)) -
                               packed.data());
        if (n > 0) {
            WriteValue(out, b);
            out.write(packed.data(), size_t(b));
        }
    }
    const Bytes sound = out.take();
    int read = 0, refused = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        MemoryReader in(Mutate(sound, rng));
        FastSaveDecompressor reader(&in);
        std::vector<uint32_t> wide(200);
        std::vector<uint16_t> narrow(200);
        try {
            for (size_t i = 0; i < counts.size(); ++i) {
                if (i % 2 == 0) {
                    reader.readRow(wide.data(), nullptr, counts[i]);
                } else {
                    reader.readRow16(narrow.data(), nullptr, counts[i]);
                }
            }
            ++read;
        } catch (const IOException&) {
            ++refused;
        }
    }
    EXPECT_GT(read, 0);
    EXPECT_GT(refused, 0);
}

}  // namespace
