// Every kernel against a plain scalar reference written from the kernel table, for a range of
// counts and every combination of null and non-null operands.
#include "storage/row_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <numeric>
#include <random>

#include "cards/hand_set.h"
#include "storage/node_data.h"
#include "storage/thread_array_pool.h"
#include "utilities/services.h"

namespace {

// A reference row: has = data present; v holds count values when has.
struct Row {
    bool has = false;
    int32_t count = 0;
    std::vector<float> v;
};

Row Random(std::mt19937& rng, bool has, int32_t n) {
    Row r{has, n, {}};
    if (has) {
        std::uniform_real_distribution<float> d(-2.0f, 3.0f);
        r.v.resize(n);
        for (auto& x : r.v) x = d(rng);
    }
    return r;
}

PooledArray ToPooled(const Row& r) {
    PooledArray p;
    p.count = r.count;
    if (r.has) {
        ConstructPooledArray(&p, r.count, false, false);
        if (r.count > 0) std::memcpy(p.data, r.v.data(), r.count * 4);
    }
    return p;
}

void ExpectSame(const PooledArray& got, const Row& want, const std::string& what) {
    ASSERT_EQ(got.data != nullptr, want.has) << what;
    EXPECT_EQ(got.count, want.count) << what;
    if (got.data == nullptr) return;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(got.data) % 32, 0u) << what;
    for (int32_t i = 0; i < want.count; ++i) {
        uint32_t a, b;
        std::memcpy(&a, &got.data[i], 4);
        std::memcpy(&b, &want.v[i], 4);
        ASSERT_EQ(a, b) << what << " at " << i << ": " << got.data[i] << " vs " << want.v[i];
    }
}

float Max(float x, float y) {
    return x > y ? x : y;
}
// The zeros a null destination stands for.
Row Materialise(Row r) {
    if (!r.has) r.v.assign(r.count, 0.0f), r.has = true;
    return r;
}
Row Null(int32_t count) {
    return Row{false, count, {}};
}

using Mask = std::vector<uint8_t>;
// One kernel: runs it on pooled rows (dst, a, b) and gives the reference result of dst.
// Operand counts are n plus dExtra, aExtra, bExtra: a destination resized to a.count starts at
// another count, and operands longer than the loop show which count the loop runs over.
struct Kernel {
    const char* name;
    std::function<void(PooledArray*, PooledArray*, PooledArray*, const uint8_t*)> run;
    std::function<Row(Row, const Row&, const Row&, const Mask&)> reference;
    int32_t dExtra, aExtra, bExtra;
};

