// Strategy storage of a turn node: one StorageUnit per turn record of the hand set. Different
// turn records are disjoint, so parallel subgames may work on different units at once.
#pragma once

#include <cstdint>
#include <vector>

#include "storage/storage_unit.h"

// Saved block: the units' blocks in turn-record order.
// Runout operations address unit `turn` and pass turn = river = -1 to it; a turn index outside
// the units is a broken invariant (fatal).
class TurnStorage : public StorageInterface {
public:
    // Unit t gets numActions and recordHandCounts[t]; the units are built in place in a vector
    // reserved to its full size, so they never move.
    TurnStorage(int32_t numActions, const std::vector<int32_t>& recordHandCounts);

    // Resets every unit in order; true.
    bool reset() override;
    int32_t numHands(int32_t turn, int32_t river) const override;
    void getStrategy(PooledArray* out, int32_t turn, int32_t river, const float* defaults) override;
    void setAction(int32_t turn, int32_t river, int32_t action, const PooledArray& row) override;
    void updateRegrets(int32_t turn, int32_t river, const PooledArray& nodeValue,
                       const PooledArray* actionValues, const std::vector<int16_t>* equalGroups,
                       double scale) override;
    // Forwarded only for a weight above 0.
    void accumulateStrategy(int32_t turn, int32_t river, const PooledArray* strategy,
                            const PooledArray& reach, float weight) override;
    // Sum of the units' sizes, whatever the argument.
    int64_t size(int32_t turn) const override;
    void save(BinaryWriter& out) override;
    void load(BinaryReader& in) override;
    StorageStreamInterface* unpack(StorageStreamInterface*, int32_t, int32_t) override {
        return nullptr;
    }
    StorageStreamInterface* pack(StorageStreamInterface*, int32_t, bool) override {
        return nullptr;
    }
    LockRecord* flagsPtr(int32_t turn, int32_t river) override;

    int32_t unitCount() const { return static_cast<int32_t>(units_.size()); }
    StorageUnit& unit(int32_t turn);
    const StorageUnit& unit(int32_t turn) const;

private:
    std::vector<StorageUnit> units_;
};
