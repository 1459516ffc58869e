// libFuzzer target: the JPEG decoder's vector paths (SSE2, AVX2 where the
// processor has it) against its scalar path on the same input; any pixel that
// differs is a finding. Inputs that fail the same way on every path are fine.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "picture/jpeg/jpeg_internal.h"
#include "picture/picture.h"

// Frames larger than this decode slowly without finding more; skip them.
constexpr int64_t JPEG_FUZZ_MAX_PIXELS = int64_t(1) << 16;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size > (size_t(1) << 20) || data[0] != 0xFF || data[1] != 0xD8)
        return 0;
    int32_t width = 0, height = 0;
    picture_probe(data, int32_t(size), &width, &height);
    if (width <= 0 || height <= 0 || int64_t(width) * height > JPEG_FUZZ_MAX_PIXELS)
        return 0;
    static int32_t best = -1;
    if (best < 0) {
        uint32_t pixel = 0;
        picture_decode(data, int32_t(size), reinterpret_cast<uint8_t*>(&pixel), 4, 1, 1, 0, 0);  // chooses the path
        best = jpeg_simd;
    }
    std::vector<uint32_t> want(size_t(width) * size_t(height)), got(want.size());
    jpeg_simd = JPEG_SIMD_SCALAR;
    const int want_rc =
        picture_decode(data, int32_t(size), reinterpret_cast<uint8_t*>(want.data()), width * 4, width, height, 0, 0);
    for (int32_t path = JPEG_SIMD_SSE2; path <= best; ++path) {
        jpeg_simd = path;
        std::memset(got.data(), 0, got.size() * 4);
        const int rc =
            picture_decode(data, int32_t(size), reinterpret_cast<uint8_t*>(got.data()), width * 4, width, height, 0, 0);
        if (rc != want_rc || got != want)
            std::abort();
    }
    jpeg_simd = best;
    return 0;
}
