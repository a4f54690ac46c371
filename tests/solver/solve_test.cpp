// Whole solves through the library: a river equilibrium known in closed form, the stop rules on
// a real tree, determinism across thread counts, isomorphic job counts, the traversal's lock,
// pass-0 and stored-value rules, the runout walks and the subgame re-solve.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cards/hand_evaluator.h"
#include "cards/hand_set.h"
#include "solver/chance_nodes.h"
#include "solver/iterations.h"
#include "solver/runout_walks.h"
#include "solver/solved_tree.h"
#include "solver/solver_defaults.h"
#include "solver/solver_settings.h"
#include "solver/solver_thread.h"
#include "solver/subgame_resolve.h"
#include "solver/traversal.h"
#include "solver_test_games.h"
#include "storage/lock_record.h"
#include "storage/node_data.h"
#include "storage/river_storage.h"
#include "storage/storage_interface.h"
#include "storage/storage_stream.h"
#include "storage/turn_storage.h"
#include "utilities/kernel_switches.h"

namespace {

using namespace testgames;

void AddCombos(std::vector<double>& range, CardMask board, int rankA, int rankB) {
    for (int s1 = 0; s1 < 4; ++s1)
        for (int s2 = 0; s2 < 4; ++s2) {
            const int a = MakeCard(rankA, s1), b = MakeCard(rankB, s2);
            if (a == b || (board & (CardBit(a) | CardBit(b)))) continue;
            range[ComboIndex(std::min(a, b), std::max(a, b))] = 1.0;
        }
}

int Combo(const char* text) {
    const CardMask m = Cards(text);
    return ComboIndex(LowestCard(m), HighestCard(m));
}

class Solve : public ::testing::Test {
protected:
    void SetUp() override {
        InitHandEvalTables();
        simdBefore_ = simd_level.load();
        simd_level.store(1);
        threadsBefore_ = libsubgame_get_thread_count();
        libsubgame_set_thread_count(2);  // the test machine is shared
    }
    void TearDown() override {
        libsubgame_finish_solver();
        simd_level.store(simdBefore_);
        libsubgame_set_thread_count(threadsBefore_);
        libsubgame_set_target_accuracy(0.0);
    }
    bool Ready() const { return g_solvedTree && TreeHasStorages(g_solvedTree); }
    int32_t simdBefore_ = 8, threadsBefore_ = 1;
};

#define REQUIRE_STORAGES() \
    if (!Ready()) GTEST_SKIP() << "the storage factory makes no storages yet"

// Pot 100; OOP bets 50 or checks, IP calls or folds and checks behind. OOP: AA (beats all) and
// 65 (loses to all); IP: JJ only, no card shared between classes. Indifference: IP calls
// P / (P + B) = 2/3; OOP bets all AA and bluffs V * B / (P + B) = 2 of 16 combinations of 65.
TEST_F(Solve, PolarisedRiverReachesTheClosedFormEquilibrium) {
    const CardMask board = Cards("Kh Qd 7c 4s 2h");
    const std::vector<TreeLine> lines = {
        {0, -1, 0, 3, 0.0}, {0, 0, 1, 3, 0.0}, {1, 1, -1, -1, 100},
        {2, 1, -1, -1, 50}, {0, 0, 1, 3, 0.0}, {1, 4, -1, -1, 50},
    };
    std::vector<double> r0(1326, 0.0), r1(1326, 0.0);
    AddCombos(r0, board, 12, 12);
    AddCombos(r0, board, 4, 3);
    AddCombos(r1, board, 9, 9);
    ASSERT_TRUE(BuildTree(Cards("Kh Qd 7c"), LowestCard(Cards("4s")), LowestCard(Cards("2h")),
                          lines, r0, r1));
    REQUIRE_STORAGES();
    libsubgame_set_target_accuracy(0.001 * 100);
    // The game is so small that thousands of iterations fit in the 250 ms gap between checks:
    // a clock that jumps a second per reading makes every 25th iteration a check.
    static std::atomic<int64_t> fakeNanos{0};
    SetSolverClock([] { return fakeNanos.fetch_add(1000000000); });
    testing::internal::CaptureStdout();
    ASSERT_EQ(libsubgame_start_solver(0, 0), 1);
    libsubgame_wait_solver();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("SOLVER: stopped (required accuracy reached)"), std::string::npos)
        << out << " at iteration " << g_solvedTree->iteration;
    SetSolverClock(nullptr);

