#include "utilities/kernel_switches.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// Leaf-7 EBX bits F (16), BW (30), VL (31); OSXSAVE is leaf-1 ECX bit 27.
constexpr uint32_t kAvx512Bits = (1u << 16) | (1u << 30) | (1u << 31);
constexpr uint32_t kOsxsave = 1u << 27;
// SSE, AVX, opmask, ZMM_Hi256, Hi16_ZMM state.
constexpr uint64_t kFullXcr0 = 0x2 | 0x4 | 0x20 | 0x40 | 0x80;

InstructionSet FakeProcessor(uint32_t leaf7Ebx, uint32_t leaf1Ecx = kOsxsave) {
    InstructionSet set;
    set.highestBasicLeaf = 7;
    set.leaf1Ecx = leaf1Ecx;
    set.leaf7Ebx = leaf7Ebx;
    return set;
}

TEST(KernelSwitches, Defaults) {
    EXPECT_EQ(simd_level.load(), 8);
    EXPECT_EQ(avx512_enabled.load(), 0);
    EXPECT_EQ(river_strategy_enabled.load(), 1);
    // Off by default, so no processor runs the AVX-512 forms unasked.
    EXPECT_FALSE(avx512_usable());
}

TEST(KernelSwitches, Avx512NeedsProcessorAndOperatingSystem) {
    EXPECT_TRUE(avx512_supported(FakeProcessor(kAvx512Bits), kFullXcr0));
    // A processor without AVX-512, or without one of the subsets the kernels use.
    EXPECT_FALSE(avx512_supported(FakeProcessor(0), kFullXcr0));
    EXPECT_FALSE(avx512_supported(FakeProcessor(kAvx512Bits & ~(1u << 30)), kFullXcr0));
    EXPECT_FALSE(avx512_supported(FakeProcessor(kAvx512Bits & ~(1u << 31)), kFullXcr0));
    // Leaf 7 not offered: its word is not trusted.
    InstructionSet old = FakeProcessor(kAvx512Bits);
    old.highestBasicLeaf = 6;
    EXPECT_FALSE(avx512_supported(old, kFullXcr0));
    // The OS has not enabled the opmask or upper ZMM state, or offers no XGETBV.
    EXPECT_FALSE(avx512_supported(FakeProcessor(kAvx512Bits), kFullXcr0 & ~0x20ull));
    EXPECT_FALSE(avx512_supported(FakeProcessor(kAvx512Bits), kFullXcr0 & ~0x80ull));
    EXPECT_FALSE(avx512_supported(FakeProcessor(kAvx512Bits, 0), kFullXcr0));
}

TEST(KernelSwitches, UsableOnlyWhenSwitchedOnAndSupported) {
    avx512_enabled.store(0);
    EXPECT_FALSE(avx512_usable());
    avx512_enabled.store(1);
    EXPECT_EQ(avx512_usable(), avx512_supported());
    avx512_enabled.store(0);
}

}  // namespace
