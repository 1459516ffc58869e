// DDS (DirectDraw Surface): the top-level surface of A8R8G8B8 or DXT1-DXT5.
//   0 "DDS "   4 u32 dwSize 124   12 u32 dwHeight   16 u32 dwWidth
//   80 u32 ddpf.dwFlags   84 ddpf.dwFourCC   88 u32 dwRGBBitCount
//   92/96/100/104 u32 R/G/B/A bit masks   128 pixel data
#include "picture/bytes.h"
#include "picture/formats.h"
#include "picture/picture.h"
#include "picture/raster_window.h"

namespace {

constexpr size_t DDS_HEADER_SIZE = 128;
constexpr uint32_t DDPF_FOURCC = 0x4;
constexpr uint32_t DDPF_RGB = 0x40;

// Reciprocals for un-premultiplying: T[a] = 255 * 65536 / a, T[0] = 65536.
SYS_THREAD_LOCAL uint32_t unpremultiply[256];

void build_unpremultiply()
{
    unpremultiply[0] = 65536;
    for (uint32_t a = 1; a < 256; ++a)
        unpremultiply[a] = 16711680u / a;
}

struct Rgb {
    uint32_t r, g, b;
};

inline Rgb expand565(uint32_t c) { return {(c >> 8) & 0xF8, (c >> 3) & 0xFC, (c & 0x1F) << 3}; }

// The four block colours as A << 24 | R << 16 | G << 8 | B.
void colour_table(const uint8_t* part, bool dxt1, uint32_t colours[4])
{
    uint32_t c0 = read_le16(part), c1 = read_le16(part + 2);
    Rgb a = expand565(c0), b = expand565(c1);
    auto word = [](uint32_t alpha, uint32_t r, uint32_t g, uint32_t bl) { return alpha << 24 | r << 16 | g << 8 | bl; };
    colours[0] = word(255, a.r, a.g, a.b);
    colours[1] = word(255, b.r, b.g, b.b);
    if (dxt1 && c0 <= c1) {
        colours[2] = word(255, (a.r + b.r) >> 1, (a.g + b.g) >> 1, (a.b + b.b) >> 1);
        colours[3] = 0;
    } else {
        auto third = [](uint32_t x, uint32_t y) { return ((2 * x + y + 1) * 21845) >> 16; };
        colours[2] = word(255, third(a.r, b.r), third(a.g, b.g), third(a.b, b.b));
        colours[3] = word(255, third(b.r, a.r), third(b.g, a.g), third(b.b, a.b));
    }
}

// The eight-entry alpha table of DXT4 and DXT5.
void alpha_table(const uint8_t* part, uint32_t alpha[8])
{
    uint32_t a0 = part[0], a1 = part[1];
    alpha[0] = a0;
    alpha[1] = a1;
    if (a0 > a1) {
        for (uint32_t i = 2; i < 8; ++i)
            alpha[i] = (((8 - i) * a0 + (i - 1) * a1 + 3) * 9362) >> 16;
    } else {
        for (uint32_t i = 2; i < 6; ++i)
            alpha[i] = (((6 - i) * a0 + (i - 1) * a1 + 2) * 13107) >> 16;
        alpha[6] = 0;
        alpha[7] = 255;
    }
}

// Decode one block into 16 pixels, row by row.
void decode_block(const uint8_t* block, uint32_t dxt, uint32_t out[16])
{
    uint32_t colours[4];
    const uint8_t* colour_part = dxt == 1 ? block : block + 8;
    colour_table(colour_part, dxt == 1, colours);
    uint32_t indices = read_le32(colour_part + 4);
    for (uint32_t i = 0; i < 16; ++i)
        out[i] = colours[(indices >> (2 * i)) & 3];
    if (dxt == 2 || dxt == 3) {
        for (uint32_t i = 0; i < 16; ++i) {
            uint32_t nibble = (block[i / 2] >> ((i & 1) ? 4 : 0)) & 0xF;
            out[i] = (out[i] & 0x00FFFFFF) | (nibble * 17) << 24;
        }
    } else if (dxt == 4 || dxt == 5) {
        uint32_t alpha[8];
        alpha_table(block, alpha);
        uint32_t group0 = uint32_t(block[2]) | uint32_t(block[3]) << 8 | uint32_t(block[4]) << 16;
        uint32_t group1 = uint32_t(block[5]) | uint32_t(block[6]) << 8 | uint32_t(block[7]) << 16;
        for (uint32_t k = 0; k < 8; ++k) {
            out[k] = (out[k] & 0x00FFFFFF) | alpha[(group0 >> (3 * k)) & 7] << 24;
            out[k + 8] = (out[k + 8] & 0x00FFFFFF) | alpha[(group1 >> (3 * k)) & 7] << 24;
        }
    }
    if (dxt == 2 || dxt == 4) {
        for (uint32_t i = 0; i < 16; ++i) {
            uint32_t t = unpremultiply[out[i] >> 24];
            uint32_t r = ((out[i] >> 16 & 0xFF) * t) >> 16;
            uint32_t g = ((out[i] >> 8 & 0xFF) * t) >> 16;
            uint32_t b = ((out[i] & 0xFF) * t) >> 16;
            out[i] = (out[i] & 0xFF000000) | (r < 255 ? r : 255) << 16 | (g < 255 ? g : 255) << 8 |
                     (b < 255 ? b : 255);
        }
    }
}

} // namespace

