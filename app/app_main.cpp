// app_main: settings, window, first load (or the open dialog), the main
// loop, and freeing everything at the end.
#include "app/app_main.h"

#include <cstdio>
#include <cstring>

#include "app/app_index.h"
#include "app/browser.h"
#include "app/command_line.h"
#include "app/help.h"
#include "host/desktop.h"
#include "platform/system.h"
#include "host/window.h"
#include "store/file_list.h"

namespace {

const DesktopFileFilter start_filters[2] = {{"Thumbs.db", "Thumbs.db"}, {"All files", "*.*"}};

void release_all()
{
    app_load_release();  // names, pictures, times, placeholder, stream table, rebuild buffer; images
    app_index_release();
    host_destroy();
}

}  // namespace

// Everything after the command line was parsed, for both entries.
static int app_run(CommandLineOutcome outcome);

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

    client_width = start_width;
    client_height = start_height;
    if (!host_create()) {
        host_destroy();
        return -1;
    }
    browser_reset();

    // /index= names a file from the folder the viewer started in; a load
    // makes the cache's folder current.
    static char index_path[4096];
    if (start_index_path && sys_absolute_path(start_index_path, index_path, int(sizeof index_path)) == 0)
        start_index_path = index_path;
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
