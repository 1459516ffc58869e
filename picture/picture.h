#pragma once
// The picture decoder's front: format probe, decoder entry, the output window
// shared by every format decoder, and the state they share (one per thread).
#include <cstdint>

#include "platform/failure.h"
#include "platform/thread.h"

// A decoded image. Pixel = 0xAARRGGBB word (blue in the low byte).
struct Picture {
    uint32_t* pixels;
    int32_t pitch;  // bytes from one row to the next
    int32_t width;
    int32_t height;
};

// Where a decoder writes: picture pixel (i, j) goes to window column
// x_offset + i, row y_offset + j, and only when both, taken unsigned, are below
// the clip width and height. pitch may be negative.
struct OutputWindow {
    uint8_t* destination;
    int32_t pitch;
    int32_t clip_width;
    int32_t clip_height;
    int32_t x_offset;
    int32_t y_offset;
};

// Palette shared by the palette formats; palette_count is reset by every
// picture_decode and set by the decoder that reads a palette. Each thread
// has its own, as it has its own state of every decoder.
extern SYS_THREAD_LOCAL uint32_t decoder_palette[256];
extern SYS_THREAD_LOCAL int32_t palette_count;

// The JPEG decoder hands every decoded MCU, its top-left pixel at picture
// (x, y), to a block-output routine that writes it into the call's window.
// The MCU sample buffer holds up to 10 blocks of 64 int32 samples,
// (level - 128) << 22, block after block in the frame's component order.
using JpegBlockOutput = void (*)(int32_t x, int32_t y, int32_t* samples);
// YCbCr or grey to 0xFFRRGGBB, chroma upsampled: what a picture file means.
void ycbcr_block_output(int32_t x, int32_t y, int32_t* samples);
// Components 0, 1 and 2 taken as blue, green and red, one 8 x 8 block each
// (a fourth is not read, a missing one reads as level 128), with no colour
// transform and 0 in the top byte: the stripped JPEGs of old thumbnail
// caches, every component sampled 1 x 1.
void bgr_block_output(int32_t x, int32_t y, int32_t* samples);

// Settings of one JPEG decode, handed to the call.
struct JpegOptions {
    JpegBlockOutput block_output;  // ycbcr_block_output for picture files
    // 1, 2 or 3: the picture is output at 1/2, 1/4 or 1/8 of its width and
    // height (rounded up), each pixel the mean of the 2 x 2, 4 x 4 or 8 x 8
    // it stands for, worked out before the transform (pictures shown smaller
    // than they are). Only with ycbcr_block_output; the window is in output
    // pixels. 0: full size.
    int32_t scale_log2 = 0;
};

// The format picture_decode would choose for these bytes: "png", "jpeg",
// "gif", "cel", "bmp", "pcx", "dds", "tga", or "unknown".
const char* picture_format_name(const uint8_t* source, int32_t length);

void picture_probe(const uint8_t* data, int32_t length, int32_t* width, int32_t* height);
// Pictures may be decoded on several threads at once: each has its own state
// of every decoder, and the constant tables the decoders share are built on
// first use. Call this once on the thread that starts the others, before
// they decode, so that none of them builds a table while another reads it.
void picture_prepare_threads();
int picture_decode(const uint8_t* source, int32_t length, uint8_t* destination, int32_t pitch,
                   int32_t clip_width, int32_t clip_height, int32_t x_offset, int32_t y_offset);

// Why the last picture_decode or picture_probe failed, in a few words
// ("truncated", "unsupported bit depth 16"): failure_last().reason, cleared by
// both at their start and set by the decoders through fail().

// The JPEG decoder's own entry, with picture_decode's arguments and result
// and the options of this decode.
int jpeg_decode(const uint8_t* source, int32_t length, uint8_t* destination, int32_t pitch,
                int32_t clip_width, int32_t clip_height, int32_t x_offset, int32_t y_offset,
                const JpegOptions& options);
