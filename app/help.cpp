// The viewer's help box: the help text on standard output and in a box.
#include "app/help.h"

#include <cstdio>

#include "app/command_line.h"
#include "host/desktop.h"

void show_help(bool owned)
{
    char text[2048];
    format_help_text(text, sizeof text);
    std::fputs(text, stdout);
    std::fflush(stdout);
    desktop_message_box(owned, text, "Glimmerdex help");
}
