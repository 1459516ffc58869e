// print_text: one line of formatted text in the built-in font.
#include "host/text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// A tab is its own blank glyph and two more blank cells.
constexpr int TEXT_TAB_COLUMNS = 3 * FONT_COLUMNS;

// The glyph columns of the longest text, every character a tab.
constexpr int TEXT_MAX_COLUMNS = TEXT_MAX_CHARS * TEXT_TAB_COLUMNS;

// Writes the formatted text into text (TEXT_MAX_CHARS + 1 bytes) and returns
// its length, or vsnprintf's result. The browser's names come as "%s" and
// "%.17s"; those are copied directly, the same bytes that vsnprintf gives but
// many times faster, which counts with a name in every cell of every frame.
int format_text(char* text, const char* format, va_list args)
{
    const bool plain = format[0] == '%' && format[1] == 's' && format[2] == 0;
    const bool cut = format[0] == '%' && format[1] == '.' && format[2] == '1' && format[3] == '7' && format[4] == 's' &&
                     format[5] == 0;
    if (plain || cut) {
        va_list copy;
        va_copy(copy, args);
        const char* s = va_arg(copy, const char*);
        va_end(copy);
        // A null string is left to vsnprintf, which has its own words for it.
        if (s) {
            size_t length = strnlen(s, plain ? TEXT_MAX_CHARS : 17);
            std::memcpy(text, s, length);
            text[length] = 0;
            return int(length);
        }
    }
    return vsnprintf(text, TEXT_MAX_CHARS + 1, format, args);
}

}  // namespace

void print_text(const Framebuffer& frame, int32_t x, int32_t y, uint32_t foreground, int32_t background,
                const char* format, ...)
{
    if (!format || !frame.pixels)
        return;
    char text[TEXT_MAX_CHARS + 1];
    va_list args;
    va_start(args, format);
    int length = format_text(text, format, args);
    va_end(args);
    text[TEXT_MAX_CHARS] = 0;
    if (length <= 0)
        return;
    if (length > TEXT_MAX_CHARS)
        length = TEXT_MAX_CHARS;

    // The glyph columns of the whole line side by side, column 0 at x: then
    // every glyph row is one plain loop over the visible columns, and the
    // clipping at the left and right edges is a single range.
    uint8_t columns[TEXT_MAX_COLUMNS];
    int64_t width = 0;
    for (int k = 0; k < length; ++k) {
        const uint8_t c = uint8_t(text[k]);
        std::memcpy(columns + width, font6x8 + c * FONT_COLUMNS, FONT_COLUMNS);
        width += FONT_COLUMNS;
        if (c == '\t') {
            std::memset(columns + width, 0, TEXT_TAB_COLUMNS - FONT_COLUMNS);
            width += TEXT_TAB_COLUMNS - FONT_COLUMNS;
        }
    }
    // 64-bit: x near INT32_MAX plus 18414 columns must not wrap.
    const int64_t begin = x < 0 ? -int64_t(x) : 0;
    const int64_t end = int64_t(frame.width) - x < width ? int64_t(frame.width) - x : width;
    if (begin >= end)
        return;
    const uint8_t* visible = columns + begin;
    const int64_t count = end - begin;

    const uint32_t back = uint32_t(background);
    for (int32_t r = 0; r < FONT_ROWS; ++r) {
        const int64_t frame_row = int64_t(y) + r;
        if (frame_row < 0 || frame_row >= frame.height)
            continue;
        uint32_t* pixel =
            reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(frame.pixels) + frame_row * frame.pitch) + (x + begin);
        const uint8_t bit = uint8_t(1u << r);
        // Both loops store every pixel, which lets them run as vector code;
        // the transparent one stores unset pixels back unchanged.
        if (background >= 0) {
            for (int64_t i = 0; i < count; ++i)
                pixel[i] = visible[i] & bit ? foreground : back;
        } else {
            for (int64_t i = 0; i < count; ++i)
                pixel[i] = visible[i] & bit ? foreground : pixel[i];
        }
    }
}
