#include "compression/range_coder.h"

#include <cassert>
#include <cstring>
#include <memory>

#include "compression/coder_buffer.h"
#include "compression/row_transform.h"

namespace {

constexpr uint32_t kTopValue = 1u << 24;
constexpr uint32_t kProbBits = 11;
constexpr uint16_t kProbInit = 1024;
constexpr int kEscapeLowBits = 17;
constexpr int kEscapeHighBits = 16;
constexpr char kMagic[4] = {'C', 'm', 'p', 'r'};

inline void update0(uint16_t& p) {
    p = static_cast<uint16_t>(p + ((2048 - p) >> 4));
}
inline void update1(uint16_t& p) {
    p = static_cast<uint16_t>(p - (p >> 4));
}

// Model sizes in entries.
constexpr size_t kGroupEntries = 2 * 4096;
constexpr size_t kValueEntries = 2 * 65536;
constexpr size_t kEscapeLowEntries = size_t{1} << kEscapeLowBits;
constexpr size_t kEscapeHighEntries = size_t{1} << kEscapeHighBits;

// The probability tables both sides keep, allocated once and filled with 1024.
struct RangeModels {
    uint16_t tag = kProbInit;
    uint16_t* group;
    uint16_t* value;
    // Tree model rows by [tag][previous symbol], made on first use: most contexts never occur.
    uint16_t* treeRows[2 * kRangeSymbols] = {};
    uint16_t* escapeLow;
    uint16_t* escapeHigh;
    SplitNode nodes[kRangeSymbols];

    explicit RangeModels(const int64_t* counts) {
        group = fill(kGroupEntries);
        value = fill(kValueEntries);
        escapeLow = fill(kEscapeLowEntries);
        escapeHigh = fill(kEscapeHighEntries);
        CreateOptimalTree(nodes, counts);
    }
    ~RangeModels() {
        coder_buffer_free(group);
        coder_buffer_free(value);
        for (uint16_t* row : treeRows) coder_buffer_free(row);
        coder_buffer_free(escapeLow);
        coder_buffer_free(escapeHigh);
    }
    RangeModels(const RangeModels&) = delete;
    RangeModels& operator=(const RangeModels&) = delete;

