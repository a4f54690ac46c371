// The line grammar and the dispatcher: how a line is read and split into words, how its first
// word reaches a handler, and how a handler's errors become reply lines. Main thread only.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

using CommandWords = std::vector<std::string>;

// Reads one line into `line`, ended by LF, CR or CR LF (the line end is not kept). Returns false
// only when the input ended before any character of this line; a last line without a line end
// is returned as a line.
bool read_line(std::FILE* in, std::string& line);

// Splits at blanks; a double quote groups (and is dropped), with no escapes. Tabs are ordinary
// characters. Empty words are never produced.
CommandWords split_words(const std::string& line);

// Runs one line: echo, labels and skip mode, comments, "exit", table lookup, word count and
// handler. Replies go to the output buffer; errors become reply lines ("Invalid value" for a
// failed number conversion, the message of a std::runtime_error verbatim). A C string thrown by
// a handler is noted as "#exception" and thrown on; every other exception passes through.
void dispatch_command(CommandWords& words);

// split_words + dispatch_command + flush_output + a flush of standard output: one line from a
// script or standard input. Empty lines are skipped without an echo.
void run_command_line(const std::string& line);

// Returns when `words` has exactly `count` words, else throws the argument error.
void check_word_count(const CommandWords& words, int count);

// The label lines are skipped up to; empty when not skipping. Survives the end of a script.
const std::string& skip_label();
void set_skip_label(const std::string& label);

// Called at every normal end of the process ("exit", end of input, start-up refusals after the
// options are read) before it ends; later layers stop and join background work here.
void prepare_process_exit();

// Ends the process with `status` after prepare_process_exit(); the output buffer is not written.
[[noreturn]] void exit_program(int status);

// Runs `body` (the command sources) and returns its status. An internal failure escaping it (a
// thrown C string, or any other exception) ends the process in order: the output buffer and
// standard output are flushed, "fail (<what>)" is written for an exception other than a C
// string, and the status is 1.
int run_to_orderly_end(int (*body)(const void* context), const void* context);

// True when the file's status can be read.
bool file_exists(const std::string& path);

// Number words, read like std::stoi / std::stod: the leading number counts, the rest of the word
// is ignored. Throw std::invalid_argument or std::out_of_range, which the dispatcher replies to
// with "Invalid value".
int word_to_int(const std::string& word);
double word_to_double(const std::string& word);
