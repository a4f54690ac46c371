// Compression levels through the commands: every word of set_compression and the automatic
// choice apply the level's stream kinds; a level-4 solve reports its storage traffic; levels 3
// and 4 converge with level 2 through go and calc_results in the real program.
#include "solver/compression_levels.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "cards/hand_evaluator.h"
#include "interpreter/combo_order.h"
#include "interpreter/command_loop.h"
#include "interpreter/console_state.h"
#include "interpreter/line_set.h"
#include "interpreter/situation.h"
#include "interpreter/tree_commands.h"
#include "interpreter/tree_state.h"
#include "program_session.h"
#include "solver/iteration_log.h"
#include "solver/iteration_thresholds.h"
#include "solver/iterations.h"
#include "solver/solved_tree.h"
#include "solver/solver_defaults.h"
#include "solver/tree_storage.h"
#include "utilities/output.h"

namespace {

std::string Command(const std::string& line) {
    clear_output_buffer();
    CommandWords words = split_words(line);
    dispatch_command(words);
    std::string out = output_buffer();
    clear_output_buffer();
    return out;
}

// A small flop tree built in this process: narrow ranges, a bet and a raise on the flop.
class CompressionLevels : public ::testing::Test {
protected:
    void SetUp() override {
        InitHandEvalTables();
        build_combo_tables();
        std::vector<double> r0(kComboCount, 0.0), r1(kComboCount, 0.0);
        // By rank only, so the ranges suit the isomorphism check.
        for (int c = 0; c < kComboCount; ++c) {
            const int hi = session::high_rank(ComboMask(c)), lo = session::low_rank(ComboMask(c));
            r0[size_t(c)] = hi >= 7 || hi == lo ? 1.0 : 0.0;
            r1[size_t(c)] = hi >= 8 || lo >= 4 ? 1.0 : 0.0;
        }
        PlayerRanges[0] = r0;
        PlayerRanges[1] = r1;
        CardMask flop = 0;
        ParseCards(&flop, "Ks7h2d");
        BoardMasks = {flop, 0, 0};
        PotValues = {0, 0, 100};
        clear_line_set(line_set());
        Command("add_line 0 50 50 50 50 50 50");
        Command("add_line 50 150 150 0 0 0 0");
        ASSERT_EQ(Command("set_compression 2"), "set_compression ok!\n");
        ASSERT_EQ(Command("build_tree"), "build_tree ok!\n");
    }
    void TearDown() override {
        set_free_memory_source(nullptr);
        Command("set_compression 2");
        libsubgame_free_scenario();
        TreePresent = false;
    }
};

TEST_F(CompressionLevels, EveryWordAppliesItsStreamKinds) {
    struct Case {
        const char* word;
        int level, kind0, kind1;
    };
    const Case cases[] = {{"3", 3, 1, 2}, {"4", 4, 2, 2},      {"high", 3, 1, 2}, {"max", 4, 2, 2},
                          {"7", 4, 2, 2}, {"medium", 2, 1, 1}, {"none", 0, 0, 0}, {"low", 1, 0, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        EXPECT_EQ(Command(std::string("set_compression ") + c.word), "set_compression ok!\n");
        EXPECT_EQ(Command("get_actual_compression"),
                  "compression " + std::to_string(c.level) + "\n");
        EXPECT_EQ(g_solvedTree->streamKinds[0], c.kind0);
        EXPECT_EQ(g_solvedTree->streamKinds[1], c.kind1);
        EXPECT_EQ(RiverDelay(), c.kind0 == 2 ? 30 : 0);
    }
}

// Every consumer of a level reads the one table: the applied pair, the river delay, the
// river-sum schedule and the verbose line of build_tree follow its entry, forced ones included.
TEST_F(CompressionLevels, EveryConsumerReadsTheLevelTable) {
    const int verbosity = Verbosity;
    Verbosity = 1;
    for (int32_t level = 0; level < kCompressionLevelCount; ++level) {
        SCOPED_TRACE(level);
        ForceLevelSchedule(level, 7 + level, RiverSumSchedule::SelectedIterations);
        const CompressionLevel entry = CompressionLevelEntry(level);
        EXPECT_EQ(Command("set_compression " + std::to_string(level)), "set_compression ok!\n");
        const std::string name = entry.name;
        EXPECT_EQ(Command("build_tree"), "[compression set " + std::to_string(level) + " (" + name +
                                             ") actual " + std::to_string(level) + " (" + name +
                                             ")]\nbuild_tree ok!\n");
        EXPECT_EQ(Command("set_compression " + name), "set_compression ok!\n");
        EXPECT_EQ(g_solvedTree->streamKinds[0], entry.streamKinds[0]);
        EXPECT_EQ(g_solvedTree->streamKinds[1], entry.streamKinds[1]);
        EXPECT_EQ(RiverDelay(), 7 + level);
        EXPECT_EQ(RiverAveragingAt(g_solvedTree, kFirstAveragedIteration + 12), 0);
        EXPECT_EQ(RiverAveragingAt(g_solvedTree, kFirstAveragedIteration + 22), 1);
        RestoreLevelSchedules();
    }
    Verbosity = verbosity;
}

// The automatic level from the free memory: a fraction of the uncompressed estimate that
// selects level 3, then no memory at all (level 4); each applies as chosen.
TEST_F(CompressionLevels, AutomaticChoicesApplyAsChosen) {
    TreeParams* params = libsubgame_copy_tree_params();
    ASSERT_NE(params, nullptr);
    const uint64_t S =
        params->streetEstimate[1] + params->streetEstimate[2] + params->streetEstimate[3];
    libsubgame_free(params);
    // A rainbow flop: level 3 when 0.29 x 0.8 x S < 0.85 x free <= 0.39 x 0.8 x S.
    const uint64_t free3 = uint64_t(0.27 * double(S) / 0.85);
    ASSERT_EQ(choose_compression_level(S, uint64_t(double(free3) * 0.85), true), 3);
    set_free_memory_source([free3] { return free3; });
    EXPECT_EQ(Command("set_compression auto"), "set_compression ok!\n");
    EXPECT_EQ(Command("get_actual_compression"), "compression 3\n");
    EXPECT_EQ(g_solvedTree->streamKinds[1], 2);
    set_free_memory_source([] { return uint64_t{0}; });
    EXPECT_EQ(Command("build_tree"), "build_tree ok!\n");
    EXPECT_EQ(Command("get_actual_compression"), "compression 4\n");
    EXPECT_EQ(g_solvedTree->streamKinds[0], 2);
}

// calc_results after a level-4 solve shows the streams' traffic as rates over the solve's
// running time.
TEST_F(CompressionLevels, LevelFourSolveReportsStorageTraffic) {
    Command("set_compression max");
    Command("go 30 steps");
    Command("wait_for_solver");
    set_show_hash_lines(true);
    const std::string out = Command("calc_results");
    set_show_hash_lines(false);
    uint64_t read = 0, written = 0;
    libsubgame_storage_traffic(&read, &written);
    EXPECT_GT(read, 0u);
    EXPECT_GT(written, 0u);
    const double seconds = libsubgame_last_check_seconds();
    ASSERT_GT(seconds, 0.0);
    const auto rate = [&](uint64_t bytes) {
        return std::to_string(int(double(bytes) / seconds / 1048576.0));
    };
    EXPECT_NE(out.find("#storage " + rate(read) + " MB/s read, " + rate(written) + " MB/s write\n"),
              std::string::npos)
        << out;
}

// A flop spot checked down to a river of small bets and a raise, solved with go at one level: the
// exploitability after each check iteration, and the last verbose peak working set. Its river
// strategies still mix at the checks, so the exploitability is clearly above zero there and falls
// from check to check, which a river schedule that never stops grouping regrets or stops keeping
// river sums early would not.
constexpr int kChecks[] = {100, 150, 200};
constexpr double kPot = 1000.0;

struct LevelRun {
    std::vector<double> checks;
    int peakMb = -1;
};

LevelRun SolveAtLevel(int level) {
    using namespace session;
    std::string s = "set_threads 2\nset_board Ks 7h 2d\nset_pot 0 0 1000\n";
    s += range_line("OOP",
                    [](CardMask m) {
                        return high_rank(m) >= 10 || low_rank(m) == high_rank(m) ? 1.0 : 0.0;
                    }) +
         "\n";
    s += range_line("IP",
                    [](CardMask m) {
                        const bool suited = CardSuit(LowestCard(m)) == CardSuit(HighestCard(m));
                        return high_rank(m) >= 10 || low_rank(m) == high_rank(m) ||
                                       (suited && high_rank(m) >= 8)
                                   ? 1.0
                                   : 0.0;
                    }) +
         "\n";
    s += "add_line 0 0 0 0 500 500\nadd_line 0 0 0 0 0 500 500\nadd_line 0 0 0 0 0 500 1500 1500\n";
    s += "set_compression " + std::to_string(level) + "\nbuild_tree\n";
    int done = 0;
    for (int check : kChecks) {
        s += "go " + std::to_string(check - done) +
             " steps\nwait_for_solver\nis_ready\ncalc_results\n";
        done = check;
    }
    LevelRun run;
    const Lines lines = run_script(s, nullptr, "-v");
    const std::string peak = R"(\[cpu time .*\| peak working set ([0-9]+) MB\])";
    std::vector<std::string> m;
    for (const std::string& line : lines)
        if (session::match_pattern(line, peak, true, &m)) run.peakMb = std::stoi(m[1]);
    for (const Lines& section : sections(lines))
        for (const std::string& line : section)
            if (line.rfind("Exploitable for:", 0) == 0)
                run.checks.push_back(100.0 * numbers(line).at(0) / kPot);
    return run;
}

// Levels 3 and 4 follow level 2 within a factor of two at every check, each still falling
// (measured: 1.5 at 100 iterations, up to 1.5 at 200; a river schedule that keeps grouping
// regrets or stops keeping river sums gives 2.2 to 3.6 at 100 and 7 to 9 at 200); level 4's
// streams keep the process's peak working set below level 2's.
TEST_F(CompressionLevels, LongLevelsThreeAndFourConvergeWithLevelTwo) {
    const LevelRun base = SolveAtLevel(2);
    const std::vector<double>& two = base.checks;
    ASSERT_EQ(two.size(), std::size(kChecks));
    // In percent of the pot (0.0056 measured): not converged, so nothing below compares zeros.
    EXPECT_GT(two.back(), 0.002);
    ASSERT_GT(base.peakMb, 0);
    for (int level : {2, 3, 4}) {
        SCOPED_TRACE(level);
        const LevelRun run = level == 2 ? base : SolveAtLevel(level);
        const std::vector<double>& c = run.checks;
        ASSERT_EQ(c.size(), two.size());
        for (size_t i = 0; i < c.size(); ++i) {
            SCOPED_TRACE(kChecks[i]);
            EXPECT_LE(c[i], 2.0 * two[i]);
            EXPECT_GE(c[i], 0.5 * two[i]);
            if (i > 0) {
                EXPECT_LT(c[i], c[i - 1]);
            }
        }
        if (level == 4) {
            EXPECT_LT(run.peakMb, base.peakMb);
        }
    }
}

}  // namespace
