// Profile of the river path on one spot:
//   river_profile SCRIPT LEVELS [ITERATIONS] [TARGET] [WARMUP]
//
// Runs the spot's command script (first_solve_spots.py --write-only) in-process up to its
// build_tree, then per simd level (comma list, e.g. 1,2,4,8): a fresh build, WARMUP untimed
// iterations (default 0) and ITERATIONS timed ones (default 30) reporting iterations per second,
// process CPU milliseconds per iteration, the stream bytes held after them, kernel calls per
// width per iteration and the share of traversal thread time spent in river roots; then a fresh
// build solved to TARGET of the pot (default 0.005, exploitability checked every 10 iterations),
// reporting wall time and iterations (TARGET 0: no solve); and the scratch high-water per thread.
// Last, the process's peak working set (all levels together: run one level for a level's own).
// At simd level 1 river roots take the scalar walk and are not observed.
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cards/hand_evaluator.h"
#include "interpreter/combo_order.h"
#include "interpreter/command_loop.h"
#include "solver/iteration_log.h"
#include "solver/iterations.h"
#include "solver/river_simd.h"
#include "solver/solved_tree.h"
#include "solver/solver_settings.h"
#include "storage/storage_io_counters.h"
#include "storage/thread_array_pool.h"
#include "utilities/kernel_switches.h"
#include "utilities/output.h"

namespace {

std::atomic<int64_t> ShowdownCalls[9], FoldCalls[5], RiverNanos, Roots, MostTerminals, BlockBytes;

void Count(const RiverRootReport& r) {
    if (!r.finished) return;
    for (int32_t w : r.showdownWidths) ShowdownCalls[w].fetch_add(1);
    for (int32_t w : r.foldWidths) FoldCalls[w].fetch_add(1);
    RiverNanos.fetch_add(r.nanoseconds);
    Roots.fetch_add(1);
    int64_t most = MostTerminals.load();
    while (r.terminals > most && !MostTerminals.compare_exchange_weak(most, r.terminals)) {
    }
    if (const ThreadArrayPool* pool = CurrentThreadPool()) BlockBytes = pool->blockSize;
}

// One command with its replies dropped.
void Run(const std::string& line) {
    CommandWords words = split_words(line);
    if (!words.empty()) dispatch_command(words);
    clear_output_buffer();
}

// A fresh tree with its storages ready, as go leaves it.
void Build() {
    Run("build_tree");
    CheckTreeStorageReady(g_solvedTree);
}

// Process CPU seconds: on a shared machine, a steadier measure of one-thread work than wall time.
double CpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void TimeIterations(int level, int threads, int warmup, int iterations) {
    Build();
    for (auto& c : ShowdownCalls) c = 0;
    for (auto& c : FoldCalls) c = 0;
    RiverNanos = Roots = MostTerminals = 0;
    for (int i = 0; i < warmup; ++i) RunIteration(g_solvedTree);
    SetRiverRootObserver(Count);
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = CpuSeconds();
    for (int i = 0; i < iterations; ++i) RunIteration(g_solvedTree);
    const double wall = Seconds(start), cpu = CpuSeconds() - cpuStart;
    SetRiverRootObserver(nullptr);
    std::printf(
        "simd %d threads %d: %.2f iterations/s (%.2f per CPU second, %.1f CPU ms each), "
        "stream bytes held %.1f MB",
        level, threads, iterations / wall, iterations / cpu, 1000 * cpu / iterations,
        g_storage_io.heldBytes.load() / 1048576.0);
    if (level > 1) {
        std::printf(
            ", river roots %.1f%% of thread time, %.0f roots/iteration\n   showdown "
            "calls/iteration",
            100.0 * RiverNanos.load() / 1e9 / (wall * threads), double(Roots.load()) / iterations);
        for (int w : {8, 6, 4, 3, 2, 1})
            std::printf(" x%d %.0f", w, double(ShowdownCalls[w].load()) / iterations);
        std::printf(" | fold calls/iteration");
        for (int w : {4, 3, 2, 1})
            std::printf(" x%d %.0f", w, double(FoldCalls[w].load()) / iterations);
        // Reach copies with data plus the widest batch's values are the most pooled rows a root
        // holds at once.
        std::printf("\n   scratch high-water per thread: %lld rows of %lld bytes = %.1f KB",
                    (long long)(MostTerminals.load() + 8), (long long)BlockBytes.load(),
                    (MostTerminals.load() + 8) * BlockBytes.load() / 1024.0);
    }
    std::printf("\n");
}

// A fresh tree solved by go, as the program solves it (its check schedule and stop rule), to
// `target` of the pot; the time and iteration count of the first check at or below it.
void SolveToTarget(int level, int threads, double target, double pot) {
    Build();
    char accuracy[64];
    std::snprintf(accuracy, sizeof accuracy, "set_accuracy %g fraction", target);
    Run(accuracy);
    const double cpuStart = CpuSeconds();
    Run("go");
    Run("wait_for_solver");
    const double cpu = CpuSeconds() - cpuStart;
    const std::vector<IterationLogRecord> log = IterationLogSnapshot();
    for (const IterationLogRecord& r : log)
        if (r.exploitability <= target * pot) {
            std::printf(
                "simd %d threads %d: to %.2f%% of the pot: %.2f s, %d iterations "
                "(exploitable %.3f, %.1f CPU s)\n",
                level, threads, 100 * target, r.seconds, r.iteration, r.exploitability, cpu);
            return;
        }
    const IterationLogRecord last = log.empty() ? IterationLogRecord{} : log.back();
    std::printf(
        "simd %d threads %d: to %.2f%% of the pot: not reached (%.2f s, %d iterations, "
        "exploitable %.3f)\n",
        level, threads, 100 * target, last.seconds, last.iteration, last.exploitability);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: river_profile SCRIPT LEVELS [ITERATIONS] [TARGET] [WARMUP]\n");
        return 2;
    }
    const int iterations = argc > 3 ? std::atoi(argv[3]) : 30;
    const double target = argc > 4 ? std::atof(argv[4]) : 0.005;
    const int warmup = argc > 5 ? std::atoi(argv[5]) : 0;
    InitHandEvalTables();
    libsubgame_init(0);
    build_combo_tables();
    std::vector<std::string> setup;
    double pot = 0;
    std::ifstream in(argv[1]);
    for (std::string line; std::getline(in, line);) {
        if (line == "build_tree") break;
        if (line.rfind("set_pot", 0) == 0) {
            std::istringstream words(line.substr(8));
            for (double x; words >> x;) pot = x;  // the pot is the last amount
        }
        setup.push_back(line);
    }
    for (const std::string& line : setup) Run(line);
    const int threads = libsubgame_get_thread_count();
    std::stringstream levels(argv[2]);
    for (std::string word; std::getline(levels, word, ',');) {
        const int level = std::atoi(word.c_str());
        simd_level.store(level);
        if (iterations > 0) TimeIterations(level, threads, warmup, iterations);
        if (target > 0) SolveToTarget(level, threads, target, pot);
        std::fflush(stdout);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak working set %ld MB\n", usage.ru_maxrss / 1024);
    return 0;
}
