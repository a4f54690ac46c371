#include "storage/compressed_river_storage.h"

#include <algorithm>
#include <cstring>

#include "compression/compressed_storage_stream.h"
#include "storage/aligned_memory.h"
#include "storage/binary_io.h"
#include "storage/fast_storage_stream.h"
#include "storage/regret_update16.h"
#include "storage/strategy_kernels.h"
#include "utilities/services.h"

namespace {

constexpr size_t kBufferAlignment = 128;
constexpr int32_t kScratchHands = 1088;

uint32_t CountFromFloat(float v) {
    if (!(v > 0.0f)) return 0;  // negative and NaN
    if (v >= 2147483647.0f) return 2147483647u;
    return uint32_t(v);
}

}  // namespace

CompressedRiverStorage::CompressedRiverStorage(const FlatIndexLists* layout, bool is16bit,
                                               int32_t kind)
    : RiverStorageBase(layout),
      buffers_(size_t(layout->turnCount), nullptr),
      streams_(size_t(layout->turnCount), nullptr),
      kind_(kind),
      is16bit_(is16bit) {}

CompressedRiverStorage::~CompressedRiverStorage() {
    for (StorageStreamInterface* s : streams_) delete s;
    for (void* b : buffers_) AlignedFree(b);
}

size_t CompressedRiverStorage::rowInTurn(int32_t turn, int32_t record, int32_t action) const {
    const auto& runout = layout_->runouts[size_t(record)];
    return size_t(runout.offset - layout_->turnSpans[size_t(turn)].offset) +
           size_t(action) * ((runout.hands + 3) & ~3u);
}

void* CompressedRiverStorage::rowPtr(int32_t turn, int32_t record, int32_t action) const {
    auto* base = static_cast<uint8_t*>(buffers_[size_t(turn)]);
    return base + rowInTurn(turn, record, action) * (is16bit_ ? 2 : 4);
}

uint16_t* CompressedRiverStorage::row16(int32_t turn, int32_t river, int32_t action) const {
    if (!is16bit_ || !isOpen(turn)) return nullptr;
    return static_cast<uint16_t*>(rowPtr(turn, runoutIndex(turn, river), action));
}

uint32_t* CompressedRiverStorage::row32(int32_t turn, int32_t river, int32_t action) const {
    if (is16bit_ || !isOpen(turn)) return nullptr;
    return static_cast<uint32_t*>(rowPtr(turn, runoutIndex(turn, river), action));
}

void* CompressedRiverStorage::requireOpen(int32_t turn) const {
    void* buffer = buffers_[size_t(turn)];
    if (buffer == nullptr) fail_fatal("not open");
    return buffer;
}

void CompressedRiverStorage::getStrategy(PooledArray* out, int32_t turn, int32_t river,
                                         const float* defaults) {
    requireOpen(turn);
    const int32_t r = runoutIndex(turn, river), h = handsOf(r), k = numActions();
    for (int32_t a = 0; a < k; ++a) ResizePooledArray(&out[a], h, false);
    if (is16bit_) {
        const uint16_t* local[16];
        std::vector<const uint16_t*> heap;
        const uint16_t** rows = local;
        if (k > 16) {
            heap.resize(size_t(k));
            rows = heap.data();
        }
        for (int32_t a = 0; a < k; ++a) {
            rows[a] = static_cast<const uint16_t*>(rowPtr(turn, r, a));
        }
        Strategy16(rows, k, h, defaults, true, out);
        return;
    }
    alignas(32) double local[kScratchHands];
    std::vector<double> heap;
    double* sum = local;
    if (h > kScratchHands) {
        heap.resize(size_t(h));
        sum = heap.data();
    }
    std::fill(sum, sum + h, 0.0);
    for (int32_t a = 0; a < k; ++a) {
        AddRow32(sum, static_cast<const uint32_t*>(rowPtr(turn, r, a)), h);
    }
    for (int32_t a = 0; a < k; ++a) {
        ActionProbabilitiesFromSum32(static_cast<const uint32_t*>(rowPtr(turn, r, a)), sum, h,
                                     defaults[a], out[a].data);
    }
}

