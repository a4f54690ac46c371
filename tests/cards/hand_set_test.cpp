#include "cards/hand_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <set>
#include <string>
#include <vector>

#include "cards/canonical_suits.h"
#include "cards/hand_evaluator.h"

namespace {

CardMask Board(const char* text) {
    CardMask mask = 0;
    ParseCards(&mask, text);
    return mask;
}

std::vector<double> FullRange() {
    return std::vector<double>(kComboCount, 1.0);
}

class HandSets : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitHandEvalTables(); }
};

TEST_F(HandSets, FlopWithoutIsomorphism) {
    const CardMask flop = Board("2c7dKh");
    HandSet set(&flop, -1, -1, 0);
    const auto range = FullRange();
    ASSERT_TRUE(SetHoles(&set, range.data(), range.data()));
    EXPECT_EQ(set.hands.size(), 1176u);
    ASSERT_EQ(set.records.size(), 49u);
    for (int c = 0; c < kCardCount; ++c)
        EXPECT_EQ(set.cardToRecord[c] == kNoPosition, (flop & CardBit(c)) != 0) << c;
    for (const SubgameRecord& r : set.records) {
        EXPECT_EQ(r.weight, 1);
        EXPECT_EQ(r.hands.size(), 1128u);
        EXPECT_EQ(r.maps.size(), 1u);
        ASSERT_EQ(r.rivers.size(), 48u);
        for (const RiverRecord& c : r.rivers) {
            EXPECT_EQ(c.weight, 1);
            EXPECT_EQ(c.hands.size(), 1081u);
        }
    }
}

TEST_F(HandSets, RecordCountsWithIsomorphism) {
    struct Case {
        const char* flop;
        size_t records;
        size_t runouts;
    } cases[] = {{"2c7cKc", 23, 675}, {"2c7cKd", 36, 1429}, {"2c7dKh", 49, 2352}};
    for (const Case& c : cases) {
        CardMask flop = Board(c.flop), turn = 0, river = 0;
        uint8_t map[4];
        CanonicalizeBoard(map, &flop, &turn, &river);
        HandSet set(&flop, -1, -1, 1);
        size_t runouts = 0;
        int weighted = 0;
        for (const SubgameRecord& r : set.records)
            for (const RiverRecord& river : r.rivers) {
                ++runouts;
                weighted += r.weight * river.weight;
            }
        EXPECT_EQ(set.records.size(), c.records) << c.flop;
        EXPECT_EQ(runouts, c.runouts) << c.flop;
        EXPECT_EQ(weighted, 2352) << c.flop;
    }
}

TEST(FlatIndexLists, WorkedLayout) {
    const std::vector<std::vector<int32_t>> counts{{5, 8}, {3}};
    FlatIndexLists lists;
    FlattenIndexLists(&lists, 2, &counts);
    EXPECT_EQ(lists.turnCount, 2);
    EXPECT_EQ(lists.actionCount, 2);
    EXPECT_EQ(lists.runoutCount, 3u);
    ASSERT_EQ(lists.runouts.size(), 3u);
    EXPECT_EQ(lists.runouts[0].offset, 0u);
    EXPECT_EQ(lists.runouts[0].hands, 5u);
    EXPECT_EQ(lists.runouts[1].offset, 16u);
    EXPECT_EQ(lists.runouts[1].hands, 8u);
    EXPECT_EQ(lists.runouts[2].offset, 32u);
    EXPECT_EQ(lists.runouts[2].hands, 3u);
    EXPECT_EQ(lists.turnSpans[0].offset, 0u);
    EXPECT_EQ(lists.turnSpans[0].size, 32u);
    EXPECT_EQ(lists.turnSpans[1].offset, 32u);
    EXPECT_EQ(lists.turnSpans[1].size, 8u);
    EXPECT_EQ(lists.turnRunouts[1].first, 2u);
    EXPECT_EQ(lists.turnRunouts[1].count, 1u);
    EXPECT_EQ(lists.paddedSize, 40u);
    EXPECT_EQ(lists.packedSize, 32u);
}

TEST(HandClassKey, WorkedKeys) {
    EXPECT_EQ(HandClassKey(Board("2h3c4d5s9h"), Board("AhKh")), (167 << 8) | 64 | 2);
    EXPECT_EQ(HandClassKey(Board("2s3s4s5s9s"), Board("AsKd")), (167 << 8) | 8);
    EXPECT_EQ(HandClassKey(Board("2c3h4c5h9h"), Board("7c7h")), (70 << 8) | 32 | 2);
    EXPECT_EQ(HandClassKey(Board("2c3h4c5h9h"), 0), -1);
}

}  // namespace
