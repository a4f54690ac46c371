// The tree's storages: classes per root street and compression level, the street totals and
// estimates, a second reset, and the river strategy switch captured when storages are made.
#include <gtest/gtest.h>

#include <vector>

#include "cards/hand_evaluator.h"
#include "cards/hand_set.h"
#include "solver/solved_tree.h"
#include "solver/solver_defaults.h"
#include "storage/compressed_river_storage.h"
#include "storage/river_storage.h"
#include "storage/storage_unit.h"
#include "storage/turn_storage.h"
#include "utilities/kernel_switches.h"

namespace {

int Card(const char* text) {
    CardMask m = 0;
    ParseCards(&m, text);
    return LowestCard(m);
}

// From the root street on, a decision facing a bet whose call opens the next street (a showdown
// on the river) and whose fold ends the hand; lines in pre-order.
void AddStreet(std::vector<TreeLine>& lines, int parent, int street) {
    const int bet = static_cast<int>(lines.size());
    lines.push_back({0, parent, 1, street, 0.0});
    if (street < 3) {
        const int call = static_cast<int>(lines.size());
        lines.push_back({0, bet, 0, street + 1, 0.0});
        AddStreet(lines, call, street + 1);
    } else {
        lines.push_back({1, bet, -1, -1, 90.0});
    }
    lines.push_back({2, bet, -1, -1, 40.0});
}

std::vector<TreeLine> ThreeStreets(int rootStreet) {
    std::vector<TreeLine> lines = {{0, -1, 0, rootStreet, 0.0}};
    AddStreet(lines, 0, rootStreet);
    return lines;
}

class TreeStorageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitHandEvalTables(); }
    void TearDown() override {
        libsubgame_free_scenario();
        river_strategy_enabled.store(1);
    }
    void Build(int rootStreet, int averaging = 1) {
        std::vector<double> r0(kComboCount, 0.0), r1(kComboCount, 0.0);
        for (int k = 0; k < kComboCount; k += 7) r0[k] = 1.0;
        for (int k = 3; k < kComboCount; k += 5) r1[k] = 1.0;
        const auto lines = ThreeStreets(rootStreet);
        ASSERT_EQ(libsubgame_build_tree(averaging, lines.data(), static_cast<int32_t>(lines.size()),
                                        Card("2d"), Card("7h"), Card("Ks"), Card("9c"), Card("3s"),
                                        r0.data(), r1.data(), 0),
                  kBuildOk);
    }
};

template <typename T>
bool Is(const StorageInterface* s) {
    return dynamic_cast<const T*>(s) != nullptr;
}

TEST_F(TreeStorageTest, ClassesByRootStreetAndLevel) {
    const int32_t pairs[5][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 2}, {2, 2}};
    for (int root = 1; root <= 3; ++root) {
        Build(root);
        for (const auto& pair : pairs) {
            ASSERT_TRUE(libsubgame_reset_progress(pair));
            ASSERT_TRUE(CheckTreeStorageReady(g_solvedTree));
            for (const TreeNode& n : g_solvedTree->nodes) {
                if (n.kind != 0) {
                    EXPECT_EQ(n.regrets, nullptr);
                    continue;
                }
                ASSERT_NE(n.regrets, nullptr);
                ASSERT_NE(n.strategySums, nullptr);
                EXPECT_EQ(n.resident, 1);
                if (n.street == 1) {
                    EXPECT_TRUE(Is<StorageUnit>(n.regrets));
                    EXPECT_TRUE(Is<StorageUnit>(n.strategySums));
                } else if (n.street == 2) {
                    EXPECT_TRUE(Is<TurnStorage>(n.regrets));
                    EXPECT_TRUE(Is<TurnStorage>(n.strategySums));
                } else if (root >= 2) {
                    // Turn and river roots keep plain river storages whatever the level.
                    EXPECT_TRUE(Is<RiverStorage>(n.regrets));
                    EXPECT_TRUE(Is<RiverStorage>(n.strategySums));
                } else {
                    EXPECT_TRUE(pair[0] ? Is<CompressedRiverStorage>(n.regrets)
                                        : Is<ShortRiverStorage>(n.regrets));
                    EXPECT_TRUE(pair[1] ? Is<CompressedRiverStorage>(n.strategySums)
                                        : Is<RiverStorage>(n.strategySums));
                    for (int w = 0; w < 2; ++w) {
                        auto* c = dynamic_cast<const CompressedRiverStorage*>(
                            w ? n.strategySums : n.regrets);
                        if (c) {
                            EXPECT_EQ(c->kind(), pair[w]);
                        }
                    }
                }
            }
        }
    }
}

