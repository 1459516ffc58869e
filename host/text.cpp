// print_text: one line of formatted text in the built-in font.
#include "host/text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

int32_t min32(int32_t a, int32_t b) { return a < b ? a : b; }
int32_t max32(int32_t a, int32_t b) { return a > b ? a : b; }

}  // namespace

void print_text(const Framebuffer& frame, int32_t x, int32_t y, uint32_t foreground, int32_t background,
                const char* format, ...)
{
    if (!format || !frame.pixels)
        return;
    char text[TEXT_MAX_CHARS + 1];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    text[TEXT_MAX_CHARS] = 0;
    if (length <= 0)
        return;
    if (length > TEXT_MAX_CHARS)
        length = TEXT_MAX_CHARS;

    const bool opaque = background >= 0;
    const uint32_t back = uint32_t(background);

    // The usual case, a line without tabs wholly inside the frame's width,
    // needs no clipping per glyph.
    if (x >= 0 && int64_t(x) + int64_t(length) * FONT_COLUMNS <= frame.width && !std::memchr(text, '\t', size_t(length))) {
        for (int32_t r = 0; r < FONT_ROWS; ++r) {
            int64_t frame_row = int64_t(y) + r;
            if (frame_row < 0 || frame_row >= frame.height)
                continue;
            uint32_t* pixel = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(frame.pixels) + frame_row * frame.pitch) + x;
            const uint8_t mask = uint8_t(1u << r);
            for (int k = 0; k < length; ++k, pixel += FONT_COLUMNS) {
                const uint8_t* glyph = font6x8 + uint8_t(text[k]) * FONT_COLUMNS;
                for (int i = 0; i < FONT_COLUMNS; ++i) {
                    if (glyph[i] & mask)
                        pixel[i] = foreground;
                    else if (opaque)
                        pixel[i] = back;
                }
            }
        }
        return;
    }

    for (int32_t r = 0; r < FONT_ROWS; ++r) {
        int64_t frame_row = int64_t(y) + r;
        if (frame_row < 0 || frame_row >= frame.height)
            continue;
        uint32_t* row = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(frame.pixels) + frame_row * frame.pitch);
        // The pen is 64-bit: 1023 cells from x near INT32_MAX must not wrap.
        int64_t pen = x;
        for (int k = 0; k < length; ++k) {
            const uint8_t c = uint8_t(text[k]);
            if (pen < frame.width && pen + FONT_COLUMNS > 0) {
                const int32_t p = int32_t(pen);
                const uint8_t* glyph = font6x8 + c * FONT_COLUMNS;
                for (int32_t i = max32(0, -p); i < min32(FONT_COLUMNS, frame.width - p); ++i) {
                    if (glyph[i] >> r & 1)
                        row[p + i] = foreground;
                    else if (opaque)
                        row[p + i] = back;
                }
            }
            if (c == '\t') {
                // The tab's blank cell is followed by two more.
                if (opaque && pen < frame.width && pen + 3 * FONT_COLUMNS > 0) {
                    const int32_t p = int32_t(pen);
                    for (int32_t i = max32(FONT_COLUMNS, -p); i < min32(3 * FONT_COLUMNS, frame.width - p); ++i)
                        row[p + i] = back;
                }
                pen += 2 * FONT_COLUMNS;
            }
            pen += FONT_COLUMNS;
        }
    }
}
