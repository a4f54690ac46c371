#include "solver/blocker_flags.h"

#include <immintrin.h>

#include "cards/hand_set.h"
#include "solver/payoff_kernels.h"
#include "utilities/services.h"

namespace {

// Bit j set when lane j of the eight floats at p has a non-zero bit pattern (a negative zero
// counts). Only the lanes set in mask are read, so a run ending at the row's end never loads
// past it; the others read as zero.
inline uint32_t NonZeroLanes(const float* p, __m256i mask) {
    const __m256i v = _mm256_castps_si256(_mm256_maskload_ps(p, mask));
    const __m256i zero = _mm256_cmpeq_epi32(v, _mm256_setzero_si256());
    return ~uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(zero))) & 0xFF;
}

// Lanes [0, k) of eight; k may lie outside 0..8.
inline __m256i FirstLanes(int32_t k) {
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(k), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

}  // namespace

void BuildBlockerFlags(uint16_t* flags, const float* reach, const RiverRecord& record) {
    // The flag table holds kMaxRiverRuns words; a record with more runs is not provided for.
    if (record.runLengths.size() > static_cast<size_t>(payoff::kMaxRiverRuns))
        fail_fatal("river record with too many strength runs");
    if (reach == nullptr) {
        for (const SmallGroup& g : record.smallGroups) flags[g.group] = 0;
        for (const LargeGroup& g : record.largeGroups) flags[g.group] = 0;
        return;
    }
    // Both halves of a run of up to 16 hands are read under masks of its count, with no branch
    // on the count: short runs are too mixed for a predictor.
    for (const SmallGroup& g : record.smallGroups) {
        const float* run = reach + g.first;
        const uint32_t low = NonZeroLanes(run, FirstLanes(g.count));
        const uint32_t high = NonZeroLanes(run + 8, FirstLanes(int32_t(g.count) - 8));
        flags[g.group] = static_cast<uint16_t>(low | high << 8);
    }
    for (const LargeGroup& g : record.largeGroups) {
        const float* run = reach + g.first;
        uint16_t word = 0;
        int32_t j = 0;
        for (; j + 8 <= g.count; j += 8) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(run + j));
            if (!_mm256_testz_si256(v, v)) {
                word = 1;
                break;
            }
        }
        if (word == 0 && j < g.count) word = NonZeroLanes(run + j, FirstLanes(g.count - j)) != 0;
        flags[g.group] = word;
    }
}
