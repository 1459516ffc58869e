#pragma once
// State shared by the PNG chunk walk and row stage (png_decoder.cpp) and the
// inflater (inflate.cpp). Everything is process-wide: one decode at a time.
#include <cstddef>
#include <cstdint>

#include "picture/picture.h"

// The inflater hands decompressed bytes over in slices of this size.
constexpr int32_t INFLATE_SLICE = 16384;
// Longest row the row stage holds, in bytes (the row buffer keeps one spare byte).
constexpr int32_t PNG_MAX_ROW_BYTES = 65535;

// One IDAT chunk as the chunk walk found it: data offset in the source and
// data length, already cut to the bytes the source really holds.
struct PngChunkRef {
    size_t data;
    size_t length;
};

// Header values and decode-wide state of the row stage.
struct PngState {
    const uint8_t* source;
    size_t source_length;

    int32_t width;
    int32_t height;
    int32_t bit_depth;
    int32_t colour_type;
    int32_t pass;  // 7..1 for Adam7 passes 1..7, 0 when not interlaced

    uint32_t transparent_key;  // 0xFFRRGGBB, 0 when none
    uint8_t unit_next[4];      // byte k of a pixel -> index of the next byte of its filter unit

    OutputWindow window;

    // Row stage cursor.
    int32_t filter;   // filter type of the current row; -1 before its filter byte; PNG_ROWS_DONE after the last row
    int32_t missing;  // bytes of the current row not yet seen
    int32_t unit;     // index into the filter-unit arrays
    uint8_t upper_left[4];
    int64_t rows_completed;

    // Pass geometry.
    int32_t x_start, y_start, x_step, y_step, x_shift;
    int32_t pass_width;
    int32_t row_bytes;
    int64_t y;         // current output row, window coordinates
    int64_t y_end;     // y offset + image height: the row below the picture
    int64_t x_first;   // window column of the pass's first pixel in a row
    int32_t skip_left; // pass pixels left of column 0
    int32_t visible;   // pass pixels left of the clip width (cut to the pass width)
};

// The row stage's filter value once no further row can be written: the last
// row of the picture is done, or a row carried an unknown filter type.
constexpr int32_t PNG_ROWS_DONE = -2;

extern SYS_THREAD_LOCAL PngState png;

// Paeth step used for filter type 4: 1 = distance table with conditional
// moves, 0 = plain. Chosen once by png_init_tables; tests may switch it.
extern int32_t png_paeth_variant;
extern bool png_paeth_table_filled;

void png_init_tables();
void inflate_init_tables();
void png_setup_pass();
void png_filter_rows(const uint8_t* bytes, int32_t count);

// Where the inflater hands its slices; png_filter_rows unless a benchmark
// or test measures the inflater alone.
using InflateSink = void (*)(const uint8_t* bytes, int32_t count);
extern SYS_THREAD_LOCAL InflateSink inflate_sink;

// True once nothing the inflater could still produce can become visible.
inline bool png_rows_finished()
{
    return png.filter == PNG_ROWS_DONE || (png.y >= png.window.clip_height && png.pass < 2);
}

// Decompresses the zlib stream that starts in the IDAT chunk `first` of
// png.source and runs on through the IDAT chunks that follow it. 0 when the
// stream ends or stops early; when it runs out of data, 0 if a row was
// completed (the rows so far stay), else -1; -1 on a corrupt stream.
int inflate_run(PngChunkRef first);

// The next IDAT chunk after `chunk` (which must directly follow it); false
// when the next chunk is not IDAT or the source ends.
bool png_next_idat(PngChunkRef chunk, PngChunkRef* next);