void CompressedRiverStorage::setAction(int32_t turn, int32_t river, int32_t action,
                                       const PooledArray& row) {
    requireOpen(turn);
    const int32_t r = runoutIndex(turn, river), h = handsOf(r);
    const int32_t n = row.data != nullptr ? std::min(row.count, h) : 0;
    if (is16bit_) {
        auto* dst = static_cast<uint16_t*>(rowPtr(turn, r, action));
        QuantizeRow16(dst, row.data, n);
        std::fill(dst + n, dst + h, uint16_t(0));
    } else {
        auto* dst = static_cast<uint32_t*>(rowPtr(turn, r, action));
        for (int32_t i = 0; i < n; ++i) dst[i] = CountFromFloat(row.data[i]);
        std::fill(dst + n, dst + h, 0u);
    }
}

void CompressedRiverStorage::updateRegrets(int32_t turn, int32_t river,
                                           const PooledArray& nodeValue,
                                           const PooledArray* actionValues,
                                           const std::vector<int16_t>* equalGroups, double scale) {
    if (!is16bit_) fail_fatal("regret update of strategy counts");
    requireOpen(turn);
    const int32_t r = runoutIndex(turn, river);
    const int32_t n = std::min(nodeValue.count, handsOf(r));
    for (int32_t a = 0; a < numActions(); ++a) {
        UpdateRegrets16(static_cast<uint16_t*>(rowPtr(turn, r, a)), nodeValue.data,
                        actionValues[a].data, n, equalGroups, maskOf(r), float(scale));
    }
}

void CompressedRiverStorage::accumulateStrategy(int32_t turn, int32_t river,
                                                const PooledArray* strategy,
                                                const PooledArray& reach, float weight) {
    if (is16bit_) fail_fatal("strategy sums in 16-bit rows");
    if (!(weight > 0.0f)) return;
    requireOpen(turn);
    const int32_t r = runoutIndex(turn, river), h = handsOf(r);
    for (int32_t a = 0; a < numActions(); ++a) {
        const PooledArray s{strategy[a].data, std::min(strategy[a].count, h), 0};
        AccumulateStrategyCounts(static_cast<uint32_t*>(rowPtr(turn, r, a)), s, reach, maskOf(r),
                                 weight);
    }
}

int64_t CompressedRiverStorage::size(int32_t turn) const {
    if (turn < 0) return int64_t(layout_->packedSize);
    const auto& span = layout_->turnRunouts[size_t(turn)];
    int64_t hands = 0;
    for (uint32_t j = 0; j < span.count; ++j) hands += handsOf(int32_t(span.first + j));
    return hands * numActions();
}

StorageStreamInterface* CompressedRiverStorage::ownStreamFor(int32_t turn, int64_t n) {
    StorageStreamInterface*& own = streams_[size_t(turn)];
    // Two bytes a value for kind 2 (its finish raises the cap to the pass's true bound). A
    // stream loaded from a file carries the file's reserve, which may be too small for the next
    // write-back.
    const int64_t reserve = kind_ == 2 ? (2 * std::max<int64_t>(n, 0) + 4095) & ~int64_t(4095)
                                       : FastStreamReserve(n, is16bit_);
    if (own == nullptr) {
        own = kind_ == 2
                  ? static_cast<StorageStreamInterface*>(new CompressedStorageStream(reserve))
                  : new FastStorageStream(reserve);
    } else {
        own->raiseReserve(reserve);
    }
    return own;
}

