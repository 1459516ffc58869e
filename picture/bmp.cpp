// BMP: Windows and OS/2 bitmaps, uncompressed (BI_RGB) and bit fields.
//   0  "BM"   10 u32 bfOffBits (pixel data)   14 u32 biSize (info header size)
//   OS/2 core (biSize 12): 18 u16 width, 20 u16 height, 22 u16 planes, 24 u16 bits
//   otherwise (40-byte layout): 18 s32 width, 22 s32 height (negative: top-down),
//     26 u16 planes, 28 u16 biBitCount, 30 u32 biCompression, 54 colour masks
//     (red, green, blue), 66 alpha mask (headers of 56 bytes and more: V3 to V5)
// Alpha, which Windows' thumbnail caches use in their 32-bit bitmaps:
//   - 32-bit BI_RGB, and 32-bit BI_BITFIELDS with the usual masks 00FF0000,
//     0000FF00, 000000FF under a 40- or 52-byte header (no alpha mask): the
//     top byte is alpha, unless it is 0 in every pixel of the file; then the
//     picture is opaque (the Windows convention for bitmaps without alpha).
//   - BI_BITFIELDS under a header of 56 bytes or more: the alpha mask at 66
//     gives alpha, as the file says; a zero mask means opaque.
//   - Everything else (palettes, 16 and 24 bits, other masks) is opaque, 0xFF.
#include <bit>

#include "picture/bytes.h"
#include "picture/formats.h"
#include "picture/picture.h"
#include "picture/raster_window.h"

namespace {

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_BITFIELDS = 3;
constexpr uint32_t BMP_CORE_HEADER_SIZE = 12;
// Headers of 40 bytes and more (v3 to v5 and the 52/56-byte variants) keep the
// red, green and blue masks at this file offset, inside or just after the header.
constexpr size_t BMP_MASK_OFFSET = 54;

struct BmpChannel {
    uint32_t shift;
    uint32_t width;
};

BmpChannel channel_from_mask(uint32_t mask)
{
    if (mask == 0)
        return {0, 0};
    uint32_t shift = uint32_t(std::countr_zero(mask));
    return {shift, uint32_t(std::popcount(mask >> shift))};
}

// Align the channel's top bit with bit 7; lower bits stay 0 (no replication).
inline uint32_t channel_value(uint32_t word, BmpChannel c)
{
    if (c.width == 0)
        return 0;
    uint64_t v = (uint64_t(word) >> c.shift) & ((uint64_t(1) << c.width) - 1);
    return c.width >= 8 ? uint32_t(v >> (c.width - 8)) : uint32_t(v << (8 - c.width));
}

struct BmpFields {
    BmpChannel r, g, b, a;  // a.width 0: opaque
    bool plain555;  // fast path for the default 16-bit layout
    bool plain888;  // fast path for the default 32-bit layout (alpha, if any, in the top byte)
};

// Headers of this size and more hold an alpha mask at BMP_ALPHA_MASK_OFFSET.
constexpr uint32_t BMP_ALPHA_MASK_HEADER_SIZE = 56;
constexpr size_t BMP_ALPHA_MASK_OFFSET = 66;

// True when the top byte of every 32-bit pixel present in the file is 0.
bool bmp_top_bytes_all_zero(ByteView src, uint64_t offset, uint64_t stride, int64_t width, int64_t height)
{
    if (offset >= src.length)
        return true;
    // Rows that start inside the file; the last may be cut short.
    uint64_t rows = (src.length - offset - 1) / stride + 1;
    if (rows > uint64_t(height))
        rows = uint64_t(height);
    for (uint64_t j = 0; j < rows; ++j) {
        uint64_t row_offset = offset + j * stride;
        uint64_t present = (src.length - row_offset) / 4;
        uint64_t end = present < uint64_t(width) ? present : uint64_t(width);
        for (uint64_t i = 0; i < end; ++i)
            if (src.data[row_offset + 4 * i + 3] != 0)
                return false;
    }
    return true;
}

struct BmpHeader {
    uint32_t bfOffBits;
    uint32_t biSize;
    int64_t width;
    int64_t height;  // made positive; top_down keeps the sign
    bool top_down;
    uint32_t bits;
    uint32_t compression;
    size_t entry_size;  // palette entry: 3 bytes in OS/2 core files, else 4
    uint64_t stride;    // bytes per stored row, a multiple of 4
};

// The file header and either info header, checked for what the decoder handles.
int read_bmp_header(ByteView src, BmpHeader* h)
{
    const uint8_t* source = src.data;
    if (!view_has(src, 0, 18))
        return fail("truncated header");
    h->bfOffBits = read_le32(source + 10);
    h->biSize = read_le32(source + 14);
    uint32_t planes;
    if (h->biSize == BMP_CORE_HEADER_SIZE) {
        if (!view_has(src, 18, 8))
            return fail("truncated header");
        h->width = read_le16(source + 18);
        h->height = read_le16(source + 20);
        planes = read_le16(source + 22);
        h->bits = read_le16(source + 24);
        h->compression = BI_RGB;
        h->entry_size = 3;
    } else {
        if (!view_has(src, 18, 16))
            return fail("truncated header");
        h->width = int32_t(read_le32(source + 18));
        h->height = int32_t(read_le32(source + 22));
        planes = read_le16(source + 26);
        h->bits = read_le16(source + 28);
        h->compression = read_le32(source + 30);
        h->entry_size = 4;
    }
    uint32_t bits = h->bits;
    bool bits_ok = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    if (planes != 1)
        return fail("plane count %u, not 1", unsigned(planes));
    if (h->width <= 0 || h->height == 0)
        return fail("empty or negative width");
    if (!bits_ok)
        return fail("unsupported bit depth %u", unsigned(bits));
    if (h->compression != BI_RGB && h->compression != BI_BITFIELDS)
        return fail("unsupported compression %u", unsigned(h->compression));
    h->top_down = h->height < 0;
    if (h->top_down)
        h->height = -h->height;
    h->stride = ((uint64_t(bits) * uint64_t(h->width) + 31) / 8) & ~uint64_t(3);
    return 0;
}

// The palette fills the gap between the info header and the pixel data; at
// most 256 entries are used and only the bytes inside the file count.
void read_bmp_palette(ByteView src, const BmpHeader& h)
{
    size_t palette_start = size_t(14) + h.biSize;
    size_t palette_end = h.bfOffBits < src.length ? h.bfOffBits : src.length;
    int32_t entries = 0;
    for (size_t p = palette_start; entries < 256 && p <= palette_end && h.entry_size <= palette_end - p;
         p += h.entry_size) {
        const uint8_t* e = src.data + p;
        decoder_palette[entries++] = 0xFF000000u | uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0];
    }
    palette_fill_black(entries);
    palette_count = entries;
}