TEST_F(TreeStorageTest, StreetTotalsAndSecondReset) {
    Build(1);
    const int32_t plain[2] = {0, 0};
    ASSERT_TRUE(libsubgame_reset_progress(plain));
    ASSERT_TRUE(CheckTreeStorageReady(g_solvedTree));
    uint64_t sums[4] = {};
    for (const TreeNode& n : g_solvedTree->nodes)
        if (n.regrets != nullptr) sums[n.street] += n.regrets->size(-1);
    const TreeParams& p = g_solvedTree->params;
    for (int s = 0; s < 4; ++s) {
        EXPECT_EQ(p.streetBytes[s], sums[s]) << s;
        EXPECT_EQ(p.streetEstimate[s], 6 * sums[s]) << s;
    }
    const uint64_t flopHands = g_solvedTree->hands->hands.size();
    EXPECT_EQ(p.streetBytes[1], 3 * flopHands);  // the root: one action; facing the bet: two
    EXPECT_GT(p.streetBytes[3], 0u);
    // A second reset makes every storage anew, not resident, at iteration 0.
    g_solvedTree->iteration = 12;
    std::vector<const StorageInterface*> before;
    for (const TreeNode& n : g_solvedTree->nodes) before.push_back(n.regrets);
    ASSERT_TRUE(libsubgame_reset_progress(plain));
    EXPECT_EQ(g_solvedTree->iteration, 0);
    EXPECT_EQ(g_solvedTree->allResident, 0);
    for (size_t i = 0; i < before.size(); ++i) {
        const TreeNode& n = g_solvedTree->nodes[i];
        if (n.kind != 0) continue;
        EXPECT_EQ(n.resident, 0);
    }
    ASSERT_TRUE(CheckTreeStorageReady(g_solvedTree));
}

TEST_F(TreeStorageTest, WithoutAveragingTheEstimateIsTwiceTheValues) {
    // Regrets only: the estimate allows for them and their working copies, no strategy sums.
    Build(1, 0);
    const int32_t plain[2] = {0, 0};
    ASSERT_TRUE(libsubgame_reset_progress(plain));
    ASSERT_TRUE(CheckTreeStorageReady(g_solvedTree));
    uint64_t sums[4] = {};
    for (const TreeNode& n : g_solvedTree->nodes) {
        EXPECT_EQ(n.strategySums, nullptr);
        if (n.regrets != nullptr) sums[n.street] += n.regrets->size(-1);
    }
    const TreeParams& p = g_solvedTree->params;
    for (int s = 1; s < 4; ++s) {
        EXPECT_GT(sums[s], 0u) << s;
        EXPECT_EQ(p.streetBytes[s], sums[s]) << s;
        EXPECT_EQ(p.streetEstimate[s], 2 * sums[s]) << s;
    }
}

TEST_F(TreeStorageTest, RiverStrategySwitchIsCapturedWithTheStorages) {
    Build(1);
    const int32_t plain[2] = {0, 0};
    ASSERT_TRUE(libsubgame_reset_progress(plain));
    river_strategy_enabled.store(0);
    ASSERT_TRUE(CheckTreeStorageReady(g_solvedTree));
    EXPECT_EQ(g_solvedTree->riverStrategy, 1);
    for (const TreeNode& n : g_solvedTree->nodes) {
        if (n.kind == 0) {
            EXPECT_NE(n.strategySums, nullptr);
        }
    }
    ASSERT_TRUE(libsubgame_reset_progress(plain));
    EXPECT_EQ(g_solvedTree->riverStrategy, 0);
    for (const TreeNode& n : g_solvedTree->nodes) {
        if (n.kind == 0) {
            EXPECT_EQ(n.strategySums != nullptr, n.street < 3);
        }
    }
}

}  // namespace
