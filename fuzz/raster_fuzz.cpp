// The BMP, TGA, PCX and CEL decoders on arbitrary bytes; the first bytes
// choose, as the decoder entry does, with TGA for everything else.
#include "fuzz/decode_three_ways.h"

namespace {

FuzzDecoder choose(const uint8_t* data, size_t size)
{
    ByteView v{data, size};
    if (cel_sniff(v))
        return cel_decode;
    if (bmp_sniff(v))
        return bmp_decode;
    if (pcx_sniff(v))
        return pcx_decode;
    return tga_decode;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_decode_three_ways(choose(data, size), data, size);
    return 0;
}
