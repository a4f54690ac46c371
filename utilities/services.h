// What cards/, storage/, solver/ and compression/ use of the interpreter: buffered and locked
// output, the fatal exit, the progress report and the kernel switches.
#pragma once

#include "interpreter/kernel_switches.h"
#include "interpreter/output.h"

// Prints the result summary of the newest iteration-log record when the log grew since the
// previous call; the solver thread calls it after each exploitability check.
void report_progress();
