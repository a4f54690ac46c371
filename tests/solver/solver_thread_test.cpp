// The solver thread's lifecycle, check schedule and stop rules, driven by a fake iteration and
// an injected clock so that every schedule is exact.
#include "solver/solver_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "solver/iteration_log.h"

namespace {

// The interpreter prints the summary; here the test only counts the calls and what they saw.
std::atomic<int> ProgressCalls{0};
std::atomic<uint32_t> ProgressLogSize{0};
void CountProgress() {
    uint32_t count = 0;
    IterationLogRecord* copy = libsubgame_copy_iteration_log(&count);
    std::free(copy);
    ProgressLogSize.store(count);
    ProgressCalls.fetch_add(1);
}

std::atomic<int64_t> FakeNanos{0};

// Each iteration advances the fake clock by stepNanos; the exploitability falls as 100 / t.
class FakeWork : public SolverWork {
public:
    std::atomic<int32_t> t{0};
    int64_t stepNanos = 0;
    int32_t cap = 9000;
    int32_t interval = 25;
    double target = 0.0;
    std::chrono::microseconds sleep{0};
    std::vector<int32_t> checks;  // solver thread only, read after the join

    int32_t iteration() override { return t.load(); }
    void runIteration() override {
        if (sleep.count() > 0) std::this_thread::sleep_for(sleep);
        FakeNanos.fetch_add(stepNanos);
        t.fetch_add(1);
    }
    void bestResponse(double r0[2], double r1[2]) override {
        checks.push_back(t.load());
        double e = 100.0 / t.load();
        r0[0] = 1.0 + e;
        r0[1] = 1.0;
        r1[0] = -1.0 + e;
        r1[1] = -1.0;
    }
    int32_t iterationCap() override { return cap; }
    int32_t checkInterval() override { return interval; }
    double targetAccuracy() override { return target; }
};

class SolverThread : public ::testing::Test {
protected:
    void SetUp() override {
        FakeNanos.store(0);
        SetSolverClock([] { return FakeNanos.load(); });
        ProgressCalls.store(0);
        libsubgame_set_progress_report(CountProgress);
        IterationLogClear();  // the library's start entry empties it; StartSolverThread does not
    }
    void TearDown() override {
        libsubgame_finish_solver();
        SetSolverClock(nullptr);
        libsubgame_set_progress_report(nullptr);
    }
    // Runs one solve to its end and returns everything it printed.
    std::string Solve(FakeWork& work, int32_t budget, bool steps) {
        testing::internal::CaptureStdout();
        EXPECT_TRUE(StartSolverThread(&work, budget, steps));
        libsubgame_wait_solver();
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(SolverThread, StepBudgetCountsFromTheStartingIteration) {
    FakeWork work;
    work.t = 40;
    EXPECT_EQ(Solve(work, 10, true),
              "SOLVER: started\nSOLVER: stopped (required number of steps done)\n");
    EXPECT_EQ(work.t.load(), 50);

    FakeWork once;
    once.t = 7;
    Solve(once, 0, true);
    EXPECT_EQ(once.t.load(), 8) << "a budget of 0 steps still runs one iteration";
}

TEST_F(SolverThread, TimeBudgetInWholeSeconds) {
    FakeWork work;
    work.stepNanos = 300'000'000;  // 0.3 s per iteration: 2 s are reached after 7 iterations
    EXPECT_EQ(Solve(work, 2, false), "SOLVER: started\nSOLVER: stopped (timeout reached)\n");
    EXPECT_EQ(work.t.load(), 7);
}

TEST_F(SolverThread, CheckScheduleThinnedByTheGap) {
    // 4 ms per iteration: 25 iterations take 100 ms, below the 250 ms gap, so after the first
    // check at 25 the next is at 100 (300 ms later); from there the gap is 500 ms: 225, 350.
    FakeWork work;
    work.stepNanos = 4'000'000;
    Solve(work, 360, true);
    EXPECT_EQ(work.checks, (std::vector<int32_t>{25, 100, 225, 350}));
    EXPECT_EQ(ProgressCalls.load(), 4);

    // With time to spare every 25th iteration is checked; an interval below 1 counts as 1.
    FakeWork slow;
    slow.stepNanos = 1'000'000'000;
    Solve(slow, 100, true);
    EXPECT_EQ(slow.checks, (std::vector<int32_t>{25, 50, 75, 100}));
    FakeWork dense;
    dense.interval = 0;
    dense.stepNanos = 1'000'000'000;
    Solve(dense, 28, true);
    EXPECT_EQ(dense.checks, (std::vector<int32_t>{25, 26, 27, 28}));
}

TEST_F(SolverThread, AccuracyStopAndLogRecords) {
    FakeWork work;
    work.stepNanos = 1'000'000'000;
    work.target = 1.5;  // exploitability 100 / t reaches 1.5 first at the check of t = 75
    std::string out = Solve(work, 0, false);
    EXPECT_EQ(out, "SOLVER: started\nSOLVER: stopped (required accuracy reached)\n");
    EXPECT_EQ(work.t.load(), 75);
    EXPECT_EQ(ProgressLogSize.load(), 3u) << "progress sees the log with the check's record";

    // The log is readable only while a solver thread exists.
    uint32_t count = 99;
    EXPECT_EQ(libsubgame_copy_iteration_log(&count), nullptr);
    EXPECT_EQ(count, 0u);
    std::vector<IterationLogRecord> log = IterationLogSnapshot();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2].iteration, 75);
    EXPECT_EQ(log[2].zero, 0);
    EXPECT_DOUBLE_EQ(log[2].seconds, 75.0);
    EXPECT_DOUBLE_EQ(log[2].value0, 1.0);
    EXPECT_DOUBLE_EQ(log[2].bestResponse1, -1.0 + 100.0 / 75);
    EXPECT_DOUBLE_EQ(log[2].exploitability, 100.0 / 75);
    IterationLogClear();
}

TEST_F(SolverThread, NegativeTargetRunsToTheCap) {
    FakeWork work;
    work.target = -1.0;
    work.cap = 9000;
    EXPECT_EQ(Solve(work, 0, false), "SOLVER: started\nSOLVER: stopped (requested)\n");
    EXPECT_EQ(work.t.load(), 9000);
    // A tree already at the cap ends at once, without an iteration.
    EXPECT_EQ(Solve(work, 0, false), "SOLVER: started\nSOLVER: stopped (requested)\n");
    EXPECT_EQ(work.t.load(), 9000);
    IterationLogClear();
}

TEST_F(SolverThread, StopRequestEndsAfterTheCurrentIteration) {
    FakeWork work;
    work.sleep = std::chrono::microseconds(200);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(StartSolverThread(&work, 0, false));
    EXPECT_EQ(libsubgame_solver_running(), 1u);
    EXPECT_FALSE(StartSolverThread(&work, 0, false)) << "one solver thread at a time";
    while (work.t.load() < 3) std::this_thread::yield();
    libsubgame_request_stop();
    libsubgame_wait_solver();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "SOLVER: started\nSOLVER: stopped (requested)\n");
    EXPECT_EQ(libsubgame_solver_running(), 0u);
    // Requests and waits without a thread do nothing and return at once.
    libsubgame_request_stop();
    libsubgame_wait_solver();
    int32_t before = work.t.load();
    Solve(work, 1, true);
    EXPECT_EQ(work.t.load(), before + 1) << "a stale request must not stop the next solve";
}

