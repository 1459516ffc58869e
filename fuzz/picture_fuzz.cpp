// picture_probe + picture_decode on any format, into a window smaller than
// the picture and offset into it, so that clipping paths run too. The first
// byte picks the window's shape; the rest is the picture file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture/picture.h"

// Larger frames decode slowly without finding more.
constexpr int64_t max_fuzz_pixels = int64_t(1) << 20;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size > (size_t(1) << 24))
        return 0;
    uint8_t shape = data[0];
    const uint8_t* file = data + 1;
    int32_t length = int32_t(size - 1);
    int32_t width = 0, height = 0;
    picture_probe(file, length, &width, &height);
    if (height < 0)
        height = height == INT32_MIN ? 0 : -height;
    if (width <= 0 || height <= 0 || int64_t(width) * height > max_fuzz_pixels) {
        width = 7;
        height = 5;
    }
    int32_t clip_w = shape & 1 ? width : (width + 1) / 2;
    int32_t clip_h = shape & 2 ? height : (height + 1) / 2;
    int32_t x = shape & 4 ? -(width / 3) : (shape & 8 ? width / 4 : 0);
    int32_t y = shape & 16 ? -(height / 3) : (shape & 32 ? height / 4 : 0);
    std::vector<uint32_t> pixels(size_t(clip_w) * size_t(clip_h));
    uint8_t* base = reinterpret_cast<uint8_t*>(pixels.data());
    int32_t pitch = clip_w * 4;
    if (shape & 64)
        picture_decode(file, length, base + int64_t(clip_h - 1) * pitch, -pitch, clip_w, clip_h, x, y);
    else
        picture_decode(file, length, base, pitch, clip_w, clip_h, x, y);
    return 0;
}
