// The solver library's run settings: written by the interpreter's setters on the main thread,
// read by the solver thread once per iteration or check. Every setting is an atomic so a setter
// may run while a solve is under way; a reader loads each value once where it uses it.
#pragma once

#include <atomic>
#include <cstdint>

// Solver threads of every parallel walk; initially the OpenMP maximum at program start. Stored
// clamped to 1..kMaxSolverThreads (more the OpenMP runtime may fail to create, ending the
// process mid-solve), so readers take it as it is.
inline constexpr int32_t kMaxSolverThreads = 1024;
void libsubgame_set_thread_count(int32_t n);
int32_t libsubgame_get_thread_count();

// Iterations between exploitability checks (initially 25). Stored as given.
void libsubgame_set_check_interval(int32_t n);
int32_t libsubgame_get_check_interval();

// Absolute exploitability at which a solve stops (initially 0).
void libsubgame_set_target_accuracy(double x);
double libsubgame_get_target_accuracy();

// Re-solve targets of a forgotten subtree rooted on the flop, turn and river (initially 0).
void libsubgame_set_recalc_accuracy(double flop, double turn, double river);
// street 1 flop, 2 turn, 3 river; 0 for any other street.
double libsubgame_get_recalc_accuracy(int street);

// Rake fraction and cap, stored only (initially 0).
void libsubgame_set_rake(double fraction, double cap);
double libsubgame_get_rake_fraction();
double libsubgame_get_rake_cap();

// Creates the OpenMP thread team with a trivial parallel loop so the first command does not pay
// for it. Start-up calls it once with 0.
void libsubgame_init(int32_t seed);
