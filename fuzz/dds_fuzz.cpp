// The DDS decoder on arbitrary bytes, into exact-size windows
// so that any write outside the clip is a heap overflow.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture/picture.h"

namespace {

using Decoder = int (*)(const uint8_t*, int32_t, uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t);

constexpr int32_t max_window = 192;

int32_t window_side(int32_t probed)
{
    int64_t side = probed < 0 ? -int64_t(probed) : probed;
    return side < 1 ? 1 : side > max_window ? max_window : int32_t(side);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 24))
        return 0;
    int32_t width = 0, height = 0;
    picture_probe(data, int32_t(size), &width, &height);
    int32_t w = window_side(width), h = window_side(height);
    Decoder decode = dds_decode;
    std::vector<uint32_t> pixels(size_t(w) * size_t(h));
    uint8_t* base = reinterpret_cast<uint8_t*>(pixels.data());
    decode(data, int32_t(size), base, w * 4, w, h, 0, 0);
    // Rows going upwards, and a picture placed partly off the window.
    decode(data, int32_t(size), base + size_t(h - 1) * size_t(w) * 4, -w * 4, w, h, -3, -5);
    decode(data, int32_t(size), base, w * 4, w, h, w / 2, h / 2);
    return 0;
}