const Kernel kKernels[] = {
    {"MultiplyRowInPlace",
     [](PooledArray* d, PooledArray* a, PooledArray* b, const uint8_t*) {
         MultiplyRowInPlace(d, b);
     },
     [](Row d, const Row&, const Row& b, const Mask&) {
         if (!b.has) return Null(b.count);
         if (!d.has) return d;
         float s = 0;
         for (int32_t i = 0; i < d.count; ++i) s += d.v[i] *= b.v[i];
         return s < FLT_MIN ? Null(d.count) : d;
     },
     0, 0, 2},
    {"MultiplyRowsSparse",
     [](PooledArray* d, PooledArray* a, PooledArray* b, const uint8_t*) {
         MultiplyRowsSparse(d, a, b);
     },
     [](Row d, const Row& a, const Row& b, const Mask&) {
         if (!a.has) return Null(a.count);  // (dst with data is fatal, tested apart)
         if (!b.has) return Null(a.count);
         Row r{true, a.count, std::vector<float>(a.count)};
         float s = 0;
         for (int32_t i = 0; i < a.count; ++i) s += r.v[i] = a.v[i] * b.v[i];
         return s < FLT_MIN ? Null(a.count) : r;
     },
     3, 0, 2},
    {"MultiplyRows",
     [](PooledArray* d, PooledArray* a, PooledArray* b, const uint8_t*) { MultiplyRows(d, a, b); },
     [](Row, const Row& a, const Row& b, const Mask&) {
         if (!a.has || !b.has) return Null(a.count);
         Row r{true, a.count, std::vector<float>(a.count)};
         for (int32_t i = 0; i < a.count; ++i) r.v[i] = a.v[i] * b.v[i];
         return r;
     },
     3, 0, 2},
    {"MultiplyRowsMasked",
     [](PooledArray* d, PooledArray* a, PooledArray* b, const uint8_t* m) {
         MultiplyRowsMasked(d, a, b, m);
     },
     [](Row, const Row& a, const Row& b, const Mask& m) {
         if (!a.has || !b.has) return Null(a.count);
         Row r{true, a.count, std::vector<float>(a.count)};
         for (int32_t i = 0; i < a.count; ++i) r.v[i] = m[i] ? a.v[i] * b.v[i] : a.v[i];
         return r;
     },
     3, 0, 2},
    {"AccumulateProduct",
     [](PooledArray* d, PooledArray* a, PooledArray* b, const uint8_t*) {
         AccumulateProduct(d, a, b);
     },
     [](Row d, const Row& a, const Row& b, const Mask&) {
         if (!a.has || !b.has) return d;
         d = Materialise(d);
         for (int32_t i = 0; i < d.count; ++i) d.v[i] = std::fma(a.v[i], b.v[i], d.v[i]);
         return d;
     },
     0, 1, 2},
    {"MaxRowInPlace",
     [](PooledArray* d, PooledArray* a, PooledArray*, const uint8_t*) { MaxRowInPlace(d, a); },
     [](Row d, const Row& a, const Row&, const Mask&) {
         d = Materialise(d);
         for (int32_t i = 0; i < d.count; ++i) d.v[i] = Max(d.v[i], a.has ? a.v[i] : 0.0f);
         return d;
     },
     0, 1, 0},
    {"MaxOrAccumulateMasked",
     [](PooledArray* d, PooledArray* a, PooledArray* b, const uint8_t* m) {
         MaxOrAccumulateMasked(d, a, b, m);
     },
     [](Row d, const Row& a, const Row& b, const Mask& m) {
         d = Materialise(d);
         for (int32_t i = 0; i < d.count; ++i) {
             if (!a.has || !b.has) {
                 if (!m[i]) d.v[i] = Max(d.v[i], 0.0f);
             } else {
                 d.v[i] = m[i] ? std::fma(a.v[i], b.v[i], d.v[i]) : Max(a.v[i], d.v[i]);
             }
         }
         return d;
     },
     0, 1, 2},
    {"ScaleAddRow",
     [](PooledArray* d, PooledArray* a, PooledArray*, const uint8_t*) { ScaleAddRow(d, a, -0.7f); },
     [](Row d, const Row& a, const Row&, const Mask&) {
         if (!a.has) return d;
         d = Materialise(d);
         for (int32_t i = 0; i < d.count; ++i) d.v[i] = std::fma(-0.7f, a.v[i], d.v[i]);
         return d;
     },
     0, 1, 0},
    {"SubtractRow",
     [](PooledArray* d, PooledArray* a, PooledArray*, const uint8_t*) { SubtractRow(d, a); },
     [](Row d, const Row& a, const Row&, const Mask&) {
         if (!a.has) return d;
         d = Materialise(d);
         for (int32_t i = 0; i < d.count; ++i) d.v[i] -= a.v[i];
         return d;
     },
     0, 1, 0},
    {"ClampRowBelow",
     [](PooledArray* d, PooledArray*, PooledArray*, const uint8_t*) { ClampRowBelow(d, 0.5f); },
     [](Row d, const Row&, const Row&, const Mask&) {
         d = Materialise(d);
         for (auto& x : d.v) x = Max(x, 0.5f);
         return d;
     },
     0, 0, 0},
};

void SparseWithNullFirstOperand() {
    PooledArray dst, a, b;
    ConstructPooledArray(&dst, 4, true, false);
    a.count = 4;
    ConstructPooledArray(&b, 4, true, false);
    MultiplyRowsSparse(&dst, &a, &b);
}

