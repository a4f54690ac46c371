// The per-node strategy storage contract: every storage class (flop units, turn storages, the
// river storages) answers these operations, so the solver never knows how numbers are stored.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "storage/lock_record.h"
#include "storage/pooled_array.h"

class BinaryReader;
class BinaryWriter;
class StorageStreamInterface;

// Runout addressing: `turn` is the turn record index of the hand set, `river` the river index
// within it, -1 for none. Flop storages ignore both; turn storages use `turn` only.
// Callers keep one runout's rows and lock record on one thread at a time (the solver and
// per-turn-card mutexes); different runouts may be worked on concurrently.
class StorageInterface {
public:
    virtual ~StorageInterface() = default;

    // Allocates every row and sets every value to 0; true when the memory is there.
    virtual bool reset() = 0;
    // Number of hands of the addressed runout.
    virtual int32_t numHands(int32_t turn, int32_t river) const = 0;
    // out holds one row per action; each is resized to the hand count and filled with that
    // action's probability per hand. defaults: one float per action, used where the regrets
    // give no strategy.
    virtual void getStrategy(PooledArray* out, int32_t turn, int32_t river,
                             const float* defaults) = 0;
    // Overwrites one action's row with the row's values.
    virtual void setAction(int32_t turn, int32_t river, int32_t action, const PooledArray& row) = 0;
    // One regret update of every action of the runout; actionValues has one row per action.
    // equalGroups and scale serve the 16-bit storages only.
    virtual void updateRegrets(int32_t turn, int32_t river, const PooledArray& nodeValue,
                               const PooledArray* actionValues,
                               const std::vector<int16_t>* equalGroups, double scale) = 0;
    // Adds weight x strategy x reach to every action's sum row; strategy has one row per action.
    virtual void accumulateStrategy(int32_t turn, int32_t river, const PooledArray* strategy,
                                    const PooledArray& reach, float weight) = 0;
    // Number of stored values.
    virtual int64_t size(int32_t turn) const = 0;
    // Writes the storage's saved block.
    virtual void save(BinaryWriter& out) = 0;
    // Reads what save writes; corrupt data and reader failures throw IOException.
    virtual void load(BinaryReader& in) = 0;
    // Brings a turn's packed rows into working memory; null for every class but the compressed
    // river storage.
    virtual StorageStreamInterface* unpack(StorageStreamInterface* stream, int32_t turn,
                                           int32_t count) = 0;
    // The reverse of unpack; null likewise.
    virtual StorageStreamInterface* pack(StorageStreamInterface* stream, int32_t turn,
                                         bool writeBack) = 0;
    // The lock record of the runout.
    virtual LockRecord* flagsPtr(int32_t turn, int32_t river) = 0;
    // The largest value setAction keeps; larger ones saturate. Float rows keep any float.
    virtual double largestValue() const { return std::numeric_limits<float>::max(); }
};
