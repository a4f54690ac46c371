// Command batches, scripts and standard input through the real program under a hard time limit:
// commands that block or write directly, after go and after stop, end in time with their replies
// in order, in all three sources.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "interpreter/combo_order.h"
#include "program_session.h"
#include "utilities/cpu_report.h"

namespace {

using session::BoundedRun;
using session::Lines;

constexpr double kHangLimit = 30;  // seconds; a run still going then has hung
constexpr double kSlack = 8;       // seconds a run may take beyond its own sleeps

enum class Source { Options, Script, Stdin };
const char* const kSourceNames[] = {"-c", "script", "stdin"};

struct Scratch {
    std::string dir;
    Scratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "nlhe-batch-XXXXXX");
        dir = mkdtemp(pattern.data());
        build_combo_tables();
        // A river tree of a few dozen combinations per range: milliseconds to build and solve.
        std::ofstream(dir + "/spot.txt")
            << "set_board Td 9d 6h Qc 3s\nset_pot 0 0 20\n"
            << session::range_line("OOP", [](CardMask m) { return session::low_rank(m) >= 10; })
            << "\n"
            << session::range_line("IP",
                                   [](CardMask m) {
                                       return session::low_rank(m) >= 8 &&
                                              session::high_rank(m) <= 11;
                                   })
            << "\nadd_line 0 0\nadd_line 10 10\nadd_line 0 10 10\nbuild_tree\necho SPOT-BUILT\n";
        std::ofstream(dir + "/wait.txt") << "wait_for_solver\n";
    }
    ~Scratch() { std::filesystem::remove_all(dir); }
};

const Scratch& scratch() {
    static const Scratch s;
    return s;
}

// Feeds `commands` one way; `tag` names the script file, so runs may go in parallel.
BoundedRun feed(const Lines& commands, Source source, const std::string& tag,
                const Lines& options = {}) {
    Lines args = options;
    std::string text;
    for (const std::string& c : commands) text += c + "\n";
    if (source == Source::Options) {
        for (const std::string& c : commands) args.insert(args.end(), {"-c", c});
        text.clear();
    } else if (source == Source::Script) {
        std::ofstream(scratch().dir + "/" + tag) << text;
        args.push_back(tag);
        text.clear();
    }
    return session::run_bounded(args, text, scratch().dir, kHangLimit);
}

Lines lines_of(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool solver_line(const std::string& line) {
    return line.rfind("SOLVER: ", 0) == 0;
}

// The replies a command leaves in the output buffer (the feature list is written directly).
Lines replies_of(const std::string& command) {
    const std::string word = command.substr(0, command.find(' '));
    if (word == "show_cpu_info") return {"END"};
    if (word == "wait_for_solver" || word == "sleep" || word == "load_script") return {};
    return {word + " ok!"};
}

// The lines after the spot's set-up, without the solver's progress blocks and the feature list.
Lines after_setup(const Lines& out, bool spot) {
    std::set<std::string> cpu;
    for (std::string line : cpu_report_lines(instruction_set())) {
        line.pop_back();
        cpu.insert(line);
    }
    auto from = out.begin() + 1;  // the banner
    if (spot) from = std::find(out.begin(), out.end(), "SPOT-BUILT") + 1;
    Lines kept;
    bool progress = false;
    for (auto it = from; it < out.end(); ++it) {
        if (*it == "SOLVER:") progress = true;
        if (progress) {
            progress = *it != "END";
            continue;
        }
        if (!cpu.count(*it)) kept.push_back(*it);
    }
    return kept;
}

long index_of(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) - lines.begin();
}

struct Case {
    Lines commands;  // after the spot's set-up, when `spot`
    bool spot = true;
    double sleeps = 0;  // seconds the commands sleep by themselves
};

