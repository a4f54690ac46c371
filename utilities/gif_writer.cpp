#include "utilities/gif_writer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr uint32_t kMaxDimension = 65535;
constexpr int kLzwCodeLimit = 4096;

// One frame's colours: entries 0 .. 2^depth - 1 (entry 0 transparent and black) and a k-d tree
// over RGB in heap numbering. Nodes 1 .. 2^depth - 1 split on a component (0 red, 1 green,
// 2 blue) at a value; nodes 2^depth .. 2^(depth+1) - 1 are the leaves, entry node - 2^depth.
struct FramePalette {
    int32_t bitDepth;
    uint8_t red[256];
    uint8_t green[256];
    uint8_t blue[256];
    uint8_t splitComponent[256];
    uint8_t splitValue[256];
};

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Buffer = std::unique_ptr<T[], FreeDeleter>;

template <typename T>
Buffer<T> Allocate(uint64_t count, bool zeroed = false) {
    void* p = zeroed ? std::calloc(count, sizeof(T)) : std::malloc(count * sizeof(T));
    return Buffer<T>(static_cast<T*>(p));
}

void Put16(FILE* file, uint32_t value) {
    std::fputc(value & 0xFF, file);
    std::fputc(value >> 8 & 0xFF, file);
}

// Exchanges two pixels of a working copy, whose fourth bytes nothing reads: whole 4-byte words.
void SwapPixels(uint8_t* pixels, uint64_t a, uint64_t b) {
    uint32_t pa, pb;
    std::memcpy(&pa, pixels + 4 * a, 4);
    std::memcpy(&pb, pixels + 4 * b, 4);
    std::memcpy(pixels + 4 * a, &pb, 4);
    std::memcpy(pixels + 4 * b, &pa, 4);
}

// Moves the pixels that differ from `previous` to the front; returns how many there are.
uint64_t KeepChangedPixels(const uint8_t* previous, uint8_t* pixels, uint64_t count) {
    uint64_t kept = 0;
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* p = pixels + 4 * i;
        const uint8_t* q = previous + 4 * i;
        if (p[0] != q[0] || p[1] != q[1] || p[2] != q[2]) {
            std::memmove(pixels + 4 * kept, p, 3);
            ++kept;
        }
    }
    return kept;
}

// Quicksort partition around the value at `pivot`; equal values alternate between the sides so
// runs of one colour still split near the middle.
uint64_t PartitionPixels(uint8_t* pixels, uint64_t left, uint64_t right, int component,
                         uint64_t pivot) {
    const uint8_t pivot_value = pixels[4 * pivot + component];
    SwapPixels(pixels, pivot, right - 1);
    uint64_t store = left;
    bool move_equal = false;
    for (uint64_t i = left; i + 1 < right; ++i) {
        const uint8_t value = pixels[4 * i + component];
        if (value < pivot_value) {
            SwapPixels(pixels, i, store++);
        } else if (value == pivot_value) {
            if (move_equal) SwapPixels(pixels, i, store++);
            move_equal = !move_equal;
        }
    }
    SwapPixels(pixels, store, right - 1);
    return store;
}

// Selection: afterwards position `needed` holds its sorted value, smaller-or-equal before it,
// larger-or-equal after it.
void PartitionPixelsByMedian(uint8_t* pixels, uint64_t left, uint64_t right, int component,
                             uint64_t needed) {
    while (left + 1 < right) {
        const uint64_t at =
            PartitionPixels(pixels, left, right, component, left + (right - left) / 2);
        if (at > needed)
            right = at;
        else if (at < needed)
            left = at + 1;
        else
            return;
    }
}

