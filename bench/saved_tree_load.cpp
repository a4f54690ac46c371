// Spot figures of load_tree: a standard flop spot solved a few iterations, written by the test
// writer at levels 0, 2 and 4, complete and with the rivers forgotten; for each file the load's
// MB/s, the share of the river streams' trial decode, and the peak resident memory during the
// load beside the resident memory the loaded tree keeps; then the cost of refusing cut files:
// wall and CPU time per refusal and the cores busy meanwhile (CPU / wall).
//   saved_tree_load [iterations] [cuts]   (cuts: only the refusals)
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "../tests/interpreter/saved_tree_writer.h"
#include "cards/hand_evaluator.h"
#include "interpreter/combo_order.h"

namespace {

// A number field of /proc/self/status (kB for the memory fields).
double StatusField(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0) return std::atof(line.c_str() + std::strlen(field));
    return 0.0;
}

// VmRSS or VmHWM of this process in MiB.
double StatusMiB(const char* field) {
    return StatusField(field) / 1024.0;
}

void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

void SetUpFlop(int level, int iterations) {
    using saved_tree::Cmd;
    // OOP: pairs, broadways, suited aces; IP: pairs, suited connectors, any two broadways.
    for (int p = 0; p < 2; ++p) {
        PlayerRanges[p].assign(kComboCount, 0.0);
        for (int c = 0; c < kComboCount; ++c) {
            const CardPair pair = ComboCards(c);
            const int a = CardRank(CardPairHi(pair)), b = CardRank(CardPairLo(pair));
            const bool suited = CardSuit(CardPairHi(pair)) == CardSuit(CardPairLo(pair));
            const int hi = std::max(a, b), lo = std::min(a, b);
            const bool take =
                hi == lo || lo >= 8 || (p == 0 ? suited && hi == 12 : suited && hi - lo == 1);
            PlayerRanges[p][c] = take ? 1.0 : 0.0;
        }
    }
    Cmd("set_board Qs 8h 3d");
    Cmd("set_pot 0 0 100");
    Cmd("clear_lines");
    for (const char* line :
         {"add_line 0 0 0 0 0 0", "add_line 0 0 0 0 50 50", "add_line 0 0 0 0 50 150 150",
          "add_line 0 0 50 50 0 0", "add_line 0 0 50 50 50 50", "add_line 0 0 50 150 150 0 0",
          "add_line 50 50 0 0 0 0", "add_line 50 50 0 0 100 100", "add_line 50 50 100 100 0 0",
          "add_line 50 150 150 0 0 0 0", "add_line 0 50 50 0 0 0 0", "add_line 0 50 50 100 100"})
        Cmd(line);
    Cmd("set_threads 8");
    Cmd("set_compression " + std::to_string(level));
    Cmd("build_tree");
    Cmd("go " + std::to_string(iterations) + " steps");
    Cmd("wait_for_solver");
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// Loads 200 cuts spread over the file from the end of the situation (cuts inside the ranges are
// refused before any tree exists) and prints the cost of one refusal.
void CutFileCost(const char* name, const std::vector<uint8_t>& file, size_t firstCut) {
    const std::string cutPath = "/tmp/nlhe_saved_tree_bench_cut.qx7";
    double wall = 0.0, cpu = 0.0;
    int refused = 0;
    const size_t span = file.size() - firstCut;
    for (size_t k = 0; k < 200; ++k) {
        const size_t cut = firstCut + span * k / 200;
        saved_tree::WriteFile(cutPath, std::vector<uint8_t>(file.begin(), file.begin() + cut));
        const double c0 = CpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        const std::string reply = saved_tree::Cmd("load_tree " + cutPath);
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu += CpuSeconds() - c0;
        refused += reply.rfind("ERROR: load_tree ", 0) == 0;
    }
    std::remove(cutPath.c_str());
    std::printf("%-22s %8d %12.3f %12.3f %10.2f %8.0f\n", name, refused, 1e3 * wall / refused,
                1e3 * cpu / refused, cpu / wall, StatusField("Threads:"));
}

}  // namespace

int main(int argc, char** argv) {
    const int iterations = argc > 1 ? std::atoi(argv[1]) : 10;
    const bool cutsOnly = argc > 2 && std::string(argv[2]) == "cuts";
    InitHandEvalTables();
    build_combo_tables();
    const std::string path = "/tmp/nlhe_saved_tree_bench.qx7";
    std::printf("%-8s %-10s %10s %9s %10s %12s %12s\n", "level", "file", "MB", "MB/s", "decode %",
                "peak MiB", "tree MiB");
    for (int level : {0, 2, 4}) {
        if (cutsOnly) break;
        for (bool forgotten : {false, true}) {
            SetUpFlop(level, iterations);
            if (forgotten) {
                saved_tree::SetThousandths(3);
                saved_tree::Cmd("forget rivers");
            }
            saved_tree::WriteFile(path, saved_tree::WriteSavedTree({7, false, false, 2}));
            saved_tree::Cmd("free_tree");
            malloc_trim(0);  // so the resident figures count the loaded tree, not freed pages
            const double before = StatusMiB("VmRSS:");
            ResetPeak();
            double best = 1e30, decode = 0.0;
            for (int rep = 0; rep < 3; ++rep) {
                const auto start = std::chrono::steady_clock::now();
                const std::string reply = saved_tree::Cmd("load_tree " + path);
                const double s =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                if (reply != "load_tree ok!\n") {
                    std::printf("load failed: %s", reply.c_str());
                    return 1;
                }
                if (s < best) {
                    best = s;
                    decode = LastTrialDecodeSeconds();
                }
            }
            const double peak = StatusMiB("VmHWM:") - before;
            const double kept = StatusMiB("VmRSS:") - before;
            std::ifstream file(path, std::ios::binary | std::ios::ate);
            const double mb = static_cast<double>(file.tellg()) / 1e6;
            std::printf("%-8d %-10s %10.1f %9.1f %10.1f %12.0f %12.0f\n", level,
                        forgotten ? "F=3" : "complete", mb, mb / best, 100.0 * decode / best, peak,
                        kept);
            saved_tree::Cmd("free_tree");
        }
    }
    std::printf("\n%-22s %8s %12s %12s %10s %8s\n", "cut file", "refused", "wall ms", "CPU ms",
                "cores", "threads");
    for (int level : {0, 2}) {
        SetUpFlop(level, iterations);
        saved_tree::FileMarks marks;
        const std::vector<uint8_t> file = saved_tree::WriteSavedTree({7, false, false, 2}, &marks);
        saved_tree::Cmd("free_tree");
        CutFileCost(level == 0 ? "flop level 0" : "flop level 2", file, marks.lines);
    }
    std::remove(path.c_str());
    return 0;
}
