// libFuzzer target: picture_decode on JPEG input, into a destination of the
// probed size (ASan sees any write outside it). Odd-length inputs decode
// into a bottom-up window (negative pitch), as old-format thumbnails do.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "picture/picture.h"

// Frames larger than this decode slowly without finding more; skip them.
constexpr int64_t kMaxFuzzPixels = int64_t(1) << 18;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size > (size_t(1) << 24) || data[0] != 0xFF || data[1] != 0xD8)
        return 0;
    int32_t width = 0, height = 0;
    picture_probe(data, int32_t(size), &width, &height);
    if (int64_t(width) * height > kMaxFuzzPixels)
        return 0;
    if (width <= 0 || height <= 0) {
        // No usable frame size: the decoder must still return without touching memory.
        uint32_t pixel = 0;
        picture_decode(data, int32_t(size), reinterpret_cast<uint8_t*>(&pixel), 4, 1, 1, 0, 0);
        return 0;
    }
    std::vector<uint32_t> pixels(size_t(width) * size_t(height));
    uint8_t* base = reinterpret_cast<uint8_t*>(pixels.data());
    const int32_t pitch = width * 4;
    if (size & 1)
        picture_decode(data, int32_t(size), base + int64_t(height - 1) * pitch, -pitch, width, height, 0, 0);
    else
        picture_decode(data, int32_t(size), base, pitch, width, height, 0, 0);
    return 0;
}
