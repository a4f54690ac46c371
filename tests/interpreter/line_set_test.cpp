#include "interpreter/line_set.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "interpreter/tree_state.h"
#include "utilities/output.h"

namespace {

using Words = std::vector<std::string>;

Words line(const std::string& command, const std::string& amounts) {
    Words words{command};
    std::istringstream in(amounts);
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

std::vector<double> keys(const LineNode& node) {
    std::vector<double> out;
    for (const auto& [key, child] : node.children) out.push_back(key);
    return out;
}

const LineNode& at(const LineNode& node, double key) {
    return *node.children.at(key);
}

void expect_node(const LineNode& n, int player, int street, int bets, double amount, double c0,
                 double c1, const std::vector<double>& child_keys) {
    EXPECT_EQ(n.player, player);
    EXPECT_EQ(n.street, street);
    EXPECT_EQ(n.bets, bets);
    EXPECT_EQ(n.amount, amount);
    EXPECT_EQ(n.contribution[0], c0);
    EXPECT_EQ(n.contribution[1], c1);
    EXPECT_EQ(keys(n), child_keys);
    for (const auto& [key, child] : n.children) EXPECT_EQ(child->parent, &n);
}

// Every field of every node, in map order, so two sets compare as texts.
void dump(const LineNode& n, std::ostringstream& out) {
    out << n.player << ' ' << n.street << ' ' << n.bets << ' ' << n.recordIndex << ' ' << n.amount
        << ' ' << n.contribution[0] << ' ' << n.contribution[1] << " {";
    for (const auto& [key, child] : n.children) {
        out << key << ':';
        dump(*child, out);
    }
    out << "}";
}

std::string dump(const LineSet& set) {
    std::ostringstream out;
    dump(*set.root, out);
    return out.str();
}

// Flop start, add_line 0 50 50 150 150: the fields derived by hand, action by action.
TEST(LineSet, WorkedExampleGivesEveryField) {
    LineSet set;
    enter_line(set, line("add_line", "0 50 50 150 150"), false);
    const LineNode& root = *set.root;
    expect_node(root, 0, 0, 0, 0, 0, 0, {0});
    const LineNode& a = at(root, 0);  // OOP checks
    expect_node(a, 1, 0, 0, 0, 0, 0, {50, 0});
    expect_node(at(a, 0), 0, 0, 0, 0, 0, 0, {});  // check behind
    const LineNode& b = at(a, 50);                // IP bets 50
    expect_node(b, 0, 0, 1, 50, 0, 50, {50, -1});
    expect_node(at(b, -1), 0, 0, 0, 0, 0, 50, {});  // OOP folds: its own total is 0
    const LineNode& c = at(b, 50);                  // OOP calls: first turn decision
    expect_node(c, 0, 1, 0, 50, 50, 50, {150});
    const LineNode& d = at(c, 150);  // OOP bets to 150 on the turn
    expect_node(d, 1, 1, 1, 150, 150, 50, {150, -1});
    expect_node(at(d, -1), 0, 1, 0, 50, 150, 50, {});  // IP folds at its total of 50
    const LineNode& e = at(d, 150);                    // IP calls: closes the turn
    expect_node(e, 0, 2, 0, 150, 150, 150, {});
    EXPECT_EQ(e.recordIndex, -1);
    EXPECT_EQ(max_line_amount(root, 0.0), 150.0);

    StartStreet = 1;
    clear_output_buffer();
    print_line_set(root, "", 0.0);
    EXPECT_EQ(output_buffer(),
              "1,0: check 0.0\n"
              "  1,1: bet 50.0\n"
              "    1,0: call 50.0\n"
              "      2,0: bet 150.0\n"
              "        2,1: call 150.0\n"
              "        2,1: fold -1.0\n"
              "    1,0: fold -1.0\n"
              "  1,1: check 0.0\n");
    clear_output_buffer();
}

TEST(LineSet, AutomaticLeavesAndChildOrder) {
    LineSet set;
    // No amount: only the root's fields are reset.
    set.root->player = 1;
    set.root->bets = 3;
    enter_line(set, {"add_line"}, false);
    expect_node(*set.root, 0, 0, 0, 0, 0, 0, {});

    enter_line(set, line("add_line", "0"), false);
    expect_node(at(*set.root, 0), 1, 0, 0, 0, 0, 0, {0});
    enter_line(set, line("add_line", "50"), false);
    expect_node(at(*set.root, 50), 1, 0, 1, 50, 50, 0, {50, -1});
    expect_node(at(at(*set.root, 50), 50), 0, 0, 0, 50, 50, 50, {});
    expect_node(at(at(*set.root, 50), -1), 0, 0, 0, 0, 50, 0, {});  // IP folds at 0

    enter_line(set, line("add_line", "50 50"), false);
    enter_line(set, line("add_line", "50 150"), false);
    const LineNode& bet = at(*set.root, 50);
    EXPECT_EQ(keys(bet), (std::vector<double>{150, 50, -1}));
    // The raise: OOP to act again, with its own call and fold (OOP folds at its total, 50).
    expect_node(at(bet, 150), 0, 0, 2, 150, 50, 150, {150, -1});
    expect_node(at(at(bet, 150), -1), 0, 0, 0, 50, 50, 150, {});
    EXPECT_EQ(keys(*set.root), (std::vector<double>{50, 0}));
    EXPECT_EQ(max_line_amount(*set.root, 0.0), 150.0);
}

TEST(LineSet, DecreasingAmountKeepsWhatEarlierWordsMade) {
    LineSet set;
    const Words words = line("add_line", "50 40");
    try {
        enter_line(set, words, false);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "ERROR: add_line incorrect or missing argument\n");
    }
    EXPECT_EQ(keys(at(*set.root, 50)), (std::vector<double>{50, -1}));
}

TEST(LineSet, BadNumbersChangeNothing) {
    LineSet set;
    for (const char* bad : {"x", "nan", "inf", "-inf", "3e9", "2147483648", "1e400"}) {
        LinesEditedSinceBuild = false;
        const Words words{"add_line", "0", "50", bad};
        EXPECT_ANY_THROW(enter_line(set, words, false)) << bad;
        EXPECT_TRUE(set.root->children.empty()) << bad;
        EXPECT_FALSE(LinesEditedSinceBuild) << bad;
        try {
            enter_line(set, words, false);
        } catch (const std::invalid_argument&) {
        } catch (const std::out_of_range&) {
        } catch (...) {
            ADD_FAILURE() << bad << " is not a conversion error";
        }
    }
    enter_line(set, line("add_line", "2147483647"), false);
    EXPECT_EQ(keys(*set.root), (std::vector<double>{2147483647.0}));
    EXPECT_ANY_THROW(remove_line(set, line("remove_line", "nan")));
    EXPECT_EQ(keys(*set.root), (std::vector<double>{2147483647.0}));
}

TEST(LineSet, NegativeZeroIsZero) {
    LineSet set;
    enter_line(set, line("add_line", "-0 50"), false);
    const LineNode& check = at(*set.root, 0);
    EXPECT_FALSE(std::signbit(check.amount));
    EXPECT_FALSE(std::signbit(check.contribution[0]));
    StartStreet = 1;
    clear_output_buffer();
    print_line_set(*set.root, "", 0.0);
    EXPECT_EQ(output_buffer().substr(0, 15), "1,0: check 0.0\n");
    clear_output_buffer();
}

TEST(LineSet, RemoveLineTreatsZeroAfterABetAsTheFold) {
    LineSet set;
    enter_line(set, line("add_line", "0 0"), false);
    enter_line(set, line("add_line", "50 50"), false);
    const std::string before = dump(set);
    remove_line(set, line("remove_line", "70"));
    remove_line(set, line("remove_line", "50 70 0"));
    EXPECT_EQ(dump(set), before);

    remove_line(set, line("remove_line", "50 0"));
    EXPECT_EQ(keys(at(*set.root, 50)), (std::vector<double>{50}));
    remove_line(set, line("remove_line", "0 0"));
    EXPECT_TRUE(at(*set.root, 0).children.empty());
    remove_line(set, line("remove_line", "50"));
    EXPECT_EQ(keys(*set.root), (std::vector<double>{0}));
}

TEST(LineSet, ForceLinePrunesEveryOtherBranchAlongTheLine) {
    LineSet set;
    for (const char* amounts : {"0 50 50 150 150", "50 150", "0 100", "0 0"})
        enter_line(set, line("add_line", amounts), false);
    LinesEditedSinceBuild = false;
    enter_line(set, line("force_line", "0 50"), true);
    EXPECT_TRUE(LinesEditedSinceBuild);
    EXPECT_EQ(keys(*set.root), (std::vector<double>{0}));
    const LineNode& check = at(*set.root, 0);
    EXPECT_EQ(keys(check), (std::vector<double>{50}));
    const LineNode& bet = at(check, 50);
    EXPECT_EQ(keys(bet), (std::vector<double>{50, -1}));
    EXPECT_EQ(keys(at(bet, 50)), (std::vector<double>{150}));  // the call kept its subtree

    // A new last node gets its automatic leaves after the pruning.
    enter_line(set, line("force_line", "0 75"), true);
    EXPECT_EQ(keys(at(*set.root, 0)), (std::vector<double>{75}));
    EXPECT_EQ(keys(at(at(*set.root, 0), 75)), (std::vector<double>{75, -1}));
}

TEST(LineSet, EditFlagFollowsStructuralChangesOnly) {
    LineSet set;
    enter_line(set, line("add_line", "0 50"), false);
    LinesEditedSinceBuild = false;
    enter_line(set, line("add_line", "0 50"), false);
    enter_line(set, line("add_line", "0"), false);
    remove_line(set, line("remove_line", "70"));
    EXPECT_FALSE(LinesEditedSinceBuild);
    // Passing the automatic call moves it to the turn: an edit although no node is new.
    enter_line(set, line("add_line", "0 50 50"), false);
    EXPECT_TRUE(LinesEditedSinceBuild);
    LinesEditedSinceBuild = false;
    remove_line(set, line("remove_line", "0 50 0"));
    EXPECT_TRUE(LinesEditedSinceBuild);
    LinesEditedSinceBuild = false;
    clear_line_set(set);
    EXPECT_TRUE(LinesEditedSinceBuild);
    EXPECT_TRUE(set.root->children.empty());
}

TEST(LineSet, LoadedDealingNodes) {
    LineSet set;
    enter_line(set, line("add_line", "50 50 80"), false);
    LineNode& call = *set.root->children.at(50)->children.at(50);
    call.player = -1;  // a dealing node, as a loaded set may hold
    StartStreet = 1;
    clear_output_buffer();
    print_line_set(*set.root, "", 0.0);
    EXPECT_EQ(output_buffer(),
              "1,0: bet 50.0\n"
              "  1,1: call 50.0\n"
              "    deal\n"
              "      2,1: call 80.0\n"
              "      2,1: fold -1.0\n"
              "  1,1: fold -1.0\n");
    clear_output_buffer();
    // Passing it as a line rewrites it as a decision of the line's player.
    enter_line(set, line("add_line", "50 50 80"), false);
    expect_node(call, 0, 1, 0, 50, 50, 50, {80});
    expect_node(at(call, 80), 1, 1, 1, 80, 80, 50, {80, -1});
}

// Random non-decreasing lines: entering each line again changes nothing, and the largest
// amount is the largest entered.
TEST(LineSet, ReenteringLinesIsIdempotent) {
    std::mt19937 rng(12345);
    for (int trial = 0; trial < 50; ++trial) {
        LineSet set;
        std::vector<Words> lines;
        double largest = 0.0;
        for (int n = 0; n < 12; ++n) {
            Words words{"add_line"};
            int amount = 0;
            const int length = 1 + static_cast<int>(rng() % 7);
            for (int i = 0; i < length; ++i) {
                if (rng() % 2) amount += 25 * static_cast<int>(1 + rng() % 4);
                words.push_back(std::to_string(amount));
                largest = std::max(largest, static_cast<double>(amount));
            }
            enter_line(set, words, false);
            lines.push_back(words);
        }
        const std::string before = dump(set);
        LinesEditedSinceBuild = false;
        for (const Words& words : lines) enter_line(set, words, false);
        EXPECT_EQ(dump(set), before);
        EXPECT_FALSE(LinesEditedSinceBuild);
        EXPECT_EQ(max_line_amount(*set.root, 0.0), largest);
    }
}

// A line far deeper than any thread's stack could recurse over: entering, measuring, pruning
// and freeing it all work.
TEST(LineSet, DeepLinesNeedNoRecursion) {
    constexpr int kDepth = 400000;
    Words words{"force_line"};
    for (int i = 1; i <= kDepth; ++i) words.push_back(std::to_string(i));
    {
        LineSet set;
        enter_line(set, words, true);
        EXPECT_EQ(max_line_amount(*set.root, 0.0), kDepth);
        enter_line(set, line("force_line", "1 3"), true);  // prunes the deep branch below 1
        EXPECT_EQ(max_line_amount(*set.root, 0.0), 3.0);
        enter_line(set, words, true);
        clear_line_set(set);
        enter_line(set, words, false);
    }  // the set's destructor frees the deep line too
}

TEST(LineSet, MaxLineAmountIgnoresFolds) {
    LineSet set;
    EXPECT_EQ(max_line_amount(*set.root, 0.0), 0.0);
    enter_line(set, line("add_line", "0"), false);
    EXPECT_EQ(max_line_amount(*set.root, -5.0), 0.0);
}

}  // namespace

