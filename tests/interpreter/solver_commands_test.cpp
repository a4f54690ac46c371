// Solver control commands that work without a solve: the node count over the entered lines,
// the summary formats, the memory report and the sleep argument rules.
#include "interpreter/solver_commands.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "interpreter/command_loop.h"
#include "interpreter/line_set.h"
#include "interpreter/result_summary.h"
#include "interpreter/tree_state.h"
#include "program_session.h"
#include "utilities/output.h"

namespace {

std::string run(const std::string& line) {
    clear_output_buffer();
    CommandWords words = split_words(line);
    dispatch_command(words);
    std::string out = output_buffer();
    clear_output_buffer();
    return out;
}

class NodeCount : public ::testing::Test {
protected:
    void SetUp() override {
        clear_line_set(line_set());
        TreePresent = true;
        StartStreet = 1;
    }
    void TearDown() override {
        clear_line_set(line_set());
        TreePresent = false;
        StartStreet = 0;
    }
};

TEST_F(NodeCount, CheckBetCallOnTheFlop) {
    enter_line(line_set(), {"add_line", "0", "50", "50"}, false);
    EXPECT_EQ(run("node_count"),
              "H_DEC: 1\nFLOP  1\nTURN  0\nRIVER  0\n"
              "V_DEC: 2\nFLOP  2\nTURN  0\nRIVER  0\n"
              "SPLIT: 1\nFLOP  1\nTURN  0\nRIVER  0\n"
              "END: 3\nFLOP  3\nTURN  0\nRIVER  0\n"
              "ROOT: 1\nFLOP  1\nTURN  0\nRIVER 0\nTOTAL: 8\nEND\n");
}

TEST_F(NodeCount, EmptySetKeepsTheStartStreetFlags) {
    enter_line(line_set(), {"add_line", "0", "50", "50"}, false);
    clear_line_set(line_set());
    StartStreet = 2;
    EXPECT_EQ(run("node_count"),
              "H_DEC: 0\nFLOP  0\nTURN  0\nRIVER  0\n"
              "V_DEC: 0\nFLOP  0\nTURN  0\nRIVER  0\n"
              "SPLIT: 0\nFLOP  0\nTURN  0\nRIVER  0\n"
              "END: 0\nFLOP  0\nTURN  0\nRIVER  0\n"
              "ROOT: 1\nFLOP  0\nTURN  1\nRIVER 0\nTOTAL: 1\nEND\n");
}

TEST_F(NodeCount, WeightsPerStreetAndLinesPastTheRiver) {
    // Checked down from the flop: decisions on the turn weigh 49 and on the river 2352.
    enter_line(line_set(), {"add_line", "0", "0", "0", "0", "0", "0"}, false);
    NodeCounts c = count_line_nodes();
    EXPECT_EQ(c.decisions[0][1], 1);
    EXPECT_EQ(c.decisions[0][2], 49);
    EXPECT_EQ(c.decisions[0][3], 2352);
    EXPECT_EQ(c.decisions[1][3], 2352);
    EXPECT_EQ(c.splits[1], 1);
    EXPECT_EQ(c.splits[2], 49);

    // A river-rooted set that goes on past the river (as after a failed build) must not index
    // past the street counters; those nodes are not counted.
    StartStreet = 3;
    NodeCounts past = count_line_nodes();
    EXPECT_EQ(past.decisions[0][3], 2352);
    EXPECT_EQ(past.decisionTotal[0] + past.decisionTotal[1], 2 * 2352);
    EXPECT_EQ(past.total, 2 * 2352 + 2352);  // two decisions and the river's one end
    EXPECT_NO_THROW(run("node_count"));
}

TEST_F(NodeCount, RiverWeightsPastTwoToThe31) {
    // A river-rooted line of 1,000,000 raises: the node after each action decides, plus the root
    // decision, so 1,000,001 decisions of weight 2352 total 2,352,002,352, past 2^31.
    std::vector<std::string> words{"add_line"};
    for (int i = 1; i <= 1000000; ++i) words.push_back(std::to_string(i));
    enter_line(line_set(), words, false);
    StartStreet = 3;
    const NodeCounts c = count_line_nodes();
    EXPECT_EQ(c.decisionTotal[0] + c.decisionTotal[1], 1000001LL * 2352);
    const std::string out = run("node_count");
    EXPECT_NE(out.find("V_DEC: 1176002352\n"), std::string::npos) << out.substr(0, 200);
    EXPECT_EQ(out.find('-'), std::string::npos);
}

TEST_F(NodeCount, NeedsATree) {
    TreePresent = false;
    EXPECT_EQ(run("node_count"), "ERROR: node_count missing/incorrect tree\n");
}

TEST(ResultSummary, CommandFormAddsHalfThePotToTheFourValues) {
    IterationLogRecord r{};
    r.iteration = 40;
    r.value0 = 1.25;
    r.value1 = -1.5;
    r.bestResponse0 = 2.0;
    r.bestResponse1 = -0.25;
    r.exploitability = 0.5;
    clear_output_buffer();
    set_show_hash_lines(true);
    print_command_summary(r, 100.0, 123456789, 99);
    EXPECT_EQ(output_buffer(),
              "EV OOP: 51.250\nEV IP: 48.500\nOOP's MES: 52.000\nIP's MES: 49.750\n"
              "Exploitable for: 0.500\nEND\n#40 iterations\n#storage 0 MB/s read, 0 MB/s write\n");
    clear_output_buffer();
    set_show_hash_lines(false);
    print_command_summary(r, 100.0, 0, 0);
    EXPECT_EQ(output_buffer().find('#'), std::string::npos) << "'#' lines suppressed normally";
    clear_output_buffer();

    r.seconds = 2.0;
    set_show_hash_lines(true);
    print_command_summary(r, 100.0, 4u << 20, 10u << 20);
    EXPECT_NE(output_buffer().find("#storage 2 MB/s read, 5 MB/s write\n"), std::string::npos);
    clear_output_buffer();
    set_show_hash_lines(false);
}

TEST(ResultSummary, ProgressFormAndCpuLine) {
    IterationLogRecord r{};
    r.seconds = 1.5;
    r.value0 = -3.0;
    r.value1 = 2.0;
    r.bestResponse0 = -2.0;
    r.bestResponse1 = 2.5;
    r.exploitability = 0.75;
    EXPECT_EQ(progress_summary_text(r, 20.0),
              "SOLVER:\nrunning time: 1.500\nEV OOP: 7.000\nEV IP: 12.000\nOOP's MES: 8.000\n"
              "IP's MES: 12.500\nExploitable for: 0.750\nEND\n");
    EXPECT_EQ(cpu_line_text(3.25, 512), "[cpu time 3.2s | peak working set 512 MB]\n");
    EXPECT_GT(peak_working_set_mb(), 0);
}

TEST(SolverCommands, MemoryReportAndSleepArguments) {
    std::string out = run("show_memory");
    EXPECT_TRUE(session::match_pattern(
        out, "Total Physical Memory: [0-9]+ MB\nAvailable Phys Memory: [0-9]+ MB\nEND\n", true))
        << out;
    EXPECT_EQ(run("sleep -1"), "ERROR: sleep incorrect or missing argument\n");
    EXPECT_EQ(run("take_a_break -3"), "ERROR: take_a_break incorrect or missing argument\n");
    EXPECT_EQ(run("sleep x"), "Invalid value\n");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run("sleep 30"), "");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_EQ(run("take_a_break 0"), "take_a_break ok!\n");
    EXPECT_EQ(run("stop"), "stop ok!\n");
    EXPECT_EQ(run("wait_for_solver"), "");
    TreePresent = false;
    EXPECT_EQ(run("is_tree_present"), "false\n");
    TreePresent = true;
    EXPECT_EQ(run("is_tree_present"), "true\n");
    TreePresent = false;
}

}  // namespace
