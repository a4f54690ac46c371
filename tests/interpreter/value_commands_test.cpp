// Value, equity, range and frequency commands through the real program, checked from the printed
// numbers: EVs against the result summary, frequencies of children against their node and of
// turn cards against their line, equity totals, show_probs against show_range and
// show_strategy, equities against a brute force with the evaluator, answers that ignore a
// changed situation until the next build, and every command while the solver runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cards/cards.h"
#include "cards/hand_evaluator.h"
#include "interpreter/combo_order.h"
#include "interpreter/equity_commands.h"
#include "program_session.h"

namespace {

using namespace session;
using Values = std::vector<double>;

// One command per section, so each reply is found by the index ask() returns.
struct Script {
    std::string text;
    int count = 0;
    int ask(const std::string& command) {
        text += "is_ready\n" + command + "\n";
        return ++count;
    }
};

const char* const kFlopLines =
    "add_line 0 0 0 0 0 0\nadd_line 0 0 0 0 50 50\nadd_line 0 0 50 50 50 50\n"
    "add_line 0 0 50 50 150 150\nadd_line 50 50 50 50 50 50\nadd_line 50 50 50 50 150 150\n"
    "add_line 50 50 150 150 150 150\nadd_line 50 50 150 150 350 350\n";

double oop_weight(CardMask m) {
    const int h = high_rank(m), l = low_rank(m);
    return (h == l && h >= 5) || (h >= 11 && l >= 9) ? 1.0 : 0.0;
}
double ip_weight(CardMask m) {
    const int h = high_rank(m), l = low_rank(m);
    return (h == l && h >= 4) || (h >= 10 && l >= 9) ? 1.0 : 0.0;
}

// A two-tone flop spot solved for a few iterations.
std::string flop_spot(bool isomorphism = true) {
    return std::string(isomorphism ? "set_isomorphism 1 1\n" : "set_isomorphism 0 0\n") +
           "set_threads 2\nset_pot 0 0 100\nset_board Kh 8h 3c\n" + range_line("OOP", oop_weight) +
           "\n" + range_line("IP", ip_weight) + "\n" + kFlopLines +
           "build_tree\ngo 4 steps\nwait_for_solver\n";
}

double weighted(const Values& v, const Values& w) {
    double num = 0, den = 0;
    for (size_t k = 0; k < v.size(); ++k)
        if (!std::isnan(v[k])) {
            num += v[k] * w[k];
            den += w[k];
        }
    return num / den;
}

double summary_value(const Lines& section, const std::string& label) {
    for (const std::string& line : section)
        if (line.rfind(label, 0) == 0) return std::stod(line.substr(label.size()));
    return std::nan("");
}

// Labels and shares of "OOP p IP q b50 0.3 c 0.7".
std::vector<std::pair<std::string, double>> probs_items(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string word; in >> word;) w.push_back(word);
    std::vector<std::pair<std::string, double>> items;
    for (size_t k = 4; k + 1 < w.size(); k += 2) items.push_back({w[k], std::stod(w[k + 1])});
    return items;
}

