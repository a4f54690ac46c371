#include "utilities/cpu_report.h"

#include "utilities/output.h"

namespace {

std::string trim_spaces(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return text;
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::vector<std::string> cpu_report_lines(const InstructionSet& set) {
    static constexpr int kLineEnds[] = {8, 16, 24, 32, 40, 47, 51};
    std::vector<std::string> lines = {trim_spaces(set.vendor) + "\n",
                                      trim_spaces(set.brand) + "\n"};
    std::string line;
    const int* end = kLineEnds;
    for (int i = 0; i < kCpuFeatureCount; ++i) {
        std::string name = CpuFeatures[i].name;
        name.resize(13, ' ');
        line += (cpu_has_feature(set, i) ? "[x] " : "[ ] ") + name;
        if (i + 1 == *end) {
            lines.push_back(line + "\n");
            line.clear();
            ++end;
        }
    }
    return lines;
}

void print_cpu_info() {
    for (const std::string& line : cpu_report_lines(instruction_set()))
        locked_printf("%s", line.c_str());
}
