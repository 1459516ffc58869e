#pragma once
// The browser's polling main loop: scrolling by wheel, keys and scrollbar,
// the key table that hands the hovered entry to the commands, and a redraw
// of the grid view every frame.
#include <cstdint>

#include "app/grid_view.h"

constexpr double BROWSER_KEY_SPEED = 256;        // pixels per second
constexpr double BROWSER_LEFT_SHIFT_FACTOR = 0.0125;
constexpr double BROWSER_RIGHT_SHIFT_FACTOR = 16;
constexpr int BROWSER_FRAME_PAUSE_MS = 5;
constexpr double BROWSER_END_OF_LIST = 1e32;     // clamped to the last position
constexpr double BROWSER_NO_DRAG = -1e32;

// The main loop's state: lives for the whole run, a new load does not reset it.
struct BrowserState {
    GridState grid;
    double scroll_position;
    double drag_anchor;
    uint32_t previous_buttons;
    double previous_time;
    double current_time;
    int32_t drawn_height;  // H of the frame drawn last
};

extern BrowserState browser;

// The start values (tests; app_main starts with them).
void browser_reset();

// One pass of the main loop; -1 when the host reported the quit message.
int browser_frame();

// Runs the main loop until the window closes.
void browser_run();
