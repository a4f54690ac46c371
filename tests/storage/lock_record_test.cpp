#include "storage/lock_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "storage/binary_io.h"

namespace {

std::vector<int16_t> I16s(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

std::vector<uint8_t> Block(uint32_t flags, std::vector<int16_t> words) {
    MemoryWriter out;
    WriteValue(out, flags);
    out.write(words.data(), words.size() * 2);
    return out.take();
}

}  // namespace

TEST(MaskRuns, EncodesTheDocumentedExamples) {
    const uint8_t mask[] = {1, 1, 0, 0, 1};
    EXPECT_EQ(EncodeMaskRuns(mask, 5), (std::vector<int16_t>{0, 2, 2, 1}));
    const uint8_t zeros[] = {0, 0, 0};
    EXPECT_EQ(EncodeMaskRuns(zeros, 3), (std::vector<int16_t>{3}));
    EXPECT_TRUE(EncodeMaskRuns(nullptr, 0).empty());
    const uint8_t odd[] = {0, 7, 255, 0};  // any non-zero byte is a locked hand
    EXPECT_EQ(EncodeMaskRuns(odd, 4), (std::vector<int16_t>{1, 2, 1}));
}

TEST(MaskRuns, DecodeRulesAndRandomRoundTrips) {
    uint8_t mask[4] = {9, 9, 9, 9};
    const int16_t runs[] = {3, 2};
    EXPECT_TRUE(DecodeMaskRuns(runs, 2, mask, 4));
    EXPECT_EQ(std::vector<uint8_t>(mask, mask + 4), (std::vector<uint8_t>{0, 0, 0, 1}));

    const int16_t withEmpty[] = {0, 2, -5, 1};  // empty and negative runs write nothing
    EXPECT_TRUE(DecodeMaskRuns(withEmpty, 4, mask, 3));
    EXPECT_EQ(std::vector<uint8_t>(mask, mask + 3), (std::vector<uint8_t>{1, 1, 1}));

    const int16_t shortRuns[] = {1, 1};
    EXPECT_FALSE(DecodeMaskRuns(shortRuns, 2, mask, 4));

    std::mt19937 rng(5);
    for (int trial = 0; trial < 200; ++trial) {
        const int32_t n = static_cast<int32_t>(rng() % 1200);
        std::vector<uint8_t> m(n);
        const unsigned density = rng() % 5;
        for (auto& b : m) b = (rng() % 5) < density ? 1 : 0;
        const auto encoded = EncodeMaskRuns(m.data(), n);
        EXPECT_LE(static_cast<int32_t>(encoded.size()), n + 1);
        std::vector<uint8_t> back(n, 7);
        ASSERT_TRUE(DecodeMaskRuns(encoded.data(), encoded.size(), back.data(), n));
        EXPECT_EQ(back, m);
    }
}

TEST(LockRecordBlock, SavesAndLoadsFlagsAndMask) {
    LockRecord record;
    record.flags = kLockNodeFlag;
    MemoryWriter plain;
    SaveLockRecord(plain, record);
    EXPECT_EQ(plain.bytes().size(), 4u);

    SetLockMask(&record, 5);
    const uint8_t bytes[] = {1, 1, 0, 0, 1};
    std::memcpy(record.mask, bytes, 5);
    MemoryWriter out;
    SaveLockRecord(out, record);
    const auto saved = out.take();
    ASSERT_EQ(saved.size(), 4u + 12u);
    uint32_t flags;
    std::memcpy(&flags, saved.data(), 4);
    EXPECT_EQ(flags, kLockNodeFlag | kLockCombosFlag);
    EXPECT_EQ(I16s({saved.begin() + 4, saved.end()}), (std::vector<int16_t>{5, 4, 0, 2, 2, 1}));

    LockRecord loaded;
    MemoryReader in(saved);
    LoadLockRecord(in, &loaded, 5);
    EXPECT_EQ(in.remaining(), 0u);
    EXPECT_EQ(loaded.flags, record.flags);
    ASSERT_EQ(loaded.maskLength, 5);
    EXPECT_EQ(std::vector<uint8_t>(loaded.mask, loaded.mask + 5),
              std::vector<uint8_t>(bytes, bytes + 5));

    // A block without a mask clears the one the record held.
    MemoryReader none(Block(kLockNodeFlag, {}));
    LoadLockRecord(none, &loaded, 5);
    EXPECT_EQ(loaded.mask, nullptr);
    EXPECT_EQ(loaded.maskLength, 0);
    EXPECT_EQ(loaded.flags, kLockNodeFlag);

    // An empty mask is still a mask: length 0, no runs.
    LockRecord empty;
    SetLockMask(&empty, 0);
    MemoryWriter emptyOut;
    SaveLockRecord(emptyOut, empty);
    EXPECT_EQ(I16s({emptyOut.bytes().begin() + 4, emptyOut.bytes().end()}),
              (std::vector<int16_t>{0, 0}));
    MemoryReader emptyIn(emptyOut.take());
    LockRecord emptyBack;
    LoadLockRecord(emptyIn, &emptyBack, 0);
    EXPECT_NE(emptyBack.mask, nullptr);
    EXPECT_EQ(emptyBack.flags, kLockCombosFlag);
    ClearLockMask(&record);
    ClearLockMask(&loaded);
    ClearLockMask(&empty);
    ClearLockMask(&emptyBack);
    EXPECT_EQ(record.flags, kLockNodeFlag);
}

TEST(LockRecordBlock, RefusesCorruptMasksWithoutTouchingTheRecord) {
    struct Case {
        std::vector<int16_t> words;
        const char* message;
    };
    const Case cases[] = {
        {{5, -1, 2}, "invalid file (run count)"},   {{-1, 1, 5}, "invalid file (mask length)"},
        {{3, 1, 3}, "invalid file (mask length)"},  {{6, 1, 6}, "invalid file (mask length)"},
        {{5, 2, 1, 1}, "invalid file (mask runs)"},
    };
    for (const Case& c : cases) {
        LockRecord record;
        SetLockMask(&record, 5);
        record.mask[2] = 1;
        MemoryReader in(Block(kLockCombosFlag, c.words));
        try {
            LoadLockRecord(in, &record, 5);
            ADD_FAILURE() << c.message;
        } catch (const IOException& e) {
            EXPECT_EQ(e.message(), c.message);
        }
        EXPECT_EQ(record.maskLength, 5);
        EXPECT_EQ(record.mask[2], 1);
        ClearLockMask(&record);
    }
    // Cut at every byte: only IOException, never anything else.
    const auto whole = Block(kLockCombosFlag, {5, 4, 0, 2, 2, 1});
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        LockRecord record;
        MemoryReader in({whole.begin(), whole.begin() + cut});
        EXPECT_THROW(LoadLockRecord(in, &record, 5), IOException) << cut;
        EXPECT_EQ(record.mask, nullptr);
    }
}

TEST(LockRecordBlock, TheLongestMasksSaveInAFormThatLoadsOrNotAtAll) {
    // 32767 bytes alternating from a locked hand need 32768 runs: more than an i16 count holds,
    // so the writer refuses rather than write a negative count.
    LockRecord alternating;
    SetLockMask(&alternating, 32767);
    for (int32_t i = 0; i < 32767; i += 2) alternating.mask[i] = 1;
    MemoryWriter sink;
    EXPECT_EXIT(SaveLockRecord(sink, alternating), testing::ExitedWithCode(1), "");
    ClearLockMask(&alternating);

    // One run fewer fits, and loads back.
    LockRecord fits;
    SetLockMask(&fits, 32767);
    for (int32_t i = 1; i < 32767; i += 2) fits.mask[i] = 1;
    MemoryWriter out;
    SaveLockRecord(out, fits);
    MemoryReader in(out.take());
    LockRecord back;
    LoadLockRecord(in, &back, 32767);
    ASSERT_EQ(back.maskLength, 32767);
    EXPECT_EQ(std::memcmp(back.mask, fits.mask, 32767), 0);
    ClearLockMask(&fits);
    ClearLockMask(&back);
}
