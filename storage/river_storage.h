// Storages of river decision nodes: one row per action for every runout (turn record, river
// record) below the node, addressed through the shared FlatIndexLists layout of the node's action
// count. Runout r = turnRunouts[turn].first + river has h = runouts[r].hands hands; its row of
// action a starts at element runouts[r].offset + a x stride, stride = h rounded up to 4, so every
// row starts 16-byte aligned for floats and 8-byte aligned for u16. The padding is zeroed by
// reset and never read.
//
// Saved river block (load only; little-endian):
//   lock part  per runout: the lock record's saved form (u32 flags, mask runs when flags bit 1)
//   row part   per turn record, per runout, per action: the row's h values, raw
//              (h x elementBytes bytes), or for a ShortRiverStorage from format version 4 on an
//              i16 byte count b and b bytes of the fast-packed 16-bit row.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "cards/flat_index_lists.h"
#include "storage/storage_interface.h"

class RiverStorageBase : public StorageInterface {
public:
    // layout is owned by the tree and shared by every river storage of its action count. One
    // clear lock record per runout.
    explicit RiverStorageBase(const FlatIndexLists* layout);
    ~RiverStorageBase() override;
    RiverStorageBase(const RiverStorageBase&) = delete;
    RiverStorageBase& operator=(const RiverStorageBase&) = delete;

    int32_t numHands(int32_t turn, int32_t river) const override;
    // The layout's packedSize, whatever the turn.
    int64_t size(int32_t turn) const override;
    LockRecord* flagsPtr(int32_t turn, int32_t river) override;
    StorageStreamInterface* unpack(StorageStreamInterface*, int32_t, int32_t) override {
        return nullptr;
    }
    StorageStreamInterface* pack(StorageStreamInterface*, int32_t, bool) override {
        return nullptr;
    }

    const FlatIndexLists* layout() const { return layout_; }
    int32_t numActions() const { return layout_->actionCount; }

protected:
    int32_t runoutIndex(int32_t turn, int32_t river) const {
        return int32_t(layout_->turnRunouts[size_t(turn)].first) + river;
    }
    int32_t handsOf(int32_t runout) const {
        return int32_t(layout_->runouts[size_t(runout)].hands);
    }
    const uint8_t* maskOf(int32_t runout) const { return records_[size_t(runout)].mask; }
    // Reads the lock part of a saved river block into the records.
    void loadLockPart(BinaryReader& in);

    const FlatIndexLists* layout_;
    std::unique_ptr<LockRecord[]> records_;
};

class UncompressedRiverStorage : public RiverStorageBase {
public:
    using RiverStorageBase::RiverStorageBase;
    ~UncompressedRiverStorage() override;

    // Allocates (malloc) and zeroes paddedSize elements; false, with no block, when malloc
    // fails. A second reset zeroes the block it has.
    bool reset() override;
    // Nothing: this system never writes river storages.
    void save(BinaryWriter&) override {}
    // Reads the saved river block. A storage without a block allocates it first ("out of
    // memory" as IOException on failure). Malformed blocks throw IOException "invalid file (...)".
    void load(BinaryReader& in) override;
    virtual int64_t elementBytes() const = 0;

    bool hasBlock() const { return block_ != nullptr; }

protected:
    // Element offset of row (action, runout) in the block.
    size_t rowOffset(int32_t runout, int32_t action) const {
        const uint32_t h = layout_->runouts[size_t(runout)].hands;
        return size_t(layout_->runouts[size_t(runout)].offset) + size_t(action) * ((h + 3) & ~3u);
    }
    // Reads one stored row of h values into the block.
    virtual void loadRow(BinaryReader& in, int32_t runout, int32_t action, bool packed);

    void* block_ = nullptr;
};

// 32-bit float rows: regrets (the float regret rule) or strategy sums.
class RiverStorage final : public UncompressedRiverStorage {
public:
    using UncompressedRiverStorage::UncompressedRiverStorage;

    // 2 or 3 actions: outputs from the calling thread's pool; otherwise from the heap. Without a
    // block every output row holds the action's default.
    void getStrategy(PooledArray* out, int32_t turn, int32_t river, const float* defaults) override;
    // Copies the row's values (a row without data writes zeros).
    void setAction(int32_t turn, int32_t river, int32_t action, const PooledArray& row) override;
    void updateRegrets(int32_t turn, int32_t river, const PooledArray& nodeValue,
                       const PooledArray* actionValues, const std::vector<int16_t>* equalGroups,
                       double scale) override;
    void accumulateStrategy(int32_t turn, int32_t river, const PooledArray* strategy,
                            const PooledArray& reach, float weight) override;
    int64_t elementBytes() const override { return 4; }

    float* row(int32_t turn, int32_t river, int32_t action) {
        return static_cast<float*>(block_) + rowOffset(runoutIndex(turn, river), action);
    }
};

// Scaled 16-bit regrets; keeps no strategy sums.
class ShortRiverStorage final : public UncompressedRiverStorage {
public:
    using UncompressedRiverStorage::UncompressedRiverStorage;

    // Outputs from the calling thread's pool; without a block every output holds the defaults.
    void getStrategy(PooledArray* out, int32_t turn, int32_t river, const float* defaults) override;
    // QuantizeRow16 of the row's values (a row without data writes zeros).
    void setAction(int32_t turn, int32_t river, int32_t action, const PooledArray& row) override;
    double largestValue() const override { return 65535.0; }
    // UpdateRegrets16 per action with the runout's mask, the run lengths and the scale.
    void updateRegrets(int32_t turn, int32_t river, const PooledArray& nodeValue,
                       const PooledArray* actionValues, const std::vector<int16_t>* equalGroups,
                       double scale) override;
    // Nothing.
    void accumulateStrategy(int32_t, int32_t, const PooledArray*, const PooledArray&,
                            float) override {}
    int64_t elementBytes() const override { return 2; }

    uint16_t* row(int32_t turn, int32_t river, int32_t action) {
        return static_cast<uint16_t*>(block_) + rowOffset(runoutIndex(turn, river), action);
    }

protected:
    void loadRow(BinaryReader& in, int32_t runout, int32_t action, bool packed) override;
};

// The strategy of 16-bit rows (both 16-bit river storages): 2 and 3 actions by their kernels,
// 4 by FourActionProbabilities when fourKernel, otherwise a u32 sum of the rows and
// ActionProbabilitiesFromSum. out rows must already hold h elements.
void Strategy16(const uint16_t* const* rows, int32_t numActions, int32_t h, const float* defaults,
                bool fourKernel, PooledArray* out);
