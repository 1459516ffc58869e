// The glimmerdex executable on Windows: the command line arrives as one
// string; the program's own name is skipped as the C start-up code skips it
// and the rest goes to the program's tokenizer.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "app/app_main.h"

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

// The text after the program's name: a quoted name runs to its closing
// quote, an unquoted one to the first blank; the blanks after it go too.
const char* after_program_name(const char* p)
{
    if (*p == '"') {
        ++p;
        while (*p && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p && !blank(*p))
            ++p;
    }
    while (blank(*p))
        ++p;
    return p;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const char* whole = GetCommandLineA();
    const char* rest = after_program_name(whole ? whole : "");
    // The tokenizer cuts the line in place, so it gets a copy it may write.
    const size_t length = std::strlen(rest);
    char* line = static_cast<char*>(std::malloc(length + 1));
    if (!line)
        return -1;
    std::memcpy(line, rest, length + 1);
    const int code = app_main_line(line);
    std::free(line);
    return code;
}
