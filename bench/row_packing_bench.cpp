// Fast row packing: pack and unpack speed in unpacked bytes per second, and packed bytes per
// value, on regret-like, count-like and worst-case rows of 1081 hands.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "storage/row_packing.h"

namespace {

constexpr int kHands = 1081;

// 0: regret-like (most hands zero, the rest small and skewed); 1: count-like (strategy sums of
// a long solve, spread over several orders of magnitude); 2: worst case (every value wide).
std::vector<uint32_t> MakeRow(int kind, uint32_t seed) {
    std::mt19937 rng(seed);
    std::exponential_distribution<double> spread(1.0);
    std::vector<uint32_t> row(kHands);
    for (auto& v : row) {
        switch (kind) {
            case 0:
                v = rng() % 100 < 60 ? 0 : uint32_t(std::min(65535.0, 300 * spread(rng)));
                break;
            case 1:
                v = uint32_t(std::min(2147483647.0, std::exp(8 * spread(rng))));
                break;
            default:
                v = 65536 + rng() % 1000000;
                break;
        }
    }
    return row;
}

void BM_Pack16(benchmark::State& state) {
    const auto wide = MakeRow(int(state.range(0)), 1);
    std::vector<uint16_t> row(wide.begin(), wide.end());
    for (auto& v : row) v = uint16_t(std::min<uint32_t>(v, 65535));
    if (state.range(0) == 2) std::fill(row.begin(), row.end(), 60000);
    std::vector<uint8_t> out(size_t(PackedRow16Bound(kHands)));
    int64_t packed = 0;
    for (auto _ : state) {
        packed = PackRow16(out.data(), row.data(), kHands) - out.data();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * kHands * 2);
    state.counters["bytes/value"] = double(packed) / kHands;
}

void BM_Unpack16(benchmark::State& state) {
    const auto wide = MakeRow(int(state.range(0)), 1);
    std::vector<uint16_t> row(wide.begin(), wide.end());
    for (auto& v : row) v = uint16_t(std::min<uint32_t>(v, 65535));
    if (state.range(0) == 2) std::fill(row.begin(), row.end(), 60000);
    std::vector<uint8_t> packed(size_t(PackedRow16Bound(kHands)));
    PackRow16(packed.data(), row.data(), kHands);
    for (auto _ : state) {
        UnpackRow16(row.data(), kHands, packed.data());
        benchmark::DoNotOptimize(row.data());
    }
    state.SetBytesProcessed(state.iterations() * kHands * 2);
}

void BM_Pack32(benchmark::State& state) {
    const auto row = MakeRow(int(state.range(0)), 2);
    std::vector<uint8_t> out(size_t(PackedRow32Bound(kHands)));
    int64_t packed = 0;
    for (auto _ : state) {
        packed = PackRow32(out.data(), row.data(), kHands) - out.data();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * kHands * 4);
    state.counters["bytes/value"] = double(packed) / kHands;
}

void BM_Unpack32(benchmark::State& state) {
    auto row = MakeRow(int(state.range(0)), 2);
    std::vector<uint8_t> packed(size_t(PackedRow32Bound(kHands)));
    PackRow32(packed.data(), row.data(), kHands);
    for (auto _ : state) {
        UnpackRow32(row.data(), kHands, packed.data());
        benchmark::DoNotOptimize(row.data());
    }
    state.SetBytesProcessed(state.iterations() * kHands * 4);
}

}  // namespace

BENCHMARK(BM_Pack16)->DenseRange(0, 2)->ArgName("regret_count_worst");
BENCHMARK(BM_Unpack16)->DenseRange(0, 2)->ArgName("regret_count_worst");
BENCHMARK(BM_Pack32)->DenseRange(0, 2)->ArgName("regret_count_worst");
BENCHMARK(BM_Unpack32)->DenseRange(0, 2)->ArgName("regret_count_worst");
