#include "utilities/gif_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "utilities_support.h"

namespace {

using Frame = std::vector<uint8_t>;  // RGBA rows, as the writer takes them

// Pixels of the grey patch of an 'n' frame: as many whole rounds of levels as fill half the frame.
size_t GreyPatch(uint32_t w, uint32_t h, int depth) {
    const size_t levels = (size_t{1} << depth) - 1;
    return size_t(w) * h / 2 / levels * levels;
}

// Frame kinds: 'r' noise, 'g' smooth gradient, 's' the previous frame as shown, 'p' the previous
// frame as shown with one patch changed, 'q' 2^depth - 1 grey levels in equal numbers (the pixel
// count a multiple of them), 'n' the previous frame as shown with its first half (rounded to whole
// rounds of levels) turned into those grey levels, 'm' a red ramp crowded at its dark end.
Frame MakeFrame(char kind, uint32_t w, uint32_t h, int depth, const Frame& previous,
                std::mt19937& rng) {
    Frame f(size_t(w) * h * 4);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* p = &f[4 * (size_t(y) * w + x)];
            const size_t i = size_t(y) * w + x;
            switch (kind) {
                case 'r':
                    for (int c = 0; c < 4; ++c) p[c] = uint8_t(rng());
                    break;
                case 'g':
                    p[0] = uint8_t(255 * x / w), p[1] = uint8_t(255 * y / h);
                    p[2] = uint8_t(128 + x - y), p[3] = 255;
                    break;
                case 'm':
                    p[0] = uint8_t(60 + 100 * x * x / (w * w)), p[1] = 90, p[2] = 170;
                    break;
                case 'q': {
                    const int levels = (1 << depth) - 1;
                    p[0] = p[1] = p[2] = uint8_t(1 + 250 * (i % levels) / levels);
                    break;
                }
                default:  // 's', 'p', 'n'
                    std::memcpy(p, &previous[4 * i], 4);
                    if (kind == 'p' && x < w / 2 + 1 && y < h / 3 + 1)
                        p[0] = uint8_t(p[0] + 40), p[2] = uint8_t(p[2] ^ 0x55);
                    if (kind == 'n' && i < GreyPatch(w, h, depth)) {
                        const int levels = (1 << depth) - 1;
                        p[0] = p[1] = p[2] = uint8_t(1 + 250 * (i % levels) / levels);
                    }
            }
        }
    return f;
}

uint32_t Le16(const std::string& b, size_t at) {
    return uint8_t(b[at]) | uint8_t(b[at + 1]) << 8;
}

// Walks the file: head, optional loop extension, per frame the control extension, descriptor,
// local table (kept in *tables) and image sub-blocks, then the trailer.
void CheckLayout(const std::string& b, uint32_t w, uint32_t h, int depth, bool loop, size_t frames,
                 std::vector<std::string>* tables) {
    const std::string head = std::string("GIF89a") + char(w) + char(w >> 8) + char(h) +
                             char(h >> 8) + '\xF0' + std::string(8, '\0');
    ASSERT_EQ(b.substr(0, head.size()), head);
    size_t at = head.size();
    const std::string loop_ext = std::string("\x21\xFF\x0BNETSCAPE2.0\x03\x01\0\0\0", 19);
    if (loop) {
        ASSERT_EQ(b.substr(at, loop_ext.size()), loop_ext);
        at += loop_ext.size();
    }
    for (size_t f = 0; f < frames; ++f) {
        ASSERT_EQ(b.substr(at, 4), "\x21\xF9\x04\x05");
        ASSERT_EQ(Le16(b, at + 4), 7u);  // delay
        ASSERT_EQ(b.substr(at + 6, 2), std::string(2, '\0'));
        at += 8;
        ASSERT_EQ(b[at], '\x2C');
        ASSERT_EQ(b.substr(at + 1, 4), std::string(4, '\0'));
        ASSERT_EQ(Le16(b, at + 5), w);
        ASSERT_EQ(Le16(b, at + 7), h);
        ASSERT_EQ(uint8_t(b[at + 9]), 0x80 + depth - 1);
        at += 10;
        const size_t table_bytes = 3u << depth;
        tables->push_back(b.substr(at, table_bytes));
        ASSERT_EQ(b.substr(at, 3), std::string(3, '\0'));
        at += table_bytes;
        ASSERT_EQ(int(b[at++]), std::max(2, depth));  // LZW minimum code size
        size_t last = 255;
        while (uint8_t(b.at(at)) != 0) {
            ASSERT_EQ(last, 255u) << "a short sub-block before the last";
            last = uint8_t(b[at]);
            at += 1 + last;
        }
        ++at;
    }
    ASSERT_EQ(at + 1, b.size());
    ASSERT_EQ(b[at], '\x3B');
}