// Median cut: gives entries first .. end - 1 colours from `count` pixels and fills the tree
// nodes above them. Recurses on the lower half, iterates on the upper.
void SplitPaletteBox(uint8_t* pixels, uint64_t count, int first, int end, int split, int distance,
                     int node, bool for_dither, FramePalette* palette) {
    const int last_entry = (1 << palette->bitDepth) - 1;
    for (;;) {
        if (end <= first || count == 0) return;
        if (end == first + 1) {
            uint8_t color[3];
            for (int c = 0; c < 3; ++c) {
                // Dithering needs the extremes of the colour space to reach every colour.
                if (for_dither && (first == 1 || first == last_entry)) {
                    uint8_t extreme = first == 1 ? 255 : 0;
                    for (uint64_t i = 0; i < count; ++i)
                        extreme = first == 1 ? std::min(extreme, pixels[4 * i + c])
                                             : std::max(extreme, pixels[4 * i + c]);
                    color[c] = extreme;
                } else {
                    uint64_t sum = 0;
                    for (uint64_t i = 0; i < count; ++i) sum += pixels[4 * i + c];
                    color[c] = static_cast<uint8_t>((sum + count / 2) / count);
                }
            }
            palette->red[first] = color[0];
            palette->green[first] = color[1];
            palette->blue[first] = color[2];
            return;
        }
        int low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
        for (uint64_t i = 0; i < count; ++i)
            for (int c = 0; c < 3; ++c) {
                low[c] = std::min<int>(low[c], pixels[4 * i + c]);
                high[c] = std::max<int>(high[c], pixels[4 * i + c]);
            }
        const int range_r = high[0] - low[0], range_g = high[1] - low[1];
        const int range_b = high[2] - low[2];
        int component = 1;
        if (range_b > range_g) component = 2;
        if (range_r > range_b && range_r > range_g) component = 0;

        const uint64_t lower =
            count * static_cast<uint64_t>(split - first) / static_cast<uint64_t>(end - first);
        PartitionPixelsByMedian(pixels, 0, count, component, lower);
        palette->splitComponent[node] = static_cast<uint8_t>(component);
        palette->splitValue[node] = pixels[4 * lower + component];

        SplitPaletteBox(pixels, lower, first, split, split - distance, distance / 2, 2 * node,
                        for_dither, palette);
        pixels += 4 * lower;
        count -= lower;
        first = split;
        split += distance;
        distance /= 2;
        node = 2 * node + 1;
    }
}

// `work` holds width x height x 4 bytes of scratch. `previous` null: every pixel counts.
void BuildFramePalette(const uint8_t* previous, const uint8_t* image, uint64_t pixel_count,
                       int32_t bit_depth, bool for_dither, uint8_t* work, FramePalette* palette) {
    palette->bitDepth = bit_depth;
    std::memcpy(work, image, pixel_count * 4);
    uint64_t count = pixel_count;
    if (previous != nullptr) count = KeepChangedPixels(previous, work, pixel_count);
    const int entries = 1 << bit_depth;
    SplitPaletteBox(work, count, 1, entries, entries / 2, entries / 4, 1, for_dither, palette);
    // The node above leaves 0 and 1 sends every colour towards entry 1 first.
    palette->splitComponent[entries / 2] = 0;
    palette->splitValue[entries / 2] = 0;
    palette->red[0] = palette->green[0] = palette->blue[0] = 0;
}

// Nearest entry (sum of absolute differences) below `node`, pruned by the split planes; ties
// keep the entry found first; entry 0 is never chosen.
struct ClosestEntrySearch {
    const FramePalette& palette;
    int entries;  // 2^depth: nodes from here on are leaves
    int color[3];
    int bestEntry = 0;
    int bestDistance = 1000000;

    void search(int node) {
        if (node >= entries) {
            const int entry = node - entries;
            if (entry == 0) return;
            const int distance = std::abs(color[0] - palette.red[entry]) +
                                 std::abs(color[1] - palette.green[entry]) +
                                 std::abs(color[2] - palette.blue[entry]);
            if (distance < bestDistance) {
                bestEntry = entry;
                bestDistance = distance;
            }
            return;
        }
        const int value = color[palette.splitComponent[node]];
        const int split = palette.splitValue[node];
        if (split > value) {
            search(2 * node);
            if (bestDistance > split - value) search(2 * node + 1);
        } else {
            search(2 * node + 1);
            if (bestDistance > value - split) search(2 * node);
        }
    }
};

int ClosestEntry(const FramePalette& palette, int r, int g, int b) {
    ClosestEntrySearch search{palette, 1 << palette.bitDepth, {r, g, b}};
    search.search(1);
    return search.bestEntry;
}

// `out` may be `previous`: each pixel is read before it is written.
void ThresholdFrame(const uint8_t* previous, const uint8_t* image, uint8_t* out,
                    uint64_t pixel_count, const FramePalette& palette) {
    for (uint64_t i = 0; i < pixel_count; ++i) {
        const uint8_t* p = image + 4 * i;
        uint8_t* o = out + 4 * i;
        if (previous != nullptr && previous[4 * i] == p[0] && previous[4 * i + 1] == p[1] &&
            previous[4 * i + 2] == p[2]) {
            o[0] = p[0], o[1] = p[1], o[2] = p[2], o[3] = 0;
            continue;
        }
        const int entry = ClosestEntry(palette, p[0], p[1], p[2]);
        o[0] = palette.red[entry];
        o[1] = palette.green[entry];
        o[2] = palette.blue[entry];
        o[3] = static_cast<uint8_t>(entry);
    }
}

