// Saved trees through load_tree: files the test writer makes from live trees load back into the
// same tree (every stored byte), answer the same and solve on bit for bit; damaged files give
// load_tree's error reply, leave no tree, and a good file loads after them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cards/hand_evaluator.h"
#include "interpreter/combo_order.h"
#include "saved_tree_writer.h"

namespace {

using saved_tree::Cmd;
using saved_tree::WriterOptions;
using Bytes = std::vector<uint8_t>;

struct Spot {
    const char* board;
    std::vector<const char*> lines;
    const char* riverPath;  // a river node, for a query below the packed rows
};

const Spot kFlop = {"Ks 7h 2d", {"add_line 0 0 0 0 0 0", "add_line 0 0 0 0 50 50", "add_line 50 50 0 0 0 0", "add_line 50 100 100 0 0 0 0"}, "r:0:c:c:6s:c:c:3c"};
const Spot kTurn = {"Ks 7h 2d 9c", {"add_line 0 0 0 0", "add_line 0 50 50 0 0", "add_line 50 50 50 50", "add_line 50 150 150 0 0"}, "r:0:c:c:3c"};
const Spot kRiver = {"Ks 7h 2d 9c 4h", {"add_line 0 0", "add_line 50 50", "add_line 0 50 150 150"}, "r:0:b50"};

// Narrow ranges keep the flop trees small: pairs and broadways for OOP, pairs and suited
// hands for IP.
void SetUpSpot(const Spot& spot, int level, int iterations) {
    static bool once = [] {
        InitHandEvalTables();
        build_combo_tables();
        return true;
    }();
    (void)once;
    for (int p = 0; p < 2; ++p) {
        PlayerRanges[p].assign(kComboCount, 0.0);
        for (int c = 0; c < kComboCount; ++c) {
            const CardPair pair = ComboCards(c);
            const int a = CardRank(CardPairHi(pair)), b = CardRank(CardPairLo(pair));
            const bool suited = CardSuit(CardPairHi(pair)) == CardSuit(CardPairLo(pair));
            if (a == b || (p == 0 ? std::min(a, b) >= 9 : suited && std::max(a, b) >= 10))
                PlayerRanges[p][c] = 1.0;
        }
    }
    ASSERT_EQ(Cmd(std::string("set_board ") + spot.board), "set_board ok!\n");
    Cmd("set_pot 0 0 100");
    Cmd("set_isomorphism 1 1");
    Cmd("clear_lines");
    for (const char* line : spot.lines) Cmd(line);
    Cmd("set_compression " + std::to_string(level));
    ASSERT_EQ(Cmd("build_tree"), "build_tree ok!\n");
    Cmd("reset_tree_info");
    Cmd("add_info_line \"first line\"");
    Cmd("add_info_line #x");
    if (iterations > 0) {
        Cmd("go " + std::to_string(iterations) + " steps");
        Cmd("wait_for_solver");
    }
}

// Every storage's bytes, in node order (what a solve changes).
Bytes StorageBytes() {
    MemoryWriter out;
    const bool as16 = false;
    for (TreeNode& node : g_solvedTree->nodes) {
        if (node.regrets) saved_tree::PutStorage(out, node.regrets, 7, as16);
        if (node.strategySums) saved_tree::PutStorage(out, node.strategySums, 7, as16);
    }
    return out.take();
}

std::string Answers(const Spot& spot, int version) {
    std::string a;
    for (const char* q : {"show_strategy r", "show_node r", "get_actual_compression",
                          "calc_results", "is_tree_present"})
        a += Cmd(q);
    // Older files carry no info lines.
    if (version >= 7) a += Cmd("show_tree_info");
    a += Cmd(std::string("show_strategy ") + spot.riverPath);
    return a;
}

// -1 when equal, else the first offset that differs (or the shorter size).
long FirstDifference(const Bytes& a, const Bytes& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return static_cast<long>(i);
    return a.size() == b.size() ? -1 : static_cast<long>(n);
}

std::string TempPath() {
    char path[] = "/tmp/nlhe_saved_tree_XXXXXX";
    close(mkstemp(path));
    return path;
}

TEST(SavedTree, RoundTripsAndSolvesOn) {
    struct Case {
        const Spot* spot;
        int level;
        WriterOptions o;
    };
    const Case cases[] = {
        {&kRiver, 0, {1, false, false, 2}},
        {&kRiver, 0, {3, false, false, 2}},
        {&kTurn, 0, {2, false, false, 2}},
        {&kTurn, 0, {4, false, false, 0}},
        {&kTurn, 1, {5, false, false, 1}},
        {&kFlop, 0, {6, false, true, 2}},
        {&kFlop, 1, {7, false, false, 0}},
        {&kFlop, 2, {7, false, false, 1}},
        {&kFlop, 2, {6, true, false, 2}},
        {&kFlop, 4, {7, false, true, 2}},
    };
    const std::string path = TempPath();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.spot->board << " level " << c.level << " version "
                                        << c.o.version << " kind " << c.o.slowKind);
        SetUpSpot(*c.spot, c.level, 7);
        const Bytes file = saved_tree::WriteSavedTree(c.o);
        saved_tree::WriteFile(path, file);
        const std::string before = Answers(*c.spot, c.o.version);
        Cmd("go 20 steps");
        Cmd("wait_for_solver");
        const Bytes solvedOn = StorageBytes();

        Cmd("set_isomorphism 0 0");  // the file's flag decides
        ASSERT_EQ(Cmd("load_tree " + path), "load_tree ok!\n");
        Cmd("set_isomorphism 1 1");
        EXPECT_EQ(FirstDifference(saved_tree::WriteSavedTree(c.o), file), -1) << file.size();
        EXPECT_EQ(Answers(*c.spot, c.o.version), before);
        // A turn root below version 5 solves on with 16-bit river regrets.
        if (c.spot == &kTurn && c.o.version < 5) continue;
        Cmd("go 20 steps");
        Cmd("wait_for_solver");
        EXPECT_EQ(FirstDifference(StorageBytes(), solvedOn), -1) << solvedOn.size();
    }
    std::remove(path.c_str());
}

}  // namespace
