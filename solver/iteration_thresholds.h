// The iteration counts at which delayed averaging changes what the solver does. Every rule that
// depends on them reads these names; tests pin them against the rules' known values.
#pragma once

#include <cstdint>

// Delayed averaging: strategy sums take no part (neither accumulated nor read for evaluation)
// while the tree has completed at most this many iterations; an average's weight is
// max(t - kAveragingDelay, 0)^exponent.
inline constexpr int32_t kAveragingDelay = 60;
// The first iteration whose strategy sums accumulate; compressed river sums count their
// selected iterations from it.
inline constexpr int32_t kFirstAveragedIteration = kAveragingDelay + 1;
// Strategy displays and queries show the average from this many completed iterations on, the
// current strategy before.
inline constexpr int32_t kFirstDisplayedAverage = 63;

// Whether strategy sums take part at the tree's completed iteration count: averaging kind 0
// keeps none, kind 1 is delayed, any other kind weighs every iteration 1.
inline bool StrategySumsActive(int32_t averaging, int32_t iteration) {
    return averaging != 0 && !(averaging == 1 && iteration < kFirstAveragedIteration);
}
