// Running the real program on a script and reading its replies back as numbers: the support of
// the command tests that check printed values against each other.
#pragma once

#include <poll.h>
#include <regex.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cards/cards.h"
#include "interpreter/combo_order.h"

namespace session {

using Lines = std::vector<std::string>;

// The program's output lines for `script` on standard input, started with `options` (e.g.
// "-v"); *status its exit status.
inline Lines run_script(const std::string& script, int* status = nullptr,
                        const std::string& options = "") {
    char path[] = "/tmp/nlhe_session_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return {};
    close(fd);
    std::ofstream(path) << script;
    const std::string command =
        std::string("'") + NLHE_BINARY + "' " + options + " < " + path + " 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    if (pipe != nullptr) {
        char chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
        const int raw = pclose(pipe);
        if (status != nullptr) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    std::remove(path);
    Lines lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// One run of the program under a hard time limit.
struct BoundedRun {
    std::string out;    // standard output and standard error together
    int status = -1;    // exit status; -1 when killed or ended by a signal
    bool hung = false;  // still running at the limit, and killed then
    double seconds = 0;
};

// Runs the program with `args` in the directory `dir`, `input` on standard input, and kills it
// after `limit` seconds: a program that never ends is a result, not a stuck test.
inline BoundedRun run_bounded(const std::vector<std::string>& args, const std::string& input,
                              const std::string& dir, double limit) {
    BoundedRun run;
    char path[] = "/tmp/nlhe_bounded_XXXXXX";
    const int in = mkstemp(path);
    if (in < 0) return run;
    std::ofstream(path) << input;
    std::remove(path);
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        dup2(in, 0);
        lseek(0, 0, SEEK_SET);
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        std::vector<char*> argv{const_cast<char*>(NLHE_BINARY)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(NLHE_BINARY, argv.data());
        _exit(127);
    }
    close(in);
    close(pipeFds[1]);
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    pollfd reader{pipeFds[0], POLLIN, 0};
    for (;;) {
        const double left = limit - elapsed();
        if (left <= 0) {
            run.hung = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(&reader, 1, static_cast<int>(left * 1000) + 1) <= 0) continue;
        char chunk[65536];
        const ssize_t n = read(pipeFds[0], chunk, sizeof chunk);
        if (n <= 0) break;
        run.out.append(chunk, static_cast<size_t>(n));
    }
    close(pipeFds[0]);
    int raw = 0;
    waitpid(pid, &raw, 0);
    run.seconds = elapsed();
    run.status = !run.hung && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

// Replies between "is_ready ok!" markers (section 0 is all before the first), without the
// solver thread's lines and progress summaries or '#' lines.
inline std::vector<Lines> sections(const Lines& lines) {
    std::vector<Lines> out(1);
    bool progress = false;
    for (const std::string& line : lines) {
        if (line == "SOLVER:") progress = true;
        if (progress) {
            progress = line != "END";
            continue;
        }
        if (line == "is_ready ok!")
            out.emplace_back();
        else if (line.rfind("SOLVER:", 0) != 0 && line.rfind("#", 0) != 0)
            out.back().push_back(line);
    }
    return out;
}

// The numbers of a line ("nan" reads as NaN); words that are not numbers are skipped.
inline std::vector<double> numbers(const std::string& line) {
    std::vector<double> v;
    std::istringstream in(line);
    for (std::string word; in >> word;) {
        char* end = nullptr;
        const double x = std::strtod(word.c_str(), &end);
        if (end != word.c_str() && *end == '\0') v.push_back(x);
    }
    return v;
}

// "set_range <player>" with a weight per combination in canonical order (build_combo_tables
// must have run).
inline std::string range_line(const char* player, const std::function<double(CardMask)>& weight) {
    std::string line = std::string("set_range ") + player;
    char cell[32];
    for (int k = 0; k < kComboCount; ++k) {
        std::snprintf(cell, sizeof cell, " %.6g", weight(HandOrderMasks[k]));
        line += cell;
    }
    return line;
}

inline int high_rank(CardMask m) {
    return std::max(CardRank(LowestCard(m)), CardRank(HighestCard(m)));
}
inline int low_rank(CardMask m) {
    return std::min(CardRank(LowestCard(m)), CardRank(HighestCard(m)));
}

// POSIX extended expressions: g++ 12 reports false maybe-uninitialized warnings inside
// std::regex at the sanitizer build's optimisation level. Whether `pattern` matches all of
// `text` (`whole`) or some part of it; *groups gets the captures, [0] the whole match.
inline bool match_pattern(const std::string& text, const std::string& pattern, bool whole,
                          std::vector<std::string>* groups = nullptr) {
    regex_t re;
    if (regcomp(&re, pattern.c_str(), REG_EXTENDED) != 0) return false;
    std::vector<regmatch_t> m(re.re_nsub + 1);
    const bool found = regexec(&re, text.c_str(), m.size(), m.data(), 0) == 0 &&
                       (!whole || (m[0].rm_so == 0 && size_t(m[0].rm_eo) == text.size()));
    regfree(&re);
    if (found && groups != nullptr) {
        groups->clear();
        for (const regmatch_t& g : m)
            groups->push_back(g.rm_so < 0 ? std::string()
                                          : text.substr(g.rm_so, g.rm_eo - g.rm_so));
    }
    return found;
}

}  // namespace session
