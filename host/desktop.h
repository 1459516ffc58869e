#pragma once
// Desktop services the browser asks for: message boxes, the beep, the file
// and colour dialogs and the shell's "open". desktop_sdl.cpp and
// desktop_win32.cpp talk to the real desktops; headless/desktop_headless.cpp
// answers from a queue and records every call, for tests. Writing a copy
// with its file time is shared by all three (desktop_files_posix.cpp,
// desktop_files_win32.cpp).
#include <cstdint>

// A box with a single OK button. owned: shown with the window as owner.
void desktop_message_box(bool owned, const char* text, const char* caption);

// The system's default beep.
void desktop_beep();

struct DesktopFileFilter {
    const char* name;     // shown to the user
    const char* pattern;  // "Thumbs.db", "*.*"
};

// Asks for an existing file. path (path_size bytes) holds the proposal and
// receives the chosen path. 1 when a file was chosen: its folder is then the
// current directory. 0 when cancelled or when no dialog could be shown.
int desktop_open_dialog(bool owned, const char* title, const DesktopFileFilter* filters, int filter_count,
                        const char* default_extension, char* path, int path_size);

// Asks for a file to write, confirming before an existing one is replaced.
// The same path and result rules; the current directory is not changed.
int desktop_save_dialog(bool owned, const char* title, const DesktopFileFilter* filters, int filter_count,
                        const char* default_extension, char* path, int path_size);

constexpr int DESKTOP_CUSTOM_COLOURS = 16;

// The colour dialog. colour is a COLORREF (0x00BBGGRR): the initial choice,
// and the chosen one when the result is 1. 0 on Cancel. custom_colours keeps
// the user's custom colours from one use to the next.
int desktop_choose_colour(bool owned, uint32_t* colour, uint32_t custom_colours[DESKTOP_CUSTOM_COLOURS]);

// Opens the named file (relative to the current directory) in the program
// the desktop associates with its type. 1 when the file exists and the
// launcher was started, 0 otherwise.
int desktop_shell_open(const char* name);

// Creates or replaces path and writes length bytes of data into it. With
// set_time, the file's access and modification times become time (a
// FILETIME), and on Windows its creation time too (Linux keeps none).
// -1 when the file cannot be created or written.
int desktop_write_copy(const char* path, const uint8_t* data, int64_t length, bool set_time, uint64_t time);
