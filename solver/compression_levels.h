// The storage compression levels 0-4, the one table every reader of a level asks: the level's
// name, the stream kinds of its river storages, its river delay and which iterations add to the
// river strategy sums of flop trees.
#pragma once

#include <cstdint>

enum class RiverSumSchedule : uint8_t {
    EveryIteration,
    // d = iteration - kFirstAveragedIteration >= 0, and d below 11 or a multiple of 11.
    SelectedIterations,
};

struct CompressionLevel {
    const char* name;            // the set_compression word and the verbose line's name
    int32_t streamKinds[2];      // river regrets, river strategy sums
    int32_t riverDelay;          // iterations of grouped river regret updates
    RiverSumSchedule riverSums;  // flop trees only; turn and river roots sum every iteration
};

inline constexpr int32_t kCompressionLevelCount = 5;

// The entry of level 0-4 (a forced schedule included); levels outside are clamped into 0-4.
CompressionLevel CompressionLevelEntry(int32_t level);
// The level whose stream kinds are kinds; -1 when no level has them.
int32_t CompressionLevelOfKinds(const int32_t kinds[2]);
// Whether the river sums of a flop tree at the level take part at the iteration.
bool RiverSumsAt(int32_t level, int32_t iteration);

// Test hooks: replace a level's river delay and river-sum schedule (while no solve runs), and
// put every level back as the table has it.
void ForceLevelSchedule(int32_t level, int32_t riverDelay, RiverSumSchedule riverSums);
void RestoreLevelSchedules();
