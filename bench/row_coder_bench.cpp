// Row coder speed and size: values per second coded and decoded by the FSE row coder on one
// core (16- and 32-bit rows, solver-like with and without reference rows, and random), bytes
// per value beside the raw 2 or 4; the river rows of a real flop solve after 100, 500 and 2,000
// iterations; FSE block coder bytes per second each way; row transform
// values per second in its scalar, 128-bit, 256-bit and 512-bit forms.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "../tests/compression/byte_sources.h"
#include "../tests/compression/solver_rows.h"
#include "../tests/solver/solver_test_games.h"
#include "cards/hand_evaluator.h"
#include "compression/fse_block.h"
#include "compression/row_coder.h"
#include "compression/row_transform.h"
#include "solver/iterations.h"
#include "solver/runout_walks.h"
#include "solver/solver_defaults.h"
#include "solver/solved_tree.h"
#include "solver/solver_settings.h"
#include "storage/compressed_river_storage.h"
#include "utilities/services.h"

namespace {

// Appending sub-streams without the tests' checks; cleared between passes, capacity kept.
struct Streams {
    std::vector<uint8_t> s[24];
    size_t pos[24] = {};
    static void write(void* ctx, int32_t id, void* data, int32_t length) {
        auto& v = static_cast<Streams*>(ctx)->s[id];
        const auto* p = static_cast<const uint8_t*>(data);
        v.insert(v.end(), p, p + length);
    }
    static void read(void* ctx, int32_t id, void* data, int32_t length) {
        auto* self = static_cast<Streams*>(ctx);
        std::memcpy(data, self->s[id].data() + self->pos[id], static_cast<size_t>(length));
        self->pos[id] += static_cast<size_t>(length);
    }
    size_t total() const {
        size_t t = 0;
        for (const auto& v : s) t += v.size();
        return t;
    }
};

enum RowShape { SolverNoRef, SolverRef, Random };

template <typename T>
std::vector<std::vector<T>> make_rows(RowShape shape, int count) {
    std::mt19937_64 rng(42);
    std::vector<std::vector<T>> rows;
    for (int k = 0; k < count; k++) {
        if (shape == Random) {
            rows.push_back(solver_rows::random_row<T>(rng, 1081));
        } else if (shape == SolverRef && k > 0 && k % 16) {
            rows.push_back(solver_rows::changed(rng, rows.back()));
        } else if constexpr (sizeof(T) == 2) {
            rows.push_back(solver_rows::regret_row(rng, 1081));
        } else {
            rows.push_back(solver_rows::strategy_row(rng, 1081));
        }
    }
    return rows;
}

template <typename T>
void code_pass(Streams& st, const std::vector<std::vector<T>>& rows, bool withRef, int kind) {
    CompressionStats stats{};
    CompressorInterface* c = MakeCompressor(kind, nullptr, nullptr, Streams::write, &st, &stats);
    for (size_t k = 0; k < rows.size(); k++) {
        const T* ref = withRef && k > 0 ? rows[k - 1].data() : nullptr;
        if constexpr (sizeof(T) == 4)
            CompressRow32(c, rows[k].data(), ref, static_cast<int32_t>(rows[k].size()));
        else
            CompressRow16(c, rows[k].data(), ref, static_cast<int32_t>(rows[k].size()));
    }
    DeleteCompressor(c);
}

template <typename T>
void BM_RowEncode(benchmark::State& state) {
    const auto shape = static_cast<RowShape>(state.range(0));
    const auto rows = make_rows<T>(shape, 4000);
    Streams st;
    size_t values = 0;
    for (auto _ : state) {
        for (auto& v : st.s) v.clear();
        code_pass(st, rows, shape == SolverRef, static_cast<int>(state.range(1)));
        values += rows.size() * 1081;
    }
    state.SetItemsProcessed(static_cast<int64_t>(values));
    state.SetBytesProcessed(static_cast<int64_t>(values * sizeof(T)));
    state.counters["bytes_per_value"] = static_cast<double>(st.total()) / (rows.size() * 1081.0);
    state.counters["raw_bytes_per_value"] = sizeof(T);
}

template <typename T>
void BM_RowDecode(benchmark::State& state) {
    const auto shape = static_cast<RowShape>(state.range(0));
    const auto rows = make_rows<T>(shape, 4000);
    Streams st;
    code_pass(st, rows, shape == SolverRef, static_cast<int>(state.range(1)));
    std::vector<T> out(1081);
    size_t values = 0;
    for (auto _ : state) {
        for (size_t& p : st.pos) p = 0;
        DecompressorInterface* d = MakeDecompressor(Streams::read, &st);
        for (size_t k = 0; k < rows.size(); k++) {
            const T* ref = shape == SolverRef && k > 0 ? rows[k - 1].data() : nullptr;
            if constexpr (sizeof(T) == 4)
                DecompressRow32(d, out.data(), ref, 1081);
            else
                DecompressRow16(d, out.data(), ref, 1081);
        }
        DeleteDecompressor(d);
        benchmark::DoNotOptimize(out.data());
        values += rows.size() * 1081;
    }
    state.SetItemsProcessed(static_cast<int64_t>(values));
    state.SetBytesProcessed(static_cast<int64_t>(values * sizeof(T)));
}

void row_shapes(benchmark::internal::Benchmark* b) {
    // shape: 0 solver-like, 1 solver-like with reference rows, 2 random; kind: the row coder
    b->ArgNames({"shape", "kind"});
    for (int kind : {kFSECoder, kRangeCoder, kFastCoder})
        for (int s : {SolverNoRef, SolverRef, Random}) b->Args({s, kind});
}

// River rows of a real flop solve (level 2 storages, 2 threads, 60-hand ranges), in the order and
// with the reference rule of the river storages, taken after 100, 500 and 2,000 iterations.
struct CapturedRow {
    std::vector<uint32_t> values;
    bool withRef;
};
struct Captured {
    std::vector<CapturedRow> rows[3][2];  // [moment][0 regrets, 1 sums]
};

const Captured& captured() {
    static const Captured c = [] {
        Captured out;
        InitHandEvalTables();
        libsubgame_set_thread_count(2);
        testgames::LineBuilder b;
        b.stack = 150;
        b.raisesPerStreet = 0;
        const CardMask board = testgames::Cards("Kd 7c 2h");
        const int32_t kinds[2] = {1, 1};
        testgames::BuildTree(board, -1, -1, b.Build(1), testgames::RandomRange(board, 60, 40),
                             testgames::RandomRange(board, 60, 41), false, kinds);
        const int moments[3] = {100, 500, 2000};
        int done = 0;
        for (int m = 0; m < 3; ++m) {
            for (; done < moments[m]; ++done) RunIteration(g_solvedTree);
            for (TreeNode& node : g_solvedTree->nodes) {
                if (node.kind != 0 || node.street != 3) continue;
                for (int which = 0; which < 2; ++which) {
                    auto* s = dynamic_cast<CompressedRiverStorage*>(which ? node.strategySums
                                                                          : node.regrets);
                    if (s == nullptr) continue;
                    const FlatIndexLists* l = s->layout();
                    for (int32_t t = 0; t < l->turnCount; ++t) {
                        LockNodeStorage(&node, t);
                        const auto& span = l->turnRunouts[size_t(t)];
                        for (int32_t a = 0; a < s->numActions(); ++a)
                            for (int32_t j = 0; j < int32_t(span.count); ++j) {
                                const int32_t h = s->numHands(t, j);
                                CapturedRow row{{}, j > 0 && h <= s->numHands(t, j - 1)};
                                for (int32_t i = 0; i < h; ++i)
                                    row.values.push_back(which ? s->row32(t, j, a)[i]
                                                               : s->row16(t, j, a)[i]);
                                out.rows[m][which].push_back(std::move(row));
                            }
                        UnlockNodeStorage(&node, t, false);
                    }
                }
            }
        }
        libsubgame_free_scenario();
        return out;
    }();
    return c;
}

// Codes the captured rows of one moment and kind; bytes per value beside the raw 2 or 4.
void BM_CapturedSolveRows(benchmark::State& state) {
    const int moment = int(state.range(0)), which = int(state.range(1));
    const std::vector<CapturedRow>& rows = captured().rows[moment][which];
    std::vector<uint16_t> narrow, narrowRef;
    Streams st;
    size_t values = 0, perPass = 0;
    for (const CapturedRow& r : rows) perPass += r.values.size();
    for (auto _ : state) {
        for (auto& v : st.s) v.clear();
        CompressionStats stats{};
        CompressorInterface* c =
            MakeCompressor(kFSECoder, nullptr, nullptr, Streams::write, &st, &stats);
        for (size_t k = 0; k < rows.size(); ++k) {
            const CapturedRow& r = rows[k];
            const auto n = int32_t(r.values.size());
            const CapturedRow* ref = r.withRef ? &rows[k - 1] : nullptr;
            if (which) {
                CompressRow32(c, r.values.data(), ref ? ref->values.data() : nullptr, n);
            } else {
                narrow.assign(r.values.begin(), r.values.end());
                if (ref) narrowRef.assign(ref->values.begin(), ref->values.begin() + n);
                CompressRow16(c, narrow.data(), ref ? narrowRef.data() : nullptr, n);
            }
        }
        DeleteCompressor(c);
        values += perPass;
    }
    state.SetItemsProcessed(static_cast<int64_t>(values));
    state.counters["bytes_per_value"] = static_cast<double>(st.total()) / double(perPass);
    state.counters["raw_bytes_per_value"] = which ? 4 : 2;
}

BENCHMARK(BM_CapturedSolveRows)
    ->ArgNames({"iterations_100_500_2000", "sums"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_RowEncode<uint16_t>)->Apply(row_shapes);
BENCHMARK(BM_RowEncode<uint32_t>)->Apply(row_shapes);
BENCHMARK(BM_RowDecode<uint16_t>)->Apply(row_shapes);
BENCHMARK(BM_RowDecode<uint32_t>)->Apply(row_shapes);

std::vector<uint8_t> block_source(bool skewed) {
    std::mt19937_64 rng(5);
    return byte_sources::make(skewed ? byte_sources::Geometric : byte_sources::NearUniform, 65536,
                              rng);
}

void BM_FseBlockCompress(benchmark::State& state) {
    const auto src = block_source(state.range(0) == 0);
    std::vector<uint8_t> dst(FSE_compressBound(65536));
    size_t r = 0;
    for (auto _ : state) {
        r = FSE_compress(dst.data(), dst.size(), src.data(), src.size());
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
    state.counters["coded_fraction"] = static_cast<double>(r) / src.size();
}

void BM_FseBlockDecompress(benchmark::State& state) {
    const auto src = block_source(state.range(0) == 0);
    std::vector<uint8_t> dst(FSE_compressBound(65536)), out(65536);
    const size_t r = FSE_compress(dst.data(), dst.size(), src.data(), src.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(FSE_decompress(out.data(), out.size(), dst.data(), r));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
}

BENCHMARK(BM_FseBlockCompress)->ArgName("near_uniform")->Arg(0)->Arg(1);
BENCHMARK(BM_FseBlockDecompress)->ArgName("near_uniform")->Arg(0)->Arg(1);

using Form16 = bool (*)(uint32_t*, uint32_t*, const uint16_t*, const uint16_t*, int32_t);

void BM_Transform16(benchmark::State& state) {
    static const Form16 forms[] = {BuildRowResiduals16Scalar, BuildRowResiduals16Vec128,
                                   BuildRowResiduals16Vec512, BuildRowResiduals16Vec256};
    if (state.range(0) == 2 && !avx512_supported()) {
        state.SkipWithError("no AVX-512 on this processor");
        return;
    }
    std::mt19937_64 rng(6);
    const auto rows = solver_rows::regret_pair(rng, 1326);
    std::vector<uint32_t> p(1326), q(1326);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            forms[state.range(0)](q.data(), p.data(), rows.first.data(), rows.second.data(), 1326));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 1326));
}

using Form32 = bool (*)(uint32_t*, uint32_t*, const uint32_t*, const uint32_t*, int32_t);

void BM_Transform32(benchmark::State& state) {
    static const Form32 forms[] = {BuildRowResiduals32Scalar, BuildRowResiduals32Vec128,
                                   BuildRowResiduals32Vec256};
    std::mt19937_64 rng(7);
    const auto rows = solver_rows::strategy_pair(rng, 1326);
    std::vector<uint32_t> p(1326), q(1326);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            forms[state.range(0)](q.data(), p.data(), rows.first.data(), rows.second.data(), 1326));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 1326));
}

// Forms: 0 scalar, 1 128-bit, 2 512-bit, 3 256-bit vectors.
BENCHMARK(BM_Transform16)->ArgName("form")->Arg(0)->Arg(1)->Arg(2)->Arg(3);
// Forms: 0 scalar, 1 128-bit, 2 256-bit vectors.
BENCHMARK(BM_Transform32)->ArgName("form")->Arg(0)->Arg(1)->Arg(2);

}  // namespace
