#pragma once
// Text output with the built-in 6 by 8 font.
#include <cstdint>

#include "host/window.h"

constexpr int FONT_GLYPHS = 256;
constexpr int FONT_COLUMNS = 6;  // glyph width in pixels
constexpr int FONT_ROWS = 8;     // glyph height in pixels
constexpr int TEXT_MAX_CHARS = 1023;  // the formatting buffer holds 1024 bytes

// Column bytes of code page 437, 6 per glyph; bit r is row r, bit 0 the top.
extern const uint8_t font6x8[FONT_GLYPHS * FONT_COLUMNS];

// Formats like printf and draws one line with its top-left corner at (x, y),
// clipped to the frame. background < 0 leaves unset pixels alone. A tab takes
// three cells; a line feed is drawn as its glyph.
void print_text(const Framebuffer& frame, int32_t x, int32_t y, uint32_t foreground, int32_t background,
                const char* format, ...) __attribute__((format(printf, 6, 7)));
