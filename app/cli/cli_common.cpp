// What every command of the tool shares: the error line and the option parser.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/cli/cli.h"
#include "platform/thread.h"
#include "pngout/png_writer.h"

std::vector<std::string>* cli_warnings = nullptr;
std::vector<std::string> cli_invocation;

namespace {

// Made before main, on the one thread there is then: workers of extract and
// sheet may report at once, and each line goes out whole and is kept once.
SysLock* const error_lock = sys_lock_new();

} // namespace

void cli_error(const char* format, ...)
{
    // Measured first: paths in messages may be longer than any fixed buffer.
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string line(n > 0 ? size_t(n) : 0, '\0');
    if (n > 0)
        std::vsnprintf(line.data(), line.size() + 1, format, again);
    va_end(again);
    sys_lock(error_lock);
    std::fprintf(stderr, "glimmerdex-cli: %s\n", line.c_str());
    if (cli_warnings)
        cli_warnings->push_back(line);
    sys_unlock(error_lock);
}

namespace {

// Base 10 only, so that "010" is ten and not eight; a colour may also be
// written 0xRRGGBB, as the viewer's /backcol= takes it.
bool read_number(const char* text, CliOptionKind kind, long min, long max, long* out)
{
    if (!text || !*text)
        return false;
    int base = 10;
    if (kind == CLI_COLOUR && (std::strncmp(text, "0x", 2) == 0 || std::strncmp(text, "0X", 2) == 0)) {
        text += 2;
        base = 16;
    }
    // strtol would also take a sign or leading blanks; a number here has neither.
    const char* digits = base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
    if (!*text || !std::strchr(digits, *text))
        return false;
    char* end = nullptr;
    long v = std::strtol(text, &end, base);
    if (*end || v < min || v > max)
        return false;
    *out = v;
    return true;
}

} // namespace

CliParse cli_parse_options(const char* command, int argc, char** argv, const CliOption* options, int option_count,
                           std::vector<std::string>* arguments)
{
    bool options_end = false;
    for (int i = 0; i < argc; ++i) {
        const char* a = argv[i];
        if (options_end || a[0] != '-' || !a[1]) {
            arguments->emplace_back(a);
            continue;
        }
        if (std::strcmp(a, "--") == 0) {
            options_end = true;
            continue;
        }
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0)
            return CLI_HELP_ASKED;
        const CliOption* o = nullptr;
        const char* value = nullptr;
        for (int k = 0; k < option_count && !o; ++k) {
            const size_t n = std::strlen(options[k].name);
            if (std::strncmp(a, options[k].name, n) == 0 && (a[n] == 0 || (a[n] == '=' && options[k].kind != CLI_SWITCH))) {
                o = &options[k];
                value = a[n] == '=' ? a + n + 1 : nullptr;
            } else if (options[k].short_name && std::strcmp(a, options[k].short_name) == 0) {
                o = &options[k];
            }
        }
        if (!o) {
            cli_error("%s: unknown option '%s' (see --help)", command, a);
            return CLI_BAD_OPTION;
        }
        if (o->kind == CLI_SWITCH) {
            *o->on = true;
            continue;
        }
        if (!value) {
            if (i + 1 >= argc) {
                cli_error("%s: %s needs a value", command, o->name);
                return CLI_BAD_OPTION;
            }
            value = argv[++i];
        }
        if (o->kind == CLI_TEXT) {
            *o->text = value;
        } else if (!read_number(value, o->kind, o->min, o->max, o->number)) {
            if (o->kind == CLI_COLOUR)
                cli_error("%s: %s takes a colour 0x%06lX to 0x%06lX, not '%s'", command, o->name, o->min, o->max, value);
            else
                cli_error("%s: %s takes %ld to %ld, not '%s'", command, o->name, o->min, o->max, value);
            return CLI_BAD_OPTION;
        }
    }
    return CLI_PARSED;
}

CliParse cli_take_repeated(const char* command, int argc, char** argv, const char* const* names, int name_count,
                           std::vector<std::pair<std::string, std::string>>* taken, std::vector<char*>* rest)
{
    bool options_end = false;
    for (int i = 0; i < argc; ++i) {
        const char* a = argv[i];
        if (options_end || std::strcmp(a, "--") == 0) {
            options_end = true;
            rest->push_back(argv[i]);
            continue;
        }
        int k = 0;
        size_t n = 0;
        for (; k < name_count; ++k) {
            n = std::strlen(names[k]);
            if (std::strncmp(a, names[k], n) == 0 && (a[n] == 0 || a[n] == '='))
                break;
        }
        if (k == name_count) {
            rest->push_back(argv[i]);
            continue;
        }
        if (a[n] == '=') {
            taken->emplace_back(names[k], a + n + 1);
        } else if (i + 1 < argc) {
            taken->emplace_back(names[k], argv[++i]);
        } else {
            cli_error("%s: %s needs a value", command, names[k]);
            return CLI_BAD_OPTION;
        }
    }
    return CLI_PARSED;
}

int cli_write_png(const char* command, const std::string& path, const std::vector<uint32_t>& pixels, int32_t width,
                  int32_t height)
{
    if (png_begin(path.c_str(), width, height) != 0) {
        cli_error("%s: cannot write %s", command, path.c_str());
        return -1;
    }
    int result = 0;
    for (uint32_t p : pixels)
        result |= png_put_pixel(p & 0x00FFFFFF);
    if (result != 0) {
        cli_error("%s: writing %s failed", command, path.c_str());
        return -1;
    }
    return 0;
}
