// In-memory sub-streams for the row coder tests and fuzz targets: a write callback that appends,
// and a bounded read callback that reports through the corruption report when a read would pass
// the end of a sub-stream.
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "compression/fse_block.h"
#include "compression/row_coder.h"

struct CorruptInput : std::runtime_error {
    CorruptInput() : std::runtime_error("fse error") {}
};

// The tests' corruption report: throw, so a test sees it and goes on.
inline void throwing_report(void*) {
    throw CorruptInput();
}

struct MemoryStreams {
    std::vector<uint8_t> streams[24];
    size_t positions[24] = {};
    CorruptionReport report = throwing_report;

    static void write(void* ctx, int32_t s, void* data, int32_t length) {
        auto* self = static_cast<MemoryStreams*>(ctx);
        const auto* p = static_cast<const uint8_t*>(data);
        self->streams[s].insert(self->streams[s].end(), p, p + length);
    }
    static void read(void* ctx, int32_t s, void* data, int32_t length) {
        auto* self = static_cast<MemoryStreams*>(ctx);
        const std::vector<uint8_t>& stream = self->streams[s];
        if (length < 0 || self->positions[s] + static_cast<size_t>(length) > stream.size()) {
            self->report(ctx);
            std::memset(data, 0, length > 0 ? static_cast<size_t>(length) : 0);
            return;
        }
        std::memcpy(data, stream.data() + self->positions[s], static_cast<size_t>(length));
        self->positions[s] += static_cast<size_t>(length);
    }
    void rewind() {
        for (size_t& p : positions) p = 0;
    }
    size_t total() const {
        size_t t = 0;
        for (const auto& s : streams) t += s.size();
        return t;
    }
};

// One block of a sub-stream as written: header fields and where its payload lies.
struct BlockView {
    uint32_t rawCount;
    int32_t compressedSize;
    size_t offset;  // of the header within the sub-stream
    size_t size;    // header and payload
};

// Splits a sub-stream (after `skip` leading bytes) into its blocks; stops at a malformed tail.
inline std::vector<BlockView> split_blocks(const std::vector<uint8_t>& stream, size_t skip = 0) {
    std::vector<BlockView> blocks;
    size_t at = skip;
    while (at + 8 <= stream.size()) {
        BlockView b;
        std::memcpy(&b.rawCount, stream.data() + at, 4);
        std::memcpy(&b.compressedSize, stream.data() + at + 4, 4);
        const size_t payload = b.compressedSize > 1    ? static_cast<size_t>(b.compressedSize)
                               : b.compressedSize == 1 ? 1
                                                       : b.rawCount;
        b.offset = at;
        b.size = 8 + payload;
        if (at + b.size > stream.size()) break;
        blocks.push_back(b);
        at += b.size;
    }
    return blocks;
}

// The bytes a sub-stream stands for, blocks undone.
inline std::vector<uint8_t> unblock(const std::vector<uint8_t>& stream, size_t skip = 0) {
    std::vector<uint8_t> bytes;
    for (const BlockView& b : split_blocks(stream, skip)) {
        const uint8_t* payload = stream.data() + b.offset + 8;
        if (b.compressedSize > 1) {
            std::vector<uint8_t> out(b.rawCount);
            const size_t r = FSE_decompress(out.data(), out.size(), payload,
                                            static_cast<size_t>(b.compressedSize));
            if (r != b.rawCount) throw std::runtime_error("bad block");
            bytes.insert(bytes.end(), out.begin(), out.end());
        } else if (b.compressedSize == 1) {
            bytes.insert(bytes.end(), b.rawCount, payload[0]);
        } else {
            bytes.insert(bytes.end(), payload, payload + b.rawCount);
        }
    }
    return bytes;
}
