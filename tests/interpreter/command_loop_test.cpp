#include "interpreter/command_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "interpreter/command_table.h"
#include "utilities/output.h"

namespace {

std::vector<std::string> lines_of(const char* bytes, size_t size) {
    std::FILE* in = fmemopen(const_cast<char*>(bytes), size, "rb");
    std::vector<std::string> lines;
    std::string line;
    while (read_line(in, line)) lines.push_back(line);
    std::fclose(in);
    return lines;
}

TEST(ReadLine, EveryLineEndAndAnUnendedLastLine) {
    const char text[] = "a\nb\r\nc\rd\n\ne \t\r\r\nlast";
    const std::vector<std::string> want = {"a", "b", "c", "d", "", "e \t", "", "last"};
    EXPECT_EQ(lines_of(text, sizeof text - 1), want);
    // A trailing line end does not make an extra line; empty input makes none.
    EXPECT_EQ(lines_of("x\r\n", 3), std::vector<std::string>{"x"});
    EXPECT_TRUE(lines_of("", 0).empty());
    // Bytes other than the line ends pass unchanged, NUL included.
    EXPECT_EQ(lines_of("a\0b", 3), std::vector<std::string>{std::string("a\0b", 3)});
}

TEST(SplitWords, BlanksSeparateAndDoubleQuotesGroup) {
    using Words = std::vector<std::string>;
    EXPECT_EQ(split_words("a  b"), (Words{"a", "b"}));
    EXPECT_EQ(split_words("\"a b\" c"), (Words{"a b", "c"}));
    EXPECT_EQ(split_words("x\"y z\"w"), (Words{"xy z", "w"}));
    EXPECT_EQ(split_words("\"ab\"cd"), (Words{"ab", "cd"}));
    EXPECT_EQ(split_words("\"\""), Words{});
    EXPECT_EQ(split_words("\"ab"), Words{"ab"});
    EXPECT_EQ(split_words("   "), Words{});
    EXPECT_EQ(split_words(" lead\ttab  trail "), (Words{"lead\ttab", "trail"}));
    EXPECT_EQ(split_words("\"  \" x"), (Words{"  ", "x"}));
}

// Runs one line through the dispatcher and returns what it put in the output buffer.
std::string reply_to(const std::string& line) {
    clear_output_buffer();
    CommandWords words = split_words(line);
    dispatch_command(words);
    std::string reply = output_buffer();
    clear_output_buffer();
    return reply;
}

TEST(Dispatch, RepliesAndErrors) {
    EXPECT_EQ(reply_to("is_ready"), "is_ready ok!\n");
    EXPECT_EQ(reply_to("\"is_ready\""), "is_ready ok!\n");
    EXPECT_EQ(reply_to("is_ready x"), "ERROR: is_ready incorrect or missing argument\n");
    EXPECT_EQ(reply_to("is_ready #"), "ERROR: is_ready incorrect or missing argument\n");
    EXPECT_EQ(reply_to("is_ready\tx"), "ERROR: Command is_ready\tx not recognized\n");
    EXPECT_EQ(reply_to("IS_READY"), "ERROR: Command IS_READY not recognized\n");
    EXPECT_EQ(reply_to("%s%n"), "ERROR: Command %s%n not recognized\n");
    EXPECT_EQ(reply_to("#is_ready"), "");
    EXPECT_EQ(reply_to("# is_ready"), "");
    EXPECT_EQ(reply_to(""), "");
    EXPECT_EQ(reply_to("LABEL:"), "ERROR: Command LABEL: not recognized\n");
    EXPECT_EQ(reply_to("LABEL: nothing"), "");
    // A NUL byte is part of the word: no command has it.
    EXPECT_EQ(reply_to(std::string("is_ready\0x", 10)), "ERROR: Command is_ready not recognized\n");
    EXPECT_EQ(current_command_word(), "is_ready");
}

TEST(Dispatch, SkipModeEndsOnlyAtItsLabel) {
    const std::string exists = NLHE_TEST_DATA_DIR "/interpreter/command_loop_test.cpp";
    EXPECT_EQ(reply_to("skip_if_done /no/such/file L"), "skip_if_done ok!\n");
    EXPECT_EQ(skip_label(), "");
    // A name with a NUL byte names no file, even when the part before it does.
    EXPECT_EQ(reply_to("skip_if_done \"" + exists + std::string("\0x\" L", 5)),
              "skip_if_done ok!\n");
    EXPECT_EQ(skip_label(), "");
    EXPECT_EQ(reply_to("load_script \"" + exists + std::string("\0x\"", 3)),
              "ERROR: load_script can't open file\n");
    EXPECT_EQ(reply_to("skip_if_done \"" + exists + "\" L"), "skip_if_done ok!\n");
    EXPECT_EQ(skip_label(), "L");
    EXPECT_EQ(reply_to("is_ready"), "");
    EXPECT_EQ(reply_to("exit"), "");  // skipped, so it does not end the process
    EXPECT_EQ(reply_to("unknown"), "");
    EXPECT_EQ(reply_to("LABEL: M"), "");
    EXPECT_EQ(skip_label(), "L");
    EXPECT_EQ(reply_to("LABEL: L"), "");
    EXPECT_EQ(skip_label(), "");
    EXPECT_EQ(reply_to("is_ready"), "is_ready ok!\n");
}

TEST(Dispatch, ExitEndsTheProcessWithStatusZero) {
    EXPECT_EXIT(reply_to("exit now"), testing::ExitedWithCode(0), "");
}

TEST(CommandTable, WordsUniqueAndCountsValid) {
    int count = 0;
    const CommandTableEntry* table = command_table(&count);
    std::set<std::string> words;
    for (int i = 0; i < count; ++i) {
        EXPECT_TRUE(words.insert(table[i].word).second) << table[i].word;
        EXPECT_NE(table[i].handler, nullptr) << table[i].word;
        EXPECT_TRUE(table[i].wordCount == kAnyWords || table[i].wordCount >= 1) << table[i].word;
        EXPECT_EQ(find_command(table[i].word), &table[i]);
    }
    EXPECT_LE(count, 85);
    EXPECT_EQ(find_command("exit"), nullptr);
    EXPECT_EQ(find_command("LABEL:"), nullptr);
}

// The protocol's command words with their word counts (-1: any). The table may still lack
// commands, but every entry it has must be one of these with exactly this count.
const std::map<std::string, int> kProtocolWords = {
    {"is_ready", 1},
    {"solver_time", 1},
    {"skip_if_done", 3},
    {"load_script", 2},
    {"clear_lines", 1},
    {"free_schematic_tree", 1},
    {"add_line", -1},
    {"remove_line", -1},
    {"force_line", -1},
    {"build_tree", 1},
    {"cut_line", 2},
    {"qx7_set_compression", 2},
    {"set_compression", 2},
    {"qx7_get_actual_compression", 1},
    {"get_actual_compression", 1},
    {"load_tree", 2},
    {"free_tree", 1},
    {"reset_tree_info", 1},
    {"add_info_line", 2},
    {"show_tree_info", 1},
    {"show_settings", 1},
    {"show_tree_params", 1},
    {"set_threads", 2},
    {"qx7_set_threads", 2},
    {"set_recalc_accuracy", 4},
    {"set_isomorphism", 3},
    {"set_range", 1328},
    {"set_board", -1},
    {"set_pot", 4},
    {"set_eff_stack", 2},
    {"set_accuracy", -1},
    {"qx7_get_instruction_set", 1},
    {"get_instruction_set", 1},
    {"set_scheduler", 2},
    {"enable_avx512", 2},
    {"enable_river_strategy", 2},
    {"ignore_mem_check", 2},
    {"set_simd_level", 2},
    {"is_tree_present", 1},
    {"go", -1},
    {"stop", 1},
    {"calc_results", 1},
    {"wait_for_solver", 1},
    {"show_memory", 1},
    {"node_count", 1},
    {"forget", 2},
    {"rebuild_forgotten_streets", 1},
    {"rebuild_all", 1},
    {"solve_all_splits", 2},
    {"solve_partial", 2},
    {"explo_partial", 2},
    {"sleep", 2},
    {"take_a_break", 2},
    {"show_range", -1},
    {"show_probs", 2},
    {"calc_ev", 3},
    {"calc_ev_pp", 3},
    {"calc_ev_line", 3},
    {"calc_line_freq", 2},
    {"calc_global_freq", 2},
    {"stdoutredi", 2},
    {"stdoutredi_append", 2},
    {"stdoutback", 1},
    {"repeat", -1},
    {"echo", -1},
    {"show_cpu_info", 1},
    {"help", 1},
    {"show_hand_order", 1},
    {"show_node", 2},
    {"show_children", 2},
    {"show_effective_stack", 1},
    {"set_rake", 3},
    {"show_strategy", 2},
    {"show_strategy_pp", 2},
    {"show_locked_combos", 2},
    {"lock_node", 2},
    {"unlock_node", 2},
    {"set_strategy", 1329},
    {"combo_lock_node", 1328},
    {"set_ev_boost", 3},
    {"calc_eq", 2},
    {"calc_eq_pp", 2},
    {"calc_eq_node", 3},
    {"show_category_names", 1},
    {"show_categories", -1},
};

// Words that answer through the same handler as another word.
const std::pair<const char*, const char*> kAliases[] = {
    {"qx7_set_threads", "set_threads"},
    {"set_compression", "qx7_set_compression"},
    {"get_actual_compression", "qx7_get_actual_compression"},
    {"get_instruction_set", "qx7_get_instruction_set"},
    {"free_schematic_tree", "clear_lines"},
    {"rebuild_all", "rebuild_forgotten_streets"},
};

TEST(CommandTable, EntriesMatchTheProtocolWordCountsAndAliases) {
    ASSERT_EQ(kProtocolWords.size(), 85u);
    int count = 0;
    const CommandTableEntry* table = command_table(&count);
    for (int i = 0; i < count; ++i) {
        const auto known = kProtocolWords.find(table[i].word);
        ASSERT_NE(known, kProtocolWords.end()) << table[i].word << " is no protocol word";
        EXPECT_EQ(table[i].wordCount, known->second) << table[i].word;
    }
    for (const auto& [alias, word] : kAliases) {
        const CommandTableEntry* a = find_command(alias);
        const CommandTableEntry* b = find_command(word);
        EXPECT_EQ(a == nullptr, b == nullptr) << alias << " and " << word << " come together";
        if (a && b) {
            EXPECT_EQ(a->handler, b->handler) << alias;
        }
    }
    // A shared handler acknowledges with the word as typed.
    EXPECT_EQ(reply_to("free_schematic_tree"), "free_schematic_tree ok!\n");
    EXPECT_EQ(reply_to("clear_lines"), "clear_lines ok!\n");
}

TEST(NumberWords, LeadingNumberCountsAndRangeErrorsAreInvalid) {
    EXPECT_EQ(word_to_int("120.7"), 120);
    EXPECT_EQ(word_to_int("  -3x"), -3);
    EXPECT_DOUBLE_EQ(word_to_double("0.25abc"), 0.25);
    EXPECT_THROW(word_to_int("x1"), std::invalid_argument);
    EXPECT_THROW(word_to_int("99999999999"), std::out_of_range);
    EXPECT_THROW(word_to_double("1e-400"), std::out_of_range);
    EXPECT_THROW(word_to_double("1e400"), std::out_of_range);
}

}  // namespace

namespace {

int throw_c_string(const void*) {
    out_printf("earlier reply\n");
    throw "broken invariant";
}

int throw_bad_alloc(const void*) {
    out_printf("earlier reply\n");
    throw std::bad_alloc();
}

int return_seven(const void*) {
    return 7;
}

// Death tests read standard error; point standard output there first.
void run_with_stdout_on_stderr(int (*body)(const void*)) {
    dup2(2, 1);
    run_to_orderly_end(body, nullptr);
}

TEST(OrderlyEnd, InternalFailuresFlushRepliesAndEndWithStatusOne) {
    EXPECT_EQ(run_to_orderly_end(return_seven, nullptr), 7);
    EXPECT_EXIT(run_with_stdout_on_stderr(throw_c_string), testing::ExitedWithCode(1),
                "^earlier reply\n$");
    EXPECT_EXIT(run_with_stdout_on_stderr(throw_bad_alloc), testing::ExitedWithCode(1),
                "^earlier reply\nfail \\(std::bad_alloc\\)\n$");
}

}  // namespace
