// TGA (Truevision Targa): colour-mapped, true-colour and grey, raw or
// run-length encoded. 18-byte header:
//   0 id length   1 colour-map type   2 image type (1 2 3, 9 10 11 = RLE)
//   3 u16 first map index   5 u16 map length   7 map entry bits
//   12 u16 width   14 u16 height   16 pixel depth   17 descriptor
//   (bit 4: right to left, bit 5: top row first, bits 6-7: interleave)
#include "picture/bytes.h"
#include "picture/formats.h"
#include "picture/picture.h"
#include "picture/raster_window.h"

namespace {

constexpr size_t TGA_HEADER_SIZE = 18;

struct TgaColourMap {
    bool present;
    const uint8_t* entries;
    int64_t first;
    int64_t count;  // entries wholly inside the source
    uint32_t entry_size;
};

// Convert a value of 1 to 4 bytes: grey, 5-5-5, BGR or BGRA.
inline uint32_t tga_convert(const uint8_t* p, uint32_t size)
{
    switch (size) {
    case 1:
        return decoder_palette[p[0]];
    case 2: {
        uint32_t v = read_le16(p);
        return 0xFF000000u | (v & 0x7C00) << 9 | (v & 0x03E0) << 6 | (v & 0x001F) << 3;
    }
    case 3:
        return 0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    default:
        return read_le32(p);
    }
}

// One stored pixel to a word. Indices outside the colour map (or past the end
// of a truncated one) give opaque black.
inline uint32_t tga_pixel(const uint8_t* p, uint32_t pixel_size, const TgaColourMap& map)
{
    if (!map.present)
        return tga_convert(p, pixel_size);
    int64_t index = pixel_size == 1 ? p[0] : read_le16(p);
    int64_t entry = index - map.first;
    if (entry < 0 || entry >= map.count)
        return 0xFF000000u;
    return tga_convert(map.entries + entry * map.entry_size, map.entry_size);
}

struct TgaHeader {
    uint32_t colour_map_type;
    uint32_t image_type;
    int64_t width;
    int64_t height;
    uint32_t pixel_size;  // bytes per stored pixel
    bool right_to_left;
    bool top_first;
};

// The 18-byte header, checked for what the decoder handles.
int read_tga_header(ByteView src, TgaHeader* header)
{
    if (!view_has(src, 0, 19))
        return fail("truncated header");
    const uint8_t* h = src.data;
    uint32_t colour_map_type = h[1];
    uint32_t image_type = h[2];
    uint32_t depth = h[16];
    uint32_t descriptor = h[17];
    bool type_ok = image_type == 1 || image_type == 2 || image_type == 3 || image_type == 9 || image_type == 10 ||
                   image_type == 11;
    bool depth_ok = depth == 8 || depth == 16 || depth == 24 || depth == 32;
    if (colour_map_type > 1)
        return fail("unknown colour-map type %u", unsigned(colour_map_type));
    if (!type_ok)
        return fail("unsupported image type %u", unsigned(image_type));
    if (!depth_ok)
        return fail("unsupported bit depth %u", unsigned(depth));
    if ((descriptor & 0xC0) != 0)
        return fail("interleaved rows");
    *header = TgaHeader{colour_map_type, image_type, read_le16(h + 12), read_le16(h + 14), (depth + 7) / 8,
                        (descriptor & 0x10) != 0, (descriptor & 0x20) != 0};
    if (header->width < 1 || header->height < 1)
        return fail("empty picture");
    return 0;
}

// The colour map after the image id, as far as the file holds it; *data
// receives where the pixel data starts. Single-byte values (indices into the
// map's grey entries, or grey pixels) go through a grey ramp.
int read_tga_colour_map(ByteView src, const TgaHeader& header, TgaColourMap* map, size_t* data)
{
    const uint8_t* h = src.data;
    *data = TGA_HEADER_SIZE + h[0];
    *map = TgaColourMap{false, nullptr, 0, 0, 0};
    if (header.colour_map_type == 1) {
        map->present = true;
        map->entry_size = (uint32_t(h[7]) + 7) / 8;
        // A map whose entries are not 1 to 4 bytes cannot be converted.
        if (map->entry_size < 1 || map->entry_size > 4)
            return fail("unsupported colour-map entry size %u", unsigned(h[7]));
        map->first = read_le16(h + 3);
        int64_t declared = read_le16(h + 5);
        int64_t inside = *data < src.length ? int64_t((src.length - *data) / map->entry_size) : 0;
        map->count = declared < inside ? declared : inside;
        map->entries = src.data + (*data < src.length ? *data : src.length);
        *data += size_t(declared) * map->entry_size;
    }
    if ((map->present ? map->entry_size : header.pixel_size) == 1) {
        for (uint32_t i = 0; i < 256; ++i)
            decoder_palette[i] = 0xFF000000u + i * 0x010101u;
        palette_count = 256;
    }
    return 0;
}

// Header and map come by value in both row decoders: copies that no pixel
// store can alias stay in registers.

// Uncompressed rows (types 1 to 3) from data on.
void decode_tga_raw(ByteView src, size_t data, TgaHeader h, TgaColourMap map, const OutputWindow& w)
{
    const uint32_t pixel_size = h.pixel_size;
    VisibleSpan rows = visible_span(h.height, w.y_offset, w.clip_height);
    VisibleSpan cols = visible_span(h.width, w.x_offset, w.clip_width);
    uint64_t stride = uint64_t(h.width) * pixel_size;
    for (int64_t j = rows.first; j < rows.end; ++j) {
        uint64_t stored = h.top_first ? uint64_t(j) : uint64_t(h.height - 1 - j);
        uint64_t row_offset = data + stored * stride;
        if (row_offset >= src.length)
            continue;
        // Pixels past the end of a truncated file are left unwritten.
        int64_t present = int64_t((src.length - row_offset) / pixel_size);
        const uint8_t* in = src.data + row_offset;
        uint8_t* row = window_row(w, j);
        if (!h.right_to_left && !map.present) {
            int64_t end = cols.end < present ? cols.end : present;
            switch (pixel_size) {
            case 1:
                for (int64_t i = cols.first; i < end; ++i)
                    store_pixel(window_pixel(w, row, i), decoder_palette[in[i]]);
                break;
            case 3:
                for (int64_t i = cols.first; i < end; ++i) {
                    const uint8_t* p = in + 3 * i;
                    store_pixel(window_pixel(w, row, i),
                                0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
                }
                break;
            default:
                for (int64_t i = cols.first; i < end; ++i)
                    store_pixel(window_pixel(w, row, i), tga_convert(in + pixel_size * i, pixel_size));
                break;
            }
            continue;
        }
        for (int64_t i = cols.first; i < cols.end; ++i) {
            int64_t k = h.right_to_left ? h.width - 1 - i : i;
            if (k < present)
                store_pixel(window_pixel(w, row, i), tga_pixel(in + k * pixel_size, pixel_size, map));
        }
    }
}

// Run-length packets (types 9 to 11) from data on. Packets run on across row
// ends; decoding stops where the source ends.
void decode_tga_rle(ByteView src, size_t data, TgaHeader h, TgaColourMap map, const OutputWindow& w)
{
    const uint8_t* source = src.data;
    const uint32_t pixel_size = h.pixel_size;
    size_t at = data;
    int64_t column = 0, stored_row = 0;
    int64_t j = h.top_first ? 0 : h.height - 1;
    bool row_shown = row_visible(w, j);
    uint8_t* row = row_shown ? window_row(w, j) : nullptr;
    while (stored_row < h.height && at < src.length) {
        uint32_t header = source[at++];
        bool run = header >= 128;
        uint32_t count = run ? header - 127 : header + 1;
        uint32_t pixel = 0;
        if (run) {
            if (at > src.length || pixel_size > src.length - at)
                break;
            pixel = tga_pixel(source + at, pixel_size, map);
            at += pixel_size;
        }
        for (uint32_t n = 0; n < count; ++n) {
            if (!run) {
                if (pixel_size > src.length - at)
                    return;
                pixel = tga_pixel(source + at, pixel_size, map);
                at += pixel_size;
            }
            if (row_shown) {
                int64_t i = h.right_to_left ? h.width - 1 - column : column;
                if (column_visible(w, i))
                    store_pixel(window_pixel(w, row, i), pixel);
            }
            if (++column == h.width) {
                column = 0;
                if (++stored_row == h.height)
                    break;
                j = h.top_first ? stored_row : h.height - 1 - stored_row;
                row_shown = row_visible(w, j);
                row = row_shown ? window_row(w, j) : nullptr;
            }
        }
    }
}

} // namespace

// TGA has no magic: the header fields must all be plausible.
bool tga_sniff(ByteView v)
{
    if (!view_has(v, 0, 19))
        return false;
    const uint8_t* p = v.data;
    uint8_t type = p[2];
    bool type_ok = type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11;
    uint8_t bpp = p[16];
    return p[1] <= 1 && type_ok && bpp != 0 && bpp % 8 == 0 && bpp <= 32 && (p[17] & 0xC0) == 0;
}

void tga_probe(ByteView v, int32_t* width, int32_t* height)
{
    if (!view_has(v, 12, 4))
        return;
    *width = read_le16(v.data + 12);
    *height = read_le16(v.data + 14);
}

int tga_decode(ByteView src, const OutputWindow& w)
{
    TgaHeader header{};
    TgaColourMap map{};
    size_t data = 0;
    if (read_tga_header(src, &header) != 0 || read_tga_colour_map(src, header, &map, &data) != 0)
        return -1;
    if (header.image_type < 9)
        decode_tga_raw(src, data, header, map, w);
    else
        decode_tga_rle(src, data, header, map, w);
    return 0;
}
