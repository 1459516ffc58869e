#pragma once
// The commands given in the browser window with keys and the mouse.
#include <cstdint>

// A character from the window's queue: Enter, Space, B, L, S; others are ignored.
void command_character(uint32_t c);

// Enter or a left press in the grid: opens the hovered entry's file in the
// program the desktop associates with it; beeps when that fails.
void command_open_hovered();
