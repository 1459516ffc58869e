#pragma once
// The grid view: 104-pixel cells of name and picture, the highlight of the
// hovered cell and the scrollbar, drawn from a grid state. It needs a frame
// and the input record, no window: the contact sheet draws with it too.
#include <cstdint>

#include "host/window.h"
#include "picture/fit.h"

constexpr int32_t GRID_CELL_PITCH = 104;
constexpr int32_t GRID_SCROLLBAR_ROOM = 16;   // kept free when counting columns
constexpr int32_t GRID_NAME_CHARS = 17;       // of a name in the grid
constexpr int32_t GRID_PICTURE_TOP = 8;       // picture below the name line
constexpr uint32_t GRID_NAME_COLOUR = 0xC0A080;
constexpr uint32_t GRID_HIGHLIGHT_TEXT = 0xFFFFFF;
constexpr int32_t GRID_HIGHLIGHT_BACK = 0x000000;
constexpr uint32_t GRID_TRACK_PIXEL = 0x40404040;
constexpr uint32_t GRID_THUMB_PIXEL = 0xC0C0C0C0;
// The file list fits pictures into a box that must lie within a cell's
// picture area, or they would run over their neighbours.
static_assert(PICTURE_FIT_BOX_WIDTH <= GRID_CELL_PITCH && PICTURE_FIT_BOX_HEIGHT <= GRID_CELL_PITCH - GRID_PICTURE_TOP);

// What the grid shows: its shape over the list, where it is scrolled to and
// the colour it draws around the pictures.
struct GridState {
    int32_t scroll_offset;
    int32_t columns;
    int32_t rows;
    int32_t total_height;
    bool info_toggle;
    uint32_t background;  // 0x00RRGGBB
};

// Columns for a client width: (width - 16) / 104, at least 1.
int32_t grid_columns_for(int32_t width);

// Rows and total height of the list at the grid's column count.
void grid_count_rows(GridState* grid);

// The entry under the input record's pointer, -1 when it is over no entry.
int32_t grid_hovered_cell(const GridState& grid);

// Decode time a frame may spend on the pictures coming into view: scrolling
// stays responsive however large the pictures of a cache are.
constexpr int32_t GRID_DECODE_MS = 40;

// Decodes the pictures of the cells on a frame_height-high screen, then of a
// screen below and above it, for at most budget_ms; the number still to be
// decoded there (the next frames go on with them).
int32_t grid_decode_in_view(const GridState& grid, int32_t frame_height, int32_t budget_ms);

// Draws the whole frame from the grid state.
void grid_draw(const GridState& grid, const Framebuffer& frame);

// The highlight of entry index as the hovered cell gets it: the name white on
// black, with the information lines while info_toggle is on.
void grid_draw_highlight(const GridState& grid, const Framebuffer& frame, int32_t index);
