// Forgetting late streets and re-solving one runout at its first query: the stored reach against
// an independent double computation, the re-solve's bookkeeping, the done bits, the refusals.
#include "solver/forgotten_streets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "cards/hand_evaluator.h"
#include "cards/hand_set.h"
#include "solver/chance_nodes.h"
#include "solver/iteration_log.h"
#include "solver/iteration_thresholds.h"
#include "solver/iterations.h"
#include "solver/node_edits.h"
#include "solver/node_runout.h"
#include "solver/runout_access.h"
#include "solver/runout_walks.h"
#include "solver/solved_tree.h"
#include "solver/solver_settings.h"
#include "solver/solver_thread.h"
#include "solver/strategy_queries.h"
#include "solver/subgame_resolve.h"
#include "solver/traversal.h"
#include "solver_test_games.h"
#include "storage/node_data.h"
#include "storage/row_kernels.h"
#include "storage/storage_interface.h"
#include "storage/storage_io_counters.h"

namespace {

using namespace testgames;

struct ForgetCase {
    const char* name;
    int32_t kinds[2];  // compression level 0 {0, 0}, 2 {1, 1}, 3 {1, 2} or 4 {2, 2}
    bool isomorphism;
    int rootStreet;  // 1 flop, 2 turn
    int street;      // forgotten: 2 turns, 3 rivers
};

const ForgetCase kCases[] = {{"FlopRiversLevel0", {0, 0}, false, 1, 3},
                             {"FlopTurnsLevel2", {1, 1}, false, 1, 2},
                             {"TurnRiversLevel0Iso", {0, 0}, true, 2, 3},
                             {"TurnRiversLevel2", {1, 1}, false, 2, 3},
                             {"FlopTurnsLevel3", {1, 2}, false, 1, 2}};
// Symmetric ranges on the flop hold more hands: minutes under the sanitizers, so Release only.
const ForgetCase kLongCases[] = {{"FlopRiversLevel2Iso", {1, 1}, true, 1, 3},
                                 {"FlopTurnsLevel0Iso", {0, 0}, true, 1, 2},
                                 {"FlopRiversLevel4Iso", {2, 2}, true, 1, 3}};

// A root of the forgotten street: its node and record.
struct Root {
    TreeNode* node;
    int32_t record;
};

class ForgottenStreets : public ::testing::TestWithParam<ForgetCase> {
protected:
    void SetUp() override {
        InitHandEvalTables();
        threadsBefore_ = libsubgame_get_thread_count();
        libsubgame_set_thread_count(2);
        // Half a percent of the pot: the re-solves stop at their first checks.
        libsubgame_set_recalc_accuracy(0.5, 0.5, 0.5);
    }
    void TearDown() override {
        libsubgame_set_thread_count(threadsBefore_);
        libsubgame_set_recalc_accuracy(0.0, 0.0, 0.0);
    }

