// Turning dealt cards given in the board's real suits into the tree's runout reference.
#pragma once

#include <cstdint>

struct SolvedTree;

// (turn record index, river index under it) of two card numbers in real suits, in canonical
// suits when the tree has isomorphism on; -1 for a card not given (-1), not in 0..51, or with
// no record (a board card). The river is -1 whenever the turn is.
void MapRunoutCards(const SolvedTree* tree, int32_t turnCard, int32_t riverCard, int32_t* turn,
                    int32_t* river);