// Equity of each canonical combination of `own` against the weights `opp`, averaged over every
// runout of the cards still to come, by enumeration. Every compatible pair meets the same number
// of runouts, so summing over runouts first (hand values once per runout) gives the same mean.
Values brute_equity(CardMask board, const Values& own, const Values& opp) {
    std::vector<int> rest;
    for (int c = 0; c < kCardCount; ++c)
        if (!(board & CardBit(c))) rest.push_back(c);
    const int missing = 5 - __builtin_popcountll(board);
    std::vector<CardMask> runouts;
    if (missing == 0) runouts.push_back(0);
    for (size_t x = 0; missing > 0 && x < rest.size(); ++x) {
        if (missing == 1) runouts.push_back(CardBit(rest[x]));
        for (size_t y = x + 1; missing == 2 && y < rest.size(); ++y)
            runouts.push_back(CardBit(rest[x]) | CardBit(rest[y]));
    }
    std::vector<int> mine, theirs;
    for (int k = 0; k < kComboCount; ++k) {
        if (HandOrderMasks[k] & board) continue;
        if (own[k] > 0) mine.push_back(k);
        if (opp[k] > 0) theirs.push_back(k);
    }
    Values num(kComboCount, 0.0), den(kComboCount, 0.0);
    std::vector<HandValue> value(kComboCount);
    for (CardMask r : runouts) {
        for (const std::vector<int>* side : {&mine, &theirs})
            for (int k : *side)
                if (!(HandOrderMasks[k] & r))
                    value[k] = EvalCardMask(board | r | HandOrderMasks[k]);
        for (int i : mine) {
            const CardMask a = HandOrderMasks[i];
            if (a & r) continue;
            for (int j : theirs) {
                if (HandOrderMasks[j] & (a | r)) continue;
                num[i] += opp[j] * (value[i] > value[j] ? 1.0 : value[i] < value[j] ? 0.0 : 0.5);
                den[i] += opp[j];
            }
        }
    }
    Values eq(kComboCount, std::nan(""));
    for (int i : mine)
        if (den[i] > 0) eq[i] = num[i] / den[i];
    return eq;
}

class ValueCommands : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        build_combo_tables();
        InitHandEvalTables();
    }
};

class PrintedNumbers : public ValueCommands, public ::testing::WithParamInterface<bool> {};