    bool Build(const ForgetCase& c, uint32_t seed = 40, int combos = 14) {
        LineBuilder b;
        b.stack = 150;
        b.raisesPerStreet = 0;
        const CardMask flop = Cards("Kd 7c 2h");
        const int turn = c.rootStreet == 2 ? CardIndex("Qs") : -1;
        const CardMask board = flop | (turn >= 0 ? CardBit(turn) : 0);
        std::vector<double> r0 = RandomRange(board, combos, seed),
                            r1 = RandomRange(board, combos, seed + 1);
        if (c.isomorphism) {
            r0.assign(1326, 0.0);
            r1.assign(1326, 0.0);
            for (int k = 0; k < 1326; ++k) {
                const CardMask m = ComboMask(k);
                if (m & board) continue;
                const int a = CardRank(HighestCard(m)), d = CardRank(LowestCard(m));
                const int hi = std::max(a, d), lo = std::min(a, d);
                if ((hi + 3 * lo + seed) % 29 == 0) r0[k] = 0.5 + (hi % 3) * 0.2;
                if ((hi * 5 + lo + seed) % 31 == 0) r1[k] = 0.4 + (lo % 4) * 0.15;
            }
        }
        return BuildTree(flop, turn, -1, b.Build(c.rootStreet), r0, r1, c.isomorphism, c.kinds);
    }
    static int CardIndex(const char* text) {
        const CardMask m = Cards(text);
        for (int card = 0; card < 52; ++card)
            if (m & CardBit(card)) return card;
        return -1;
    }
    int32_t threadsBefore_ = 1;
};

std::vector<Root> RootsOf(SolvedTree* tree, int street) {
    std::vector<Root> roots;
    const int32_t records = static_cast<int32_t>(tree->hands->records.size());
    for (TreeNode& node : tree->nodes) {
        if (node.kind != 0 || node.street != street || !node.parentNode ||
            node.parentNode->street >= street)
            continue;
        if (street == 2) {
            roots.push_back({&node, 0});
        } else if (tree->rootStreet() == 2) {
            roots.push_back({&node, tree->rootTurnRecord});
        } else {
            for (int32_t t = 0; t < records; ++t) roots.push_back({&node, t});
        }
    }
    return roots;
}

// Both players' reach at a root over the level above it, from the evaluation strategies of the
// nodes on its line, in double, scaled to sum 200 (zeros when nobody reaches it).
std::array<std::vector<double>, 2> ReferenceReach(SolvedTree* tree, const Root& root) {
    const HandSet& hs = *tree->hands;
    const bool riverRoot = root.node->street == 3;
    const int32_t t = riverRoot ? root.record : -1;
    const bool flopRows = tree->rootStreet() == 1;
    const int32_t n = riverRoot ? static_cast<int32_t>(hs.records[t].hands.size())
                                : static_cast<int32_t>(hs.hands.size());
    std::array<std::vector<double>, 2> reach;
    for (int p = 0; p < 2; ++p) {
        reach[p].assign(n, 0.0);
        for (int32_t i = 0; i < n; ++i) {
            // The root rows live on the tree's own level: the flop list, or the fixed turn's.
            const int32_t at = riverRoot && flopRows ? hs.records[t].maps[0][i] : i;
            reach[p][i] = tree->rootRows[p][at];
        }
    }
    for (TreeNode* child = root.node; child->parentNode; child = child->parentNode) {
        TreeNode* node = child->parentNode;
        if (node->kind != 0) continue;
        int32_t a = 0;
        while (&tree->nodes[node->children[a]] != child) ++a;
        const bool onTurn = node->street == 2;
        std::vector<PooledArray> s = EvaluationStrategy(
            tree, node, onTurn ? (riverRoot ? t : tree->rootTurnRecord) : -1, -1);
        for (int32_t i = 0; i < n; ++i) {
            const int32_t at = riverRoot && flopRows && !onTurn ? hs.records[t].maps[0][i] : i;
            reach[node->player][i] *= s[a].data ? s[a].data[at] : 0.0;
        }
        ReleaseRows(s);
    }
    for (auto& row : reach) {
        double sum = 0.0;
        for (double v : row) sum += v;
        if (sum > 0)
            for (double& v : row) v *= 200.0 / sum;
    }
    return reach;
}

double Sum(const std::vector<double>& row) {
    double s = 0.0;
    for (double v : row) s += v;
    return s;
}

std::vector<float> RowOf(const PooledArray& row) {
    return row.data ? std::vector<float>(row.data, row.data + row.count) : std::vector<float>();
}

// Rows 2 to 5 of every record: the chance nodes' stored values.
std::vector<std::vector<float>> ValueRows(const SolvedTree* tree) {
    std::vector<std::vector<float>> rows;
    for (const TreeNode& node : tree->nodes)
        for (int32_t r = 0; r < node.nodeDataCount; ++r)
            for (int k = 2; k < 6; ++k) rows.push_back(RowOf(node.nodeData[r].rows[k]));
    return rows;
}

// Real cards of runout (turn record t, river index r or -1), and a second real turn card of the
// same record when there is one (an isomorphic card), else -1.
struct RealRunout {
    int turn = -1, river = -1, otherTurn = -1, otherRiver = -1;
};
RealRunout RealCards(const SolvedTree* tree, int32_t t, int32_t r) {
    RealRunout out;
    for (int tc = 0; tc < 52; ++tc)
        for (int rc = -1; rc < 52; ++rc) {
            int32_t mt = -1, mr = -1;
            MapRunoutCards(tree, tc, rc, &mt, &mr);
            if (mt != t || mr != r || (r >= 0) != (rc >= 0)) continue;
            if (out.turn < 0) {
                out.turn = tc;
                out.river = rc;
            } else if (tc != out.turn && out.otherTurn < 0) {
                out.otherTurn = tc;
                out.otherRiver = rc;
            }
            break;
        }
    return out;
}

// The runout a test queries below a root: its first river, or for turn roots turn record k.
RealRunout QueryCards(const SolvedTree* tree, const Root& root, int32_t k) {
    return root.node->street == 3 ? RealCards(tree, root.record, k) : RealCards(tree, k, -1);
}

std::vector<double> Sorted(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<double> NodeStrategy(int32_t node, int turnCard, int riverCard) {
    std::vector<double> out(1326 * 4, 0.0);
    libsubgame_get_node_strategy(node, turnCard, riverCard, out.data());
    for (double& v : out)
        if (std::isnan(v)) v = -1.0;  // combinations off the runout's list
    return out;
}

// The forgetting, the first and second query, the refusals, the rebuild and the solver start.
TEST_P(ForgottenStreets, ForgetQueryRebuildAndStart) {
    const ForgetCase& c = GetParam();
    ASSERT_TRUE(Build(c));
    SolvedTree* tree = g_solvedTree;
    // A few iterations into averaging: the stored reach comes from average strategies.
    const int32_t solved = kFirstAveragedIteration + 3;
    for (int i = 0; i < solved; ++i) RunIteration(tree);
    double b0[2], b1[2];
    const double exploitability = CalcBestResponse(tree, b0, b1, kModeEvaluate).exploitability;

    std::vector<StorageInterface*> kept;
    for (TreeNode& node : tree->nodes)
        if (node.street < c.street) kept.push_back(node.regrets);
    uint64_t before[4];
    for (int s = 0; s < 4; ++s) before[s] = StreetStorageValues(tree, s);
    const std::vector<Root> roots = RootsOf(tree, c.street);
    ASSERT_FALSE(roots.empty());
    std::vector<std::array<std::vector<double>, 2>> reference;
    double largest = 0.0;
    for (const Root& r : roots) {
        reference.push_back(ReferenceReach(tree, r));
        largest = std::max({largest, Sum(reference.back()[0]), Sum(reference.back()[1])});
    }
    // Sums before scaling decide the 1 % rule: compare each root with the largest unscaled.
    const auto values = ValueRows(tree);
    const TreeParams params = tree->params;

    // Not below the root: refused, nothing changes.
    if (tree->rootStreet() == 2) {
        EXPECT_EQ(libsubgame_forget_street(2), kStreetNotBelowRoot);
        EXPECT_EQ(libsubgame_solve_all_splits(2), kStreetNotBelowRoot);
    }
    EXPECT_EQ(libsubgame_forget_street(4), kStreetBadArgument);
    EXPECT_EQ(tree->forgottenStreet, -1);

    ASSERT_EQ(libsubgame_forget_street(c.street), kStreetOk);
    EXPECT_EQ(libsubgame_get_forgotten_street(), c.street);
    EXPECT_EQ(tree->exploitability, exploitability);
    EXPECT_TRUE(tree->flags & kTreeIncomplete);
    EXPECT_EQ(std::memcmp(&params, &tree->params, sizeof params), 0);
    size_t k = 0;
    for (TreeNode& node : tree->nodes) {
        if (node.street < c.street)
            EXPECT_EQ(node.regrets, kept[k++]);
        else
            EXPECT_TRUE(node.regrets == nullptr && node.strategySums == nullptr);
    }
    for (int s = c.street; s <= 3; ++s) EXPECT_EQ(StreetStorageValues(tree, s), 0u);
    for (size_t i = 0; i < roots.size(); ++i) {
        const NodeData& d = roots[i].node->nodeData[roots[i].record];
        EXPECT_EQ(d.done, 1);
        EXPECT_EQ(d.doneBits, 0u);
        for (int p = 0; p < 2; ++p) {
            const uint8_t absent = p == 0 ? d.rowZeroAbsent : d.rowOneAbsent;
            if (absent == 0) continue;
            ASSERT_EQ(d.rows[p].count, static_cast<int32_t>(reference[i][p].size()));
            for (int32_t h = 0; h < d.rows[p].count; ++h)
                ASSERT_NEAR(d.rows[p].data[h], reference[i][p][h],
                            1e-4 * std::fabs(reference[i][p][h]) + 1e-5)
                    << "root " << i << " player " << p << " hand " << h;
        }
    }
    EXPECT_EQ(libsubgame_start_solver(1, 1), 0);
    if (c.street == 2) {
        EXPECT_EQ(libsubgame_forget_street(3), kStreetTurnsForgotten);
    }

    // The root with the most reach: the first query re-solves it once, a second does not.
    size_t best = 0;
    double bestWeight = -1;
    for (size_t i = 0; i < roots.size(); ++i) {
        const double w = Sum(reference[i][0]) * Sum(reference[i][1]);
        if (w > bestWeight) bestWeight = w, best = i;
    }
    const Root& root = roots[best];
    const RealRunout cards = QueryCards(tree, root, 0);
    ASSERT_GE(cards.turn, 0);
    const int32_t index = static_cast<int32_t>(root.node - tree->nodes.data());
    const uint64_t resolves = ResolveCount(), iterations = ResolveIterationCount();
    const std::vector<double> first = NodeStrategy(index, cards.turn, cards.river);
    EXPECT_EQ(ResolveCount(), resolves + 1);
    // Checks run at 50, 75, ...; the loop stops at a check or after 1000 iterations.
    const uint64_t ran = ResolveIterationCount() - iterations;
    EXPECT_TRUE(ran >= 50 && ran <= 1000 && ran % 25 == 0) << ran;
    const NodeData& d = root.node->nodeData[root.record];
    const int bit = 0;
    EXPECT_EQ(d.doneBits, uint64_t{1} << bit);
    EXPECT_EQ(tree->iteration, solved);
    EXPECT_TRUE(tree->flags & kTreeIncomplete);
    EXPECT_EQ(ValueRows(tree), values);
    EXPECT_EQ(NodeStrategy(index, cards.turn, cards.river), first);
    // An isomorphic card reads the same canonical rows, in other suits.
    if (cards.otherTurn >= 0) {
        EXPECT_EQ(Sorted(NodeStrategy(index, cards.otherTurn, cards.otherRiver)), Sorted(first));
    }
    EXPECT_EQ(ResolveCount(), resolves + 1);
    EXPECT_EQ(ResolveIterationCount(), iterations + ran);

    // Rebuild: storages back at their sizes, the tree complete; the solver start drops F.
    ASSERT_EQ(libsubgame_rebuild_forgotten_streets(), kStreetOk);
    for (int s = 0; s < 4; ++s) EXPECT_EQ(StreetStorageValues(tree, s), before[s]) << s;
    EXPECT_FALSE(tree->flags & kTreeIncomplete);
    EXPECT_EQ(tree->forgottenStreet, c.street);
    ASSERT_EQ(libsubgame_start_solver(1, 1), 1);
    libsubgame_wait_solver();
    EXPECT_EQ(tree->forgottenStreet, -1);
    const RealRunout other = QueryCards(tree, root, 1);
    NodeStrategy(index, other.turn, other.river);
    EXPECT_EQ(ResolveCount(), resolves + 1);
    (void)largest;
}

// Done bits follow the storages: a repeated forgetting and a forced re-solve make runouts solve
// again; a forced re-solve is repeatable bit for bit; a reset or splits re-solve after a rebuild
// drops the forgotten state.
TEST_P(ForgottenStreets, DoneBitsFollowTheStorages) {
    const ForgetCase& c = GetParam();
    ASSERT_TRUE(Build(c));
    SolvedTree* tree = g_solvedTree;
    // Few iterations: the splits re-solve below repeats every subgame as many times.
    for (int i = 0; i < 10; ++i) RunIteration(tree);
    const std::vector<Root> roots = RootsOf(tree, c.street);
    const Root& root = roots[0];
    const int32_t index = static_cast<int32_t>(root.node - tree->nodes.data());
    const RealRunout a = QueryCards(tree, root, 0), b = QueryCards(tree, root, 1);
    ASSERT_TRUE(a.turn >= 0 && b.turn >= 0);
    ASSERT_EQ(libsubgame_forget_street(c.street), kStreetOk);
    uint64_t count = ResolveCount();
    NodeStrategy(index, a.turn, a.river);
    NodeStrategy(index, b.turn, b.river);
    EXPECT_EQ(ResolveCount(), count + 2);
    // Forgetting again: both runouts start empty and solve again.
    ASSERT_EQ(libsubgame_forget_street(c.street), kStreetOk);
    NodeStrategy(index, a.turn, a.river);
    EXPECT_EQ(ResolveCount(), count + 3);
    // A forced re-solve twice: the same storages bit for bit; the sibling solves again.
    libsubgame_solve_partial(index, a.turn, a.river);
    const std::vector<double> once = NodeStrategy(index, a.turn, a.river);
    libsubgame_solve_partial(index, a.turn, a.river);
    EXPECT_EQ(NodeStrategy(index, a.turn, a.river), once);
    count = ResolveCount();
    NodeStrategy(index, b.turn, b.river);
    EXPECT_EQ(ResolveCount(), count + 1);

    // A storage reset after a rebuild makes every storage and drops the forgotten state.
    ASSERT_EQ(libsubgame_rebuild_forgotten_streets(), kStreetOk);
    if (tree->rootStreet() == 1) {
        EXPECT_EQ(libsubgame_solve_all_splits(c.street), kStreetOk);
        EXPECT_EQ(tree->forgottenStreet, -1);
        ASSERT_EQ(libsubgame_forget_street(c.street), kStreetOk);
        ASSERT_EQ(libsubgame_rebuild_forgotten_streets(), kStreetOk);
    }
    const int32_t level2[2] = {1, 1};
    ASSERT_TRUE(libsubgame_reset_progress(level2));
    EXPECT_EQ(tree->forgottenStreet, -1);
    ASSERT_TRUE(CheckTreeStorageReady(tree));
    for (const TreeNode& node : tree->nodes)
        if (node.kind == 0) {
            EXPECT_TRUE(node.regrets && node.resident);
        }
    EXPECT_GT(StreetStorageValues(tree, 3), 0u);
    for (TreeNode& node : tree->nodes)
        for (int32_t r = 0; r < node.nodeDataCount; ++r)
            EXPECT_TRUE(node.nodeData[r].done == 0 && node.nodeData[r].doneBits == 0);
}

// A new level remakes every storage and restarts at iteration 0. Forgetting then reads the new
// storages, readied first, and keeps the new solve's results, not the old solve's of the same
// iteration count.
class NewLevelForgetting : public ForgottenStreets {};

TEST_P(NewLevelForgetting, ReadsTheNewStoragesAndKeepsTheNewResults) {
    const ForgetCase& c = GetParam();
    ASSERT_TRUE(Build(c, 40, 6));
    SolvedTree* tree = g_solvedTree;
    // Level 4 groups the early river updates of flop trees: its solve differs from the first.
    const int32_t other[2] = {2, 2};
    IterationLogRecord record;
    libsubgame_calc_results(&record);
    ASSERT_TRUE(libsubgame_reset_progress(other));
    ASSERT_EQ(libsubgame_forget_street(c.street), kStreetOk);
    ASSERT_EQ(libsubgame_rebuild_forgotten_streets(), kStreetOk);

    // Solving readies the storages first, as the solver thread does.
    ASSERT_TRUE(libsubgame_reset_progress(c.kinds));
    ASSERT_TRUE(CheckTreeStorageReady(tree));
    for (int i = 0; i < 6; ++i) RunIteration(tree);
    libsubgame_calc_results(&record);
    ASSERT_TRUE(libsubgame_reset_progress(other));
    ASSERT_TRUE(CheckTreeStorageReady(tree));
    for (int i = 0; i < 6; ++i) RunIteration(tree);
    double b0[2], b1[2];
    const double exploitability = CalcBestResponse(tree, b0, b1, kModeEvaluate).exploitability;
    ASSERT_EQ(libsubgame_forget_street(c.street), kStreetOk);
    libsubgame_calc_results(&record);
    EXPECT_EQ(record.iteration, 6);
    EXPECT_EQ(record.exploitability, exploitability);
}

// On a forgotten tree the chance nodes above the forgotten street read their stored values. A
// row never stored, and one saved empty (loaded as an allocation holding no values), read as
// stored zeros.
class StoredValueRows : public ForgottenStreets {};

TEST_P(StoredValueRows, MissingRowsReadAsZeros) {
    const ForgetCase& c = GetParam();
    ASSERT_TRUE(Build(c, 40, 6));
    SolvedTree* tree = g_solvedTree;
    for (int i = 0; i < 6; ++i) RunIteration(tree);
    ASSERT_EQ(libsubgame_forget_street(c.street), kStreetOk);
    std::vector<int32_t> counts;
    for (const Root& r : RootsOf(tree, c.street))
        counts.push_back(r.node->nodeData[r.record].rows[2].count);
    ASSERT_GT(*std::min_element(counts.begin(), counts.end()), 0);  // stored at the forgetting
    IterationLogRecord results[3];  // zeros stored, never stored, saved empty
    for (int form = 0; form < 3; ++form) {
        size_t k = 0;
        for (const Root& r : RootsOf(tree, c.street)) {
            PooledArray& row = r.node->nodeData[r.record].rows[2];
            ReleasePooledArray(&row);
            if (form != 1) ConstructPooledArray(&row, form == 0 ? counts[k] : 0, true, false);
            ++k;
        }
        tree->resultsIteration = -1;
        libsubgame_calc_results(&results[form]);
    }
    for (int form = 1; form < 3; ++form) {
        EXPECT_EQ(results[form].value0, results[0].value0);
        EXPECT_EQ(results[form].bestResponse0, results[0].bestResponse0);
        EXPECT_EQ(results[form].exploitability, results[0].exploitability);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, StoredValueRows, ::testing::Values(kCases[3]),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(LongCases, StoredValueRows, ::testing::Values(kCases[1]),
                         [](const auto& info) { return std::string(info.param.name); });

// The flop case, whose second solve differs from the first, takes seconds under the sanitizers.
INSTANTIATE_TEST_SUITE_P(Cases, NewLevelForgetting, ::testing::Values(kCases[3]),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(LongCases, NewLevelForgetting, ::testing::Values(kCases[0]),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Cases, ForgottenStreets, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(LongCases, ForgottenStreets, ::testing::ValuesIn(kLongCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The check value against an O(n^2) double reference, with rows that weigh nothing.
TEST(SubtreeBestResponseValue, MatchesThePairSumAndGivesZeroWithoutPairs) {
    std::mt19937 rng(7);
    std::vector<CardMask> hands;
    for (int k = 0; k < 1326 && hands.size() < 300; k += 4) hands.push_back(ComboMask(k));
    const int32_t n = static_cast<int32_t>(hands.size());
    auto row = [&](float zeroShare) {
        PooledArray r;
        ConstructPooledArray(&r, n, true, false);
        std::uniform_real_distribution<float> u(0.0f, 1.0f);
        for (int32_t i = 0; i < n; ++i) r.data[i] = u(rng) < zeroShare ? 0.0f : u(rng) * 3.0f;
        return r;
    };
    struct Case {
        float ownZeros, oppZeros;
        bool nullOwn;
    };
    for (const Case& k : {Case{0.0f, 0.0f, false}, Case{0.5f, 0.9f, false}, Case{1.0f, 0.0f, false},
                          Case{0.0f, 1.0f, false}, Case{0.0f, 0.0f, true}}) {
        PooledArray br = row(0.0f), own = row(k.ownZeros), opp = row(k.oppZeros);
        for (int32_t i = 0; i < n; ++i) br.data[i] -= 1.5f;
        if (k.nullOwn) DropPooledArray(&own);
        double w = 0.0, sum = 0.0;
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j < n; ++j)
                if (own.data && !(hands[i] & hands[j]))
                    w += static_cast<double>(own.data[i]) * opp.data[j];
        for (int32_t i = 0; i < n && own.data; ++i)
            sum += static_cast<double>(br.data[i] * own.data[i]);
        const double want = w > 0 ? sum / w : 0.0;
        const double got = SubtreeBestResponseValue(br, own, opp, hands);
        EXPECT_FALSE(std::isnan(got));
        EXPECT_NEAR(got, want, 1e-9 * std::fabs(want) + (w > 0 ? 0.0 : 1e-300));
        ReleasePooledArray(&br);
        ReleasePooledArray(&own);
        ReleasePooledArray(&opp);
    }
}

}  // namespace

namespace {

// A turn-rooted game whose first action (OOP's bet) is locked at a given share.
class LockedLine : public ForgottenStreets {
protected:
    SolvedTree* Solve(double betShare, int iterations) {
        const ForgetCase c{"TurnRiversLevel0", {0, 0}, false, 2, 3};
        if (!Build(c)) return nullptr;
        const int turn = CardIndex("Qs");
        std::vector<double> bet(1326, betShare), check(1326, 1.0 - betShare);
        libsubgame_set_strategy(0, 0, turn, -1, bet.data());
        libsubgame_set_strategy(0, 1, turn, -1, check.data());
        libsubgame_set_node_lock(0, turn, -1, 1);
        for (int i = 0; i < iterations; ++i) RunIteration(g_solvedTree);
        return g_solvedTree;
    }
    // The river roots below the root's first action.
    static std::vector<Root> BetRoots(SolvedTree* tree) {
        std::vector<Root> out;
        for (const Root& r : RootsOf(tree, 3)) {
            const TreeNode* n = r.node;
            while (n->parentNode && n->parentNode != &tree->nodes[0]) n = n->parentNode;
            if (n == &tree->nodes[tree->nodes[0].children[0]]) out.push_back(r);
        }
        return out;
    }
};

// A line nobody plays: done at once with 0; a line at half a percent keeps its older row.
TEST_F(LockedLine, NegligibleAndZeroReach) {
    for (const double share : {0.0, 0.005}) {
        SolvedTree* tree = Solve(share, 30);
        ASSERT_NE(tree, nullptr);
        const std::vector<Root> roots = BetRoots(tree);
        ASSERT_FALSE(roots.empty());
        std::vector<std::vector<float>> old;
        for (const Root& r : roots) old.push_back(RowOf(r.node->nodeData[r.record].rows[0]));
        ASSERT_EQ(libsubgame_forget_street(3), kStreetOk);
        for (size_t i = 0; i < roots.size(); ++i) {
            const NodeData& d = roots[i].node->nodeData[roots[i].record];
            EXPECT_EQ(d.rowZeroAbsent, 0) << share;
            EXPECT_EQ(d.rowOneAbsent, 1) << share;
            float sum = 0.0f;
            for (float v : old[i]) sum += v;
            if (sum > 1e-7f) {
                for (size_t h = 0; h < old[i].size(); ++h)
                    EXPECT_NEAR(d.rows[0].data[h], old[i][h] * (200.0f / sum),
                                1e-5f * (1.0f + std::fabs(d.rows[0].data[h])));
            }
        }
        const RealRunout cards = QueryCards(tree, roots[0], 0);
        const int32_t index = static_cast<int32_t>(roots[0].node - tree->nodes.data());
        const uint64_t count = ResolveCount();
        const double v = libsubgame_solve_partial(index, cards.turn, cards.river);
        EXPECT_FALSE(std::isnan(v));
        if (share == 0.0) {
            EXPECT_EQ(v, 0.0);
            EXPECT_EQ(ResolveCount(), count);
            EXPECT_EQ(roots[0].node->nodeData[roots[0].record].doneBits, 1u);
        } else {
            EXPECT_EQ(ResolveCount(), count + 1);
        }
    }
}

}  // namespace

namespace {

class NeverForgotten : public ForgottenStreets {};

// On a tree never forgotten, the check of the original strategies at the runout of most reach,
// with the reach the forgetting would store, is near the tree's exploitability; beliefs that do
// not belong to the runout make the same strategies look far worse.
TEST_F(NeverForgotten, CheckWithTheRootsReachIsNearTheExploitability) {
    const ForgetCase c{"TurnRiversLevel0", {0, 0}, false, 2, 3};
    ASSERT_TRUE(Build(c));
    SolvedTree* tree = g_solvedTree;
    for (int i = 0; i < 300; ++i) RunIteration(tree);
    double b0[2], b1[2];
    const double exploitability = CalcBestResponse(tree, b0, b1, kModeEvaluate).exploitability;
    const std::vector<Root> roots = RootsOf(tree, 3);
    size_t best = 0, other = 0;
    double bestWeight = -1, otherWeight = -1;
    std::vector<std::array<std::vector<double>, 2>> reach;
    for (size_t i = 0; i < roots.size(); ++i) {
        reach.push_back(ReferenceReach(tree, roots[i]));
        const double w = Sum(reach[i][0]) * Sum(reach[i][1]);
        if (w > bestWeight) {
            other = best, otherWeight = bestWeight;
            best = i, bestWeight = w;
        } else if (w > otherWeight) {
            other = i, otherWeight = w;
        }
    }
    ASSERT_GT(otherWeight, 0.0);
    const HandSet& hs = *tree->hands;
    const int32_t t = tree->rootTurnRecord, r = 0;
    const RiverRecord& river = hs.records[t].rivers[r];
    auto check = [&](const std::array<std::vector<double>, 2>& rows) {
        PooledArray level[2], turnRows[2];
        for (int p = 0; p < 2; ++p) {
            ConstructPooledArray(&turnRows[p], static_cast<int32_t>(rows[p].size()), false, false);
            for (size_t h = 0; h < rows[p].size(); ++h)
                turnRows[p].data[h] = static_cast<float>(rows[p][h]);
            GatherRowToRecord(river, &level[p], &turnRows[p]);
            ReleasePooledArray(&turnRows[p]);
        }
        const double v = SubtreeCheck(tree, roots[best].node, t, r, level, river.hands);
        ReleasePooledArray(&level[0]);
        ReleasePooledArray(&level[1]);
        return v;
    };
    std::array<std::vector<double>, 2> uniform, root;
    for (int p = 0; p < 2; ++p) {
        uniform[p].assign(reach[best][p].size(), 1.0);
        root[p].assign(tree->rootRows[p].begin(), tree->rootRows[p].end());
    }
    const double own = check(reach[best]);
    EXPECT_LT(std::fabs(own), 3.0 * exploitability + 1e-3) << exploitability;
    for (const auto& wrong : {uniform, root, reach[other]})
        EXPECT_GT(check(wrong), 5.0 * std::fabs(own) + exploitability) << own;
}

}  // namespace

namespace {

class LongForgottenStreets : public ForgottenStreets {};

// The own reach of a node's player at runout (t, r) over its level, from the original strategies
// (level 0, no isomorphism: level hands are real combinations).
std::vector<double> OwnReach(SolvedTree* tree, TreeNode* target, int32_t t, int32_t r) {
    const HandSet& hs = *tree->hands;
    const std::vector<CardMask>& hands = LevelHands(hs, t, r);
    const int p = target->player;
    std::vector<double> reach(hands.size());
    auto levelIndex = [&](int32_t i, int street) {
        // Position of level hand i in the list of `street`'s level.
        int32_t at = i;
        if (r >= 0 && street < 3) at = hs.records[t].rivers[r].maps[0][at];
        if (t >= 0 && street < 2 && target->street >= 2) at = hs.records[t].maps[0][at];
        return at;
    };
    for (size_t i = 0; i < hands.size(); ++i)
        reach[i] = tree->rootRows[p][levelIndex(static_cast<int32_t>(i), 1)];
    for (TreeNode* child = target; child->parentNode; child = child->parentNode) {
        TreeNode* node = child->parentNode;
        if (node->player != p) continue;
        int32_t a = 0;
        while (&tree->nodes[node->children[a]] != child) ++a;
        std::vector<PooledArray> s =
            EvaluationStrategy(tree, node, node->street >= 2 ? t : -1, node->street >= 3 ? r : -1);
        for (size_t i = 0; i < hands.size(); ++i)
            reach[i] *=
                s[a].data ? s[a].data[levelIndex(static_cast<int32_t>(i), node->street)] : 0;
        ReleaseRows(s);
    }
    return reach;
}

struct Sample {
    int32_t node, t, r;
    RealRunout cards;
    std::vector<double> reach, strategy;
};

// Re-solved strategies stay close to the originals on sampled river and turn nodes. Ranges of
// 80 combinations: with a dozen, many river spots have several equilibria far apart, and a
// re-solve to the accuracy may land on another one. One solve serves both streets: every sample
// is read before any forgetting, then the rivers are forgotten, then the turns (which take the
// rivers, re-solved or not, with them).
TEST_F(LongForgottenStreets, ResolvedStrategiesAreCloseToTheOriginals) {
    const ForgetCase c{"FlopLevel0", {0, 0}, false, 1, 3};
    std::mt19937 rng(11);
    ASSERT_TRUE(Build(c, 52, 80));
    SolvedTree* tree = g_solvedTree;
    for (int i = 0; i < 300; ++i) RunIteration(tree);
    libsubgame_set_recalc_accuracy(0.2, 0.2, 0.2);  // 0.2 % of the pot of 100
    const HandSet& hs = *tree->hands;
    std::vector<Sample> samples[4];  // by street
    for (const int street : {3, 2}) {
        std::vector<int32_t> nodes;
        for (size_t i = 0; i < tree->nodes.size(); ++i)
            if (tree->nodes[i].kind == 0 && tree->nodes[i].street == street)
                nodes.push_back(static_cast<int32_t>(i));
        const size_t wanted = street == 3 ? 20u : 10u;
        for (int tries = 0; tries < 2000 && samples[street].size() < wanted; ++tries) {
            Sample s;
            s.node = nodes[rng() % nodes.size()];
            s.t = static_cast<int32_t>(rng() % hs.records.size());
            s.r = street == 3 ? static_cast<int32_t>(rng() % hs.records[s.t].rivers.size()) : -1;
            s.reach = OwnReach(tree, &tree->nodes[s.node], s.t, s.r);
            if (Sum(s.reach) < 0.5) continue;  // lines barely played carry no strategy to compare
            s.cards = RealCards(tree, s.t, s.r);
            s.strategy = NodeStrategy(s.node, s.cards.turn, s.cards.river);
            samples[street].push_back(s);
        }
        ASSERT_GE(samples[street].size(), wanted);
    }
    for (const int street : {3, 2}) {
        ASSERT_EQ(libsubgame_forget_street(street), kStreetOk);
        for (const Sample& s : samples[street]) {
            const std::vector<double> now = NodeStrategy(s.node, s.cards.turn, s.cards.river);
            const std::vector<CardMask>& hands = LevelHands(hs, s.t, s.r);
            const size_t actions = tree->nodes[s.node].children.size();
            double total = 0.0, meanDiff = 0.0;
            std::vector<double> f0(actions, 0.0), f1(actions, 0.0);
            for (size_t i = 0; i < hands.size(); ++i) {
                const int combo = ComboIndex(hands[i]);
                double diff = 0.0;
                for (size_t a = 0; a < actions; ++a) {
                    const double x = s.strategy[a * 1326 + combo], y = now[a * 1326 + combo];
                    f0[a] += s.reach[i] * x;
                    f1[a] += s.reach[i] * y;
                    diff += std::fabs(x - y) / 2;
                }
                total += s.reach[i];
                meanDiff += s.reach[i] * diff;
            }
            for (size_t a = 0; a < actions; ++a)
                EXPECT_NEAR(f0[a] / total, f1[a] / total, 0.03)
                    << "node " << s.node << " street " << street;
            EXPECT_LE(meanDiff / total, 0.08) << "node " << s.node << " street " << street;
        }
    }
    libsubgame_set_recalc_accuracy(0.5, 0.5, 0.5);
}

}  // namespace

namespace {

double ResidentBytes() {
    FILE* f = std::fopen("/proc/self/status", "r");
    char line[256];
    double kb = 0;
    while (f && std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmRSS:", 6) == 0) kb = std::atof(line + 6);
    if (f) std::fclose(f);
    return kb * 1024.0;
}

// Bytes the river storages below node hold: plain rows at level 0 (16-bit regrets, float sums).
double PlainBytes(const SolvedTree* tree, const TreeNode* node) {
    double bytes = 0;
    if (node->kind == 0 && node->street == 3)
        bytes += 2.0 * (node->regrets ? node->regrets->size(-1) : 0) +
                 4.0 * (node->strategySums ? node->strategySums->size(-1) : 0);
    for (int32_t child : node->children) bytes += PlainBytes(tree, &tree->nodes[child]);
    return bytes;
}

class LongForgottenMemory : public ForgottenStreets {};

// A flop tree of over 200 MB of river rows at level 0. Forgetting the rivers returns their memory
// to the system; a query grows it back by one root subtree, a second runout of that subtree by next
// to nothing.
TEST_P(LongForgottenMemory, ResidentMemoryFollowsTheStorages) {
    const ForgetCase& c = GetParam();
    ASSERT_TRUE(Build(c, 70, 260));
    SolvedTree* tree = g_solvedTree;
    for (int i = 0; i < 20; ++i) RunIteration(tree);
    const double riverBytes = c.kinds[0] == 0 ? PlainBytes(tree, &tree->nodes[0])
                                              : static_cast<double>(g_storage_io.heldBytes.load());
    // The same tree at both levels: over 200 MB of plain river rows, packed far smaller.
    ASSERT_GE(riverBytes, c.kinds[0] == 0 ? 200e6 : 20e6);
    const double solved = ResidentBytes();
    ASSERT_EQ(libsubgame_forget_street(3), kStreetOk);
    const double forgotten = ResidentBytes();
    EXPECT_GE(solved - forgotten, 0.8 * riverBytes) << solved << " " << forgotten;
    if (c.kinds[0] != 0) return;

    const Root root = RootsOf(tree, 3)[0];
    const int32_t index = static_cast<int32_t>(root.node - tree->nodes.data());
    const RealRunout a = QueryCards(tree, root, 0), b = QueryCards(tree, root, 1);
    NodeStrategy(index, a.turn, a.river);
    const double first = ResidentBytes();
    const double subtree = PlainBytes(tree, root.node);
    EXPECT_NEAR(first - forgotten, subtree, 0.25 * subtree + 4e6);
    NodeStrategy(index, b.turn, b.river);
    EXPECT_LT(ResidentBytes() - first, 4e6);
}

const ForgetCase kMemoryCases[] = {{"Level0", {0, 0}, false, 1, 3},
                                   {"Level2", {1, 1}, false, 1, 3}};
INSTANTIATE_TEST_SUITE_P(LongLevels, LongForgottenMemory, ::testing::ValuesIn(kMemoryCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
