#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cards/hand_classifier.h"
#include "cards/hand_evaluator.h"
#include "interpreter/combo_order.h"
#include "interpreter/command_table.h"
#include "program_session.h"

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the program in `dir` with `input` on standard input; returns standard output.
std::string RunIn(const std::string& dir, const std::string& input) {
    const std::string script = dir + "/input.txt";
    std::ofstream(script) << input;
    const std::string command = "cd '" + dir + "' && '" + NLHE_BINARY + "' < input.txt 2>/dev/null";
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
    pclose(pipe);
    return out.substr(out.find('\n') + 1);  // past the banner
}

struct Scratch {
    std::string dir;
    Scratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "nlhe-redi-XXXXXX");
        dir = mkdtemp(pattern.data());
    }
    ~Scratch() { std::filesystem::remove_all(dir); }
};

// A river tree that solves in well under a second.
std::string SmallTree() {
    std::string ones;
    for (int i = 0; i < kComboCount; ++i) ones += " 1";
    return "set_board Ks 7s 2d 9c 3h\nset_range OOP" + ones + "\nset_range IP" + ones +
           "\nadd_line 0 0\nadd_line 50 50\nadd_line 50 150 150\nbuild_tree\n";
}

// Redirection sessions in a scratch directory: what lands where, truncation and appending,
// failures that leave the console in place, the solver's lines, and no "CONOUT$" file.
TEST(UtilityCommands, Redirection) {
    Scratch s;
    std::ofstream(s.dir + "/o.txt") << "old contents\n";
    std::string console = RunIn(s.dir,
                                "stdoutredi o.txt\nis_ready\nstdoutredi_append o.txt\necho hi\n"
                                "stdoutback\nis_ready\nstdoutredi no/such/dir.txt\nis_ready\n"
                                "stdoutredi_append no/such/dir.txt\nstdoutredi .\nis_ready\n");
    EXPECT_EQ(ReadText(s.dir + "/o.txt"),
              "stdoutredi ok!\nis_ready ok!\nstdoutredi_append ok!\nhi\n");
    EXPECT_EQ(console,
              "stdoutback ok!\nis_ready ok!\nERROR: stdoutredi can't open file\nis_ready ok!\n"
              "ERROR: stdoutredi_append can't open file\nERROR: stdoutredi can't open file\n"
              "is_ready ok!\n");
    EXPECT_FALSE(std::filesystem::exists(s.dir + "/CONOUT$"));

    console = RunIn(s.dir, SmallTree() +
                               "stdoutredi s.txt\ngo 50 steps\nwait_for_solver\nstdoutback\n"
                               "stdoutredi_append o.txt\nstdoutback\nshow_cpu_info\n");
    const std::string solve = ReadText(s.dir + "/s.txt");
    EXPECT_EQ(solve.find("stdoutredi ok!\n"), 0u);
    EXPECT_NE(solve.find("SOLVER: started\n"), std::string::npos);
    EXPECT_NE(solve.find("SOLVER: stopped (required number of steps done)\n"), std::string::npos);
    EXPECT_EQ(ReadText(s.dir + "/o.txt"),
              "stdoutredi ok!\nis_ready ok!\nstdoutredi_append ok!\nhi\nstdoutredi_append ok!\n");
    // The CPU report's nine lines come before the buffered "END".
    const size_t report = console.find("stdoutback ok!\nstdoutback ok!\n");
    ASSERT_NE(report, std::string::npos) << console;
    std::istringstream lines(console.substr(report + 30));
    std::vector<std::string> after;
    for (std::string line; std::getline(lines, line);) after.push_back(line);
    ASSERT_EQ(after.size(), 10u) << console;
    EXPECT_EQ(after[2].substr(0, 9), "[ ] 3DNOW");
    EXPECT_EQ(after[9], "END");

    // Switching targets while the solver prints: every line whole, none lost, in one place.
    std::string input = SmallTree() + "go 4000 steps\n";
    for (int i = 0; i < 60; ++i)
        input += std::string(i % 2 ? "stdoutredi_append b.txt\n" : "stdoutredi_append a.txt\n") +
                 "is_ready\nsleep 4\n";
    input += "wait_for_solver\nstdoutback\n";
    console = RunIn(s.dir, input);
    const std::string whole(
        "stdoutredi ok!|stdoutredi_append ok!|is_ready ok!|stdoutback ok!|go ok!|END|"
        "SOLVER:( started| stopped \\(.*\\))?|running time: [0-9.]+|"
        "(EV (OOP|IP)|(OOP|IP)'s MES|Exploitable for): -?[0-9.]+|[a-z_]+ ok!");
    int stopped = 0, ready = 0;
    for (const std::string& text :
         {ReadText(s.dir + "/a.txt"), ReadText(s.dir + "/b.txt"), console}) {
        ASSERT_TRUE(text.empty() || text.back() == '\n');
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            EXPECT_TRUE(session::match_pattern(line, whole, true)) << "[" << line << "]";
            stopped += line.rfind("SOLVER: stopped", 0) == 0;
            ready += line == "is_ready ok!";
        }
    }
    EXPECT_EQ(stopped, 1);
    EXPECT_EQ(ready, 60);
}

