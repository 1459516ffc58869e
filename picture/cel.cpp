// Placeholder until the cel decoder lands: the format is recognised but not decoded yet.
#include "picture/picture.h"

int cel_decode(const uint8_t*, int32_t, uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t)
{
    return -1;
}
