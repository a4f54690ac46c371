// The canonical combination order: the text order of the 1326 two-card hands in which commands
// read and print per-combination values, and its maps to and from ComboIndex order (the order
// of every per-combination array of the solver library).
//
// User card numbering here is 4 * rank + suit ("2c" 0, "2d" 1, ..., "As" 51); word k of the
// order names card hi then card lo for hi = 1..51, lo = 0..hi-1, so k = hi*(hi-1)/2 + lo.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cards/cards.h"
#include "interpreter/command_loop.h"

inline constexpr int kHandClassCount = 169;
inline constexpr int kHandOrderTextLength = kComboCount * 5 - 1;

// 1326 four-character words separated by single blanks ("2d2c 2h2c ... AsAh").
extern const char* const HandOrderText;

// Filled by build_combo_tables at start-up, read-only afterwards (main thread).
extern std::array<CardMask, kComboCount> HandOrderMasks;    // HandOrderIndex -> the two cards
extern std::array<uint16_t, kComboCount> HandOrderToCombo;  // HandOrderIndex -> ComboIndex
extern std::array<uint16_t, kComboCount> ComboToHandOrder;  // ComboIndex -> HandOrderIndex
// ComboIndex lists per hand class, each in ascending HandOrderIndex. Class on a 13 x 13 grid:
// 13 * high + low rank for pairs and offsuit hands, 13 * low + high rank for suited hands.
extern std::array<std::vector<uint16_t>, kHandClassCount> HandClassCombos;

// Builds the four tables from HandOrderText through the card parser. Safe to call again.
void build_combo_tables();

// out[i] = in[map[i]] for the 1326 entries; `in` must hold 1326 values (a broken invariant ends
// the process otherwise). `out` may be `in`.
void remap_combo_values(std::vector<double>& out, const std::array<uint16_t, kComboCount>& map,
                        const std::vector<double>& in);

// Appends one line to the output: each value in `value_format` (printf, one double), or
// `nan_text` verbatim for a NaN, separated by single blanks, then a line feed. A line of 65,536
// characters or more is not written: the command fails with "buffer too small".
void print_value_line(const std::vector<double>& values, const char* value_format,
                      const char* nan_text);

// The four characters of word k (0..1325) of the canonical order, e.g. "2d2c" for 0.
std::string combo_name(int k);

// show_hand_order: the order text on one line, no "END".
void cmd_show_hand_order(CommandWords& words);
