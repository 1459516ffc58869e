// app_main: settings, window, first load (or the open dialog), the main
// loop, and freeing everything at the end.
#include "app/app_main.h"

#include <cstdio>
#include <cstring>

#include "app/browser.h"
#include "app/command_line.h"
#include "host/desktop.h"
#include "host/system.h"
#include "host/window.h"
#include "store/file_list.h"

char path_buffer[PATH_BUFFER_BYTES];

namespace {

const DesktopFileFilter start_filters[2] = {{"Thumbs.db", "Thumbs.db"}, {"All files", "*.*"}};

void release_all()
{
    file_list_release();  // names, pictures, times, placeholder, stream table, rebuild buffer
    host_destroy();
}

}  // namespace

// Everything after the command line was parsed, for both entries.
static int app_run(CommandLineOutcome outcome);

int app_load(const char* path)
{
    if (!path)
        return -1;
    const char* slash = sys_last_separator(path);
    // A path that names the cache file itself: its folder becomes current and
    // the named file is read (the help's own example passes thumbs.db).
    if (!sys_is_directory(path) && slash && slash[1]) {
        char folder[SYS_MAX_PATH];
        size_t n = size_t(slash - path);
        if (n == 0)
            n = 1;  // the root folder keeps its slash
        if (n >= sizeof folder)
            return file_list_build(path, display_flags);
        std::memcpy(folder, path, n);
        folder[n] = 0;
        if (sys_is_directory(folder)) {
            // "Thumbs.db" in any letter case: the store's own search finds it.
            if (ascii_stricmp(slash + 1, "Thumbs.db") == 0)
                return file_list_build(folder, display_flags);
            return file_list_build_from(folder, slash + 1, display_flags);
        }
    } else if (!sys_is_directory(path) && !slash && path[0]) {
        if (ascii_stricmp(path, "Thumbs.db") == 0)
            return file_list_build(nullptr, display_flags);
        char found[SYS_MAX_PATH];
        if (sys_find_name_nocase(path, found) == 0)
            return file_list_build_from(nullptr, found, display_flags);
    }
    return file_list_build(path, display_flags);
}

int app_main(char* const* tokens, int count)
{
    host_name = "Glimmerdex by Orlancey";
    return app_run(parse_arguments(tokens, count));
}

int app_main_line(char* command_line)
{
    host_name = "Glimmerdex by Orlancey";
    return app_run(parse_command_line(command_line));
}

static int app_run(CommandLineOutcome outcome)
{
    if (outcome == COMMAND_LINE_HELP) {
        show_help(false);
        return 1;
    }
    if (outcome == COMMAND_LINE_VERSION) {
        std::printf("glimmerdex %s\n", glimmerdex_version());
        return 0;
    }

    client_width = requested_width;
    client_height = requested_height;
    if (!host_create()) {
        host_destroy();
        return -1;
    }
    browser_reset();

    int loaded = start_path ? app_load(start_path) : -1;
    if (loaded != 0) {
        if (!desktop_open_dialog(true, "Select new Thumbs.db", start_filters, 2, "db", path_buffer,
                                 PATH_BUFFER_BYTES)) {
            desktop_message_box(true, "Thumbs.db not found", host_name);
            show_help(true);
            release_all();
            return 1;
        }
        app_load(path_buffer);
    }

    browser_run();
    release_all();
    return 0;
}
