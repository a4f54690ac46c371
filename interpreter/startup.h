// Start-up after the processor check: command-line options, tables, banner, then the commands
// of the three sources (cmd options, the script file, standard input) in that order.
#pragma once

// The parser's version text; the banner names it too.
inline constexpr const char* kVersionText = "1042";

// Runs the program from option parsing on; returns the exit status (0 at the end of standard
// input, 1 for a missing script file). Parser failures, help and version exit from the parser.
int run_interpreter(int argc, char** argv);

// The banner line (and "[verbosity N]" when verbose), written directly to standard output,
// wrapped in colour codes with the color option.
void print_banner();
