// Lines of the node report that describe the position: the board and the pot.
#pragma once

#include <cstdint>

#include "cards/cards.h"
#include "interpreter/line_set.h"

// The flop cards in ascending card number, then the turn and river cards where dealt (>= 0),
// separated by single blanks, ending the line ("2d 7h Ks 9c").
void print_board(CardMask flop, int32_t turn, int32_t river);

// "%g %g %g" with the node's contributions of player 0 and player 1 (0 and 0 without a node)
// and the pot, ending the line.
void print_pot_line(const LineNode* node, double pot);
