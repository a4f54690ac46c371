#include "interpreter/meminfo.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

void parse(std::string text) {
    parse_meminfo_text(text.data());
}

TEST(Meminfo, ParsesWholeNamesOnly) {
    meminfo_buffers_kb = 0;
    meminfo_cached_kb = 0;
    parse(
        "MemTotal:       16000000 kB\n"
        "SwapCached:        777 kB\n"
        "HardwareCorrupted:     99 kB\n"
        "Cached:   12345 kB\n"
        "XCached: 5 kB\n"
        "cached: 6 kB\n");
    EXPECT_EQ(meminfo_cached_kb, 12345u);
    EXPECT_EQ(meminfo_buffers_kb, 0u);  // no Buffers line: the earlier value stays

    // A name of 16 characters or more is skipped even when it ends like a key.
    parse("AAAAAAAAAAAAAAAABuffers: 1 kB\nBuffers: 42 kB\n");
    EXPECT_EQ(meminfo_buffers_kb, 42u);
    EXPECT_EQ(meminfo_cached_kb, 12345u);

    parse("Buffers: 8 kB\nCached: 9 kB\n");
    EXPECT_EQ(meminfo_buffers_kb, 8u);
    EXPECT_EQ(meminfo_cached_kb, 9u);

    parse("Buffers:\nCached: kB\n");  // no number stores 0
    EXPECT_EQ(meminfo_buffers_kb, 0u);
    EXPECT_EQ(meminfo_cached_kb, 0u);
    parse("Cached 5\nno colon at all");
    parse("");
    EXPECT_EQ(meminfo_cached_kb, 0u);
}

std::string temp_file(const std::string& text) {
    char name[] = "/tmp/meminfo_test_XXXXXX";
    const int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    return name;
}

TEST(Meminfo, ReadsAtMost2047BytesFromTheStartEachCall) {
    // A Cached line that begins at byte 2040 is cut after "Cached:" and its digits.
    std::string text = "Buffers: 11 kB\n";
    text += std::string(2040 - text.size() - 1, 'x') + "\n";
    text += "Cached: 123456789 kB\n";
    ASSERT_EQ(text.find("Cached"), 2040u);
    const std::string path = temp_file(text);
    set_meminfo_path(path.c_str());
    meminfo_cached_kb = 0;
    read_meminfo();
    EXPECT_EQ(meminfo_buffers_kb, 11u);
    EXPECT_EQ(meminfo_cached_kb, 0u);  // only "Cached:" fits in 2,047 bytes

    // The descriptor stays open: a rewrite of the same file is seen by the next call.
    {
        std::ofstream out(path, std::ios::in | std::ios::out);
        out << "Buffers: 22 kB\nCached:  33 kB\n";
    }
    read_meminfo();
    EXPECT_EQ(meminfo_buffers_kb, 22u);
    EXPECT_EQ(meminfo_cached_kb, 33u);
    set_meminfo_path("/proc/meminfo");
    std::remove(path.c_str());
}

uint64_t independent_kb(const std::string& name) {
    std::ifstream in("/proc/meminfo");
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string key;
        uint64_t value = 0;
        fields >> key >> value;
        if (key == name + ":") return value;
    }
    return 0;
}

TEST(Meminfo, LiveFileAgreesWithAnIndependentRead) {
    set_meminfo_path("/proc/meminfo");
    read_meminfo();
    const uint64_t cached = independent_kb("Cached");
    const uint64_t buffers = independent_kb("Buffers");
    EXPECT_NEAR(static_cast<double>(meminfo_cached_kb), static_cast<double>(cached),
                0.05 * static_cast<double>(cached) + 1024);
    EXPECT_NEAR(static_cast<double>(meminfo_buffers_kb), static_cast<double>(buffers),
                0.05 * static_cast<double>(buffers) + 1024);
    const uint64_t available = available_memory_bytes();
    EXPECT_GE(available, (meminfo_buffers_kb + meminfo_cached_kb) * 1024);
    EXPECT_GT(available, 0u);
}

struct ChildResult {
    int status = -1;
    std::string out, err;
};

std::string drain(int fd) {
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    close(fd);
    return text;
}

// Runs read_meminfo on `path` in a child process and collects its status and output.
ChildResult read_in_child(const char* path) {
    int out_pipe[2], err_pipe[2];
    EXPECT_EQ(pipe(out_pipe), 0);
    EXPECT_EQ(pipe(err_pipe), 0);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        std::printf("buffered before the failure\n");
        set_meminfo_path(path);
        read_meminfo();
        _exit(0);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    ChildResult result;
    result.out = drain(out_pipe[0]);
    result.err = drain(err_pipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TEST(Meminfo, MissingFileEndsWith102AndNoMessage) {
    const ChildResult r = read_in_child("/nonexistent/meminfo");
    EXPECT_EQ(r.status, 102);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "buffered before the failure\n");  // streams flushed, nothing added
}

TEST(Meminfo, UnreadableFileEndsWith103AndPerrorText) {
    const ChildResult r = read_in_child("/tmp");
    EXPECT_EQ(r.status, 103);
    EXPECT_EQ(r.err, "/tmp: Is a directory\n");
    EXPECT_EQ(r.out, "buffered before the failure\n");
}

}  // namespace
