#include "platform/failure.h"

#include <cstdarg>
#include <cstdio>

namespace {
thread_local Failure last;
}

const Failure& failure_last()
{
    return last;
}

void failure_clear()
{
    last.file[0] = 0;
    last.reason[0] = 0;
}

int fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(last.reason, sizeof last.reason, format, args);
    va_end(args);
    return -1;
}

int failure_concerns(const char* file)
{
    std::snprintf(last.file, sizeof last.file, "%s", file ? file : "");
    return -1;
}

std::string failure_text()
{
    if (!last.file[0])
        return last.reason;
    return std::string(last.file) + ": " + last.reason;
}
