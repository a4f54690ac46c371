// Situations the solver cannot walk, through the real program: betting lines far deeper than
// the tree walks' recursion allows, and lines at the deepest the tree takes, solved.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "solver/solved_tree.h"

namespace {

struct Session {
    std::string out;
    int status = -1;
};

Session RunProgram(const std::string& script) {
    char path[] = "/tmp/tree_limits_XXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    std::ofstream(path) << script;
    const std::string command = std::string(NLHE_BINARY) + " < " + path + " 2>/dev/null";
    Session run;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::remove(path);
    return run;
}

// A river spot with a few hands each, so a thousand-action line solves in moments.
std::string RiverSpot() {
    std::string range;
    for (int k = 0; k < 1326; ++k) range += k % 60 == 0 ? " 1" : " 0";
    return "set_board Ks 7s 2d 9c 3h\nset_range OOP" + range + "\nset_range IP" + range + "\n";
}

// One line of raises 1, 2, ..., actions.
std::string RaiseLine(int actions) {
    std::string line = "add_line";
    for (int a = 1; a <= actions; ++a) {
        line += ' ';
        line += std::to_string(a);
    }
    return line + "\n";
}

TEST(TreeLimits, LinesTooDeepAreRefusedAndTheDeepestSolve) {
    // Each typed raise is one action; the call or fold that answers the last is one more.
    // A small tree first, so node_count has one and walks the deep line set after the refusal.
    const Session run =
        RunProgram(RiverSpot() + "add_line 0 0\nbuild_tree\n" + RaiseLine(300000) +
                   "build_tree\nnode_count\n" + "clear_lines\n" + RaiseLine(kMaxTreeDepth) +
                   "build_tree\n" + "clear_lines\n" + RaiseLine(kMaxTreeDepth - 1) +
                   "build_tree\ngo 2 steps\nwait_for_solver\ncalc_results\n");
    EXPECT_EQ(run.status, 0) << run.out;
    const std::string refused = "ERROR: build_tree line too long\n";
    const size_t first = run.out.find(refused);
    ASSERT_NE(first, std::string::npos) << run.out;
    EXPECT_NE(run.out.find(refused, first + 1), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("TOTAL: "), std::string::npos);  // node_count walks the deep line too
    EXPECT_NE(run.out.find("build_tree ok!\n", first), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("SOLVER: stopped (required number of steps done)\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Exploitable for: "), std::string::npos);
}

}  // namespace
