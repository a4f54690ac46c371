#include "interpreter/node_path.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <stdexcept>
#include <string>

#include "cards/cards.h"
#include "interpreter/line_set.h"
#include "interpreter/situation.h"
#include "interpreter/tree_state.h"
#include "utilities/output.h"

namespace {

CardMask cards(const char* text) {
    CardMask mask = 0;
    ParseCards(&mask, text);
    return mask;
}

int card(const char* text) {
    return LowestCard(cards(text));
}

// The worked-example set plus add_line 50 50, on a built flop tree of Ks 7h 2d.
class NodePathTest : public testing::Test {
protected:
    void SetUp() override {
        clear_line_set(line_set());
        enter_line(line_set(), {"add_line", "0", "50", "50", "150", "150"}, false);
        enter_line(line_set(), {"add_line", "50", "50"}, false);
        TreePresent = true;
        StartStreet = 1;
        TreeBoardMasks = {cards("Ks7h2d"), 0, 0};
        LinesEditedSinceBuild = false;
        set_current_command_word("show_node");
    }
    void TearDown() override {
        TreePresent = false;
        StartStreet = 0;
        TreeBoardMasks = {0, 0, 0};
        clear_line_set(line_set());
        LinesEditedSinceBuild = false;
    }

    const LineNode* node(std::initializer_list<double> keys) {
        const LineNode* n = line_set().root.get();
        for (double k : keys) n = n->children.at(k).get();
        return n;
    }

