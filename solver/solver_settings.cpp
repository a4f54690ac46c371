#include "solver/solver_settings.h"

#include <omp.h>

namespace {

std::atomic<int32_t> ThreadCount{0};
std::atomic<int32_t> CheckInterval{25};
std::atomic<double> TargetAccuracy{0.0};
std::atomic<double> RecalcAccuracy[3] = {0.0, 0.0, 0.0};
std::atomic<double> RakeFraction{0.0};
std::atomic<double> RakeCap{0.0};

// Written by libsubgame_init and read by nothing: the loop exists only to create the team.
int32_t WarmUpSeed = 0;
uint32_t WarmUpSum = 0;

// The default thread count is the OpenMP maximum at program start. A plain call, so the
// initialiser stays trivial (it runs after the processor check, like every initialiser here).
[[maybe_unused]] const bool ThreadCountSet =
    (ThreadCount.store(omp_get_max_threads(), std::memory_order_relaxed), true);

}  // namespace

void libsubgame_set_thread_count(int32_t n) {
    ThreadCount.store(n < 1 ? 1 : n > kMaxSolverThreads ? kMaxSolverThreads : n,
                      std::memory_order_relaxed);
}
int32_t libsubgame_get_thread_count() {
    return ThreadCount.load(std::memory_order_relaxed);
}

void libsubgame_set_check_interval(int32_t n) {
    CheckInterval.store(n, std::memory_order_relaxed);
}
int32_t libsubgame_get_check_interval() {
    return CheckInterval.load(std::memory_order_relaxed);
}

void libsubgame_set_target_accuracy(double x) {
    TargetAccuracy.store(x, std::memory_order_relaxed);
}
double libsubgame_get_target_accuracy() {
    return TargetAccuracy.load(std::memory_order_relaxed);
}

void libsubgame_set_recalc_accuracy(double flop, double turn, double river) {
    RecalcAccuracy[0].store(flop, std::memory_order_relaxed);
    RecalcAccuracy[1].store(turn, std::memory_order_relaxed);
    RecalcAccuracy[2].store(river, std::memory_order_relaxed);
}
double libsubgame_get_recalc_accuracy(int street) {
    if (street < 1 || street > 3) return 0.0;
    return RecalcAccuracy[street - 1].load(std::memory_order_relaxed);
}

void libsubgame_set_rake(double fraction, double cap) {
    RakeFraction.store(fraction, std::memory_order_relaxed);
    RakeCap.store(cap, std::memory_order_relaxed);
}
double libsubgame_get_rake_fraction() {
    return RakeFraction.load(std::memory_order_relaxed);
}
double libsubgame_get_rake_cap() {
    return RakeCap.load(std::memory_order_relaxed);
}

void libsubgame_init(int32_t seed) {
    WarmUpSeed = seed;
    uint32_t sum = 0;
#pragma omp parallel for schedule(dynamic, 1) reduction(+ : sum)
    for (int i = 0; i < 1000; ++i) sum += static_cast<uint32_t>(seed) * static_cast<uint32_t>(i);
    WarmUpSum = sum;
}
