#pragma once
// Start-up and shutdown of the viewer.

#include "app/app_load.h"

// Runs the viewer with the command-line tokens that follow the program's
// name. Returns the exit code: 0 after the window closed, 1 after the help
// box (/? or "Thumbs.db not found"), -1 when the window cannot be created.
int app_main(char* const* tokens, int count);

// The same for a command line as one writable string (Windows), cut into
// tokens by the program's own tokenizer: the text after the program's name.
int app_main_line(char* command_line);
