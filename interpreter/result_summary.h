// The printed summary of a solver result: the form calc_results prints and the progress form
// the solver thread prints after every exploitability check.
#pragma once

#include <cstdint>
#include <string>

#include "solver/iteration_log.h"

// The progress form's text, formatted in one piece: running time, the four values offset by
// half the pot, the exploitability as it is.
std::string progress_summary_text(const IterationLogRecord& record, double pot);

// The verbose line after a progress summary: user CPU seconds and peak resident MiB.
std::string cpu_line_text(double cpuSeconds, int32_t peakMb);

// The command form through out_printf, with its two '#' lines (bytes per second of storage
// traffic, 0 when the record's running time is 0).
void print_command_summary(const IterationLogRecord& record, double pot, uint64_t bytesRead,
                           uint64_t bytesWritten);

// The process's peak resident set in MiB (the kernel's KiB figure / 1024, truncated).
int32_t peak_working_set_mb();

// Prints the result summary of the newest iteration-log record when the log grew since the
// previous call; registered with the solver thread, which calls it after each check.
void report_progress();

// Number of iteration-log records when report_progress last printed; go sets it to 0.
void reset_progress_log_count();

// The pot the progress summaries offset by, captured by go from the tree's situation before the
// solver thread starts (the thread reads it).
void set_progress_pot(double pot);
