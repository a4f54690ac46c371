#include "storage/river_storage.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "storage/binary_io.h"
#include "storage/float_rules.h"
#include "storage/regret_update16.h"
#include "storage/save_decompressor.h"
#include "storage/strategy_kernels.h"

namespace {

// A river runout has at most C(47, 2) = 1081 hands; larger rows (never seen) take the heap.
constexpr int32_t kScratchHands = 1088;

template <class T>
class ScratchRow {
public:
    explicit ScratchRow(int32_t n) {
        if (n > kScratchHands) {
            heap_.resize(size_t(n));
            data_ = heap_.data();
        }
    }
    T* data() { return data_; }

private:
    alignas(32) T local_[kScratchHands];
    std::vector<T> heap_;
    T* data_ = local_;
};

// Per-action pointers without a heap call for the usual action counts.
template <class T>
class ActionArray {
public:
    explicit ActionArray(int32_t k) {
        if (k > 16) {
            heap_.resize(size_t(k));
            data_ = heap_.data();
        }
    }
    T& operator[](int32_t a) { return data_[a]; }
    T* data() { return data_; }

private:
    T local_[16] = {};
    std::vector<T> heap_;
    T* data_ = local_;
};

void FillDefaults(PooledArray* out, int32_t numActions, int32_t h, const float* defaults,
                  bool fromPool) {
    for (int32_t a = 0; a < numActions; ++a) {
        ResizePooledArray(&out[a], h, fromPool);
        std::fill(out[a].data, out[a].data + h, defaults[a]);
    }
}

}  // namespace

void Strategy16(const uint16_t* const* rows, int32_t numActions, int32_t h, const float* defaults,
                bool fourKernel, PooledArray* out) {
    if (numActions == 2) {
        TwoActionProbabilities16(rows[0], rows[1], h, defaults, out[0].data, out[1].data);
    } else if (numActions == 3) {
        ThreeActionProbabilities16(rows[0], rows[1], rows[2], h, defaults, out[0].data, out[1].data,
                                   out[2].data);
    } else if (numActions == 4 && fourKernel) {
        float* outs[4] = {out[0].data, out[1].data, out[2].data, out[3].data};
        FourActionProbabilities(rows, h, defaults, outs);
    } else {
        ScratchRow<uint32_t> sum(h);
        std::memset(sum.data(), 0, size_t(h) * 4);
        for (int32_t a = 0; a < numActions; ++a) WidenAddRow16(sum.data(), rows[a], h);
        for (int32_t a = 0; a < numActions; ++a) {
            ActionProbabilitiesFromSum(rows[a], sum.data(), h, defaults[a], out[a].data);
        }
    }
}

RiverStorageBase::RiverStorageBase(const FlatIndexLists* layout)
    : layout_(layout), records_(std::make_unique<LockRecord[]>(layout->runoutCount)) {}

RiverStorageBase::~RiverStorageBase() {
    for (uint32_t r = 0; r < layout_->runoutCount; ++r) ClearLockMask(&records_[r]);
}

int32_t RiverStorageBase::numHands(int32_t turn, int32_t river) const {
    return handsOf(runoutIndex(turn, river));
}

int64_t RiverStorageBase::size(int32_t) const {
    return int64_t(layout_->packedSize);
}

LockRecord* RiverStorageBase::flagsPtr(int32_t turn, int32_t river) {
    return &records_[size_t(runoutIndex(turn, river))];
}

void RiverStorageBase::loadLockPart(BinaryReader& in) {
    for (uint32_t r = 0; r < layout_->runoutCount; ++r) {
        LoadLockRecord(in, &records_[r], handsOf(int32_t(r)));
    }
}

UncompressedRiverStorage::~UncompressedRiverStorage() {
    std::free(block_);
}

bool UncompressedRiverStorage::reset() {
    const size_t bytes = size_t(layout_->paddedSize) * size_t(elementBytes());
    if (block_ == nullptr) {
        block_ = std::malloc(bytes > 0 ? bytes : 1);
        if (block_ == nullptr) return false;
    }
    std::memset(block_, 0, bytes);
    return true;
}

void UncompressedRiverStorage::load(BinaryReader& in) {
    if (block_ == nullptr && !reset()) throw IOException("out of memory");
    loadLockPart(in);
    const bool packed = in.formatVersion() >= 4;
    for (int32_t t = 0; t < layout_->turnCount; ++t) {
        const auto& turn = layout_->turnRunouts[size_t(t)];
        for (uint32_t j = 0; j < turn.count; ++j) {
            for (int32_t a = 0; a < layout_->actionCount; ++a) {
                loadRow(in, int32_t(turn.first + j), a, packed);
            }
        }
    }
}

void UncompressedRiverStorage::loadRow(BinaryReader& in, int32_t runout, int32_t action, bool) {
    const size_t eb = size_t(elementBytes());
    in.read(static_cast<uint8_t*>(block_) + rowOffset(runout, action) * eb,
            size_t(handsOf(runout)) * eb);
}

