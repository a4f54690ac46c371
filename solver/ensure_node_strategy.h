// Making a node's strategy available before a query or edit reads it: a node on or below a
// forgotten street has its subtree re-solved first.
#pragma once

#include <cstdint>

struct SolvedTree;

// For a node (index) on a forgotten street and its runout (record indices, -1 for a card not
// dealt): makes the storages of the forgotten subtree holding it (anew with force) and re-solves
// the runout unless it is done (always with force). Returns the re-solve's last check value;
// 0.0 when nothing was re-solved: nothing forgotten, the node above the forgotten street, a
// runout without the node's card, or arguments out of range. Call it holding no library lock.
double EnsureNodeStrategy(SolvedTree* tree, int32_t node, int32_t turn, int32_t river,
                          uint8_t force);