namespace {

// Children descend strictly, the fold (if any) is last, parents point back, and every
// continuation's key is its amount unless it is a fold.
void expect_well_formed(const LineNode& node) {
    double previous = std::numeric_limits<double>::infinity();
    for (const auto& [key, child] : node.children) {
        EXPECT_LT(key, previous);
        EXPECT_TRUE(key == -1.0 || key >= 0.0);
        EXPECT_EQ(child->parent, &node);
        if (key >= 0.0) {
            EXPECT_EQ(child->amount, key);
        }
        EXPECT_GE(child->player, 0);
        EXPECT_LE(child->player, 1);
        previous = key;
        expect_well_formed(*child);
    }
}

TEST(LineSet, RandomEditsKeepTheSetWellFormed) {
    std::mt19937 rng(2024);
    LineSet set;
    const char* commands[] = {"add_line", "add_line", "force_line", "remove_line"};
    for (int step = 0; step < 3000; ++step) {
        Words words{commands[rng() % 4]};
        int amount = 0;
        const int length = static_cast<int>(rng() % 6);
        for (int i = 0; i < length; ++i) {
            const unsigned r = rng() % 10;
            if (r < 5) amount += 25 * static_cast<int>(1 + rng() % 4);
            if (r == 9 && words[0] == "remove_line") amount = 0;
            words.push_back(r == 8 ? std::to_string(amount - 10) : std::to_string(amount));
        }
        try {
            if (words[0] == "remove_line") {
                remove_line(set, words);
            } else {
                enter_line(set, words, words[0] == "force_line");
            }
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(),
                         ("ERROR: " + words[0] + " incorrect or missing argument\n").c_str());
        }
        if (step % 100 == 0) clear_line_set(set);
        expect_well_formed(*set.root);
    }
}

}  // namespace
