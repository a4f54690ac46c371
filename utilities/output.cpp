#include "utilities/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <stdexcept>

namespace {

std::string OutputBuffer;    // main thread only
bool ShowHashLines = false;  // main thread only
std::string CurrentCommandWord;
std::mutex OutputMutex;  // serialises writes to stdout between flush and the solver thread
// While held, locked lines queue in HeldText instead of being written. Nothing ever waits for the
// hold to open: whoever opens it (a flush, the next command) writes the queue. Both under
// OutputMutex.
bool Held = false;
std::string HeldText;
int OriginalStdout = -1;  // duplicate of the start-up descriptor 1, from the first redirection
bool Redirected = false;  // main thread only

// printf into a std::string, growing past 64 KiB when a text is that long.
std::string vformat(const char* format, va_list args) {
    char small[65536];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, args);
    big.resize(static_cast<size_t>(n));
    return big;
}

// OutputMutex held.
void write_held_text() {
    Held = false;
    if (HeldText.empty()) return;
    std::fwrite(HeldText.data(), 1, HeldText.size(), stdout);
    HeldText.clear();
    std::fflush(stdout);
}

// One locked message: queued while held (unless `now`), else written and flushed at once.
void write_locked(const std::string& text, bool now) {
    std::lock_guard<std::mutex> lock(OutputMutex);
    if (Held && !now) {
        HeldText += text;
        return;
    }
    write_held_text();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

void hold_locked_output() {
    std::lock_guard<std::mutex> lock(OutputMutex);
    Held = true;
}

void release_locked_output() {
    std::lock_guard<std::mutex> lock(OutputMutex);
    write_held_text();
}

void begin_command_output() {
    release_locked_output();
}

void write_whole(const std::string& text) {
    std::lock_guard<std::mutex> lock(OutputMutex);
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void out_printf(const char* format, ...) {
    if (format[0] == '#' && !ShowHashLines) return;
    va_list args;
    va_start(args, format);
    OutputBuffer += vformat(format, args);
    va_end(args);
}

void flush_output() {
    if (OutputBuffer.empty()) {
        release_locked_output();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(OutputMutex);
        size_t start = 0;
        while (start < OutputBuffer.size()) {
            size_t end = OutputBuffer.find('\n', start);
            if (end == std::string::npos) end = OutputBuffer.size();
            if (end > start) {
                std::fwrite(OutputBuffer.data() + start, 1, end - start, stdout);
                std::fputc('\n', stdout);
            }
            start = end + 1;
        }
        write_held_text();
    }
    OutputBuffer.clear();
    ShowHashLines = false;
}

void out_text(const std::string& text) {
    if (!text.empty() && text[0] == '#' && !ShowHashLines) return;
    OutputBuffer += text;
}

void set_show_hash_lines(bool show) {
    ShowHashLines = show;
}

bool show_hash_lines() {
    return ShowHashLines;
}

namespace {
// Empties a regular file; other targets (a terminal, a pipe, /dev/null) have nothing to cut.
bool empty_if_regular(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || ::ftruncate(fd, 0) == 0;
}

// Flushes what the old target still holds, then moves descriptor 1 to `fd`, emptying it first
// when `truncate` is set. Under the output mutex throughout: a line the solver thread writes in
// between would otherwise land in the old target past the cut, leaving a hole of zero bytes when
// the old target is the same file.
bool switch_stdout_to(int fd, bool truncate) {
    std::lock_guard<std::mutex> lock(OutputMutex);
    std::fflush(stdout);
    if (truncate && !empty_if_regular(fd)) return false;
    return ::dup2(fd, STDOUT_FILENO) >= 0;
}
}  // namespace

bool redirect_stdout(const std::string& path, bool append) {
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    if (OriginalStdout < 0) OriginalStdout = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    // Opened without O_TRUNC: the file is emptied only once earlier output has gone to the old
    // target, which may be this same file.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | (append ? O_APPEND : 0), 0666);
    if (fd < 0) return false;
    const bool switched =
        fd == STDOUT_FILENO ? append || empty_if_regular(fd) : switch_stdout_to(fd, !append);
    if (fd != STDOUT_FILENO) ::close(fd);
    Redirected = Redirected || switched;  // from here on stdoutback needs the duplicate
    return switched;
}

bool restore_stdout() {
    if (!Redirected) {
        std::lock_guard<std::mutex> lock(OutputMutex);
        std::fflush(stdout);
        return true;
    }
    return OriginalStdout >= 0 && switch_stdout_to(OriginalStdout, false);
}

const std::string& output_buffer() {
    return OutputBuffer;
}

void clear_output_buffer() {
    OutputBuffer.clear();
    release_locked_output();
}

void reply_ok(const std::vector<std::string>& words) {
    out_printf("%s ok!\n", words.empty() ? "" : words[0].c_str());
}

namespace {
[[noreturn]] void throw_cut(const char* format, const char* a, const char* b) {
    char text[256];
    if (b)
        std::snprintf(text, sizeof text, format, a, b);
    else
        std::snprintf(text, sizeof text, format, a);
    throw std::runtime_error(text);
}
}  // namespace

void throw_arg_error(const std::vector<std::string>& words) {
    throw_cut("ERROR: %s incorrect or missing argument\n", words.empty() ? "" : words[0].c_str(),
              nullptr);
}

void throw_command_error(const std::string& message) {
    throw_cut("ERROR: %s %s\n", CurrentCommandWord.c_str(), message.c_str());
}

void set_current_command_word(const std::string& word) {
    CurrentCommandWord = word;
}

const std::string& current_command_word() {
    return CurrentCommandWord;
}

void fail_fatal(const char* message) {
    if (message)
        std::printf("fail (%s)\n", message);
    else
        std::printf("fail\n");
    std::fflush(stdout);
    _exit(1);
}

void locked_printf(const char* format, ...) {
    if (format[0] == '#') return;
    va_list args;
    va_start(args, format);
    std::string text = vformat(format, args);
    va_end(args);
    write_locked(text, false);
}

void locked_printf_flush(const char* format, ...) {
    if (format[0] == '#') return;
    va_list args;
    va_start(args, format);
    std::string text = vformat(format, args);
    va_end(args);
    write_locked(text, false);
}

void locked_print_final(const char* text) {
    write_locked(text, true);
}
