// The processor feature record, read once from cpuid during static initialisation.
// This file and its source are compiled for baseline x86-64: they run before the AVX2 check.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One cpuid request: leaf in EAX, sub-leaf 0 in ECX; fills EAX, EBX, ECX, EDX.
using CpuidFunction = void (*)(uint32_t leaf, uint32_t regs[4]);

void cpuid_hardware(uint32_t leaf, uint32_t regs[4]);

// What the processor offers (not whether the OS enabled it). Immutable once built.
struct InstructionSet {
    int32_t highestBasicLeaf = 0;     // EAX of leaf 0
    int32_t highestExtendedLeaf = 0;  // EAX of leaf 0x80000000 (stored as its bit pattern)
    std::string vendor;               // leaf 0 EBX, EDX, ECX
    std::string brand;                // leaves 0x80000002..4, empty when unavailable
    bool isIntel = false;
    bool isAmd = false;
    uint32_t leaf1Ecx = 0, leaf1Edx = 0;
    uint32_t leaf7Ebx = 0, leaf7Ecx = 0;
    uint32_t ext1Ecx = 0, ext1Edx = 0;
    std::vector<std::array<uint32_t, 4>> basicLeaves;
    std::vector<std::array<uint32_t, 4>> extendedLeaves;

    // Builds the record through the given cpuid. An extended maximum below 0x80000000 means no
    // extended leaves.
    static InstructionSet build(CpuidFunction cpuid);
};

// The process-wide record, built before main.
const InstructionSet& instruction_set();

// The feature word a feature bit is read from, and the vendor flag it also needs.
enum class CpuFeatureWord : uint8_t { Leaf1Ecx, Leaf1Edx, Leaf7Ebx, Leaf7Ecx, Ext1Ecx, Ext1Edx };
enum class CpuVendor : uint8_t { Any, Intel, Amd };

struct CpuFeature {
    const char* name;
    CpuFeatureWord word;
    uint8_t bit;
    CpuVendor vendor;  // other vendors never show the feature, whatever the bit says
};

inline constexpr int kCpuFeatureCount = 51;

