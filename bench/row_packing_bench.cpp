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

// Rows shaped like a solve's 16-bit river regrets, by blocks of 32: about half all zero, a
// third small (every group of 8 up to 255), the rest small with zero groups or up to 4095 and a
// few wider. 64 distinct rows taken in turn, so the branch predictor cannot learn one row.
std::vector<std::vector<uint16_t>> SolverLikeRows() {
    std::vector<std::vector<uint16_t>> rows;
    std::mt19937 rng(7);
    for (int r = 0; r < 64; ++r) {
        std::vector<uint16_t> row(kHands, 0);
        for (int block = 0; block < kHands; block += 32) {
            const uint32_t kind = rng() % 100;
            for (int i = block; i < block + 32 && i < kHands; ++i) {
                const bool zeroGroup = kind >= 83 && kind < 93 && (i / 8) % 2 == 0;
                const uint32_t top = kind < 93 ? 256 : kind < 99 ? 4096 : 65536;
                row[size_t(i)] = kind < 46 || zeroGroup ? 0 : uint16_t(1 + rng() % (top - 1));
            }
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void BM_Pack16SolverLike(benchmark::State& state) {
    const auto rows = SolverLikeRows();
    std::vector<uint8_t> out(size_t(PackedRow16Bound(kHands)));
    size_t k = 0;
    for (auto _ : state) {
        PackRow16(out.data(), rows[k].data(), kHands);
        benchmark::DoNotOptimize(out.data());
        k = (k + 1) % rows.size();
    }
    state.SetBytesProcessed(state.iterations() * kHands * 2);
}

void BM_Unpack16SolverLike(benchmark::State& state) {
    const auto rows = SolverLikeRows();
    std::vector<std::vector<uint8_t>> packed;
    for (const auto& row : rows) {
        packed.emplace_back(size_t(PackedRow16Bound(kHands)));
        PackRow16(packed.back().data(), row.data(), kHands);
    }
    std::vector<uint16_t> row(kHands);
    size_t k = 0;
    for (auto _ : state) {
        UnpackRow16(row.data(), kHands, packed[k].data());
        benchmark::DoNotOptimize(row.data());
        k = (k + 1) % packed.size();
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
BENCHMARK(BM_Pack16SolverLike);
BENCHMARK(BM_Unpack16SolverLike);
BENCHMARK(BM_Pack32)->DenseRange(0, 2)->ArgName("regret_count_worst");
BENCHMARK(BM_Unpack32)->DenseRange(0, 2)->ArgName("regret_count_worst");
