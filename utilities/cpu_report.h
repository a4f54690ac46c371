// The CPU feature report of show_cpu_info: vendor, brand and the 51 features of the processor
// record, nine lines in all.
#pragma once

#include <string>
#include <vector>

#include "utilities/instruction_set.h"

// The report's nine lines, each ending in a line feed: vendor and brand with leading and
// trailing spaces trimmed (a text of spaces only, or empty, is kept as it is), then the features
// in table order as "[x] " or "[ ] " and the name padded to 13, lines ending after entries 8,
// 16, 24, 32, 40, 47 and 51 with their trailing spaces kept.
std::vector<std::string> cpu_report_lines(const InstructionSet& set);

// Writes the process record's report straight to standard output, each line whole under the
// output lock and flushed, ahead of anything still in the output buffer.
void print_cpu_info();