StorageStreamInterface* CompressedRiverStorage::unpack(StorageStreamInterface* stream, int32_t turn,
                                                       int32_t n) {
    if (stream == nullptr) {
        stream = ownStreamFor(turn, n);
        if (stream->hasData()) stream->rewind();
    }
    const size_t bytes = size_t(layout_->turnSpans[size_t(turn)].size) * (is16bit_ ? 2 : 4);
    AlignedFree(buffers_[size_t(turn)]);
    buffers_[size_t(turn)] = AlignedAllocOrDie(bytes, kBufferAlignment);
    if (!stream->hasData()) {
        std::memset(buffers_[size_t(turn)], 0, bytes);
        return stream;
    }
    const auto& span = layout_->turnRunouts[size_t(turn)];
    for (int32_t a = 0; a < numActions(); ++a) {
        for (uint32_t j = 0; j < span.count; ++j) {
            const int32_t record = int32_t(span.first + j);
            const bool useReference = j > 0 && handsOf(record) <= handsOf(record - 1);
            void* row = rowPtr(turn, record, a);
            const void* reference = useReference ? rowPtr(turn, record - 1, a) : nullptr;
            if (is16bit_) {
                stream->readRow16(static_cast<uint16_t*>(row),
                                  static_cast<const uint16_t*>(reference), handsOf(record));
            } else {
                stream->readRow(static_cast<uint32_t*>(row),
                                static_cast<const uint32_t*>(reference), handsOf(record));
            }
        }
    }
    return stream;
}

StorageStreamInterface* CompressedRiverStorage::pack(StorageStreamInterface* stream, int32_t turn,
                                                     bool writeBack) {
    if (buffers_[size_t(turn)] == nullptr) return nullptr;
    if (writeBack) {
        if (stream == nullptr) {
            stream = ownStreamFor(turn, size(turn));
            stream->reset();
        }
        const auto& span = layout_->turnRunouts[size_t(turn)];
        for (int32_t a = 0; a < numActions(); ++a) {
            for (uint32_t j = 0; j < span.count; ++j) {
                const int32_t record = int32_t(span.first + j);
                const bool useReference = j > 0 && handsOf(record) <= handsOf(record - 1);
                const void* row = rowPtr(turn, record, a);
                const void* reference = useReference ? rowPtr(turn, record - 1, a) : nullptr;
                if (is16bit_) {
                    stream->writeRow16(static_cast<const uint16_t*>(row),
                                       static_cast<const uint16_t*>(reference), handsOf(record));
                } else {
                    stream->writeRow(static_cast<const uint32_t*>(row),
                                     static_cast<const uint32_t*>(reference), handsOf(record));
                }
            }
        }
    }
    AlignedFree(buffers_[size_t(turn)]);
    buffers_[size_t(turn)] = nullptr;
    return stream;
}

void CompressedRiverStorage::save(BinaryWriter& out) {
    for (uint32_t r = 0; r < layout_->runoutCount; ++r) SaveLockRecord(out, records_[r]);
    // Any turn's stream, not only the first turn's: a turn 0 without hands (or never solved)
    // would otherwise drop every other turn's rows from the block.
    const uint8_t streamsFollow =
        std::any_of(streams_.begin(), streams_.end(), [](auto* s) { return s != nullptr; }) ? 1
                                                                                              : 0;
    WriteValue(out, streamsFollow);
    if (streamsFollow == 0) return;
    for (StorageStreamInterface* s : streams_) {
        if (s != nullptr) {
            s->save(out);
        } else if (kind_ == 2) {
            // A stream without data: 24 zero length pairs, reservation 0, used size 0.
            static const uint8_t kEmpty[208] = {};
            out.write(kEmpty, sizeof kEmpty);
        } else {
            WriteValue<uint32_t>(out, 0);
            WriteValue<uint64_t>(out, 0);
            WriteValue<uint64_t>(out, 0);
        }
    }
}

void CompressedRiverStorage::load(BinaryReader& in) {
    loadLockPart(in);
    const auto streamsFollow = ReadValue<uint8_t>(in);
    for (StorageStreamInterface*& s : streams_) {
        delete s;
        s = nullptr;
    }
    if (streamsFollow == 0) return;
    for (StorageStreamInterface*& s : streams_) {
        if (kind_ == 2)
            s = new CompressedStorageStream(0);
        else
            s = new FastStorageStream(0);
        s->load(&in);
    }
}
