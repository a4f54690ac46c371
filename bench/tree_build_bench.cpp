// Tree building on the three flop spots (pot 200, stack 900, full ranges, lines from the sizing
// rule: check or bet half the pot, one raise of half the pot after the call): time per
// libsubgame_build_tree, and per compression level 0 to 2 (a third of the hands) the storage estimate (sum of the
// street estimates) beside the growth of resident memory after the residency walk.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cards/hand_evaluator.h"
#include "interpreter/line_set.h"
#include "interpreter/tree_commands.h"
#include "solver/compression_levels.h"
#include "solver/solved_tree.h"
#include "solver/solver_defaults.h"
#include "utilities/output.h"

namespace {

constexpr double kPot = 200.0;
constexpr double kStack = 900.0;

// One street's action sequences from equal contributions c: each with the contribution after
// the street closes.
std::vector<std::pair<std::vector<double>, double>> StreetLines(double c) {
    std::vector<std::pair<std::vector<double>, double>> out;
    out.push_back({{c, c}, c});
    if (c >= kStack) return out;
    const double bet = std::min(c + (kPot + 2 * c) / 2, kStack);
    const double raise = std::min(bet + (kPot + 2 * bet) / 2, kStack);
    out.push_back({{c, bet, bet}, bet});
    out.push_back({{bet, bet}, bet});
    if (bet < kStack) {
        out.push_back({{c, bet, raise, raise}, raise});
        out.push_back({{bet, raise, raise}, raise});
    }
    return out;
}

void AllLines(LineSet& set, std::vector<double> prefix, double c, int street) {
    for (auto& [actions, after] : StreetLines(c)) {
        std::vector<double> line = prefix;
        line.insert(line.end(), actions.begin(), actions.end());
        if (street == 3) {
            std::vector<std::string> words{"add_line"};
            for (double a : line) words.push_back(std::to_string(a));
            enter_line(set, words, false);
        } else {
            AllLines(set, line, after, street + 1);
        }
    }
}

struct Spot {
    std::vector<TreeLine> lines;
    int flop[3];
};

Spot MakeSpot(const char* board) {
    InitHandEvalTables();
    Spot spot;
    LineSet set;
    AllLines(set, {}, 0.0, 1);
    std::vector<LineNode*> order;
    flatten_lines(spot.lines, order, set.root.get(), -1, 0.0, 1, kPot);
    CardMask m = 0;
    ParseCards(&m, board);
    for (int& c : spot.flop) {
        c = LowestCard(m);
        m &= m - 1;
    }
    return spot;
}

long ResidentKiB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * 4;
}

void BM_BuildTree(benchmark::State& state, const char* board) {
    const Spot spot = MakeSpot(board);
    std::vector<double> full(kComboCount, 1.0);
    for (auto _ : state) {
        libsubgame_build_tree(1, spot.lines.data(), static_cast<int32_t>(spot.lines.size()),
                              spot.flop[0], spot.flop[1], spot.flop[2], -1, -1, full.data(),
                              full.data(), 1);
        clear_output_buffer();
    }
    state.counters["nodes"] = static_cast<double>(spot.lines.size());
    libsubgame_free_scenario();
}
BENCHMARK_CAPTURE(BM_BuildTree, twotone, "Td9d6h")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BuildTree, monotone, "Ks8s3s")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BuildTree, rainbow, "Kd7c2h")->Unit(benchmark::kMillisecond);

// A third of the hands, chosen by ranks only so the suit isomorphism holds.
std::vector<double> ThirdRange() {
    std::vector<double> range(kComboCount);
    for (int k = 0; k < kComboCount; ++k) {
        const CardPair p = ComboCards(k);
        range[k] = (CardRank(CardPairLo(p)) + CardRank(CardPairHi(p))) % 3 == 0 ? 1.0 : 0.0;
    }
    return range;
}

// One iteration: build, storage at the level, residency walk; estimate against measured growth.
void BM_StorageLevel(benchmark::State& state, const char* board) {
    const Spot spot = MakeSpot(board);
    std::vector<double> full = ThirdRange();
    const int level = static_cast<int>(state.range(0));
    double estimateMiB = 0, growthMiB = 0;
    for (auto _ : state) {
        libsubgame_build_tree(1, spot.lines.data(), static_cast<int32_t>(spot.lines.size()),
                              spot.flop[0], spot.flop[1], spot.flop[2], -1, -1, full.data(),
                              full.data(), 1);
        clear_output_buffer();
        const long before = ResidentKiB();
        libsubgame_reset_progress(CompressionLevelEntry(level).streamKinds);
        CheckTreeStorageReady(g_solvedTree);
        growthMiB = (ResidentKiB() - before) / 1024.0;
        const TreeParams& p = g_solvedTree->params;
        estimateMiB = (p.streetEstimate[1] + p.streetEstimate[2] + p.streetEstimate[3]) / 1048576.0;
        libsubgame_free_scenario();
    }
    state.counters["estimate_MiB"] = estimateMiB;
    state.counters["resident_growth_MiB"] = growthMiB;
}
BENCHMARK_CAPTURE(BM_StorageLevel, twotone, "Td9d6h")
    ->DenseRange(0, 2)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
