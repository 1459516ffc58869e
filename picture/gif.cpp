// GIF (87a and 89a): the first image, on its logical screen.
//   0 "GIF" version   6 u16 screen width   8 u16 screen height
//   10 flags (bit 7: global colour table of 2^((flags & 7) + 1) entries)
//   11 background index   13 global colour table (R, G, B)
//   then extensions (0x21 label, sub-blocks), image descriptor (0x2C: left,
//   top, width, height, flags with bit 6 interlace, bit 7 local table),
//   LZW minimum code size and the LZW data in sub-blocks.
#include "picture/bytes.h"
#include "picture/formats.h"
#include "picture/picture.h"
#include "picture/raster_window.h"

namespace {

// The LZW dictionary's size: codes are at most 12 bits wide.
constexpr uint32_t GIF_LZW_MAX_ENTRIES = 4096;
constexpr uint32_t GIF_LZW_MAX_WIDTH = 12;
// Larger minimum code sizes would start above the 12-bit code width. Roots
// above 255 (sizes 9 to 11) give the palette index of their low byte.
constexpr uint32_t GIF_LZW_MAX_MIN_CODE_SIZE = 11;
constexpr size_t GIF_SCREEN_DESCRIPTOR_SIZE = 13;
constexpr size_t GIF_IMAGE_DESCRIPTOR_SIZE = 10;

SYS_THREAD_LOCAL uint16_t lzw_prefix[GIF_LZW_MAX_ENTRIES];
SYS_THREAD_LOCAL uint8_t lzw_suffix[GIF_LZW_MAX_ENTRIES];
SYS_THREAD_LOCAL uint8_t lzw_stack[GIF_LZW_MAX_ENTRIES];

// Reads codes least significant bit first from the data sub-blocks.
struct GifCodeReader {
    const uint8_t* source;
    size_t length;
    size_t at;         // next byte of the current sub-block
    size_t block_end;  // end of the current sub-block
    bool ended;        // terminator or end of source seen
    uint64_t bits;
    uint32_t count;
};

void gif_refill(GifCodeReader& r)
{
    while (r.count <= 56) {
        if (r.at < r.block_end) {
            r.bits |= uint64_t(r.source[r.at++]) << r.count;
            r.count += 8;
            continue;
        }
        if (r.ended || r.at >= r.length) {
            r.ended = true;
            return;
        }
        uint32_t n = r.source[r.at++];
        if (n == 0) {
            r.ended = true;
            return;
        }
        // A sub-block cut short by the end of the file gives what it holds.
        r.block_end = n <= r.length - r.at ? r.at + n : r.length;
    }
}

// Next code of `width` bits, or -1 when the data has run out.
inline int32_t gif_code(GifCodeReader& r, uint32_t width)
{
    if (r.count < width) {
        gif_refill(r);
        if (r.count < width)
            return -1;
    }
    int32_t code = int32_t(r.bits & ((1u << width) - 1));
    r.bits >>= width;
    r.count -= width;
    return code;
}

// Where the next pixel goes: image column and row, and the interlace pass.
struct GifCursor {
    int64_t column;
    int64_t row;
    int64_t step;
    int pass;
    bool interlaced;
    bool done;
};

// Next row; interlaced passes that would start below the image are skipped.
inline void gif_next_row(GifCursor& c, int64_t height)
{
    static constexpr int64_t GIF_PASS_START[5] = {0, 0, 4, 2, 1};
    static constexpr int64_t GIF_PASS_STEP[5] = {1, 8, 8, 4, 2};
    c.row += c.step;
    while (c.row >= height) {
        if (!c.interlaced || c.pass == 4) {
            c.done = true;
            return;
        }
        ++c.pass;
        c.row = GIF_PASS_START[c.pass];
        c.step = GIF_PASS_STEP[c.pass];
    }
}

void load_colour_table(const uint8_t* table, int32_t entries)
{
    for (int32_t i = 0; i < entries; ++i) {
        const uint8_t* e = table + 3 * i;
        decoder_palette[i] = 0xFF000000u | uint32_t(e[0]) << 16 | uint32_t(e[1]) << 8 | e[2];
    }
    palette_fill_black(entries);
    palette_count = entries;
}

// The screen rectangle minus the image rectangle, within the clip.
void fill_background(const OutputWindow& w, int64_t screen_width, int64_t screen_height, int64_t left, int64_t top,
                     int64_t image_width, int64_t image_height, uint32_t colour)
{
    VisibleSpan rows = visible_span(screen_height, w.y_offset, w.clip_height);
    VisibleSpan cols = visible_span(screen_width, w.x_offset, w.clip_width);
    for (int64_t j = rows.first; j < rows.end; ++j) {
        uint8_t* row = window_row(w, j);
        bool beside = j >= top && j < top + image_height;
        for (int64_t i = cols.first; i < cols.end; ++i) {
            if (beside && i >= left && i < left + image_width) {
                i = left + image_width - 1;
                continue;
            }
            store_pixel(window_pixel(w, row, i), colour);
        }
    }
}

struct GifScreen {
    int64_t width;
    int64_t height;
    uint32_t flags;
    uint32_t background_index;
    const uint8_t* global_table;  // null without one
    int32_t global_entries;
};

// The logical screen descriptor and the global colour table; *at moves past both.
int read_gif_screen(ByteView src, GifScreen* screen, size_t* at)
{
    const uint8_t* source = src.data;
    if (!view_has(src, 0, GIF_SCREEN_DESCRIPTOR_SIZE))
        return fail("truncated header");
    *screen = GifScreen{read_le16(source + 6), read_le16(source + 8), source[10], source[11], nullptr, 0};
    *at = GIF_SCREEN_DESCRIPTOR_SIZE;
    if (screen->flags & 0x80) {
        screen->global_entries = 2 << (screen->flags & 7);
        if (!view_has(src, *at, size_t(screen->global_entries) * 3))
            return fail("truncated colour table");
        screen->global_table = source + *at;
        *at += size_t(screen->global_entries) * 3;
    }
    return 0;
}

// Passes the extensions before the first image descriptor; *transparent
// receives the index a graphic control extension names (else left as it is).
int skip_gif_extensions(ByteView src, size_t* at, int32_t* transparent)
{
    const uint8_t* source = src.data;
    for (;;) {
        if (*at >= src.length)
            return fail("no image");
        if (source[*at] == 0x2C)
            return 0;
        if (source[*at] != 0x21)
            return fail("unknown block 0x%02X", unsigned(source[*at]));
        if (!view_has(src, *at, 2))
            return fail("truncated extension");
        // Graphic control: packed byte 2 after the label, index 5 after it.
        if (source[*at + 1] == 0xF9 && view_has(src, *at, 7) && (source[*at + 3] & 1))
            *transparent = source[*at + 6];
        *at += 2;
        for (;;) {
            if (*at >= src.length)
                return fail("truncated extension");
            uint32_t n = source[(*at)++];
            if (n == 0)
                break;
            *at += n;
        }
    }
}

struct GifImage {
    int64_t left;
    int64_t top;
    int64_t width;
    int64_t height;
    uint32_t flags;
};

// The image descriptor and the palette the image is drawn with: its local
// table, else the global one, else a grey ramp; *at moves past both.
int read_gif_image(ByteView src, const GifScreen& screen, int32_t transparent, GifImage* image, size_t* at)
{
    const uint8_t* source = src.data;
    if (!view_has(src, *at, GIF_IMAGE_DESCRIPTOR_SIZE))
        return fail("truncated image descriptor");
    const uint8_t* d = source + *at;
    *image = GifImage{read_le16(d + 1), read_le16(d + 3), read_le16(d + 5), read_le16(d + 7), d[9]};
    *at += GIF_IMAGE_DESCRIPTOR_SIZE;
    if (image->flags & 0x80) {
        int32_t entries = 2 << (image->flags & 7);
        if (!view_has(src, *at, size_t(entries) * 3))
            return fail("truncated colour table");
        load_colour_table(source + *at, entries);
        *at += size_t(entries) * 3;
    } else if (screen.global_table) {
        load_colour_table(screen.global_table, screen.global_entries);
    } else {
        // No colour table at all: show the indices as a grey ramp.
        for (uint32_t i = 0; i < 256; ++i)
            decoder_palette[i] = 0xFF000000u + i * 0x010101u;
        palette_count = 256;
    }
    if (transparent >= 0)
        decoder_palette[transparent] &= 0x00FFFFFF;
    return 0;
}

// Where the decoded indices go: the image rectangle, row after row or in the
// interlace passes; row is null while the current one lies outside the clip.
struct GifRows {
    GifCursor cursor;
    VisibleSpan cols;
    uint8_t* row;
};

inline uint8_t* gif_row_address(const OutputWindow& w, int64_t j)
{
    return row_visible(w, j) ? window_row(w, j) : nullptr;
}

// The string on the LZW stack, last entry first, at the cursor.
inline void put_string(GifRows& out, uint32_t sp, const GifImage& image, const OutputWindow& w)
{
    while (sp > 0) {
        uint8_t index = lzw_stack[--sp];
        if (out.row && out.cursor.column >= out.cols.first && out.cursor.column < out.cols.end)
            store_pixel(window_pixel(w, out.row, image.left + out.cursor.column), decoder_palette[index]);
        if (++out.cursor.column == image.width) {
            out.cursor.column = 0;
            gif_next_row(out.cursor, image.height);
            if (out.cursor.done)
                return;
            out.row = gif_row_address(w, image.top + out.cursor.row);
        }
    }
}

// The LZW data at `at` (minimum code size, then sub-blocks) into the image
// rectangle, row by row or in the four interlace passes. Damaged or short
// data ends the picture where it ends. The image comes by value: a copy that
// no pixel store can alias stays in registers.
void decode_gif_lzw(ByteView src, size_t at, GifImage image, const OutputWindow& w)
{
    uint32_t min_code_size = src.data[at++];
    if (min_code_size > GIF_LZW_MAX_MIN_CODE_SIZE)
        return;
    const uint32_t clear = 1u << min_code_size;
    const uint32_t end_of_information = clear + 1;
    for (uint32_t i = 0; i < clear; ++i) {
        lzw_prefix[i] = uint16_t(i);
        lzw_suffix[i] = uint8_t(i);
    }
    uint32_t next = clear + 2;
    uint32_t width = min_code_size + 1;
    uint32_t limit = clear << 1;
    int32_t pending = -1;  // entry whose suffix the next code supplies

    GifCodeReader reader{src.data, src.length, at, at, false, 0, 0};
    const bool interlaced = (image.flags & 0x40) != 0;
    GifRows out{{0, 0, interlaced ? 8 : 1, 1, interlaced, false},
                visible_span(image.width, int64_t(w.x_offset) + image.left, w.clip_width),
                gif_row_address(w, image.top)};

    while (!out.cursor.done) {
        int32_t code = gif_code(reader, width);
        if (code < 0)
            break;
        uint32_t c = uint32_t(code);
        if (c == clear) {
            next = clear + 2;
            width = min_code_size + 1;
            limit = clear << 1;
            pending = -1;
            continue;
        }
        // The end code, or a code for an entry not yet made: the data is over.
        if (c == end_of_information || c >= next)
            break;
        if (next == limit && width < GIF_LZW_MAX_WIDTH) {
            ++width;
            limit <<= 1;
        }
        uint32_t sp = 0;
        uint32_t e = c;
        while (e >= clear) {
            lzw_stack[sp++] = lzw_suffix[e];
            e = lzw_prefix[e];
        }
        uint8_t first = uint8_t(e);
        lzw_stack[sp++] = first;
        if (pending >= 0)
            lzw_suffix[pending] = first;
        // A full dictionary takes no more entries until the next clear code.
        if (next < GIF_LZW_MAX_ENTRIES) {
            lzw_prefix[next] = uint16_t(c);
            lzw_suffix[next] = first;
            pending = int32_t(next);
            ++next;
        } else {
            pending = -1;
        }
        put_string(out, sp, image, w);
    }
}

} // namespace

bool gif_sniff(ByteView v) { return view_starts_with(v, "GIF", 3); }

// The logical screen size, not that of the first image.
void gif_probe(ByteView v, int32_t* width, int32_t* height)
{
    if (!view_has(v, 6, 4))
        return;
    *width = read_le16(v.data + 6);
    *height = read_le16(v.data + 8);
}

int gif_decode(ByteView src, const OutputWindow& w)
{
    GifScreen screen{};
    size_t at = 0;
    if (read_gif_screen(src, &screen, &at) != 0)
        return -1;
    int32_t transparent = -1;
    if (skip_gif_extensions(src, &at, &transparent) != 0)
        return -1;
    GifImage image{};
    if (read_gif_image(src, screen, transparent, &image, &at) != 0)
        return -1;
    if (image.left != 0 || image.top != 0 || image.width != screen.width || image.height != screen.height) {
        uint32_t colour = (screen.flags & 0x80) ? decoder_palette[screen.background_index] : 0;
        fill_background(w, screen.width, screen.height, image.left, image.top, image.width, image.height, colour);
    }
    if (image.width == 0 || image.height == 0 || at >= src.length)
        return 0;
    decode_gif_lzw(src, at, image, w);
    return 0;
}
