#include "cards/dealt_cards.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "cards/canonical_suits.h"
#include "cards/hand_set.h"

namespace {

CardMask Cards(const char* text) {
    CardMask mask = 0;
    ParseCards(&mask, text);
    return mask;
}

int FlushSuit(CardMask board) {
    int suit = -1, most = 1;
    for (int s = 0; s < 4; ++s)
        if (CardCount(SuitField(board, s)) > most) most = CardCount(SuitField(board, s)), suit = s;
    return suit;
}

// Every canonical four-card board: a canonical flop with each turn card, canonicalised again.
std::set<CardMask> CanonicalTurnBoards() {
    std::set<CardMask> boards;
    for (int a = 0; a < 52; ++a)
        for (int b = a + 1; b < 52; ++b)
            for (int c = b + 1; c < 52; ++c)
                for (int t = 0; t < 52; ++t) {
                    CardMask flop = CardBit(a) | CardBit(b) | CardBit(c), turn = CardBit(t);
                    CardMask river = 0;
                    if (flop & turn) continue;
                    uint8_t map[4];
                    CanonicalizeBoard(map, &flop, &turn, &river);
                    boards.insert(flop | turn);
                }
    return boards;
}

TEST(DealtCards, EveryCanonicalTurnBoard) {
    const std::set<CardMask> boards = CanonicalTurnBoards();
    for (CardMask board : boards) {
        for (uint8_t iso : {0, 1}) {
            const std::vector<DealtCard> list = DealtCardList(board, iso);
            int total = 0;
            CardMask seen = 0;
            for (const DealtCard& d : list) {
                total += d.weight;
                ASSERT_FALSE(board & CardBit(d.card));
                ASSERT_FALSE(seen & CardBit(d.card));
                seen |= CardBit(d.card);
                if (!iso) {
                    ASSERT_EQ(d.weight, 1);
                }
            }
            ASSERT_EQ(total, 48) << MaskText(board);
            if (!iso) {
                ASSERT_EQ(list.size(), 48u);
            }
            // Flush suit last; within each part rank, then suit.
            const int cs = FlushSuit(board);
            for (size_t i = 1; i < list.size(); ++i) {
                const int a = list[i - 1].card, b = list[i].card;
                const int ka = (CardSuit(a) == cs) * 64 + CardRank(a) * 4 + CardSuit(a);
                const int kb = (CardSuit(b) == cs) * 64 + CardRank(b) * 4 + CardSuit(b);
                ASSERT_LT(ka, kb) << MaskText(board);
            }
        }
    }
}

TEST(DealtCards, TwoSuitBoardFoldsTheAbsentSuits) {
    const CardMask board = Cards("2c7cKc9d");
    const std::vector<DealtCard> list = DealtCardList(board, 1);
    ASSERT_EQ(list.size(), 10u + 12u + 13u);
    int weightTwo = 0;
    for (const DealtCard& d : list) {
        if (CardSuit(d.card) == 2) {
            EXPECT_EQ(d.weight, 2);
            ++weightTwo;
        } else {
            EXPECT_LT(CardSuit(d.card), 2);
            EXPECT_EQ(d.weight, 1);
        }
    }
    EXPECT_EQ(weightTwo, 13);
    // Clubs are the flush suit: the ten free clubs close the list.
    for (size_t i = list.size() - 10; i < list.size(); ++i) EXPECT_EQ(CardSuit(list[i].card), 0);
    EXPECT_EQ(list.front().card, MakeCard(0, 1));  // 2d
    EXPECT_EQ(list[1].card, MakeCard(0, 2));       // 2h standing for hearts and spades
}

TEST(DealtCards, CardToRiverInvertsTheRiverList) {
    const std::set<CardMask> boards = CanonicalTurnBoards();
    int n = 0;
    for (CardMask board : boards) {
        if (n++ % 97) continue;
        const CardMask flop = CardBit(LowestCard(board)) |
                              CardBit(LowestCard(board & (board - 1))) |
                              CardBit(HighestCard(board));
        const int turn = LowestCard(board & ~flop);
        for (uint8_t iso : {0, 1}) {
            HandSet set(&flop, turn, -1, iso);
            ASSERT_EQ(set.records.size(), 1u);
            const SubgameRecord& record = set.records[0];
            const std::vector<DealtCard> list = DealtCardList(board, iso);
            ASSERT_EQ(record.rivers.size(), list.size());
            int listed = 0;
            for (size_t i = 0; i < list.size(); ++i) {
                EXPECT_EQ(record.rivers[i].card, list[i].card);
                EXPECT_EQ(record.rivers[i].weight, list[i].weight);
                EXPECT_EQ(record.rivers[i].board, board | CardBit(list[i].card));
                EXPECT_EQ(record.rivers[i].maps.size(), static_cast<size_t>(list[i].weight));
                EXPECT_EQ(record.cardToRiver[list[i].card], i);
            }
            for (int c = 0; c < kCardCount; ++c) listed += record.cardToRiver[c] != kNoPosition;
            EXPECT_EQ(listed, static_cast<int>(list.size()));
        }
    }
}

}  // namespace
