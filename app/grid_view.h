#pragma once
// The grid view: 104-pixel cells of name and picture, the highlight of the
// hovered cell and the scrollbar, drawn from the browser state. It needs a
// frame and the input record, no window: the contact sheet draws with it too.
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
constexpr double BROWSER_NO_DRAG = -1e32;
// The file list fits pictures into a box that must lie within a cell's
// picture area, or they would run over their neighbours.
static_assert(PICTURE_FIT_BOX_WIDTH <= GRID_CELL_PITCH && PICTURE_FIT_BOX_HEIGHT <= GRID_CELL_PITCH - GRID_PICTURE_TOP);

// Browser state: lives for the whole run, a new load does not reset it.
struct BrowserState {
    double scroll_position;
    int32_t scroll_offset;
    int32_t columns;
    int32_t rows;
    int32_t total_height;
    bool info_toggle;
    double drag_anchor;
    uint32_t previous_buttons;
    double previous_time;
    double current_time;
    int32_t drawn_height;  // H of the frame drawn last
};

extern BrowserState browser;

// The start values (tests; app_main starts with them).
void browser_reset();

// Columns for a client width: (width - 16) / 104, at least 1.
int32_t browser_columns_for(int32_t width);

// Rows and total height of the list at the current column count.
void browser_count_rows();

// The entry under the pointer with the scroll offset of the frame drawn
// last, -1 when the pointer is over no entry.
int32_t browser_hovered_cell();

// Draws the whole frame from the current state.
void browser_draw(const Framebuffer& frame);

// The highlight of entry index as the hovered cell gets it: the name white on
// black, with the information lines while info_toggle is on.
void browser_draw_highlight(const Framebuffer& frame, int32_t index);
