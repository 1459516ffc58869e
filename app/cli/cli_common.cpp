#include <cstdarg>
#include <cstdio>

#include "app/cli/cli.h"

void cli_error(const char* format, ...)
{
    std::fputs("glimmerdex-cli: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}
