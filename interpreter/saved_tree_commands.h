// Saved-tree loading and the tree info lines: load_tree, free_tree, reset_tree_info,
// add_info_line, show_tree_info. Main thread only.
//
// File layout (little-endian, no padding), as load_tree reads it:
//   "QX7:", i32 version (at most 7), u8 omitted-rows flag (version >= 4), u64 flop, turn and
//   river masks, 3 f64 pot values, 2 x 1326 f64 ranges, the line records (below), the library's
//   60-byte header, i32 compression level, the library's node data, and for version >= 7 the
//   info lines (i32 count, then per line i32 length and its bytes).
//   Line record: i32 player, street, bets, record index; f64 amount, contribution 0 and 1; i32
//   child count n; n times an f64 key and the child's record.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "interpreter/command_loop.h"
#include "storage/binary_io.h"

void cmd_load_tree(CommandWords& words);

// load_tree without its reply: refuses while solving, frees the tree, then reads the file that
// open gives. Failures are command errors; a failed load leaves no tree.
void load_tree_from(const std::function<std::unique_ptr<FileReader>()>& open);
void cmd_free_tree(CommandWords& words);
void cmd_reset_tree_info(CommandWords& words);
void cmd_add_info_line(CommandWords& words);
void cmd_show_tree_info(CommandWords& words);

// Frees the library's tree; TreePresent and SavedTreeFlag become false. The info lines stay.
void free_tree_core();

// Writes the info lines as a saved tree carries them: i32 count, then per line i32 length and
// the bytes.
void serialize_tree_info(BinaryWriter& out);

// Word 1 after opening it as a file reader and closing it again; the reader's IOException
// ("can't open file (errno N)") when it cannot be opened.
std::string probe_input_file(const CommandWords& words);
