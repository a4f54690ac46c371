#include "solver/blocker_flags.h"

#include <immintrin.h>

#include <cstring>

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
    const size_t runs = record.runLengths.size();
    if (runs > static_cast<size_t>(payoff::kMaxRiverRuns))
        fail_fatal("river record with too many strength runs");
    if (reach == nullptr) {
        std::memset(flags, 0, runs * sizeof(uint16_t));
        return;
    }
    // The walk reads the run lengths (two bytes a run, read again by the showdown kernels)
    // rather than the record's group tables (sixteen): a river root's record is seldom in cache.
    // A run of up to 16 hands is read in two halves under masks of its length, with no branch
    // on the length: short runs are too mixed for a predictor.
    const int16_t* lengths = record.runLengths.data();
    const float* run = reach;
    for (size_t g = 0; g < runs; run += lengths[g], ++g) {
        const int32_t length = lengths[g];
        if (length <= 16) {
            const uint32_t low = NonZeroLanes(run, FirstLanes(length));
            const uint32_t high = NonZeroLanes(run + 8, FirstLanes(length - 8));
            flags[g] = static_cast<uint16_t>(low | high << 8);
            continue;
        }
        uint16_t word = 0;
        int32_t j = 0;
        for (; j + 8 <= length; j += 8) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(run + j));
            if (!_mm256_testz_si256(v, v)) {
                word = 1;
                break;
            }
        }
        if (word == 0 && j < length) word = NonZeroLanes(run + j, FirstLanes(length - j)) != 0;
        flags[g] = word;
    }
}
