// Runs a function in a forked child with its standard output captured: for the paths that end
// the process (fatal "fail", "fse error").
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

struct ChildResult {
    int status;  // exit status, or -1 when the child did not exit normally
    std::string out;
};

template <typename F>
ChildResult run_in_child(F fn) {
    int fds[2];
    if (pipe(fds) != 0) return {-2, ""};
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        fn();
        std::fflush(stdout);
        _exit(0);
    }
    close(fds[1]);
    std::string out;
    char buffer[256];
    ssize_t got;
    while ((got = read(fds[0], buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<size_t>(got));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}
