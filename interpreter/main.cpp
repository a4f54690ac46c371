// Entry point. Compiled for baseline x86-64 (as is the processor record): everything here runs
// before the AVX2 check, and the rest of the program may use AVX2 anywhere.
#include <unistd.h>
#include <xmmintrin.h>

#include <cstdio>

#include "interpreter/startup.h"
#include "utilities/instruction_set.h"

namespace {

// Runs before every other static initialiser of the program (those of AVX2-compiled code
// included), so a processor without AVX2 gets the refusal rather than an illegal instruction.
__attribute__((constructor(101))) void refuse_processor_without_avx2() {
    const char* refusal = processor_refusal(cpuid_hardware);
    if (!refusal) return;
    std::printf("%s\n", refusal);
    std::fflush(stdout);
    _exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    // Flush denormal results and operands to zero, keeping the other control bits.
    _mm_setcsr(_mm_getcsr() | 0x8000 | 0x0040);
    // The OpenMP runtime initialises itself when the library loads.
    const char* refusal = processor_refusal(instruction_set());
    if (refusal) {
        std::printf("%s\n", refusal);
        return 1;
    }
    return run_interpreter(argc, argv);
}