struct GifCase {
    uint32_t w, h;
    int depth;
    bool dither;
    uint32_t loop;
    const char* frames;
};

// Files decoded by two independent decoders equal the writer's record of what it wrote; the
// layout follows the format; an unchanged frame is all transparent; a frame of as many grey
// levels as entries comes back exact; a threshold frame maps every pixel to a nearest entry.
TEST(GifWriter, DecodersSeeWhatTheWriterRecorded) {
    const GifCase cases[] = {
        {1, 1, 1, false, 0, "rsr"},     {1, 1, 8, true, 1, "rrs"},     {2, 3, 1, true, 0, "grsp"},
        {17, 9, 2, false, 1, "rpsr"},   {21, 9, 3, true, 0, "qpsr"},   {33, 20, 4, false, 0, "gpr"},
        {40, 31, 5, true, 1, "rps"},    {63, 48, 6, false, 0, "qgs"},  {64, 48, 7, true, 0, "gpp"},
        {400, 300, 8, false, 1, "rps"}, {400, 300, 8, true, 0, "gr"},  {255, 64, 8, false, 0, "q"},
        {30, 20, 4, false, 0, "rn"},    {255, 64, 8, false, 1, "rnn"}, {28, 31, 3, false, 0, "q"},
        {150, 100, 2, true, 1, "q"},
    };
    ScratchDir dir;
    std::mt19937 rng(6101);
    int n = 0;
    for (const GifCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " depth " +
                     std::to_string(c.depth) + " dither " + std::to_string(c.dither) + " " +
                     c.frames);
        const std::string path = dir.file(std::to_string(n++) + ".gif");
        AnimatedGifWriter writer;
        ASSERT_TRUE(AnimatedGifOpen(&writer, path.c_str(), c.w, c.h, c.loop));
        std::vector<Frame> inputs, recorded;
        for (const char* k = c.frames; *k; ++k) {
            inputs.push_back(MakeFrame(*k, c.w, c.h, c.depth,
                                       recorded.empty() ? Frame() : recorded.back(), rng));
            ASSERT_TRUE(
                AnimatedGifAddFrame(&writer, inputs.back().data(), c.w, c.h, 7, c.depth, c.dither));
            recorded.emplace_back(writer.previousFrame,
                                  writer.previousFrame + inputs.back().size());
        }
        ASSERT_TRUE(AnimatedGifClose(&writer));

        std::vector<std::string> tables;
        CheckLayout(ReadFile(path), c.w, c.h, c.depth, c.loop != 0, inputs.size(), &tables);

        int status = 0;
        const std::string pil = RunCommand(
            "/usr/bin/python3 " NLHE_TEST_DATA_DIR "/utilities/gif_frames.py " + path, &status);
        ASSERT_EQ(status, 0);
        const size_t frame_bytes = size_t(c.w) * c.h * 3;
        ASSERT_EQ(pil.size(), 12 + inputs.size() * frame_bytes);
        ASSERT_EQ(Le16(pil, 0), inputs.size());
        ASSERT_EQ(Le16(pil, 4), c.w);
        ASSERT_EQ(Le16(pil, 8), c.h);
        const std::string indices = RunCommand("giftext -r " + path, &status);
        ASSERT_EQ(status, 0);
        ASSERT_EQ(indices.size(), inputs.size() * c.w * c.h);

        for (size_t f = 0; f < inputs.size(); ++f) {
            for (size_t i = 0; i < size_t(c.w) * c.h; ++i) {
                const uint8_t* want = &recorded[f][4 * i];
                const char* got = &pil[12 + f * frame_bytes + 3 * i];
                ASSERT_EQ(std::string(got, 3), std::string((const char*)want, 3))
                    << "frame " << f << " pixel " << i;
                ASSERT_EQ(uint8_t(indices[f * c.w * c.h + i]), want[3]);
                if (c.frames[f] == 's') {
                    ASSERT_EQ(want[3], 0);
                }
                // Equally many pixels of as many levels as entries: each level gets an entry, with
                // a threshold 'n' frame only if the palette holds the changed pixels alone.
                if (c.frames[f] == 'q' ||
                    (c.frames[f] == 'n' && !c.dither && i < GreyPatch(c.w, c.h, c.depth))) {
                    ASSERT_EQ(std::memcmp(want, &inputs[f][4 * i], 3), 0) << "grey level lost";
                }
                if (c.frames[f] == 'r' && f == 0 && !c.dither && c.w * c.h > 1000) {
                    const uint8_t* in = &inputs[f][4 * i];
                    const std::string& t = tables[f];
                    int best = 1 << 30;
                    for (size_t e = 3; e < t.size(); e += 3)
                        best = std::min(best, std::abs(in[0] - uint8_t(t[e])) +
                                                  std::abs(in[1] - uint8_t(t[e + 1])) +
                                                  std::abs(in[2] - uint8_t(t[e + 2])));
                    ASSERT_EQ(std::abs(in[0] - want[0]) + std::abs(in[1] - want[1]) +
                                  std::abs(in[2] - want[2]),
                              best);
                }
            }
        }
    }
}

