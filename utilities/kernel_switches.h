// The kernel switches (set by interpreter commands), read by the vector kernels of every layer,
// and the gate that decides whether an AVX-512 form may run. Readers load a switch once per
// call (relaxed).
#pragma once

#include <atomic>
#include <cstdint>

#include "utilities/instruction_set.h"

// Vector width setting 1..8 (default 8), written by set_simd_level.
extern std::atomic<int32_t> simd_level;
// AVX-512 forms wanted (default 0), written by enable_avx512; kernels ask avx512_usable().
extern std::atomic<uint8_t> avx512_enabled;
// River decision nodes keep strategy sums (default 1); a tree captures it when built.
extern std::atomic<uint8_t> river_strategy_enabled;

// True when the processor record shows AVX-512 F, BW and VL and the OS has enabled the opmask
// and ZMM state (XGETBV). Computed once for the live processor.
bool avx512_supported(const InstructionSet& set, uint64_t xcr0);
bool avx512_supported();

// The one gate every AVX-512 kernel asks: the switch is on and the processor supports it.
inline bool avx512_usable() {
    return avx512_enabled.load(std::memory_order_relaxed) != 0 && avx512_supported();
}