    SolvedTree* tree = g_solvedTree;
    const int t = tree->rootTurnRecord, r = tree->rootRiverRecord;
    const RiverRecord& record = tree->hands->records[t].rivers[r];
    auto freq = [&](int node, const char* hand) {
        std::vector<PooledArray> s = EvaluationStrategy(tree, &tree->nodes[node], t, r);
        const double f = s[0].data[static_cast<int16_t>(record.index[Combo(hand)])];
        ReleaseRows(s);
        return f;
    };
    EXPECT_NEAR(freq(0, "AcAd"), 1.0, 0.02);
    double bluff = 0;
    for (const char* hand : {"6c5c", "6c5d", "6d5h", "6h5s", "6s5d"}) bluff += freq(0, hand) / 5;
    EXPECT_NEAR(bluff, 0.125, 0.02);
    EXPECT_NEAR(freq(1, "JcJd"), 2.0 / 3.0, 0.02);

    IterationLogRecord result{};
    libsubgame_calc_results(&result);
    const double pot = 100, h = pot / 2;
    EXPECT_NEAR((h + result.value0) + (h + result.value1), pot, 0.01);
    EXPECT_GE(result.bestResponse0, result.value0 - 1e-9);
    EXPECT_GE(result.bestResponse1, result.value1 - 1e-9);
    EXPECT_NEAR(
        result.exploitability,
        ((result.bestResponse0 - result.value0) + (result.bestResponse1 - result.value1)) / 2,
        1e-9);
    EXPECT_LE(result.exploitability, 0.001 * pot);
}

Spot MakeRiverSpot() {
    Spot s;
    s.flop = Cards("Td 9d 6h");
    s.turn = LowestCard(Cards("Qc"));
    s.river = LowestCard(Cards("3s"));
    LineBuilder b;
    b.stack = 400;
    s.lines = b.Build(3);
    s.r0 = RandomRange(s.flop | CardBit(s.turn) | CardBit(s.river), 40, 3);
    s.r1 = RandomRange(s.flop | CardBit(s.turn) | CardBit(s.river), 40, 4);
    return s;
}

TEST_F(Solve, StepBudgetAndNewTreeFlag) {
    const Spot s = MakeRiverSpot();
    ASSERT_TRUE(BuildTree(s.flop, s.turn, s.river, s.lines, s.r0, s.r1));
    REQUIRE_STORAGES();
    std::string flags;
    libsubgame_tree_flags_text(&flags);
    EXPECT_EQ(flags, "NEW_TREE");
    for (int i = 0; i < 40; ++i) RunIteration(g_solvedTree);
    libsubgame_tree_flags_text(&flags);
    EXPECT_EQ(flags, "");
    testing::internal::CaptureStdout();
    ASSERT_EQ(libsubgame_start_solver(10, 1), 1);
    libsubgame_wait_solver();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(g_solvedTree->iteration, 50);
    EXPECT_NE(out.find("SOLVER: stopped (required number of steps done)"), std::string::npos);
    // One progress block at the first check (iteration 50 is past 25: 25 + k * 25).
    uint32_t count = 5;
    EXPECT_EQ(libsubgame_copy_iteration_log(&count), nullptr) << "log unreachable after the end";
}

TEST_F(Solve, IncompleteTreeIsRefused) {
    const Spot s = MakeRiverSpot();
    ASSERT_TRUE(BuildTree(s.flop, s.turn, s.river, s.lines, s.r0, s.r1));
    REQUIRE_STORAGES();
    g_solvedTree->flags |= kTreeIncomplete;
    EXPECT_EQ(libsubgame_start_solver(0, 0), 0);
    EXPECT_EQ(libsubgame_tree_complete(), 0u);
    const int32_t before = g_solvedTree->iteration;
    libsubgame_solve_all_splits(3);
    EXPECT_EQ(g_solvedTree->iteration, before);
    g_solvedTree->flags &= ~kTreeIncomplete;
}

