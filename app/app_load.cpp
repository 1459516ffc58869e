// Loading a cache by a path that names its folder or the file itself.
#include "app/app_load.h"

#include <cstring>

#include "app/app_index.h"
#include "app/command_line.h"
#include "picture/fit.h"
#include "platform/system.h"
#include "store/file_list.h"

char path_buffer[PATH_BUFFER_BYTES];

static int load_list(const char* path)
{
    if (!path)
        return -1;
    picture_fit_background = start_background_colour;
    const char* slash = sys_last_separator(path);
    // A path that names the cache file itself: its folder becomes current and
    // the named file is read (the help's own example passes thumbs.db).
    if (!sys_is_directory(path) && slash && slash[1]) {
        char folder[SYS_MAX_PATH];
        size_t n = size_t(slash - path);
        if (n == 0)
            n = 1;  // the root folder keeps its slash
        if (n >= sizeof folder)
            return file_list_build(path, start_display_flags);
        std::memcpy(folder, path, n);
        folder[n] = 0;
        if (sys_is_directory(folder)) {
            // "Thumbs.db" in any letter case: the store's own search finds it.
            if (ascii_stricmp(slash + 1, "Thumbs.db") == 0)
                return file_list_build(folder, start_display_flags);
            return file_list_build_from(folder, slash + 1, start_display_flags);
        }
    } else if (!sys_is_directory(path) && !slash && path[0]) {
        if (ascii_stricmp(path, "Thumbs.db") == 0)
            return file_list_build(nullptr, start_display_flags);
        char found[SYS_MAX_PATH];
        if (sys_find_name_nocase(path, found) == 0)
            return file_list_build_from(nullptr, found, start_display_flags);
    }
    return file_list_build(path, start_display_flags);
}

int app_load(const char* path)
{
    const int result = load_list(path);
    // The list's folder is the current one now.
    if (result == 0)
        app_name_from_index(".");
    return result;
}
