#include "solver/solver_thread.h"

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "solver/iteration_log.h"
#include "utilities/services.h"

const char* const kStopRequested = "requested";
const char* const kStopAccuracy = "required accuracy reached";
const char* const kStopSteps = "required number of steps done";
const char* const kStopTimeout = "timeout reached";

namespace {

// Run control, read by the solver thread once per iteration and written by the main thread.
std::atomic<bool> StopRequested{false};
std::atomic<int32_t> Budget{0};
std::atomic<bool> StepsMode{false};
std::atomic<double> CpuSeconds{0.0};
std::atomic<ProgressReport> Progress{nullptr};

// Guards Running and the wake-up of waiters; Running is also atomic for the lock-free readers.
std::mutex WaitMutex;
std::condition_variable SolveEnded;
std::atomic<bool> Running{false};
// The thread object itself is touched by the main thread only (start, wait, process end).
std::thread SolverThread;

std::mutex ClockMutex;
SolverClock Clock;  // guarded by ClockMutex; empty: steady clock

int64_t Now() {
    {
        std::lock_guard<std::mutex> lock(ClockMutex);
        if (Clock) return Clock();
    }
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double UserCpuSeconds() {
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0) return 0.0;
    return static_cast<double>(usage.ru_utime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec) / 1e6;
}

void SolverThreadMain(SolverWork* work) {
    locked_printf_flush("SOLVER: started\n");
    const int32_t startIteration = work->iteration();
    const double cpuStart = UserCpuSeconds();
    CpuSeconds.store(0.0);
    const int64_t start = Now();
    int64_t lastCheck = start;
    int64_t gapMs = 0;
    const char* reason = kStopRequested;

    if (!StopRequested.load()) {
        for (;;) {
            if (work->iteration() >= work->iterationCap()) break;
            work->runIteration();
            const int32_t t = work->iteration();

            int32_t interval = work->checkInterval();
            if (interval < 1) interval = 1;
            const int64_t now = Now();
            if (t >= 25 && (t - 25) % interval == 0 && (now - lastCheck) / 1000000 >= gapMs) {
                lastCheck = now;
                gapMs = t < 4 * static_cast<int64_t>(interval) ? 250 : 500;
                double r0[2], r1[2];
                work->bestResponse(r0, r1);
                IterationLogRecord record{};
                record.iteration = t;
                record.zero = 0;
                record.seconds = static_cast<double>((Now() - start) / 1000000) / 1000.0;
                record.value0 = r0[1];
                record.value1 = r1[1];
                record.bestResponse0 = r0[0];
                record.bestResponse1 = r1[0];
                record.exploitability = ((r0[0] - r0[1]) + (r1[0] - r1[1])) / 2;
                IterationLogAppend(record);
                CpuSeconds.store(UserCpuSeconds() - cpuStart);
                if (ProgressReport report = Progress.load()) report();
                if (work->targetAccuracy() >= record.exploitability) {
                    reason = kStopAccuracy;
                    break;
                }
            }
            const int32_t budget = Budget.load();
            if (StepsMode.load()) {
                if (t >= startIteration + static_cast<int64_t>(budget)) {
                    reason = kStopSteps;
                    break;
                }
            } else if (budget > 0 && (Now() - start) / 1000000000 >= static_cast<int64_t>(budget)) {
                reason = kStopTimeout;
                break;
            }
            if (StopRequested.load()) break;
        }
    }

    // Print before the thread counts as ended, so a new start's "started" always follows it.
    locked_printf_flush("SOLVER: stopped (%s)\n", reason);
    {
        std::lock_guard<std::mutex> lock(WaitMutex);
        StopRequested.store(false);
        Running.store(false);
    }
    SolveEnded.notify_all();
}

void JoinEndedThread() {
    if (SolverThread.joinable()) SolverThread.join();
}

}  // namespace

void libsubgame_set_progress_report(ProgressReport report) {
    Progress.store(report);
}

void SetSolverClock(SolverClock clock) {
    std::lock_guard<std::mutex> lock(ClockMutex);
    Clock = std::move(clock);
}

bool StartSolverThread(SolverWork* work, int32_t budget, bool steps) {
    {
        std::lock_guard<std::mutex> lock(WaitMutex);
        if (Running.load()) return false;
    }
    JoinEndedThread();
    Budget.store(budget);
    StepsMode.store(steps);
    StopRequested.store(false);
    {
        std::lock_guard<std::mutex> lock(WaitMutex);
        Running.store(true);
    }
    try {
        SolverThread = std::thread(SolverThreadMain, work);
    } catch (const std::system_error&) {
        // No thread to end it: the start is refused rather than leaving waiters blocked.
        std::lock_guard<std::mutex> lock(WaitMutex);
        Running.store(false);
        return false;
    }
    return true;
}

void libsubgame_request_stop() {
    std::lock_guard<std::mutex> lock(WaitMutex);
    if (Running.load()) StopRequested.store(true);
}

void libsubgame_wait_solver() {
    {
        std::unique_lock<std::mutex> lock(WaitMutex);
        SolveEnded.wait(lock, [] { return !Running.load(); });
    }
    JoinEndedThread();
}

uint32_t libsubgame_solver_running() {
    return Running.load() ? 1u : 0u;
}

double libsubgame_cpu_seconds() {
    return CpuSeconds.load();
}

void libsubgame_finish_solver() {
    libsubgame_request_stop();
    libsubgame_wait_solver();
}