// Every stored float of every node, in node order (regrets, then sums).
std::vector<float> Snapshot() {
    std::vector<float> all;
    SolvedTree* tree = g_solvedTree;
    for (TreeNode& node : tree->nodes) {
        for (StorageInterface* st : {node.regrets, node.strategySums}) {
            if (!st) continue;
            if (auto* t = dynamic_cast<TurnStorage*>(st)) {
                for (int u = 0; u < t->unitCount(); ++u)
                    for (size_t a = 0; a < node.children.size(); ++a) {
                        const StorageRow& row = t->unit(u).row(static_cast<int>(a));
                        all.insert(all.end(), row.data, row.data + row.count);
                    }
            } else if (auto* r = dynamic_cast<RiverStorage*>(st)) {
                const SubgameRecord& rec = tree->hands->records[0];
                for (size_t ri = 0; ri < rec.rivers.size(); ++ri)
                    for (size_t a = 0; a < node.children.size(); ++a) {
                        const float* p = r->row(0, static_cast<int>(ri), static_cast<int>(a));
                        all.insert(all.end(), p, p + rec.rivers[ri].hands.size());
                    }
            }
        }
    }
    return all;
}

Spot MakeTurnSpot() {
    Spot s;
    s.flop = Cards("Kd 7c 2h");
    s.turn = LowestCard(Cards("8s"));
    s.river = -1;
    LineBuilder b;
    b.stack = 300;
    b.raisesPerStreet = 0;
    s.lines = b.Build(2);
    s.r0 = RandomRange(s.flop | CardBit(s.turn), 40, 5);
    s.r1 = RandomRange(s.flop | CardBit(s.turn), 40, 6);
    return s;
}

// Release-only: a hundred iterations twice.
class LongSolve : public Solve {};

TEST_F(LongSolve, TurnRootBitIdenticalForOneAndEightThreads) {
    const Spot s = MakeTurnSpot();
    std::vector<float> rows[2];
    IterationLogRecord results[2];
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(BuildTree(s.flop, s.turn, s.river, s.lines, s.r0, s.r1));
        REQUIRE_STORAGES();
        libsubgame_set_thread_count(run == 0 ? 1 : 8);
        for (int i = 0; i < 100; ++i) RunIteration(g_solvedTree);
        rows[run] = Snapshot();
        libsubgame_calc_results(&results[run]);
    }
    ASSERT_EQ(rows[0].size(), rows[1].size());
    EXPECT_EQ(std::memcmp(rows[0].data(), rows[1].data(), rows[0].size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(&results[0], &results[1], sizeof(IterationLogRecord)), 0);
}

TEST_F(Solve, PassZeroChangesNoStorageAndLocksKeepRows) {
    const Spot s = MakeTurnSpot();
    ASSERT_TRUE(BuildTree(s.flop, s.turn, s.river, s.lines, s.r0, s.r1));
    REQUIRE_STORAGES();
    for (int i = 0; i < 62; ++i) RunIteration(g_solvedTree);
    SolvedTree* tree = g_solvedTree;

    // Pass 0 of a regret-update traversal records jobs and touches no storage.
    const std::vector<float> before = Snapshot();
    tree->traverser = 0;
    tree->mode = kModeUpdate;
    tree->pass = kPassRecordJobs;
    TraversalContext root;
    root.tree = tree;
    root.node = &tree->nodes[0];
    root.turn = tree->rootTurnRecord;
    root.river = -1;
    ConstructPooledArray(&root.opponentReach, static_cast<int32_t>(tree->rootRows[1].size()), false,
                         false);
    std::memcpy(root.opponentReach.data, tree->rootRows[1].data(),
                tree->rootRows[1].size() * sizeof(float));
    TraverseNode(&root);
    EXPECT_FALSE(SubgameJobs().empty());
    DeleteSubgameJobs();
    ReleaseFourRows(&root);
    EXPECT_EQ(Snapshot(), before);

    // A locked node keeps its regrets and receives no sums, while its neighbours change.
    TreeNode* locked = &tree->nodes[0];
    locked->regrets->flagsPtr(tree->rootTurnRecord, -1)->flags |= 1u;
    auto rowOf = [&](StorageInterface* st) {
        const StorageRow& row = dynamic_cast<TurnStorage*>(st)->unit(0).row(0);
        return std::vector<float>(row.data, row.data + row.count);
    };
    const std::vector<float> regrets = rowOf(locked->regrets);
    const std::vector<float> sums = rowOf(locked->strategySums);
    RunIteration(tree);
    EXPECT_EQ(rowOf(locked->regrets), regrets);
    EXPECT_EQ(rowOf(locked->strategySums), sums);
    EXPECT_NE(Snapshot(), before);
    locked->regrets->flagsPtr(tree->rootTurnRecord, -1)->flags &= ~1u;
}

