// The processor feature record, read once from cpuid during static initialisation.
// This file and its source are compiled for baseline x86-64: they run before the AVX2 check.
#pragma once

#include <array>
#include <cstdint>
#include <string>
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
