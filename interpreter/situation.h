// The situation the user describes: both ranges, the board, the pot, the accuracy target and
// the per-street isomorphism switches. Written by the situation commands (and loading) on the
// main thread, read when a tree is built; the solver thread never reads them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cards/cards.h"
#include "interpreter/command_loop.h"

// One player's weights, 1326 doubles in ComboIndex order.
using ComboRange = std::vector<double>;

// Index 0 OOP, 1 IP; an empty list means the range is not set.
extern std::array<ComboRange, 2> PlayerRanges;
// Flop (three cards), turn and river (empty or one card each).
extern std::array<CardMask, 3> BoardMasks;
// Two stored values and the pot (third, initially 100), all whole numbers as entered.
extern std::array<double, 3> PotValues;
// Target accuracy as entered (at least 0), absolute or a fraction of the pot.
extern double AccuracySetting;
extern bool AccuracyIsFraction;
// Isomorphism per start street (1 flop, 2 turn, 3 river; 0 unused), 0 = off.
extern std::array<uint8_t, 4> IsomorphismByStreet;
// Scheduler choice 0 or 1; stored only.
extern int32_t SchedulerMode;

// "OOP"/"hero" 0, "IP"/"villain" 1 (exact); anything else is the command error
// "incorrect player name".
int parse_player(const std::string& word);

// Converts words[first..] into result, in word order. Every word must be a finite number, else
// the conversion error ("Invalid value") is thrown and result is unusable.
void parse_combo_values(std::vector<double>& result, const CommandWords& words, size_t first);

// Passes the target (the setting, times the pot when it is a fraction) to the library and, when
// verbose, prints "[accuracy <target> (<fraction> fraction)]".
void apply_accuracy();
