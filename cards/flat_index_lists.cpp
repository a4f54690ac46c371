#include "cards/flat_index_lists.h"

void FlattenIndexLists(FlatIndexLists* out, int32_t actionCount,
                       const std::vector<std::vector<int32_t>>* riverHandCounts) {
    const std::vector<std::vector<int32_t>>& counts = *riverHandCounts;
    out->actionCount = actionCount;
    out->turnCount = static_cast<int32_t>(counts.size());
    out->turnRunouts.assign(counts.size(), {});
    out->turnSpans.assign(counts.size(), {});
    out->runouts.clear();
    uint32_t offset = 0, packed = 0;
    const uint32_t k = static_cast<uint32_t>(actionCount);
    for (size_t t = 0; t < counts.size(); ++t) {
        out->turnRunouts[t] = {static_cast<uint32_t>(out->runouts.size()),
                               static_cast<uint32_t>(counts[t].size())};
        out->turnSpans[t].offset = offset;
        for (int32_t hands : counts[t]) {
            const uint32_t h = static_cast<uint32_t>(hands);
            out->runouts.push_back({offset, h});
            offset += k * ((h + 3) & ~3u);
            packed += k * h;
        }
        out->turnSpans[t].size = offset - out->turnSpans[t].offset;
    }
    out->runoutCount = static_cast<uint32_t>(out->runouts.size());
    out->paddedSize = offset;
    out->packedSize = packed;
}
