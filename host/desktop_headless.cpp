// Desktop services without a desktop: calls are recorded, nothing is shown.
#include "host/desktop.h"
#include "host/desktop_headless.h"

HeadlessDesktop headless_desktop;

void headless_desktop_reset() { headless_desktop = HeadlessDesktop{}; }

void desktop_message_box(bool owned, const char* text, const char* caption)
{
    headless_desktop.message_boxes.push_back({owned, text ? text : "", caption ? caption : ""});
}

void desktop_beep() { ++headless_desktop.beeps; }
