// Row kernels, the pooled row life and the flop/turn storage rules at river-sized rows.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "storage/pooled_array.h"
#include "storage/row_kernels.h"
#include "storage/storage_unit.h"
#include "storage/thread_array_pool.h"
#include "utilities/services.h"

namespace {

PooledArray DenseRow(int32_t n, uint32_t seed, float lo = 0.1f, float hi = 1.0f) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(lo, hi);
    PooledArray r;
    ConstructPooledArray(&r, n, false, false);
    for (int32_t i = 0; i < n; ++i) r.data[i] = d(rng);
    return r;
}

PooledArray NullRow(int32_t n) {
    PooledArray r;
    r.count = n;
    return r;
}

std::vector<uint8_t> Mask(int32_t n) {
    std::vector<uint8_t> m(n);
    for (int32_t i = 0; i < n; ++i) m[i] = (i % 5) == 0;
    return m;
}

// Bytes a dense call moves: `rows` rows of n floats read or written.
void Account(benchmark::State& state, int32_t n, int rows) {
    state.SetBytesProcessed(int64_t(state.iterations()) * n * 4 * rows);
}

// Arg(0): hands; Arg(1): 1 = operands with data, 0 = null operand.
void Args(benchmark::internal::Benchmark* b) {
    for (int n : {1081, 1176}) {
        for (int dense : {1, 0}) b->Args({n, dense});
    }
}

void BM_MultiplyRowInPlace(benchmark::State& state) {
    const int32_t n = state.range(0);
    // Null case: a zero row stays a zero row (a null b would drop a for good after one call).
    PooledArray a = state.range(1) ? DenseRow(n, 1) : NullRow(n), b = DenseRow(n, 2, 1.0f, 1.0f);
    for (auto _ : state) {
        MultiplyRowInPlace(&a, &b);
        benchmark::DoNotOptimize(a.data);
    }
    Account(state, n, 3);
    ReleasePooledArray(&a);
    ReleasePooledArray(&b);
}
BENCHMARK(BM_MultiplyRowInPlace)->Apply(Args);

void BM_MultiplyRows(benchmark::State& state) {
    EnsureThreadPool(1176);
    const int32_t n = state.range(0);
    PooledArray a = DenseRow(n, 1), b = state.range(1) ? DenseRow(n, 2) : NullRow(n), d;
    for (auto _ : state) {
        MultiplyRows(&d, &a, &b);
        benchmark::DoNotOptimize(d.data);
    }
    Account(state, n, 3);
    for (PooledArray* r : {&a, &b, &d}) ReleasePooledArray(r);
}
BENCHMARK(BM_MultiplyRows)->Apply(Args);

void BM_MultiplyRowsSparse(benchmark::State& state) {
    const int32_t n = state.range(0);
    PooledArray a = state.range(1) ? DenseRow(n, 1) : NullRow(n), b = DenseRow(n, 2), d;
    for (auto _ : state) {
        MultiplyRowsSparse(&d, &a, &b);
        benchmark::DoNotOptimize(d.data);
    }
    Account(state, n, 3);
    for (PooledArray* r : {&a, &b, &d}) ReleasePooledArray(r);
}
BENCHMARK(BM_MultiplyRowsSparse)->Apply(Args);

void BM_MultiplyRowsMasked(benchmark::State& state) {
    const int32_t n = state.range(0);
    const auto mask = Mask(n);
    PooledArray a = DenseRow(n, 1), b = state.range(1) ? DenseRow(n, 2) : NullRow(n), d;
    for (auto _ : state) {
        MultiplyRowsMasked(&d, &a, &b, mask.data());
        benchmark::DoNotOptimize(d.data);
    }
    Account(state, n, 3);
    for (PooledArray* r : {&a, &b, &d}) ReleasePooledArray(r);
}
BENCHMARK(BM_MultiplyRowsMasked)->Apply(Args);

// Arg(2): 1 = the 512-bit form (skipped where the processor lacks it).
void BM_AccumulateProduct(benchmark::State& state) {
    const int32_t n = state.range(0);
    const bool wide = state.range(2) != 0;
    if (wide && !avx512_supported()) {
        state.SkipWithError("no AVX-512 on this processor");
        return;
    }
    avx512_enabled.store(wide ? 1 : 0);
    PooledArray a = DenseRow(n, 1, 0.0f, 1e-3f), b = state.range(1) ? DenseRow(n, 2) : NullRow(n),
                d = DenseRow(n, 3);
    for (auto _ : state) {
        AccumulateProduct(&d, &a, &b);
        benchmark::DoNotOptimize(d.data);
    }
    Account(state, n, 4);
    avx512_enabled.store(0);
    for (PooledArray* r : {&a, &b, &d}) ReleasePooledArray(r);
}
BENCHMARK(BM_AccumulateProduct)
    ->ArgsProduct({{1081, 1176}, {1, 0}, {0, 1}})
    ->ArgNames({"hands", "dense", "avx512"});

void BM_MaxRowInPlace(benchmark::State& state) {
    const int32_t n = state.range(0);
    PooledArray d = DenseRow(n, 1), s = state.range(1) ? DenseRow(n, 2) : NullRow(n);
    for (auto _ : state) {
        MaxRowInPlace(&d, &s);
        benchmark::DoNotOptimize(d.data);
    }
    Account(state, n, 3);
    ReleasePooledArray(&d);
    ReleasePooledArray(&s);
}
BENCHMARK(BM_MaxRowInPlace)->Apply(Args);

