// Row order of the per-combination tables of the _pp commands: strongest combination first for
// the player to act at the node, against a uniform opponent range.
#pragma once

#include <string>
#include <vector>

// HandOrderIndex positions of every combination in `player`'s range of the built tree, by
// descending equity against a uniform range on the board and dealt cards of `path_text` ("r"
// reads as "r:0"), ties in canonical order; combinations meeting those cards are left out.
// Passes on the node path's errors ("missing/incorrect tree", "incorrect path").
std::vector<int> combo_table_order(const std::string& path_text, int player);
