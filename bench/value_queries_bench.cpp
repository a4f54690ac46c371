// Value and frequency queries on a flop tree (pot 100, stack 300, check or bet half the pot and
// one raise per street, ranges of about 200 combinations, river storage level 2, a few
// iterations solved): calc_ev on a flop, a turn and a deep river node with the results stamp
// fresh or stale, idle and while the solver thread runs; the river line frequency of a river
// node over all 2,352 runouts on 1, 2, 4 and 8 threads; the flop equity and the table order's
// equity-and-sort; the reach product and ComputeTargetValues per hand list; resident memory
// after 1,000 river queries over many turn cards.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>
#include <vector>

#include "cards/hand_evaluator.h"
#include "solver/combo_equity.h"
#include "solver/iterations.h"
#include "solver/line_frequency.h"
#include "solver/node_values.h"
#include "solver/solved_tree.h"
#include "solver/solver_defaults.h"
#include "solver/solver_settings.h"
#include "solver/solver_thread.h"
#include "utilities/kernel_switches.h"

namespace {

constexpr double kPot = 100, kStack = 300;

struct Lines {
    std::vector<TreeLine> lines;
    int Push(int kind, int parent, int player, int street, double amount) {
        lines.push_back(TreeLine{kind, parent, player, street, amount});
        return static_cast<int>(lines.size()) - 1;
    }
    void Close(int parent, int street, double level) {
        if (street == 3 || level >= kStack)
            Push(1, parent, -1, -1, level + kPot / 2);
        else
            Decision(parent, street + 1, 0, level, level, false, 1);
    }
    void Decision(int parent, int street, int player, double lv0, double lv1, bool checkCloses,
                  int raises) {
        const int me = Push(0, parent, player, street, 0.0);
        const double mine = player == 0 ? lv0 : lv1, other = player == 0 ? lv1 : lv0;
        const double potNow = kPot + lv0 + lv1;
        auto to = [&](double level, double* n0, double* n1) {
            *n0 = player == 0 ? level : lv0;
            *n1 = player == 1 ? level : lv1;
        };
        double n0, n1;
        if (other > mine) {
            const double raise = std::min(other + (potNow + other - mine) / 2, kStack);
            if (raises > 0 && raise > other) {
                to(raise, &n0, &n1);
                Decision(me, street, 1 - player, n0, n1, false, raises - 1);
            }
            Close(me, street, other);
            Push(2, me, -1, -1, mine + kPot / 2);
        } else {
            const double bet = std::min(mine + potNow / 2, kStack);
            if (bet > mine) {
                to(bet, &n0, &n1);
                Decision(me, street, 1 - player, n0, n1, false, raises);
            }
            if (checkCloses)
                Close(me, street, mine);
            else
                Decision(me, street, 1 - player, lv0, lv1, true, raises);
        }
    }
};

int Card(const char* text) {
    CardMask m = 0;
    ParseCards(&m, text);
    return LowestCard(m);
}

std::vector<double> Range(CardMask board, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<double> r(kComboCount, 0.0);
    for (int placed = 0; placed < 200;) {
        const int c = static_cast<int>(rng() % kComboCount);
        if ((ComboMask(c) & board) || r[c] > 0) continue;
        r[c] = 0.2 + (rng() % 80) / 100.0;
        ++placed;
    }
    return r;
}

struct Tree {
    int flopNode = 0, turnNode = -1, riverNode = -1;
    int turn = Card("Qd"), river = Card("2s");
};

// Built once: the flop Kh 8h 3c, level 2, three iterations.
const Tree& Spot() {
    static Tree spot = [] {
        InitHandEvalTables();
        simd_level.store(1);
        libsubgame_set_thread_count(4);
        const CardMask flop = CardBit(Card("Kh")) | CardBit(Card("8h")) | CardBit(Card("3c"));
        Lines b;
        b.Decision(-1, 1, 0, 0, 0, false, 1);
        const std::vector<double> r0 = Range(flop, 1), r1 = Range(flop, 2);
        libsubgame_build_tree(1, b.lines.data(), static_cast<int32_t>(b.lines.size()), Card("3c"),
                              Card("8h"), Card("Kh"), -1, -1, r0.data(), r1.data(), 0);
        const int32_t kinds[2] = {1, 1};
        libsubgame_reset_progress(kinds);
        CheckTreeStorageReady(g_solvedTree);
        for (int i = 0; i < 3; ++i) RunIteration(g_solvedTree);
        Tree t;
        int depth = -1;
        for (size_t n = 0; n < g_solvedTree->nodes.size(); ++n) {
            const TreeNode& node = g_solvedTree->nodes[n];
            if (node.kind != 0) continue;
            if (node.street == 2 && t.turnNode < 0) t.turnNode = static_cast<int>(n);
            int d = 0;
            for (const TreeNode* up = &node; up->parentNode && up->parentNode->street == 3;
                 up = up->parentNode)
                ++d;
            if (node.street == 3 && d > depth) {
                depth = d;
                t.riverNode = static_cast<int>(n);
            }
        }
        return t;
    }();
    return spot;
}

void Query(const Tree& t, int which) {
    std::vector<double> ev(kComboCount), w(kComboCount);
    const int node = which == 0 ? t.flopNode : which == 1 ? t.turnNode : t.riverNode;
    libsubgame_calc_combo_ev(0, node, which >= 1 ? t.turn : -1, which == 2 ? t.river : -1,
                             ev.data(), w.data(), 0);
    benchmark::DoNotOptimize(ev.data());
}

// Args: node (0 flop, 1 turn, 2 deep river), stale stamp (refresh before every query).
void BM_CalcEv(benchmark::State& state) {
    const Tree& t = Spot();
    const int which = static_cast<int>(state.range(0));
    const bool stale = state.range(1) != 0;
    Query(t, which);
    for (auto _ : state) {
        if (stale) g_solvedTree->resultsIteration = -1;
        Query(t, which);
    }
}
BENCHMARK(BM_CalcEv)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->ArgNames({"node", "stale"})
    ->Unit(benchmark::kMillisecond);

// While the solver thread iterates: every query waits for a traversal to end and usually finds
// the stamp stale.
void BM_CalcEvDuringSolve(benchmark::State& state) {
    const Tree& t = Spot();
    const int which = static_cast<int>(state.range(0));
    libsubgame_start_solver(1000000, 1);
    for (auto _ : state) Query(t, which);
    libsubgame_request_stop();
    libsubgame_wait_solver();
    libsubgame_finish_solver();
}
BENCHMARK(BM_CalcEvDuringSolve)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->ArgName("node")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

std::vector<std::vector<int16_t>> AllRunouts() {
    const CardMask board = g_solvedTree->board;
    std::vector<std::vector<int16_t>> groups;
    for (int t = 0; t < kCardCount; ++t) {
        if (board & CardBit(t)) continue;
        groups.emplace_back();
        for (int r = 0; r < kCardCount; ++r)
            if (!(board & CardBit(r)) && r != t)
                groups.back().push_back(static_cast<int16_t>(t << 8 | r));
    }
    return groups;
}

void BM_RiverLineFreq(benchmark::State& state) {
    const Tree& t = Spot();
    const std::vector<std::vector<int16_t>> groups = AllRunouts();
    libsubgame_set_thread_count(static_cast<int32_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(libsubgame_calc_river_line_freq(t.riverNode, groups));
    libsubgame_set_thread_count(4);
    state.counters["runouts"] = 2352;
}
BENCHMARK(BM_RiverLineFreq)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->ArgName("threads")
    ->Unit(benchmark::kMillisecond);

void BM_FlopEquity(benchmark::State& state) {
    Spot();
    const std::vector<double>& a = g_solvedTree->ranges[0];
    const std::vector<double>& b = g_solvedTree->ranges[1];
    std::vector<double> eq(kComboCount), w(kComboCount);
    for (auto _ : state)
        libsubgame_calc_combo_equity(0, -1, -1, a.data(), b.data(), eq.data(), w.data());
}
BENCHMARK(BM_FlopEquity)->Unit(benchmark::kMillisecond);

// What the table order costs: the equity against a uniform range, then a stable sort.
void BM_TableOrder(benchmark::State& state) {
    Spot();
    const std::vector<double> uniform(kComboCount, 1.0);
    std::vector<double> eq(kComboCount), w(kComboCount);
    for (auto _ : state) {
        libsubgame_calc_combo_equity(1, -1, -1, uniform.data(), uniform.data(), eq.data(),
                                     w.data());
        std::vector<int> order(kComboCount);
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int x, int y) { return eq[x] > eq[y]; });
        benchmark::DoNotOptimize(order.data());
    }
}
BENCHMARK(BM_TableOrder)->Unit(benchmark::kMillisecond);

