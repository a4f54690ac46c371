// The list of cards that can be dealt next on a board, with suits absent from a canonical board
// folded into one weighted representative per rank.
#pragma once

#include <cstdint>
#include <vector>

#include "cards/cards.h"

struct SubgameRecord;

struct DealtCard {
    int32_t weight;  // real cards the entry stands for, 1..4
    int32_t card;    // the representative card
};

// The dealt-card list in its fixed order: cards not of the flush suit first, then the flush
// suit's (the suit with most board cards, at least 2, lowest suit on ties); within each part by
// rank, then suit. With isomorphism the board must be in canonical suits.
std::vector<DealtCard> DealtCardList(CardMask board, uint8_t isomorphism);

// Appends one river record per entry of DealtCardList(board) to the record, in list order, and
// fills its cardToRiver table.
void EnumerateDealtCards(CardMask board, uint8_t isomorphism, SubgameRecord* record);
