#include "utilities/output.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

TEST(OutputBuffer, HashFormatsDroppedUnlessLetThrough) {
    clear_output_buffer();
    out_printf("#%d iterations\n", 5);
    EXPECT_EQ(output_buffer(), "");
    out_printf("%s\n", "#kept, the test looks at the format");
    EXPECT_EQ(output_buffer(), "#kept, the test looks at the format\n");
    clear_output_buffer();
    set_show_hash_lines(true);
    out_printf("#%d\n", 7);
    EXPECT_EQ(output_buffer(), "#7\n");
    clear_output_buffer();
    set_show_hash_lines(false);
}

TEST(OutputBuffer, TextsLongerThanTheFormatBufferStayWhole) {
    clear_output_buffer();
    std::string big(200000, 'x');
    out_printf("%s|%s", big.c_str(), big.c_str());
    EXPECT_EQ(output_buffer().size(), 400001u);
    clear_output_buffer();
}

TEST(OutputBuffer, FlushWritesNonEmptyLinesVerbatim) {
    clear_output_buffer();
    testing::internal::CaptureStdout();
    out_printf("part ");
    out_printf("%s\n", "one");
    out_printf("\n\n");
    out_printf("%s", "100% %s %d");
    flush_output();
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "part one\n100% %s %d\n");
    EXPECT_EQ(output_buffer(), "");

    // A flush of an empty buffer keeps '#' lines let through; a real flush stops them.
    set_show_hash_lines(true);
    flush_output();
    out_printf("#kept\n");
    testing::internal::CaptureStdout();
    flush_output();
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "#kept\n");
    out_printf("#dropped\n");
    EXPECT_EQ(output_buffer(), "");
}

// A hold keeps the locked lines behind the reply of the command that closed it; a printer never
// waits for the hold to open, and the next flush or command writes what was queued.
TEST(LockedOutput, HeldLinesQueueBehindTheReplyWithoutWaiting) {
    clear_output_buffer();
    testing::internal::CaptureStdout();
    hold_locked_output();
    std::thread([] { locked_printf_flush("SOLVER: started\n"); }).join();
    out_printf("go ok!\n");
    flush_output();
    locked_printf("free\n");
    hold_locked_output();
    locked_printf("%s", "queued\n");
    out_printf("batch reply\n");
    begin_command_output();
    hold_locked_output();
    locked_print_final("last words\n");
    locked_printf("#never\n");
    clear_output_buffer();
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "go ok!\nSOLVER: started\nfree\nqueued\nlast words\n");
    EXPECT_EQ(output_buffer(), "");
}

// Redirecting again to the file in use truncates it; a line the solver thread writes meanwhile
// must go wholly to the old or the new target, never past the cut into a hole of zero bytes.
TEST(Redirection, RetruncatingTheFileInUseLeavesNoHole) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("nlhe-redirect-" + std::to_string(getpid())))
            .string();
    std::atomic<bool> done{false};
    bool clean = true;
    std::thread writer([&] {
        while (!done.load()) locked_printf_flush("SOLVER: a line the solver thread writes\n");
    });
    bool redirected = true;
    std::error_code error;
    for (int round = 0; round < 300 && clean && redirected; ++round) {
        // Let the file grow first, so that a write past the cut would leave a wide hole.
        const auto start = std::chrono::steady_clock::now();
        while (std::filesystem::file_size(path, error) < 16384 && !error &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(2))
            std::this_thread::yield();
        redirected = redirect_stdout(path, false);
        // Only what the file held when looked at: reading on to its end would race a writer that
        // appends faster than a slow (sanitized, loaded) reader reads, without bound.
        const auto size = std::filesystem::file_size(path, error);
        std::string text(error ? 0 : static_cast<size_t>(size), '\1');
        std::ifstream in(path, std::ios::binary);
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<size_t>(in.gcount()));
        clean = text.find('\0') == std::string::npos;
    }
    done = true;
    writer.join();
    EXPECT_TRUE(restore_stdout());
    std::filesystem::remove(path);
    EXPECT_TRUE(redirected);
    EXPECT_TRUE(clean);
}

TEST(Replies, ErrorsCarryTheWholeReplyLine) {
    set_current_command_word("set_board");
    try {
        throw_command_error("duplicate cards");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "ERROR: set_board duplicate cards\n");
    }
    try {
        throw_arg_error({"set_pot", "x"});
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "ERROR: set_pot incorrect or missing argument\n");
    }
    // Messages are cut to fit 255 characters.
    try {
        throw_command_error(std::string(1000, 'm'));
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).size(), 255u);
    }
}

TEST(FatalExit, PrintsFailAndEndsWithStatusOne) {
    EXPECT_EXIT(fail_fatal("not open"), testing::ExitedWithCode(1), "");
    // The buffered reply is lost; "fail" reaches standard output even though the process ends
    // without running exit handlers.
    EXPECT_EXIT(
        {
            out_printf("lost reply\n");
            dup2(2, 1);  // the death test reads fd 2
            fail_fatal(nullptr);
        },
        testing::ExitedWithCode(1), "^fail\n$");
    // From a worker thread, while the main thread still runs: exit handlers and static
    // destructors must not run under it.
    EXPECT_EXIT(
        {
            dup2(2, 1);
            std::atexit([] { std::fputs("exit handlers ran\n", stderr); });
            std::thread worker([] { fail_fatal("worker"); });
            worker.join();
        },
        testing::ExitedWithCode(1), "^fail \\(worker\\)\n$");
}

}  // namespace
