#include "solver/solver_defaults.h"

#include <atomic>
#include <limits>

#include "solver/compression_levels.h"
#include "solver/solved_tree.h"
#include "utilities/services.h"

namespace {
std::atomic<int32_t> g_iterationCap{9000};
std::atomic<double> g_averagingExponent{1.5};
std::atomic<double> g_averagingCap{262143.0};
std::atomic<int32_t> g_riverDelay{0};
}  // namespace

int32_t SolverIterationCap() {
    return g_iterationCap.load(std::memory_order_relaxed);
}
double AveragingExponent() {
    return g_averagingExponent.load(std::memory_order_relaxed);
}
double AveragingCap() {
    return g_averagingCap.load(std::memory_order_relaxed);
}
int32_t RiverDelay() {
    return g_riverDelay.load(std::memory_order_relaxed);
}

void SetSolverDefaults(SolvedTree* tree, const int32_t kinds[2]) {
    g_iterationCap.store(9000, std::memory_order_relaxed);
    const int32_t rootStreet = tree->rootStreet();
    if (rootStreet <= 1) {
        g_averagingCap.store(262143.0, std::memory_order_relaxed);
        g_averagingExponent.store(1.5, std::memory_order_relaxed);
        tree->streamKinds[0] = kinds[0];
        tree->streamKinds[1] = kinds[1];
    } else if (rootStreet == 2) {
        tree->streamKinds[0] = 0;
        tree->streamKinds[1] = 0;
        g_averagingCap.store(262143.0, std::memory_order_relaxed);
        g_averagingExponent.store(1.5, std::memory_order_relaxed);
    } else {
        tree->streamKinds[0] = 0;
        tree->streamKinds[1] = 0;
        g_averagingCap.store(std::numeric_limits<double>::max(), std::memory_order_relaxed);
        g_averagingExponent.store(4.0, std::memory_order_relaxed);
    }
    const int32_t level = CompressionLevelOfKinds(kinds);
    if (level < 0) fail_fatal("unknown stream kinds");
    tree->compressionLevel = level;
    // The level's grouped early river updates hold whatever the root street.
    g_riverDelay.store(CompressionLevelEntry(level).riverDelay, std::memory_order_relaxed);
    // A tree whose leaves all pay 0 (pot 0, check-down lines) would get an infinite scale.
    tree->payoffScale = tree->maxAmount > 0.0 ? 125.0 / tree->maxAmount : 1.0;
}
