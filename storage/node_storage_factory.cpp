#include "storage/node_storage_factory.h"

#include <numeric>

#include "cards/hand_set.h"
#include "storage/compressed_river_storage.h"
#include "storage/river_storage.h"
#include "storage/storage_unit.h"
#include "storage/turn_storage.h"
#include "utilities/services.h"

namespace {

int32_t StreamKind(uint32_t kind) {
    if (kind > 2) fail_fatal("unknown stream kind");
    return int32_t(kind);
}

}  // namespace

int64_t CreateNodeStorages(const NodeStorageSlots& node, const HandSet* hands,
                           const FlatIndexLists* layout, const NodeStorageOptions& options) {
    const bool withSums = options.withSums;
    const int32_t rootStreet = options.rootStreet;
    const uint32_t* streamKinds = options.streamKinds;
    if (node.kind != 0) return 0;
    delete *node.regrets;
    delete *node.strategySums;
    *node.regrets = nullptr;
    *node.strategySums = nullptr;
    *node.resident = 0;

    const int32_t k = node.actionCount;
    switch (node.street) {
        case 1: {
            const auto n = int32_t(hands->hands.size());
            *node.regrets = new StorageUnit(k, n);
            if (withSums) *node.strategySums = new StorageUnit(k, n);
            // Units hold their rows only once reset; count what they will hold.
            return int64_t(k) * n;
        }
        case 2: {
            *node.regrets = new TurnStorage(k, hands->recordHandCounts);
            if (withSums) *node.strategySums = new TurnStorage(k, hands->recordHandCounts);
            return int64_t(k) * std::accumulate(hands->recordHandCounts.begin(),
                                                hands->recordHandCounts.end(), int64_t(0));
        }
        case 3: {
            if (rootStreet == 3 || (rootStreet == 2 && options.formatAtLeast5)) {
                *node.regrets = new RiverStorage(layout);
            } else if (streamKinds[0] != 0) {
                *node.regrets =
                    new CompressedRiverStorage(layout, true, StreamKind(streamKinds[0]));
            } else {
                *node.regrets = new ShortRiverStorage(layout);
            }
            if (withSums && options.riverStrategyEnabled) {
                if (streamKinds[1] != 0) {
                    *node.strategySums =
                        new CompressedRiverStorage(layout, false, StreamKind(streamKinds[1]));
                } else {
                    *node.strategySums = new RiverStorage(layout);
                }
            }
            return (*node.regrets)->size(-1);
        }
        default:
            fail_fatal("decision node street");
    }
}