// The channels of 16- and 32-bit pixels: the default layouts, or the masks of
// a BI_BITFIELDS file; alpha as the comment at the top of the file says.
BmpFields read_bmp_fields(ByteView src, const BmpHeader& h)
{
    BmpFields fields;
    if (h.bits == 16)
        fields = {{10, 5}, {5, 5}, {0, 5}, {0, 0}, true, false};
    else
        fields = {{16, 8}, {8, 8}, {0, 8}, {24, 8}, false, true};
    if ((h.bits == 16 || h.bits == 32) && h.compression == BI_BITFIELDS) {
        size_t at = h.biSize >= 40 ? BMP_MASK_OFFSET : size_t(14) + h.biSize;
        // Masks missing from a short file leave their channel at 0.
        uint32_t masks[3] = {0, 0, 0};
        for (int k = 0; k < 3; ++k)
            if (view_has(src, at + 4 * size_t(k), 4))
                masks[k] = read_le32(src.data + at + 4 * size_t(k));
        fields.r = channel_from_mask(masks[0]);
        fields.g = channel_from_mask(masks[1]);
        fields.b = channel_from_mask(masks[2]);
        fields.plain555 = masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F;
        fields.plain888 = masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF;
        if (h.biSize >= BMP_ALPHA_MASK_HEADER_SIZE) {
            uint32_t alpha_mask = 0;
            if (view_has(src, BMP_ALPHA_MASK_OFFSET, 4))
                alpha_mask = read_le32(src.data + BMP_ALPHA_MASK_OFFSET);
            fields.a = channel_from_mask(alpha_mask);
            fields.plain888 = fields.plain888 && (alpha_mask == 0xFF000000 || alpha_mask == 0);
        } else if (!fields.plain888 || h.bits != 32) {
            fields.a = {0, 0};
        }
    }
    // Implicit alpha in the top byte counts only where some pixel uses it.
    bool implicit_alpha = h.bits == 32 && (h.compression == BI_RGB || h.biSize < BMP_ALPHA_MASK_HEADER_SIZE);
    if (implicit_alpha && fields.a.width != 0 &&
        bmp_top_bytes_all_zero(src, h.bfOffBits, h.stride, h.width, h.height))
        fields.a = {0, 0};
    return fields;
}

