#pragma once
// Shared by the per-format fuzz targets: one decoder on arbitrary bytes, into
// exact-size windows so that any write outside the clip is a heap overflow.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture/formats.h"
#include "picture/picture.h"

using FuzzDecoder = int (*)(ByteView src, const OutputWindow& w);

// Windows larger than this find nothing more, only slower.
constexpr int32_t FUZZ_MAX_WINDOW = 192;

inline int32_t fuzz_window_side(int32_t probed)
{
    int64_t side = probed < 0 ? -int64_t(probed) : probed;
    return side < 1 ? 1 : side > FUZZ_MAX_WINDOW ? FUZZ_MAX_WINDOW : int32_t(side);
}

// Decodes straight, with rows going upwards, and placed partly off the window.
inline void fuzz_decode_three_ways(FuzzDecoder decode, const uint8_t* data, size_t size)
{
    if (size > (1u << 24))
        return;
    int32_t width = 0, height = 0;
    picture_probe(data, int32_t(size), &width, &height);
    int32_t w = fuzz_window_side(width), h = fuzz_window_side(height);
    std::vector<uint32_t> pixels(size_t(w) * size_t(h));
    uint8_t* base = reinterpret_cast<uint8_t*>(pixels.data());
    ByteView src{data, size};
    decode(src, OutputWindow{base, w * 4, w, h, 0, 0});
    decode(src, OutputWindow{base + size_t(h - 1) * size_t(w) * 4, -w * 4, w, h, -3, -5});
    decode(src, OutputWindow{base, w * 4, w, h, w / 2, h / 2});
}
