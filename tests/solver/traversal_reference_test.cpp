// The solver's traversal against the independent reference CFR on small river- and
// turn-rooted games: stored regrets and strategy sums, root values, best responses and the
// exploitability after a few iterations, and convergence over many.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "cards/hand_evaluator.h"
#include "cards/hand_set.h"
#include "reference_cfr.h"
#include "solver/iterations.h"
#include "solver/solved_tree.h"
#include "solver/solver_defaults.h"
#include "solver_test_games.h"
#include "storage/river_storage.h"
#include "storage/turn_storage.h"
#include "utilities/kernel_switches.h"

namespace {

using namespace testgames;

Spot RiverSpot(int hands, uint32_t seed) {
    Spot s;
    s.flop = Cards("Td 9d 6h");
    const CardMask qc = Cards("Qc"), s3 = Cards("3s");
    s.turn = LowestCard(qc);
    s.river = LowestCard(s3);
    LineBuilder b;
    b.pot = 100;
    b.stack = 400;
    s.lines = b.Build(3);
    s.r0 = RandomRange(s.Board(), hands, seed);
    s.r1 = RandomRange(s.Board(), hands, seed + 1);
    return s;
}

Spot TurnSpot(int hands, uint32_t seed) {
    Spot s;
    s.flop = Cards("Kd 7c 2h");
    s.turn = LowestCard(Cards("8s"));
    s.river = -1;
    LineBuilder b;
    b.pot = 100;
    b.stack = 300;
    b.raisesPerStreet = 0;
    s.lines = b.Build(2);
    s.r0 = RandomRange(s.Board(), hands, seed);
    s.r1 = RandomRange(s.Board(), hands, seed + 1);
    return s;
}

// Largest absolute difference between the tree's float river rows and the reference, over
// every river decision node, runout, live hand and action, relative to the largest value.
struct RowDiff {
    double worst = 0, largest = 0;
    void Add(double product, double reference) {
        worst = std::max(worst, std::fabs(product - reference));
        largest = std::max({largest, std::fabs(product), std::fabs(reference)});
    }
    double Relative() const { return largest > 0 ? worst / largest : worst; }
};

void CompareRiverRows(const Spot& spot, const ReferenceCfr& ref, RowDiff& regrets, RowDiff& sums) {
    SolvedTree* tree = g_solvedTree;
    const SubgameRecord& turnRecord = tree->hands->records[0];
    for (int n = 0; n < static_cast<int>(tree->nodes.size()); ++n) {
        const TreeNode& node = tree->nodes[n];
        if (node.kind == 0 && node.street == 2) {
            auto* r = dynamic_cast<TurnStorage*>(node.regrets);
            auto* s = dynamic_cast<TurnStorage*>(node.strategySums);
            ASSERT_NE(r, nullptr);
            for (int combo = 0; combo < 1326; ++combo) {
                const int16_t pos = static_cast<int16_t>(turnRecord.index[combo]);
                if (pos < 0) continue;
                for (size_t a = 0; a < node.children.size(); ++a) {
                    regrets.Add(r->unit(0).row(static_cast<int>(a)).data[pos],
                                ref.Regret(n, -1, combo, static_cast<int>(a)));
                    if (s)
                        sums.Add(s->unit(0).row(static_cast<int>(a)).data[pos],
                                 ref.StrategySum(n, -1, combo, static_cast<int>(a)));
                }
            }
        }
        if (node.kind != 0 || node.street != 3) continue;
        auto* r = dynamic_cast<RiverStorage*>(node.regrets);
        auto* s = dynamic_cast<RiverStorage*>(node.strategySums);
        ASSERT_NE(r, nullptr);
        for (size_t ri = 0; ri < turnRecord.rivers.size(); ++ri) {
            if (spot.river >= 0 && static_cast<int>(ri) != tree->rootRiverRecord) continue;
            const RiverRecord& record = turnRecord.rivers[ri];
            const int riverCard = spot.river >= 0 ? -1 : record.card;
            for (int combo = 0; combo < 1326; ++combo) {
                const int16_t pos = static_cast<int16_t>(record.index[combo]);
                if (pos < 0) continue;
                for (size_t a = 0; a < node.children.size(); ++a) {
                    regrets.Add(r->row(0, static_cast<int>(ri), static_cast<int>(a))[pos],
                                ref.Regret(n, riverCard, combo, static_cast<int>(a)));
                    if (s)
                        sums.Add(s->row(0, static_cast<int>(ri), static_cast<int>(a))[pos],
                                 ref.StrategySum(n, riverCard, combo, static_cast<int>(a)));
                }
            }
        }
    }
}

void CompareEvaluation(ReferenceCfr& ref, double tolerance) {
    double r0[2], r1[2];
    const BestResponseResult result = CalcBestResponse(g_solvedTree, r0, r1, kModeEvaluate);
    const RefEvaluation e = ref.Evaluate();
    const double scale = std::max({std::fabs(e.value[0]), std::fabs(e.value[1]),
                                   std::fabs(e.bestResponse[0]), std::fabs(e.bestResponse[1])});
    EXPECT_NEAR(r0[1], e.value[0], tolerance * scale);
    EXPECT_NEAR(r1[1], e.value[1], tolerance * scale);
    EXPECT_NEAR(r0[0], e.bestResponse[0], tolerance * scale);
    EXPECT_NEAR(r1[0], e.bestResponse[0 + 1], tolerance * scale);
    EXPECT_NEAR(result.exploitability, e.exploitability, tolerance * scale);
}

// Parameter: the simd level. At levels above 1 a river-rooted tree updates in both root passes,
// and the reference is told to do the same.
class TraversalReference : public ::testing::TestWithParam<int32_t> {
protected:
    void SetUp() override {
        InitHandEvalTables();
        simdBefore_ = simd_level.load();
        simd_level.store(GetParam());
    }
    void TearDown() override { simd_level.store(simdBefore_); }
    ReferenceCfr Reference(const Spot& spot) const {
        ReferenceCfr ref(ToReference(spot.Board(), spot.lines, spot.r0, spot.r1),
                         AveragingExponent(), AveragingCap());
        ref.UpdateInBothRootPasses(GetParam() > 1);
        return ref;
    }
    int32_t simdBefore_ = 8;
};

// Release-only: hundreds of iterations of both solvers.
class LongTraversalReference : public TraversalReference {};
INSTANTIATE_TEST_SUITE_P(SimdLevel, TraversalReference, ::testing::Values(1, 8));
INSTANTIATE_TEST_SUITE_P(SimdLevel, LongTraversalReference, ::testing::Values(1, 8));

TEST_P(TraversalReference, RiverRootRowsAndValuesAfterOneTwoAndTenIterations) {
    const Spot spot = RiverSpot(50, 7);
    ASSERT_TRUE(BuildTree(spot.flop, spot.turn, spot.river, spot.lines, spot.r0, spot.r1));
    if (!TreeHasStorages(g_solvedTree)) GTEST_SKIP() << "the storage factory makes no storages yet";
    ReferenceCfr ref = Reference(spot);
    int done = 0;
    for (int target : {1, 2, 10}) {
        for (; done < target; ++done) {
            RunIteration(g_solvedTree);
            ref.Iterate();
        }
        RowDiff regrets, sums;
        CompareRiverRows(spot, ref, regrets, sums);
        EXPECT_LT(regrets.Relative(), 1e-4) << "after " << target << " iterations";
        EXPECT_GT(regrets.largest, 0.0);
        CompareEvaluation(ref, 1e-4);
    }
}

TEST_P(LongTraversalReference, RiverRootConvergesWithTheReference) {
    const Spot spot = RiverSpot(40, 11);
    ASSERT_TRUE(BuildTree(spot.flop, spot.turn, spot.river, spot.lines, spot.r0, spot.r1));
    if (!TreeHasStorages(g_solvedTree)) GTEST_SKIP() << "the storage factory makes no storages yet";
    ReferenceCfr ref = Reference(spot);
    const double pot = 100;
    double at25 = 0, at1000 = 0;
    for (int t = 1; t <= 2000; ++t) {
        RunIteration(g_solvedTree);
        ref.Iterate();
        if (t == 25 || t == 50 || t == 100 || t == 1000 || t == 2000) {
            double r0[2], r1[2];
            const double product = CalcBestResponse(g_solvedTree, r0, r1, kModeEvaluate).exploitability;
            const double reference = ref.Evaluate().exploitability;
            if (t <= 100) {
                EXPECT_NEAR(product, reference, 0.01 * std::fabs(reference)) << t;
            }
            if (t == 100) {
                // Averaging began at t = 61: the weighted sums agree too.
                RowDiff regrets, sums;
                CompareRiverRows(spot, ref, regrets, sums);
                EXPECT_GT(sums.largest, 0.0);
                EXPECT_LT(sums.Relative(), 1e-3);
                // Twice the updates (both root passes) give float rounding twice the room to
                // grow against the double reference.
                EXPECT_LT(regrets.Relative(), GetParam() > 1 ? 1e-2 : 1e-3);
            }
            if (t == 25) at25 = product;
            if (t == 1000) at1000 = product;
            if (t == 2000) {
                EXPECT_LT(product, 0.001 * pot);
                EXPECT_LT(reference, 0.001 * pot);
                EXPECT_NEAR(product, reference, 0.0002 * pot);
            }
        }
    }
    EXPECT_LT(at1000, at25 / 10);
}

// On the turn root the first iteration agrees everywhere. Later iterations are compared through
// convergence only: where two actions of a hand are exactly equal in value (common in the first
// iterations, when the opponent's default strategy makes a bet and a check pay the same), the
// float walk leaves a noise regret of |d|^0.75 on one action and plays it purely, while the
// double reference stays at the default; both are correct solves of the same rule.
TEST_P(TraversalReference, TurnRootRowsAndValuesFreshAndAfterOneIteration) {
    const Spot spot = TurnSpot(30, 21);
    ASSERT_TRUE(BuildTree(spot.flop, spot.turn, spot.river, spot.lines, spot.r0, spot.r1));
    if (!TreeHasStorages(g_solvedTree)) GTEST_SKIP() << "the storage factory makes no storages yet";
    ReferenceCfr ref = Reference(spot);
    CompareEvaluation(ref, 1e-4);
    RunIteration(g_solvedTree);
    ref.Iterate();
    RowDiff regrets, sums;
    CompareRiverRows(spot, ref, regrets, sums);
    EXPECT_LT(regrets.Relative(), 1e-4);
    EXPECT_GT(regrets.largest, 0.0);
    double r0[2], r1[2];
    CalcBestResponse(g_solvedTree, r0, r1, kModeEvaluate);
    const RefEvaluation e = ref.Evaluate();
    EXPECT_NEAR(r0[1], e.value[0], 1e-4 * std::fabs(e.value[0]));
    EXPECT_NEAR(r1[1], e.value[1], 1e-4 * std::fabs(e.value[1]));
    EXPECT_NEAR(r0[0], e.bestResponse[0], 1e-4 * std::fabs(e.bestResponse[0]));
}

TEST_P(LongTraversalReference, TurnRootConvergesWithTheReference) {
    const Spot spot = TurnSpot(16, 31);
    ASSERT_TRUE(BuildTree(spot.flop, spot.turn, spot.river, spot.lines, spot.r0, spot.r1));
    if (!TreeHasStorages(g_solvedTree)) GTEST_SKIP() << "the storage factory makes no storages yet";
    ReferenceCfr ref = Reference(spot);
    const double pot = 100;
    for (int t = 1; t <= 120; ++t) {
        RunIteration(g_solvedTree);
        ref.Iterate();
        if (t == 120) {
            double r0[2], r1[2];
            const double product = CalcBestResponse(g_solvedTree, r0, r1, kModeEvaluate).exploitability;
            const double reference = ref.Evaluate().exploitability;
            if (t == 120) {
                EXPECT_NEAR(product, reference, 0.0002 * pot);
                EXPECT_LT(product, 0.002 * pot);
            }
        }
    }
}

}  // namespace
