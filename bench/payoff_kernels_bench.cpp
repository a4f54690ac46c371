// Payoff kernels on a 1081-hand river list (divide by 1081 for ns per hand) and, for the *Range
// forms, on a range of it of the size and run lengths the river path mostly sees: time per call.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "cards/hand_evaluator.h"
#include "cards/hand_set.h"
#include "solver/blocker_flags.h"
#include "solver/payoff_kernels.h"
#include "solver/river_scratch.h"

namespace {

struct List {
    std::vector<uint8_t> pairs;
    std::vector<int16_t> runs;
    std::vector<std::vector<float>> reach;
    std::unique_ptr<HandSet> set;  // owns the record
    const RiverRecord* record = nullptr;
    std::vector<uint16_t> flags;
    int n() const { return static_cast<int>(pairs.size() / 2); }
    // The showdown kernels read the flags from the thread's scratch.
    const List& WithFlags() const {
        std::copy(flags.begin(), flags.end(), ThreadRiverScratch()->groupFlags);
        return *this;
    }
};

// The river list of a real board with full ranges (1081 hands in showdown order, its real
// equal-strength runs), eight reach rows with a quarter of the hands at zero, flags from the
// union of the rows.
const List& RiverList() {
    static List list = [] {
        InitHandEvalTables();
        List l;
        CardMask flop = 0;
        ParseCards(&flop, "Ks7h2d");
        std::vector<double> full(kComboCount, 1.0);
        l.set = std::make_unique<HandSet>(&flop, MakeCard(7, 0), MakeCard(1, 3), 0);  // 9c, 3s
        SetHoles(l.set.get(), full.data(), full.data());
        const RiverRecord& rec = l.set->records[0].rivers[0];
        l.record = &rec;
        const auto* bytes = reinterpret_cast<const uint8_t*>(rec.pairs.data());
        l.pairs.assign(bytes, bytes + 2 * rec.pairs.size());
        l.runs = rec.runLengths;
        std::mt19937 rng(1);
        std::uniform_real_distribution<float> u(0.0f, 1.0f);
        l.reach.assign(8, std::vector<float>(rec.hands.size()));
        std::vector<float> any(rec.hands.size(), 0.0f);
        for (auto& row : l.reach)
            for (size_t i = 0; i < row.size(); ++i) {
                row[i] = u(rng) < 0.25f ? 0.0f : u(rng);
                if (row[i] != 0.0f) any[i] = 1.0f;
            }
        l.flags.resize(l.runs.size());
        BuildBlockerFlags(l.flags.data(), any.data(), rec);
        return l;
    }();
    return list.WithFlags();
}

// What the river path mostly calls: a quarter of that list (a range; about 270 hands in runs of
// a few), half of its hands with reach at the root (the flags) and a tenth of those zero per row.
const List& RangeList() {
    static List list = [] {
        const List& full = RiverList();
        std::mt19937 rng(2);
        std::uniform_real_distribution<float> u(0.0f, 1.0f);
        List l;
        std::vector<bool> live;
        int start = 0;
        for (int16_t length : full.runs) {
            int16_t kept = 0;
            for (int j = start; j < start + length; ++j) {
                if (u(rng) >= 0.25f) continue;
                l.pairs.push_back(full.pairs[2 * j]);
                l.pairs.push_back(full.pairs[2 * j + 1]);
                live.push_back(u(rng) < 0.5f);
                ++kept;
            }
            if (kept > 0) l.runs.push_back(kept);
            start += length;
        }
        l.reach.assign(8, std::vector<float>(l.n(), 0.0f));
        for (auto& row : l.reach)
            for (int i = 0; i < l.n(); ++i)
                if (live[i] && u(rng) >= 0.1f) row[i] = u(rng);
        start = 0;
        for (int16_t length : l.runs) {
            uint16_t word = 0;
            for (int k = 0; k < length; ++k)
                if (live[start + k]) word |= length <= 16 ? uint16_t(1u << k) : uint16_t{1};
            l.flags.push_back(word);
            start += length;
        }
        return l;
    }();
    return list.WithFlags();
}

// K output rows of n floats beside the list's first K reach rows, as the batched kernels take them.
struct BatchRows {
    std::vector<std::vector<float>> rows;
    float* out[8] = {};
    const float* in[8] = {};
    BatchRows(const List& l, int k, int n) : rows(k, std::vector<float>(n)) {
        for (int r = 0; r < k; ++r) {
            out[r] = rows[r].data();
            in[r] = l.reach[r].data();
        }
    }
};

// Showdowns of K rows (K = 1: the single-row kernel) on the range list.
template <int K>
void BM_ShowdownRange(benchmark::State& state) {
    const List& l = RangeList();
    const int n = l.n();
    BatchRows b(l, K, n);
    float* const* out = b.out;
    const float* const* in = b.in;
    float s[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const int16_t* g = l.runs.data();
    const uint8_t* p = l.pairs.data();
    for (auto _ : state) {
        if constexpr (K == 1) ShowdownValues(out[0], in[0], n, g, p, s[0]);
        if constexpr (K == 3) ShowdownValuesX3(out, in, n, g, p, s);
        if constexpr (K == 4) ShowdownValuesX4(out, in, n, g, p, s);
        benchmark::DoNotOptimize(out[0]);
    }
}
BENCHMARK(BM_ShowdownRange<1>)->Name("BM_ShowdownValuesRange");
BENCHMARK(BM_ShowdownRange<3>)->Name("BM_ShowdownValuesX3Range");
BENCHMARK(BM_ShowdownRange<4>)->Name("BM_ShowdownValuesX4Range");

void BM_ShowdownValues(benchmark::State& state) {
    const List& l = RiverList();
    std::vector<float> out(1081);
    for (auto _ : state) {
        ShowdownValues(out.data(), l.reach[0].data(), 1081, l.runs.data(), l.pairs.data(), 1.5f);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_ShowdownValues);

void BM_BuildBlockerFlags(benchmark::State& state) {
    const List& l = RiverList();
    std::vector<uint16_t> flags(l.runs.size());
    for (auto _ : state) {
        BuildBlockerFlags(flags.data(), l.reach[0].data(), *l.record);
        benchmark::DoNotOptimize(flags.data());
    }
}
BENCHMARK(BM_BuildBlockerFlags);

void BM_FoldValues(benchmark::State& state) {
    const List& l = RiverList();
    std::vector<float> out(1081);
    for (auto _ : state) {
        FoldValues(out.data(), l.reach[0].data(), 1081, l.pairs.data(), 1.5f);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_FoldValues);

template <int K>
void BM_ShowdownBatch(benchmark::State& state) {
    const List& l = RiverList();
    BatchRows b(l, K, 1081);
    float* const* out = b.out;
    const float* const* in = b.in;
    float s[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (auto _ : state) {
        if constexpr (K == 3) ShowdownValuesX3(out, in, 1081, l.runs.data(), l.pairs.data(), s);
        if constexpr (K == 4) ShowdownValuesX4(out, in, 1081, l.runs.data(), l.pairs.data(), s);
        if constexpr (K == 8) ShowdownValuesX8(out, in, 1081, l.runs.data(), l.pairs.data(), s);
        benchmark::DoNotOptimize(out[0]);
    }
}
BENCHMARK(BM_ShowdownBatch<3>)->Name("BM_ShowdownValuesX3");
BENCHMARK(BM_ShowdownBatch<4>)->Name("BM_ShowdownValuesX4");
BENCHMARK(BM_ShowdownBatch<8>)->Name("BM_ShowdownValuesX8");

template <int K>
void BM_FoldBatch(benchmark::State& state) {
    const List& l = RiverList();
    BatchRows b(l, K, 1081);
    float* const* out = b.out;
    const float* const* in = b.in;
    float s[4] = {1, 2, 3, 4};
    for (auto _ : state) {
        if constexpr (K == 2) FoldValuesX2(out, in, 1081, l.pairs.data(), s);
        if constexpr (K == 4) FoldValuesX4(out, in, 1081, l.pairs.data(), s);
        benchmark::DoNotOptimize(out[0]);
    }
}
BENCHMARK(BM_FoldBatch<2>)->Name("BM_FoldValuesX2");
BENCHMARK(BM_FoldBatch<4>)->Name("BM_FoldValuesX4");

void BM_TwoTerminalValues(benchmark::State& state) {
    const List& l = RiverList();
    std::vector<float> a(1081), b(1081);
    for (auto _ : state) {
        TwoTerminalValues(a.data(), b.data(), l.reach[0].data(), 1081, l.runs.data(),
                          l.pairs.data(), 1.5f, -0.5f);
        benchmark::DoNotOptimize(a.data());
    }
}
BENCHMARK(BM_TwoTerminalValues);

void BM_TwoTerminalValuesWeighted(benchmark::State& state) {
    const List& l = RiverList();
    std::vector<float> a(1081), b(1081);
    for (auto _ : state) {
        TwoTerminalValuesWeighted(a.data(), b.data(), l.reach[0].data(), l.reach[1].data(), 1081,
                                  l.runs.data(), l.pairs.data(), 1.5f, -0.5f);
        benchmark::DoNotOptimize(a.data());
    }
}
BENCHMARK(BM_TwoTerminalValuesWeighted);

}  // namespace