void RiverStorage::getStrategy(PooledArray* out, int32_t turn, int32_t river,
                               const float* defaults) {
    const int32_t r = runoutIndex(turn, river), h = handsOf(r), k = numActions();
    if (block_ == nullptr) {
        FillDefaults(out, k, h, defaults, false);
        return;
    }
    const float* base = static_cast<const float*>(block_);
    if (k == 2 || k == 3) {
        for (int32_t a = 0; a < k; ++a) ResizePooledArray(&out[a], h, true);
        const float* a0 = base + rowOffset(r, 0);
        const float* a1 = base + rowOffset(r, 1);
        if (k == 2) {
            NormalizeTwoActions(a0, a1, h, defaults, out[0].data, out[1].data);
        } else {
            NormalizeThreeActions(a0, a1, base + rowOffset(r, 2), h, defaults, out[0].data,
                                  out[1].data, out[2].data);
        }
        return;
    }
    ActionArray<const float*> rows(k);
    ActionArray<int32_t> counts(k);
    for (int32_t a = 0; a < k; ++a) {
        rows[a] = base + rowOffset(r, a);
        counts[a] = h;
    }
    NormalizeStrategy(rows.data(), counts.data(), k, defaults, out);
}

void RiverStorage::setAction(int32_t turn, int32_t river, int32_t action, const PooledArray& row) {
    const int32_t r = runoutIndex(turn, river), h = handsOf(r);
    float* dst = static_cast<float*>(block_) + rowOffset(r, action);
    const int32_t n = row.data != nullptr ? std::min(row.count, h) : 0;
    CopyRow32(dst, row.data, n);
    std::fill(dst + n, dst + h, 0.0f);
}

void RiverStorage::updateRegrets(int32_t turn, int32_t river, const PooledArray& nodeValue,
                                 const PooledArray* actionValues, const std::vector<int16_t>*,
                                 double) {
    const int32_t r = runoutIndex(turn, river);
    const int32_t n = std::min(nodeValue.count, handsOf(r));
    const float* node = nodeValue.data;
    std::vector<float> zeros;
    if (node == nullptr) {
        zeros.assign(size_t(std::max(n, 0)), 0.0f);
        node = zeros.data();
    }
    for (int32_t a = 0; a < numActions(); ++a) {
        UpdateRegretRow(row(turn, river, a), node, actionValues[a].data, n, maskOf(r));
    }
}

void RiverStorage::accumulateStrategy(int32_t turn, int32_t river, const PooledArray* strategy,
                                      const PooledArray& reach, float weight) {
    if (!(weight > 0.0f) || reach.data == nullptr) return;
    const int32_t r = runoutIndex(turn, river), h = handsOf(r), k = numActions();
    const uint8_t* mask = maskOf(r);
    if (k <= 4) {
        for (int32_t a = 0; a < k; ++a) {
            const PooledArray s{strategy[a].data, std::min(strategy[a].count, h), 0};
            AccumulateStrategyRow(row(turn, river, a), s, reach, mask, weight);
        }
        return;
    }
    // weight x reach once per hand instead of once per action.
    ScratchRow<float> w(h);
    const int32_t reached = std::min(reach.count, h);
    for (int32_t i = 0; i < reached; ++i) w.data()[i] = weight * reach.data[i];
    std::fill(w.data() + reached, w.data() + h, 0.0f);
    for (int32_t a = 0; a < k; ++a) {
        const PooledArray s{strategy[a].data, std::min(strategy[a].count, h), 0};
        AccumulateStrategyRiver(row(turn, river, a), s, w.data(), mask);
    }
}

void ShortRiverStorage::getStrategy(PooledArray* out, int32_t turn, int32_t river,
                                    const float* defaults) {
    const int32_t r = runoutIndex(turn, river), h = handsOf(r), k = numActions();
    if (block_ == nullptr) {
        FillDefaults(out, k, h, defaults, false);
        return;
    }
    ActionArray<const uint16_t*> rows(k);
    for (int32_t a = 0; a < k; ++a) {
        rows[a] = static_cast<const uint16_t*>(block_) + rowOffset(r, a);
        ResizePooledArray(&out[a], h, true);
    }
    Strategy16(rows.data(), k, h, defaults, false, out);
}

void ShortRiverStorage::setAction(int32_t turn, int32_t river, int32_t action,
                                  const PooledArray& row) {
    const int32_t r = runoutIndex(turn, river), h = handsOf(r);
    uint16_t* dst = static_cast<uint16_t*>(block_) + rowOffset(r, action);
    const int32_t n = row.data != nullptr ? std::min(row.count, h) : 0;
    QuantizeRow16(dst, row.data, n);
    std::fill(dst + n, dst + h, uint16_t(0));
}

void ShortRiverStorage::updateRegrets(int32_t turn, int32_t river, const PooledArray& nodeValue,
                                      const PooledArray* actionValues,
                                      const std::vector<int16_t>* equalGroups, double scale) {
    const int32_t r = runoutIndex(turn, river);
    const int32_t n = std::min(nodeValue.count, handsOf(r));
    for (int32_t a = 0; a < numActions(); ++a) {
        UpdateRegrets16(row(turn, river, a), nodeValue.data, actionValues[a].data, n, equalGroups,
                        maskOf(r), float(scale));
    }
}

void ShortRiverStorage::loadRow(BinaryReader& in, int32_t runout, int32_t action, bool packed) {
    if (!packed) {
        UncompressedRiverStorage::loadRow(in, runout, action, packed);
        return;
    }
    ReadPackedRow16(in, static_cast<uint16_t*>(block_) + rowOffset(runout, action),
                    handsOf(runout));
}
