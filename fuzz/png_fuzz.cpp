// PNG input through the decoder entry, into a window that fits the picture
// and into one that clips it on all sides with rows going upwards.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "picture/picture.h"

namespace {

// Largest window the target allocates; bigger pictures are clipped to it.
constexpr int64_t kMaxPixels = 1 << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 24))
        return 0;
    const int32_t length = int32_t(size);
    int32_t width = 0, height = 0;
    picture_probe(data, length, &width, &height);
    if (width <= 0 || height <= 0 || int64_t(width) * height > kMaxPixels) {
        width = 64;
        height = 64;
    }
    std::vector<uint32_t> pixels(size_t(width) * size_t(height));
    uint8_t* destination = reinterpret_cast<uint8_t*>(pixels.data());
    const int32_t pitch = width * 4;
    picture_decode(data, length, destination, pitch, width, height, 0, 0);
    // Clipped on all sides, rows going upwards in memory.
    picture_decode(data, length, destination + int64_t(height - 1) * pitch, -pitch, width / 2 + 1, height / 2 + 1,
                   -3, -5);
    return 0;
}
