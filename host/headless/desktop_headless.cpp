// Desktop services without a desktop: calls are recorded, dialogs answer
// from the queue, nothing is shown.
#include "host/desktop.h"

#include <cstring>

#include "host/headless/desktop_headless.h"
#include "platform/system.h"

HeadlessDesktop headless_desktop;

void headless_desktop_reset() { headless_desktop = HeadlessDesktop{}; }

void desktop_message_box(bool owned, const char* text, const char* caption)
{
    headless_desktop.message_boxes.push_back({owned, text ? text : "", caption ? caption : ""});
}

void desktop_beep() { ++headless_desktop.beeps; }

namespace {

HeadlessAnswer take_answer()
{
    if (headless_desktop.answers.empty())
        return {false, "", 0};
    HeadlessAnswer a = headless_desktop.answers.front();
    headless_desktop.answers.pop_front();
    return a;
}

void record_file_dialog(HeadlessDialogKind kind, bool owned, const char* title, const DesktopFileFilter* filters,
                        int filter_count, const char* default_extension, const char* path)
{
    HeadlessDialog d{kind, owned, title ? title : "", {}, default_extension ? default_extension : "",
                     path ? path : "", 0};
    for (int i = 0; filters && i < filter_count; ++i)
        d.filters.emplace_back(filters[i].name, filters[i].pattern);
    headless_desktop.dialogs.push_back(d);
}

// Copies a chosen path into the caller's buffer; 0 when it does not fit.
int give_path(const std::string& chosen, char* path, int path_size)
{
    if (!path || path_size <= 0 || chosen.size() >= size_t(path_size))
        return 0;
    std::memcpy(path, chosen.c_str(), chosen.size() + 1);
    return 1;
}

}  // namespace

int desktop_open_dialog(bool owned, const char* title, const DesktopFileFilter* filters, int filter_count,
                        const char* default_extension, char* path, int path_size)
{
    record_file_dialog(HEADLESS_OPEN_DIALOG, owned, title, filters, filter_count, default_extension, path);
    HeadlessAnswer a = take_answer();
    if (!a.chosen || !give_path(a.path, path, path_size))
        return 0;
    // As the real dialog does: the chosen file's folder becomes current.
    size_t cut = a.path.find_last_of(SYS_PATH_SEPARATORS);
    if (cut != std::string::npos) {
        std::string folder = a.path.substr(0, cut == 0 ? 1 : cut);
        if (sys_set_current_directory(folder.c_str()) != 0)
            return 0;
    }
    return 1;
}

int desktop_save_dialog(bool owned, const char* title, const DesktopFileFilter* filters, int filter_count,
                        const char* default_extension, char* path, int path_size)
{
    record_file_dialog(HEADLESS_SAVE_DIALOG, owned, title, filters, filter_count, default_extension, path);
    HeadlessAnswer a = take_answer();
    return a.chosen && give_path(a.path, path, path_size);
}

int desktop_choose_colour(bool owned, uint32_t* colour, uint32_t custom_colours[DESKTOP_CUSTOM_COLOURS])
{
    (void)custom_colours;
    headless_desktop.dialogs.push_back({HEADLESS_COLOUR_DIALOG, owned, "", {}, "", "", *colour});
    HeadlessAnswer a = take_answer();
    if (!a.chosen)
        return 0;
    *colour = a.colour;
    return 1;
}

int desktop_shell_open(const char* name)
{
    headless_desktop.opened.push_back(name ? name : "");
    return name && sys_path_exists(name) ? 1 : 0;
}
