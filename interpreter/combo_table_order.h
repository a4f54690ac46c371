// Row order of the per-combination tables of the _pp commands: strongest combination first for
// the player to act at the node, against a uniform opponent range.
#pragma once

#include <string>
#include <vector>

// HandOrderIndex positions of every combination in the range (of the built tree) of the player
// to act at the node of `path_text` ("r" reads as "r:0"), by descending equity, ties in
// canonical order; combinations meeting the board or the path's dealt cards are left out.
// Passes on the node path's errors ("missing/incorrect tree", "incorrect path").
std::vector<int> combo_table_order(const std::string& path_text);
