// Node paths: colon-separated actions and dealt cards from the root ("r:0:c:b50:c:Kh:b100"),
// resolved against the line set and the board of the built tree. Every node command starts
// here. Main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "interpreter/line_set.h"

struct NodePath {
    LineNode* node = nullptr;  // the node reached; null for the bare root path "r" (not owning)
    int32_t turn = -1;         // turn card 0..51, -1 when not dealt
    int32_t river = -1;        // river card 0..51, -1 when not dealt
    uint8_t streetClosed = 0;  // 1 when the last element was a "c" that closed a street
};

// Resolves a path. Refuses, as command errors: no tree, or lines edited since the build
// ("missing/incorrect tree"); a malformed or unknown path, a card anywhere but the first node
// of the turn or river, a card already dealt, a river card without a turn card ("incorrect
// path"). A bad card text gives "ERROR: invalid card"; a "b" amount that is not a finite
// number up to 2^31 - 1 gives the conversion error ("Invalid value").
NodePath parse_node_path(const std::string& text);

// StartStreet + the node's street count (1 flop, 2 turn, 3 river); path.node must be set.
int32_t path_street(const NodePath& path);

// The path of path.node's parent, keeping only the cards dealt by the parent's street; a path
// without a node is returned unchanged.
NodePath complete_path_cards(const NodePath& path);

// "missing/incorrect tree" unless a tree is present.
void require_tree();

// "incorrect path" as a command error.
[[noreturn]] void throw_path_error();

// "incorrect path" unless the node's runout is fully known: a turn node needs its turn card,
// a river node both cards (a node reached by a street-closing "c" counts as the street it
// closes). Called by every command that reads or edits one runout.
void require_node_cards(const NodePath& path);

// The items between single-character delimiters, empty items left out.
std::vector<std::string> split(const std::string& text, char delimiter);

// The path as replies print it: empty elements (doubled, leading or trailing colons), which
// parsing ignores, left out, so no printed path holds one.
std::string canonical_path_text(const std::string& text);
