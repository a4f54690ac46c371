// A river storage whose rows stay packed per turn record in a row stream, and are unpacked into
// a working buffer only while that turn's river subtree is solved or queried. One class serves
// 16-bit regrets and 32-bit strategy counts. Stream kind 1 is FastStorageStream, kind 2
// CompressedStorageStream.
//
// Working buffer of turn t: turnSpans[t].size values (2 or 4 bytes), 128-byte aligned; row
// (a, j) of record j starts at element runouts[j].offset - turnSpans[t].offset + a x stride_j,
// stride_j = hands_j rounded up to 4.
//
// Row order of a stream (unpack and pack alike): action by action, then record by record of the
// turn; row (a, j) is coded against row (a, j - 1) exactly when j is not the turn's first record
// and hands_j <= hands_{j-1}.
//
// Saved block (little-endian): per record its lock record (SaveLockRecord form); u8
// streamsFollow (1 when any turn has an own stream); when 1, every turn's own stream block
// in turn order (a turn without one writes an empty block of the kind: kind 1 need 0, reserve 0,
// no bytes; kind 2 24 zero length pairs, reservation 0, used size 0).
#pragma once

#include <cstdint>
#include <vector>

#include "storage/river_storage.h"
#include "storage/storage_stream.h"

class CompressedRiverStorage final : public RiverStorageBase {
public:
    // kind: 1 fast, 2 compressed. Every turn starts closed and without a stream.
    CompressedRiverStorage(const FlatIndexLists* layout, bool is16bit, int32_t kind);
    ~CompressedRiverStorage() override;

    // Nothing to do: values come into being at unpack.
    bool reset() override { return true; }
    // Outputs from the heap. A closed turn is fatal ("fail (not open)").
    void getStrategy(PooledArray* out, int32_t turn, int32_t river, const float* defaults) override;
    // 16-bit: QuantizeRow16. 32-bit: counts clamped to [0, 2^31 - 1], truncated (NaN gives 0).
    // The turn must be open.
    void setAction(int32_t turn, int32_t river, int32_t action, const PooledArray& row) override;
    double largestValue() const override { return is16bit_ ? 65535.0 : 2147483647.0; }
    // 16-bit only (fatal on 32-bit rows): UpdateRegrets16 per action. The turn must be open.
    void updateRegrets(int32_t turn, int32_t river, const PooledArray& nodeValue,
                       const PooledArray* actionValues, const std::vector<int16_t>* equalGroups,
                       double scale) override;
    // 32-bit only (fatal on 16-bit rows): AccumulateStrategyCounts per action; nothing for a
    // weight <= 0. The turn must be open.
    void accumulateStrategy(int32_t turn, int32_t river, const PooledArray* strategy,
                            const PooledArray& reach, float weight) override;
    // turn < 0: the layout's packedSize; else actions x the turn's unpadded hands.
    int64_t size(int32_t turn) const override;
    void save(BinaryWriter& out) override;
    // Lock part as the river block's; then the streams. Malformed data throws IOException.
    void load(BinaryReader& in) override;

    // Opens a turn: with a null stream the turn's own stream (made, or its cap raised, to carry
    // n values) is rewound and read; a stream handed in is read from where it stands. A stream
    // without data gives zeros. Returns the stream read, for the next storage of the walk.
    StorageStreamInterface* unpack(StorageStreamInterface* stream, int32_t turn,
                                   int32_t n) override;
    // Closes a turn: with writeBack the rows are written to the stream (the own stream, reset
    // first, when null is given); the buffer is freed. Returns the stream written (null when
    // nothing was written and none was given); null for a closed turn.
    StorageStreamInterface* pack(StorageStreamInterface* stream, int32_t turn,
                                 bool writeBack) override;

    bool is16bit() const { return is16bit_; }
    int32_t kind() const { return kind_; }
    bool isOpen(int32_t turn) const { return buffers_[size_t(turn)] != nullptr; }
    StorageStreamInterface* ownStream(int32_t turn) const { return streams_[size_t(turn)]; }
    // Row of an open turn (null when closed).
    uint16_t* row16(int32_t turn, int32_t river, int32_t action) const;
    uint32_t* row32(int32_t turn, int32_t river, int32_t action) const;

private:
    // Element offset of row (a, record) inside its turn's buffer.
    size_t rowInTurn(int32_t turn, int32_t record, int32_t action) const;
    void* rowPtr(int32_t turn, int32_t record, int32_t action) const;
    // Builds (or raises the cap of) the turn's own stream for n values.
    StorageStreamInterface* ownStreamFor(int32_t turn, int64_t n);
    void* requireOpen(int32_t turn) const;

    std::vector<void*> buffers_;                    // per turn: working buffer while open
    std::vector<StorageStreamInterface*> streams_;  // per turn: own stream, owned
    int32_t kind_;
    bool is16bit_;
};