// Floyd-Steinberg in 8 fractional bits over the palette the file holds, nearest entry by brute
// force; between equally near entries the one in `shown` is taken (the tree may find either). A
// pixel that rounds to the colour `previous` shows stays transparent and spreads nothing.
Frame DitherReference(const uint8_t* image, uint32_t w, uint32_t h, const std::string& table,
                      const Frame* previous, const Frame& shown) {
    const size_t n = size_t(w) * h;
    std::vector<int> v(4 * n);
    for (size_t i = 0; i < 4 * n; ++i) v[i] = image[i] * 256;
    for (size_t i = 0; i < n; ++i) {
        int* p = &v[4 * i];
        const int c[3] = {(p[0] + 127) / 256, (p[1] + 127) / 256, (p[2] + 127) / 256};
        if (previous && std::equal(c, c + 3, &(*previous)[4 * i])) {
            std::copy(c, c + 3, p);
            p[3] = 0;
            continue;
        }
        int best = 0, best_distance = 1 << 30;
        for (int e = 1; e < int(table.size() / 3); ++e) {
            int d = 0;
            for (int k = 0; k < 3; ++k) d += std::abs(c[k] - uint8_t(table[3 * e + k]));
            if (d < best_distance || (d == best_distance && e == shown[4 * i + 3]))
                best = e, best_distance = d;
        }
        int error[3];
        for (int k = 0; k < 3; ++k) {
            error[k] = p[k] - uint8_t(table[3 * best + k]) * 256;
            p[k] = uint8_t(table[3 * best + k]);
        }
        p[3] = best;
        const size_t offsets[4] = {1, w - 1, w, size_t(w) + 1};
        const int weights[4] = {7, 3, 5, 1};
        for (int j = 0; j < 4; ++j)
            if (i + offsets[j] < n)
                for (int k = 0; k < 3; ++k)
                    v[4 * (i + offsets[j]) + k] =
                        std::max(0, v[4 * (i + offsets[j]) + k] + error[k] * weights[j] / 16);
    }
    Frame out(4 * n);
    for (size_t i = 0; i < 4 * n; ++i) out[i] = uint8_t(v[i]);
    return out;
}

