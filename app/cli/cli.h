#pragma once
// glimmerdex-cli: the store and the decoders without a window.

// Exit codes shared by every command.
constexpr int CLI_OK = 0;
constexpr int CLI_FAILED = 1;
constexpr int CLI_USAGE = 2;

int cli_list(int argc, char** argv);
int cli_decode(int argc, char** argv);
int cli_extract(int argc, char** argv);
int cli_sheet(int argc, char** argv);

// Prints "glimmerdex-cli: <message>" to standard error.
void cli_error(const char* format, ...);
