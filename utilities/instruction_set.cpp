#include "utilities/instruction_set.h"

#include <cpuid.h>

#include <cstring>

void cpuid_hardware(uint32_t leaf, uint32_t regs[4]) {
    unsigned a, b, c, d;
    __cpuid_count(leaf, 0, a, b, c, d);
    regs[0] = a;
    regs[1] = b;
    regs[2] = c;
    regs[3] = d;
}

namespace {
std::string text_of(const uint32_t* words, int count) {
    char bytes[64] = {};
    std::memcpy(bytes, words, static_cast<size_t>(count) * 4);
    return std::string(bytes, strnlen(bytes, static_cast<size_t>(count) * 4));
}
}  // namespace

InstructionSet InstructionSet::build(CpuidFunction cpuid) {
    InstructionSet set;
    uint32_t regs[4];
    cpuid(0, regs);
    set.highestBasicLeaf = static_cast<int32_t>(regs[0]);
    for (int32_t leaf = 0; leaf <= set.highestBasicLeaf; ++leaf) {
        cpuid(static_cast<uint32_t>(leaf), regs);
        set.basicLeaves.push_back({regs[0], regs[1], regs[2], regs[3]});
    }
    if (!set.basicLeaves.empty()) {
        const auto& e = set.basicLeaves[0];
        uint32_t v[3] = {e[1], e[3], e[2]};
        set.vendor = text_of(v, 3);
    }
    set.isIntel = set.vendor == "GenuineIntel";
    if (!set.isIntel) set.isAmd = set.vendor == "AuthenticAMD";
    if (set.highestBasicLeaf >= 1) {
        set.leaf1Ecx = set.basicLeaves[1][2];
        set.leaf1Edx = set.basicLeaves[1][3];
    }
    if (set.highestBasicLeaf >= 7) {
        set.leaf7Ebx = set.basicLeaves[7][1];
        set.leaf7Ecx = set.basicLeaves[7][2];
    }
    cpuid(0x80000000u, regs);
    set.highestExtendedLeaf = static_cast<int32_t>(regs[0]);
    uint32_t highestExt = regs[0];
    // A maximum below 0x80000000 would make the loop run over ~2^31 leaves: no extended leaves.
    if (highestExt >= 0x80000000u) {
        for (uint32_t leaf = 0x80000000u; leaf <= highestExt && leaf >= 0x80000000u; ++leaf) {
            cpuid(leaf, regs);
            set.extendedLeaves.push_back({regs[0], regs[1], regs[2], regs[3]});
            if (leaf == 0xFFFFFFFFu) break;
        }
        if (highestExt >= 0x80000001u) {
            set.ext1Ecx = set.extendedLeaves[1][2];
            set.ext1Edx = set.extendedLeaves[1][3];
        }
        if (highestExt >= 0x80000004u) {
            uint32_t words[12];
            for (int i = 0; i < 3; ++i)
                for (int r = 0; r < 4; ++r) words[i * 4 + r] = set.extendedLeaves[2 + i][r];
            set.brand = text_of(words, 12);
        }
    }
    return set;
}

const InstructionSet& instruction_set() {
    static const InstructionSet set = InstructionSet::build(cpuid_hardware);
    return set;
}

namespace {
// Built during static initialisation, as the record must be complete before main.
[[maybe_unused]] const InstructionSet& EarlyRecord = instruction_set();
}  // namespace

bool cpu_has_feature(const InstructionSet& set, int feature) {
    const CpuFeature& f = CpuFeatures[feature];
    if ((f.vendor == CpuVendor::Intel && !set.isIntel) ||
        (f.vendor == CpuVendor::Amd && !set.isAmd))
        return false;
    uint32_t word = 0;
    switch (f.word) {
        case CpuFeatureWord::Leaf1Ecx:
            word = set.leaf1Ecx;
            break;
        case CpuFeatureWord::Leaf1Edx:
            word = set.leaf1Edx;
            break;
        case CpuFeatureWord::Leaf7Ebx:
            word = set.leaf7Ebx;
            break;
        case CpuFeatureWord::Leaf7Ecx:
            word = set.leaf7Ecx;
            break;
        case CpuFeatureWord::Ext1Ecx:
            word = set.ext1Ecx;
            break;
        case CpuFeatureWord::Ext1Edx:
            word = set.ext1Edx;
            break;
    }
    return (word >> f.bit) & 1u;
}

int cpu_feature_index(const char* name) {
    for (int i = 0; i < kCpuFeatureCount; ++i)
        if (std::strcmp(CpuFeatures[i].name, name) == 0) return i;
    return -1;
}

bool cpu_has_avx(const InstructionSet& set) {
    return cpu_has_feature(set, kCpuFeatureAvx);
}
bool cpu_has_avx2(const InstructionSet& set) {
    return cpu_has_feature(set, kCpuFeatureAvx2);
}
bool cpu_has_avx() {
    return cpu_has_avx(instruction_set());
}
bool cpu_has_avx2() {
    return cpu_has_avx2(instruction_set());
}

namespace {
const char* refusal_for(bool avx, bool avx2) {
    if (!avx) return "Error: AVX-compatible CPU is required.";
    if (!avx2) return "Error: AVX2-compatible CPU is required.";
    return nullptr;
}
}  // namespace

const char* processor_refusal(const InstructionSet& set) {
    return refusal_for(cpu_has_avx(set), cpu_has_avx2(set));
}

const char* processor_refusal(CpuidFunction cpuid) {
    uint32_t regs[4];
    cpuid(0, regs);
    const int32_t highest = static_cast<int32_t>(regs[0]);
    uint32_t leaf1Ecx = 0, leaf7Ebx = 0;
    if (highest >= 1) {
        cpuid(1, regs);
        leaf1Ecx = regs[2];
    }
    if (highest >= 7) {
        cpuid(7, regs);
        leaf7Ebx = regs[1];
    }
    return refusal_for(leaf1Ecx >> CpuFeatures[kCpuFeatureAvx].bit & 1u,
                       leaf7Ebx >> CpuFeatures[kCpuFeatureAvx2].bit & 1u);
}
