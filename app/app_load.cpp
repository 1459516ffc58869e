// Loading a cache by a path that names its folder or the file itself, or a
// disk image holding caches.
#include "app/app_load.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/app_index.h"
#include "app/command_line.h"
#include "host/desktop.h"
#include "host/window.h"
#include "image/image_set.h"
#include "platform/system.h"
#include "store/file_list.h"
#include "store/resolve.h"

char path_buffer[PATH_BUFFER_BYTES];

namespace {

bool from_image = false;

// The image's caches as the list shows them; the images stay open while
// their list is shown. The current directory is left where it is: no file
// of the image lies in a folder of this machine.
int load_image(const char* path, const FileListOptions& options)
{
    std::vector<std::string> labels, problems;
    const ImageSetResult read = image_set_add(path, false, &labels, &problems);
    for (const std::string& p : problems)
        std::fprintf(stderr, "%s: %s\n", host_name, p.c_str());
    if (read == IMAGE_SET_UNSUPPORTED) {
        desktop_message_box(true, "disk images are not read by this build", host_name);
        return -1;
    }
    size_t left_out = 0;
    const std::vector<ResolvedCache> caches = image_set_list_caches(labels, &left_out);
    if (left_out > 0)
        std::fprintf(stderr, "%s: %s: %zu more Thumbs.db file%s in the image, not shown (glimmerdex-cli list shows them)\n",
                     host_name, path, left_out, left_out == 1 ? "" : "s");
    if (caches.empty())
        return -1;
    FileListOptions from = options;
    from.sources = image_set_list_sources();
    const int result = file_list_build_caches(nullptr, caches, from);
    if (result == 0) {
        from_image = true;
        app_name_from_index(nullptr);
    }
    return result;
}

} // namespace

bool app_load_is_image() { return from_image; }

int app_load(const char* path)
{
    if (!path)
        return -1;
    // The list of an image reads through it: let go of both before anything else loads.
    if (!image_set_images().empty()) {
        file_list_release();
        image_set_close();
    }
    from_image = false;
    const FileListOptions options{
        .flags = start_display_flags, .background = start_background_colour, .decode = FILE_LIST_DECODE_ON_VIEW};
    if (disk_image_probe(path))
        return load_image(path, options);
    // The store decides what the path names; the viewer decodes only the
    // pictures it shows, over its own background.
    const ViewerSources sources = store_resolve_for_viewer(path);
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

void app_load_release()
{
    file_list_release();
    image_set_close();
    from_image = false;
}
