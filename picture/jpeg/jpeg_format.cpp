// The JPEG row of the format table: recognition, the size probe, and the
// table's decoder entry over jpeg_decode's own.
#include "picture/bytes.h"
#include "picture/formats.h"
#include "picture/picture.h"

bool jpeg_sniff(ByteView v)
{
    static constexpr uint8_t start[2] = {0xFF, 0xD8};
    return view_starts_with(v, start, 2);
}

// Walks the segment lengths to the first baseline, extended or progressive
// frame header. Every other marker is taken to carry a length field; a fill
// byte moves on by one.
void jpeg_probe(ByteView v, int32_t* width, int32_t* height)
{
    uint64_t pos = 2;
    while (view_has(v, pos, 9)) {
        const uint8_t* p = v.data + pos;
        if (p[0] == 0xFF && p[1] != 0xFF) {
            if (p[1] == 0xC0 || p[1] == 0xC1 || p[1] == 0xC2) {
                *height = read_be16(p + 5);
                *width = read_be16(p + 7);
                return;
            }
            pos += 2 + uint64_t(read_be16(p + 2));
        } else {
            pos += 1;
        }
    }
}

// jpeg_decode does not say why it failed; the reason stays generic.
int jpeg_decode(ByteView src, const OutputWindow& w)
{
    if (src.length > uint64_t(INT32_MAX))
        return fail("too large");
    int result = jpeg_decode(src.data, int32_t(src.length), w.destination, w.pitch, w.clip_width, w.clip_height,
                             w.x_offset, w.y_offset, JpegOptions{ycbcr_block_output});
    return result == 0 ? 0 : fail("not a JPEG the decoder handles");
}
