#include "compression/fast_coder.h"

#include <cstring>
#include <memory>

#include "compression/row_transform.h"

namespace {

constexpr uint32_t kBlockBits = 8 * kFastBlockBytes;
constexpr uint32_t kBlockNibbles = 2 * kFastBlockBytes;
constexpr int kWords = kFastBlockBytes / 8;

class FastCompressor final : public CompressorInterface {
public:
    FastCompressor(SubstreamSink* sink, CompressionStats* stats)
        : sink_(sink), stats_(stats ? stats : &ownStats_) {}
    ~FastCompressor() override {
        if (bitCount_ != 0) {
            bitCount_ = 0;
            send(1, bits_);
        }
        if (nibbleCount_ != 0) {
            nibbleCount_ = 0;
            send(2, nibbles_);
        }
        if (byteCount_ != 0) {
            byteCount_ = 0;
            send(0, bytes_);
        }
    }
    FastCompressor(const FastCompressor&) = delete;
    FastCompressor& operator=(const FastCompressor&) = delete;

    void compress(const uint32_t* codes, int32_t n, uint32_t tag) override {
        putBit(tag != 0 ? 1 : 0);
        for (int32_t i = 0; i < n; i += 8) {
            const int32_t end = i + 8 <= n ? i + 8 : n;
            uint32_t any = 0;
            for (int32_t j = i; j < end; j++) any |= codes[j];
            if (any == 0) {
                putBit(0);
                continue;
            }
            putBit(1);
            for (int32_t j = i; j < end; j++) {
                if (codes[j] == 0) {
                    putBit(0);
                } else {
                    putBit(1);
                    putValue(codes[j] - 1);
                }
            }
        }
        stats_->rows += 1;
        stats_->rawBytes += 4 * static_cast<uint64_t>(n > 0 ? n : 0);
        if (tag != 0) stats_->predictedRows += 1;
    }

private:
    void send(int32_t substream, void* block) {
        sink_->callback(sink_->ctx, substream, block, kFastBlockBytes);
        std::memset(block, 0, kFastBlockBytes);
    }
    void putBit(uint32_t bit) {
        bits_[bitCount_ / 64] |= uint64_t{bit} << (bitCount_ % 64);
        if (++bitCount_ == kBlockBits) {
            bitCount_ = 0;
            send(1, bits_);
        }
    }
    void putNibble(uint32_t nibble) {
        nibbles_[nibbleCount_ / 16] |= uint64_t{nibble} << (4 * (nibbleCount_ % 16));
        if (++nibbleCount_ == kBlockNibbles) {
            nibbleCount_ = 0;
            send(2, nibbles_);
        }
    }
    void putBytes(uint32_t value, int count) {
        for (int i = 0; i < count; i++) {
            bytes_[byteCount_] = static_cast<uint8_t>(value >> (8 * i));
            if (++byteCount_ == static_cast<uint32_t>(kFastBlockBytes)) {
                byteCount_ = 0;
                send(0, bytes_);
            }
        }
    }
    void putValue(uint32_t b) {
        if (b < 15) {
            putNibble(b);
            return;
        }
        putNibble(15);
        if (b < 255) {
            putBytes(b, 1);
            return;
        }
        putBytes(0xFF, 1);
        if (static_cast<int32_t>(b) > stats_->largestEscaped)
            stats_->largestEscaped = static_cast<int32_t>(b);
        if (b < 65535) {
            putBytes(b, 2);
            return;
        }
        putBytes(0xFFFF, 2);
        putBytes(b, 4);
    }

    std::unique_ptr<SubstreamSink> sink_;
    CompressionStats* stats_;
    CompressionStats ownStats_{};
    uint32_t bitCount_ = 0;
    uint64_t bits_[kWords] = {};
    uint32_t nibbleCount_ = 0;
    uint64_t nibbles_[kWords] = {};
    uint32_t byteCount_ = 0;
    uint8_t bytes_[kFastBlockBytes] = {};
};

class FastDecompressor final : public DecompressorInterface {
public:
    explicit FastDecompressor(SubstreamSink* sink) : sink_(sink) {}
    FastDecompressor(const FastDecompressor&) = delete;
    FastDecompressor& operator=(const FastDecompressor&) = delete;

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
    void fetch(int32_t substream, void* block) {
        // A report that returns leaves zeros, never the previous block's bytes.
        std::memset(block, 0, kFastBlockBytes);
        sink_->callback(sink_->ctx, substream, block, kFastBlockBytes);
    }
    uint32_t takeBit() {
        if (bitPosition_ == kBlockBits) {
            fetch(1, bits_);
            bitPosition_ = 0;
        }
        const uint32_t bit =
            static_cast<uint32_t>(bits_[bitPosition_ / 64] >> (bitPosition_ % 64)) & 1;
        bitPosition_++;
        return bit;
    }
    uint32_t takeNibble() {
        if (nibblePosition_ == kBlockNibbles) {
            fetch(2, nibbles_);
            nibblePosition_ = 0;
        }
        const uint32_t nibble =
            static_cast<uint32_t>(nibbles_[nibblePosition_ / 16] >> (4 * (nibblePosition_ % 16))) &
            15;
        nibblePosition_++;
        return nibble;
    }
    uint32_t takeBytes(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; i++) {
            if (bytePosition_ == static_cast<uint32_t>(kFastBlockBytes)) {
                fetch(0, bytes_);
                bytePosition_ = 0;
            }
            value |= uint32_t{bytes_[bytePosition_++]} << (8 * i);
        }
        return value;
    }
    uint32_t readValue() {
        uint32_t v = takeNibble();
        if (v < 15) return v;
        v = takeBytes(1);
        if (v < 255) return v;
        v = takeBytes(2);
        if (v < 65535) return v;
        return takeBytes(4);
    }
    template <typename T>
    uint32_t decodeRow(T* out, const T* ref, int32_t n) {
        const uint32_t t = takeBit();
        const bool predicted = ref != nullptr && t != 0;
        uint32_t acc = ref ? ref[0] : 0;
        for (int32_t i = 0; i < n; i += 8) {
            const int32_t end = i + 8 <= n ? i + 8 : n;
            const uint32_t g = takeBit();
            for (int32_t j = i; j < end; j++) {
                uint32_t z = 0;
                if (g && takeBit()) z = readValue() + 1;
                if (j > 0 && predicted)
                    acc += static_cast<uint32_t>(ref[j]) - static_cast<uint32_t>(ref[j - 1]);
                acc += zigzag_decode(z);
                out[j] = static_cast<T>(acc);
            }
        }
        return t;
    }

    std::unique_ptr<SubstreamSink> sink_;
    uint32_t bitPosition_ = kBlockBits;
    uint64_t bits_[kWords] = {};
    uint32_t nibblePosition_ = kBlockNibbles;
    uint64_t nibbles_[kWords] = {};
    uint32_t bytePosition_ = kFastBlockBytes;
    uint8_t bytes_[kFastBlockBytes] = {};
};

}  // namespace

CompressorInterface* NewFastCompressor(SubstreamSink* sink, CompressionStats* stats) {
    return new FastCompressor(sink, stats);
}

DecompressorInterface* NewFastDecompressor(SubstreamSink* sink) {
    return new FastDecompressor(sink);
}