TEST_F(Solve, IsomorphicTurnJobCounts) {
    struct Case {
        const char* flop;
        size_t jobs;
    };
    for (const Case& c : {Case{"Kd 7c 2h", 49}, Case{"Td 9d 6h", 36}, Case{"Ks 8s 3s", 23}}) {
        LineBuilder b;
        b.stack = 100;
        b.raisesPerStreet = 0;
        const std::vector<TreeLine> lines = b.Build(1);
        const CardMask flop = Cards(c.flop);
        // Whole hand classes: ranges symmetric in the suits the flop leaves alike.
        std::vector<double> r0(1326, 0.0), r1(1326, 0.0);
        AddCombos(r0, flop, 12, 12);
        AddCombos(r0, flop, 10, 9);
        AddCombos(r1, flop, 11, 11);
        AddCombos(r1, flop, 4, 3);
        ASSERT_TRUE(BuildTree(flop, -1, -1, lines, r0, r1, true));
        REQUIRE_STORAGES();
        SolvedTree* tree = g_solvedTree;
        EXPECT_EQ(tree->hands->records.size(), c.jobs) << c.flop;
        // Pass 0 of a traversal: every turn chance visit records one job per record.
        tree->traverser = 0;
        tree->mode = kModeUpdate;
        tree->pass = kPassRecordJobs;
        TraversalContext root;
        root.tree = tree;
        root.node = &tree->nodes[0];
        ConstructPooledArray(&root.opponentReach, static_cast<int32_t>(tree->rootRows[1].size()),
                             false, false);
        std::memcpy(root.opponentReach.data, tree->rootRows[1].data(),
                    tree->rootRows[1].size() * sizeof(float));
        TraverseNode(&root);
        std::map<const TreeNode*, size_t> perVisit;
        for (const SubgameJob* job : SubgameJobs()) ++perVisit[job->node];
        EXPECT_FALSE(perVisit.empty());
        for (const auto& [node, jobs] : perVisit) EXPECT_EQ(jobs, c.jobs) << c.flop;
        DeleteSubgameJobs();
        ReleaseFourRows(&root);
    }
}

TEST_F(Solve, JobsStartCostliestFirstAndEqualCostsInRecordingOrder) {
    const Spot s = MakeTurnSpot();
    ASSERT_TRUE(BuildTree(s.flop, s.turn, s.river, s.lines, s.r0, s.r1));
    REQUIRE_STORAGES();
    SolvedTree* tree = g_solvedTree;
    tree->traverser = 1;
    tree->mode = kModeUpdate;
    tree->pass = kPassRecordJobs;
    TraversalContext root;
    root.tree = tree;
    root.node = &tree->nodes[0];
    root.turn = tree->rootTurnRecord;
    root.river = -1;
    ConstructPooledArray(&root.opponentReach, static_cast<int32_t>(tree->rootRows[0].size()), false,
                         false);
    std::memcpy(root.opponentReach.data, tree->rootRows[0].data(),
                tree->rootRows[0].size() * sizeof(float));
    TraverseNode(&root);
    const std::vector<SubgameJob*> recorded = SubgameJobs();
    std::vector<TreeNode*> visits;  // chance nodes in recording order
    for (SubgameJob* job : recorded)
        if (visits.empty() || visits.back() != job->node) visits.push_back(job->node);
    ASSERT_GE(visits.size(), 3u);
    ASSERT_GT(recorded.size(), visits.size());

    // Equal costs, measured or not: recording order.
    for (int cost : {-1, 7}) {
        for (TreeNode* n : visits) n->jobCost[1].store(cost);
        EXPECT_EQ(JobRunOrder(), recorded) << cost;
    }
    // The costliest visit first, the unmeasured last, equal costs between in recording order;
    // the other traverser's costs play no part.
    for (TreeNode* n : visits) n->jobCost[0].store(1000 - static_cast<int>(n - &tree->nodes[0]));
    visits[1]->jobCost[1].store(9);
    visits[0]->jobCost[1].store(-1);
    std::vector<SubgameJob*> expected;
    for (SubgameJob* job : recorded)
        if (job->node == visits[1]) expected.push_back(job);
    for (SubgameJob* job : recorded)
        if (job->node != visits[0] && job->node != visits[1]) expected.push_back(job);
    for (SubgameJob* job : recorded)
        if (job->node == visits[0]) expected.push_back(job);
    EXPECT_EQ(JobRunOrder(), expected);
    // Outside mode 1 the order is the recording order whatever the costs.
    tree->mode = kModeEvaluate;
    EXPECT_EQ(JobRunOrder(), recorded);
    for (TreeNode* n : visits) {
        n->jobCost[0].store(-1);
        n->jobCost[1].store(-1);
    }
    DeleteSubgameJobs();
    ReleaseFourRows(&root);
}

