#include "solver/compression_levels.h"

#include <atomic>

#include "solver/iteration_thresholds.h"

namespace {

constexpr CompressionLevel kLevels[kCompressionLevelCount] = {
    {"none", {0, 0}, 0, RiverSumSchedule::EveryIteration},
    {"low", {0, 1}, 0, RiverSumSchedule::EveryIteration},
    {"medium", {1, 1}, 0, RiverSumSchedule::EveryIteration},
    {"high", {1, 2}, 0, RiverSumSchedule::SelectedIterations},
    {"max", {2, 2}, 30, RiverSumSchedule::SelectedIterations},
};

// The schedules as tests may force them; the solver thread reads them each iteration.
struct Schedule {
    std::atomic<int32_t> riverDelay;
    std::atomic<RiverSumSchedule> riverSums;
};
Schedule Schedules[kCompressionLevelCount] = {
    {kLevels[0].riverDelay, kLevels[0].riverSums}, {kLevels[1].riverDelay, kLevels[1].riverSums},
    {kLevels[2].riverDelay, kLevels[2].riverSums}, {kLevels[3].riverDelay, kLevels[3].riverSums},
    {kLevels[4].riverDelay, kLevels[4].riverSums},
};

int32_t Clamp(int32_t level) {
    return level < 0 ? 0 : level >= kCompressionLevelCount ? kCompressionLevelCount - 1 : level;
}

}  // namespace

CompressionLevel CompressionLevelEntry(int32_t level) {
    level = Clamp(level);
    CompressionLevel entry = kLevels[level];
    entry.riverDelay = Schedules[level].riverDelay.load(std::memory_order_relaxed);
    entry.riverSums = Schedules[level].riverSums.load(std::memory_order_relaxed);
    return entry;
}

int32_t CompressionLevelOfKinds(const int32_t kinds[2]) {
    for (int32_t level = 0; level < kCompressionLevelCount; ++level)
        if (kLevels[level].streamKinds[0] == kinds[0] && kLevels[level].streamKinds[1] == kinds[1])
            return level;
    return -1;
}

bool RiverSumsAt(int32_t level, int32_t iteration) {
    if (CompressionLevelEntry(level).riverSums == RiverSumSchedule::EveryIteration) return true;
    const int32_t d = iteration - kFirstAveragedIteration;
    return d >= 0 && (d < 11 || d % 11 == 0);
}

void ForceLevelSchedule(int32_t level, int32_t riverDelay, RiverSumSchedule riverSums) {
    level = Clamp(level);
    Schedules[level].riverDelay.store(riverDelay);
    Schedules[level].riverSums.store(riverSums);
}

void RestoreLevelSchedules() {
    for (int32_t level = 0; level < kCompressionLevelCount; ++level)
        ForceLevelSchedule(level, kLevels[level].riverDelay, kLevels[level].riverSums);
}
