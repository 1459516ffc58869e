// The GIF decoder on arbitrary bytes.
#include "fuzz/decode_three_ways.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_decode_three_ways(gif_decode, data, size);
    return 0;
}
