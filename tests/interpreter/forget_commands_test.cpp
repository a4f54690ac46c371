// Re-solving and forgetting streets through the real program, in sessions that once broke it:
// solve_all_splits run twice (the second call read rows the first one left too short) and forget
// after a new compression level (the walk read storages the level had made anew but not readied).
// In the sanitizer build the program is the sanitized one, so a bad read fails here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interpreter/combo_order.h"
#include "program_session.h"

namespace {

using namespace session;

// AA against KK: six combinations each, so a session runs in well under a second.
std::string pairs_spot(const char* board, const std::vector<const char*>& lines) {
    std::string s =
        "set_threads 2\nset_board " + std::string(board) + "\n" +
        range_line("OOP", [](CardMask m) { return low_rank(m) == 12 ? 1.0 : 0.0; }) + "\n" +
        range_line("IP",
                   [](CardMask m) { return high_rank(m) == 11 && low_rank(m) == 11 ? 1.0 : 0.0; }) +
        "\n";
    for (const char* line : lines) s += "add_line " + std::string(line) + "\n";
    return s + "build_tree\n";
}

// The sections of a session that must end with status 0 and without a line a sanitizer or a
// fatal internal failure would write.
std::vector<Lines> clean_sections(const std::string& script) {
    int status = -1;
    const Lines out = run_script(script, &status);
    EXPECT_EQ(status, 0);
    for (const std::string& line : out)
        EXPECT_TRUE(line.find("Sanitizer") == std::string::npos &&
                    line.find("runtime error") == std::string::npos && line.rfind("fail", 0) != 0)
            << line;
    return sections(out);
}

// The six lines of the first result summary in a section.
Lines summary(const Lines& section) {
    for (size_t i = 0; i + 6 <= section.size(); ++i)
        if (section[i].rfind("EV OOP:", 0) == 0)
            return Lines(section.begin() + i, section.begin() + i + 6);
    return {};
}

class ForgetCommands : public ::testing::Test {
protected:
    static void SetUpTestSuite() { build_combo_tables(); }
};

TEST_F(ForgetCommands, SolveAllSplitsTwiceGivesTheValuesOfOneCall) {
    struct Case {
        const char* board;
        std::vector<const char*> lines;
        const char* street;
        bool solvedFirst;
    };
    const Case cases[] = {
        {"7s 4c 6s 7d", {"0 0 0 0"}, "rivers", false},
        {"9d Qd Qh 9h", {"0 0 20", "3 3 23"}, "rivers", false},
        {"9d Qd Qh 9h", {"0 0 20", "3 3 23"}, "rivers", true},
        {"5c 2c 7d", {"0 0 0 0 0 0"}, "rivers", false},
        {"5c 2c 7d", {"0 0 0 0 0 0"}, "turns", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.board) + " " + c.street + (c.solvedFirst ? " solved" : ""));
        const std::string split = std::string("solve_all_splits ") + c.street + "\n";
        std::string script = pairs_spot(c.board, c.lines);
        if (c.solvedFirst) script += "go 30 steps\nwait_for_solver\n";
        script += "is_ready\n" + split + "calc_results\nis_ready\n" + split + "calc_results\n";
        const std::vector<Lines> s = clean_sections(script);
        ASSERT_EQ(s.size(), 3u);
        ASSERT_FALSE(s[1].empty());
        EXPECT_EQ(s[1][0], "solve_all_splits ok!");
        EXPECT_EQ(s[1].back(), "END");
        EXPECT_EQ(s[2], s[1]);
    }
}

// set_compression on a built tree remakes its storages at the new level and restarts the
// solve; forget then works from those storages.
TEST_F(ForgetCommands, ForgetAfterANewLevelAnswers) {
    struct Case {
        const char* board;
        const char* line;
        const char* level;
        const char* street;
    };
    const Case cases[] = {
        {"5c 2c 7d", "0 0 0 0 0 0", "low", "turns"},
        {"5c 2c 7d", "0 0 0 0 0 0", "3", "turns"},
        {"5c 2c 7d", "0 0 0 0 0 0", "max", "rivers"},
        {"5c 2c 7d 8h", "0 0 0 0", "low", "rivers"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.board) + " " + c.level + " " + c.street);
        const std::string script =
            pairs_spot(c.board, {c.line}) + "calc_results\nset_compression " + c.level +
            "\nis_ready\nforget " + c.street + "\ncalc_results\nis_ready\nrebuild_all\n";
        const std::vector<Lines> s = clean_sections(script);
        ASSERT_EQ(s.size(), 3u);
        ASSERT_FALSE(s[1].empty());
        EXPECT_EQ(s[1][0], "forget ok!");
        // Iteration 0 at either level: the default strategies, so the summary of the build.
        EXPECT_EQ(summary(s[1]), summary(s[0]));
        EXPECT_EQ(summary(s[1]).size(), 6u);
        EXPECT_EQ(s[2], Lines{"rebuild_all ok!"});
    }
}

}  // namespace
