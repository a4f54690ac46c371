// Payoff kernels on 1081-hand river lists: time per call (divide by 1081 for ns per hand).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "solver/payoff_kernels.h"
#include "solver/river_scratch.h"

namespace {

struct List {
    std::vector<uint8_t> pairs;
    std::vector<int16_t> runs;
    std::vector<std::vector<float>> reach;
};

// 1081 holdings in runs of 1..20 hands (about 100 runs, as on real river boards), eight reach
// rows with a quarter of the hands at zero, every flag set.
const List& RiverList() {
    static List list = [] {
        List l;
        std::mt19937 rng(1);
        for (int a = 5; a < 52; ++a)
            for (int b = a + 1; b < 52; ++b) {
                l.pairs.push_back(static_cast<uint8_t>(a));
                l.pairs.push_back(static_cast<uint8_t>(b));
            }
        int left = 1081;
        while (left > 0) {
            int length = std::min<int>(left, 1 + rng() % 20);
            l.runs.push_back(static_cast<int16_t>(length));
            left -= length;
        }
        std::uniform_real_distribution<float> u(0.0f, 1.0f);
        l.reach.assign(8, std::vector<float>(1081));
        for (auto& row : l.reach)
            for (float& r : row) r = u(rng) < 0.25f ? 0.0f : u(rng);
        return l;
    }();
    uint16_t* flags = ThreadRiverScratch()->groupFlags;
    for (size_t g = 0; g < list.runs.size(); ++g)
        flags[g] = list.runs[g] <= 16 ? static_cast<uint16_t>((1u << list.runs[g]) - 1) : 1;
    return list;
}

void BM_ShowdownValues(benchmark::State& state) {
    const List& l = RiverList();
    std::vector<float> out(1081);
    for (auto _ : state) {
        ShowdownValues(out.data(), l.reach[0].data(), 1081, l.runs.data(), l.pairs.data(), 1.5f);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_ShowdownValues);

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
    std::vector<std::vector<float>> rows(K, std::vector<float>(1081));
    float* out[8];
    const float* in[8];
    for (int k = 0; k < K; ++k) {
        out[k] = rows[k].data();
        in[k] = l.reach[k].data();
    }
    float s[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (auto _ : state) {
        if constexpr (K == 4) ShowdownValuesX4(out, in, 1081, l.runs.data(), l.pairs.data(), s);
        if constexpr (K == 8) ShowdownValuesX8(out, in, 1081, l.runs.data(), l.pairs.data(), s);
        benchmark::DoNotOptimize(out[0]);
    }
}
BENCHMARK(BM_ShowdownBatch<4>)->Name("BM_ShowdownValuesX4");
BENCHMARK(BM_ShowdownBatch<8>)->Name("BM_ShowdownValuesX8");

void BM_FoldValuesX4(benchmark::State& state) {
    const List& l = RiverList();
    std::vector<std::vector<float>> rows(4, std::vector<float>(1081));
    float* out[4];
    const float* in[4];
    for (int k = 0; k < 4; ++k) {
        out[k] = rows[k].data();
        in[k] = l.reach[k].data();
    }
    float s[4] = {1, 2, 3, 4};
    for (auto _ : state) {
        FoldValuesX4(out, in, 1081, l.pairs.data(), s);
        benchmark::DoNotOptimize(out[0]);
    }
}
BENCHMARK(BM_FoldValuesX4);

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
