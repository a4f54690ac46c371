#include "storage/turn_storage.h"

#include "utilities/services.h"

TurnStorage::TurnStorage(int32_t numActions, const std::vector<int32_t>& recordHandCounts) {
    units_.reserve(recordHandCounts.size());
    for (int32_t hands : recordHandCounts) units_.emplace_back(numActions, hands);
}

StorageUnit& TurnStorage::unit(int32_t turn) {
    if (turn < 0 || turn >= static_cast<int32_t>(units_.size())) fail_fatal("turn index");
    return units_[turn];
}

const StorageUnit& TurnStorage::unit(int32_t turn) const {
    if (turn < 0 || turn >= static_cast<int32_t>(units_.size())) fail_fatal("turn index");
    return units_[turn];
}

bool TurnStorage::reset() {
    for (StorageUnit& u : units_) u.reset();
    return true;
}

int32_t TurnStorage::numHands(int32_t turn, int32_t) const {
    return unit(turn).numHands(-1, -1);
}

void TurnStorage::getStrategy(PooledArray* out, int32_t turn, int32_t, const float* defaults) {
    unit(turn).getStrategy(out, -1, -1, defaults);
}

void TurnStorage::setAction(int32_t turn, int32_t, int32_t action, const PooledArray& row) {
    unit(turn).setAction(-1, -1, action, row);
}

void TurnStorage::updateRegrets(int32_t turn, int32_t, const PooledArray& nodeValue,
                                const PooledArray* actionValues,
                                const std::vector<int16_t>* equalGroups, double scale) {
    unit(turn).updateRegrets(-1, -1, nodeValue, actionValues, equalGroups, scale);
}

void TurnStorage::accumulateStrategy(int32_t turn, int32_t, const PooledArray* strategy,
                                     const PooledArray& reach, float weight) {
    if (!(weight > 0.0f)) return;
    unit(turn).accumulateStrategy(-1, -1, strategy, reach, weight);
}

int64_t TurnStorage::size(int32_t turn) const {
    int64_t total = 0;
    for (const StorageUnit& u : units_) total += u.size(turn);
    return total;
}

void TurnStorage::save(BinaryWriter& out) {
    for (StorageUnit& u : units_) u.save(out);
}

void TurnStorage::load(BinaryReader& in) {
    for (StorageUnit& u : units_) u.load(in);
}

LockRecord* TurnStorage::flagsPtr(int32_t turn, int32_t) {
    return unit(turn).flagsPtr(-1, -1);
}