const int32_t kCounts[] = {0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 1081, 1176};

}  // namespace

TEST(RowKernels, MatchTheScalarReferenceForEveryNullCombination) {
    std::mt19937 rng(42);
    for (bool pooled : {false, true}) {
        if (pooled) EnsureThreadPool(1176);
        for (const Kernel& k : kKernels) {
            for (int32_t n : kCounts) {
                Mask mask(n + 3);
                for (auto& m : mask) m = rng() % 3 == 0;
                for (int combo = 0; combo < 8; ++combo) {
                    const Row d = Random(rng, combo & 1, n + k.dExtra),
                              a = Random(rng, combo & 2, n + k.aExtra),
                              b = Random(rng, combo & 4, n + k.bExtra);
                    if (std::string(k.name) == "MultiplyRowsSparse" && d.has && !a.has) continue;
                    PooledArray pd = ToPooled(d), pa = ToPooled(a), pb = ToPooled(b);
                    k.run(&pd, &pa, &pb, mask.data());
                    ExpectSame(pd, k.reference(d, a, b, mask),
                               std::string(k.name) + " n=" + std::to_string(n) +
                                   " combo=" + std::to_string(combo));
                    ExpectSame(pa, a, std::string(k.name) + " leaves a");
                    ExpectSame(pb, b, std::string(k.name) + " leaves b");
                    // Only MultiplyRows takes its destination from the pool; the others
                    // allocate heap rows, which may outlive the thread's pool.
                    const bool pooledDst = pooled && std::string(k.name) == "MultiplyRows";
                    EXPECT_EQ(pd.fromPool, pooledDst && pd.data != nullptr ? 1 : 0) << k.name;
                    ReleasePooledArray(&pd);
                    ReleasePooledArray(&pa);
                    ReleasePooledArray(&pb);
                }
            }
        }
        ReleaseThreadPool();
    }
}

TEST(RowKernels, GatherAndScatterThroughMaps) {
    std::mt19937 rng(7);
    for (int32_t n : kCounts) {
        const int32_t m = n + 5;
        std::vector<uint16_t> map(m);
        std::iota(map.begin(), map.end(), 0);
        std::shuffle(map.begin(), map.end(), rng);
        map.resize(n);
        for (bool srcHas : {false, true}) {
            for (bool dstHas : {false, true}) {
                const Row src = Random(rng, srcHas, m), dst = Random(rng, dstHas, n);
                PooledArray ps = ToPooled(src), pd = ToPooled(dst);
                GatherRow(&pd, &ps, map.data());
                Row want = Null(n);
                if (srcHas) {
                    want = Row{true, n, std::vector<float>(n)};
                    for (int32_t i = 0; i < n; ++i) want.v[i] = src.v[map[i]];
                }
                ExpectSame(pd, want, "GatherRow n=" + std::to_string(n));
                ReleasePooledArray(&pd);
                ReleasePooledArray(&ps);

                // Scatter the n-row back into an m-row.
                const Row small = Random(rng, srcHas, n), big = Random(rng, dstHas, m);
                PooledArray pSmall = ToPooled(small), pBig = ToPooled(big);
                ScatterAddRowByMap(&pBig, &pSmall, map);
                Row wantBig = big;
                if (srcHas) {
                    wantBig = Materialise(big);
                    for (int32_t i = 0; i < n; ++i) wantBig.v[map[i]] += small.v[i];
                }
                ExpectSame(pBig, wantBig, "ScatterAddRow n=" + std::to_string(n));
                ReleasePooledArray(&pBig);
                ReleasePooledArray(&pSmall);
            }
        }
    }
}