// Checks one run against the rules of its source.
void check(const Case& c, Source source, const BoundedRun& run) {
    const std::string where =
        std::string(kSourceNames[static_cast<int>(source)]) + " after the set-up:";
    std::string what = where;
    for (const std::string& command : c.commands) what += " | " + command;
    SCOPED_TRACE(what + "\n" + run.out);
    ASSERT_FALSE(run.hung);
    EXPECT_EQ(run.status, 0);
    EXPECT_LT(run.seconds, c.sleeps + kSlack);
    const Lines out = lines_of(run.out);
    if (c.spot) {
        ASSERT_NE(index_of(out, "SPOT-BUILT"), static_cast<long>(out.size()));
    }
    const auto exit = std::find(c.commands.begin(), c.commands.end(), "exit");
    const bool starts = c.commands.front().rfind("go", 0) == 0;

    // The replies, in command order. An exit in a batch drops the batch's replies with it.
    Lines want;
    if (source != Source::Options || exit == c.commands.end()) {
        for (auto it = c.commands.begin(); it != exit; ++it)
            for (const std::string& r : replies_of(*it)) want.push_back(r);
    }
    const Lines all = after_setup(out, c.spot);
    Lines replies;
    std::copy_if(all.begin(), all.end(), std::back_inserter(replies),
                 [](const std::string& l) { return !solver_line(l); });
    EXPECT_EQ(replies, want);
    EXPECT_EQ(std::count(all.begin(), all.end(), "SOLVER: started"), starts ? 1 : 0);
    EXPECT_EQ(
        std::count_if(all.begin(), all.end(),
                      [](const std::string& l) { return l.rfind("SOLVER: stopped", 0) == 0; }),
        starts ? 1 : 0);

    if (source == Source::Options) {
        // The batch's replies come together after its last command, or after the last script it
        // ran, whose lines flush the buffer; the solver's lines fall before or after them.
        const auto script = std::find_if(c.commands.rbegin(), c.commands.rend(),
                                         [](auto& s) { return s.rfind("load_script", 0) == 0; });
        Lines tail;  // none after an exit
        for (auto it = script.base(); exit == c.commands.end() && it < exit; ++it)
            for (const std::string& r : replies_of(*it)) tail.push_back(r);
        auto end = all.end();
        while (end != all.begin() && solver_line(end[-1])) --end;
        ASSERT_GE(end - all.begin(), static_cast<long>(tail.size()));
        EXPECT_EQ(Lines(end - static_cast<long>(tail.size()), end), tail);
        return;
    }
    // Standard input and scripts: each reply precedes the solver line it causes.
    if (starts) {
        EXPECT_LT(index_of(all, "go ok!"), index_of(all, "SOLVER: started"));
    }
    const long stopped = index_of(all, "SOLVER: stopped (requested)");
    const long stopReply = index_of(all, "stop ok!");
    if (stopped < static_cast<long>(all.size()) && stopReply < static_cast<long>(all.size())) {
        EXPECT_LT(stopReply, stopped);
    }
}

TEST(CommandBatches, BlockingAndDirectWritersEndInTimeInEverySource) {
    const char* const blocking[] = {"wait_for_solver",
                                    "sleep 1",
                                    "take_a_break 1",
                                    "exit",
                                    "stop",
                                    "show_cpu_info",
                                    "load_script wait.txt",
                                    "skip_if_done missing.txt L"};
    std::vector<Case> cases;
    for (const Lines& before : {Lines{"go 5 steps"}, Lines{"go 100000 steps", "stop"}}) {
        for (const char* command : blocking) {
            Case c{before, true, std::string(command) == "take_a_break 1" ? 1.0 : 0.0};
            c.commands.push_back(command);
            c.commands.push_back("is_ready");
            cases.push_back(c);
        }
    }
    // The batches that hung for good before.
    cases.push_back({{"go 5 steps", "wait_for_solver"}});
    cases.push_back({{"go 5 steps", "exit"}});
    cases.push_back({{"stop", "show_cpu_info"}, false});

    struct Job {
        const Case* c;
        Source source;
        Lines commands;
        std::string tag;
    };
    std::vector<Job> jobs;
    for (const Case& c : cases)
        for (Source source : {Source::Options, Source::Script, Source::Stdin}) {
            Lines commands = c.commands;
            if (c.spot) commands.insert(commands.begin(), "load_script spot.txt");
            jobs.push_back({&c, source, commands, "run" + std::to_string(jobs.size()) + ".txt"});
        }
    // A few programs at a time: the runs mostly wait on their sleeps.
    std::vector<BoundedRun> runs(jobs.size());
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 6; ++w)
        workers.emplace_back([&] {
            for (size_t i; (i = next++) < jobs.size();)
                runs[i] = feed(jobs[i].commands, jobs[i].source, jobs[i].tag);
        });
    for (std::thread& w : workers) w.join();
    for (size_t i = 0; i < jobs.size(); ++i) check(*jobs[i].c, jobs[i].source, runs[i]);
}

}  // namespace

namespace {

// With the echo option, each echoed line is written whole while the solver prints: its lines
// fall only between lines, in every source. Long lines make the echo take a while.
TEST(CommandBatches, EchoLinesStayWholeWhileTheSolverPrints) {
    constexpr int kRounds = 100, kLong = 5;
    std::string longLine = "is_ready";
    for (int i = 0; i < 150; ++i) longLine += " w";
    Lines commands{"load_script spot.txt"};
    for (int i = 0; i < kRounds; ++i) {
        commands.push_back("go 1 steps");
        commands.insert(commands.end(), kLong, longLine);
        commands.emplace_back("load_script wait.txt");
    }
    for (Source source : {Source::Options, Source::Script, Source::Stdin}) {
        const BoundedRun run = feed(commands, source, "echo.txt", {"-o"});
        SCOPED_TRACE(kSourceNames[static_cast<int>(source)]);
        ASSERT_FALSE(run.hung);
        EXPECT_EQ(run.status, 0);
        const Lines out = lines_of(run.out);
        for (const std::string& line : out) {
            ASSERT_EQ(line.find("SOLVER"), line.rfind("SOLVER:", 0) == 0 ? 0 : std::string::npos)
                << line;
        }
        EXPECT_EQ(std::count(out.begin(), out.end(), longLine), kRounds * kLong);
        EXPECT_EQ(std::count(out.begin(), out.end(), "wait_for_solver"), kRounds);
        EXPECT_EQ(std::count(out.begin(), out.end(), "SOLVER: started"), kRounds);
    }
}

}  // namespace
