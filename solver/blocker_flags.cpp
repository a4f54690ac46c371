#include "solver/blocker_flags.h"

#include <cstring>

#include "cards/hand_set.h"
#include "solver/payoff_kernels.h"
#include "utilities/services.h"

namespace {

inline bool NonZeroPattern(const float* value) {
    uint32_t bits;
    std::memcpy(&bits, value, sizeof bits);
    return bits != 0;
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
    for (const SmallGroup& g : record.smallGroups) {
        const float* run = reach + g.first;
        uint32_t word = 0;
        if (g.count <= 8) {
            // Lanes past the run carry a zero byte in laneMask and are never read.
            for (int j = 0; j < 8; ++j) {
                if (((g.laneMask >> (8 * j)) & 0xFF) != 0 && NonZeroPattern(run + j)) {
                    word |= 1u << j;
                }
            }
        } else {
            for (int j = 0; j < 8; ++j) {
                if (NonZeroPattern(run + j)) word |= 1u << j;
            }
            for (int j = 8; j < 16; ++j) {
                if (((g.laneMask >> (8 * (j - 8))) & 0xFF) != 0 && NonZeroPattern(run + j)) {
                    word |= 1u << j;
                }
            }
        }
        flags[g.group] = static_cast<uint16_t>(word);
    }
    for (const LargeGroup& g : record.largeGroups) {
        uint16_t word = 0;
        for (int j = g.first; j < g.first + g.count; ++j) {
            if (NonZeroPattern(reach + j)) {
                word = 1;
                break;
            }
        }
        flags[g.group] = word;
    }
}
