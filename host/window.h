#pragma once
// The window host: one window, its off-screen framebuffer, the message pump
// with the input record it fills, the clock and rectangle fill. Three
// implementations share this header: SDL2 (host_sdl.cpp), Win32
// (host_win32.cpp) and an in-memory one for tests (headless/host_headless.cpp);
// window.cpp holds what they share.
#include <cstdint>

// The window's off-screen surface: top-down 0x00RRGGBB pixels, pitch = width x 4.
// pixels is null when the frame is zero-sized or could not be made; such a
// frame is never drawn into.
struct Framebuffer {
    uint32_t* pixels;
    int32_t pitch;
    int32_t width;
    int32_t height;
};

constexpr int HOST_KEY_COUNT = 256;
constexpr int HOST_CHAR_QUEUE = 256;  // indices count modulo this
constexpr int32_t HOST_WHEEL_LIMIT = 0x7FFF0000;
constexpr int32_t HOST_WHEEL_NOTCH = 120;

// Key indices: the PC scan code the key has on Windows, +128 when extended.
constexpr int KEY_ESC = 1;
constexpr int KEY_LEFT_SHIFT = 42;
constexpr int KEY_RIGHT_SHIFT = 54;
constexpr int KEY_F1 = 59;
constexpr int KEY_KEYPAD_8 = 72;
constexpr int KEY_HOME = 199;
constexpr int KEY_UP = 200;
constexpr int KEY_PAGE_UP = 201;
constexpr int KEY_END = 207;
constexpr int KEY_DOWN = 208;
constexpr int KEY_PAGE_DOWN = 209;

constexpr uint32_t MOUSE_LEFT = 1;
constexpr uint32_t MOUSE_RIGHT = 2;
constexpr uint32_t MOUSE_MIDDLE = 4;

// Filled by the window's event handling, read and partly reset by the browser.
struct HostInput {
    uint8_t key_down[HOST_KEY_COUNT];  // 1 while held
    uint32_t char_queue[HOST_CHAR_QUEUE];
    uint32_t char_read;   // modulo HOST_CHAR_QUEUE
    uint32_t char_write;  // modulo HOST_CHAR_QUEUE
    int32_t mouse_x;
    int32_t mouse_y;
    uint32_t mouse_buttons;  // MOUSE_LEFT | MOUSE_RIGHT | MOUSE_MIDDLE
    int32_t wheel_delta;     // 120 per notch, positive away from the user
    uint32_t app_active;     // nonzero while this application is the active one
};

extern HostInput host_input;
extern const char* host_name;   // window title and caption of the program's boxes
extern int32_t client_width;    // requested size before host_create,
extern int32_t client_height;   // the current client size afterwards

// Opens the window at the requested client size; nonzero on success.
int host_create();
// Handles every pending event; 0, or -1 once the quit message was taken.
int host_pump();
// The next queued character code, 0 when the queue is empty.
uint32_t host_next_char();
// Seconds since host_create.
double host_seconds();
// The framebuffer, re-created only when the client size changed; returns 1.
int host_frame(Framebuffer* frame);
// Shows the framebuffer in the window, one to one.
void host_present();
// Asks the window to close; the quit message follows through host_pump.
void host_request_close();
// Pauses the calling thread.
void host_sleep(int milliseconds);
// Releases the window and its framebuffer (program exit).
void host_destroy();

// Fills x0 <= x < x1, y0 <= y < y1, clipped to the frame.
void fill_rect(const Framebuffer& frame, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t pixel);

// Shared by both hosts: what the window's event handling records.
void host_input_reset();                 // the start values of HostInput
void host_queue_char(uint32_t code);     // low 8 bits, as WM_CHAR gives them
void host_add_wheel(int32_t delta);      // clamped to +-HOST_WHEEL_LIMIT
