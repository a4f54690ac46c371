#include "interpreter/result_summary.h"

#include <sys/resource.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "interpreter/console_state.h"
#include "solver/solver_thread.h"
#include "utilities/output.h"
#include "utilities/services.h"

namespace {

// Written by go while no solver thread exists and by report_progress on the solver thread.
std::atomic<uint32_t> ProgressLogCount{0};
std::atomic<double> ProgressPot{100.0};

std::string format(const char* f, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* f, ...) {
    char text[1024];
    va_list args;
    va_start(args, f);
    std::vsnprintf(text, sizeof text, f, args);
    va_end(args);
    return text;
}

int32_t rate_mb(uint64_t bytes, double seconds) {
    if (!(seconds > 0.0)) return 0;
    return static_cast<int32_t>(static_cast<double>(bytes) / seconds / (1024.0 * 1024.0));
}

}  // namespace

std::string progress_summary_text(const IterationLogRecord& r, double pot) {
    const double h = pot * 0.5;
    return format(
        "SOLVER:\nrunning time: %.3f\nEV OOP: %.3f\nEV IP: %.3f\nOOP's MES: %.3f\nIP's MES: "
        "%.3f\nExploitable for: %.3f\nEND\n",
        r.seconds, h + r.value0, h + r.value1, h + r.bestResponse0, h + r.bestResponse1,
        r.exploitability);
}

std::string cpu_line_text(double cpuSeconds, int32_t peakMb) {
    return format("[cpu time %.1fs | peak working set %d MB]\n", cpuSeconds, peakMb);
}

void print_command_summary(const IterationLogRecord& r, double pot, uint64_t bytesRead,
                           uint64_t bytesWritten) {
    const double h = pot * 0.5;
    out_printf(
        "EV OOP: %.3f\nEV IP: %.3f\nOOP's MES: %.3f\nIP's MES: %.3f\nExploitable for: %.3f\nEND\n",
        h + r.value0, h + r.value1, h + r.bestResponse0, h + r.bestResponse1, r.exploitability);
    out_printf("#%d iterations\n", r.iteration);
    out_printf("#storage %d MB/s read, %d MB/s write\n", rate_mb(bytesRead, r.seconds),
               rate_mb(bytesWritten, r.seconds));
}

int32_t peak_working_set_mb() {
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
    return static_cast<int32_t>(usage.ru_maxrss / 1024);
}

void reset_progress_log_count() {
    ProgressLogCount.store(0);
}

void set_progress_pot(double pot) {
    ProgressPot.store(pot);
}

// Runs on the solver thread after each exploitability check.
void report_progress() {
    uint32_t count = 0;
    IterationLogRecord* copy = libsubgame_copy_iteration_log(&count);
    if (copy && count > ProgressLogCount.load()) {
        ProgressLogCount.store(count);
        const IterationLogRecord& record = copy[count - 1];
        // One write, so no command reply lands inside the block. Its information lines
        // ("#%d iterations") the locked printer always drops.
        std::string text = progress_summary_text(record, ProgressPot.load());
        if (Verbosity >= 1) text += cpu_line_text(libsubgame_cpu_seconds(), peak_working_set_mb());
        locked_printf("%s", text.c_str());
        std::fflush(stdout);
        std::this_thread::yield();
    }
    std::free(copy);
}