// A dithered frame is the integer error diffusion over its palette, offsets wrapping at row edges,
// also over a previous frame; it keeps a smooth frame's mean colour where four entries cannot.
TEST(GifWriter, DitheringDiffusesTheErrorInIntegers) {
    ScratchDir dir;
    std::mt19937 rng(1);
    const struct {
        uint32_t w, h;
        int depth;
        char kind;
    } cases[] = {{96, 64, 2, 'm'}, {37, 5, 3, 'g'}, {2, 9, 2, 'r'}, {50, 40, 5, 'r'}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " " + c.kind);
        const Frame image = MakeFrame(c.kind, c.w, c.h, c.depth, {}, rng);
        double error[2] = {};
        for (bool dither : {false, true}) {
            const std::string path = dir.file("d.gif");
            AnimatedGifWriter writer;
            ASSERT_TRUE(AnimatedGifOpen(&writer, path.c_str(), c.w, c.h, 0));
            std::vector<Frame> inputs = {image}, shown;
            for (size_t f = 0; f < (dither ? 2u : 1u); ++f) {
                if (f == 1) inputs.push_back(MakeFrame('p', c.w, c.h, c.depth, shown[0], rng));
                ASSERT_TRUE(
                    AnimatedGifAddFrame(&writer, inputs[f].data(), c.w, c.h, 7, c.depth, dither));
                shown.emplace_back(writer.previousFrame, writer.previousFrame + image.size());
            }
            ASSERT_TRUE(AnimatedGifClose(&writer));
            for (int k = 0; k < 3; ++k) {
                double diff = 0;
                for (size_t i = 0; i < size_t(c.w) * c.h; ++i)
                    diff += double(shown[0][4 * i + k]) - image[4 * i + k];
                error[dither] = std::max(error[dither], std::abs(diff) / (c.w * c.h));
            }
            if (!dither) continue;
            std::vector<std::string> tables;
            CheckLayout(ReadFile(path), c.w, c.h, c.depth, false, 2, &tables);
            for (size_t f = 0; f < 2; ++f)
                EXPECT_TRUE(shown[f] == DitherReference(inputs[f].data(), c.w, c.h, tables[f],
                                                        f ? &shown[0] : nullptr, shown[f]))
                    << "frame " << f;
        }
        if (c.kind == 'm') {
            EXPECT_LT(error[1], 0.25);
            EXPECT_GT(error[0], 1.0);
        }
    }
}

// Refusals write nothing; a full device fails a frame or the close.
TEST(GifWriter, RefusesBadArgumentsAndReportsWriteErrors) {
    ScratchDir dir;
    const std::string path = dir.file("x.gif");
    AnimatedGifWriter writer;
    for (auto [w, h] : {std::pair<uint32_t, uint32_t>{0, 5}, {5, 0}, {65536, 2}, {2, 65536}}) {
        EXPECT_FALSE(AnimatedGifOpen(&writer, path.c_str(), w, h, 0));
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    EXPECT_FALSE(AnimatedGifOpen(&writer, dir.file("no/such/dir.gif").c_str(), 4, 4, 0));
    const Frame frame(8 * 8 * 4, 9);
    EXPECT_FALSE(AnimatedGifAddFrame(&writer, frame.data(), 8, 8, 7, 4, false));
    EXPECT_FALSE(AnimatedGifClose(&writer));

    ASSERT_TRUE(AnimatedGifOpen(&writer, path.c_str(), 8, 8, 0));
    EXPECT_FALSE(AnimatedGifOpen(&writer, path.c_str(), 8, 8, 0));
    const long head = std::ftell(writer.file);
    const std::tuple<uint32_t, uint32_t, int> refused[] = {
        {8, 7, 4}, {7, 8, 4}, {8, 8, 0}, {8, 8, 9}, {4, 16, 4}};
    for (auto [w, h, depth] : refused)
        EXPECT_FALSE(AnimatedGifAddFrame(&writer, frame.data(), w, h, 7, depth, false));
    EXPECT_EQ(std::ftell(writer.file), head);
    EXPECT_TRUE(AnimatedGifAddFrame(&writer, frame.data(), 8, 8, 7, 4, false));
    EXPECT_TRUE(AnimatedGifClose(&writer));

    std::mt19937 rng(3);
    const Frame noise = MakeFrame('r', 640, 480, 8, {}, rng);
    ASSERT_TRUE(AnimatedGifOpen(&writer, "/dev/full", 640, 480, 1));
    const bool frame_ok = AnimatedGifAddFrame(&writer, noise.data(), 640, 480, 7, 8, false);
    const bool close_ok = AnimatedGifClose(&writer);
    EXPECT_FALSE(frame_ok);
    EXPECT_FALSE(close_ok);
    EXPECT_EQ(writer.file, nullptr);
    EXPECT_EQ(writer.previousFrame, nullptr);
    ASSERT_TRUE(AnimatedGifOpen(&writer, "/dev/full", 2, 2, 0));
    EXPECT_FALSE(AnimatedGifClose(&writer));  // the head sits in the stream's buffer until then
}

}  // namespace
