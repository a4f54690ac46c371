// The per-node, per-runout record of reach and value rows kept for subgames and forgotten
// streets. Written by the chance-node code, saved with the tree.
#pragma once

#include <cstdint>

#include "storage/pooled_array.h"

// Fields in order:
//   rows[0], rows[1]  reach of player 0 and 1 at a subgame root, summed over iterations with a
//                     weight (AddScaledToNodeData); heap rows, they outlive any traversal
//   rows[2 + p]       values of traverser p at the chance node
//   rows[4 + p]       best-response values of traverser p
//   rowZeroAbsent     row 0 is not stored in a saved tree (rebuilt after loading)
//   rowOneAbsent      row 1 likewise
//   done              set while the record's street is forgotten; AddScaledToNodeData then
//                     leaves the record unchanged
//   doneBits          bit k set once runout k below this record has been re-solved
struct NodeData {
    PooledArray rows[6];
    uint8_t rowZeroAbsent = 0;
    uint8_t rowOneAbsent = 0;
    uint8_t done = 0;
    uint64_t doneBits = 0;
};
