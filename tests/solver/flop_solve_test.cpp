// Flop-rooted solves: turn jobs with inline rivers at every storage level, the river subtree
// walks behind them, and the locks queries take.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "cards/hand_evaluator.h"
#include "cards/hand_set.h"
#include "reference_cfr.h"
#include "solver/chance_nodes.h"
#include "solver/iterations.h"
#include "solver/runout_walks.h"
#include "solver/solved_tree.h"
#include "solver/solver_settings.h"
#include "solver/solver_thread.h"
#include "solver/subgame_resolve.h"
#include "solver/traversal.h"
#include "solver_test_games.h"
#include "storage/storage_interface.h"
#include "utilities/kernel_switches.h"

namespace {

using namespace testgames;

class FlopSolve : public ::testing::Test {
protected:
    void SetUp() override {
        InitHandEvalTables();
        simdBefore_ = simd_level.load();
        simd_level.store(1);
        threadsBefore_ = libsubgame_get_thread_count();
        libsubgame_set_thread_count(2);
    }
    void TearDown() override {
        simd_level.store(simdBefore_);
        libsubgame_set_thread_count(threadsBefore_);
    }
    // A flop game: one bet size, no raises, check or bet on every street.
    bool Build(const char* flop, const int32_t kinds[2], bool isomorphism, uint32_t seed) {
        LineBuilder b;
        b.stack = 150;
        b.raisesPerStreet = 0;
        const CardMask board = Cards(flop);
        std::vector<double> r0 = RandomRange(board, 14, seed),
                            r1 = RandomRange(board, 14, seed + 1);
        if (isomorphism) {
            // Symmetric ranges: the same weight for every suit variant of a hand class.
            r0.assign(1326, 0.0);
            r1.assign(1326, 0.0);
            for (int c = 0; c < 1326; ++c) {
                const CardMask m = ComboMask(c);
                if (m & board) continue;
                const int a = CardRank(HighestCard(m)), c2 = CardRank(LowestCard(m));
                const int hi = std::max(a, c2), lo = std::min(a, c2);
                if ((hi + 3 * lo + seed) % 11 == 0) r0[c] = 0.5 + (hi % 3) * 0.2;
                if ((hi * 5 + lo + seed) % 13 == 0) r1[c] = 0.4 + (lo % 4) * 0.15;
            }
        }
        return BuildTree(board, -1, -1, b.Build(1), r0, r1, isomorphism, kinds);
    }
    int32_t simdBefore_ = 8, threadsBefore_ = 1;
};

// Release-only: hundreds of flop iterations.
class LongFlopSolve : public FlopSolve {};

double Exploitability() {
    double r0[2], r1[2];
    return CalcBestResponse(g_solvedTree, r0, r1, kModeEvaluate).exploitability;
}

TEST_F(LongFlopSolve, EveryStorageLevelConvergesAndAgrees) {
    // Levels 0, 1 and 2: plain river rows, packed river sums, packed regrets and sums.
    const int32_t levels[3][2] = {{0, 0}, {0, 1}, {1, 1}};
    double at[3][2];
    for (int level = 0; level < 3; ++level) {
        ASSERT_TRUE(Build("Kd 7c 2h", levels[level], false, 40));
        if (!TreeHasStorages(g_solvedTree)) GTEST_SKIP() << "no storages yet";
        for (int i = 0; i < 25; ++i) RunIteration(g_solvedTree);
        at[level][0] = Exploitability();
        for (int i = 0; i < 75; ++i) RunIteration(g_solvedTree);
        at[level][1] = Exploitability();
        EXPECT_LT(at[level][1], at[level][0]) << "level " << level;
        EXPECT_TRUE(std::isfinite(at[level][1]));
    }
    // The regrets' 16-bit rows pack losslessly, so levels 1 and 2 solve alike bit for bit; the
    // packed strategy sums (levels 1 and 2) are integer counts, so level 0's float sums give a
    // slightly different average.
    EXPECT_EQ(at[1][1], at[2][1]);
    EXPECT_NEAR(at[0][1], at[1][1], 0.1 * at[0][1]);
}

TEST_F(FlopSolve, LockNodeStorageOpensEveryStorageAndWritesBackOnRequest) {
    const int32_t packed[2] = {1, 1};
    ASSERT_TRUE(Build("Kd 7c 2h", packed, false, 40));
    if (!TreeHasStorages(g_solvedTree)) GTEST_SKIP() << "no storages yet";
    for (int i = 0; i < 65; ++i) RunIteration(g_solvedTree);
    SolvedTree* tree = g_solvedTree;
    TreeNode* river = nullptr;
    for (TreeNode& node : tree->nodes)
        if (node.kind == 0 && node.street == 3 && node.strategySums) {
            river = &node;
            break;
        }
    ASSERT_NE(river, nullptr);
    const int turn = 0, r = 0;
    const int n = static_cast<int>(river->children.size());
    std::vector<float> defaults(n, 0.25f);

    // After the solve (mode 1, traverser 0) every storage opens, both kinds, both players:
    // reading every strategy is safe.
    LockNodeStorage(river, turn);
    std::vector<PooledArray> rows(n);
    river->strategySums->getStrategy(rows.data(), turn, r, defaults.data());
    river->regrets->getStrategy(rows.data(), turn, r, defaults.data());
    const int hands = rows[0].count;
    ASSERT_GT(hands, 0);
    // The action hand 0 plays least; an edit of its regrets to a huge value makes it pure.
    int least = 0;
    for (int a = 1; a < n; ++a)
        if (rows[a].data[0] < rows[least].data[0]) least = a;
    const float original = rows[least].data[0];
    ASSERT_LT(original, 0.9f);
    PooledArray edit;
    ConstructPooledArray(&edit, hands, true, false);
    for (int i = 0; i < hands; ++i) edit.data[i] = 1e6f;
    river->regrets->setAction(turn, r, least, edit);
    river->regrets->getStrategy(rows.data(), turn, r, defaults.data());
    EXPECT_GT(rows[least].data[0], 0.99f);
    // Closed without write-back, the edit is gone; with write-back it stays.
    UnlockNodeStorage(river, turn, false);
    LockNodeStorage(river, turn);
    river->regrets->getStrategy(rows.data(), turn, r, defaults.data());
    EXPECT_FLOAT_EQ(rows[least].data[0], original);
    river->regrets->setAction(turn, r, least, edit);
    UnlockNodeStorage(river, turn, true);
    LockNodeStorage(river, turn);
    river->regrets->getStrategy(rows.data(), turn, r, defaults.data());
    EXPECT_GT(rows[least].data[0], 0.99f);
    UnlockNodeStorage(river, turn, false);
    ReleaseRows(rows);
    ReleasePooledArray(&edit);
}

TEST_F(LongFlopSolve, SplitsResolveKeepsTheExploitabilityClose) {
    const int32_t plain[2] = {0, 0};
    ASSERT_TRUE(Build("Kd 7c 2h", plain, false, 40));
    if (!TreeHasStorages(g_solvedTree)) GTEST_SKIP() << "no storages yet";
    for (int i = 0; i < 100; ++i) RunIteration(g_solvedTree);
    const double before = Exploitability();
    libsubgame_solve_all_splits(3);
    const double rivers = Exploitability();
    libsubgame_solve_all_splits(2);
    const double turns = Exploitability();
    EXPECT_EQ(g_solvedTree->iteration, 100);
    // Each subgame is re-solved against fixed beliefs (the stored reach rows, scaled to sum
    // 200, so the new regrets and sums outweigh the old): the players' earlier play no longer
    // adapts to it, so a game this close to equilibrium (0.025 at pot 100) loses a few
    // hundredths of a chip. Beliefs taken from the average strategy do little better, more
    // repetitions do not help, and scaling the rows to 2e4 gives the same figure: no 16-bit
    // regret runs past its range. The re-solve must change the strategies and stay within
    // 0.05 % of the pot.
    const double pot = 100;
    EXPECT_TRUE(std::isfinite(rivers) && std::isfinite(turns));
    EXPECT_NE(rivers, before);
    EXPECT_NE(turns, rivers);
    EXPECT_LT(rivers, before + 0.0005 * pot);
    EXPECT_LT(turns, before + 0.0005 * pot);
}

TEST_F(FlopSolve, IncompleteTreeEvaluatesFromTheChanceNodesStoredRows) {
    const int32_t plain[2] = {0, 0};
    ASSERT_TRUE(Build("Kd 7c 2h", plain, false, 40));
    if (!TreeHasStorages(g_solvedTree)) GTEST_SKIP() << "no storages yet";
    for (int i = 0; i < 3; ++i) RunIteration(g_solvedTree);
    double a0[2], a1[2];
    const double before = CalcBestResponse(g_solvedTree, a0, a1, kModeEvaluate).exploitability;
    // Forget the turn and river as the forgetting would: their storages are gone, so a walk
    // that went below a turn chance node would fail.
    SolvedTree* tree = g_solvedTree;
    for (TreeNode& node : tree->nodes) {
        if (node.street < 2 || node.kind != 0) continue;
        delete node.regrets;
        delete node.strategySums;
        node.regrets = node.strategySums = nullptr;
        node.resident = 0;
    }
    tree->flags |= kTreeIncomplete;
    double b0[2], b1[2];
    const double after = CalcBestResponse(tree, b0, b1, kModeEvaluate).exploitability;
    EXPECT_EQ(after, before);
    EXPECT_EQ(b0[0], a0[0]);
    EXPECT_EQ(b1[1], a1[1]);
    tree->flags &= ~kTreeIncomplete;
    const int32_t kinds[2] = {0, 0};
    libsubgame_reset_progress(kinds);  // storages back for whatever runs next
}

// One best-response evaluation of a fresh flop tree (turn jobs, inline rivers, the scatter
// through the isomorphism maps and both chance weights) against the reference.
TEST_F(LongFlopSolve, FreshEvaluationMatchesTheReferenceWithAndWithoutIsomorphism) {
    const CardMask board = Cards("Td 9d 6h");
    LineBuilder b;
    b.stack = 150;
    b.raisesPerStreet = 0;
    const std::vector<TreeLine> lines = b.Build(1);
    std::vector<double> r0(1326, 0.0), r1(1326, 0.0);
    for (int c = 0; c < 1326; ++c) {
        const CardMask m = ComboMask(c);
        if (m & board) continue;
        const int a = CardRank(HighestCard(m)), b = CardRank(LowestCard(m));
        const int hi = std::max(a, b), lo = std::min(a, b);
        if ((hi == 10 && lo == 9) || (hi == lo && (hi == 12 || hi == 8))) r0[c] = 0.3 + 0.05 * hi;
        if ((hi == lo && (hi == 11 || hi == 5)) || (hi == 4 && lo == 3)) r1[c] = 0.9 - 0.04 * lo;
    }
    ReferenceCfr ref(ToReference(board, lines, r0, r1), 1.5, 262143.0);
    const RefEvaluation e = ref.Evaluate();
    const double scale = std::max({std::fabs(e.value[0]), std::fabs(e.value[1]),
                                   std::fabs(e.bestResponse[0]), std::fabs(e.bestResponse[1])});
    const int32_t plain[2] = {0, 0};
    for (bool isomorphism : {true, false}) {
        ASSERT_TRUE(BuildTree(board, -1, -1, lines, r0, r1, isomorphism, plain));
        if (!TreeHasStorages(g_solvedTree)) GTEST_SKIP() << "no storages yet";
        double p0[2], p1[2];
        CalcBestResponse(g_solvedTree, p0, p1, kModeEvaluate);
        EXPECT_NEAR(p0[1], e.value[0], 1e-5 * scale) << isomorphism;
        EXPECT_NEAR(p1[1], e.value[1], 1e-5 * scale) << isomorphism;
        EXPECT_NEAR(p0[0], e.bestResponse[0], 1e-5 * scale) << isomorphism;
        EXPECT_NEAR(p1[0], e.bestResponse[1], 1e-5 * scale) << isomorphism;
    }
}

}  // namespace
