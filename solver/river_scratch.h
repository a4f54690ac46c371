// Per-thread scratch area of the river evaluation: the flag words the showdown kernels read,
// and the working lists of the vectorised river path.
#pragma once

#include <cstdint>
#include <vector>

#include "solver/payoff_kernels.h"
#include "storage/pooled_array.h"

// One terminal of a flattened river subtree.
struct RiverTerminal {
    double amount;  // showdown: the amount; fold: +amount, or -amount for the traverser's fold
    int32_t kind;   // 1 showdown, 2 fold
};

struct RiverScratch {
    // One flag word per equal-strength run of the current river record, rebuilt at every river
    // root by BuildBlockerFlags from the opponent reach there.
    uint16_t groupFlags[payoff::kMaxRiverRuns] = {};
    std::vector<RiverTerminal> terminals;
    std::vector<PooledArray> terminalReach;   // opponent reach arriving at each terminal
    std::vector<PooledArray> terminalValues;  // payoff row of each terminal
    uint32_t cursor = 0;                      // next terminal row the update walk takes
    // Terminals with reach, by kind, in index order: the batches of the vectorised river path.
    // Kept with their capacity from root to root.
    std::vector<int32_t> showdownList;
    std::vector<int32_t> foldList;

    RiverScratch() = default;
    RiverScratch(const RiverScratch&) = delete;
    RiverScratch& operator=(const RiverScratch&) = delete;
    ~RiverScratch() { ClearLists(); }

    // Empties terminals and the two index lists, releases every terminal row and empties both
    // row lists, cursor 0.
    void ClearLists();
};

// The calling thread's scratch, created zero-filled on first use and freed when the thread
// ends.
RiverScratch* ThreadRiverScratch();
