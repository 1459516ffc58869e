#pragma once
// Row-wise access to the output window for the raster decoders (GIF, BMP,
// TGA, PCX, CEL, DDS) and the JPEG decoder's plain output. The placement rule
// of OutputWindow, with the clip worked out once per row and span instead of
// once per pixel, and every picture coordinate 64-bit so that no header value
// can wrap it.
#include <cstdint>
#include <cstring>

#include "picture/picture.h"

// Picture coordinates [first, end) whose window positions offset + i lie in
// [0, clip). Empty (first >= end) when nothing is visible.
struct VisibleSpan {
    int64_t first;
    int64_t end;
};

inline VisibleSpan visible_span(int64_t picture_size, int64_t offset, int64_t clip)
{
    int64_t first = offset < 0 ? -offset : 0;
    int64_t end = clip - offset;
    if (end > picture_size)
        end = picture_size;
    if (clip <= 0 || first >= end)
        return {0, 0};
    return {first, end};
}

// Address of window row `offset + j`; only for j inside the visible span.
inline uint8_t* window_row(const OutputWindow& w, int64_t j)
{
    return w.destination + (int64_t(w.y_offset) + j) * int64_t(w.pitch);
}

// Address of picture column i inside a row from window_row; i visible only.
inline uint8_t* window_pixel(const OutputWindow& w, uint8_t* row, int64_t i)
{
    return row + (int64_t(w.x_offset) + i) * 4;
}

// Pixel stores through memcpy: the caller's pitch need not keep rows 4-aligned.
inline void store_pixel(uint8_t* p, uint32_t pixel) { std::memcpy(p, &pixel, 4); }

inline bool row_visible(const OutputWindow& w, int64_t j)
{
    int64_t row = int64_t(w.y_offset) + j;
    return row >= 0 && row < w.clip_height;
}

inline bool column_visible(const OutputWindow& w, int64_t i)
{
    int64_t column = int64_t(w.x_offset) + i;
    return column >= 0 && column < w.clip_width;
}

// Palette entries a file did not define read as opaque black, never as what an
// earlier picture left in the shared table.
inline void palette_fill_black(int32_t from)
{
    for (int32_t i = from < 0 ? 0 : from; i < 256; ++i)
        decoder_palette[i] = 0xFF000000u;
}
