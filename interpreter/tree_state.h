// What the interpreter knows about the solved tree: whether one exists, the street of its root,
// the board it was built with, and whether the line set has changed since. Main thread only;
// tree building and loading set these.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "cards/cards.h"

// A built or loaded tree exists (initially false).
extern bool TreePresent;
// Street of the tree's root: 1 flop, 2 turn, 3 river (0 before the first build).
extern int32_t StartStreet;
// Flop, turn and river masks the tree was built or loaded with. Node paths read these, not the
// current board, so a set_board after a build cannot hand the library cards of another board.
extern std::array<CardMask, 3> TreeBoardMasks;
// The pot the tree was built or loaded with; node reports print it.
extern double TreePot;
// Both players' ranges (1326 weights, ComboIndex order) the tree was built or loaded with; the
// range, value and equity queries read these, so a set_range after a build changes no answer.
extern std::array<std::vector<double>, 2> TreeRanges;
// Largest amount of the lines at the last build, truncated toward zero.
extern int32_t EffectiveStack;
// Set when a line command creates or erases a node or changes an existing node's street,
// player, bets, amount or contributions; node paths refuse to resolve while it is set, since
// record indices and child positions no longer match the tree. Only a successful build or load
// clears it.
extern bool LinesEditedSinceBuild;

// The lowest card of a mask, -1 when it is empty.
int32_t lowest_card(CardMask mask);
