// Process-wide console flags and the start time, set once by start-up from the command line.
// Main thread only: the solver thread never reads them.
#pragma once

#include <chrono>
#include <cstdint>

// 0, or 1 with the verbose option; bracketed diagnostic lines appear only when at least 1.
extern int32_t Verbosity;
// Echo every dispatched line to standard output before its replies (echo option).
extern bool EchoCommands;
// Wrap the banner and echo lines in ANSI colour codes (color option).
extern bool ColorText;
// Recorded by start-up just before the banner; solver_time measures from it.
extern std::chrono::system_clock::time_point ProgramStartTime;
