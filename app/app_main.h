#pragma once
// Start-up and shutdown of the viewer.

// The one path shared by the start-up, load and save dialogs, so each opens
// with the path last chosen or proposed.
constexpr int PATH_BUFFER_BYTES = 260;
extern char path_buffer[PATH_BUFFER_BYTES];

// Runs the viewer with the command-line tokens that follow the program's
// name. Returns the exit code: 0 after the window closed, 1 after the help
// box (/? or "Thumbs.db not found"), -1 when the window cannot be created.
int app_main(char* const* tokens, int count);

// The same for a command line as one writable string (Windows), cut into
// tokens by the program's own tokenizer: the text after the program's name.
int app_main_line(char* command_line);

// Loads the cache a path names: a folder's Thumbs.db, or, for a path naming
// a file, that file itself with its folder as the current directory.
// 0 when it was loaded, -1 otherwise (the list is then empty).
int app_load(const char* path);
