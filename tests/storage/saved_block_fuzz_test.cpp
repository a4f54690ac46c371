// Saved storage blocks under random damage: byte flips anywhere, header words set to extreme
// values, cuts, inserted and deleted bytes. Every load either succeeds or throws IOException;
// nothing else leaves it, no read goes past the block (the sanitizer build checks), and what a
// load accepts is a sound storage that saves and loads back to the same bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "storage/binary_io.h"
#include "storage/turn_storage.h"

namespace {

struct Shape {
    int32_t actions;
    std::vector<int32_t> hands;
};

Shape RandomShape(std::mt19937& rng) {
    Shape s{1 + static_cast<int32_t>(rng() % 4), {}};
    const int units = 1 + rng() % 4;
    for (int u = 0; u < units; ++u) s.hands.push_back(rng() % 6 == 0 ? 0 : rng() % 40);
    return s;
}

// A reset storage with random rows and, per unit, no mask, a random mask or a full one.
std::vector<uint8_t> SoundBlock(const Shape& shape, std::mt19937& rng,
                                std::vector<size_t>* headerOffsets) {
    TurnStorage storage(shape.actions, shape.hands);
    storage.reset();
    size_t offset = 0;
    for (int32_t t = 0; t < storage.unitCount(); ++t) {
        const int32_t n = shape.hands[t];
        std::vector<float> v(n);
        for (int32_t a = 0; a < shape.actions; ++a) {
            for (auto& x : v) x = static_cast<float>(rng() % 1000) / 8.0f;
            PooledArray row{v.data(), n, 0};
            storage.setAction(t, -1, a, row);
        }
        LockRecord* lock = storage.flagsPtr(t, -1);
        lock->flags = rng() % 2;
        headerOffsets->push_back(offset);  // flags
        offset += 4;
        const unsigned kind = rng() % 3;
        if (kind > 0) {
            SetLockMask(lock, n);
            for (int32_t i = 0; i < n; ++i) lock->mask[i] = kind == 2 || rng() % 3 == 0;
            headerOffsets->push_back(offset);      // maskLength
            headerOffsets->push_back(offset + 2);  // runCount
            offset += 4 + 2 * EncodeMaskRuns(lock->mask, n).size();
        }
        offset += static_cast<size_t>(shape.actions) * n * 4;
    }
    MemoryWriter out;
    storage.save(out);
    EXPECT_EQ(out.bytes().size(), offset);
    return out.take();
}

void Damage(std::vector<uint8_t>* bytes, const std::vector<size_t>& headers, std::mt19937& rng) {
    static const int16_t kExtremes[] = {-32768, -2, -1, 0, 1, 2, 39, 40, 41, 32767};
    const int edits = 1 + rng() % 3;
    for (int e = 0; e < edits && !bytes->empty(); ++e) {
        switch (rng() % 5) {
            case 0:
                (*bytes)[rng() % bytes->size()] = static_cast<uint8_t>(rng());
                break;
            case 1: {
                const size_t at = headers[rng() % headers.size()];
                const int16_t v = kExtremes[rng() % std::size(kExtremes)];
                if (at + 2 <= bytes->size()) std::memcpy(bytes->data() + at, &v, 2);
                break;
            }
            case 2:
                bytes->resize(rng() % bytes->size());
                break;
            case 3:
                bytes->insert(bytes->begin() + rng() % bytes->size(), 1 + rng() % 3,
                              static_cast<uint8_t>(rng()));
                break;
            default: {
                const size_t at = rng() % bytes->size();
                bytes->erase(bytes->begin() + at,
                             bytes->begin() + std::min(bytes->size(), at + 1 + rng() % 4));
                break;
            }
        }
    }
}

void ExpectSound(TurnStorage& storage, const Shape& shape) {
    for (int32_t t = 0; t < storage.unitCount(); ++t) {
        const LockRecord* lock = storage.flagsPtr(t, -1);
        ASSERT_EQ(lock->mask != nullptr, (lock->flags & kLockCombosFlag) != 0);
        ASSERT_EQ(lock->maskLength, lock->mask ? shape.hands[t] : 0);
        for (int32_t a = 0; a < shape.actions; ++a) {
            ASSERT_EQ(storage.unit(t).row(a).count, shape.hands[t]);
        }
    }
}

}  // namespace

TEST(SavedBlockFuzz, DamagedBlocksLoadSoundlyOrThrowIOException) {
    std::mt19937 rng(2024);
    int loaded = 0, refused = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        const Shape shape = RandomShape(rng);
        std::vector<size_t> headers;
        const std::vector<uint8_t> sound = SoundBlock(shape, rng, &headers);
        std::vector<uint8_t> bytes = sound;
        Damage(&bytes, headers, rng);

        TurnStorage target(shape.actions, shape.hands);
        if (rng() % 2) target.reset();
        if (rng() % 2) SetLockMask(target.flagsPtr(0, -1), static_cast<int32_t>(rng() % 50));
        MemoryReader in(bytes);
        try {
            target.load(in);
        } catch (const IOException&) {
            ++refused;
            // A refused load may leave rows half read, but every mask still fits its unit.
            for (int32_t t = 0; t < target.unitCount(); ++t) {
                const LockRecord* lock = target.flagsPtr(t, -1);
                ASSERT_EQ(lock->mask != nullptr, (lock->flags & kLockCombosFlag) != 0);
            }
            continue;
        } catch (...) {
            FAIL() << "a load threw something other than IOException, trial " << trial;
        }
        ++loaded;
        ExpectSound(target, shape);
        // What was accepted saves to a block that loads back to itself.
        MemoryWriter again;
        target.save(again);
        TurnStorage copy(shape.actions, shape.hands);
        MemoryReader back(again.bytes());
        copy.load(back);
        MemoryWriter third;
        copy.save(third);
        EXPECT_EQ(third.bytes(), again.bytes()) << trial;
    }
    EXPECT_GT(loaded, 100);
    EXPECT_GT(refused, 100);
}

TEST(SavedBlockFuzz, SoundBlocksRoundTripExactly) {
    std::mt19937 rng(99);
    for (int trial = 0; trial < 300; ++trial) {
        const Shape shape = RandomShape(rng);
        std::vector<size_t> headers;
        const std::vector<uint8_t> sound = SoundBlock(shape, rng, &headers);
        TurnStorage target(shape.actions, shape.hands);
        MemoryReader in(sound);
        target.load(in);
        EXPECT_EQ(in.remaining(), 0u);
        ExpectSound(target, shape);
        MemoryWriter out;
        target.save(out);
        EXPECT_EQ(out.bytes(), sound) << trial;
    }
}
