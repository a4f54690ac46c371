#include "cards/cards.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

TEST(ComboIndex, IsABijectionOntoAllCombinations) {
    std::vector<int> seen(kComboCount, 0);
    int expected = 0;
    for (int hi = 1; hi < kCardCount; ++hi) {
        for (int lo = 0; lo < hi; ++lo) {
            const int index = ComboIndex(CardBit(lo) | CardBit(hi));
            // Enumerating hi then lo visits the indices in ascending order.
            ASSERT_EQ(index, expected++);
            ++seen[index];
            EXPECT_EQ(ComboCards(index), MakeCardPair(lo, hi));
            EXPECT_EQ(ComboMask(index), CardBit(lo) | CardBit(hi));
        }
    }
    EXPECT_EQ(expected, kComboCount);
    for (int n : seen) EXPECT_EQ(n, 1);
    EXPECT_EQ(ComboIndex(0, 1), 0);
    EXPECT_EQ(ComboIndex(50, 51), 1325);
    EXPECT_EQ(ComboIndex(0, 51), 1275);
    EXPECT_EQ(MakeCardPair(0, 51), 0x3300);
    EXPECT_EQ(MakeCardPair(CardBit(51) | CardBit(0)), 0x3300);
    EXPECT_EQ(CardPairMask(0x3300), CardBit(0) | CardBit(51));
}

TEST(CardEncoding, RankSuitAndText) {
    EXPECT_EQ(MakeCard(12, 2), 38);
    EXPECT_EQ(CardRank(38), 12);
    EXPECT_EQ(CardSuit(38), 2);
    EXPECT_EQ(CardText(38), "Ah");
    EXPECT_EQ(CardText(0), "2c");
    EXPECT_EQ(MaskText(CardBit(0) | CardBit(51) | CardBit(21)), "2cTdAs");
    EXPECT_EQ(SuitField(CardBit(MakeCard(3, 1)) | CardBit(MakeCard(5, 1)), 1), 0x28u);
}

TEST(SuitPermutation, InverseRestoresEveryMask) {
    const int perms[][4] = {{1, 0, 2, 3}, {3, 2, 1, 0}, {1, 2, 3, 0}, {2, 0, 3, 1}, {0, 1, 2, 3}};
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (const auto& perm : perms) {
        int inverse[4];
        for (int s = 0; s < 4; ++s) inverse[perm[s]] = s;
        for (int trial = 0; trial < 2000; ++trial) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            const CardMask mask = (state >> 7) & kFullDeckMask;
            const CardMask moved = PermuteSuits(mask, perm);
            EXPECT_EQ(CardCount(moved), CardCount(mask));
            EXPECT_EQ(PermuteSuits(moved, inverse), mask);
        }
    }
    const int swap_cd[4] = {1, 0, 2, 3};
    // Ac becomes Ad, rank kept.
    EXPECT_EQ(PermuteSuits(CardBit(MakeCard(12, 0)), swap_cd), CardBit(MakeCard(12, 1)));
}

CardMask Cards(std::initializer_list<const char*> names) {
    CardMask mask = 0;
    for (const char* name : names) {
        const int rank = static_cast<int>(std::string(kRankChars).find(name[0]));
        const int suit = static_cast<int>(std::string(kSuitChars).find(name[1]));
        mask |= CardBit(MakeCard(rank, suit));
    }
    return mask;
}

TEST(ParseCards, AcceptedTexts) {
    struct Case {
        const char* text;
        CardMask mask;
    } cases[] = {
        {"", 0},
        {"Ah", Cards({"Ah"})},
        {"ah", Cards({"Ah"})},
        {"AH", Cards({"Ah"})},
        {"AhKd2c", Cards({"Ah", "Kd", "2c"})},
        {"ah kd  2C", Cards({"Ah", "Kd", "2c"})},
        {"Td9s   ", Cards({"Td", "9s"})},
        {"tctdthts", Cards({"Tc", "Td", "Th", "Ts"})},
    };
    for (const Case& c : cases) {
        CardMask mask = 123;
        ASSERT_NO_THROW(ParseCards(&mask, c.text)) << c.text;
        EXPECT_EQ(mask, c.mask) << c.text;
    }
}

TEST(ParseCards, RefusedTexts) {
    const char* bad[] = {" Ah", "A",  "Ah K",  "AhAh",   "ahAH", "10h",   "1h",       "0c",
                         "hA",  "Ax", "Ah,Kd", "Ah\tKd", "XX",   "AhKdQ", "Ah Kd ah", "Ah-"};
    for (const char* text : bad) {
        CardMask mask = 0;
        try {
            ParseCards(&mask, text);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "ERROR: invalid card\n") << text;
        }
    }
    // The cards before the bad one are kept.
    CardMask mask = 0;
    EXPECT_THROW(ParseCards(&mask, "AhKdKd"), std::runtime_error);
    EXPECT_EQ(mask, Cards({"Ah", "Kd"}));
}

TEST(ParseCards, RoundTripsAndRandomText) {
    std::mt19937_64 rng(3);
    for (int trial = 0; trial < 5000; ++trial) {
        const CardMask mask = rng() & kFullDeckMask;
        CardMask parsed = 0;
        ASSERT_NO_THROW(ParseCards(&parsed, MaskText(mask).c_str()));
        ASSERT_EQ(parsed, mask);
    }
    // Arbitrary text either parses to the cards it names or gives the one error.
    const std::string alphabet = "23456789TJQKAtjqkacdhsCDHS 10x\t,";
    for (int trial = 0; trial < 20000; ++trial) {
        std::string text(rng() % 12, ' ');
        for (char& c : text) c = alphabet[rng() % alphabet.size()];
        CardMask parsed = 0;
        try {
            ParseCards(&parsed, text.c_str());
            std::string squeezed;
            for (char c : text)
                if (c != ' ') squeezed += c;
            ASSERT_EQ(static_cast<size_t>(CardCount(parsed)) * 2, squeezed.size()) << text;
        } catch (const std::runtime_error& e) {
            ASSERT_STREQ(e.what(), "ERROR: invalid card\n") << text;
        }
    }
}

}  // namespace