// Picture columns [first, end) of one stored row into the window row.
inline void decode_bmp_row(const uint8_t* in, uint8_t* row, int64_t first, int64_t end, uint32_t bits,
                           const BmpFields& fields, const OutputWindow& w)
{
    // Alpha bits ORed into every pixel: all of them when the picture is opaque.
    const uint32_t opaque = fields.a.width == 0 ? 0xFF000000u : 0;
    switch (bits) {
    case 1:
        for (int64_t i = first; i < end; ++i)
            store_pixel(window_pixel(w, row, i), decoder_palette[(in[i >> 3] >> (7 - (i & 7))) & 1]);
        break;
    case 4:
        for (int64_t i = first; i < end; ++i)
            store_pixel(window_pixel(w, row, i), decoder_palette[(in[i >> 1] >> ((i & 1) ? 0 : 4)) & 15]);
        break;
    case 8:
        for (int64_t i = first; i < end; ++i)
            store_pixel(window_pixel(w, row, i), decoder_palette[in[i]]);
        break;
    case 16:
        if (fields.plain555) {
            for (int64_t i = first; i < end; ++i) {
                uint32_t v = read_le16(in + 2 * i);
                store_pixel(window_pixel(w, row, i),
                            0xFF000000u | (v & 0x7C00) << 9 | (v & 0x03E0) << 6 | (v & 0x001F) << 3);
            }
        } else {
            for (int64_t i = first; i < end; ++i) {
                uint32_t v = read_le16(in + 2 * i);
                store_pixel(window_pixel(w, row, i), 0xFF000000u | channel_value(v, fields.r) << 16 |
                                                         channel_value(v, fields.g) << 8 |
                                                         channel_value(v, fields.b));
            }
        }
        break;
    case 24:
        for (int64_t i = first; i < end; ++i) {
            const uint8_t* p = in + 3 * i;
            store_pixel(window_pixel(w, row, i), 0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
        }
        break;
    case 32:
        if (fields.plain888) {
            for (int64_t i = first; i < end; ++i)
                store_pixel(window_pixel(w, row, i), opaque | read_le32(in + 4 * i));
        } else {
            for (int64_t i = first; i < end; ++i) {
                uint32_t v = read_le32(in + 4 * i);
                store_pixel(window_pixel(w, row, i), opaque | channel_value(v, fields.a) << 24 |
                                                         channel_value(v, fields.r) << 16 |
                                                         channel_value(v, fields.g) << 8 |
                                                         channel_value(v, fields.b));
            }
        }
        break;
    }
}

} // namespace

bool bmp_sniff(ByteView v) { return view_starts_with(v, "BM", 2); }

// Unlike the decoder, the probe wants a plane count of 1; a negative height
// (top-down) is passed on as it stands.
void bmp_probe(ByteView v, int32_t* width, int32_t* height)
{
    if (!view_has(v, 14, 4))
        return;
    if (read_le32(v.data + 14) == BMP_CORE_HEADER_SIZE) {
        if (view_has(v, 18, 6) && read_le16(v.data + 22) == 1) {
            *width = read_le16(v.data + 18);
            *height = read_le16(v.data + 20);
        }
    } else if (view_has(v, 18, 10) && read_le16(v.data + 26) == 1) {
        *width = int32_t(read_le32(v.data + 18));
        *height = int32_t(read_le32(v.data + 22));
    }
}

int bmp_decode(ByteView src, const OutputWindow& w)
{
    BmpHeader h{};
    if (read_bmp_header(src, &h) != 0)
        return -1;
    if (h.bits < 16)
        read_bmp_palette(src, h);
    const BmpFields fields = read_bmp_fields(src, h);

    VisibleSpan rows = visible_span(h.height, w.y_offset, w.clip_height);
    VisibleSpan cols = visible_span(h.width, w.x_offset, w.clip_width);
    for (int64_t j = rows.first; j < rows.end; ++j) {
        uint64_t stored = h.top_down ? uint64_t(j) : uint64_t(h.height - 1 - j);
        if (stored > src.length / h.stride)
            continue;
        uint64_t row_offset = uint64_t(h.bfOffBits) + stored * h.stride;
        if (row_offset >= src.length)
            continue;
        // A row cut short by the end of the file yields only its complete pixels.
        uint64_t present_bytes = src.length - row_offset;
        if (present_bytes > h.stride)
            present_bytes = h.stride;
        int64_t present = int64_t(present_bytes * 8 / h.bits);
        int64_t end = cols.end < present ? cols.end : present;
        decode_bmp_row(src.data + row_offset, window_row(w, j), cols.first, end, h.bits, fields, w);
    }
    return 0;
}
