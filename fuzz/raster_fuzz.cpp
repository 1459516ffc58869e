// The BMP, TGA, PCX and CEL decoders on arbitrary bytes; the first bytes
// choose, as the decoder entry does, with TGA for everything else.
#include "fuzz/decode_three_ways.h"

namespace {

FuzzDecoder choose(const uint8_t* data, size_t size)
{
    if (size >= 12 && data[0] == 0x19 && data[1] == 0x91 && data[10] == 8 && data[11] == 0)
        return cel_decode;
    if (size >= 2 && data[0] == 'B' && data[1] == 'M')
        return bmp_decode;
    if (size >= 4 && data[0] == 0x0A && data[1] == 0x05 && data[2] == 0x01 && data[3] == 0x08)
        return pcx_decode;
    return tga_decode;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_decode_three_ways(choose(data, size), data, size);
    return 0;
}
