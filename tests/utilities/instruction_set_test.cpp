#include "utilities/instruction_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "utilities_support.h"

namespace {

constexpr uint32_t kAvxBit = 1u << 28, kAvx2Bit = 1u << 5;

TEST(InstructionSet, HighestLeafSixHasNoAvx2) {
    FakeLeaves.clear();
    set_vendor("GenuineIntel", 6);
    FakeLeaves[1] = {0, 0, kAvxBit, 0};
    FakeLeaves[7] = {0, kAvx2Bit, 0, 0};  // present but beyond the highest leaf
    FakeLeaves[0x80000000u] = {0x80000001u, 0, 0, 0};
    FakeLeaves[0x80000001u] = {0, 0, 0x21, 0x2C100800};
    const InstructionSet set = InstructionSet::build(fake_cpuid);
    EXPECT_EQ(set.vendor, "GenuineIntel");
    EXPECT_TRUE(set.isIntel);
    EXPECT_FALSE(set.isAmd);
    EXPECT_EQ(set.basicLeaves.size(), 7u);
    EXPECT_EQ(set.leaf7Ebx, 0u);
    EXPECT_TRUE(cpu_has_avx(set));
    EXPECT_FALSE(cpu_has_avx2(set));
    EXPECT_EQ(set.extendedLeaves.size(), 2u);
    EXPECT_EQ(set.ext1Ecx, 0x21u);
    EXPECT_EQ(set.brand, "");  // below 0x80000004
    EXPECT_STREQ(processor_refusal(set), "Error: AVX2-compatible CPU is required.");
    EXPECT_STREQ(processor_refusal(fake_cpuid), "Error: AVX2-compatible CPU is required.");
}

TEST(InstructionSet, RefusalsFollowTheCapabilityBitsAlone) {
    FakeLeaves.clear();
    set_vendor("AuthenticAMD", 13);
    FakeLeaves[0x80000000u] = {0x80000000u, 0, 0, 0};
    // No AVX: the AVX message even when the AVX2 bit is set.
    FakeLeaves[7] = {0, kAvx2Bit, 0, 0};
    InstructionSet set = InstructionSet::build(fake_cpuid);
    EXPECT_TRUE(set.isAmd);
    EXPECT_STREQ(processor_refusal(set), "Error: AVX-compatible CPU is required.");
    EXPECT_STREQ(processor_refusal(fake_cpuid), "Error: AVX-compatible CPU is required.");
    // AVX offered while OSXSAVE (bit 27) is clear still counts.
    FakeLeaves[1] = {0, 0, kAvxBit, 0};
    set = InstructionSet::build(fake_cpuid);
    EXPECT_EQ(processor_refusal(set), nullptr);
    EXPECT_EQ(processor_refusal(fake_cpuid), nullptr);
    EXPECT_EQ(set.extendedLeaves.size(), 1u);
    EXPECT_EQ(set.ext1Ecx, 0u);
}

TEST(InstructionSet, BrandAndBadExtendedMaximum) {
    FakeLeaves.clear();
    set_vendor("SomeVendorXY", 1);
    FakeLeaves[0x80000000u] = {0x80000004u, 0, 0, 0};
    FakeLeaves[0x80000002u] = words_of("Test CPU @ 9.99G");
    FakeLeaves[0x80000003u] = words_of("Hz");
    InstructionSet set = InstructionSet::build(fake_cpuid);
    EXPECT_FALSE(set.isIntel || set.isAmd);
    EXPECT_EQ(set.brand, "Test CPU @ 9.99GHz");
    // An extended maximum below 0x80000000 means no extended leaves, not 2^31 requests.
    FakeLeaves[0x80000000u] = {0x1234u, 0, 0, 0};
    FakeCalls = 0;
    set = InstructionSet::build(fake_cpuid);
    EXPECT_TRUE(set.extendedLeaves.empty());
    EXPECT_EQ(set.brand, "");
    EXPECT_LT(FakeCalls, 10);
}

TEST(InstructionSet, ThisMachinePassesTheCheck) {
    EXPECT_TRUE(cpu_has_avx());
    EXPECT_TRUE(cpu_has_avx2());
    EXPECT_EQ(processor_refusal(cpuid_hardware), nullptr);
    EXPECT_FALSE(instruction_set().vendor.empty());
}

}  // namespace
