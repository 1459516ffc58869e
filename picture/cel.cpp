// CEL: 256-colour pictures with a 6-bit palette (first bytes 19 91).
//   0  u16 magic 0x9119    2 u16 width    4 u16 height
//   10 u8 bits (8)         11 u8 compression (0)
//   32 palette, 256 x (R, G, B) of 6 bits each
//   800 pixels, one index byte each, rows top to bottom, no padding
#include "picture/bytes.h"
#include "picture/formats.h"
#include "picture/picture.h"
#include "picture/raster_window.h"

namespace {

constexpr size_t CEL_PALETTE_OFFSET = 32;
constexpr size_t CEL_PIXEL_OFFSET = CEL_PALETTE_OFFSET + 768;

} // namespace

bool cel_sniff(ByteView v)
{
    return view_has(v, 0, 12) && v.data[0] == 0x19 && v.data[1] == 0x91 && v.data[10] == 8 && v.data[11] == 0;
}

void cel_probe(ByteView v, int32_t* width, int32_t* height)
{
    if (!view_has(v, 2, 4))
        return;
    *width = read_le16(v.data + 2);
    *height = read_le16(v.data + 4);
}

int cel_decode(ByteView src, const OutputWindow& w)
{
    const uint8_t* source = src.data;
    if (!view_has(src, 0, 12))
        return fail("truncated header");
    int64_t width = read_le16(source + 2);
    int64_t height = read_le16(source + 4);
    if (width < 1 || height < 1)
        return fail("empty picture");

    // A truncated palette defines only the entries that are present.
    int32_t entries = 0;
    while (entries < 256 && view_has(src, CEL_PALETTE_OFFSET + size_t(entries) * 3, 3)) {
        // The values are 6-bit; stray high bits would carry into the next channel.
        const uint8_t* e = source + CEL_PALETTE_OFFSET + size_t(entries) * 3;
        decoder_palette[entries] = 0xFF000000u | uint32_t(e[0] & 0x3F) << 18 | uint32_t(e[1] & 0x3F) << 10 |
                                   uint32_t(e[2] & 0x3F) << 2;
        ++entries;
    }
    palette_fill_black(entries);
    palette_count = entries;
    VisibleSpan rows = visible_span(height, w.y_offset, w.clip_height);
    VisibleSpan cols = visible_span(width, w.x_offset, w.clip_width);
    for (int64_t j = rows.first; j < rows.end; ++j) {
        size_t row_offset = CEL_PIXEL_OFFSET + size_t(j * width);
        if (row_offset >= src.length)
            break;
        // Pixels past the end of a truncated file are left unwritten.
        int64_t present = int64_t(src.length - row_offset);
        int64_t end = cols.end < present ? cols.end : present;
        const uint8_t* in = source + row_offset;
        uint8_t* row = window_row(w, j);
        for (int64_t i = cols.first; i < end; ++i)
            store_pixel(window_pixel(w, row, i), decoder_palette[in[i]]);
    }
    return 0;
}
