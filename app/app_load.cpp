// Loading a cache by a path that names its folder or the file itself.
#include "app/app_load.h"

#include <string>

#include "app/app_index.h"
#include "app/command_line.h"
#include "picture/fit.h"
#include "platform/system.h"
#include "store/file_list.h"

char path_buffer[PATH_BUFFER_BYTES];

// Loads the list; *folder is the folder whose cache was read, empty when it
// is the current one.
static int load_list(const char* path, std::string* folder)
{
    if (!path)
        return -1;
    picture_fit_background = start_background_colour;
    const char* slash = sys_last_separator(path);
    // A path that names the cache file itself: the named file is read, and
    // its folder is the list's (the help's own example passes thumbs.db).
    if (!sys_is_directory(path) && slash && slash[1]) {
        *folder = std::string(path, slash == path ? 1 : size_t(slash - path));  // the root keeps its slash
        if (sys_is_directory(folder->c_str())) {
            // "Thumbs.db" in any letter case: the store's own search finds it.
            if (ascii_stricmp(slash + 1, "Thumbs.db") == 0)
                return file_list_build(folder->c_str(), start_display_flags);
            return file_list_build_from(folder->c_str(), slash + 1, start_display_flags);
        }
    } else if (!sys_is_directory(path) && !slash && path[0]) {
        folder->clear();
        if (ascii_stricmp(path, "Thumbs.db") == 0)
            return file_list_build(nullptr, start_display_flags);
        char found[SYS_MAX_PATH];
        if (sys_find_name_nocase(nullptr, path, found) == 0)
            return file_list_build_from(nullptr, found, start_display_flags);
    }
    // A folder; a path that is none reads Thumbs.db in the current one.
    *folder = sys_is_directory(path) ? path : "";
    return file_list_build(path, start_display_flags);
}

int app_load(const char* path)
{
    std::string folder;
    const int result = load_list(path, &folder);
    // The viewer's documented start-up and load leave the loaded cache's
    // folder current: Enter opens a listed file by its name, and the save
    // dialog proposes the name there.
    if (result == 0) {
        app_name_from_index(folder.empty() ? "." : folder.c_str());
        if (!folder.empty())
            sys_set_current_directory(folder.c_str());
    }
    return result;
}
