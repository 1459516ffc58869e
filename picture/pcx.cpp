// PCX (ZSoft Paintbrush), version 5, 8 bits per plane, run-length encoded.
//   0 manufacturer 0x0A   1 version 5   2 encoding 1   3 bits per plane 8
//   4 s16 Xmin   6 s16 Ymin   8 s16 Xmax   10 s16 Ymax
//   65 NPlanes   66 s16 BytesPerLine   128 encoded scanlines
//   one plane: 256 x (R, G, B) in the last 768 bytes of the file
#include "picture/bytes.h"
#include "picture/formats.h"
#include "picture/picture.h"
#include "picture/raster_window.h"

namespace {

constexpr size_t PCX_HEADER_SIZE = 128;
constexpr size_t PCX_PALETTE_SIZE = 768;

// Run-length reader over [at, end): a byte of 0xC0 or more is a count (low
// six bits) for the value that follows; any other byte is one value.
struct PcxRuns {
    const uint8_t* source;
    size_t at;
    size_t end;
    uint32_t count;
    uint8_t value;
};

// Next decoded value; false when the data has run out.
inline bool pcx_next(PcxRuns& r, uint8_t* value)
{
    while (r.count == 0) {
        if (r.at >= r.end)
            return false;
        uint8_t b = r.source[r.at++];
        if (b >= 0xC0) {
            if (r.at >= r.end)
                return false;
            r.count = b & 0x3F;  // a count of 0 consumes its value and yields nothing
            r.value = r.source[r.at++];
        } else {
            r.count = 1;
            r.value = b;
        }
    }
    --r.count;
    *value = r.value;
    return true;
}

} // namespace

bool pcx_sniff(ByteView v)
{
    static constexpr uint8_t start[4] = {0x0A, 0x05, 0x01, 0x08};
    return view_starts_with(v, start, 4);
}

void pcx_probe(ByteView v, int32_t* width, int32_t* height)
{
    if (!view_has(v, 4, 8))
        return;
    *width = int16_t(read_le16(v.data + 8)) - int16_t(read_le16(v.data + 4)) + 1;
    *height = int16_t(read_le16(v.data + 10)) - int16_t(read_le16(v.data + 6)) + 1;
}

int pcx_decode(ByteView src, const OutputWindow& w)
{
    const uint8_t* source = src.data;
    if (!view_has(src, 0, 68))
        return fail("truncated header");
    int64_t Xmin = int16_t(read_le16(source + 4));
    int64_t Ymin = int16_t(read_le16(source + 6));
    int64_t Xmax = int16_t(read_le16(source + 8));
    int64_t Ymax = int16_t(read_le16(source + 10));
    int64_t width = Xmax - Xmin + 1;
    int64_t height = Ymax - Ymin + 1;
    if (width < 1 || height < 1)
        return fail("empty or inverted picture bounds");
    uint32_t NPlanes = source[65];
    int64_t BytesPerLine = int16_t(read_le16(source + 66));
    if (NPlanes != 1 && NPlanes != 3)
        return 0;
    // A one-plane file too short to hold its 256-colour palette has no colours.
    if (NPlanes == 1 && src.length < PCX_PALETTE_SIZE)
        return fail("truncated palette");
    int64_t line = width < BytesPerLine ? BytesPerLine : width;
    VisibleSpan rows = visible_span(height, w.y_offset, w.clip_height);
    VisibleSpan cols = visible_span(width, w.x_offset, w.clip_width);
    PcxRuns runs{source, PCX_HEADER_SIZE, src.length, 0, 0};
    uint8_t value;

    if (NPlanes == 1) {
        const uint8_t* pal = source + src.length - PCX_PALETTE_SIZE;
        for (int i = 0; i < 256; ++i)
            decoder_palette[i] = 0xFF000000u | uint32_t(pal[3 * i]) << 16 | uint32_t(pal[3 * i + 1]) << 8 |
                                 pal[3 * i + 2];
        palette_count = 256;
        for (int64_t j = 0; j < height; ++j) {
            bool shown = j >= rows.first && j < rows.end;
            uint8_t* row = shown ? window_row(w, j) : nullptr;
            for (int64_t i = 0; i < line; ++i) {
                if (!pcx_next(runs, &value))
                    return 0;
                if (shown && i >= cols.first && i < cols.end)
                    store_pixel(window_pixel(w, row, i), decoder_palette[value]);
            }
        }
        return 0;
    }

    // Three planes: make every covered pixel opaque first, then fill the
    // red, green and blue bytes plane line by plane line.
    for (int64_t j = rows.first; j < rows.end; ++j) {
        uint8_t* row = window_row(w, j);
        for (int64_t i = cols.first; i < cols.end; ++i)
            window_pixel(w, row, i)[3] = 0xFF;
    }
    for (int64_t j = 0; j < height; ++j) {
        bool shown = j >= rows.first && j < rows.end;
        uint8_t* row = shown ? window_row(w, j) : nullptr;
        for (int plane = 0; plane < 3; ++plane) {
            int byte = 2 - plane;  // red is byte 2 of the little-endian word
            for (int64_t i = 0; i < line; ++i) {
                if (!pcx_next(runs, &value))
                    return 0;
                if (shown && i >= cols.first && i < cols.end)
                    window_pixel(w, row, i)[byte] = value;
            }
        }
    }
    return 0;
}
