#include "interpreter/command_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "interpreter/command_table.h"
#include "interpreter/output.h"

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
    EXPECT_EQ(current_command_word(), "is_ready");
}

TEST(Dispatch, SkipModeEndsOnlyAtItsLabel) {
    const std::string exists = NLHE_TEST_DATA_DIR "/interpreter/command_loop_test.cpp";
    EXPECT_EQ(reply_to("skip_if_done /no/such/file L"), "skip_if_done ok!\n");
    EXPECT_EQ(skip_label(), "");
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
