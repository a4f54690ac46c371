// Flop trees on compressed river streams: the river-sum schedule, grouped early river regrets,
// turn roots, stream traffic and the memory the streams hold, pair by pair of stream kinds.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "cards/hand_evaluator.h"
#include "cards/hand_set.h"
#include "compression/compressed_storage_stream.h"
#include "solver/iteration_thresholds.h"
#include "solver/iterations.h"
#include "solver/runout_walks.h"
#include "solver/solved_tree.h"
#include "solver/solver_defaults.h"
#include "solver/solver_settings.h"
#include "solver_test_games.h"
#include "storage/compressed_river_storage.h"
#include "storage/storage_io_counters.h"
#include "utilities/kernel_switches.h"

namespace {

using namespace testgames;

constexpr int32_t kLevel2[2] = {1, 1}, kLevel3[2] = {1, 2}, kLevel4[2] = {2, 2};

class CompressedLevels : public ::testing::Test {
protected:
    void SetUp() override {
        InitHandEvalTables();
        threadsBefore_ = libsubgame_get_thread_count();
        libsubgame_set_thread_count(2);
    }
    void TearDown() override { libsubgame_set_thread_count(threadsBefore_); }
    bool Build(const int32_t kinds[2], int street = 1, int ranges = 14) {
        LineBuilder b;
        b.stack = 150;
        b.raisesPerStreet = 0;
        const CardMask board = Cards("Kd 7c 2h");
        const int turn = street >= 2 ? 40 : -1;  // a card off the flop
        return BuildTree(board, turn, -1, b.Build(street), RandomRange(board, ranges, 40),
                         RandomRange(board, ranges, 41), false, kinds);
    }
    int32_t threadsBefore_ = 1;
};

// The river storages of every river decision node.
std::vector<CompressedRiverStorage*> RiverStorages(SolvedTree* tree, bool sums) {
    std::vector<CompressedRiverStorage*> out;
    for (TreeNode& node : tree->nodes) {
        if (node.kind != 0 || node.street != 3) continue;
        if (auto* s =
                dynamic_cast<CompressedRiverStorage*>(sums ? node.strategySums : node.regrets))
            out.push_back(s);
    }
    return out;
}

// The river values of one kind of the first few river nodes, opened turn by turn through the
// query locks.
std::vector<uint32_t> RiverValues(SolvedTree* tree, bool sums, int nodes = 4) {
    std::vector<uint32_t> values;
    for (TreeNode& node : tree->nodes) {
        if (node.kind != 0 || node.street != 3) continue;
        auto* s = dynamic_cast<CompressedRiverStorage*>(sums ? node.strategySums : node.regrets);
        if (s == nullptr || nodes-- == 0) continue;
        for (int32_t t = 0; t < s->layout()->turnCount; ++t) {
            LockNodeStorage(&node, int32_t(t));
            for (uint32_t r = 0; r < s->layout()->turnRunouts[size_t(t)].count; ++r)
                for (int32_t a = 0; a < s->numActions(); ++a)
                    for (int i = 0; i < s->numHands(int32_t(t), int32_t(r)); ++i)
                        values.push_back(sums ? s->row32(int32_t(t), int32_t(r), a)[i]
                                              : s->row16(int32_t(t), int32_t(r), a)[i]);
            UnlockNodeStorage(&node, int32_t(t), false);
        }
    }
    return values;
}

bool RiverSumsSelected(int32_t iteration) {
    const int32_t d = iteration - 61;
    return d >= 0 && (d < 11 || d % 11 == 0);
}

// With compressed river sums, flop trees add to them only on the selected iterations; with
// packed kind-1 sums, on every iteration that averages.
TEST_F(CompressedLevels, LongRiverSumsChangeOnTheSelectedIterations) {
    for (const int32_t* kinds : {kLevel3, kLevel4}) {
        ASSERT_TRUE(Build(kinds));
        ASSERT_FALSE(RiverStorages(g_solvedTree, true).empty());
        EXPECT_EQ(RiverStorages(g_solvedTree, true)[0]->kind(), 2);
        std::vector<uint32_t> before = RiverValues(g_solvedTree, true);
        for (int32_t i = 0; i < 84; ++i) {
            RunIteration(g_solvedTree);
            if (i < 55 && !RiverSumsSelected(i)) continue;  // skip most of the unchanged reads
            std::vector<uint32_t> after = RiverValues(g_solvedTree, true);
            EXPECT_EQ(after != before, RiverSumsSelected(i)) << "iteration " << i;
            before = std::move(after);
        }
    }
}

// At level 4 river regrets move in equal-strength runs through iteration 30 (river delay), then
// hand by hand.
TEST_F(CompressedLevels, LongLevelFourGroupsRiverRegretsThroughTheDelay) {
    ASSERT_TRUE(Build(kLevel4));
    EXPECT_EQ(RiverDelay(), 30);
    SolvedTree* tree = g_solvedTree;
    auto runsEqual = [&] {
        bool equal = true, moved = false;
        for (TreeNode& node : tree->nodes) {
            auto* s = dynamic_cast<CompressedRiverStorage*>(node.regrets);
            if (node.kind != 0 || node.street != 3 || s == nullptr) continue;
            EXPECT_EQ(s->kind(), 2);
            for (int32_t t = 0; t < s->layout()->turnCount; ++t) {
                LockNodeStorage(&node, int32_t(t));
                for (uint32_t r = 0; r < s->layout()->turnRunouts[size_t(t)].count; ++r) {
                    const RiverRecord& river = tree->hands->records[size_t(t)].rivers[r];
                    for (int32_t a = 0; a < int32_t(s->numActions()); ++a) {
                        const uint16_t* row = s->row16(int32_t(t), int32_t(r), a);
                        int at = 0;
                        for (int16_t run : river.runLengths) {
                            for (int i = at; i < at + run; ++i) {
                                equal &= row[i] == row[at];
                                moved |= row[i] != 0;
                            }
                            at += run;
                        }
                    }
                }
                UnlockNodeStorage(&node, int32_t(t), false);
            }
        }
        EXPECT_TRUE(moved);
        return equal;
    };
    for (int i = 0; i <= 30; ++i) RunIteration(tree);
    EXPECT_TRUE(runsEqual());
    for (int i = 0; i < 30; ++i) RunIteration(tree);
    EXPECT_FALSE(runsEqual());
}

// Turn roots keep plain river storages at every level; level 4 still takes the river delay.
TEST_F(CompressedLevels, TurnRootsKeepPlainRiverStorages) {
    for (const int32_t* kinds : {kLevel2, kLevel3, kLevel4}) {
        ASSERT_TRUE(Build(kinds, 2));
        EXPECT_TRUE(RiverStorages(g_solvedTree, false).empty());
        EXPECT_TRUE(RiverStorages(g_solvedTree, true).empty());
        EXPECT_EQ(RiverDelay(), kinds[0] == 2 ? 30 : 0);
        RunIteration(g_solvedTree);
    }
}

// The traffic counters hold what the walks' passes moved: the bytes each stream's coders pushed
// and took. Tree storage allocation zeroes them.
TEST_F(CompressedLevels, TrafficIsWhatTheStreamsMoved) {
    ASSERT_TRUE(Build(kLevel4));
    EXPECT_EQ(g_storage_io.bytesRead.load(), 0);
    EXPECT_EQ(g_storage_io.bytesWritten.load(), 0);
    RunIteration(g_solvedTree);  // writes the first rows
    RunIteration(g_solvedTree);
    int64_t pushed = 0, taken = 0;
    for (bool sums : {false, true})
        for (CompressedRiverStorage* s : RiverStorages(g_solvedTree, sums))
            for (int32_t t = 0; t < s->layout()->turnCount; ++t)
                if (auto* own = dynamic_cast<CompressedStorageStream*>(s->ownStream(int32_t(t)))) {
                    pushed += own->bytesPushed();
                    taken += own->bytesTaken();
                }
    EXPECT_GT(pushed, 0);
    EXPECT_GT(taken, 0);
    EXPECT_EQ(g_storage_io.bytesWritten.load(), pushed);
    EXPECT_EQ(g_storage_io.bytesRead.load(), taken);
    ASSERT_TRUE(libsubgame_reset_progress(kLevel4));
    EXPECT_EQ(g_storage_io.bytesRead.load(), 0);
    EXPECT_EQ(g_storage_io.bytesWritten.load(), 0);
}

// Fourteen iterations into averaging the streams of level 4 hold at most 0.65 of level 2's
// bytes, level 3's lie between.
TEST_F(CompressedLevels, LongLevelFourHoldsLessThanLevelTwo) {
    int64_t held[3];
    const int32_t* levels[3] = {kLevel2, kLevel3, kLevel4};
    for (int l = 0; l < 3; ++l) {
        ASSERT_TRUE(Build(levels[l]));
        const int64_t base = g_storage_io.heldBytes.load();
        for (int i = 0; i < kFirstAveragedIteration + 14; ++i) RunIteration(g_solvedTree);
        held[l] = g_storage_io.heldBytes.load() - base;
    }
    EXPECT_LE(double(held[2]), 0.65 * double(held[0]));
    EXPECT_LT(held[1], held[0]);
    EXPECT_GT(held[1], held[2]);
}

// Under level 2's schedule (no river delay, river sums on every averaging iteration) the three
// pairs of stream kinds solve alike bit for bit: every stream kind gives back exactly the rows
// it was given. On 1 thread with the scalar river path and on 8 with the default one.
TEST_F(CompressedLevels, LongPairsSolveAlikeUnderLevelTwosSchedule) {
    struct Run {
        std::vector<uint32_t> regrets, sums;
        double figures[4];
    };
    const int32_t simdDefault = simd_level.load();
    const int32_t configs[2][2] = {{1, 1}, {8, simdDefault}};
    for (const auto& config : configs) {
        const int threads = config[0];
        const int32_t simd = config[1];
        {
            SCOPED_TRACE(testing::Message() << threads << " threads, simd " << simd);
            libsubgame_set_thread_count(threads);
            simd_level.store(simd);
            std::vector<Run> runs;
            for (const int32_t* kinds : {kLevel2, kLevel3, kLevel4}) {
                ASSERT_TRUE(Build(kinds));
                SetSolverDefaults(g_solvedTree, kLevel2);  // the schedule, not the storages
                // Past the first averaged iteration, so the sums take part too.
                for (int i = 0; i < kFirstAveragedIteration + 24; ++i) RunIteration(g_solvedTree);
                Run r;
                double r0[2], r1[2];
                const BestResponseResult br = CalcBestResponse(g_solvedTree, r0, r1, kModeEvaluate);
                r.figures[0] = br.exploitability;
                r.figures[1] = r0[0];
                r.figures[2] = r1[0];
                r.figures[3] = r0[1];
                r.regrets = RiverValues(g_solvedTree, false, 1 << 30);
                r.sums = RiverValues(g_solvedTree, true, 1 << 30);
                runs.push_back(std::move(r));
            }
            for (size_t k = 1; k < runs.size(); ++k) {
                EXPECT_EQ(runs[k].regrets, runs[0].regrets) << "pair " << k;
                EXPECT_EQ(runs[k].sums, runs[0].sums) << "pair " << k;
                for (int f = 0; f < 4; ++f) EXPECT_EQ(runs[k].figures[f], runs[0].figures[f]);
            }
            EXPECT_TRUE(std::any_of(runs[0].sums.begin(), runs[0].sums.end(),
                                    [](uint32_t v) { return v != 0; }));
        }
    }
    simd_level.store(simdDefault);
}

}  // namespace
