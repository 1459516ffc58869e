#pragma once
// Helpers for the PNG tests: a small PNG and deflate writer for hand-made
// streams (the guarded window is shared, in tests/support).
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/guarded_window.h"

// LSB-first bit writer for deflate streams.
struct DeflateBits {
    std::vector<uint8_t> bytes;
    uint32_t bit = 0;
    void put(uint32_t value, int count);
    // A Huffman code of `length` bits, most significant bit first.
    void put_code(uint32_t code, int length);
    void align();
    // Fixed-code symbols (RFC 1951 3.2.6).
    void fixed_literal(uint32_t symbol);
    void fixed_match(uint32_t length, uint32_t distance);
};

// Stored blocks of at most 65535 bytes, the last one final.
std::vector<uint8_t> deflate_stored(const std::vector<uint8_t>& data);
// One fixed-code block of literals only.
std::vector<uint8_t> deflate_fixed_literals(const std::vector<uint8_t>& data);
// 2-byte zlib header + deflate data + Adler-32.
std::vector<uint8_t> zlib_wrap(const std::vector<uint8_t>& deflate, const std::vector<uint8_t>& raw);

struct PngChunk {
    std::string type;
    std::vector<uint8_t> data;
};

std::vector<uint8_t> png_chunk(const std::string& type, const std::vector<uint8_t>& data);
std::vector<uint8_t> png_ihdr(uint32_t width, uint32_t height, int depth, int colour_type, int interlace);
// A PNG of the given chunks before the image data, the zlib stream split into
// IDAT chunks of the given sizes (the last size repeats; empty = one chunk),
// then IEND.
std::vector<uint8_t> make_png(const std::vector<uint8_t>& ihdr, const std::vector<PngChunk>& before,
                              const std::vector<uint8_t>& zlib, const std::vector<size_t>& idat_sizes = {});
// An 8-bit grey picture, filter None, one stored block.
std::vector<uint8_t> make_test_png_gray(uint32_t width, uint32_t height, const std::vector<uint8_t>& pixels);
// The zlib streams of all IDAT chunks of a PNG, joined; the chunks before the
// first IDAT; re-chunk a PNG's image data into the given sizes.
std::vector<uint8_t> rechunk_png(const std::vector<uint8_t>& png, const std::vector<size_t>& idat_sizes,
                                 bool empty_between = false);

// Filtered image data for samples (width x height x channels, each below
// 2^depth), Adam7 when interlaced; row r of each pass uses filter
// (r + first_filter) % 5, so every filter type is exercised.
std::vector<uint8_t> encode_rows(const std::vector<uint8_t>& samples, uint32_t width, uint32_t height, int channels,
                                 int depth, bool interlaced, int first_filter = 0);