// One river list's worth of hands (n) with random reach rows.
struct Rows {
    std::vector<CardMask> hands;
    std::vector<CardPair> pairs;
    PooledArray a, b, value;
    explicit Rows(int n) {
        std::mt19937 rng(7);
        for (int c = 0; c < kComboCount && static_cast<int>(hands.size()) < n; ++c) {
            hands.push_back(ComboMask(c));
            pairs.push_back(MakeCardPair(ComboMask(c)));
        }
        for (PooledArray* row : {&a, &b, &value}) {
            ConstructPooledArray(row, n, false, false);
            for (int i = 0; i < n; ++i) row->data[i] = static_cast<float>(rng() % 1000) / 1000;
        }
    }
    ~Rows() {
        for (PooledArray* row : {&a, &b, &value}) ReleasePooledArray(row);
    }
};

void BM_ReachProduct(benchmark::State& state) {
    Rows rows(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(RunoutReachProduct(rows.a, rows.b, rows.pairs.data(),
                                                    static_cast<int32_t>(rows.pairs.size()), 1.0));
}
BENCHMARK(BM_ReachProduct)->Arg(1081)->Arg(1326);

void BM_ComputeTargetValues(benchmark::State& state) {
    Rows rows(static_cast<int>(state.range(0)));
    PooledArray ev, weight;
    for (auto _ : state)
        ComputeTargetValues(&ev, &weight, &rows.value, &rows.a, &rows.b, rows.hands, 1.0);
    ReleasePooledArray(&ev);
    ReleasePooledArray(&weight);
}
BENCHMARK(BM_ComputeTargetValues)->Arg(1081)->Arg(1326)->Unit(benchmark::kMicrosecond);

long ResidentKb() {
    long pages = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * 4;
}

// 1,000 river EV and frequency queries over many turn and river cards: resident memory after
// them against before (every opened turn must be packed again).
void BM_ThousandRiverQueries(benchmark::State& state) {
    const Tree& t = Spot();
    const CardMask board = g_solvedTree->board;
    std::vector<int> cards;
    for (int c = 0; c < kCardCount; ++c)
        if (!(board & CardBit(c))) cards.push_back(c);
    std::vector<double> ev(kComboCount), w(kComboCount);
    long before = 0, after = 0;
    for (auto _ : state) {
        Query(t, 2);
        before = ResidentKb();
        for (int q = 0; q < 1000; ++q) {
            const int turn = cards[q % cards.size()];
            const int river = cards[(q / 7 + 1 + q % cards.size()) % cards.size()];
            if (river == turn) continue;
            if (q % 2)
                libsubgame_calc_combo_ev(1, t.riverNode, turn, river, ev.data(), w.data(), 0);
            else
                libsubgame_calc_line_freq(0, t.riverNode, turn, river, ev.data());
        }
        after = ResidentKb();
    }
    state.counters["rss_before_MB"] = before / 1024.0;
    state.counters["rss_growth_MB"] = (after - before) / 1024.0;
}
BENCHMARK(BM_ThousandRiverQueries)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
