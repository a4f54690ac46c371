// Building a tree's hand lists with full ranges: SetHoles + LoadRecordRanges + FlattenIndexLists
// (action counts 1..3), wall time on SetHoles' 4 threads and the bytes the lists hold.
#include <benchmark/benchmark.h>

#include <array>
#include <vector>

#include "cards/canonical_suits.h"
#include "cards/hand_evaluator.h"
#include "cards/hand_set.h"

namespace {

void BuildHandSet(benchmark::State& state, const char* flopText, const char* turnText,
                  uint8_t isomorphism) {
    InitHandEvalTables();
    CardMask flop = 0, turn = 0, river = 0;
    ParseCards(&flop, flopText);
    ParseCards(&turn, turnText);
    if (isomorphism) {
        uint8_t map[4];
        CanonicalizeBoard(map, &flop, &turn, &river);
    }
    const int turnCard = turn ? LowestCard(turn) : -1;
    const std::vector<double> range(kComboCount, 1.0);
    size_t bytes = 0;
    for (auto _ : state) {
        HandSet set(&flop, turnCard, -1, isomorphism);
        SetHoles(&set, range.data(), range.data());
        std::array<std::vector<float>, 4> rows;
        LoadRecordRanges(&rows, range.data(), range.data(), &set.hands);
        bytes = set.bytesHeld();
        for (int k = 1; k <= 3; ++k) {
            FlatIndexLists lists;
            FlattenIndexLists(&lists, k, &set.riverHandCounts);
            bytes += lists.bytesHeld();
        }
        for (const auto& row : rows) bytes += row.capacity() * sizeof(float);
        benchmark::DoNotOptimize(set.records.data());
    }
    state.counters["bytes_held"] = static_cast<double>(bytes);
}

void BM_RainbowFlopNoIsomorphism(benchmark::State& state) {
    BuildHandSet(state, "2c7dKh", "", 0);
}
void BM_MonotoneFlopIsomorphism(benchmark::State& state) {
    BuildHandSet(state, "4h9hQh", "", 1);
}
void BM_TurnRoot(benchmark::State& state) {
    BuildHandSet(state, "2c7dKh", "9s", 1);
}

BENCHMARK(BM_RainbowFlopNoIsomorphism)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MonotoneFlopIsomorphism)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TurnRoot)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
