#include "cards/canonical_suits.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <set>
#include <vector>

#include "cards/hand_evaluator.h"

namespace {

CardMask Cards(const char* text) {
    CardMask mask = 0;
    ParseCards(&mask, text);
    return mask;
}

std::array<int, 4> Map(const char* flop, const char* turn = "", const char* river = "") {
    uint8_t map[4];
    CanonicalSuitMap(map, Cards(flop), Cards(turn), Cards(river));
    return {map[0], map[1], map[2], map[3]};
}

using A = std::array<int, 4>;

TEST(CanonicalSuitMap, WorkedMaps) {
    EXPECT_EQ(Map("2c7cKc"), (A{0, 1, 2, 3}));
    // Monotone hearts: hearts 0, then clubs, diamonds, spades.
    EXPECT_EQ(Map("2h7hKh"), (A{1, 2, 0, 3}));
    // Two diamonds and a spade: diamonds 0, spades 1, clubs 2, hearts 3.
    EXPECT_EQ(Map("2d7dKs"), (A{2, 0, 3, 1}));
    EXPECT_EQ(Map("Ks2d7d"), (A{2, 0, 3, 1}));
    // Rainbow diamond, heart, spade: d 0, h 1, s 2, c 3.
    EXPECT_EQ(Map("Ad2h7s"), (A{3, 0, 1, 2}));
    // Rainbow keeps ascending card number: 3c (1) before 2d (13).
    EXPECT_EQ(Map("2d3c4h"), (A{0, 1, 2, 3}));
    // A turn of a flop suit changes nothing; a new turn suit comes before the river's.
    EXPECT_EQ(Map("2d7dKs", "3d"), Map("2d7dKs"));
    EXPECT_EQ(Map("2d7dKs", "3h", "4c"), (A{3, 0, 2, 1}));
    EXPECT_EQ(Map("2d7dKs", "3d", "4h"), (A{3, 0, 2, 1}));
    EXPECT_EQ(Map("2c7cKc", "3s", "4h"), (A{0, 3, 2, 1}));
}

TEST(CanonicalSuitMap, AllFlopsArePermutationsAndCanonicalFormsAreFixed) {
    std::set<CardMask> canonical;
    int monotone = 0, twoTone = 0, rainbow = 0;
    for (int a = 0; a < 52; ++a)
        for (int b = a + 1; b < 52; ++b)
            for (int c = b + 1; c < 52; ++c) {
                CardMask flop = CardBit(a) | CardBit(b) | CardBit(c), turn = 0, river = 0;
                uint8_t map[4];
                CanonicalizeBoard(map, &flop, &turn, &river);
                ASSERT_EQ((1 << map[0]) | (1 << map[1]) | (1 << map[2]) | (1 << map[3]), 0xF);
                ASSERT_EQ(CardCount(flop), 3);
                CardMask again = flop;
                CanonicalizeBoard(map, &again, &turn, &river);
                ASSERT_EQ(again, flop);
                ASSERT_EQ(map[0] + 10 * map[1] + 100 * map[2] + 1000 * map[3], 3210);
                if (canonical.insert(flop).second) {
                    int suits = 0;
                    for (int s = 0; s < 4; ++s) suits += SuitField(flop, s) != 0;
                    (suits == 1 ? monotone : suits == 2 ? twoTone : rainbow)++;
                }
            }
    // Monotone C(13,3); two-tone 13 x C(13,2); rainbow 13^3 (rainbow flops keep their order).
    EXPECT_EQ(canonical.size(), 3497u);
    EXPECT_EQ(monotone, 286);
    EXPECT_EQ(twoTone, 1014);
    EXPECT_EQ(rainbow, 2197);
}

TEST(CanonicalSuitMap, CanonicalBoardsWithTurnAndRiverAreFixed) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 20000; ++trial) {
        CardMask used = 0;
        int cards[5];
        for (int i = 0; i < 5;) {
            const int c = static_cast<int>(rng() % 52);
            if (used & CardBit(c)) continue;
            used |= CardBit(c);
            cards[i++] = c;
        }
        CardMask flop = CardBit(cards[0]) | CardBit(cards[1]) | CardBit(cards[2]);
        CardMask turn = CardBit(cards[3]);
        CardMask river = trial % 2 ? CardBit(cards[4]) : 0;
        uint8_t map[4];
        CanonicalizeBoard(map, &flop, &turn, &river);
        const CardMask f = flop, t = turn, r = river;
        CanonicalizeBoard(map, &flop, &turn, &river);
        ASSERT_EQ(map[0] + 10 * map[1] + 100 * map[2] + 1000 * map[3], 3210);
        ASSERT_EQ(flop, f);
        ASSERT_EQ(turn, t);
        ASSERT_EQ(river, r);
    }
}

// A HandValue squeezed into 24 bits (type, five nibbles) so that a float holds it exactly.
float Exact(HandValue v) {
    return static_cast<float>((v >> 24) << 20 | (v & 0xFFFFF));
}

// Values computed in canonical suits come back on the real suits they belong to.
TEST(MapComboValuesToBoardSuits, BringsCanonicalValuesBackToRealSuits) {
    InitHandEvalTables();
    std::mt19937 rng(5);
    std::vector<float> canonical(kComboCount);
    std::vector<double> mapped(kComboCount);
    for (int trial = 0; trial < 200; ++trial) {
        CardMask used = 0;
        int cards[5];
        for (int i = 0; i < 5;) {
            const int c = static_cast<int>(rng() % 52);
            if (used & CardBit(c)) continue;
            used |= CardBit(c);
            cards[i++] = c;
        }
        const CardMask flop = CardBit(cards[0]) | CardBit(cards[1]) | CardBit(cards[2]);
        const CardMask turn = CardBit(cards[3]), river = CardBit(cards[4]);
        CardMask cf = flop, ct = turn, cr = river;
        uint8_t map[4];
        CanonicalizeBoard(map, &cf, &ct, &cr);
        const CardMask canonicalBoard = cf | ct | cr;
        for (int k = 0; k < kComboCount; ++k) {
            const CardMask hand = ComboMask(k);
            canonical[k] =
                (hand & canonicalBoard) ? 0.0f : Exact(EvalCardMask(hand | canonicalBoard));
        }
        MapComboValuesToBoardSuits(flop, turn, river, mapped.data(), canonical.data());
        for (int k = 0; k < kComboCount; ++k) {
            const CardMask hand = ComboMask(k);
            const double expected = (hand & used) ? 0.0 : Exact(EvalCardMask(hand | used));
            ASSERT_EQ(mapped[k], expected) << MaskText(used) << " " << MaskText(hand);
        }
    }
}

TEST(CanonicalSuitMapDeathTest, FlopWithoutThreeCardsIsFatal) {
    uint8_t map[4];
    EXPECT_EXIT(CanonicalSuitMap(map, Cards("2c7c"), 0, 0), ::testing::ExitedWithCode(1), "");
}

}  // namespace
