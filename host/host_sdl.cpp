// The window host on SDL2: one resizable window, a streaming texture that
// shows our framebuffer one to one, and the events turned into HostInput as
// the Windows window procedure records them.
#include <SDL.h>

#include <cstdlib>
#include <cstring>

#include "host/host_sdl.h"
#include "host/window.h"

namespace {

SDL_Window* window;
SDL_Renderer* renderer;
SDL_Texture* texture;
SDL_Cursor* cursor;
uint32_t* pixels;
int32_t frame_width = 0;    // size the framebuffer was made for; -1 height
int32_t frame_height = -1;  // makes the first host_frame create one
uint64_t counter_start;
uint64_t counter_frequency = 1;
bool quit_pending;          // taken during a modal dialog, reported next pump
bool video_started;

constexpr uint8_t HOST_EXTENDED_KEY = 128;

// SDL scan codes (USB usage ids) to the PC set-1 scan code the key has on
// Windows, plus 128 for extended keys; 0 for keys we do not record.
constexpr uint8_t scan_to_key(int sc)
{
    if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9)
        return uint8_t(2 + sc - SDL_SCANCODE_1);
    if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F10)
        return uint8_t(0x3B + sc - SDL_SCANCODE_F1);
    switch (sc) {
    case SDL_SCANCODE_A: return 0x1E; case SDL_SCANCODE_B: return 0x30; case SDL_SCANCODE_C: return 0x2E;
    case SDL_SCANCODE_D: return 0x20; case SDL_SCANCODE_E: return 0x12; case SDL_SCANCODE_F: return 0x21;
    case SDL_SCANCODE_G: return 0x22; case SDL_SCANCODE_H: return 0x23; case SDL_SCANCODE_I: return 0x17;
    case SDL_SCANCODE_J: return 0x24; case SDL_SCANCODE_K: return 0x25; case SDL_SCANCODE_L: return 0x26;
    case SDL_SCANCODE_M: return 0x32; case SDL_SCANCODE_N: return 0x31; case SDL_SCANCODE_O: return 0x18;
    case SDL_SCANCODE_P: return 0x19; case SDL_SCANCODE_Q: return 0x10; case SDL_SCANCODE_R: return 0x13;
    case SDL_SCANCODE_S: return 0x1F; case SDL_SCANCODE_T: return 0x14; case SDL_SCANCODE_U: return 0x16;
    case SDL_SCANCODE_V: return 0x2F; case SDL_SCANCODE_W: return 0x11; case SDL_SCANCODE_X: return 0x2D;
    case SDL_SCANCODE_Y: return 0x15; case SDL_SCANCODE_Z: return 0x2C;
    case SDL_SCANCODE_0: return 0x0B;
    case SDL_SCANCODE_RETURN: return 0x1C; case SDL_SCANCODE_ESCAPE: return 0x01;
    case SDL_SCANCODE_BACKSPACE: return 0x0E; case SDL_SCANCODE_TAB: return 0x0F;
    case SDL_SCANCODE_SPACE: return 0x39; case SDL_SCANCODE_MINUS: return 0x0C;
    case SDL_SCANCODE_EQUALS: return 0x0D; case SDL_SCANCODE_LEFTBRACKET: return 0x1A;
    case SDL_SCANCODE_RIGHTBRACKET: return 0x1B; case SDL_SCANCODE_BACKSLASH: return 0x2B;
    case SDL_SCANCODE_NONUSHASH: return 0x2B; case SDL_SCANCODE_SEMICOLON: return 0x27;
    case SDL_SCANCODE_APOSTROPHE: return 0x28; case SDL_SCANCODE_GRAVE: return 0x29;
    case SDL_SCANCODE_COMMA: return 0x33; case SDL_SCANCODE_PERIOD: return 0x34;
    case SDL_SCANCODE_SLASH: return 0x35; case SDL_SCANCODE_CAPSLOCK: return 0x3A;
    case SDL_SCANCODE_F11: return 0x57; case SDL_SCANCODE_F12: return 0x58;
    case SDL_SCANCODE_PRINTSCREEN: return 0x37 + HOST_EXTENDED_KEY; case SDL_SCANCODE_SCROLLLOCK: return 0x46;
    case SDL_SCANCODE_PAUSE: return 0x45;
    case SDL_SCANCODE_INSERT: return 0x52 + HOST_EXTENDED_KEY; case SDL_SCANCODE_HOME: return 0x47 + HOST_EXTENDED_KEY;
    case SDL_SCANCODE_PAGEUP: return 0x49 + HOST_EXTENDED_KEY; case SDL_SCANCODE_DELETE: return 0x53 + HOST_EXTENDED_KEY;
    case SDL_SCANCODE_END: return 0x4F + HOST_EXTENDED_KEY; case SDL_SCANCODE_PAGEDOWN: return 0x51 + HOST_EXTENDED_KEY;
    case SDL_SCANCODE_RIGHT: return 0x4D + HOST_EXTENDED_KEY; case SDL_SCANCODE_LEFT: return 0x4B + HOST_EXTENDED_KEY;
    case SDL_SCANCODE_DOWN: return 0x50 + HOST_EXTENDED_KEY; case SDL_SCANCODE_UP: return 0x48 + HOST_EXTENDED_KEY;
    case SDL_SCANCODE_NUMLOCKCLEAR: return 0x45 + HOST_EXTENDED_KEY;
    case SDL_SCANCODE_KP_DIVIDE: return 0x35 + HOST_EXTENDED_KEY; case SDL_SCANCODE_KP_MULTIPLY: return 0x37;
    case SDL_SCANCODE_KP_MINUS: return 0x4A; case SDL_SCANCODE_KP_PLUS: return 0x4E;
    case SDL_SCANCODE_KP_ENTER: return 0x1C + HOST_EXTENDED_KEY;
    // The keypad digits keep their scan codes with NumLock on or off.
    case SDL_SCANCODE_KP_1: return 0x4F; case SDL_SCANCODE_KP_2: return 0x50; case SDL_SCANCODE_KP_3: return 0x51;
    case SDL_SCANCODE_KP_4: return 0x4B; case SDL_SCANCODE_KP_5: return 0x4C; case SDL_SCANCODE_KP_6: return 0x4D;
    case SDL_SCANCODE_KP_7: return 0x47; case SDL_SCANCODE_KP_8: return 0x48; case SDL_SCANCODE_KP_9: return 0x49;
    case SDL_SCANCODE_KP_0: return 0x52; case SDL_SCANCODE_KP_PERIOD: return 0x53;
    case SDL_SCANCODE_NONUSBACKSLASH: return 0x56; case SDL_SCANCODE_APPLICATION: return 0x5D + HOST_EXTENDED_KEY;
    case SDL_SCANCODE_LCTRL: return 0x1D; case SDL_SCANCODE_LSHIFT: return 0x2A;
    case SDL_SCANCODE_LALT: return 0x38; case SDL_SCANCODE_LGUI: return 0x5B + HOST_EXTENDED_KEY;
    case SDL_SCANCODE_RCTRL: return 0x1D + HOST_EXTENDED_KEY; case SDL_SCANCODE_RSHIFT: return 0x36;
    case SDL_SCANCODE_RALT: return 0x38 + HOST_EXTENDED_KEY; case SDL_SCANCODE_RGUI: return 0x5C + HOST_EXTENDED_KEY;
    default: return 0;
    }
}