TEST(RowKernels, DropAndNullRules) {
    // Products summing to 1e-39 give a null row of the same count; a NaN product keeps it.
    std::vector<float> tiny = {1e-20f, 0.0f, 0.0f};
    std::vector<float> ones = {1e-19f, 1.0f, 1.0f};
    PooledArray a = ToPooled(Row{true, 3, tiny}), b = ToPooled(Row{true, 3, ones});
    MultiplyRowInPlace(&a, &b);
    EXPECT_EQ(a.data, nullptr);
    EXPECT_EQ(a.count, 3);
    PooledArray n = ToPooled(Row{true, 3, {NAN, 0.0f, 0.0f}});
    MultiplyRowInPlace(&n, &b);
    ASSERT_NE(n.data, nullptr);
    EXPECT_TRUE(std::isnan(n.data[0]));
    ReleasePooledArray(&n);
    EXPECT_EQ(n.count, 0);  // released, not dropped

    // A null second operand gives a null row with that operand's count.
    PooledArray c = ToPooled(Row{true, 3, ones}), nullB;
    nullB.count = 7;
    MultiplyRowInPlace(&c, &nullB);
    EXPECT_EQ(c.data, nullptr);
    EXPECT_EQ(c.count, 7);

    // An empty row has sum 0 and is dropped.
    PooledArray e, eb;
    ConstructPooledArray(&e, 0, true, false);
    ConstructPooledArray(&eb, 0, true, false);
    MultiplyRowInPlace(&e, &eb);
    EXPECT_EQ(e.data, nullptr);
    ReleasePooledArray(&eb);

    // MaxOrAccumulateMasked with a null operand keeps masked hands and clamps the others at 0.
    PooledArray dst = ToPooled(Row{true, 4, {-1.0f, -2.0f, 3.0f, -4.0f}}), nullA;
    nullA.count = 4;
    const uint8_t mask[] = {1, 0, 0, 1};
    MaxOrAccumulateMasked(&dst, &nullA, &b, mask);
    EXPECT_EQ(std::vector<float>(dst.data, dst.data + 4),
              (std::vector<float>{-1.0f, 0.0f, 3.0f, -4.0f}));
    ReleasePooledArray(&dst);

    // ClampRowBelow on a null row of 5 with v = -1 gives five zeros.
    PooledArray z;
    z.count = 5;
    ClampRowBelow(&z, -1.0f);
    ASSERT_NE(z.data, nullptr);
    EXPECT_EQ(std::vector<float>(z.data, z.data + 5), std::vector<float>(5, 0.0f));
    ReleasePooledArray(&z);

    // AccumulateProduct with a null operand leaves a null destination null.
    PooledArray acc;
    acc.count = 3;
    AccumulateProduct(&acc, &nullB, &b);
    EXPECT_EQ(acc.data, nullptr);
    ReleasePooledArray(&b);
}

TEST(RowKernels, MultiplyRowsSparseWithNullOperandAndLiveDestinationIsFatal) {
    EXPECT_EXIT(SparseWithNullFirstOperand(), testing::ExitedWithCode(1),
                "");  // "fail" goes to stdout
    PooledArray dst, a, b;
    a.count = 9;
    MultiplyRowsSparse(&dst, &a, &b);
    EXPECT_EQ(dst.data, nullptr);
    EXPECT_EQ(dst.count, 9);
}

TEST(RowKernels, AccumulateProductPathsAgreeBitForBit) {
    if (!avx512_supported()) GTEST_SKIP() << "processor without AVX-512: only one path exists";
    std::mt19937 rng(1);
    for (int32_t n : kCounts) {
        const Row a = Random(rng, true, n), b = Random(rng, true, n), d = Random(rng, true, n);
        std::vector<float> x = d.v, y = d.v;
        AccumulateProduct256(x.data(), a.v.data(), b.v.data(), n);
        AccumulateProduct512(y.data(), a.v.data(), b.v.data(), n);
        EXPECT_TRUE(x.empty() || std::memcmp(x.data(), y.data(), n * 4) == 0) << n;
    }
    // Through the switch as well.
    const Row a = Random(rng, true, 1081), b = Random(rng, true, 1081), d = Random(rng, true, 1081);
    PooledArray pa = ToPooled(a), pb = ToPooled(b), p1 = ToPooled(d), p2 = ToPooled(d);
    avx512_enabled.store(1);
    AccumulateProduct(&p1, &pa, &pb);
    avx512_enabled.store(0);
    AccumulateProduct(&p2, &pa, &pb);
    EXPECT_EQ(std::memcmp(p1.data, p2.data, 1081 * 4), 0);
    for (PooledArray* p : {&pa, &pb, &p1, &p2}) ReleasePooledArray(p);
}

