#include "solver/river_batches.h"

namespace {

// Each kind's widths, widest first, ending in 1; a batched kernel exists for each.
constexpr int32_t kShowdownWidths[] = {8, 6, 4, 3, 2, 1};
constexpr int32_t kFoldWidths[] = {4, 3, 2, 1};

}  // namespace

int32_t NextRiverBatchWidth(RiverBatchKind kind, int32_t remaining, int32_t level) {
    if (remaining <= 0) return 0;
    const bool showdown = kind == RiverBatchKind::kShowdown;
    const int32_t* widths = showdown ? kShowdownWidths : kFoldWidths;
    const int32_t count = showdown ? 6 : 4;
    // Taking the widest fitting width at every step is the greedy cut: once fewer terminals
    // remain than a width, that width never fits again.
    for (int32_t k = 0; k < count; ++k)
        if (widths[k] == 1 || (widths[k] <= level && widths[k] <= remaining)) return widths[k];
    return 1;
}

std::vector<int32_t> RiverBatchWidths(RiverBatchKind kind, int32_t count, int32_t level) {
    std::vector<int32_t> widths;
    while (count > 0) {
        const int32_t w = NextRiverBatchWidth(kind, count, level);
        widths.push_back(w);
        count -= w;
    }
    return widths;
}