// Keys Windows reports as system keys (with Alt held, Alt itself, F10) are
// not recorded.
bool system_key(const SDL_KeyboardEvent& key)
{
    return (key.keysym.mod & KMOD_ALT) || key.keysym.scancode == SDL_SCANCODE_LALT ||
           key.keysym.scancode == SDL_SCANCODE_RALT || key.keysym.scancode == SDL_SCANCODE_F10;
}

// The control characters Windows sends as WM_CHAR for keys; SDL's text
// events carry only printable text.
uint32_t key_character(SDL_Scancode sc)
{
    switch (sc) {
    case SDL_SCANCODE_RETURN:
    case SDL_SCANCODE_KP_ENTER: return 13;
    case SDL_SCANCODE_ESCAPE: return 27;
    case SDL_SCANCODE_BACKSPACE: return 8;
    case SDL_SCANCODE_TAB: return 9;
    default: return 0;
    }
}

void queue_utf8(const char* text)
{
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    for (size_t i = 0; i < SDL_TEXTINPUTEVENT_TEXT_SIZE && p[i];) {
        uint32_t c = p[i];
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (extra)
            c &= 0x3F >> extra;
        ++i;
        for (; extra > 0 && i < SDL_TEXTINPUTEVENT_TEXT_SIZE && (p[i] & 0xC0) == 0x80; --extra, ++i)
            c = c << 6 | (p[i] & 0x3F);
        host_queue_char(c);
    }
}

// One event, as the window procedure would record its message. Returns -1
// for the quit message.
int handle(const SDL_Event& e)
{
    switch (e.type) {
    case SDL_QUIT: return -1;
    case SDL_WINDOWEVENT:
        switch (e.window.event) {
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            client_width = e.window.data1;
            client_height = e.window.data2;
            break;
        case SDL_WINDOWEVENT_FOCUS_GAINED: host_input.app_active = 1; break;
        case SDL_WINDOWEVENT_FOCUS_LOST: host_input.app_active = 0; break;
        case SDL_WINDOWEVENT_CLOSE: {
            // The close box: the window goes, the quit message follows.
            SDL_Event quit{};
            quit.type = SDL_QUIT;
            SDL_PushEvent(&quit);
            break;
        }
        default: break;
        }
        break;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        if (system_key(e.key))
            break;
        uint8_t index = scan_to_key(e.key.keysym.scancode);
        if (index)
            host_input.key_down[index] = e.type == SDL_KEYDOWN;
        if (e.type == SDL_KEYDOWN) {
            uint32_t c = key_character(e.key.keysym.scancode);
            if (c)
                host_queue_char(c);
        }
        break;
    }
    case SDL_TEXTINPUT:
        // Characters typed with Alt are system characters on Windows.
        if (!(SDL_GetModState() & KMOD_ALT))
            queue_utf8(e.text.text);
        break;
    case SDL_MOUSEMOTION:
        if (e.motion.x >= 0 && e.motion.y >= 0 && e.motion.x < client_width && e.motion.y < client_height) {
            host_input.mouse_x = e.motion.x;
            host_input.mouse_y = e.motion.y;
        }
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        uint32_t bit = e.button.button == SDL_BUTTON_LEFT     ? MOUSE_LEFT
                       : e.button.button == SDL_BUTTON_RIGHT  ? MOUSE_RIGHT
                       : e.button.button == SDL_BUTTON_MIDDLE ? MOUSE_MIDDLE
                                                              : 0;
        if (e.type == SDL_MOUSEBUTTONDOWN)
            host_input.mouse_buttons |= bit;
        else
            host_input.mouse_buttons &= ~bit;
        break;
    }
    case SDL_MOUSEWHEEL: {
        float notches = e.wheel.preciseY;
        if (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED)
            notches = -notches;
        host_add_wheel(int32_t(notches * HOST_WHEEL_NOTCH));
        break;
    }
    default: break;
    }
    return 0;
}

}  // namespace

