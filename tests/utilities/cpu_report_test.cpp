#include "utilities/cpu_report.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "utilities_support.h"

namespace {

// The marks of the report's feature lines by name; the layout is checked on the way.
std::map<std::string, bool> ReportMarks(const std::vector<std::string>& lines) {
    std::map<std::string, bool> marks;
    const size_t per_line[] = {8, 8, 8, 8, 8, 7, 4};
    EXPECT_EQ(lines.size(), 9u);
    for (size_t l = 2; l < lines.size() && l < 9; ++l) {
        const std::string& line = lines[l];
        EXPECT_EQ(line.size(), 17 * per_line[l - 2] + 1) << line;
        for (size_t at = 0; at + 17 < line.size() + 1; at += 17) {
            const std::string entry = line.substr(at, 17);
            EXPECT_TRUE(entry.compare(0, 4, "[x] ") == 0 || entry.compare(0, 4, "[ ] ") == 0);
            marks[entry.substr(4, entry.find(' ', 4) - 4)] = entry[1] == 'x';
        }
    }
    EXPECT_EQ(marks.size(), 51u);
    return marks;
}

struct ReportCase {
    const char* what;
    const char* vendor;  // 12 bytes
    uint32_t highestBasic, highestExtended;
    const char* brand;  // up to 48 bytes in leaves 0x80000002..4
    std::string vendorLine, brandLine;
    std::set<std::string> absent;  // every feature word is all ones: the rest show
};

// Fake processors with every feature bit set: only leaf limits and vendor flags hide features.
TEST(CpuReport, FakeProcessors) {
    const std::set<std::string> leaf7 = {
        "ADX",  "AVX2",     "AVX512CD", "AVX512ER", "AVX512F",     "AVX512PF", "BMI1", "BMI2",
        "ERMS", "FSGSBASE", "HLE",      "INVPCID",  "PREFETCHWT1", "RDSEED",   "RTM",  "SHA"};
    const std::set<std::string> amd_only = {"3DNOW", "3DNOWEXT", "ABM", "MMXEXT",
                                            "SSE4a", "TBM",      "XOP"};
    const std::set<std::string> intel_only = {"HLE", "LZCNT", "RDTSCP", "RTM", "SYSCALL"};
    const std::set<std::string> ext1 = {"3DNOW",  "3DNOWEXT", "ABM",     "LAHF", "LZCNT", "MMXEXT",
                                        "RDTSCP", "SSE4a",    "SYSCALL", "TBM",  "XOP"};
    auto join = [](std::set<std::string> a, const std::set<std::string>& b) {
        a.insert(b.begin(), b.end());
        return a;
    };
    const ReportCase cases[] = {
        {"basic leaf 6", "GenuineIntel", 6, 0x80000004u, "Intel Thing", "GenuineIntel",
         "Intel Thing", join(leaf7, amd_only)},
        {"Intel", "GenuineIntel", 13, 0x80000008u, "  Padded   brand  ", "GenuineIntel",
         "Padded   brand", amd_only},
        {"AMD", "AuthenticAMD", 13, 0x80000004u, "AMD Thing", "AuthenticAMD", "AMD Thing",
         intel_only},
        {"unknown vendor", " Other CPU  ", 13, 0x80000004u, "      ", "Other CPU", "      ",
         join(amd_only, intel_only)},
        {"extended leaf 0x80000003", "AuthenticAMD", 13, 0x80000003u, "unseen", "AuthenticAMD", "",
         intel_only},
        {"extended leaf 0x80000000", "AuthenticAMD", 13, 0x80000000u, "unseen", "AuthenticAMD", "",
         join(intel_only, ext1)},
    };
    for (const ReportCase& c : cases) {
        SCOPED_TRACE(c.what);
        FakeLeaves.clear();
        set_vendor(c.vendor, c.highestBasic);
        for (uint32_t leaf = 1; leaf <= 7; ++leaf) FakeLeaves[leaf] = {~0u, ~0u, ~0u, ~0u};
        FakeLeaves[0x80000000u] = {c.highestExtended, 0, 0, 0};
        FakeLeaves[0x80000001u] = {~0u, ~0u, ~0u, ~0u};
        const std::string brand = std::string(c.brand) + std::string(48, '\0');
        for (int i = 0; i < 3; ++i)
            FakeLeaves[0x80000002u + i] = words_of(brand.substr(16 * i, 16).c_str());
        const InstructionSet set = InstructionSet::build(fake_cpuid);

        const std::vector<std::string> lines = cpu_report_lines(set);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[0], c.vendorLine + "\n");
        EXPECT_EQ(lines[1], c.brandLine + "\n");
        const std::map<std::string, bool> marks = ReportMarks(lines);
        for (const auto& [name, shown] : marks) EXPECT_EQ(shown, !c.absent.count(name)) << name;
        EXPECT_EQ(cpu_has_avx(set), marks.at("AVX"));
        EXPECT_EQ(cpu_has_avx2(set), marks.at("AVX2"));
    }
}

// This machine's report against what the kernel read from the same processor.
TEST(CpuReport, AgreesWithTheKernel) {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::map<std::string, std::string> fields;
    for (std::string line; std::getline(cpuinfo, line) && !line.empty();) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string key = line.substr(0, line.find_last_not_of(" \t", colon - 1) + 1);
        fields[key] = colon + 2 <= line.size() ? line.substr(colon + 2) : "";
    }
    if (!fields.count("flags")) GTEST_SKIP() << "no processor flags in /proc/cpuinfo";
    const std::vector<std::string> lines = cpu_report_lines(instruction_set());
    EXPECT_EQ(lines[0], fields["vendor_id"] + "\n");
    std::string brand = fields["model name"];
    brand = brand.substr(0, brand.find_last_not_of(' ') + 1);
    EXPECT_EQ(lines[1], brand.substr(brand.find_first_not_of(' ')) + "\n");
    std::set<std::string> flags;
    std::istringstream words(fields["flags"]);
    for (std::string w; words >> w;) flags.insert(w);
    const std::map<std::string, bool> marks = ReportMarks(lines);
    const std::pair<const char*, const char*> names[] = {
        {"SSE2", "sse2"},     {"SSSE3", "ssse3"}, {"SSE4.1", "sse4_1"}, {"SSE4.2", "sse4_2"},
        {"POPCNT", "popcnt"}, {"AES", "aes"},     {"AVX", "avx"},       {"AVX2", "avx2"},
        {"FMA", "fma"},       {"F16C", "f16c"},   {"BMI1", "bmi1"},     {"BMI2", "bmi2"},
        {"ADX", "adx"},       {"MOVBE", "movbe"}, {"ERMS", "erms"}};
    for (const auto& [report, kernel] : names)
        EXPECT_EQ(marks.at(report), flags.count(kernel) == 1) << report;
}

}  // namespace