    static std::string error_of(const std::string& text) {
        try {
            parse_node_path(text);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "no error";
    }
};

const std::string kIncorrect = "ERROR: show_node incorrect path\n";
const std::string kNoTree = "ERROR: show_node missing/incorrect tree\n";

TEST_F(NodePathTest, RootPaths) {
    NodePath p = parse_node_path("r");
    EXPECT_EQ(p.node, nullptr);
    EXPECT_EQ(p.turn, -1);
    EXPECT_EQ(p.river, -1);
    p = parse_node_path("r:0");
    EXPECT_EQ(p.node, line_set().root.get());
    EXPECT_EQ(p.streetClosed, 0);
    for (const char* bad : {"", ":", "r:1", "x:0", "r0", "R:0", "r:00", "r:0:x"})
        EXPECT_EQ(error_of(bad), kIncorrect) << bad;

    TreeBoardMasks[1] = cards("9c");
    StartStreet = 2;
    p = parse_node_path("r");
    EXPECT_EQ(p.turn, card("9c"));
    EXPECT_EQ(p.river, -1);
}

TEST_F(NodePathTest, ActionsAndStreetClosing) {
    NodePath p = parse_node_path("r:0:c");
    EXPECT_EQ(p.node, node({0}));
    EXPECT_EQ(p.streetClosed, 0);
    p = parse_node_path("r:0:b50:c");
    EXPECT_EQ(p.node, node({50, 50}));
    EXPECT_EQ(p.streetClosed, 1);
    EXPECT_EQ(path_street(p), 2);
    p = parse_node_path("r:0:b50:c:Kh");
    EXPECT_EQ(p.node, node({50, 50}));
    EXPECT_EQ(p.streetClosed, 0);
    EXPECT_EQ(p.turn, card("Kh"));
    p = parse_node_path("r:0:b50:f");
    EXPECT_EQ(p.node, node({50, -1}));
    // A "b" equal to the node's amount reaches the call without closing the street.
    p = parse_node_path("r:0:b50:b50");
    EXPECT_EQ(p.node, node({50, 50}));
    EXPECT_EQ(p.streetClosed, 0);
    // Doubled, leading and trailing colons add nothing, and replies print the path without them.
    for (const char* loose : {"r::0:b50", "r:0:b50:", ":r::0:::b50:"}) {
        EXPECT_EQ(parse_node_path(loose).node, parse_node_path("r:0:b50").node) << loose;
        EXPECT_EQ(canonical_path_text(loose), "r:0:b50") << loose;
    }
    EXPECT_EQ(parse_node_path(":r:0").node, line_set().root.get());
    // Check behind on the flop is an automatic leaf: no street closes there.
    p = parse_node_path("r:0:c:c");
    EXPECT_EQ(p.node, node({0, 0}));
    EXPECT_EQ(p.streetClosed, 0);
    // The turn call closes the turn.
    p = parse_node_path("r:0:c:b50:c:Kh:b150:c");
    EXPECT_EQ(p.node, node({0, 50, 50, 150, 150}));
    EXPECT_EQ(p.streetClosed, 1);
    EXPECT_EQ(p.turn, card("Kh"));

    for (const char* bad : {"r:0:b70", "r:0:f", "r:0:b50:c:c", "r:0:c:b50:c:Kh:f:c"})
        EXPECT_EQ(error_of(bad), kIncorrect) << bad;
}

TEST_F(NodePathTest, CardsOnlyAtTheFirstNodeOfAStreet) {
    for (const char* bad : {"r:0:Kh", "r:0:b50:Kh", "r:0:b50:c:KhQd", "r:0:b50:c:Ks",
                            "r:0:b50:c:Kh:Qd", "r:0:c:b50:c:Kh:b150:Qd", "r:0:b50:c:K"})
        EXPECT_EQ(error_of(bad), kIncorrect) << bad;
    EXPECT_EQ(error_of("r:0:b50:c:Kx"), "ERROR: invalid card\n");
    EXPECT_EQ(error_of("r:0:b50:c:1h"), "ERROR: invalid card\n");
    // Lower case is a card like any other.
    EXPECT_EQ(parse_node_path("r:0:b50:c:kh").turn, card("Kh"));

    // A river card needs the turn card first, and must differ from it.
    EXPECT_EQ(error_of("r:0:c:b50:c:b150:c:Kh"), kIncorrect);
    EXPECT_EQ(error_of("r:0:c:b50:c:Kh:b150:c:Kh"), kIncorrect);
    NodePath p = parse_node_path("r:0:c:b50:c:Kh:b150:c:Qd");
    EXPECT_EQ(p.turn, card("Kh"));
    EXPECT_EQ(p.river, card("Qd"));
    EXPECT_EQ(p.streetClosed, 0);
}

TEST_F(NodePathTest, TurnBoardFillsTheTurnSlot) {
    TreeBoardMasks = {cards("Ks7h2d"), cards("9c"), 0};
    StartStreet = 2;
    NodePath p = parse_node_path("r:0:b50:c:Qd");
    EXPECT_EQ(p.turn, card("9c"));
    EXPECT_EQ(p.river, card("Qd"));
    EXPECT_EQ(error_of("r:0:b50:c:9c"), kIncorrect);  // the board's own turn card
    EXPECT_EQ(error_of("r:0:b50:c:2d"), kIncorrect);  // a flop card
}

TEST_F(NodePathTest, PathsReadTheBoardOfTheBuiltTree) {
    // The current board is no longer the built one; paths keep to the tree's.
    BoardMasks = {cards("AhAdAc"), cards("7h"), 0};
    EXPECT_EQ(error_of("r:0:b50:c:7h"), kIncorrect);
    EXPECT_EQ(parse_node_path("r:0:b50:c:Ah").turn, card("Ah"));
    EXPECT_EQ(parse_node_path("r").turn, -1);
    BoardMasks = {0, 0, 0};
}

TEST_F(NodePathTest, AmountsMustBeFiniteNumbers) {
    for (const char* bad : {"r:0:bnan", "r:0:binf", "r:0:bx", "r:0:b", "r:0:b3e9"}) {
        EXPECT_THROW(parse_node_path(bad), std::invalid_argument) << bad;
    }
    EXPECT_EQ(parse_node_path("r:0:b50.0xyz").node, node({50}));
}

TEST_F(NodePathTest, NeedsATreeThatMatchesTheLines) {
    TreePresent = false;
    EXPECT_EQ(error_of("r"), kNoTree);
    EXPECT_EQ(error_of("garbage"), kNoTree);
    TreePresent = true;
    enter_line(line_set(), {"add_line", "0", "50"}, false);  // already there
    EXPECT_EQ(error_of("r:0:c"), "no error");
    enter_line(line_set(), {"add_line", "0", "70"}, false);  // a new node
    EXPECT_EQ(error_of("r"), kNoTree);
    EXPECT_EQ(error_of("r:0:c"), kNoTree);
}

TEST_F(NodePathTest, RequireNodeCards) {
    auto check = [](const std::string& text) {
        try {
            require_node_cards(parse_node_path(text));
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("ok");
    };
    EXPECT_EQ(check("r:0:c:b50:c:b150"), kIncorrect);
    EXPECT_EQ(check("r:0:c:b50:c:Kh:b150"), "ok");
    EXPECT_EQ(check("r:0:c:b50:c"), "ok");  // the chance node still counts as the flop
    EXPECT_EQ(check("r:0:c:b50:c:Kh:b150:c"), "ok");
    EXPECT_EQ(check("r:0:c:b50:c:Kh:b150:c:Qd"), "ok");
    EXPECT_EQ(check("r"), "ok");
    EXPECT_EQ(check("r:0:b50:f"), "ok");
    // A river node without its river card.
    TreeBoardMasks = {cards("Ks7h2d"), cards("9c"), 0};
    StartStreet = 2;
    EXPECT_EQ(check("r:0:c:b50:c:b150"), kIncorrect);
    EXPECT_EQ(check("r:0:c:b50:c:Qd:b150"), "ok");
}

TEST_F(NodePathTest, CompletePathCards) {
    const NodePath turn_node = parse_node_path("r:0:b50:c:Kh");
    NodePath parent = complete_path_cards(turn_node);
    EXPECT_EQ(parent.node, node({50}));
    EXPECT_EQ(parent.turn, -1);
    EXPECT_EQ(parent.river, -1);
    const NodePath deeper = parse_node_path("r:0:c:b50:c:Kh:b150");
    parent = complete_path_cards(deeper);
    EXPECT_EQ(parent.node, node({0, 50, 50}));
    EXPECT_EQ(parent.turn, card("Kh"));
    parent = complete_path_cards(parse_node_path("r:0"));
    EXPECT_EQ(parent.node, nullptr);
    EXPECT_EQ(parent.turn, -1);
    const NodePath root = parse_node_path("r");
    EXPECT_EQ(complete_path_cards(root).node, nullptr);
}

TEST(Split, DropsEmptyItems) {
    EXPECT_EQ(split("r::0:b50:", ':'), (std::vector<std::string>{"r", "0", "b50"}));
    EXPECT_TRUE(split("", ':').empty());
    EXPECT_TRUE(split(":::", ':').empty());
    EXPECT_EQ(split("abc", ':'), (std::vector<std::string>{"abc"}));
}

}  // namespace

namespace {

// Random paths from plausible and broken elements: each either resolves to a node of the set
// with consistent cards or fails with one of the path errors; nothing else may happen.
TEST_F(NodePathTest, RandomPathsResolveOrFailCleanly) {
    const char* elements[] = {"r",  "0",  "1",  "b50", "b150", "b0",   "bnan", "b", "c",   "f",
                              "Kh", "Qd", "Ks", "2d",  "kh",   "KhQd", "x",    "",  "b-1", "c5"};
    std::mt19937 rng(99);
    int resolved = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        std::string text = trial % 4 == 0 ? "" : "r:0";
        const int length = static_cast<int>(rng() % 9);
        for (int i = 0; i < length; ++i) {
            text += rng() % 5 == 0 ? "::" : ":";
            text += elements[rng() % std::size(elements)];
        }
        try {
            const NodePath p = parse_node_path(text);
            ++resolved;
            if (p.node == nullptr) continue;
            // The node hangs in the set: walk up to the root.
            const LineNode* n = p.node;
            while (n->parent != nullptr) n = n->parent;
            EXPECT_EQ(n, line_set().root.get()) << text;
            const CardMask board = TreeBoardMasks[0];
            if (p.turn >= 0) {
                EXPECT_EQ(board & CardBit(p.turn), 0u) << text;
            }
            if (p.river >= 0) {
                EXPECT_GE(p.turn, 0) << text;
                EXPECT_NE(p.turn, p.river) << text;
                EXPECT_EQ(board & CardBit(p.river), 0u) << text;
            }
        } catch (const std::invalid_argument&) {
        } catch (const std::runtime_error& e) {
            const std::string what = e.what();
            EXPECT_TRUE(what == kIncorrect || what == "ERROR: invalid card\n") << text << what;
        }
    }
    EXPECT_GT(resolved, 100);
}

}  // namespace
