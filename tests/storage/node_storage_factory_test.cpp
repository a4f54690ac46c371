#include "storage/node_storage_factory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "cards/hand_evaluator.h"
#include "cards/hand_set.h"
#include "storage/compressed_river_storage.h"
#include "storage/river_storage.h"
#include "storage/storage_unit.h"
#include "storage/turn_storage.h"

namespace {

// The fields of a tree node the factory touches.
struct Node {
    int32_t kind = 0;
    int32_t street = 1;
    std::vector<int32_t> children;
    StorageInterface* regrets = nullptr;
    StorageInterface* strategySums = nullptr;
    uint8_t resident = 1;
    ~Node() {
        delete regrets;
        delete strategySums;
    }
};

CardMask Flop() {
    return CardBit(MakeCard(0, 0)) | CardBit(MakeCard(5, 1)) | CardBit(MakeCard(11, 2));
}

// Full ranges, no isomorphism: 1,176 flop hands, 49 turn records of 1,128 hands, 48 runouts of
// 1,081 hands each.
class NodeStorageFactory : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        InitHandEvalTables();
        const CardMask flop = Flop();
        hands_ = std::make_unique<HandSet>(&flop, -1, -1, 0);
        const std::vector<double> range(kComboCount, 1.0);
        ASSERT_TRUE(SetHoles(hands_.get(), range.data(), range.data()));
    }
    static void TearDownTestSuite() { hands_.reset(); }

    static std::unique_ptr<HandSet> hands_;
};
std::unique_ptr<HandSet> NodeStorageFactory::hands_;

TEST_F(NodeStorageFactory, StreetTotalsOnARealHandSet) {
    ASSERT_EQ(hands_->hands.size(), 1176u);
    for (int k = 1; k <= 4; ++k) {
        FlatIndexLists layout;
        FlattenIndexLists(&layout, k, &hands_->riverHandCounts);
        EXPECT_EQ(layout.paddedSize, uint32_t(k) * 2549568u);
        int64_t streetBytes[4] = {0, 0, 0, 0};
        const uint32_t kinds[2] = {1, 1};
        for (int street = 1; street <= 3; ++street) {
            Node node;
            node.street = street;
            node.children.assign(size_t(k), 0);
            CreateNodeStorages(&node, hands_.get(), &layout, streetBytes,
                               NodeStorageOptions{.streamKinds = {kinds[0], kinds[1]}});
            ASSERT_TRUE(node.regrets->reset());
            EXPECT_EQ(node.regrets->size(-1), streetBytes[street]);
        }
        EXPECT_EQ(streetBytes[0], 0);
        EXPECT_EQ(streetBytes[1], k * 1176);
        EXPECT_EQ(streetBytes[2], k * 55272);
        EXPECT_EQ(streetBytes[3], int64_t(k) * 2542512);
    }
}

TEST_F(NodeStorageFactory, DecisionTable) {
    FlatIndexLists layout;
    FlattenIndexLists(&layout, 3, &hands_->riverHandCounts);
    enum Class { kNone, kUnit, kTurn, kFloat, kShort, kPacked16, kPacked32 };
    auto classOf = [](StorageInterface* s) {
        if (s == nullptr) return kNone;
        if (dynamic_cast<StorageUnit*>(s)) return kUnit;
        if (dynamic_cast<TurnStorage*>(s)) return kTurn;
        if (dynamic_cast<RiverStorage*>(s)) return kFloat;
        if (dynamic_cast<ShortRiverStorage*>(s)) return kShort;
        auto* c = dynamic_cast<CompressedRiverStorage*>(s);
        EXPECT_NE(c, nullptr);
        return c->is16bit() ? kPacked16 : kPacked32;
    };
    auto kindOf = [](StorageInterface* s) {
        auto* c = dynamic_cast<CompressedRiverStorage*>(s);
        return c ? c->kind() : 0;
    };
    for (int street = 1; street <= 3; ++street) {
        for (int root = 1; root <= 3; ++root) {
            for (bool format5 : {false, true}) {
                for (uint32_t k0 : {0u, 1u, 2u}) {
                    for (uint32_t k1 : {0u, 1u, 2u}) {
                        for (bool sums : {false, true}) {
                            for (bool riverStrategy : {false, true}) {
                                Node node;
                                node.street = street;
                                node.children = {1, 2, 3};
                                const uint32_t kinds[2] = {k0, k1};
                                int64_t totals[4] = {};
                                const NodeStorageOptions options{
                                    .withSums = sums,
                                    .rootStreet = root,
                                    .streamKinds = {kinds[0], kinds[1]},
                                    .formatAtLeast5 = format5,
                                    .riverStrategyEnabled = riverStrategy};
                                CreateNodeStorages(&node, hands_.get(), &layout, totals, options);
                                EXPECT_EQ(node.resident, 0);
                                Class regrets = kUnit, expectedSums = kUnit;
                                if (street == 2) regrets = expectedSums = kTurn;
                                if (street == 3) {
                                    regrets = root == 3 || (root == 2 && format5) ? kFloat
                                              : k0 != 0                           ? kPacked16
                                                                                  : kShort;
                                    expectedSums =
                                        riverStrategy ? (k1 ? kPacked32 : kFloat) : kNone;
                                }
                                if (!sums) expectedSums = kNone;
                                EXPECT_EQ(classOf(node.regrets), regrets)
                                    << street << root << format5 << k0 << k1;
                                EXPECT_EQ(classOf(node.strategySums), expectedSums)
                                    << street << root << format5 << k0 << k1 << sums
                                    << riverStrategy;
                                if (regrets == kPacked16) {
                                    EXPECT_EQ(kindOf(node.regrets), int(k0));
                                }
                                if (expectedSums == kPacked32) {
                                    EXPECT_EQ(kindOf(node.strategySums), int(k1));
                                }
                                // Only the regret storage counts, into its own street.
                                const int64_t values[4] = {0, 3 * 1176, 3 * 55272,
                                                           int64_t(layout.packedSize)};
                                for (int st = 0; st < 4; ++st) {
                                    EXPECT_EQ(totals[st], st == street ? values[st] : 0);
                                }
                            }
                        }
                    }
                }
            }
        }
    }
}

