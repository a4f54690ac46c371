// How the vectorised river path cuts a list of terminals into kernel calls: greedily, the
// widest batch the simd level allows that the remaining terminals fill, widest first.
#pragma once

#include <cstdint>
#include <vector>

enum class RiverBatchKind : int32_t {
    kShowdown = 1,  // widths 8, 6, 4, 3, 2, 1
    kFold = 2,      // widths 4, 3, 2, 1
};

// The width of the next call with `remaining` terminals left at simd level `level`: the widest
// width of the kind that is at most both, 1 at any level; 0 when nothing remains.
int32_t NextRiverBatchWidth(RiverBatchKind kind, int32_t remaining, int32_t level);

// The whole cut of `count` terminals, in call order.
std::vector<int32_t> RiverBatchWidths(RiverBatchKind kind, int32_t count, int32_t level);