bool dds_sniff(ByteView v)
{
    return view_starts_with(v, "DDS ", 4) && view_has(v, 4, 4) && read_le32(v.data + 4) == 124;
}

void dds_probe(ByteView v, int32_t* width, int32_t* height)
{
    if (!view_has(v, 12, 8))
        return;
    *width = int32_t(read_le32(v.data + 16));
    *height = int32_t(read_le32(v.data + 12));
}

int dds_decode(ByteView src, const OutputWindow& w)
{
    const uint8_t* source = src.data;
    // Without the whole header the pixel format cannot be known.
    if (!view_has(src, 0, DDS_HEADER_SIZE))
        return fail("truncated header");
    int64_t height = read_le32(source + 12);
    int64_t width = read_le32(source + 16);
    uint32_t flags = read_le32(source + 80);
    const uint8_t* fourcc = source + 84;
    uint32_t dxt = 0;
    if (flags & DDPF_RGB) {
        if (read_le32(source + 88) != 32 || read_le32(source + 92) != 0x00FF0000 ||
            read_le32(source + 96) != 0x0000FF00 || read_le32(source + 100) != 0x000000FF ||
            read_le32(source + 104) != 0xFF000000)
            return fail("unsupported RGB layout");
    } else if (flags & DDPF_FOURCC) {
        if (fourcc[0] != 'D' || fourcc[1] != 'X' || fourcc[2] != 'T' || fourcc[3] < '1' || fourcc[3] > '5')
            return fail("unsupported compression");
        dxt = uint32_t(fourcc[3] - '0');
    } else {
        return fail("unsupported pixel format");
    }

    if (width == 0 || height == 0)
        return 0;  // an empty surface: nothing to write
    // Data missing from a file shorter than its header says is left unwritten.
    uint64_t available = src.length - DDS_HEADER_SIZE;
    const uint8_t* data = source + DDS_HEADER_SIZE;

    if (dxt == 0) {
        VisibleSpan rows = visible_span(height, w.y_offset, w.clip_height);
        VisibleSpan cols = visible_span(width, w.x_offset, w.clip_width);
        uint64_t stride = uint64_t(width) * 4;
        for (int64_t j = rows.first; j < rows.end; ++j) {
            if (uint64_t(j) > available / stride)
                break;
            uint64_t row_offset = uint64_t(j) * stride;
            int64_t present = int64_t((available - row_offset) / 4);
            int64_t end = cols.end < present ? cols.end : present;
            uint8_t* row = window_row(w, j);
            for (int64_t i = cols.first; i < end; ++i)
                store_pixel(window_pixel(w, row, i), read_le32(data + row_offset + 4 * uint64_t(i)));
        }
        return 0;
    }

    if (dxt == 2 || dxt == 4)
        build_unpremultiply();
    uint64_t block_size = dxt == 1 ? 8 : 16;
    int64_t blocks_across = (width + 3) / 4;
    int64_t blocks_down = (height + 3) / 4;
    // Edge blocks are written whole where the clip allows, past the picture's size.
    VisibleSpan block_rows = visible_span(blocks_down * 4, w.y_offset, w.clip_height);
    VisibleSpan block_cols = visible_span(blocks_across * 4, w.x_offset, w.clip_width);
    for (int64_t by = block_rows.first / 4; by * 4 < block_rows.end; ++by) {
        for (int64_t bx = block_cols.first / 4; bx * 4 < block_cols.end; ++bx) {
            uint64_t block_index = uint64_t(by) * uint64_t(blocks_across) + uint64_t(bx);
            if (block_index >= available / block_size)
                return 0;
            uint32_t pixels[16];
            decode_block(data + block_index * block_size, dxt, pixels);
            for (int64_t r = 0; r < 4; ++r) {
                int64_t j = by * 4 + r;
                if (!row_visible(w, j))
                    continue;
                uint8_t* row = window_row(w, j);
                for (int64_t c = 0; c < 4; ++c) {
                    int64_t i = bx * 4 + c;
                    if (column_visible(w, i))
                        store_pixel(window_pixel(w, row, i), pixels[4 * r + c]);
                }
            }
        }
    }
    return 0;
}
