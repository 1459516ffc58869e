// picture_probe over arbitrary bytes, in a buffer of exactly the input's size.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "picture/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 24))
        return 0;
    int32_t width, height;
    picture_probe(data, int32_t(size), &width, &height);
    return 0;
}
