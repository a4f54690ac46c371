// River storage kernels and the packed river storage: UpdateRegrets16 and the probability
// kernels per hand at 1081 hands; unpack plus pack of one turn (48 runouts of 1081 hands) of a
// 3-action node with packed bytes per value (what stream packing saves over plain rows), at
// stream kinds 1 and 2; flop iterations at levels 2, 3 and 4 with the stream bytes held.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "../tests/solver/solver_test_games.h"
#include "cards/flat_index_lists.h"
#include "cards/hand_evaluator.h"
#include "compression/compressed_storage_stream.h"
#include "storage/compressed_river_storage.h"
#include "storage/fast_storage_stream.h"
#include "storage/regret_update16.h"
#include "solver/iterations.h"
#include "solver/solved_tree.h"
#include "solver/solver_defaults.h"
#include "solver/solver_settings.h"
#include "storage/storage_io_counters.h"
#include "storage/strategy_kernels.h"
#include "utilities/services.h"

namespace {

constexpr int kHands = 1081;

std::vector<float> Values(uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> d(0.0f, 0.5f);
    std::vector<float> row(kHands);
    for (auto& v : row) v = d(rng);
    return row;
}

std::vector<uint16_t> Regrets(uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint16_t> row(kHands);
    for (auto& v : row) v = rng() % 100 < 50 ? 0 : uint16_t(rng() % 3000);
    return row;
}

std::vector<int16_t> Runs() {
    std::mt19937 rng(5);
    std::vector<int16_t> runs;
    for (int left = kHands; left > 0;) {
        const int g = std::min(left, 1 + int(rng() % 6));
        runs.push_back(int16_t(g));
        left -= g;
    }
    return runs;
}

void BM_UpdateRegrets16(benchmark::State& state) {
    const auto node = Values(1), action = Values(2);
    auto q = Regrets(3);
    const auto runs = Runs();
    const bool grouped = state.range(0) != 0;
    for (auto _ : state) {
        UpdateRegrets16(q.data(), node.data(), action.data(), kHands, grouped ? &runs : nullptr,
                        nullptr, 64.0f);
        benchmark::DoNotOptimize(q.data());
    }
    state.SetItemsProcessed(state.iterations() * kHands);
}

void BM_TwoActionProbabilities16(benchmark::State& state) {
    const auto a = Regrets(1), b = Regrets(2);
    std::vector<float> oa(kHands), ob(kHands);
    const float defaults[2] = {0.5f, 0.5f};
    avx512_enabled.store(uint8_t(state.range(0)));
    for (auto _ : state) {
        TwoActionProbabilities16(a.data(), b.data(), kHands, defaults, oa.data(), ob.data());
        benchmark::DoNotOptimize(oa.data());
    }
    avx512_enabled.store(0);
    state.SetItemsProcessed(state.iterations() * kHands);
}

void BM_ThreeActionProbabilities16(benchmark::State& state) {
    const auto a = Regrets(1), b = Regrets(2), c = Regrets(3);
    std::vector<float> oa(kHands), ob(kHands), oc(kHands);
    const float defaults[3] = {0.3f, 0.3f, 0.4f};
    avx512_enabled.store(uint8_t(state.range(0)));
    for (auto _ : state) {
        ThreeActionProbabilities16(a.data(), b.data(), c.data(), kHands, defaults, oa.data(),
                                   ob.data(), oc.data());
        benchmark::DoNotOptimize(oa.data());
    }
    avx512_enabled.store(0);
    state.SetItemsProcessed(state.iterations() * kHands);
}

void BM_FourActionProbabilities(benchmark::State& state) {
    const auto a = Regrets(1), b = Regrets(2), c = Regrets(3), d = Regrets(4);
    std::vector<float> o[4];
    for (auto& row : o) row.resize(kHands);
    const uint16_t* rows[4] = {a.data(), b.data(), c.data(), d.data()};
    float* outs[4] = {o[0].data(), o[1].data(), o[2].data(), o[3].data()};
    const float defaults[4] = {0.25f, 0.25f, 0.25f, 0.25f};
    for (auto _ : state) {
        FourActionProbabilities(rows, kHands, defaults, outs);
        benchmark::DoNotOptimize(o[0].data());
    }
    state.SetItemsProcessed(state.iterations() * kHands);
}

void BM_AccumulateStrategyCounts(benchmark::State& state) {
    const auto s = Values(1), r = Values(2);
    std::vector<uint32_t> counts(kHands, 1000);
    for (auto _ : state) {
        AccumulateStrategyCounts(counts.data(), {const_cast<float*>(s.data()), kHands, 0},
                                 {const_cast<float*>(r.data()), kHands, 0}, nullptr, 2.0f);
        benchmark::DoNotOptimize(counts.data());
    }
    state.SetItemsProcessed(state.iterations() * kHands);
}

// One turn of a 3-action node: 48 runouts of 1081 hands, rows holding regrets after some
// updates (range 0: 16-bit regrets) or strategy counts (range 1: 32-bit), in a stream of kind 1
// (fast packing) or 2 (FSE coded).
void BM_UnpackPackTurn(benchmark::State& state) {
    const bool narrow = state.range(0) == 0;
    const auto kind = int32_t(state.range(1));
    const std::vector<std::vector<int32_t>> counts{std::vector<int32_t>(48, kHands)};
    FlatIndexLists layout;
    FlattenIndexLists(&layout, 3, &counts);
    CompressedRiverStorage s(&layout, narrow, kind);
    const int32_t n = int32_t(s.size(0));
    s.unpack(nullptr, 0, n)->tallyBytes();
    std::mt19937 rng(7);
    std::exponential_distribution<double> spread(1.0);
    for (int j = 0; j < 48; ++j) {
        for (int a = 0; a < 3; ++a) {
            for (int i = 0; i < kHands; ++i) {
                if (narrow) {
                    s.row16(0, j, a)[i] =
                        rng() % 100 < 45 ? 0 : uint16_t(std::min(65535.0, 200 * spread(rng)));
                } else {
                    s.row32(0, j, a)[i] = uint32_t(std::min(2e9, std::exp(9 * spread(rng))));
                }
            }
        }
    }
    s.pack(nullptr, 0, true)->finish();
    for (auto _ : state) {
        s.unpack(nullptr, 0, n)->tallyBytes();
        s.pack(nullptr, 0, true)->finish();
    }
    const double packed =
        kind == 1
            ? double(static_cast<const FastStorageStream*>(s.ownStream(0))->position())
            : double(static_cast<const CompressedStorageStream*>(s.ownStream(0))->usedBytes());
    state.SetItemsProcessed(state.iterations() * n);
    state.SetBytesProcessed(state.iterations() * n * (narrow ? 2 : 4));
    state.counters["bytes/value"] = packed / n;
    state.counters["plain bytes/value"] = narrow ? 2 : 4;
}

// Iterations of a flop solve (60-hand ranges, one bet size) at levels 2, 3 and 4 after 100
// warm-up iterations, with the bytes the streams hold then.
void BM_FlopIteration(benchmark::State& state) {
    static const int32_t kPairs[5][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 2}, {2, 2}};
    InitHandEvalTables();
    libsubgame_set_thread_count(int32_t(state.range(1)));
    testgames::LineBuilder b;
    b.stack = 150;
    b.raisesPerStreet = 0;
    const CardMask board = testgames::Cards("Kd 7c 2h");
    testgames::BuildTree(board, -1, -1, b.Build(1), testgames::RandomRange(board, 60, 40),
                         testgames::RandomRange(board, 60, 41), false, kPairs[state.range(0)]);
    for (int i = 0; i < 100; ++i) RunIteration(g_solvedTree);
    state.counters["held_MB"] = double(g_storage_io.heldBytes.load()) / 1048576.0;
    for (auto _ : state) RunIteration(g_solvedTree);
    libsubgame_free_scenario();
}

}  // namespace

BENCHMARK(BM_FlopIteration)
    ->ArgsProduct({{2, 3, 4}, {1, 8}})
    ->ArgNames({"level", "threads"})
    ->Iterations(40)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpdateRegrets16)->Arg(0)->Arg(1)->ArgName("runs");
BENCHMARK(BM_TwoActionProbabilities16)->Arg(0)->Arg(1)->ArgName("avx512");
BENCHMARK(BM_ThreeActionProbabilities16)->Arg(0)->Arg(1)->ArgName("avx512");
BENCHMARK(BM_FourActionProbabilities);
BENCHMARK(BM_AccumulateStrategyCounts);
BENCHMARK(BM_UnpackPackTurn)->ArgsProduct({{0, 1}, {1, 2}})->ArgNames({"counts32", "kind"});
