// Animated GIF89a writer: frames of 8-bit RGBA pixels, each with its own median-cut palette of
// 2^depth entries, pixels unchanged since the previous frame left transparent (entry 0), image
// data in GIF's variable-length LZW code. Nothing in the solver calls it.
#pragma once

#include <cstdint>
#include <cstdio>

// One open file. Pixel images are rows from the top, 4 bytes a pixel: red, green, blue and a
// fourth byte that input frames never read.
struct AnimatedGifWriter {
    FILE* file = nullptr;  // null while closed
    // width x height pixels as last written: the red, green and blue a viewer shows and, in the
    // fourth byte, the palette index written (0 for a pixel left transparent).
    uint8_t* previousFrame = nullptr;
    uint32_t width = 0;  // frame size given at open
    uint32_t height = 0;
    bool firstFrame = true;
    bool writeFailed = false;  // the file reported an error; later frames are refused
};

// Creates `path` ("wb") and writes the file head; loop != 0 adds the repeat-for-ever extension.
// Returns false, leaving the writer closed, for an open writer, a zero width or height, one
// above 65535, a file that cannot be created, a head that cannot be written or a buffer that
// cannot be allocated.
bool AnimatedGifOpen(AnimatedGifWriter* writer, const char* path, uint32_t width, uint32_t height,
                     uint32_t loop);

// Writes one frame shown for `delay` hundredths of a second, palette of 2^bitDepth entries,
// mapped with Floyd-Steinberg dithering when `dither`, else to the nearest entry. Returns false,
// writing nothing, for a closed writer, a size other than the one given at open, a depth
// outside 1..8 or memory that cannot be allocated; false after the file reports a write error.
bool AnimatedGifAddFrame(AnimatedGifWriter* writer, const uint8_t* image, uint32_t width,
                         uint32_t height, uint32_t delay, int32_t bitDepth, bool dither);

// Writes the trailer, closes the file and frees the buffer (always, once open). Returns false for
// a closed writer or when any write of the file failed, its closing included.
bool AnimatedGifClose(AnimatedGifWriter* writer);