TEST_F(NodeStorageFactory, LeavesAndRepeats) {
    FlatIndexLists layout;
    FlattenIndexLists(&layout, 2, &hands_->riverHandCounts);
    const uint32_t kinds[2] = {0, 0};
    int64_t totals[4] = {};
    Node leaf;
    leaf.kind = 1;
    leaf.street = 3;
    CreateNodeStorages(&leaf, hands_.get(), &layout, totals,
                       NodeStorageOptions{.streamKinds = {kinds[0], kinds[1]}});
    EXPECT_EQ(leaf.regrets, nullptr);
    EXPECT_EQ(leaf.resident, 1);
    EXPECT_EQ(totals[3], 0);

    // Twice on one node: one pair of storages, counted twice.
    Node node;
    node.street = 3;
    node.children = {1, 2};
    CreateNodeStorages(&node, hands_.get(), &layout, totals,
                       NodeStorageOptions{.streamKinds = {kinds[0], kinds[1]}});
    ASSERT_TRUE(node.regrets->reset());
    node.resident = 1;
    CreateNodeStorages(&node, hands_.get(), &layout, totals,
                       NodeStorageOptions{.streamKinds = {kinds[0], kinds[1]}});
    EXPECT_EQ(node.resident, 0);
    EXPECT_EQ(totals[3], 2 * int64_t(layout.packedSize));
    ASSERT_NE(dynamic_cast<ShortRiverStorage*>(node.regrets), nullptr);
    EXPECT_FALSE(static_cast<ShortRiverStorage*>(node.regrets)->hasBlock());
    ASSERT_NE(dynamic_cast<RiverStorage*>(node.strategySums), nullptr);
}

void AskForKindThree(const HandSet* hands, const FlatIndexLists* layout) {
    dup2(STDERR_FILENO, STDOUT_FILENO);
    Node node;
    node.street = 3;
    node.children = {1, 2};
    const uint32_t kinds[2] = {3, 0};
    int64_t totals[4] = {};
    CreateNodeStorages(&node, hands, layout, totals,
                       NodeStorageOptions{.streamKinds = {kinds[0], kinds[1]}});
}

void AskForStreetFour(const HandSet* hands, const FlatIndexLists* layout) {
    dup2(STDERR_FILENO, STDOUT_FILENO);
    Node node;
    node.street = 4;
    node.children = {1, 2};
    const uint32_t kinds[2] = {0, 0};
    int64_t totals[4] = {};
    CreateNodeStorages(&node, hands, layout, totals,
                       NodeStorageOptions{.streamKinds = {kinds[0], kinds[1]}});
}

TEST_F(NodeStorageFactory, RefusesWhatDoesNotExist) {
    // The hand set's OpenMP team is alive: re-execute the binary rather than fork it.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    FlatIndexLists layout;
    FlattenIndexLists(&layout, 2, &hands_->riverHandCounts);
    EXPECT_EXIT(AskForKindThree(hands_.get(), &layout), testing::ExitedWithCode(1),
                "fail \\(unknown stream kind\\)");
    EXPECT_EXIT(AskForStreetFour(hands_.get(), &layout), testing::ExitedWithCode(1), "fail");
}

}  // namespace
