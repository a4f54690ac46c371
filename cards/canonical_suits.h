// Canonical suit numbering of a board: boards with the same suit pattern are solved the same way,
// and per-combination results in canonical suits are mapped back to the board's real suits.
#pragma once

#include <cstdint>

#include "cards/cards.h"

// map[s] = canonical suit of real suit s. Flop suits first (one suit: 0; two: the suit with more
// cards 0; three: by ascending card number), then a new turn suit, then a new river suit, then
// the rest in suit order. turn and river may be 0. The one statement of the rule: every caller
// that renames suits goes through it. A flop without exactly three cards is fatal.
void CanonicalSuitMap(uint8_t map[4], CardMask flop, CardMask turn, CardMask river);

// Computes the map and rewrites each non-empty mask into canonical suits.
void CanonicalizeBoard(uint8_t map[4], CardMask* flop, CardMask* turn, CardMask* river);

// values[k] := canonical[ComboIndex of combination k in canonical suits], for every combination
// k in ComboIndex order: canonical-suit data brought back to the board's real suits.
void MapComboValuesToBoardSuits(CardMask flop, CardMask turn, CardMask river, double* values,
                                const float* canonical);