TEST_F(SolverThread, HundredRestartsPrintStartedAndStoppedInOrder) {
    FakeWork work;
    work.sleep = std::chrono::microseconds(50);
    testing::internal::CaptureStdout();
    for (int round = 0; round < 100; ++round) {
        ASSERT_TRUE(StartSolverThread(&work, 0, false));
        libsubgame_request_stop();
        libsubgame_wait_solver();
    }
    std::string out = testing::internal::GetCapturedStdout();
    std::string want;
    for (int round = 0; round < 100; ++round)
        want += "SOLVER: started\nSOLVER: stopped (requested)\n";
    EXPECT_EQ(out, want);
}

TEST_F(SolverThread, StartRightAfterAStopKeepsTheLinesInOrder) {
    // Start, stop and start again without waiting: the second start either runs or is refused
    // while the first still exists, and "stopped" of the first always precedes its "started".
    FakeWork work;
    work.sleep = std::chrono::microseconds(20);
    testing::internal::CaptureStdout();
    int started = 0;
    for (int round = 0; round < 100; ++round) {
        if (StartSolverThread(&work, 0, false)) ++started;
        libsubgame_request_stop();
        if (StartSolverThread(&work, 0, false)) {
            ++started;
            libsubgame_request_stop();
        }
        libsubgame_wait_solver();
    }
    std::string out = testing::internal::GetCapturedStdout();
    std::string want;
    for (int i = 0; i < started; ++i) want += "SOLVER: started\nSOLVER: stopped (requested)\n";
    EXPECT_EQ(out, want);
}

}  // namespace