// Floyd-Steinberg in 8 fractional bits. `work` holds 4 x pixel_count numbers; `out` may be
// `previous`, which is read only before the output is written.
void DitherFrame(const uint8_t* previous, const uint8_t* image, uint8_t* out, uint32_t width,
                 uint64_t pixel_count, const FramePalette& palette, int32_t* work) {
    for (uint64_t i = 0; i < 4 * pixel_count; ++i) work[i] = image[i] * 256;
    for (uint64_t i = 0; i < pixel_count; ++i) {
        int32_t* p = work + 4 * i;
        const int r = (p[0] + 127) / 256, g = (p[1] + 127) / 256, b = (p[2] + 127) / 256;
        if (previous != nullptr && previous[4 * i] == r && previous[4 * i + 1] == g &&
            previous[4 * i + 2] == b) {
            p[0] = r, p[1] = g, p[2] = b, p[3] = 0;
            continue;
        }
        const int entry = ClosestEntry(palette, r, g, b);
        const int32_t error[3] = {p[0] - palette.red[entry] * 256,
                                  p[1] - palette.green[entry] * 256,
                                  p[2] - palette.blue[entry] * 256};
        p[0] = palette.red[entry], p[1] = palette.green[entry], p[2] = palette.blue[entry];
        p[3] = entry;
        // Offsets wrap at the row edges. With a width of 1 the below-left offset is the pixel
        // itself, already mapped: it is skipped so the frame keeps the colour it was given.
        const struct {
            uint64_t offset;
            int weight;
        } neighbours[4] = {{1, 7}, {uint64_t(width) - 1, 3}, {width, 5}, {uint64_t(width) + 1, 1}};
        for (const auto& n : neighbours) {
            if (n.offset == 0 || i + n.offset >= pixel_count) continue;
            int32_t* q = work + 4 * (i + n.offset);
            for (int c = 0; c < 3; ++c) q[c] = std::max(0, q[c] + error[c] * n.weight / 16);
        }
    }
    for (uint64_t i = 0; i < 4 * pixel_count; ++i) out[i] = static_cast<uint8_t>(work[i]);
}

// Codes least significant bit first into 255-byte sub-blocks.
struct LzwBitWriter {
    FILE* file;
    uint8_t bitIndex = 0;
    uint8_t currentByte = 0;
    uint32_t chunkLength = 0;
    uint8_t chunk[256];

    void writeChunk() {
        std::fputc(static_cast<int>(chunkLength), file);
        std::fwrite(chunk, 1, chunkLength, file);
        chunkLength = 0;
        bitIndex = 0;
        currentByte = 0;
    }
    void writeBit(uint32_t bit) {
        currentByte |= static_cast<uint8_t>((bit & 1) << bitIndex);
        if (++bitIndex == 8) {
            chunk[chunkLength++] = currentByte;
            bitIndex = 0;
            currentByte = 0;
        }
    }
    void writeCode(uint32_t code, int length) {
        for (int i = 0; i < length; ++i) {
            writeBit(code >> i);
            if (chunkLength == 255) writeChunk();
        }
    }
};

void WriteColorTable(FILE* file, const FramePalette& palette) {
    std::fputc(0, file), std::fputc(0, file), std::fputc(0, file);
    for (int i = 1; i < (1 << palette.bitDepth); ++i) {
        std::fputc(palette.red[i], file);
        std::fputc(palette.green[i], file);
        std::fputc(palette.blue[i], file);
    }
}

// `table` is the zeroed 4096 x 256 code table: entry (code, index) is the code extending `code`
// by `index`, 0 for none.
void WriteLzwFrame(FILE* file, const uint8_t* pixels, uint32_t width, uint32_t height,
                   uint32_t delay, const FramePalette& palette, uint16_t* table) {
    std::fputc(0x21, file), std::fputc(0xF9, file), std::fputc(0x04, file);
    std::fputc(0x05, file);  // do not dispose; transparent entry present
    Put16(file, delay);
    std::fputc(0, file), std::fputc(0, file);

    std::fputc(0x2C, file);
    Put16(file, 0), Put16(file, 0), Put16(file, width), Put16(file, height);
    std::fputc(0x80 + palette.bitDepth - 1, file);
    WriteColorTable(file, palette);

    // GIF decoders need a minimum code size of at least 2.
    const int min_code_size = std::max(2, static_cast<int>(palette.bitDepth));
    const uint32_t clear_code = 1u << min_code_size;
    std::fputc(min_code_size, file);

    LzwBitWriter bits{file, 0, 0, 0, {}};
    int code_size = min_code_size + 1;
    uint32_t last_code = clear_code + 1;
    int32_t current = -1;
    bits.writeCode(clear_code, code_size);
    const uint64_t pixel_count = uint64_t(width) * height;
    for (uint64_t i = 0; i < pixel_count; ++i) {
        const uint32_t index = pixels[4 * i + 3];
        if (current < 0) {
            current = static_cast<int32_t>(index);
        } else if (table[current * 256 + index] != 0) {
            current = table[current * 256 + index];
        } else {
            bits.writeCode(static_cast<uint32_t>(current), code_size);
            table[current * 256 + index] = static_cast<uint16_t>(++last_code);
            if (last_code >= (1u << code_size)) ++code_size;
            if (last_code == kLzwCodeLimit - 1) {
                bits.writeCode(clear_code, code_size);
                std::memset(table, 0, sizeof(uint16_t) * kLzwCodeLimit * 256);
                code_size = min_code_size + 1;
                last_code = clear_code + 1;
            }
            current = static_cast<int32_t>(index);
        }
    }
    bits.writeCode(static_cast<uint32_t>(current), code_size);
    bits.writeCode(clear_code, code_size);
    bits.writeCode(clear_code + 1, min_code_size + 1);
    if (bits.bitIndex != 0) bits.chunk[bits.chunkLength++] = bits.currentByte;
    if (bits.chunkLength > 0) bits.writeChunk();
    std::fputc(0, file);
}

}  // namespace

