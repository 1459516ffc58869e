#pragma once
// What the headless desktop was asked to do, and the answers it gives.
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

struct HeadlessMessageBox {
    bool owned;
    std::string text;
    std::string caption;
};

enum HeadlessDialogKind { HEADLESS_OPEN_DIALOG, HEADLESS_SAVE_DIALOG, HEADLESS_COLOUR_DIALOG };

// One dialog as it was asked for.
struct HeadlessDialog {
    HeadlessDialogKind kind;
    bool owned;
    std::string title;
    std::vector<std::pair<std::string, std::string>> filters;  // name, pattern
    std::string default_extension;
    std::string proposed_path;   // the path buffer when the dialog opened
    uint32_t proposed_colour;    // COLORREF, colour dialog only
};

// A queued answer. chosen false is Cancel. Dialogs without a queued answer
// are cancelled.
struct HeadlessAnswer {
    bool chosen;
    std::string path;   // file dialogs; an open answer also becomes the current directory's file
    uint32_t colour;    // COLORREF, colour dialog
};

struct HeadlessDesktop {
    std::vector<HeadlessMessageBox> message_boxes;
    int beeps;
    std::deque<HeadlessAnswer> answers;
    std::vector<HeadlessDialog> dialogs;
    std::vector<std::string> opened;   // names handed to desktop_shell_open
};

extern HeadlessDesktop headless_desktop;

void headless_desktop_reset();

inline void headless_answer_file(const std::string& path) { headless_desktop.answers.push_back({true, path, 0}); }
inline void headless_answer_colour(uint32_t colorref) { headless_desktop.answers.push_back({true, "", colorref}); }
inline void headless_answer_cancel() { headless_desktop.answers.push_back({false, "", 0}); }