// With isomorphism on and off.
TEST_P(PrintedNumbers, AgreeWithEachOther) {
    Script s;
    s.text = flop_spot(GetParam());
    const int results = s.ask("calc_results");
    const int ev[2] = {s.ask("calc_ev OOP r"), s.ask("calc_ev IP r")};
    // Decision nodes of every street; the flop ones with their acting player.
    const std::vector<std::string> nodes = {"r:0",
                                            "r:0:c",
                                            "r:0:b50",
                                            "r:0:c:c:Qd",
                                            "r:0:b50:c:Qd",
                                            "r:0:c:c:Qd:c:c:2s",
                                            "r:0:c:c:Qd:c:c:2s:c",
                                            "r:0:b50:c:Qd:b150:c:2s"};
    const std::map<std::string, int> acting = {{"r:0", 0},
                                               {"r:0:c", 1},
                                               {"r:0:b50", 1},
                                               {"r:0:c:c:Qd", 0},
                                               {"r:0:b50:c:Qd", 0},
                                               {"r:0:c:c:Qd:c:c:2s", 0},
                                               {"r:0:c:c:Qd:c:c:2s:c", 1},
                                               {"r:0:b50:c:Qd:b150:c:2s", 0}};
    struct NodeAsks {
        int probs, freq, eq[2], range[2], strategy;
        std::map<std::string, int> child;  // line frequency by action label
    };
    std::map<std::string, NodeAsks> asks;
    for (const std::string& n : nodes) {
        asks[n] = {s.ask("show_probs " + n),
                   s.ask("calc_line_freq " + n),
                   {s.ask("calc_eq_node OOP " + n), s.ask("calc_eq_node IP " + n)},
                   {s.ask("show_range OOP " + n), s.ask("show_range IP " + n)},
                   s.ask("show_strategy " + n),
                   {}};
        // Every label the lines can give; the ones that name no child are refused.
        for (const char* label : {"b50", "b150", "b350", "c", "f"})
            asks[n].child[label] = s.ask("calc_line_freq " + n + ":" + label);
    }
    std::vector<int> globals;
    const CardMask board = [] {
        CardMask m = 0;
        ParseCards(&m, "Kh8h3c");
        return m;
    }();
    for (int c = 0; c < kCardCount; ++c)
        if (!(board & CardBit(c)))
            globals.push_back(s.ask("calc_global_freq r:0:c:c:" + CardText(c)));
    const int chance = s.ask("calc_line_freq r:0:c:c");
    const int eqIp = s.ask("calc_eq IP"), eqVillain = s.ask("calc_eq villain");
    const int table = s.ask("calc_eq_pp IP");
    const int ipRange = s.ask("show_range IP");

    int status = -1;
    const std::vector<Lines> out = sections(run_script(s.text, &status));
    ASSERT_EQ(status, 0);
    ASSERT_EQ(static_cast<int>(out.size()), s.count + 1);

    const double pot = 100;
    const double evOop = summary_value(out[results], "EV OOP: ");
    const double evIp = summary_value(out[results], "EV IP: ");
    const double w0 = weighted(numbers(out[ev[0]][0]), numbers(out[ev[0]][1]));
    const double w1 = weighted(numbers(out[ev[1]][0]), numbers(out[ev[1]][1]));
    EXPECT_NEAR(w0, evOop, 0.002);
    EXPECT_NEAR(w1, evIp, 0.002);
    EXPECT_NEAR(w0 + w1, pot, 1e-4 * pot);

    for (const std::string& n : nodes) {
        const Lines& sec = out[asks[n].probs];
        ASSERT_EQ(sec.size(), 1u) << n;
        double children = 0;
        for (const auto& [label, share] : probs_items(sec[0])) {
            ASSERT_TRUE(asks[n].child.count(label)) << n << " " << label;
            children += numbers(out[asks[n].child[label]][0])[0];
        }
        EXPECT_NEAR(children, numbers(out[asks[n].freq][0])[0], 1e-6) << n;
        const Values e0 = numbers(out[asks[n].eq[0]][2]), e1 = numbers(out[asks[n].eq[1]][2]);
        EXPECT_NEAR(e0[0] + e1[0], 1.0, 1e-6) << n;
        // Items sum to 1 and are the acting range's shares of each action, over the
        // combinations that miss every dealt card.
        CardMask dead = board;
        for (const char* card : {"Qd", "2s"})
            if (n.find(card) != std::string::npos) {
                CardMask m = 0;
                ParseCards(&m, card);
                dead |= m;
            }
        const Values range[2] = {numbers(out[asks[n].range[0]][0]),
                                 numbers(out[asks[n].range[1]][0])};
        const auto items = probs_items(sec[0]);
        const Lines& strat = out[asks[n].strategy];
        const int q = acting.at(n);
        double total = 0;
        for (size_t a = 0; a < items.size(); ++a) {
            total += items[a].second;
            const Values sigma = numbers(strat[a]);
            double num = 0, den = 0;
            for (int k = 0; k < kComboCount; ++k) {
                if (HandOrderMasks[k] & dead) continue;  // no strategy on a dealt card
                num += range[q][k] * sigma[k];
                den += range[q][k];
            }
            EXPECT_NEAR(items[a].second, num / den, 1e-6) << n << " " << items[a].first;
        }
        EXPECT_NEAR(total, 1.0, 1e-6) << n;
    }
    double turns = 0;
    for (int k : globals) turns += numbers(out[k][0])[0];
    EXPECT_NEAR(turns, numbers(out[chance][0])[0], 1e-6);
    EXPECT_EQ(out[eqIp], out[eqVillain]);

    // The table lists IP's live combinations with calc_eq's numbers (equity as a percentage).
    const Values ip = numbers(out[ipRange][0]);
    const Values eq = numbers(out[eqIp][0]), eqWeight = numbers(out[eqIp][1]);
    std::map<std::string, int> index;
    for (int k = 0; k < kComboCount; ++k) index[combo_name(k)] = k;
    std::set<std::string> listed, live;
    for (const std::string& line : out[table]) {
        if (line == "END") continue;
        const std::string name = line.substr(0, 4);
        listed.insert(name);
        char want[96];
        std::snprintf(want, sizeof want, "%s: %.2f; %.2f", name.c_str(), 100 * eq[index[name]],
                      eqWeight[index[name]]);
        EXPECT_EQ(line, want);
    }
    for (int k = 0; k < kComboCount; ++k)
        if (ip[k] > 0 && !(HandOrderMasks[k] & board)) live.insert(combo_name(k));
    EXPECT_EQ(listed, live);

    // Equities of the narrowed ranges against enumeration, on every street.
    for (const std::string& n :
         {std::string("r:0:b50"), std::string("r:0:c:c:Qd"), std::string("r:0:c:c:Qd:c:c:2s")}) {
        CardMask dealt = board;
        for (const char* card : {"Qd", "2s"})
            if (n.find(card) != std::string::npos) {
                CardMask m = 0;
                ParseCards(&m, card);
                dealt |= m;
            }
        for (int p = 0; p < 2; ++p) {
            const Values own = numbers(out[asks[n].range[p]][0]);
            const Values opp = numbers(out[asks[n].range[1 - p]][0]);
            const Values want = brute_equity(dealt, own, opp);
            const Values got = numbers(out[asks[n].eq[p]][0]);
            int compared = 0;
            for (int k = 0; k < kComboCount; ++k)
                if (!std::isnan(want[k])) {
                    ASSERT_NEAR(got[k], want[k], 1e-5) << n << " player " << p << " " << k;
                    ++compared;
                }
            EXPECT_GT(compared, 20) << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Isomorphism, PrintedNumbers, ::testing::Bool());

// Answers come from the tree's own board, pot and ranges until the next build.
TEST_F(ValueCommands, AnswersIgnoreTheSituationUntilTheNextBuild) {
    const std::vector<std::string> queries = {
        "calc_ev OOP r:0:b50",        "calc_eq_node IP r:0:c", "show_range IP r:0:b50",
        "calc_line_freq r:0:b50",     "calc_eq OOP",           "show_probs r:0",
        "calc_global_freq r:0:c:c:Qd"};
    Script s;
    s.text = flop_spot();
    std::vector<int> before, after;
    for (const std::string& q : queries) before.push_back(s.ask(q));
    s.ask("set_board As 2d 7c");
    s.ask("set_pot 0 0 300");
    s.ask(range_line("OOP", [](CardMask) { return 1.0; }));
    for (const std::string& q : queries) after.push_back(s.ask(q));
    const std::vector<Lines> out = sections(run_script(s.text));
    for (size_t k = 0; k < queries.size(); ++k) {
        ASSERT_FALSE(out[before[k]].empty()) << queries[k];
        EXPECT_EQ(out[before[k]], out[after[k]]) << queries[k];
    }
}

// A street's first node asked through the call that closed the street before it (summed over
// that street's cards) carries the mass of its actions (summed over the next street's cards):
// the turn and river sums of calc_line_freq agree, on a flop and on a turn root.
TEST_F(ValueCommands, LineFrequencyOfAStreetsFirstNodeIsItsActionsSum) {
    const std::string turnRoot =
        std::string("set_threads 2\nset_pot 0 0 100\nset_board Kh 8h 3c Qd\n") +
        range_line("OOP", oop_weight) + "\n" + range_line("IP", ip_weight) +
        "\nadd_line 0 0 0 0\nadd_line 0 0 50 50\nadd_line 50 50 50 50\nbuild_tree\n"
        "go 4 steps\nwait_for_solver\n";
    struct Node {
        std::string path;
        std::vector<std::string> actions;
    };
    const struct {
        std::string setup;
        std::vector<Node> nodes;
    } cases[] = {
        {flop_spot(),
         {{"r:0:c:c", {"c", "b50"}}, {"r:0:c:c:c:c", {"c", "b50"}}, {"r:0:b50:c", {"c", "b150"}}}},
        {turnRoot, {{"r:0:c:c", {"c", "b50"}}, {"r:0:b50:c", {"c"}}}}};
    for (const auto& c : cases) {
        Script s;
        s.text = c.setup;
        std::vector<std::pair<int, std::vector<int>>> asks;
        for (const Node& n : c.nodes) {
            asks.push_back({s.ask("calc_line_freq " + n.path), {}});
            for (const std::string& a : n.actions)
                asks.back().second.push_back(s.ask("calc_line_freq " + n.path + ":" + a));
        }
        const std::vector<Lines> out = sections(run_script(s.text));
        ASSERT_EQ(static_cast<int>(out.size()), s.count + 1);
        for (size_t k = 0; k < asks.size(); ++k) {
            const double node = numbers(out[asks[k].first][0])[0];
            double actions = 0;
            for (int a : asks[k].second) actions += numbers(out[a][0])[0];
            EXPECT_GT(node, 0.0) << c.nodes[k].path;
            EXPECT_NEAR(actions, node, 1e-6) << c.nodes[k].path;
        }
    }
}

// One-combination ranges (isomorphism off) on boards of each root street: the two equities sum
// to 1, a board both play ties at 0.5; on turn and river roots calc_eq is calc_eq_node at "r".
TEST_F(ValueCommands, SingleCombinationEquities) {
    struct Case {
        const char* board;
        const char* oop;
        const char* ip;
        double oopEquity;  // NaN: only the sum is known
    } cases[] = {{"Ah Kh Qh Jh Th", "2c2d", "3c3d", 0.5},
                 {"2c 7d 9h Jc 4s", "AsAd", "KsKd", 1.0},
                 {"2c 7d 9h Jc", "AsKs", "QdQh", std::nan("")},
                 {"2c 7d 9h", "AsKs", "QdQh", std::nan("")}};
    for (const Case& c : cases) {
        auto one = [](const char* hand) {
            return [hand](CardMask m) {
                CardMask want = 0;
                ParseCards(&want, hand);
                return m == want ? 1.0 : 0.0;
            };
        };
        Script s;
        s.text = std::string("set_isomorphism 0 0\nset_pot 0 0 100\nset_board ") + c.board + "\n" +
                 range_line("OOP", one(c.oop)) + "\n" + range_line("IP", one(c.ip)) +
                 "\nadd_line 0 0\nbuild_tree\n";
        const int e0 = s.ask("calc_eq OOP"), e1 = s.ask("calc_eq IP");
        const int node = s.ask("calc_eq_node OOP r");
        const std::vector<Lines> out = sections(run_script(s.text));
        ASSERT_GE(out[e0].size(), 2u) << c.board;
        auto value = [&](int sec, const char* hand) {
            CardMask m = 0;
            ParseCards(&m, hand);
            const Values eq = numbers(out[sec][0]);
            for (int k = 0; k < kComboCount; ++k)
                if (HandOrderMasks[k] == m) return eq[k];
            return std::nan("");
        };
        const double a = value(e0, c.oop), b = value(e1, c.ip);
        EXPECT_NEAR(a + b, 1.0, 1e-6) << c.board;
        if (!std::isnan(c.oopEquity)) {
            EXPECT_NEAR(a, c.oopEquity, 1e-6) << c.board;
        }
        if (std::string(c.board).size() > 8) {
            EXPECT_EQ(out[e0][0], out[node][0]) << c.board;
            EXPECT_EQ(out[e0][1], out[node][1]) << c.board;
        }
    }
}

// Every command of this family on nodes of every street while the solver runs, on flop-, turn-
// and river-rooted trees: the program ends normally with every reply.
TEST_F(ValueCommands, QueriesWhileSolving) {
    struct Root {
        const char* board;
        const char* lines;
        std::vector<const char*> paths;
    } roots[] = {{"Kh 8h 3c", kFlopLines, {"r", "r:0:b50", "r:0:c:c:Qd", "r:0:c:c:Qd:c:c:2s"}},
                 {"Kh 8h 3c Qd",
                  "add_line 0 0 0 0\nadd_line 50 50 50 50\nadd_line 0 0 50 50\n",
                  {"r", "r:0:b50", "r:0:b50:c:2s", "r:0:c:c:2s:b50"}},
                 {"Kh 8h 3c Qd 2s",
                  "add_line 0 0\nadd_line 50 50\nadd_line 0 50 50\n",
                  {"r", "r:0:b50", "r:0:c"}}};
    for (const Root& root : roots) {
        std::string text = std::string("set_threads 2\nset_pot 0 0 100\nset_board ") + root.board +
                           "\n" + range_line("OOP", oop_weight) + "\n" +
                           range_line("IP", ip_weight) + "\n" + root.lines +
                           "build_tree\ngo 100000 steps\n";
        for (const char* path : root.paths) {
            const std::string p = path;
            for (const std::string& command :
                 {"show_range OOP " + p, "show_probs " + p, "calc_ev IP " + p,
                  "calc_ev_pp OOP " + p, "calc_ev_line OOP " + p, "calc_line_freq " + p,
                  "calc_global_freq " + p, "calc_eq_node IP " + p, std::string("calc_eq OOP"),
                  std::string("calc_eq_pp IP")}) {
                text += command + "\n";
            }
        }
        text += "stop\nwait_for_solver\nis_ready\n";
        int status = -1;
        const Lines out = run_script(text, &status);
        EXPECT_EQ(status, 0) << root.board;
        for (const std::string& line : out) {
            ASSERT_NE(line.rfind("fail", 0), 0u) << root.board << ": " << line;
            ASSERT_EQ(line.find("ERROR"), std::string::npos) << root.board << ": " << line;
        }
        EXPECT_EQ(out.back(), "is_ready ok!") << root.board;
    }
}

}  // namespace

namespace {

// The example a new user runs: every reply is an answer, none an error. Its solve to the
// accuracy is cut to two steps here: the queries are what this checks.
TEST_F(ValueCommands, ExampleScriptRunsClean) {
    std::ifstream in(std::string(NLHE_TEST_DATA_DIR) + "/../examples/value-queries.txt");
    std::string text;
    int solves = 0;
    for (std::string line; std::getline(in, line);) {
        if (line == "go") {
            line = "go 2 steps";
            ++solves;
        }
        text += line + "\n";
    }
    ASSERT_EQ(solves, 1);
    int status = -1;
    const Lines out = run_script(text, &status);
    EXPECT_EQ(status, 0);
    int ends = 0;
    for (const std::string& line : out) {
        EXPECT_EQ(line.find("ERROR"), std::string::npos) << line;
        ends += line == "END";
    }
    EXPECT_GE(ends, 7);
}

// The node total sums in ComboIndex order. 2c3c (ComboIndex 0) comes after 2d2c and 2h2c
// (ComboIndex 78 and 325) in the printed order, and 1 + 2^-53 + 2^-53 is 1 in the first order
// but 1 + 2^-52 in the other, so the weight sum tells the orders apart.
TEST(EquityTotal, SumsInComboIndexOrder) {
    build_combo_tables();
    const double tiny = std::ldexp(1.0, -53);
    Values equity(kComboCount, std::nan("")), weight(kComboCount, std::nan(""));
    weight[0] = 1.0;
    for (int c : {78, 325}) {
        equity[c] = 1.0;
        weight[c] = tiny;
    }
    double printedOrder = 0.0;
    for (int k = 0; k < kComboCount; ++k)
        if (!std::isnan(weight[HandOrderToCombo[k]])) printedOrder += weight[HandOrderToCombo[k]];
    ASSERT_EQ(printedOrder, 1.0 + 2 * tiny);
    EXPECT_EQ(equity_total(equity, weight), 2 * tiny);
    // A node nobody reaches divides by 0 and prints what printf makes of it.
    EXPECT_TRUE(
        std::isnan(equity_total(Values(kComboCount, std::nan("")), Values(kComboCount, 0.0))));
}

}  // namespace
