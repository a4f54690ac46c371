// Building the solved tree from the situation and the lines, the storage compression level,
// and cutting a subtree: build_tree, set_compression, get_actual_compression, cut_line (and
// the qx7_ aliases). Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "interpreter/command_loop.h"
#include "interpreter/line_set.h"
#include "solver/solved_tree.h"

// The level chosen with set_compression: -1 automatic, 0..4 fixed.
extern int32_t ConfiguredCompression;
// The level applied to the current tree.
extern int32_t AppliedCompression;
// Flag byte of a loaded tree, and the tree's info lines; build_tree clears both.
extern bool SavedTreeFlag;
extern std::vector<std::string> TreeInfoLines;

// "auto" for -1, the level table's name for 0..4, "?" otherwise.
const char* compression_level_name(int32_t level);

// The automatic level for an uncompressed storage estimate of S bytes and M bytes of usable
// memory: 0 when S < M, else 1 when M > 0.58 S, 2 when M > 0.39 f S, 3 when M > 0.29 f S, else
// 4, with f = 0.8 on a flop of exactly three suits and 1.0 otherwise.
int32_t choose_compression_level(uint64_t S, uint64_t M, bool threeSuitFlop);

// Where the automatic level reads its memory figure (bytes free or held as buffers and page
// cache); tests replace it, an empty function restores the real one.
void set_free_memory_source(std::function<uint64_t()> source);

// Appends node's subtree to records in pre-order, children in descending key, with decision
// streets counted from startStreet and leaf stakes of amount + pot / 2. order receives the line
// nodes in record order.
void flatten_lines(std::vector<TreeLine>& records, std::vector<LineNode*>& order, LineNode* node,
                   int32_t parent, double key, int32_t startStreet, double pot);

// The inconsistent-range command error when isomorphism is on for the start street and a
// player's weights differ within a hand class (cards on the board skipped). isomorphism -1: the
// start street's IsomorphismByStreet setting.
void check_range_isomorphism(int32_t startStreet, int32_t isomorphism = -1);

// Builds the tree from the current situation; on success the tree state takes the board, pot,
// start street and stack it was built with. Errors are command errors; the old tree stays.
// isomorphism -1 builds with the start street's setting; a saved tree passes its own bit.
void build_tree_from_lines(bool chooseLevel, int32_t isomorphism = -1);
// ConfiguredCompression applied, or a level chosen from memory when it is -1.
void auto_compression_level();
// Records the level and remakes the tree's storage with its pair of storage kinds.
void apply_compression_level(int32_t level);

void cmd_build_tree(CommandWords& words);
void cmd_set_compression(CommandWords& words);
void cmd_get_actual_compression(CommandWords& words);
void cmd_cut_line(CommandWords& words);
