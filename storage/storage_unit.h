// Strategy storage of a flop node, or of one turn record of a turn node: one float row per
// action with one value per hand, and one lock record.
#pragma once

#include <cstdint>
#include <vector>

#include "storage/storage_interface.h"

// A heap row of floats (32-byte aligned); never taken from a thread pool.
//   data   count floats, null before the first resize
//   count  number of floats
struct StorageRow {
    float* data = nullptr;
    int32_t count = 0;
};

// Keeps the data when the count is unchanged; otherwise frees it and allocates count
// uninitialised floats ("out of memory" and abort on failure).
void ResizeStorageRow(StorageRow* row, int32_t count);
// Frees the data and nulls the pointer; the count becomes 0.
void FreeStorageRow(StorageRow* row);

// Saved block (little-endian, no padding): the lock record's saved form (u32 flags; when
// per-hand locks exist i16 maskLength, i16 runCount, runCount x i16 runs), then numActions rows
// of numHands f32, action 0's row first.
// Every operation ignores turn and river.
class StorageUnit : public StorageInterface {
public:
    // Empty rows (nothing is stored until reset) and a clear lock record.
    StorageUnit(int32_t numActions, int32_t numHands);
    ~StorageUnit() override;
    // Moves exist only so a vector can hold units; the turn storage reserves its vector in full
    // and never relocates them.
    StorageUnit(StorageUnit&& other) noexcept;
    StorageUnit& operator=(StorageUnit&&) = delete;
    StorageUnit(const StorageUnit&) = delete;
    StorageUnit& operator=(const StorageUnit&) = delete;

    // Every row resized to numHands values and zeroed; true (allocation failure aborts).
    bool reset() override;
    int32_t numHands(int32_t turn, int32_t river) const override { return numHands_; }
    // The normalisation rule; output rows come from the heap. Before reset: rows of count 0.
    void getStrategy(PooledArray* out, int32_t turn, int32_t river, const float* defaults) override;
    // The action's row resized to row.count and overwritten (a null row writes zeros).
    void setAction(int32_t turn, int32_t river, int32_t action, const PooledArray& row) override;
    // The float regret rule on every action over nodeValue.count hands, skipping locked hands.
    void updateRegrets(int32_t turn, int32_t river, const PooledArray& nodeValue,
                       const PooledArray* actionValues, const std::vector<int16_t>* equalGroups,
                       double scale) override;
    // The accumulation rule on every action, skipping locked hands.
    void accumulateStrategy(int32_t turn, int32_t river, const PooledArray* strategy,
                            const PooledArray& reach, float weight) override;
    // Sum of the rows' counts: numActions x numHands once reset.
    int64_t size(int32_t turn) const override;
    // Writes the saved block; a row that was never reset is written as zeros.
    void save(BinaryWriter& out) override;
    // Reads the saved block; each row is sized to numHands first. Throws IOException for reader
    // failures and corrupt masks ("invalid file (...)"); rows read before a failure stay.
    void load(BinaryReader& in) override;
    StorageStreamInterface* unpack(StorageStreamInterface*, int32_t, int32_t) override {
        return nullptr;
    }
    StorageStreamInterface* pack(StorageStreamInterface*, int32_t, bool) override {
        return nullptr;
    }
    LockRecord* flagsPtr(int32_t turn, int32_t river) override { return &lock_; }

    int32_t numActions() const { return numActions_; }
    const StorageRow& row(int32_t action) const { return rows_[action]; }

private:
    const uint8_t* maskFor(int32_t count) const;

    int32_t numActions_;
    int32_t numHands_;
    std::vector<StorageRow> rows_;  // numActions rows, in action order
    LockRecord lock_;
};