TEST_F(Solve, RiverSubgamesOfATurnRootAreResolved) {
    const Spot s = MakeTurnSpot();
    ASSERT_TRUE(BuildTree(s.flop, s.turn, s.river, s.lines, s.r0, s.r1));
    REQUIRE_STORAGES();
    for (int i = 0; i < 3; ++i) RunIteration(g_solvedTree);
    const std::vector<float> before = Snapshot();
    libsubgame_solve_all_splits(3);
    EXPECT_NE(Snapshot(), before) << "street 3 re-solves the river subgames";
    EXPECT_EQ(g_solvedTree->iteration, 3);
}

TEST(RunoutConversions, GatherGivesNanExactlyOffTheList) {
    uint16_t table[1326];
    for (int i = 0; i < 1326; ++i) table[i] = i % 3 == 0 ? static_cast<uint16_t>(i / 3) : 0xFFFF;
    PooledArray row;
    ConstructPooledArray(&row, 442, true, false);
    for (int i = 0; i < 442; ++i) row.data[i] = static_cast<float>(i) + 0.5f;
    float out[1326];
    GatherByIndex(out, row, table, true);
    for (int i = 0; i < 1326; ++i) {
        if (i % 3 == 0) {
            EXPECT_EQ(out[i], static_cast<float>(i / 3) + 0.5f);
        } else {
            uint32_t bits;
            std::memcpy(&bits, &out[i], 4);
            EXPECT_EQ(bits, 0x7FC00000u);
        }
    }
    GatherByIndex(out, row, table, false);
    EXPECT_EQ(out[1], 0.0f);
    double values[1326];
    for (int i = 0; i < 1326; ++i) values[i] = -i;
    ScatterComboValues(row, values, table);
    EXPECT_EQ(row.data[5], -15.0f);
    ReleasePooledArray(&row);
}

}  // namespace