bool AnimatedGifOpen(AnimatedGifWriter* writer, const char* path, uint32_t width, uint32_t height,
                     uint32_t loop) {
    if (writer->file != nullptr || width == 0 || height == 0 || width > kMaxDimension ||
        height > kMaxDimension)
        return false;
    uint8_t* frame = static_cast<uint8_t*>(std::malloc(uint64_t(width) * height * 4));
    if (frame == nullptr) return false;
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::free(frame);
        return false;
    }
    std::fputs("GIF89a", file);
    Put16(file, width);
    Put16(file, height);
    std::fputc(0xF0, file);  // global table of 2 entries, 8 bits a primary
    std::fputc(0, file);
    std::fputc(0, file);
    for (int i = 0; i < 6; ++i) std::fputc(0, file);
    if (loop != 0) {
        std::fputc(0x21, file), std::fputc(0xFF, file), std::fputc(0x0B, file);
        std::fputs("NETSCAPE2.0", file);
        std::fputc(0x03, file), std::fputc(0x01, file);
        Put16(file, 0);  // repeat for ever
        std::fputc(0, file);
    }
    if (std::ferror(file)) {
        std::fclose(file);
        std::free(frame);
        return false;
    }
    writer->file = file;
    writer->previousFrame = frame;
    writer->width = width;
    writer->height = height;
    writer->firstFrame = true;
    writer->writeFailed = false;
    return true;
}

bool AnimatedGifAddFrame(AnimatedGifWriter* writer, const uint8_t* image, uint32_t width,
                         uint32_t height, uint32_t delay, int32_t bitDepth, bool dither) {
    if (writer->file == nullptr || writer->writeFailed || image == nullptr ||
        width != writer->width || height != writer->height || bitDepth < 1 || bitDepth > 8)
        return false;
    const uint64_t pixel_count = uint64_t(width) * height;
    // Everything is allocated before anything changes, so a refusal leaves the writer as it was.
    Buffer<uint8_t> palette_work = Allocate<uint8_t>(pixel_count * 4);
    Buffer<int32_t> dither_work = dither ? Allocate<int32_t>(pixel_count * 4) : nullptr;
    Buffer<uint16_t> table = Allocate<uint16_t>(uint64_t(kLzwCodeLimit) * 256, true);
    if (!palette_work || (dither && !dither_work) || !table) return false;

    const uint8_t* previous = writer->firstFrame ? nullptr : writer->previousFrame;
    writer->firstFrame = false;
    FramePalette palette{};
    BuildFramePalette(dither ? nullptr : previous, image, pixel_count, bitDepth, dither,
                      palette_work.get(), &palette);
    if (dither)
        DitherFrame(previous, image, writer->previousFrame, width, pixel_count, palette,
                    dither_work.get());
    else
        ThresholdFrame(previous, image, writer->previousFrame, pixel_count, palette);
    WriteLzwFrame(writer->file, writer->previousFrame, width, height, delay, palette, table.get());
    if (std::ferror(writer->file)) writer->writeFailed = true;
    return !writer->writeFailed;
}

bool AnimatedGifClose(AnimatedGifWriter* writer) {
    if (writer->file == nullptr) return false;
    std::fputc(0x3B, writer->file);
    const bool written = !writer->writeFailed && !std::ferror(writer->file);
    const bool closed = std::fclose(writer->file) == 0;
    std::free(writer->previousFrame);
    writer->file = nullptr;
    writer->previousFrame = nullptr;
    return written && closed;
}
