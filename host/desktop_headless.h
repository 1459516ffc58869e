#pragma once
// What the headless desktop was asked to do, for tests to read back.
#include <string>
#include <vector>

struct HeadlessMessageBox {
    bool owned;
    std::string text;
    std::string caption;
};

struct HeadlessDesktop {
    std::vector<HeadlessMessageBox> message_boxes;
    int beeps;
};

extern HeadlessDesktop headless_desktop;

void headless_desktop_reset();
