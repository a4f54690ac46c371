// The services every layer uses: buffered and locked output, the fatal exit, the progress
// report and the kernel switches.
#pragma once

#include "utilities/kernel_switches.h"
#include "utilities/output.h"

// Prints the result summary of the newest iteration-log record when the log grew since the
// previous call; the solver thread calls it after each exploitability check.
void report_progress();