    static uint16_t* fill(size_t entries) {
        auto* p = static_cast<uint16_t*>(coder_buffer_alloc(entries * sizeof(uint16_t)));
        for (size_t i = 0; i < entries; i++) p[i] = kProbInit;
        return p;
    }
    uint16_t* treeRow(uint32_t tag, uint32_t previous) {
        uint16_t*& row = treeRows[size_t{tag} * kRangeSymbols + previous];
        if (row == nullptr) row = fill(kRangeSymbols);
        return row;
    }
};

// Wrapping signed arithmetic: hostile tables may sum past the i64 range.
inline int64_t wrap_add(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
inline int64_t wrap_sub(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}

struct TreeBuilder {
    SplitNode* tree;
    const int64_t* counts;
    int next = 0;

    int64_t count(int symbol) const { return counts ? counts[symbol] : 0; }

    void split(int lo, int hi, int64_t total) {
        for (;;) {
            if (hi - lo == 2) {
                assert(next < kRangeTreeNodes);
                tree[next++] = {0, static_cast<uint16_t>(lo + 1)};
                return;
            }
            if (hi - lo <= 1) return;
            int mid;
            int64_t leftWeight = 0;
            if (total > 0 && lo < 255) {
                const int limit = hi - 1 < 255 ? hi - 1 : 255;
                const int64_t half = wrap_add(total, 1) >> 1;
                // The first symbol always goes left (lo < limit here): a legitimate table's
                // half is at least 1 anyway, and a wrapped one must still leave both parts
                // non-empty.
                mid = lo;
                do {
                    leftWeight = wrap_add(leftWeight, count(mid));
                    mid++;
                } while (leftWeight < half && mid < limit);
            } else {
                mid = lo + (hi - lo) / 2;
            }
            assert(next < kRangeTreeNodes);
            const int index = next++;
            split(lo, mid, leftWeight);
            tree[index] = {static_cast<uint16_t>(next), static_cast<uint16_t>(mid)};
            lo = mid;
            total = wrap_sub(total, leftWeight);
        }
    }
};

class Compressor final : public CompressorInterface {
public:
    Compressor(SubstreamSink* sink, const uint64_t* counts, uint64_t* countsOut,
               CompressionStats* stats)
        : sink_(sink),
          stats_(stats ? stats : &ownStats_),
          countsOut_(countsOut),
          models_(reinterpret_cast<const int64_t*>(counts)) {
        char magic[4];
        std::memcpy(magic, kMagic, 4);
        sink_->callback(sink_->ctx, 0, magic, 4);
        uint8_t table[kRangeCountEntries * 8] = {};
        if (counts) std::memcpy(table, counts, sizeof(table));
        sink_->callback(sink_->ctx, 0, table, static_cast<int32_t>(sizeof(table)));
        if (countsOut_) std::memset(countsOut_, 0, kRangeCountEntries * sizeof(uint64_t));
    }
    ~Compressor() override {
        for (int i = 0; i < 5; i++) shiftLow();
    }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    void compress(const uint32_t* codes, int32_t n, uint32_t tag) override {
        const uint32_t t = tag != 0 ? 1 : 0;
        uint32_t groupContext = 0;
        uint32_t valueContext = 0;
        previous_ = 1022;
        encodeBit(models_.tag, t);
        uint16_t* groupModel = models_.group + t * 4096;
        uint16_t* valueModel = models_.value + t * 65536;
        for (int32_t i = 0; i < n; i += 16) {
            const int32_t end = i + 16 <= n ? i + 16 : n;
            uint32_t any = 0;
            for (int32_t j = i; j < end; j++) any |= codes[j];
            const uint32_t g = any != 0 ? 1 : 0;
            encodeBit(groupModel[groupContext], g);
            groupContext = (2 * groupContext + g) & 0xFFF;
            stats_->groups += 1;
            if (!g) {
                stats_->zeroGroups += 1;
                continue;
            }
            for (int32_t j = i; j < end; j++) {
                const uint32_t v = codes[j] != 0 ? 1 : 0;
                encodeBit(valueModel[valueContext], v);
                valueContext = (2 * valueContext + v) & 0xFFFF;
                if (v) encodeSymbol(codes[j], t);
            }
        }
        stats_->rows += 1;
        stats_->rawBytes += 4 * static_cast<uint64_t>(n > 0 ? n : 0);
        if (t) stats_->predictedRows += 1;
    }

private:
    void encodeBit(uint16_t& p, uint32_t bit) {
        const uint32_t bound = (range_ >> kProbBits) * p;
        if (bit == 0) {
            range_ = bound;
            update0(p);
        } else {
            low_ += bound;
            range_ -= bound;
            update1(p);
        }
        if (range_ < kTopValue) {
            range_ <<= 8;
            shiftLow();
        }
    }
    void shiftLow() {
        const uint32_t carry = static_cast<uint32_t>(low_ >> 32);
        if (static_cast<uint32_t>(low_) < 0xFF000000u || carry != 0) {
            uint8_t byte = static_cast<uint8_t>(cache_ + carry);
            sink_->callback(sink_->ctx, 0, &byte, 1);
            for (; cacheSize_ > 1; cacheSize_--) {
                byte = static_cast<uint8_t>(0xFF + carry);
                sink_->callback(sink_->ctx, 0, &byte, 1);
            }
            cache_ = static_cast<uint8_t>(static_cast<uint32_t>(low_) >> 24);
            cacheSize_ = 0;
        }
        cacheSize_ += 1;
        low_ = (low_ & 0x00FFFFFFu) << 8;
    }
    void encodeBits(uint16_t* model, int numBits, uint32_t value) {
        uint32_t m = 1;
        for (int i = numBits - 1; i >= 0; i--) {
            const uint32_t bit = (value >> i) & 1;
            encodeBit(model[m], bit);
            m = 2 * m + bit;
        }
    }
    void encodeSymbol(uint32_t z, uint32_t t) {
        const uint32_t b = z - 1;
        if (countsOut_) countsOut_[b < 255 ? b : 255] += 1;
        const uint32_t s = z < 1024 ? b : 1023;
        uint16_t* model = models_.treeRow(t, previous_);
        uint32_t node = 0;
        uint32_t lo = 0;
        uint32_t hi = kRangeSymbols;
        while (hi - lo > 1) {
            const SplitNode rec = models_.nodes[node];
            const uint32_t right = s >= rec.split ? 1 : 0;
            encodeBit(model[node], right);
            if (right) {
                lo = rec.split;
                node = rec.right;
            } else {
                hi = rec.split;
                node = node + 1;
            }
        }
        previous_ = s;
        stats_->codeSum += z;
        if (static_cast<int32_t>(b) > stats_->largestEscaped)
            stats_->largestEscaped = static_cast<int32_t>(b);
        if (z < 1024) {
            stats_->directCodes += 1;
            return;
        }
        const uint32_t v = z - 1024;
        encodeBits(models_.escapeLow, kEscapeLowBits, (v >= 65536 ? 0x10000u : 0u) | (v & 0xFFFF));
        if (v >= 65536) encodeBits(models_.escapeHigh, kEscapeHighBits, v >> 16);
        stats_->escapedCodes += 1;
    }

    std::unique_ptr<SubstreamSink> sink_;
    CompressionStats* stats_;
    CompressionStats ownStats_{};
    uint64_t* countsOut_;
    uint32_t cacheSize_ = 1;
    uint8_t cache_ = 0;
    uint64_t low_ = 0;
    uint32_t range_ = 0xFFFFFFFFu;
    uint32_t previous_ = 1022;
    RangeModels models_;
};

// Reads the magic and the count table before the models are built.
struct RangeHeader {
    bool magicOk;
    int64_t counts[kRangeCountEntries];

    explicit RangeHeader(SubstreamSink* sink) {
        char magic[4] = {};
        sink->callback(sink->ctx, 0, magic, 4);
        magicOk = std::memcmp(magic, kMagic, 4) == 0;
        if (!magicOk) sink->report(sink->ctx);
        sink->callback(sink->ctx, 0, counts, static_cast<int32_t>(sizeof(counts)));
    }
};

class Decompressor final : public DecompressorInterface {
public:
    explicit Decompressor(SubstreamSink* sink)
        : sink_(sink), models_(RangeHeader(sink_.get()).counts) {
        for (int i = 0; i < 5; i++) code_ = (code_ << 8) | nextByte();
    }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    uint32_t decompress(uint32_t* out, const uint32_t* ref, int32_t n) override {
        return decodeRow(out, ref, n);
    }
    // 16-bit rows were written as the codes of their widened values: decoding them as 32-bit
    // rows and keeping the low 16 bits is exact.
    uint32_t decompress16(uint16_t* out, const uint16_t* ref, int32_t n) override {
        return decodeRow(out, ref, n);
    }
    bool rebuildsRows() const override { return true; }

private:
    uint32_t nextByte() {
        uint8_t byte = 0;
        sink_->callback(sink_->ctx, 0, &byte, 1);
        return byte;
    }
    uint32_t decodeBit(uint16_t& p) {
        const uint32_t bound = (range_ >> kProbBits) * p;
        uint32_t bit;
        if (code_ < bound) {
            range_ = bound;
            update0(p);
            bit = 0;
        } else {
            code_ -= bound;
            range_ -= bound;
            update1(p);
            bit = 1;
        }
        if (range_ < kTopValue) {
            range_ <<= 8;
            code_ = (code_ << 8) | nextByte();
        }
        return bit;
    }
    uint32_t decodeBits(uint16_t* model, int numBits) {
        uint32_t m = 1;
        for (int i = 0; i < numBits; i++) m = 2 * m + decodeBit(model[m]);
        return m - (1u << numBits);
    }
    uint32_t decodeSymbol(uint32_t t) {
        uint16_t* model = models_.treeRow(t, previous_);
        uint32_t node = 0;
        uint32_t lo = 0;
        uint32_t hi = kRangeSymbols;
        while (hi - lo > 1) {
            const SplitNode rec = models_.nodes[node];
            if (decodeBit(model[node])) {
                lo = rec.split;
                node = rec.right;
            } else {
                hi = rec.split;
                node = node + 1;
            }
        }
        previous_ = lo;
        if (lo < 1023) return lo + 1;
        const uint32_t w = decodeBits(models_.escapeLow, kEscapeLowBits);
        if (w < 65536) return 1024 + w;
        const uint32_t h = decodeBits(models_.escapeHigh, kEscapeHighBits);
        return 1024 + ((h << 16) | (w & 0xFFFF));
    }
    template <typename T>
    uint32_t decodeRow(T* out, const T* ref, int32_t n) {
        previous_ = 1022;
        const uint32_t t = decodeBit(models_.tag);
        const bool predicted = ref != nullptr && t != 0;
        uint16_t* groupModel = models_.group + t * 4096;
        uint16_t* valueModel = models_.value + t * 65536;
        uint32_t groupContext = 0;
        uint32_t valueContext = 0;
        uint32_t acc = ref ? ref[0] : 0;
        for (int32_t i = 0; i < n; i += 16) {
            const int32_t end = i + 16 <= n ? i + 16 : n;
            const uint32_t g = decodeBit(groupModel[groupContext]);
            groupContext = (2 * groupContext + g) & 0xFFF;
            for (int32_t j = i; j < end; j++) {
                uint32_t z = 0;
                if (g) {
                    const uint32_t v = decodeBit(valueModel[valueContext]);
                    valueContext = (2 * valueContext + v) & 0xFFFF;
                    if (v) z = decodeSymbol(t);
                }
                if (j > 0 && predicted)
                    acc += static_cast<uint32_t>(ref[j]) - static_cast<uint32_t>(ref[j - 1]);
                acc += zigzag_decode(z);
                out[j] = static_cast<T>(acc);
            }
        }
        return t;
    }

    std::unique_ptr<SubstreamSink> sink_;  // first: released even when construction throws
    uint32_t range_ = 0xFFFFFFFFu;
    uint32_t code_ = 0;
    uint32_t previous_ = 1022;
    RangeModels models_;
};

}  // namespace

void CreateOptimalTree(SplitNode* tree, const int64_t* counts) {
    TreeBuilder builder{tree, counts};
    int64_t total = 0;
    if (counts)
        for (int i = 0; i < kRangeCountEntries; i++) total = wrap_add(total, counts[i]);
    builder.split(0, kRangeSymbols, total);
    // Every table gives a full tree: both parts of each split are non-empty.
    assert(builder.next == kRangeTreeNodes);
}

CompressorInterface* NewCompressor(SubstreamSink* sink, const uint64_t* counts, uint64_t* countsOut,
                                   CompressionStats* stats) {
    return new Compressor(sink, counts, countsOut, stats);
}

DecompressorInterface* NewDecompressor(SubstreamSink* sink) {
    return new Decompressor(sink);
}
