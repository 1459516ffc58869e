#pragma once
// The headless window host: an in-memory framebuffer, input that a test
// scripts event by event, and a clock the test advances. The browser's main
// loop runs on it unchanged.
#include <cstdint>
#include <functional>
#include <vector>

#include "host/window.h"

enum HeadlessEventKind {
    HEADLESS_KEY_DOWN,   // a = key index
    HEADLESS_KEY_UP,     // a = key index
    HEADLESS_CHAR,       // a = character code (low 8 bits are queued)
    HEADLESS_MOVE,       // a, b = pointer x, y inside the client area
    HEADLESS_BUTTON_DOWN,  // a = MOUSE_LEFT, MOUSE_RIGHT or MOUSE_MIDDLE
    HEADLESS_BUTTON_UP,
    HEADLESS_WHEEL,      // a = wheel units (120 per notch)
    HEADLESS_FOCUS,      // a = app_active
    HEADLESS_SIZE,       // a, b = new client width, height
    HEADLESS_CLOCK,      // seconds = time to add to the clock
    HEADLESS_CLOSE,      // the close box: the quit message follows
    HEADLESS_FRAME,      // ends the events one host_pump takes
};

struct HeadlessEvent {
    HeadlessEventKind kind;
    int32_t a;
    int32_t b;
    double seconds;
};

struct HeadlessHost {
    bool created;
    bool fail_create;        // host_create returns 0
    bool fail_frames;        // host_frame reports a null frame (allocation failed)
    double clock;            // seconds since host_create
    double clock_per_pump;   // added at every host_pump
    std::vector<HeadlessEvent> script;
    size_t next_event;
    bool quit_posted;
    int pumps;
    int frames_created;      // times host_frame made a new buffer
    int presents;
    int close_requests;
    int sleeps;
    std::vector<uint32_t> buffer;        // the framebuffer's pixels
    int32_t frame_width;                 // size the buffer was made for;
    int32_t frame_height;                // -1 height before the first frame
    std::vector<uint32_t> presented;     // copy of the frame last presented
    int32_t presented_width;
    int32_t presented_height;
    // Called at the start of every host_pump, before the script's events of
    // that pump are applied; a test may read the state or add events.
    std::function<void(int pump)> on_pump;
};

extern HeadlessHost headless_host;

// Fresh host state and HostInput, with the given client size.
void headless_reset(int32_t width, int32_t height);

// Script builders: events are applied in order; headless_frame() ends the
// events of one host_pump. When the script runs out, host_pump reports the
// quit message, so a loop on this host always ends.
void headless_push(HeadlessEventKind kind, int32_t a = 0, int32_t b = 0, double seconds = 0);
inline void headless_key(int index, bool down) { headless_push(down ? HEADLESS_KEY_DOWN : HEADLESS_KEY_UP, index); }
inline void headless_char(uint32_t code) { headless_push(HEADLESS_CHAR, int32_t(code)); }
inline void headless_move(int32_t x, int32_t y) { headless_push(HEADLESS_MOVE, x, y); }
inline void headless_button(uint32_t bit, bool down) { headless_push(down ? HEADLESS_BUTTON_DOWN : HEADLESS_BUTTON_UP, int32_t(bit)); }
inline void headless_wheel(int32_t units) { headless_push(HEADLESS_WHEEL, units); }
inline void headless_focus(bool active) { headless_push(HEADLESS_FOCUS, active ? 1 : 0); }
inline void headless_size(int32_t width, int32_t height) { headless_push(HEADLESS_SIZE, width, height); }
inline void headless_advance(double seconds) { headless_push(HEADLESS_CLOCK, 0, 0, seconds); }
inline void headless_frame() { headless_push(HEADLESS_FRAME); }

// Pixel (x, y) of the frame last presented; 0xDEADBEEF outside it.
uint32_t headless_pixel(int32_t x, int32_t y);
