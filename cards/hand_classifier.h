// Hand classifier: a made-hand category and a draw category for each of the 1326 combinations
// on a board of three to five cards, in the canonical combination order of the commands.
//
// Classifier card numbering: 51 - (4 * rank + suit), so the ace of spades is 0 and the deuce of
// clubs 51 (rank 0..12 for "23456789TJQKA", suit 0..3 for clubs, diamonds, hearts, spades).
// Entry k of the canonical order holds the cards hi > lo of the numbering 4 * rank + suit with
// k = hi * (hi - 1) / 2 + lo; in classifier numbering those are 51 - hi and 51 - lo.
#pragma once

#include <cstdint>
#include <string>

#include "cards/cards.h"

inline constexpr int kMadeHandCategoryCount = 19;
inline constexpr int kDrawCategoryCount = 5;

// Category names by index: made hands "nothing" (0) .. "straight_flush" (18), draws "no_draw"
// (0) .. "combo_draw" (4). "top_pair_tp" (8) exists but is never assigned.
extern const char* const MadeHandCategoryNames[kMadeHandCategoryCount];
extern const char* const DrawCategoryNames[kDrawCategoryCount];

// A board handed in by value: the first `count` (3..5) slots hold distinct classifier cards.
struct ClassifierBoard {
    int32_t cards[5];
    int32_t count;
};

// Classifier number of a card numbered 13 * suit + rank.
constexpr int32_t ClassifierCard(int card) {
    return 51 + 51 * (card / 13) - 4 * card;
}

// The board of a card set of 3 to 5 cards, in ascending card number; count 0 for any other size.
ClassifierBoard ClassifierBoardFromMask(CardMask cards);

// out[k] = made-hand category x 100 of canonical entry k, -1 for combinations holding a board
// card. Ends the process with status 1 after "ERROR: bug in hand classifier, please report!"
// on the impossible three of a kind on a two-pair board. Needs the evaluator tables.
void ClassifyMadeHands(int32_t out[kComboCount], ClassifierBoard board);

// On 3- and 4-card boards out[k] = draw category of entry k (outs counted by dealing every
// remaining card), -1 for blocked combinations. On a 5-card board `out` is left untouched.
void ClassifyDraws(int32_t out[kComboCount], ClassifierBoard board);

// "name name ... \n" for both lists, then "END\n": the reply of show_category_names.
std::string CategoryNamesText();

// Both lines of 1326 "%d " numbers (made-hand category, then draw category starting from 0 on
// every entry) and "END\n": the reply of show_categories.
std::string CategoriesText(ClassifierBoard board);