// The documented command words: the 81 of help in its order, and the front-end forms.
// clang-format off
const std::vector<std::string> kHelpWords = {
    "add_info_line", "add_line", "build_tree", "calc_eq", "calc_eq_node", "calc_eq_pp", "calc_ev",
    "calc_ev_line", "calc_ev_pp", "calc_global_freq", "calc_line_freq", "calc_results",
    "clear_lines", "combo_lock_node", "cut_line", "echo", "enable_avx512", "enable_river_strategy",
    "explo_partial", "force_line", "forget", "free_schematic_tree", "free_tree",
    "get_actual_compression", "get_instruction_set", "go", "help", "ignore_mem_check", "is_ready",
    "is_tree_present", "load_script", "load_tree", "lock_node", "node_count", "rebuild_all",
    "rebuild_forgotten_streets", "remove_line", "repeat", "reset_tree_info", "set_accuracy",
    "set_board", "set_compression", "set_eff_stack", "set_ev_boost", "set_isomorphism", "set_pot",
    "set_rake", "set_range", "set_recalc_accuracy", "set_scheduler", "set_simd_level",
    "set_strategy", "set_threads", "show_categories", "show_category_names", "show_children",
    "show_cpu_info", "show_effective_stack", "show_hand_order", "show_locked_combos",
    "show_memory", "show_node", "show_probs", "show_range", "show_settings", "show_strategy",
    "show_strategy_pp", "show_tree_info", "show_tree_params", "skip_if_done", "sleep",
    "solve_all_splits", "solve_partial", "solver_time", "stdoutback", "stdoutredi",
    "stdoutredi_append", "stop", "take_a_break", "unlock_node", "wait_for_solver",
};
// clang-format on
const std::vector<std::string> kFrontEndWords = {"qx7_set_compression",
                                                 "qx7_get_actual_compression",
                                                 "qx7_get_instruction_set", "qx7_set_threads"};

// help lists the table's 81 words without the front-end forms, in the order of the documented
// list, and nothing else.
TEST(UtilityCommands, HelpFollowsTheCommandTable) {
    int count = 0;
    const CommandTableEntry* table = command_table(&count);
    std::set<std::string> words;
    for (int i = 0; i < count; ++i) words.insert(table[i].word);

    EXPECT_EQ(words.size(), kHelpWords.size() + kFrontEndWords.size());  // the 85 command words
    std::string expected;
    for (const std::string& w : kHelpWords) expected += w + "\n";
    Scratch s;
    EXPECT_EQ(RunIn(s.dir, "help\n"), expected + "END\n");
    for (const std::string& w : words)
        EXPECT_TRUE(std::count(kHelpWords.begin(), kHelpWords.end(), w) ||
                    std::count(kFrontEndWords.begin(), kFrontEndWords.end(), w))
            << w;
}

// The README's reference documents the 85 command words, each once under a "#### `word`"
// heading, and every word of the command table is among them.
TEST(UtilityCommands, ReadmeDocumentsEveryCommandWord) {
    int count = 0;
    const CommandTableEntry* table = command_table(&count);
    std::set<std::string> words;
    for (int i = 0; i < count; ++i) words.insert(table[i].word);
    std::set<std::string> readme;
    std::istringstream in(ReadText(NLHE_TEST_DATA_DIR "/../README.md"));
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> m;
        if (!session::match_pattern(line, "#### `([a-z0-9_]+)`.*", true, &m)) continue;
        EXPECT_TRUE(readme.insert(m[1]).second) << "documented twice: " << m[1];
    }
    std::set<std::string> all(kHelpWords.begin(), kHelpWords.end());
    all.insert(kFrontEndWords.begin(), kFrontEndWords.end());
    EXPECT_EQ(readme, all);  // the 85 command words
    for (const std::string& w : words) EXPECT_TRUE(readme.count(w)) << "not in README: " << w;
}

// The classifier's entries follow the canonical order: on a board, exactly the combinations of
// show_hand_order that hold a board card are blocked.
TEST(CategoryCommands, BlockedEntriesFollowTheHandOrder) {
    InitHandEvalTables();
    build_combo_tables();
    for (const char* text : {"Ah Kd 2c", "2c 3d 4h 5s", "As Ks Qs Js Ts"}) {
        CardMask board = 0;
        ParseCards(&board, text);
        int32_t made[kComboCount];
        ClassifyMadeHands(made, ClassifierBoardFromMask(board));
        int blocked = 0;
        for (int k = 0; k < kComboCount; ++k) {
            EXPECT_EQ(made[k] == -1, (HandOrderMasks[k] & board) != 0) << text << " " << k;
            blocked += made[k] == -1;
        }
        const int n = CardCount(board);
        EXPECT_EQ(blocked, kComboCount - (52 - n) * (51 - n) / 2);
    }
}

}  // namespace
