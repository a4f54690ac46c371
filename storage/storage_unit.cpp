#include "storage/storage_unit.h"

#include <cstring>

#include "storage/aligned_memory.h"
#include "storage/binary_io.h"
#include "storage/float_rules.h"
#include "utilities/services.h"

void ResizeStorageRow(StorageRow* row, int32_t count) {
    if (count == row->count && (row->data != nullptr || count == 0)) return;
    if (count < 0) fail_fatal("negative row length");
    AlignedFree(row->data);
    row->data = static_cast<float*>(AlignedAllocOrDie(static_cast<size_t>(count) * 4));
    row->count = count;
}

void FreeStorageRow(StorageRow* row) {
    AlignedFree(row->data);
    row->data = nullptr;
    row->count = 0;
}

StorageUnit::StorageUnit(int32_t numActions, int32_t numHands)
    : numActions_(numActions), numHands_(numHands), rows_(numActions > 0 ? numActions : 0) {
    if (numActions < 0 || numHands < 0) fail_fatal("storage unit size");
}

StorageUnit::~StorageUnit() {
    delete[] lock_.mask;
    for (StorageRow& row : rows_) FreeStorageRow(&row);
}

StorageUnit::StorageUnit(StorageUnit&& other) noexcept
    : numActions_(other.numActions_),
      numHands_(other.numHands_),
      rows_(std::move(other.rows_)),
      lock_(other.lock_) {
    other.rows_.clear();
    other.lock_ = LockRecord{};
}

bool StorageUnit::reset() {
    for (StorageRow& row : rows_) {
        ResizeStorageRow(&row, numHands_);
        if (numHands_ > 0) std::memset(row.data, 0, static_cast<size_t>(numHands_) * 4);
    }
    return true;
}

const uint8_t* StorageUnit::maskFor(int32_t count) const {
    if (lock_.mask == nullptr) return nullptr;
    // Loads and the lock commands make masks of exactly numHands bytes.
    if (lock_.maskLength < count) fail_fatal("lock mask shorter than row");
    return lock_.mask;
}

void StorageUnit::getStrategy(PooledArray* out, int32_t, int32_t, const float* defaults) {
    std::vector<const float*> rows(rows_.size());
    std::vector<int32_t> counts(rows_.size());
    for (size_t a = 0; a < rows_.size(); ++a) {
        rows[a] = rows_[a].data;
        counts[a] = rows_[a].count;
    }
    NormalizeStrategy(rows.data(), counts.data(), numActions_, defaults, out);
}

void StorageUnit::setAction(int32_t, int32_t, int32_t action, const PooledArray& row) {
    if (action < 0 || action >= numActions_) fail_fatal("action index");
    StorageRow& dst = rows_[action];
    ResizeStorageRow(&dst, row.count);
    if (row.count == 0) return;
    if (row.data != nullptr) {
        std::memcpy(dst.data, row.data, static_cast<size_t>(row.count) * 4);
    } else {
        std::memset(dst.data, 0, static_cast<size_t>(row.count) * 4);
    }
}

void StorageUnit::updateRegrets(int32_t, int32_t, const PooledArray& nodeValue,
                                const PooledArray* actionValues, const std::vector<int16_t>*,
                                double) {
    const int32_t n = nodeValue.count;
    const uint8_t* mask = maskFor(n);
    for (int32_t a = 0; a < numActions_; ++a) {
        const PooledArray& value = actionValues[a];
        if (rows_[a].count < n || (value.data != nullptr && value.count < n)) {
            fail_fatal("row length");
        }
        UpdateRegretRow(rows_[a].data, nodeValue.data, value.data, n, mask);
    }
}

void StorageUnit::accumulateStrategy(int32_t, int32_t, const PooledArray* strategy,
                                     const PooledArray& reach, float weight) {
    if (!(weight > 0.0f) || reach.data == nullptr) return;
    for (int32_t a = 0; a < numActions_; ++a) {
        const int32_t n = strategy[a].data != nullptr ? strategy[a].count : 0;
        if (rows_[a].count < n) fail_fatal("row length");
        AccumulateStrategyRow(rows_[a].data, strategy[a], reach, maskFor(n), weight);
    }
}

int64_t StorageUnit::size(int32_t) const {
    int64_t total = 0;
    for (const StorageRow& row : rows_) total += row.count;
    return total;
}

void StorageUnit::save(BinaryWriter& out) {
    SaveLockRecord(out, lock_);
    const std::vector<float> zeros(static_cast<size_t>(numHands_), 0.0f);
    for (const StorageRow& row : rows_) {
        const bool ready = row.data != nullptr && row.count == numHands_;
        out.write(ready ? row.data : zeros.data(), static_cast<size_t>(numHands_) * 4);
    }
}

void StorageUnit::load(BinaryReader& in) {
    LoadLockRecord(in, &lock_, numHands_);
    for (StorageRow& row : rows_) {
        ResizeStorageRow(&row, numHands_);
        in.read(row.data, static_cast<size_t>(numHands_) * 4);
    }
}