SDL_Window* host_sdl_window() { return window; }

int host_create()
{
    // A drag that leaves the window must not move the pointer position:
    // Windows reports only moves over the client area.
    SDL_SetHint(SDL_HINT_MOUSE_AUTO_CAPTURE, "0");
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0)
        return 0;
    video_started = true;
    int w = client_width > 0 ? client_width : 1;
    int h = client_height > 0 ? client_height : 1;
    window = SDL_CreateWindow(host_name, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, w, h,
                              SDL_WINDOW_RESIZABLE | SDL_WINDOW_SHOWN);
    if (!window)
        return 0;
    renderer = SDL_CreateRenderer(window, -1, 0);
    if (!renderer)
        renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
    if (!renderer)
        return 0;
    cursor = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_CROSSHAIR);
    if (cursor)
        SDL_SetCursor(cursor);
    SDL_GetWindowSize(window, &w, &h);
    client_width = w;
    client_height = h;
    SDL_StartTextInput();
    std::memset(host_input.key_down, 0, sizeof host_input.key_down);
    counter_frequency = SDL_GetPerformanceFrequency();
    counter_start = SDL_GetPerformanceCounter();
    return 1;
}

int host_pump()
{
    if (quit_pending) {
        quit_pending = false;
        return -1;
    }
    SDL_Event e;
    while (SDL_PollEvent(&e))
        if (handle(e) < 0)
            return -1;
    return 0;
}

void host_sdl_pump_modal()
{
    SDL_Event e;
    while (SDL_PollEvent(&e))
        if (handle(e) < 0)
            quit_pending = true;
    // Keep the window's contents shown while the dialog is up.
    if (renderer && texture) {
        SDL_RenderClear(renderer);
        SDL_RenderCopy(renderer, texture, nullptr, nullptr);
        SDL_RenderPresent(renderer);
    }
}

double host_seconds()
{
    return double(int64_t(SDL_GetPerformanceCounter() - counter_start)) / double(counter_frequency);
}

int host_frame(Framebuffer* frame)
{
    if (client_width != frame_width || client_height != frame_height) {
        frame_width = client_width;
        frame_height = client_height;
        if (texture)
            SDL_DestroyTexture(texture);
        texture = nullptr;
        std::free(pixels);
        pixels = nullptr;
        if (frame_width > 0 && frame_height > 0 && renderer) {
            texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                        frame_width, frame_height);
            if (texture)
                pixels = static_cast<uint32_t*>(std::malloc(size_t(frame_width) * size_t(frame_height) * 4));
        }
    }
    int32_t w = frame_width > 0 ? frame_width : 0;
    int32_t h = frame_height > 0 ? frame_height : 0;
    // A frame that could not be made is reported empty, never as a pointer.
    if (!pixels)
        w = h = 0;
    *frame = Framebuffer{pixels, w * 4, w, h};
    return 1;
}

void host_present()
{
    if (!renderer)
        return;
    if (texture && pixels) {
        SDL_UpdateTexture(texture, nullptr, pixels, frame_width * 4);
        SDL_Rect rect{0, 0, frame_width, frame_height};
        SDL_RenderCopy(renderer, texture, nullptr, &rect);
    }
    SDL_RenderPresent(renderer);
}

void host_request_close()
{
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    e.window.windowID = window ? SDL_GetWindowID(window) : 0;
    SDL_PushEvent(&e);
}

void host_sleep(int milliseconds) { SDL_Delay(uint32_t(milliseconds)); }

void host_destroy()
{
    if (texture)
        SDL_DestroyTexture(texture);
    if (renderer)
        SDL_DestroyRenderer(renderer);
    if (cursor)
        SDL_FreeCursor(cursor);
    if (window)
        SDL_DestroyWindow(window);
    std::free(pixels);
    texture = nullptr;
    renderer = nullptr;
    cursor = nullptr;
    window = nullptr;
    pixels = nullptr;
    frame_width = 0;
    frame_height = -1;
    if (video_started)
        SDL_Quit();
    video_started = false;
}