void BM_MaxOrAccumulateMasked(benchmark::State& state) {
    const int32_t n = state.range(0);
    const auto mask = Mask(n);
    PooledArray d = DenseRow(n, 1), a = state.range(1) ? DenseRow(n, 2, 0.0f, 1e-3f) : NullRow(n),
                b = DenseRow(n, 3);
    for (auto _ : state) {
        MaxOrAccumulateMasked(&d, &a, &b, mask.data());
        benchmark::DoNotOptimize(d.data);
    }
    Account(state, n, 4);
    for (PooledArray* r : {&a, &b, &d}) ReleasePooledArray(r);
}
BENCHMARK(BM_MaxOrAccumulateMasked)->Apply(Args);

void BM_ScaleAddSubtractClamp(benchmark::State& state) {
    const int32_t n = state.range(0);
    PooledArray d = DenseRow(n, 1), s = state.range(1) ? DenseRow(n, 2) : NullRow(n);
    for (auto _ : state) {
        ScaleAddRow(&d, &s, 0.5f);
        SubtractRow(&d, &s);
        ClampRowBelow(&d, -1.0f);
        benchmark::DoNotOptimize(d.data);
    }
    Account(state, n, 8);
    ReleasePooledArray(&d);
    ReleasePooledArray(&s);
}
BENCHMARK(BM_ScaleAddSubtractClamp)->Apply(Args);

void BM_GatherScatter(benchmark::State& state) {
    const int32_t n = state.range(0);
    std::vector<uint16_t> map(n);
    for (int32_t i = 0; i < n; ++i) map[i] = static_cast<uint16_t>((i * 7919) % n);
    PooledArray src = state.range(1) ? DenseRow(n, 1) : NullRow(n), mid = NullRow(n),
                dst = DenseRow(n, 2);
    ResizePooledArray(&mid, n, false);
    for (auto _ : state) {
        GatherRow(&mid, &src, map.data());
        ScatterAddRow(&dst, &src, map.data());
        if (mid.data == nullptr) ResizePooledArray(&mid, n, false);
        benchmark::DoNotOptimize(dst.data);
    }
    Account(state, n, 5);
    for (PooledArray* r : {&src, &mid, &dst}) ReleasePooledArray(r);
}
BENCHMARK(BM_GatherScatter)->Apply(Args);

// Arg(0): 1 = pooled, 0 = heap.
void BM_ResizeReleasePair(benchmark::State& state) {
    EnsureThreadPool(1176);
    const bool pooled = state.range(0) != 0;
    PooledArray r;
    for (auto _ : state) {
        ResizePooledArray(&r, 1081, pooled);
        benchmark::DoNotOptimize(r.data);
        ReleasePooledArray(&r);
    }
}
BENCHMARK(BM_ResizeReleasePair)->Arg(1)->Arg(0)->ArgName("pooled");

// Arg(0): actions; 1176 hands.
struct UnitFixture {
    static constexpr int32_t kHands = 1176;
    StorageUnit unit;
    std::vector<PooledArray> values, strategy;
    PooledArray node, reach;
    explicit UnitFixture(int32_t k) : unit(k, kHands), values(k), strategy(k) {
        unit.reset();
        for (int32_t a = 0; a < k; ++a) values[a] = DenseRow(kHands, 10 + a, -1.0f, 1.0f);
        node = DenseRow(kHands, 5, -1.0f, 1.0f);
        reach = DenseRow(kHands, 6);
        unit.updateRegrets(-1, -1, node, values.data(), nullptr, 1.0);
        const std::vector<float> defaults(k, 1.0f / k);
        unit.getStrategy(strategy.data(), -1, -1, defaults.data());
    }
    ~UnitFixture() {
        for (auto& r : values) ReleasePooledArray(&r);
        for (auto& r : strategy) ReleasePooledArray(&r);
        ReleasePooledArray(&node);
        ReleasePooledArray(&reach);
    }
};

void BM_UnitUpdateRegrets(benchmark::State& state) {
    UnitFixture f(state.range(0));
    for (auto _ : state) {
        f.unit.updateRegrets(-1, -1, f.node, f.values.data(), nullptr, 1.0);
        benchmark::ClobberMemory();
    }
    Account(state, UnitFixture::kHands, 1 + 3 * state.range(0));
}
BENCHMARK(BM_UnitUpdateRegrets)->DenseRange(2, 4)->ArgName("actions");

void BM_UnitGetStrategy(benchmark::State& state) {
    const int32_t k = state.range(0);
    UnitFixture f(k);
    const std::vector<float> defaults(k, 1.0f / k);
    for (auto _ : state) {
        f.unit.getStrategy(f.strategy.data(), -1, -1, defaults.data());
        benchmark::ClobberMemory();
    }
    Account(state, UnitFixture::kHands, 2 * k + 1);
}
BENCHMARK(BM_UnitGetStrategy)->DenseRange(2, 4)->ArgName("actions");

void BM_UnitAccumulateStrategy(benchmark::State& state) {
    UnitFixture f(state.range(0));
    for (auto _ : state) {
        f.unit.accumulateStrategy(-1, -1, f.strategy.data(), f.reach, 1e-3f);
        benchmark::ClobberMemory();
    }
    Account(state, UnitFixture::kHands, 1 + 3 * state.range(0));
}
BENCHMARK(BM_UnitAccumulateStrategy)->DenseRange(2, 4)->ArgName("actions");

}  // namespace
