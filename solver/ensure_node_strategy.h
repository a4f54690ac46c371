// Making a node's strategy available before a query or edit reads it: a node on or below a
// forgotten street has its subtree re-solved first.
#pragma once

#include <cstdint>

struct SolvedTree;

// Re-solves the forgotten subtree holding (node, turn, river) when there is one and returns the
// re-solve's final value; 0.0 when nothing needed solving. Streets cannot be forgotten yet, so
// this returns 0.0 at once.
double EnsureNodeStrategy(SolvedTree* tree, int32_t node, int32_t turn, int32_t river,
                          uint8_t force);
