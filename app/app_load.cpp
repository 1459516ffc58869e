// Loading a cache by a path that names its folder or the file itself.
#include "app/app_load.h"

#include "app/app_index.h"
#include "app/command_line.h"
#include "platform/system.h"
#include "store/file_list.h"
#include "store/resolve.h"

char path_buffer[PATH_BUFFER_BYTES];

int app_load(const char* path)
{
    if (!path)
        return -1;
    // The store decides what the path names; the viewer decodes only the
    // pictures it shows, over its own background.
    const ViewerSources sources = store_resolve_for_viewer(path);
    const FileListOptions options{
        .flags = start_display_flags, .background = start_background_colour, .decode = FILE_LIST_DECODE_ON_VIEW};
    const int result = file_list_build_caches(sources.folder.c_str(), sources.caches, options);
    // The viewer's documented start-up and load leave the loaded cache's
    // folder current: Enter opens a listed file by its name, and the save
    // dialog proposes the name there.
    if (result == 0) {
        app_name_from_index(sources.folder.empty() ? "." : sources.folder.c_str());
        if (!sources.folder.empty())
            sys_set_current_directory(sources.folder.c_str());
    }
    return result;
}
