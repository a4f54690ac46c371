// GIF writer: one 640 x 480 frame of 256 colours, every pixel changed, threshold and dithered
// (time per frame). SHA-1: bytes per second over a 1 MiB message.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "utilities/gif_writer.h"
#include "utilities/sha1_digest.h"

namespace {

// A smooth picture with noise, and its negative, so consecutive frames differ everywhere.
std::vector<uint8_t> Picture(uint32_t w, uint32_t h, bool negative) {
    std::mt19937 rng(5);
    std::vector<uint8_t> image(size_t(w) * h * 4);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* p = &image[4 * (size_t(y) * w + x)];
            p[0] = uint8_t(255 * x / w + rng() % 16);
            p[1] = uint8_t(255 * y / h + rng() % 16);
            p[2] = uint8_t((x * y) >> 8);
            if (negative) p[0] = 255 - p[0], p[1] = 255 - p[1], p[2] = 255 - p[2];
        }
    return image;
}

void BM_GifFrame640x480(benchmark::State& state) {
    const bool dither = state.range(0) != 0;
    const std::vector<uint8_t> frames[2] = {Picture(640, 480, false), Picture(640, 480, true)};
    AnimatedGifWriter writer;
    if (!AnimatedGifOpen(&writer, "/dev/null", 640, 480, 0)) state.SkipWithError("open failed");
    int n = 0;
    for (auto _ : state)
        AnimatedGifAddFrame(&writer, frames[n++ & 1].data(), 640, 480, 5, 8, dither);
    AnimatedGifClose(&writer);
    state.SetLabel(dither ? "dithered" : "threshold");
}
BENCHMARK(BM_GifFrame640x480)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Sha1(benchmark::State& state) {
    std::string message(1 << 20, '\0');
    std::mt19937 rng(1);
    for (char& c : message) c = static_cast<char>(rng());
    Sha1Digest digest;
    for (auto _ : state) {
        digest.update(message);
        benchmark::DoNotOptimize(digest.final());
    }
    state.SetBytesProcessed(state.iterations() * int64_t(message.size()));
}
BENCHMARK(BM_Sha1)->Unit(benchmark::kMillisecond);

}  // namespace