// The features in report order: the one table behind every feature query and the CPU report.
inline constexpr CpuFeature CpuFeatures[kCpuFeatureCount] = {
    {"3DNOW", CpuFeatureWord::Ext1Edx, 31, CpuVendor::Amd},
    {"3DNOWEXT", CpuFeatureWord::Ext1Edx, 30, CpuVendor::Amd},
    {"ABM", CpuFeatureWord::Ext1Ecx, 5, CpuVendor::Amd},
    {"ADX", CpuFeatureWord::Leaf7Ebx, 19, CpuVendor::Any},
    {"AES", CpuFeatureWord::Leaf1Ecx, 25, CpuVendor::Any},
    {"AVX", CpuFeatureWord::Leaf1Ecx, 28, CpuVendor::Any},
    {"AVX2", CpuFeatureWord::Leaf7Ebx, 5, CpuVendor::Any},
    {"AVX512CD", CpuFeatureWord::Leaf7Ebx, 28, CpuVendor::Any},
    {"AVX512ER", CpuFeatureWord::Leaf7Ebx, 27, CpuVendor::Any},
    {"AVX512F", CpuFeatureWord::Leaf7Ebx, 16, CpuVendor::Any},
    {"AVX512PF", CpuFeatureWord::Leaf7Ebx, 26, CpuVendor::Any},
    {"BMI1", CpuFeatureWord::Leaf7Ebx, 3, CpuVendor::Any},
    {"BMI2", CpuFeatureWord::Leaf7Ebx, 8, CpuVendor::Any},
    {"CLFSH", CpuFeatureWord::Leaf1Edx, 19, CpuVendor::Any},
    {"CMPXCHG16B", CpuFeatureWord::Leaf1Ecx, 13, CpuVendor::Any},
    {"CX8", CpuFeatureWord::Leaf1Edx, 8, CpuVendor::Any},
    {"ERMS", CpuFeatureWord::Leaf7Ebx, 9, CpuVendor::Any},
    {"F16C", CpuFeatureWord::Leaf1Ecx, 29, CpuVendor::Any},
    {"FMA", CpuFeatureWord::Leaf1Ecx, 12, CpuVendor::Any},
    {"FSGSBASE", CpuFeatureWord::Leaf7Ebx, 0, CpuVendor::Any},
    {"FXSR", CpuFeatureWord::Leaf1Edx, 24, CpuVendor::Any},
    {"HLE", CpuFeatureWord::Leaf7Ebx, 4, CpuVendor::Intel},
    {"INVPCID", CpuFeatureWord::Leaf7Ebx, 10, CpuVendor::Any},
    {"LAHF", CpuFeatureWord::Ext1Ecx, 0, CpuVendor::Any},
    {"LZCNT", CpuFeatureWord::Ext1Ecx, 5, CpuVendor::Intel},
    {"MMX", CpuFeatureWord::Leaf1Edx, 23, CpuVendor::Any},
    {"MMXEXT", CpuFeatureWord::Ext1Edx, 22, CpuVendor::Amd},
    {"MONITOR", CpuFeatureWord::Leaf1Ecx, 3, CpuVendor::Any},
    {"MOVBE", CpuFeatureWord::Leaf1Ecx, 22, CpuVendor::Any},
    {"MSR", CpuFeatureWord::Leaf1Edx, 5, CpuVendor::Any},
    {"OSXSAVE", CpuFeatureWord::Leaf1Ecx, 27, CpuVendor::Any},
    {"PCLMULQDQ", CpuFeatureWord::Leaf1Ecx, 1, CpuVendor::Any},
    {"POPCNT", CpuFeatureWord::Leaf1Ecx, 23, CpuVendor::Any},
    {"PREFETCHWT1", CpuFeatureWord::Leaf7Ecx, 0, CpuVendor::Any},
    {"RDRAND", CpuFeatureWord::Leaf1Ecx, 30, CpuVendor::Any},
    {"RDSEED", CpuFeatureWord::Leaf7Ebx, 18, CpuVendor::Any},
    {"RDTSCP", CpuFeatureWord::Ext1Edx, 27, CpuVendor::Intel},
    {"RTM", CpuFeatureWord::Leaf7Ebx, 11, CpuVendor::Intel},
    {"SEP", CpuFeatureWord::Leaf1Edx, 11, CpuVendor::Any},
    {"SHA", CpuFeatureWord::Leaf7Ebx, 29, CpuVendor::Any},
    {"SSE", CpuFeatureWord::Leaf1Edx, 25, CpuVendor::Any},
    {"SSE2", CpuFeatureWord::Leaf1Edx, 26, CpuVendor::Any},
    {"SSE3", CpuFeatureWord::Leaf1Ecx, 0, CpuVendor::Any},
    {"SSE4.1", CpuFeatureWord::Leaf1Ecx, 19, CpuVendor::Any},
    {"SSE4.2", CpuFeatureWord::Leaf1Ecx, 20, CpuVendor::Any},
    {"SSE4a", CpuFeatureWord::Ext1Ecx, 6, CpuVendor::Amd},
    {"SSSE3", CpuFeatureWord::Leaf1Ecx, 9, CpuVendor::Any},
    {"SYSCALL", CpuFeatureWord::Ext1Edx, 11, CpuVendor::Intel},
    {"TBM", CpuFeatureWord::Ext1Ecx, 21, CpuVendor::Amd},
    {"XOP", CpuFeatureWord::Ext1Ecx, 11, CpuVendor::Amd},
    {"XSAVE", CpuFeatureWord::Leaf1Ecx, 26, CpuVendor::Any},
};

// Table positions of the two features start-up needs.
inline constexpr int kCpuFeatureAvx = 5;
inline constexpr int kCpuFeatureAvx2 = 6;
static_assert(std::string_view(CpuFeatures[kCpuFeatureAvx].name) == "AVX");
static_assert(std::string_view(CpuFeatures[kCpuFeatureAvx2].name) == "AVX2");

// Whether the record shows feature CpuFeatures[feature] (0 .. kCpuFeatureCount - 1).
bool cpu_has_feature(const InstructionSet& set, int feature);
// The table position of a feature name, -1 when there is none.
int cpu_feature_index(const char* name);

// The AVX and AVX2 rows of the table.
bool cpu_has_avx(const InstructionSet& set);
bool cpu_has_avx2(const InstructionSet& set);
bool cpu_has_avx();
bool cpu_has_avx2();

// The start-up refusal for a processor without AVX ("Error: AVX-compatible CPU is required.")
// or, with AVX, without AVX2 ("Error: AVX2-compatible CPU is required."); null when both are
// there. The cpuid form reads the same bits as the record without allocating, for the check that
// runs before any other static initialiser.
const char* processor_refusal(const InstructionSet& set);
const char* processor_refusal(CpuidFunction cpuid);
