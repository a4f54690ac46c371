#include "utilities/kernel_switches.h"

std::atomic<int32_t> simd_level{8};
std::atomic<uint8_t> avx512_enabled{0};
std::atomic<uint8_t> river_strategy_enabled{1};

namespace {
uint64_t read_xcr0(const InstructionSet& set) {
    const bool osxsave = (set.leaf1Ecx >> 27) & 1u;
    if (!osxsave) return 0;
    uint32_t lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (static_cast<uint64_t>(hi) << 32) | lo;
}
}  // namespace

bool avx512_supported(const InstructionSet& set, uint64_t xcr0) {
    if (set.highestBasicLeaf < 7) return false;
    const bool osxsave = (set.leaf1Ecx >> 27) & 1u;
    const uint32_t f = 1u << 16, bw = 1u << 30, vl = 1u << 31;
    if ((set.leaf7Ebx & (f | bw | vl)) != (f | bw | vl)) return false;
    // SSE, AVX, opmask, ZMM_Hi256 and Hi16_ZMM state enabled by the OS.
    const uint64_t need = 0x2 | 0x4 | 0x20 | 0x40 | 0x80;
    return osxsave && (xcr0 & need) == need;
}

bool avx512_supported() {
    static const bool supported = [] {
        const InstructionSet& set = instruction_set();
        return avx512_supported(set, read_xcr0(set));
    }();
    return supported;
}