TEST(RowKernels, NodeDataRowsAreHeapRowsAndSkipDoneRecords) {
    EnsureThreadPool(16);
    NodeData record;
    PooledArray src = ToPooled(Row{true, 3, {1.0f, 2.0f, 4.0f}}), nullSrc;
    nullSrc.count = 3;
    AddScaledToNodeData(&record, 1, &nullSrc, 2.0);
    ASSERT_NE(record.rows[1].data, nullptr);  // only the allocation
    EXPECT_EQ(record.rows[1].fromPool, 0);
    EXPECT_EQ(std::vector<float>(record.rows[1].data, record.rows[1].data + 3),
              std::vector<float>(3, 0.0f));
    AddScaledToNodeData(&record, 1, &src, 0.5);
    AddScaledToNodeData(&record, 0, &src, 0.1);  // 0.1 converted to float first
    EXPECT_EQ(record.rows[1].data[2], 2.0f);
    EXPECT_EQ(record.rows[0].data[0], 0.1f);
    record.done = 1;
    AddScaledToNodeData(&record, 1, &src, 100.0);
    AddScaledToNodeData(&record, 2, &src, 100.0);
    EXPECT_EQ(record.rows[1].data[2], 2.0f);
    EXPECT_EQ(record.rows[2].data, nullptr);
    ReleasePooledArrayRange(record.rows, record.rows + 6);
    ReleasePooledArray(&src);
    ReleaseThreadPool();
}

TEST(RowKernels, RiverRecordGatherThenScatterCountsEveryIsomorphicCard) {
    // Monotone flop 2c 7c Kc (canonical: clubs is suit 0) and the turn 9c: diamonds, hearts and
    // spades are interchangeable, so each diamond river record stands for 3 cards.
    const CardMask flop = CardBit(0) | CardBit(5) | CardBit(11);
    HandSet set(&flop, -1, -1, 1);
    std::vector<double> range(kComboCount, 1.0);
    ASSERT_TRUE(SetHoles(&set, range.data(), range.data()));
    const SubgameRecord& turn = set.records.at(set.cardToRecord[7]);
    const RiverRecord* river = nullptr;
    for (const RiverRecord& r : turn.rivers) {
        if (r.weight == 3) river = &r;
    }
    ASSERT_NE(river, nullptr);
    const int32_t parentCount = static_cast<int32_t>(turn.hands.size());
    const int32_t riverCount = static_cast<int32_t>(river->hands.size());

    EnsureThreadPool(set);
    PooledArray parentOnes, riverRow, parentSum;
    ConstructPooledArray(&parentOnes, parentCount, false, true);
    std::fill(parentOnes.data, parentOnes.data + parentCount, 1.0f);
    GatherRowToRecord(*river, &riverRow, &parentOnes);
    ASSERT_EQ(riverRow.count, riverCount);
    EXPECT_EQ(riverRow.fromPool, 1);
    ConstructPooledArray(&parentSum, parentCount, true, true);
    ScatterRowFromRecord(*river, &parentSum, &riverRow);
    double total = 0;
    float most = 0;
    for (int32_t i = 0; i < parentCount; ++i) {
        total += parentSum.data[i];
        most = std::max(most, parentSum.data[i]);
    }
    EXPECT_EQ(total, 3.0 * riverCount);
    EXPECT_LE(most, 3.0f);

    PooledArray nullParent;
    nullParent.count = parentCount;
    GatherRowToRecord(*river, &riverRow, &nullParent);
    EXPECT_EQ(riverRow.data, nullptr);
    EXPECT_EQ(riverRow.count, riverCount);
    for (PooledArray* p : {&parentOnes, &riverRow, &parentSum}) ReleasePooledArray(p);
    ReleaseThreadPool();
}
