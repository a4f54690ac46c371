// Strategy and node-lock commands through the real program: locked nodes keep the strategy set
// on them through solves on every street and storage level, per-combination locks, a river game
// whose equilibrium is known in closed form, the EV boost, the table order, and queries and edits
// while the solver runs.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cards/cards.h"
#include "cards/hand_evaluator.h"
#include "interpreter/combo_order.h"

namespace {

using Lines = std::vector<std::string>;

// The simd level every script of the running test starts with.
int script_simd_level = 8;

// Runs the program on `script` as standard input, at script_simd_level; returns its output lines.
Lines run_script(const std::string& body, int* status = nullptr) {
    const std::string script = "set_simd_level " + std::to_string(script_simd_level) + "\n" + body;
    char path[] = "/tmp/nlhe_strategy_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return {};
    close(fd);
    {
        std::ofstream file(path);
        file << script;
    }
    const std::string command = std::string("'") + NLHE_BINARY + "' < " + path + " 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    if (pipe != nullptr) {
        char chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
        const int raw = pclose(pipe);
        if (status != nullptr) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    std::remove(path);
    Lines lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Output between "is_ready ok!" markers: section 0 is everything before the first marker.
// The solver thread's lines ("SOLVER: ...", progress summaries) and '#' lines are left out.
std::vector<Lines> sections(const Lines& lines) {
    std::vector<Lines> out(1);
    bool progress = false;  // inside a progress summary the solver thread printed
    for (const std::string& line : lines) {
        if (line == "SOLVER:") progress = true;
        if (progress) {
            progress = line != "END";
            continue;
        }
        if (line == "is_ready ok!")
            out.emplace_back();
        else if (line.rfind("SOLVER:", 0) != 0 && line.rfind("#", 0) != 0)
            out.back().push_back(line);
    }
    return out;
}

std::vector<double> numbers(const std::string& line) {
    std::vector<double> v;
    std::istringstream in(line);
    for (std::string word; in >> word;) v.push_back(std::strtod(word.c_str(), nullptr));
    return v;
}

// The show_strategy section: one line per action, then END.
std::vector<std::vector<double>> strategy(const Lines& section) {
    std::vector<std::vector<double>> rows;
    for (const std::string& line : section) {
        if (line == "END") break;
        rows.push_back(numbers(line));
    }
    return rows;
}

std::string join(const std::vector<double>& values) {
    std::string text;
    char cell[32];
    for (double v : values) {
        std::snprintf(cell, sizeof cell, "%s%.17g", text.empty() ? "" : " ", v);
        text += cell;
    }
    return text;
}

int card(const char* text) {
    CardMask m = 0;
    ParseCards(&m, text);
    return LowestCard(m);
}

// Parameter: the simd level (8, the default, takes the vectorised river path; 1 the scalar walk).
class StrategyCommands : public ::testing::TestWithParam<int> {
protected:
    static void SetUpTestSuite() {
        build_combo_tables();
        InitHandEvalTables();
    }
    void SetUp() override { script_simd_level = GetParam(); }
};
INSTANTIATE_TEST_SUITE_P(SimdLevel, StrategyCommands, ::testing::Values(8, 1));

// Canonical-order values from a function of the combination's two cards (mask numbering).
std::vector<double> by_combo(const std::function<double(CardMask)>& f) {
    std::vector<double> v(kComboCount);
    for (int k = 0; k < kComboCount; ++k) v[k] = f(HandOrderMasks[k]);
    return v;
}

int high_rank(CardMask m) {
    return std::max(CardRank(LowestCard(m)), CardRank(HighestCard(m)));
}
int low_rank(CardMask m) {
    return std::min(CardRank(LowestCard(m)), CardRank(HighestCard(m)));
}

// Weights by ranks only, so every suit renaming keeps them (isomorphism-consistent).
double rank_range_oop(CardMask m) {
    const int hi = high_rank(m), lo = low_rank(m);
    if (hi == lo) return 1.0;             // pairs
    if (hi >= 10 && lo >= 8) return 0.7;  // broadways
    if (hi == 12 && lo <= 3) return 0.5;  // small aces
    return 0.0;
}
double rank_range_ip(CardMask m) {
    const int hi = high_rank(m), lo = low_rank(m);
    if (hi == lo && hi <= 9) return 1.0;
    if (hi - lo == 1 && lo >= 3) return 0.8;  // connectors
    if (hi == 11 && lo >= 7) return 0.6;
    return 0.0;
}

const char* kFlopLines =
    "add_line 0 50 50 50 50 50 50\n"
    "add_line 50 50 150 150 250 250\n"
    "add_line 50 50 50 50 50 50\n"
    "add_line 50 50 150 150 150 250 250\n"
    "add_line 50 50 50 150 150 150 150\n";

double pairs_only(CardMask m) {
    return high_rank(m) == low_rank(m) ? 1.0 : 0.0;
}

// The flop tree with the lines and ranges given (kFlopLines and the rank ranges unless named) at
// a storage level.
std::string flop_setup(int level, const char* lines = kFlopLines,
                       double (*oop)(CardMask) = rank_range_oop,
                       double (*ip)(CardMask) = rank_range_ip) {
    std::string s = "set_board Ks 7h 2d\n";
    s += "set_range OOP " + join(by_combo(oop)) + "\n";
    s += "set_range IP " + join(by_combo(ip)) + "\n";
    s += lines;
    s += "build_tree\n";
    s += "set_compression " + std::to_string(level) + "\n";
    return s;
}

// An OOP and an IP decision node on each street, with a sibling runout that is not locked.
struct NodeCase {
    std::string path;
    std::string sibling;  // same node at another runout; empty on the flop
};
const NodeCase kNodes[] = {
    {"r:0", ""},
    {"r:0:c", ""},
    {"r:0:b50:c:Qc", "r:0:b50:c:9s"},
    {"r:0:b50:c:Qc:c", "r:0:b50:c:9s:c"},
    {"r:0:b50:c:Qc:b150:c:5d", "r:0:b50:c:Qc:b150:c:6d"},
    {"r:0:b50:c:Qc:b150:c:5d:c", "r:0:b50:c:Qc:b150:c:6d:c"},
};

// Action 0's probability set on combination k.
double set_value(int k) {
    return (k % 11) / 10.0 > 1.0 ? 1.0 : (k % 11) / 10.0;
}

// Dead cards of a path: the board and every card element ("Qc").
CardMask path_dead(const std::string& path, CardMask board) {
    CardMask dead = board;
    std::istringstream in(path);
    for (std::string item; std::getline(in, item, ':');) {
        if (item.size() != 2 || std::string("23456789TJQKA").find(item[0]) == std::string::npos ||
            std::string("cdhs").find(item[1]) == std::string::npos)
            continue;
        CardMask m = 0;
        ParseCards(&m, item.c_str());
        dead |= m;
    }
    return dead;
}

// Locked nodes on every street keep the strategy set on them through a solve, and after
// calc_results, at every level the tree can take; unlocked siblings move.
void locked_nodes_keep_set_values(int level) {
    std::vector<double> v0(kComboCount), v1(kComboCount);
    for (int k = 0; k < kComboCount; ++k) {
        v0[k] = set_value(k);
        v1[k] = 1.0 - v0[k];
    }
    std::string s = flop_setup(level);
    for (const NodeCase& n : kNodes) {
        s += "set_strategy " + n.path + " 0 " + join(v0) + "\n";
        s += "set_strategy " + n.path + " 1 " + join(v1) + "\n";
        s += "lock_node " + n.path + "\n";
    }
    s += "go 30 steps\nwait_for_solver\n";
    for (const NodeCase& n : kNodes) {
        s += "is_ready\nshow_strategy " + n.path + "\n";
        if (!n.sibling.empty()) s += "is_ready\nshow_strategy " + n.sibling + "\n";
    }
    s += "calc_results\n";
    for (const NodeCase& n : kNodes) s += "is_ready\nshow_strategy " + n.path + "\n";
    // An edit of an unlocked river node shows at once, whatever mode the solve left.
    s += "set_strategy " + std::string(kNodes[4].sibling) + " 0 " + join(v0) + "\n";
    s += "set_strategy " + std::string(kNodes[4].sibling) + " 1 " + join(v1) + "\n";
    s += "is_ready\nshow_strategy " + kNodes[4].sibling + "\n";

    const std::vector<Lines> out = sections(run_script(s));
    for (const std::string& line : out[0]) ASSERT_EQ(line.find("ERROR"), std::string::npos) << line;
    const std::vector<double> oop = by_combo(rank_range_oop);
    const std::vector<double> ip = by_combo(rank_range_ip);
    const CardMask board = CardBit(card("Ks")) | CardBit(card("7h")) | CardBit(card("2d"));
    const double tol = level == 0 ? 1e-6 : 1e-3;
    size_t at = 1;
    auto check_set = [&](const std::string& path, const Lines& section, bool acting_oop) {
        const auto rows = strategy(section);
        ASSERT_EQ(rows.size(), 2u) << path;
        const std::vector<double>& range = acting_oop ? oop : ip;
        const CardMask dead = path_dead(path, board);
        int checked = 0;
        for (int k = 0; k < kComboCount; ++k) {
            if (range[k] == 0.0 || (HandOrderMasks[k] & dead) != 0) continue;
            ++checked;
            EXPECT_NEAR(rows[0][k], v0[k], tol) << path << " level " << level << " combo " << k;
            EXPECT_NEAR(rows[1][k], v1[k], tol) << path << " level " << level << " combo " << k;
        }
        EXPECT_GT(checked, 20) << path;
    };
    const bool oop_acts[] = {true, false, true, false, true, false};
    for (int i = 0; i < 6; ++i) {
        check_set(kNodes[i].path, out[at++], oop_acts[i]);
        if (kNodes[i].sibling.empty()) continue;
        const auto rows = strategy(out[at++]);
        ASSERT_EQ(rows.size(), 2u);
        bool moved = false;
        for (int k = 0; k < kComboCount; ++k)
            if (std::fabs(rows[0][k] - 0.5) > 1e-3 && rows[0][k] != 0.0) moved = true;
        EXPECT_TRUE(moved) << kNodes[i].sibling << " level " << level;
    }
    for (int i = 0; i < 6; ++i) check_set(kNodes[i].path, out[at++], oop_acts[i]);
    check_set(kNodes[4].sibling, out[at++], true);
}

TEST_P(StrategyCommands, LongLockedNodesKeepSetValuesLevel0) {
    locked_nodes_keep_set_values(0);
}
TEST_P(StrategyCommands, LongLockedNodesKeepSetValuesLevel1) {
    locked_nodes_keep_set_values(1);
}
TEST_P(StrategyCommands, LongLockedNodesKeepSetValuesLevel2) {
    locked_nodes_keep_set_values(2);
}
TEST_P(StrategyCommands, LongLockedNodesKeepSetValuesLevel3) {
    locked_nodes_keep_set_values(3);
}
TEST_P(StrategyCommands, LongLockedNodesKeepSetValuesLevel4) {
    locked_nodes_keep_set_values(4);
}

// The river game: OOP holds aces (value) and four-three (air) on Ks Jh 8d 5c 2s, IP holds queens
// (a bluff-catcher); OOP may bet the pot (100) or check, IP calls or folds. Closed form: IP
// calls with P / (P + B) = 1/2, OOP bets every value hand and bluffs value x B / (P + B) = 3 of
// its 16 air combinations.
std::string river_game(const std::string& extra) {
    auto oop = [](CardMask m) {
        const int hi = high_rank(m), lo = low_rank(m);
        return (hi == 12 && lo == 12) || (hi == 2 && lo == 1) ? 1.0 : 0.0;
    };
    auto ip = [](CardMask m) { return high_rank(m) == 10 && low_rank(m) == 10 ? 1.0 : 0.0; };
    std::string s = "set_board Ks Jh 8d 5c 2s\nset_pot 0 0 100\n";
    s += "set_range OOP " + join(by_combo(oop)) + "\n";
    s += "set_range IP " + join(by_combo(ip)) + "\n";
    s += "add_line 0 0\nadd_line 100 100\nbuild_tree\n";
    s += extra;
    return s;
}

bool is_aces(CardMask m) {
    return high_rank(m) == 12 && low_rank(m) == 12;
}
bool is_air(CardMask m) {
    return high_rank(m) == 2 && low_rank(m) == 1;
}
bool is_queens(CardMask m) {
    return high_rank(m) == 10 && low_rank(m) == 10;
}

double mean_over(const std::vector<double>& row, bool (*pick)(CardMask)) {
    double sum = 0.0;
    int n = 0;
    for (int k = 0; k < kComboCount; ++k)
        if (pick(HandOrderMasks[k])) {
            sum += row[k];
            ++n;
        }
    return n > 0 ? sum / n : NAN;
}

double exploitability(const Lines& section) {
    double x = NAN;
    for (const std::string& line : section)
        if (line.rfind("Exploitable for: ", 0) == 0) x = std::strtod(line.c_str() + 17, nullptr);
    return x;
}

TEST_P(StrategyCommands, RiverGameMatchesClosedFormAndLockedBluffsAreCalled) {
    std::vector<double> all(kComboCount, 1.0), none(kComboCount, 0.0);
    const std::string s = river_game(
        "go 3000 steps\nwait_for_solver\n"
        "is_ready\nshow_strategy r:0\nis_ready\nshow_strategy r:0:b100\n"
        "set_strategy r:0 0 " +
        join(all) + "\nset_strategy r:0 1 " + join(none) +
        "\nlock_node r:0\ngo 3000 steps\nwait_for_solver\n"
        "is_ready\nshow_strategy r:0\nis_ready\nshow_strategy r:0:b100\nis_ready\ncalc_results\n");
    const std::vector<Lines> out = sections(run_script(s));
    ASSERT_EQ(out.size(), 6u);
    const auto bettor = strategy(out[1]);
    const auto caller = strategy(out[2]);
    ASSERT_EQ(bettor.size(), 2u);
    ASSERT_EQ(caller.size(), 2u);
    EXPECT_GT(mean_over(bettor[0], is_aces), 0.97);
    EXPECT_NEAR(mean_over(bettor[0], is_air), 3.0 / 16.0, 0.03);
    EXPECT_NEAR(mean_over(caller[0], is_queens), 0.5, 0.06);

    // Locked at betting every air hand, OOP bluffs 16 against 6 value combinations: calling is
    // the best response, and the exploitability still goes to 0.
    const auto locked = strategy(out[3]);
    const auto response = strategy(out[4]);
    EXPECT_EQ(mean_over(locked[0], is_air), 1.0);
    EXPECT_EQ(mean_over(locked[0], is_aces), 1.0);
    EXPECT_GT(mean_over(response[0], is_queens), 0.95);
    EXPECT_LT(exploitability(out[5]), 1.0);
}

// OOP locked at slightly fewer bluffs than make the call break even (2.5 of 16 air combinations
// against 6 value): IP folds its queens. A boost of 0.5 on the call (winnings x 1.5, losses / 1.5)
// turns the call into the better action.
TEST_P(StrategyCommands, EvBoostRaisesTheBoostedActionsFrequency) {
    std::vector<double> bet(kComboCount), check(kComboCount);
    for (int k = 0; k < kComboCount; ++k) {
        bet[k] = is_aces(HandOrderMasks[k]) ? 1.0 : is_air(HandOrderMasks[k]) ? 2.5 / 16 : 0.0;
        check[k] = 1.0 - bet[k];
    }
    const std::string lock = "set_strategy r:0 0 " + join(bet) + "\nset_strategy r:0 1 " +
                             join(check) + "\nlock_node r:0\n";
    const std::string query = "go 1000 steps\nwait_for_solver\nis_ready\nshow_strategy r:0:b100\n";
    const std::string plain = river_game(lock + query);
    const std::string boosted = river_game(lock + "set_ev_boost r:0:b100:c 0.5\n" + query);
    const double before = mean_over(strategy(sections(run_script(plain))[1])[0], is_queens);
    const double after = mean_over(strategy(sections(run_script(boosted))[1])[0], is_queens);
    EXPECT_LT(before, 0.1);
    EXPECT_GT(after, 0.9);
}

// Half of the node's combinations locked: after a solve they keep their probabilities exactly,
// the free ones move; the listing marks exactly the locked live combinations.
TEST_P(StrategyCommands, CombinationLocksHoldThroughASolve) {
    const std::vector<double> oop = by_combo(rank_range_oop);
    std::vector<double> mask(kComboCount, 0.0);
    for (int k = 0; k < kComboCount; k += 2) mask[k] = 1.0;
    // Only the root is locked: its check and bet, with no raise below them, keep the tree small.
    std::string s = flop_setup(0, "add_line 0 50 50 50 50 50 50\nadd_line 50 50 50 50 50 50\n");
    s += "go 30 steps\nwait_for_solver\n";
    s += "combo_lock_node r:0 " + join(mask) + "\n";
    s += "is_ready\nshow_strategy r:0\n";
    s += "is_ready\nshow_locked_combos r:0\n";
    s += "is_ready\nshow_node r:0\n";
    s += "go 40 steps\nwait_for_solver\n";
    s += "is_ready\nshow_strategy r:0\n";
    const std::vector<Lines> out = sections(run_script(s));
    ASSERT_EQ(out.size(), 5u);
    const auto before = strategy(out[1]);
    const auto after = strategy(out[4]);
    ASSERT_EQ(before.size(), 2u);
    ASSERT_EQ(after.size(), 2u);
    const CardMask board = CardBit(card("Ks")) | CardBit(card("7h")) | CardBit(card("2d"));
    bool freeMoved = false;
    for (int k = 0; k < kComboCount; ++k) {
        if (oop[k] == 0.0 || (HandOrderMasks[k] & board) != 0) continue;
        if (mask[k] != 0.0) {
            EXPECT_EQ(after[0][k], before[0][k]) << k;
        } else if (std::fabs(after[0][k] - before[0][k]) > 1e-4) {
            freeMoved = true;
        }
    }
    EXPECT_TRUE(freeMoved);
    // One line, no END.
    ASSERT_EQ(out[2].size(), 1u);
    const std::vector<double> listed = numbers(out[2][0]);
    ASSERT_EQ(listed.size(), static_cast<size_t>(kComboCount));
    const std::vector<double> ip = by_combo(rank_range_ip);
    for (int k = 0; k < kComboCount; ++k) {
        const bool live = (oop[k] != 0.0 || ip[k] != 0.0) && (HandOrderMasks[k] & board) == 0;
        EXPECT_EQ(listed[k], live && mask[k] != 0.0 ? 1.0 : 0.0) << k;
    }
    EXPECT_NE(std::find(out[3].begin(), out[3].end(), "flags: COMBO_LOCKED"), out[3].end());
}

// Equity of each combination against a uniform opponent over the tree's live hands, on a river
// board, by enumeration.
std::vector<double> uniform_equity(CardMask board, const std::vector<double>& r0,
                                   const std::vector<double>& r1) {
    std::vector<double> eq(kComboCount, NAN);
    for (int k = 0; k < kComboCount; ++k) {
        const CardMask mk = HandOrderMasks[k];
        if ((mk & board) != 0) continue;
        double net = 0.0, total = 0.0;
        for (int j = 0; j < kComboCount; ++j) {
            const CardMask mj = HandOrderMasks[j];
            if ((r0[j] == 0.0 && r1[j] == 0.0) || (mj & (board | mk)) != 0) continue;
            const HandValue a = EvalCardMask(mk | board), b = EvalCardMask(mj | board);
            net += a > b ? 1.0 : a < b ? -1.0 : 0.0;
            total += 1.0;
        }
        eq[k] = total > 0 ? net / total : 0.0;
    }
    return eq;
}

TEST_P(StrategyCommands, StrategyTableListsTheRangeStrongestFirst) {
    const std::vector<Lines> out = sections(run_script(river_game(
        "go 100 steps\nwait_for_solver\nis_ready\nshow_strategy r:0\nis_ready\nshow_strategy_pp "
        "r:0\nis_ready\nshow_strategy_pp r\n")));
    ASSERT_EQ(out.size(), 4u);
    const auto rows = strategy(out[1]);
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(out[1].size(), 3u);
    EXPECT_EQ(out[1][2], "END");
    for (const auto& row : rows) ASSERT_EQ(row.size(), static_cast<size_t>(kComboCount));
    // The root above the first node is not a decision node.
    EXPECT_EQ(out[3], Lines{"ERROR: show_strategy_pp incorrect path"});

    // Every live OOP combination once, non-increasing equity, ties in canonical order.
    const CardMask board = CardBit(card("Ks")) | CardBit(card("Jh")) | CardBit(card("8d")) |
                           CardBit(card("5c")) | CardBit(card("2s"));
    std::vector<double> r0(kComboCount), r1(kComboCount);
    for (int k = 0; k < kComboCount; ++k) {
        r0[k] = is_aces(HandOrderMasks[k]) || is_air(HandOrderMasks[k]) ? 1.0 : 0.0;
        r1[k] = is_queens(HandOrderMasks[k]) ? 1.0 : 0.0;
    }
    const std::vector<double> eq = uniform_equity(board, r0, r1);
    std::map<std::string, int> index;
    for (int k = 0; k < kComboCount; ++k) index[combo_name(k)] = k;
    ASSERT_EQ(out[2].back(), "END");
    std::vector<int> listed;
    for (size_t i = 0; i + 1 < out[2].size(); ++i) {
        const std::string& line = out[2][i];
        ASSERT_GE(line.size(), 6u);
        ASSERT_EQ(line.substr(4, 2), ": ") << line;
        const int k = index.at(line.substr(0, 4));
        listed.push_back(k);
        char want[64];
        std::snprintf(want, sizeof want, "  %.6f  %.6f", rows[0][k], rows[1][k]);
        EXPECT_EQ(line.substr(6), want) << line;
    }
    std::vector<int> want;
    for (int k = 0; k < kComboCount; ++k)
        if (r0[k] != 0.0 && (HandOrderMasks[k] & board) == 0) want.push_back(k);
    std::stable_sort(want.begin(), want.end(), [&](int a, int b) { return eq[a] > eq[b]; });
    EXPECT_EQ(listed, want);
}

// On a turn node of a flop-rooted tree the table leaves out the combinations holding the path's
// turn card (no longer in play), though the acting range weights them.
TEST_P(StrategyCommands, StrategyTableLeavesOutTheDealtTurnCard) {
    const std::string ones = join(std::vector<double>(kComboCount, 1.0));
    const std::vector<Lines> out =
        sections(run_script("set_board Ks 7h 2d\nset_range OOP " + ones + "\nset_range IP " + ones +
                            "\nadd_line 0 50 50 150 150 150 150\nbuild_tree\nis_ready\n"
                            "show_strategy_pp r:0:c:b50:c:Kh\n"));
    ASSERT_EQ(out.size(), 2u);
    ASSERT_FALSE(out[1].empty());
    EXPECT_EQ(out[1].back(), "END");
    const CardMask dead =
        CardBit(card("Ks")) | CardBit(card("7h")) | CardBit(card("2d")) | CardBit(card("Kh"));
    std::map<std::string, int> index;
    for (int k = 0; k < kComboCount; ++k) index[combo_name(k)] = k;
    for (size_t i = 0; i + 1 < out[1].size(); ++i) {
        const int k = index.at(out[1][i].substr(0, 4));
        EXPECT_EQ(HandOrderMasks[k] & dead, 0u) << out[1][i];
    }
    EXPECT_EQ(out[1].size(), 48u * 47u / 2u + 1u);
}

// Queries and edits of every kind while a solve runs, on trees rooted on the flop, the turn and
// the river at the highest level they take: no crash or hang, and river answers stay
// distributions. Then the river strategy switch toggled after a build, both ways.
TEST_P(StrategyCommands, LongQueriesAndEditsWhileSolving) {
    const std::vector<double> half(kComboCount, 0.5), some(kComboCount, 1.0);
    auto loop = [&](const std::vector<std::string>& paths) {
        std::string s;
        for (int round = 0; round < 2; ++round)
            for (const std::string& p : paths) {
                s += "is_ready\nshow_strategy " + p + "\n";
                s += "show_strategy_pp " + p + "\nshow_locked_combos " + p + "\n";
                s += "set_strategy " + p + " 0 " + join(half) + "\n";
                s += "combo_lock_node " + p + " " + join(some) + "\n";
                s += "lock_node " + p + "\nunlock_node " + p + "\n";
                s += "set_ev_boost " + p + ":c 0.1\n";
            }
        return s;
    };
    struct Root {
        std::string board;
        std::string lines;
        std::vector<std::string> paths;
        std::vector<bool> river;
    };
    const Root roots[] = {
        {"Ks 7h 2d",
         kFlopLines,
         {"r:0", "r:0:b50:c:Qc", "r:0:b50:c:Qc:b150:c:5d"},
         {false, false, true}},
        {"Ks 7h 2d Qc",
         "add_line 0 50 50 50 50\nadd_line 50 50 150 150\nadd_line 50 50 50 50\n",
         {"r:0", "r:0:b50:c:5d"},
         {false, true}},
        {"Ks 7h 2d Qc 5d", "add_line 0 50 50\nadd_line 50 50\n", {"r:0", "r:0:b50"}, {true, true}},
    };
    for (const Root& root : roots) {
        std::string s = "set_board " + root.board + "\n";
        s += "set_range OOP " + join(by_combo(rank_range_oop)) + "\n";
        s += "set_range IP " + join(by_combo(rank_range_ip)) + "\n";
        s += root.lines;
        s += "build_tree\nset_compression 4\ngo 100000 steps\n";
        s += loop(root.paths);
        s += "stop\nwait_for_solver\n";
        int status = -1;
        const std::vector<Lines> out = sections(run_script(s, &status));
        EXPECT_EQ(status, 0) << root.board;
        for (const Lines& section : out)
            for (const std::string& line : section) {
                EXPECT_EQ(line.find("ERROR"), std::string::npos) << root.board << ": " << line;
                EXPECT_EQ(line.find("fail"), std::string::npos) << root.board << ": " << line;
            }
        // Sections after the first: show_strategy, the table, the lock listing, replies.
        for (size_t i = 1; i < out.size(); ++i) {
            const size_t which = (i - 1) % root.paths.size();
            const auto rows = strategy(out[i]);
            ASSERT_EQ(rows.size(), 2u) << root.board << " " << root.paths[which];
            if (!root.river[which]) continue;
            for (int k = 0; k < kComboCount; ++k) {
                const double sum = rows[0][k] + rows[1][k];
                if (sum != 0.0) {
                    EXPECT_NEAR(sum, 1.0, 1e-3) << root.paths[which] << " " << k;
                }
            }
        }
    }

    // The switch changed after a build cannot reach storages that were not made. Pairs against
    // pairs: the ranges do not matter here, the storages do.
    for (int level : {1, 2})
        for (const char* toggle : {"0", "1"}) {
            std::string s = std::string("enable_river_strategy ") + (toggle[0] == '0' ? "1" : "0") +
                            "\n" + flop_setup(level, kFlopLines, pairs_only, pairs_only) +
                            "enable_river_strategy " + toggle + "\ngo 64 steps\nwait_for_solver\n";
            for (const NodeCase& n : kNodes) s += "is_ready\nshow_strategy " + n.path + "\n";
            int status = -1;
            const std::vector<Lines> out = sections(run_script(s, &status));
            EXPECT_EQ(status, 0);
            ASSERT_EQ(out.size(), 7u);
            for (size_t i = 1; i < out.size(); ++i) {
                const auto rows = strategy(out[i]);
                ASSERT_EQ(rows.size(), 2u);
                for (int k = 0; k < kComboCount; ++k) {
                    const double sum = rows[0][k] + rows[1][k];
                    if (sum != 0.0) {
                        EXPECT_NEAR(sum, 1.0, 1e-3);
                    }
                }
            }
        }
}

// A turn spot and a flop spot after 300 iterations at simd levels 1 and 8: the results agree
// within 0.05 % of the pot, a river node's strategy on average within 5e-3. Release-only.
TEST(SimdLevels, LongTurnAndFlopSpotsAgreeAtLevelsOneAndEight) {
    build_combo_tables();
    InitHandEvalTables();
    const std::string ranges = "set_range OOP " + join(by_combo(rank_range_oop)) +
                               "\nset_range IP " + join(by_combo(rank_range_ip)) + "\n";
    const std::string turn = "set_board Ks 7h 2d Qc\n" + ranges +
                             "add_line 0 0 0 0\nadd_line 50 50 50 50\nadd_line 50 50 150 150\n"
                             "add_line 0 50 50 50 50\nadd_line 0 50 50 150 150\n"
                             "add_line 0 50 50 50 150 150\nbuild_tree\n";
    const std::string flop = "set_board Ks 7h 2d\n" + ranges + kFlopLines + "build_tree\n";
    const std::pair<std::string, std::string> spots[] = {{turn, "r:0:c:b50:c:5d"},
                                                         {flop, "r:0:b50:c:Qc:b150:c:5d"}};
    for (const auto& [setup, river] : spots) {
        std::vector<Lines> out[2];
        for (int i = 0; i < 2; ++i) {
            script_simd_level = i == 0 ? 1 : 8;
            out[i] = sections(run_script("set_pot 0 0 100\n" + setup +
                                         "go 300 steps\nwait_for_solver\nis_ready\ncalc_results\n"
                                         "is_ready\nshow_strategy " +
                                         river + "\n"));
            ASSERT_EQ(out[i].size(), 3u) << river;
        }
        const Lines& results = out[0][1];
        ASSERT_GE(results.size(), 3u);
        for (size_t k = 0; k < results.size(); ++k) {
            const std::vector<double> a = numbers(results[k].substr(results[k].find(':') + 1));
            const std::vector<double> b = numbers(out[1][1][k].substr(out[1][1][k].find(':') + 1));
            if (!a.empty()) {
                EXPECT_NEAR(a[0], b[0], 0.0005 * 100) << results[k];
            }
        }
        const auto rows1 = strategy(out[0][2]), rows8 = strategy(out[1][2]);
        ASSERT_EQ(rows1.size(), 2u) << river;
        ASSERT_EQ(rows8.size(), rows1.size());
        // Per combination, hands near indifference drift apart under the two-terminal kernels'
        // rounding (without them the paths agree bit for bit): the range-weighted mean is held.
        const std::vector<double> range = by_combo(rank_range_oop);
        int compared = 0;
        double weighted = 0, total = 0;
        for (size_t a = 0; a < rows1.size(); ++a)
            for (size_t k = 0; k < rows1[a].size(); ++k)
                if (std::isfinite(rows1[a][k]) && range[k] > 0) {
                    weighted += range[k] * std::fabs(rows1[a][k] - rows8[a][k]);
                    total += range[k];
                    ++compared;
                }
        EXPECT_LT(weighted / total, 5e-3) << river;
        EXPECT_GT(compared, 100);
    }
}

}  // namespace
