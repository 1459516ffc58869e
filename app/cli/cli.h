#pragma once
// glimmerdex-cli: the store and the decoders without a window.
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

// Exit codes shared by every command.
constexpr int CLI_OK = 0;
constexpr int CLI_FAILED = 1;
constexpr int CLI_USAGE = 2;

// The most threads --jobs asks for: past the processors more only cost memory.
constexpr long CLI_MAX_JOBS = 256;

int cli_list(int argc, char** argv);
int cli_decode(int argc, char** argv);
int cli_extract(int argc, char** argv);
int cli_sheet(int argc, char** argv);

// Prints "glimmerdex-cli: <message>" to standard error, and keeps the line in
// cli_warnings when that is set (the case manifest records every warning).
void cli_error(const char* format, ...);
extern std::vector<std::string>* cli_warnings;

// The command line as main received it, for the case manifest.
extern std::vector<std::string> cli_invocation;

// Writes width x height pixels (0x..RRGGBB) as a PNG at path; 0, or -1 with
// the failure reported, prefixed by command.
int cli_write_png(const char* command, const std::string& path, const std::vector<uint32_t>& pixels, int32_t width,
                  int32_t height);

// One option of a command. A switch sets *on; a number is read in base 10
// (a colour also as 0x and hex digits) into *number within [min, max]; a
// text is handed over as it stands.
enum CliOptionKind { CLI_SWITCH, CLI_NUMBER, CLI_COLOUR, CLI_TEXT };
struct CliOption {
    const char* name;        // "--flags"
    const char* short_name;  // "-r", or null
    CliOptionKind kind;
    bool* on;                // CLI_SWITCH
    long* number;            // CLI_NUMBER, CLI_COLOUR
    long min, max;
    const char** text;       // CLI_TEXT
};

enum CliParse { CLI_PARSED, CLI_HELP_ASKED, CLI_BAD_OPTION };

// Reads a command's arguments against its options, the same way for every
// command: "--opt V" and "--opt=V"; "--help" or "-h" anywhere asks for the
// help; "--" ends the options; every other word is an argument, kept in
// order. On CLI_BAD_OPTION the reason is printed, prefixed by command.
CliParse cli_parse_options(const char* command, int argc, char** argv, const CliOption* options, int option_count,
                           std::vector<std::string>* arguments);

// Takes every occurrence of the repeatable options named (each with a value:
// "--opt V" or "--opt=V") out of the arguments, in order, as name/value
// pairs; the rest stay in *rest for cli_parse_options. Words after "--" are
// left alone. CLI_BAD_OPTION when a value is missing (reported).
CliParse cli_take_repeated(const char* command, int argc, char** argv, const char* const* names, int name_count,
                           std::vector<std::pair<std::string, std::string>>* taken, std::vector<char*>* rest);
