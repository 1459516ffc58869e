#include "app/app_index.h"

#include <cstdio>
#include <cstring>

#include "app/command_line.h"
#include "platform/system.h"
#include "store/file_list.h"
#include "store/search/search_index.h"

namespace {

SearchIndex g_index;
char g_index_path[SYS_MAX_PATH];  // the one loaded, or the one that failed
bool g_loaded = false;

} // namespace

int app_name_from_index(const char* folder)
{
    char found[SYS_MAX_PATH], root[SYS_MAX_PATH], absolute[SYS_MAX_PATH];
    const char* path = start_index_path;
    if (!path && folder && sys_absolute_path(folder, absolute, sizeof absolute) == 0 &&
        search_index_volume_root(absolute, root, sizeof root) == 0 &&
        search_index_path_below(root, found, sizeof found) == 0)
        path = found;
    if (!path)
        return 0;
    if (std::strcmp(path, g_index_path) != 0) {
        app_index_release();
        std::snprintf(g_index_path, sizeof g_index_path, "%s", path);
        if (search_index_load(path, &g_index) == 0)
            g_loaded = true;
        else
            std::fprintf(stderr, "%s: search index not read: %s\n", path, failure_last().reason);
    }
    return g_loaded ? file_list_name_keyed(search_index_name_of, &g_index) : -1;
}

void app_index_release()
{
    if (g_loaded)
        search_index_free(&g_index);
    g_loaded = false;
    g_index_path[0] = 0;
}
