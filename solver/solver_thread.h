// The one solver thread: its lifecycle, run control, check schedule and stop rules.
// The thread drives a SolverWork; the library's start entry point hands it the work on the
// solved tree, tests hand it a fake.
#pragma once

#include <cstdint>
#include <functional>

// What one solve does per iteration and per check, and the settings it reads as it goes.
class SolverWork {
public:
    virtual ~SolverWork() = default;
    // The tree's completed iteration count.
    virtual int32_t iteration() = 0;
    // One iteration for both players; advances iteration() by one. Sets the OpenMP team size
    // from the thread-count setting first.
    virtual void runIteration() = 0;
    // Best responses and values of both players under the current strategies (evaluation mode):
    // resultP = {best-response value, value}.
    virtual void bestResponse(double result0[2], double result1[2]) = 0;
    virtual int32_t iterationCap() = 0;
    virtual int32_t checkInterval() = 0;
    virtual double targetAccuracy() = 0;
};

// What the solver thread calls after each exploitability check (the interpreter's progress
// report), registered once at start-up; none by default.
using ProgressReport = void (*)();
void libsubgame_set_progress_report(ProgressReport report);

// Steady nanoseconds; replaceable so tests can drive the check schedule.
using SolverClock = std::function<int64_t()>;
void SetSolverClock(SolverClock clock);  // an empty function restores the steady clock

// Starts the thread on work (which must outlive it). Returns false, starting nothing, while a
// solver thread exists. A finished thread is joined first. budget counts iterations in steps
// mode, else whole seconds (0: no limit). Main thread only.
bool StartSolverThread(SolverWork* work, int32_t budget, bool steps);

// Sets the stop request if a solver thread exists; does not wait.
void libsubgame_request_stop();
// Blocks until no solver thread exists, then joins the ended thread. Main thread only.
void libsubgame_wait_solver();
// 1 while a solver thread exists.
uint32_t libsubgame_solver_running();
// User CPU seconds of the process since the running (or last) solve started, taken at each check.
double libsubgame_cpu_seconds();
// Requests a stop and joins the thread; every normal process end calls it before exit.
void libsubgame_finish_solver();

// Stop reasons, as printed in "SOLVER: stopped (%s)".
extern const char* const kStopRequested;
extern const char* const kStopAccuracy;
extern const char* const kStopSteps;
extern const char* const kStopTimeout;
