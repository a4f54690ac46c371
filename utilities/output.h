// Buffered command output, replies, error raisers and the fatal exit.
// Command replies collect in one buffer (main thread only) and are written line by line after
// each command; the solver thread prints through the locked functions instead.
#pragma once

#include <string>
#include <vector>

// Appends printf-style text to the output buffer. A format beginning with '#' is dropped unless
// information lines are let through. Main thread only. Text of any length is kept whole.
void out_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes the buffer to standard output as non-empty lines, empties it, and stops letting
// '#' lines through. Does not flush the C stream; callers do.
void flush_output();

// Appends `text` as it is (never read as a format); a text beginning with '#' is dropped like a
// '#' format of out_printf. Main thread only.
void out_text(const std::string& text);

// Lets '#' lines through until the next flush of a non-empty buffer.
void set_show_hash_lines(bool show);
bool show_hash_lines();

// The current contents of the output buffer (tests and the command loop's error path).
const std::string& output_buffer();
void clear_output_buffer();

// "%s ok!" with the command word as typed.
void reply_ok(const std::vector<std::string>& words);

// Throw std::runtime_error whose text is the whole reply line (message cut at 255 characters).
[[noreturn]] void throw_arg_error(const std::vector<std::string>& words);
[[noreturn]] void throw_command_error(const std::string& message);

// The command word of the running handler; error replies name it.
void set_current_command_word(const std::string& word);
const std::string& current_command_word();

// Prints "fail (message)" or "fail" on standard output, flushes, and ends the process with
// status 1 without running static destructors (other threads may still use them). Any thread.
[[noreturn]] void fail_fatal(const char* message);

// Points standard output at the file `path`, truncated or, with `append`, appended to. The file
// is opened first: false, with standard output unchanged, when it cannot be (a name holding a
// NUL byte included). Otherwise pending output is flushed to the old target and the descriptor
// switched under the output mutex, so no locked line is split between targets. Main thread.
bool redirect_stdout(const std::string& path, bool append);
// Points standard output back at the descriptor the process started with (kept from the first
// redirection on). true at once when never redirected; false when it cannot be restored.
bool restore_stdout();

// Holds back the locked printers' lines until the buffer is next flushed or cleared, or the next
// command begins: a command that starts or stops the solver thread calls it first, so its reply
// precedes the thread's lines. The held lines queue; no printer ever waits for the release, so a
// command that blocks, or a batch whose flush comes late, cannot hang on it. Main thread only.
void hold_locked_output();
// Writes the held-back lines and lets later ones through at once.
void release_locked_output();

// A command line begins: the previous command's hold ends. Main thread only.
void begin_command_output();

// Writes `text` to standard output in one piece under the output mutex, so no locked line lands
// inside it (the echo of command lines). Main thread only.
void write_whole(const std::string& text);

// Direct printf-style write to standard output under the output mutex, then a flush; a format
// beginning with '#' is dropped. The solver thread's way to print. Never blocks on a hold.
void locked_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void locked_printf_flush(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes `text` (and the held-back lines before it) at once, whatever the hold: the last line
// of a process about to end. Any thread.
void locked_print_final(const char* text);
