// The window host without a window: what the window's event handling would
// record comes from a script, the frame lives in memory, the clock is the
// test's.
#include "host/headless/host_headless.h"

#include <cstring>

HeadlessHost headless_host;

void headless_reset(int32_t width, int32_t height)
{
    headless_host = HeadlessHost{};
    headless_host.frame_width = 0;
    headless_host.frame_height = -1;
    host_input_reset();
    client_width = width;
    client_height = height;
}

void headless_push(HeadlessEventKind kind, int32_t a, int32_t b, double seconds)
{
    headless_host.script.push_back({kind, a, b, seconds});
}

int host_create()
{
    if (headless_host.fail_create)
        return 0;
    headless_host.created = true;
    std::memset(host_input.key_down, 0, sizeof host_input.key_down);
    headless_host.clock = 0;
    return 1;
}

static void apply(const HeadlessEvent& e)
{
    switch (e.kind) {
    case HEADLESS_KEY_DOWN: host_input.key_down[e.a & 0xFF] = 1; break;
    case HEADLESS_KEY_UP: host_input.key_down[e.a & 0xFF] = 0; break;
    case HEADLESS_CHAR: host_queue_char(uint32_t(e.a)); break;
    case HEADLESS_MOVE:
        host_input.mouse_x = e.a;
        host_input.mouse_y = e.b;
        break;
    case HEADLESS_BUTTON_DOWN: host_input.mouse_buttons |= uint32_t(e.a); break;
    case HEADLESS_BUTTON_UP: host_input.mouse_buttons &= ~uint32_t(e.a); break;
    case HEADLESS_WHEEL: host_add_wheel(e.a); break;
    case HEADLESS_FOCUS: host_input.app_active = uint32_t(e.a); break;
    case HEADLESS_SIZE:
        client_width = e.a;
        client_height = e.b;
        break;
    case HEADLESS_CLOCK: headless_host.clock += e.seconds; break;
    case HEADLESS_CLOSE: headless_host.quit_posted = true; break;
    case HEADLESS_FRAME: break;
    }
}

int host_pump()
{
    int pump = headless_host.pumps++;
    if (headless_host.on_pump)
        headless_host.on_pump(pump);
    headless_host.clock += headless_host.clock_per_pump;
    if (headless_host.quit_posted)
        return -1;
    while (headless_host.next_event < headless_host.script.size()) {
        const HeadlessEvent e = headless_host.script[headless_host.next_event++];
        if (e.kind == HEADLESS_FRAME)
            return 0;
        apply(e);
        if (headless_host.quit_posted)
            return -1;
    }
    // An exhausted script closes the window.
    return -1;
}

double host_seconds() { return headless_host.clock; }

int host_frame(Framebuffer* frame)
{
    if (client_width != headless_host.frame_width || client_height != headless_host.frame_height) {
        headless_host.frame_width = client_width;
        headless_host.frame_height = client_height;
        ++headless_host.frames_created;
        int32_t w = client_width > 0 ? client_width : 0;
        int32_t h = client_height > 0 ? client_height : 0;
        headless_host.buffer.assign(size_t(w) * size_t(h), 0);
    }
    int32_t w = headless_host.frame_width > 0 ? headless_host.frame_width : 0;
    int32_t h = headless_host.frame_height > 0 ? headless_host.frame_height : 0;
    if (w == 0 || h == 0 || headless_host.fail_frames)
        *frame = Framebuffer{nullptr, w * 4, w, h};
    else
        *frame = Framebuffer{headless_host.buffer.data(), w * 4, w, h};
    return 1;
}

void host_present()
{
    ++headless_host.presents;
    int32_t w = headless_host.frame_width > 0 ? headless_host.frame_width : 0;
    int32_t h = headless_host.frame_height > 0 ? headless_host.frame_height : 0;
    headless_host.presented = headless_host.buffer;
    headless_host.presented_width = w;
    headless_host.presented_height = h;
}

void host_request_close()
{
    ++headless_host.close_requests;
    headless_host.quit_posted = true;
}

void host_sleep(int) { ++headless_host.sleeps; }

void host_destroy()
{
    headless_host.buffer.clear();
    headless_host.buffer.shrink_to_fit();
    headless_host.created = false;
}

uint32_t headless_pixel(int32_t x, int32_t y)
{
    if (x < 0 || y < 0 || x >= headless_host.presented_width || y >= headless_host.presented_height)
        return 0xDEADBEEF;
    return headless_host.presented[size_t(y) * size_t(headless_host.presented_width) + size_t(x)];
}
