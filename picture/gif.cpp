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

uint16_t lzw_prefix[GIF_LZW_MAX_ENTRIES];
uint8_t lzw_suffix[GIF_LZW_MAX_ENTRIES];
uint8_t lzw_stack[GIF_LZW_MAX_ENTRIES];

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
    const uint8_t* source = src.data;
    if (!view_has(src, 0, GIF_SCREEN_DESCRIPTOR_SIZE))
        return picture_fail("truncated header");
    int64_t screen_width = read_le16(source + 6);
    int64_t screen_height = read_le16(source + 8);
    uint32_t screen_flags = source[10];
    uint32_t background_index = source[11];
    size_t at = GIF_SCREEN_DESCRIPTOR_SIZE;
    const uint8_t* global_table = nullptr;
    int32_t global_entries = 0;
    if (screen_flags & 0x80) {
        global_entries = 2 << (screen_flags & 7);
        if (!view_has(src, at, size_t(global_entries) * 3))
            return picture_fail("truncated colour table");
        global_table = source + at;
        at += size_t(global_entries) * 3;
    }

    int32_t transparent = -1;
    for (;;) {
        if (at >= src.length)
            return picture_fail("no image");
        if (source[at] == 0x2C)
            break;
        if (source[at] != 0x21)
            return picture_fail("unknown block 0x%02X", unsigned(source[at]));
        if (!view_has(src, at, 2))
            return picture_fail("truncated extension");
        // Graphic control: packed byte 2 after the label, index 5 after it.
        if (source[at + 1] == 0xF9 && view_has(src, at, 7) && (source[at + 3] & 1))
            transparent = source[at + 6];
        at += 2;
        for (;;) {
            if (at >= src.length)
                return picture_fail("truncated extension");
            uint32_t n = source[at++];
            if (n == 0)
                break;
            at += n;
        }
    }

    if (!view_has(src, at, GIF_IMAGE_DESCRIPTOR_SIZE))
        return picture_fail("truncated image descriptor");
    int64_t left = read_le16(source + at + 1);
    int64_t top = read_le16(source + at + 3);
    int64_t image_width = read_le16(source + at + 5);
    int64_t image_height = read_le16(source + at + 7);
    uint32_t image_flags = source[at + 9];
    at += GIF_IMAGE_DESCRIPTOR_SIZE;
    if (image_flags & 0x80) {
        int32_t entries = 2 << (image_flags & 7);
        if (!view_has(src, at, size_t(entries) * 3))
            return picture_fail("truncated colour table");
        load_colour_table(source + at, entries);
        at += size_t(entries) * 3;
    } else if (global_table) {
        load_colour_table(global_table, global_entries);
    } else {
        // No colour table at all: show the indices as a grey ramp.
        for (uint32_t i = 0; i < 256; ++i)
            decoder_palette[i] = 0xFF000000u + i * 0x010101u;
        palette_count = 256;
    }
    if (transparent >= 0)
        decoder_palette[transparent] &= 0x00FFFFFF;
    if (left != 0 || top != 0 || image_width != screen_width || image_height != screen_height) {
        uint32_t colour = (screen_flags & 0x80) ? decoder_palette[background_index] : 0;
        fill_background(w, screen_width, screen_height, left, top, image_width, image_height, colour);
    }

    if (image_width == 0 || image_height == 0 || at >= src.length)
        return 0;
    uint32_t min_code_size = source[at++];
    if (min_code_size > GIF_LZW_MAX_MIN_CODE_SIZE)
        return 0;

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

    GifCodeReader reader{source, src.length, at, at, false, 0, 0};
    GifCursor cursor{0, 0, 1, 1, (image_flags & 0x40) != 0, false};
    if (cursor.interlaced)
        cursor.step = 8;
    VisibleSpan cols = visible_span(image_width, int64_t(w.x_offset) + left, w.clip_width);
    auto row_address = [&](int64_t row) -> uint8_t* {
        return row_visible(w, top + row) ? window_row(w, top + row) : nullptr;
    };
    uint8_t* row = row_address(0);

    while (!cursor.done) {
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
        while (sp > 0) {
            uint8_t index = lzw_stack[--sp];
            if (row && cursor.column >= cols.first && cursor.column < cols.end)
                store_pixel(window_pixel(w, row, left + cursor.column), decoder_palette[index]);
            if (++cursor.column == image_width) {
                cursor.column = 0;
                gif_next_row(cursor, image_height);
                if (cursor.done)
                    break;
                row = row_address(cursor.row);
            }
        }
    }
    return 0;
}
