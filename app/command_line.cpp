// The command line: Windows-style tokenizer, options, and the help text.
#include "app/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/system.h"

int32_t start_width = 800;
int32_t start_height = 600;
int32_t start_display_flags = 2;
uint32_t start_background_colour = 0;
const char* start_path = nullptr;
const char* start_index_path = nullptr;

namespace {

bool begins_nocase(const char* text, const char* prefix)
{
    for (; *prefix; ++text, ++prefix)
        if (ascii_lower(static_cast<unsigned char>(*text)) != ascii_lower(static_cast<unsigned char>(*prefix)))
            return false;
    return true;
}

// "/#x#": decimal numbers, each ended by one skipped non-digit; the third
// number and beyond change nothing.
void parse_resolution(const char* text)
{
    for (int index = 0; index < 3 && *text; ++index) {
        int64_t value = 0;
        while (*text >= '0' && *text <= '9') {
            if (value < INT32_MAX)
                value = value * 10 + (*text - '0');
            ++text;
        }
        if (value > INT32_MAX)
            value = INT32_MAX;
        if (index == 0)
            start_width = int32_t(value);
        else if (index == 1)
            start_height = int32_t(value);
        if (*text)
            ++text;
    }
}

} // namespace

void reset_start_settings()
{
    start_width = 800;
    start_height = 600;
    start_display_flags = 2;
    start_background_colour = 0;
    start_path = nullptr;
    start_index_path = nullptr;
}

int tokenize_command_line(char* line, char* table[COMMAND_LINE_MAX_TOKENS + 2])
{
    static char exe[] = "exe";
    int count = 0;
    table[0] = exe;
    int q = 0, s = 0;
    size_t i = 0;
    for (; line[i]; ++i) {
        char c = line[i];
        bool inside = (c != ' ' && c != '\t') || q == 1;
        if (c == '"')
            q ^= 1;
        if (s == 0 && inside) {
            // Tokens past the table's 128 are dropped; the line is still cut.
            if (count < COMMAND_LINE_MAX_TOKENS)
                table[++count] = line + i + q;
            s = q + 1;
        } else if (s != 0 && !inside) {
            if (s == 2 && i > 0 && line[i - 1] == '"')
                line[i - 1] = 0;
            line[i] = 0;
            s = 0;
        }
    }
    if (s == 2 && i > 0 && line[i - 1] == '"')
        line[i - 1] = 0;
    table[count + 1] = nullptr;
    return count;
}

CommandLineOutcome parse_options(char* const* tokens, int count)
{
    for (int i = 0; i < count; ++i) {
        const char* token = tokens[i];
        if (!token)
            break;
        if (token[0] != '/' && token[0] != '-') {
            start_path = token;
            continue;
        }
        const char* text = token + 1;
        // The Linux conventions: -h, --help, --version.
        if (std::strcmp(token, "--help") == 0 || std::strcmp(token, "-h") == 0)
            return COMMAND_LINE_HELP;
        if (std::strcmp(token, "--version") == 0)
            return COMMAND_LINE_VERSION;
        if (text[0] == '?')
            return COMMAND_LINE_HELP;
        if (begins_nocase(text, "flags=")) {
            long v = std::atol(text + 6);
            start_display_flags = v <= 0 ? 0 : v >= 4 ? 4 : int32_t(v);
        } else if (begins_nocase(text, "index=")) {
            start_index_path = text + 6;
        } else if (begins_nocase(text, "backcol=")) {
            start_background_colour = uint32_t(std::strtol(text + 8, nullptr, 0));
        } else if (text[0] >= '0' && text[0] <= '9') {
            parse_resolution(text);
        }
    }
    return COMMAND_LINE_SETTINGS;
}

CommandLineOutcome parse_arguments(char* const* tokens, int count)
{
    for (int i = 0; i < count && tokens[i]; ++i) {
        if (tokens[i][0] == '/' && sys_path_exists(tokens[i])) {
            start_path = tokens[i];
            continue;
        }
        CommandLineOutcome outcome = parse_options(tokens + i, 1);
        if (outcome != COMMAND_LINE_SETTINGS)
            return outcome;
    }
    return COMMAND_LINE_SETTINGS;
}

CommandLineOutcome parse_command_line(char* command_line)
{
    char* table[COMMAND_LINE_MAX_TOKENS + 2];
    int count = tokenize_command_line(command_line, table);
    return parse_options(table + 1, count);
}

const char* glimmerdex_version() { return GLIMMERDEX_VERSION; }

int format_help_text(char* buffer, int size)
{
    return std::snprintf(buffer, size_t(size),
        "Glimmerdex by Orlancey (Mar 09 2008 to %s)\n"
        "https://glimmerdex.example/\n"
        "\n"
        "Command line options:\n"
        "\t[filename]\tSelect Thumbs.db file\n"
        "\t/#x#\t\tSelect starting resolution\n"
        "\t/backcol=#\tSelect non-default background color\n"
        "\t/flags=#\t\tSelect files to display: 0=none, 1=dir, 2=thumbs (default), 3=dir&thumbs\n"
        "\t/?\t\tShow this help\n"
        "\n"
        "Examples:\n"
        "\tglimmerdex thumbs.db /800x600 /flags=2  (default settings)\n"
        "\tglimmerdex c:\\pics\\thumbs.db /1024x768 /flags=3 /backcol=0xffffff\n"
        "\n"
        "Controls:\n"
        "\tUp/Dn/PGUP/PGDN/Home/End/Scrollbar at right: Scroll up/down\n"
        "\tESC\t\tQuit\n"
        "\tLMB/Enter\tView thumbnail in default viewer\n"
        "\tL\t\tLoad new Thumbs.db file\n"
        "\tS\t\tSave thumbnail to file\n"
        "\tB\t\tChange background color\n"
        "\tSpace\t\tToggle file info\n"
        "\tF1\t\tShow this help\n",
        __DATE__);
}
