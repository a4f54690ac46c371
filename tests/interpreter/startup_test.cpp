#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

struct ProgramRun {
    int status;
    std::string out;
};

// Runs the real program with `arguments` (shell words) and empty standard input.
ProgramRun run_binary(const std::string& arguments) {
    const std::string command =
        std::string("'") + NLHE_BINARY + "' " + arguments + " </dev/null 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    ProgramRun run{-1, ""};
    if (!pipe) return run;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) run.out.append(chunk, n);
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

TEST(StartUp, ParserHelpVersionAndFailureStatuses) {
    ProgramRun help = run_binary("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("execute command"), std::string::npos);
    EXPECT_NE(help.out.find("<script.txt>"), std::string::npos);
    ProgramRun version = run_binary("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find("version: 1042"), std::string::npos);
    EXPECT_EQ(run_binary("--no-such-option").status, 1);
    EXPECT_EQ(run_binary("one.txt two.txt").status, 1);
    EXPECT_EQ(run_binary("-c").status, 1);
    // "--" ends the options: what follows is the script name.
    ProgramRun rest = run_binary("-- -c");
    EXPECT_EQ(rest.status, 1);
    EXPECT_NE(rest.out.find("ERROR: can't find file '-c'"), std::string::npos);
}

// The transcripts mask the banner line; its exact text is checked here.
TEST(StartUp, BannerText) {
    const std::string banner = "nlhe-solver 1042 - heads-up no-limit hold'em postflop solver\n";
    ProgramRun plain = run_binary("");
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out, banner);
    ProgramRun coloured = run_binary("-v -r");
    EXPECT_EQ(coloured.status, 0);
    EXPECT_EQ(coloured.out, "\033[0;36m" + banner + "[verbosity 1]\n\033[0m");
}

TEST(StartUp, FirstReplyWithinMilliseconds) {
    const auto start = std::chrono::steady_clock::now();
    ProgramRun run = run_binary("-c is_ready");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("is_ready ok!\n"), std::string::npos);
    // Generous for a loaded machine or a sanitizer build; start-up itself takes milliseconds.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 5000);
}

}  // namespace
