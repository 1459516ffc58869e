#pragma once
// glimmerdex-cli: the store and the decoders without a window.
#include <iterator>
#include <string>
#include <vector>

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
