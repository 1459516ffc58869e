#pragma once
// Start-up settings from the command line, and the help text.
#include <cstdint>

// Process-wide start-up settings.
extern int32_t start_width;              // 800
extern int32_t start_height;             // 600
extern int32_t start_display_flags;      // 2: bit 0 folder files, bit 1 catalog names
extern uint32_t start_background_colour; // 0x00RRGGBB
extern const char* start_path;           // null when none was given
extern const char* start_index_path;     // /index=FILE: a Windows Search index, or null

constexpr int COMMAND_LINE_MAX_TOKENS = 128;

enum CommandLineOutcome {
    COMMAND_LINE_SETTINGS = 0,  // settings complete
    COMMAND_LINE_HELP = 1,      // "/?" (or -h, --help) met
    COMMAND_LINE_VERSION = 2,   // --version met
};

// Cuts a writable command line into at most 128 tokens (slot 0 is "exe",
// a null entry ends the table). Returns the token count after slot 0.
int tokenize_command_line(char* command_line, char* table[COMMAND_LINE_MAX_TOKENS + 2]);

// Applies the options of tokens[0 .. count) in order to the settings.
CommandLineOutcome parse_options(char* const* tokens, int count);

// Linux argv tokens: as parse_options, except that a token beginning with
// "/" that names an existing file or folder is a path, not an option (on
// Linux every absolute path begins so).
CommandLineOutcome parse_arguments(char* const* tokens, int count);

// The whole Windows-style path: tokenize, then parse the options.
CommandLineOutcome parse_command_line(char* command_line);

// Resets the settings to their defaults (tests).
void reset_start_settings();

// The help text with the build date, into buffer; returns its length.
int format_help_text(char* buffer, int size);

const char* glimmerdex_version();
