// Seven-card evaluation throughput: random hands from a precomputed pool, and the full
// enumeration of all 133,784,560 seven-card hands. Items per second = evaluations per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "cards/hand_evaluator.h"

namespace {

std::vector<uint64_t> RandomHands(size_t count) {
    std::mt19937_64 rng(7);
    std::vector<uint64_t> hands;
    hands.reserve(count);
    while (hands.size() < count) {
        CardMask cards = 0;
        while (CardCount(cards) < 7) cards |= CardBit(static_cast<int>(rng() % 52));
        hands.push_back(EvaluatorMask(cards));
    }
    return hands;
}

void BM_EvalHand7Random(benchmark::State& state) {
    InitHandEvalTables();
    const std::vector<uint64_t> hands = RandomHands(1 << 16);
    for (auto _ : state) {
        uint32_t sum = 0;
        for (uint64_t h : hands) sum += EvalHand7(h);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(hands.size()));
}
BENCHMARK(BM_EvalHand7Random);

constexpr uint64_t Bit(int card) {
    return uint64_t{1} << (16 * (card / 13) + card % 13);
}

void BM_EvalHand7Enumeration(benchmark::State& state) {
    InitHandEvalTables();
    for (auto _ : state) {
        uint32_t sum = 0;
        for (int a = 0; a < 52; ++a)
            for (int b = a + 1; b < 52; ++b)
                for (int c = b + 1; c < 52; ++c)
                    for (int d = c + 1; d < 52; ++d) {
                        const uint64_t m4 = Bit(a) | Bit(b) | Bit(c) | Bit(d);
                        for (int e = d + 1; e < 52; ++e)
                            for (int f = e + 1; f < 52; ++f) {
                                const uint64_t m6 = m4 | Bit(e) | Bit(f);
                                for (int g = f + 1; g < 52; ++g) sum += EvalHand7(m6 | Bit(g));
                            }
                    }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * 133784560);
}
BENCHMARK(BM_EvalHand7Enumeration)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