namespace {

TEST(EvBoost, ScalesEachChildKindAsWritten) {
    TreeNode node, fold, showdown, same, later;
    node.street = 2;
    fold.kind = 2;
    showdown.kind = 1;
    showdown.street = 3;
    same.street = 2;
    later.street = 3;
    auto boosted = [&](TreeNode& child, float b) {
        child.evBoost = b;
        PooledArray row;
        ConstructPooledArray(&row, 2, false, false);
        row.data[0] = 2.0f;
        row.data[1] = -3.0f;
        ApplyEvBoost(&node, &child, &row);
        std::pair<float, float> out{row.data[0], row.data[1]};
        ReleasePooledArray(&row);
        return out;
    };
    EXPECT_EQ(boosted(fold, 0.5f), std::make_pair(1.0f, -1.5f));
    EXPECT_EQ(boosted(showdown, 0.5f), std::make_pair(3.0f, -2.0f));
    EXPECT_EQ(boosted(later, 0.5f), std::make_pair(3.0f, -2.0f));
    EXPECT_EQ(boosted(same, 0.5f), std::make_pair(3.0f, -3.0f));
    EXPECT_EQ(boosted(same, 0.0f), std::make_pair(2.0f, -3.0f));
}

namespace {

class NullStream : public StorageStreamInterface {
public:
    std::atomic<int64_t> bytes{0};
    int64_t reset() override { return 0; }
    void finish() override {}
    bool hasData() const override { return false; }
    void rewind() override {}
    std::atomic<int64_t>* tallyBytes() override { return &bytes; }
    int64_t writeRow(const uint32_t*, const uint32_t*, int32_t) override { return 0; }
    int64_t writeRow16(const uint16_t*, const uint16_t*, int32_t) override { return 0; }
    int64_t readRow(uint32_t*, const uint32_t*, int32_t) override { return 0; }
    int64_t readRow16(uint16_t*, const uint16_t*, int32_t) override { return 0; }
    void save(BinaryWriter&) override {}
    void load(BinaryReader*) override {}
    void raiseReserve(int64_t) override {}
};

struct WalkStep {
    int node;
    StorageStreamInterface* in;
    StorageStreamInterface* out;
};

// Records the walk's calls; the first call of a player hands out that player's stream.
class WalkRecorder : public StorageInterface {
public:
    int node = 0;
    int player = 0;
    std::vector<WalkStep>* unpacks = nullptr;
    std::vector<WalkStep>* packs = nullptr;
    NullStream* streams = nullptr;
    LockRecord record;
    bool reset() override { return true; }
    int32_t numHands(int32_t, int32_t) const override { return 0; }
    void getStrategy(PooledArray*, int32_t, int32_t, const float*) override {}
    void setAction(int32_t, int32_t, int32_t, const PooledArray&) override {}
    void updateRegrets(int32_t, int32_t, const PooledArray&, const PooledArray*,
                       const std::vector<int16_t>*, double) override {}
    void accumulateStrategy(int32_t, int32_t, const PooledArray*, const PooledArray&,
                            float) override {}
    int64_t size(int32_t) const override { return 0; }
    void save(BinaryWriter&) override {}
    void load(BinaryReader&) override {}
    LockRecord* flagsPtr(int32_t, int32_t) override { return &record; }
    StorageStreamInterface* unpack(StorageStreamInterface* in, int32_t, int32_t) override {
        StorageStreamInterface* out = in ? in : &streams[player];
        unpacks[player].push_back({node, in, out});
        return out;
    }
    StorageStreamInterface* pack(StorageStreamInterface* in, int32_t, bool) override {
        StorageStreamInterface* out = in ? in : &streams[player];
        packs[player].push_back({node, in, out});
        return out;
    }
};

void PreOrder(const SolvedTree* tree, int index, std::vector<int> order[2]) {
    const TreeNode& n = tree->nodes[index];
    if (n.kind != 0) return;
    order[n.player].push_back(index);
    for (int32_t c : n.children) PreOrder(tree, c, order);
}

}  // namespace

TEST_F(Solve, RiverWalksThreadOneStreamPerPlayerInPreOrder) {
    const Spot s = MakeTurnSpot();
    ASSERT_TRUE(BuildTree(s.flop, s.turn, s.river, s.lines, s.r0, s.r1));
    SolvedTree* tree = g_solvedTree;
    int top = -1;
    for (size_t i = 0; i < tree->nodes.size() && top < 0; ++i) {
        const TreeNode& n = tree->nodes[i];
        if (n.kind != 0 || n.street >= 3) continue;
        for (int32_t c : n.children)
            if (top < 0 && tree->nodes[c].kind == 0 && tree->nodes[c].street == 3) top = c;
    }
    ASSERT_GE(top, 0);
    std::vector<int> expected[2];
    PreOrder(tree, top, expected);
    ASSERT_FALSE(expected[0].empty());
    ASSERT_FALSE(expected[1].empty());

    std::vector<WalkStep> unpacks[2], packs[2];
    NullStream streams[2];
    std::vector<std::pair<TreeNode*, StorageInterface*>> saved;
    for (int p = 0; p < 2; ++p)
        for (int index : expected[p]) {
            auto* fake = new WalkRecorder;
            fake->node = index;
            fake->player = p;
            fake->unpacks = unpacks;
            fake->packs = packs;
            fake->streams = streams;
            saved.emplace_back(&tree->nodes[index], tree->nodes[index].regrets);
            tree->nodes[index].regrets = fake;
        }
    OpenRiverKind(tree, &tree->nodes[top], tree->rootTurnRecord, 0, WalkRule::All);
    CloseRiverKind(tree, &tree->nodes[top], tree->rootTurnRecord, 0, WalkRule::All);
    for (int p = 0; p < 2; ++p) {
        for (const std::vector<WalkStep>* steps : {&unpacks[p], &packs[p]}) {
            ASSERT_EQ(steps->size(), expected[p].size()) << p;
            for (size_t i = 0; i < steps->size(); ++i) {
                EXPECT_EQ((*steps)[i].node, expected[p][i]) << p << " " << i;
                // The player's own stream, threaded from call to call.
                EXPECT_EQ((*steps)[i].in, i == 0 ? nullptr : (*steps)[i - 1].out) << p;
                EXPECT_EQ((*steps)[i].out, &streams[p]) << p;
            }
        }
    }
    for (auto& [node, original] : saved) {
        delete node->regrets;
        node->regrets = original;
    }
}

}  // namespace
