// Row layout of the river storages for one action count: every runout (river record of a turn
// record, numbered turn record by turn record in river-record order) gets rows of
// actionCount x hands floats, each row padded to a multiple of 4 hands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct FlatIndexLists {
    struct TurnRunouts {
        uint32_t first;  // runouts of all earlier turn records
        uint32_t count;  // runouts of this turn record
    };
    struct Runout {
        uint32_t offset;  // start of the runout's rows in the flat data, in floats
        uint32_t hands;   // the runout's hand count
    };
    struct TurnSpan {
        uint32_t offset;  // offset of the turn record's first runout, in floats
        uint32_t size;    // floats of all its runouts
    };

    std::vector<TurnRunouts> turnRunouts;  // one per turn record
    std::vector<Runout> runouts;           // one per runout
    std::vector<TurnSpan> turnSpans;       // one per turn record
    int32_t actionCount = 0;
    int32_t turnCount = 0;
    uint32_t runoutCount = 0;
    uint32_t paddedSize = 0;  // floats of the flat data: sum of actionCount x round-up-4(hands)
    uint32_t packedSize = 0;  // sum of actionCount x hands

    size_t bytesHeld() const {
        return turnRunouts.capacity() * sizeof(TurnRunouts) + runouts.capacity() * sizeof(Runout) +
               turnSpans.capacity() * sizeof(TurnSpan);
    }
};

// Lays out the rows for actionCount actions over riverHandCounts[t][j], the hand count of
// runout j of turn record t (a HandSet's riverHandCounts). Replaces every field of *out.
void FlattenIndexLists(FlatIndexLists* out, int32_t actionCount,
                       const std::vector<std::vector<int32_t>>* riverHandCounts);
