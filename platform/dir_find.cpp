// Folder lister: one search at a time, hidden entries and "." skipped,
// directories marked with a trailing backslash.
#include "platform/dir_find.h"

#include <cstring>
#include <string>

#include "platform/system.h"

namespace {

enum class ListState { not_started, listing, finished };

SysFind* search;
std::string folder;
char pattern[SYS_MAX_PATH];
char prefix[SYS_MAX_PATH];
ListState state = ListState::finished;

void close_search()
{
    if (search)
        sys_find_close(search);
    search = nullptr;
}

// prefix + name (+ '\\'), cut to the 260-byte buffer.
int emit(const SysFindData& d, char* buffer)
{
    size_t used = 0;
    auto append = [&](const char* s) {
        for (; *s && used < size_t(SYS_MAX_PATH - 1); ++s)
            buffer[used++] = *s;
    };
    append(prefix);
    append(d.name);
    if (d.attributes & SYS_ATTR_DIRECTORY)
        append("\\");
    buffer[used] = 0;
    return 1;
}

bool skipped(const SysFindData& d)
{
    if (d.attributes & SYS_ATTR_HIDDEN)
        return true;
    return (d.attributes & SYS_ATTR_DIRECTORY) && std::strcmp(d.name, ".") == 0;
}

} // namespace

void dir_find_start(const char* new_folder, const char* new_pattern)
{
    close_search();
    folder = new_folder ? new_folder : "";
    std::strncpy(pattern, new_pattern ? new_pattern : "", sizeof pattern - 1);
    pattern[sizeof pattern - 1] = 0;
    state = ListState::not_started;
}

int dir_find_next(char* buffer)
{
    buffer[0] = 0;
    SysFindData d;
    if (state == ListState::not_started) {
        if (pattern[0] == 0) {
            state = ListState::finished;
            return 0;
        }
        state = ListState::listing;
        const char* cut = nullptr;
        for (const char* p = pattern; *p; ++p)
            if (*p == '/' || *p == '\\')
                cut = p;
        size_t n = cut ? size_t(cut - pattern + 1) : 0;
        std::memcpy(prefix, pattern, n);
        prefix[n] = 0;
        search = sys_find_first_file(sys_join_path(folder.c_str(), pattern).c_str(), &d);
        if (!search) {
            state = ListState::finished;
            return 0;
        }
        if (!skipped(d))
            return emit(d, buffer);
    }
    if (state != ListState::listing)
        return 0;
    while (sys_find_next_file(search, &d)) {
        if (!skipped(d))
            return emit(d, buffer);
    }
    close_search();
    state = ListState::finished;
    return 0;
}
