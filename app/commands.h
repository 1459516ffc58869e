#pragma once
// The commands given in the browser window with keys and the mouse. Each
// takes the entry under the pointer (-1 for none) where it needs one; the
// browser's key table decides which key runs which.
#include <cstdint>

// Enter or a left press in the grid: opens the entry's file in the program
// the desktop associates with it; beeps when that fails or there is none.
void command_open(int32_t entry);

// S: saves the entry's thumbnail through the save dialog, as stored (JPEG)
// or as PNG for an old catalog.
void command_save(int32_t entry);

// B: the colour dialog for the background.
void command_colour();

// L: the open dialog for another cache.
void command_load();
