#include <cstdio>

#include "interpreter/instruction_set.h"

int main() {
    if (!cpu_has_avx()) {
        std::printf("Error: AVX-compatible CPU is required.\n");
        return 1;
    }
    if (!cpu_has_avx2()) {
        std::printf("Error: AVX2-compatible CPU is required.\n");
        return 1;
    }
    return 0;
}
