// Tree building in the interpreter: the automatic compression level, line flattening and the
// state a build leaves behind.
#include "interpreter/tree_commands.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cards/hand_evaluator.h"
#include "interpreter/combo_order.h"
#include "interpreter/line_set.h"
#include "interpreter/node_commands.h"
#include "interpreter/situation.h"
#include "interpreter/tree_state.h"
#include "solver/solved_tree.h"
#include "solver/solver_defaults.h"
#include "storage/lock_record.h"
#include "storage/storage_interface.h"
#include "utilities/output.h"

namespace {

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

TEST(CompressionLevel, Thresholds) {
    const uint64_t S = 1000000;
    EXPECT_EQ(choose_compression_level(S, S + 1, false), 0);
    EXPECT_EQ(choose_compression_level(S, S, false), 1);  // not below: level 1 at least
    EXPECT_EQ(choose_compression_level(S, 580001, false), 1);
    EXPECT_EQ(choose_compression_level(S, 580000, false), 2);
    EXPECT_EQ(choose_compression_level(S, 390001, false), 2);
    EXPECT_EQ(choose_compression_level(S, 390000, false), 3);
    EXPECT_EQ(choose_compression_level(S, 290001, false), 3);
    EXPECT_EQ(choose_compression_level(S, 290000, false), 4);
    // A flop of exactly three suits lowers the bounds of levels 2 to 4, not that of level 1.
    EXPECT_EQ(choose_compression_level(S, 580000, true), 2);
    EXPECT_EQ(choose_compression_level(S, 312001, true), 2);
    EXPECT_EQ(choose_compression_level(S, 312000, true), 3);
    EXPECT_EQ(choose_compression_level(S, 232001, true), 3);
    EXPECT_EQ(choose_compression_level(S, 231999, true), 4);
    EXPECT_EQ(choose_compression_level(0, 1, false), 0);
}

TEST(TreeCommands, FlattenWorkedExample) {
    LineSet set;
    enter_line(set, Words("add_line 0 50 50 150 150"), false);
    std::vector<TreeLine> records;
    std::vector<LineNode*> order;
    flatten_lines(records, order, set.root.get(), -1, 0.0, 1, 100.0);
    const TreeLine want[9] = {
        {0, -1, 0, 1, 0.0},    {0, 0, 1, 1, 0.0},    {0, 1, 0, 1, 0.0},
        {0, 2, 0, 2, 0.0},     {0, 3, 1, 2, 0.0},    {1, 4, -1, -1, 200.0},
        {2, 4, -1, -1, 100.0}, {2, 2, -1, -1, 50.0}, {1, 1, -1, -1, 50.0},
    };
    ASSERT_EQ(records.size(), 9u);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(records[i].kind, want[i].kind) << i;
        EXPECT_EQ(records[i].parent, want[i].parent) << i;
        EXPECT_EQ(records[i].player, want[i].player) << i;
        EXPECT_EQ(records[i].street, want[i].street) << i;
        EXPECT_EQ(records[i].amount, want[i].amount) << i;
    }
    EXPECT_EQ(order[0], set.root.get());
}

TEST(TreeCommands, BuildLeavesTheTreeState) {
    InitHandEvalTables();
    build_combo_tables();
    PlayerRanges[0].assign(kComboCount, 1.0);
    PlayerRanges[1].assign(kComboCount, 1.0);
    CardMask flop = 0;
    ParseCards(&flop, "Ks7h2d");
    BoardMasks = {flop, 0, 0};
    PotValues = {0, 0, 100};
    clear_line_set(line_set());
    enter_line(line_set(), Words("add_line 0 50 50 150 150"), false);
    // Plenty of memory: level 0 without compression.
    set_free_memory_source([] { return uint64_t{1} << 50; });
    auto words = Words("build_tree");
    cmd_build_tree(words);
    EXPECT_TRUE(TreePresent);
    EXPECT_FALSE(LinesEditedSinceBuild);
    EXPECT_EQ(StartStreet, 1);
    EXPECT_EQ(EffectiveStack, 150);
    EXPECT_EQ(TreeBoardMasks[0], flop);
    EXPECT_EQ(TreePot, 100.0);
    EXPECT_EQ(AppliedCompression, 0);
    ASSERT_NE(g_solvedTree, nullptr);
    EXPECT_EQ(g_solvedTree->nodes.size(), 9u);
    EXPECT_EQ(line_set().root->recordIndex, 0);
    EXPECT_EQ(line_set().root->children.begin()->second->recordIndex, 1);
    // No memory at all: the highest level.
    set_free_memory_source([] { return uint64_t{0}; });
    auto again = Words("build_tree");
    cmd_build_tree(again);
    EXPECT_EQ(AppliedCompression, 4);
    // A rejected build keeps the tree and the state of the last good one.
    BoardMasks[1] = CardBit(0);  // 2c: a turn root
    PotValues[2] = 300;
    std::vector<double> zero(kComboCount, 0.0);
    PlayerRanges[0] = zero;
    SolvedTree* before = g_solvedTree;
    auto fail = Words("build_tree");
    EXPECT_THROW(cmd_build_tree(fail), std::runtime_error);
    EXPECT_EQ(g_solvedTree, before);
    EXPECT_EQ(StartStreet, 1);
    EXPECT_EQ(TreePot, 100.0);
    // The flags line reads the lock record of the node's regret storage at the path's runout.
    struct LockOnly : StorageInterface {
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
        StorageStreamInterface* unpack(StorageStreamInterface*, int32_t, int32_t) override {
            return nullptr;
        }
        StorageStreamInterface* pack(StorageStreamInterface*, int32_t, bool) override {
            return nullptr;
        }
        LockRecord* flagsPtr(int32_t, int32_t) override { return &record; }
    };
    auto* lock = new LockOnly;
    TreeNode& check = g_solvedTree->nodes[1];
    delete check.regrets;
    check.regrets = lock;
    for (uint32_t flags : {kLockNodeFlag, kLockCombosFlag}) {
        lock->record.flags = flags;
        clear_output_buffer();
        auto show = Words("show_node r:0:c");
        cmd_show_node(show);
        const std::string want =
            flags == kLockNodeFlag ? "flags: LOCKED\n" : "flags: COMBO_LOCKED\n";
        EXPECT_NE(output_buffer().find(want), std::string::npos) << output_buffer();
    }
    lock->record.flags = 0;
    set_free_memory_source(nullptr);
    clear_output_buffer();
    libsubgame_free_scenario();
    TreePresent = false;
}

}  // namespace
