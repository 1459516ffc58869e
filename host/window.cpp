// What both window hosts share: the input record, the host settings, the
// character queue, the wheel sum and rectangle fill.
#include "host/window.h"

#include <algorithm>
#include <cstring>

HostInput host_input = {{}, {}, 0, 0, 0, 0, 0, 0, 1};
const char* host_name = "Glimmerdex by Orlancey";
int32_t client_width = 800;
int32_t client_height = 600;

void host_input_reset()
{
    std::memset(&host_input, 0, sizeof host_input);
    host_input.app_active = 1;
}

void host_queue_char(uint32_t code)
{
    // No overflow check: 256 unread characters overwrite the oldest.
    host_input.char_queue[host_input.char_write % HOST_CHAR_QUEUE] = code & 0xFF;
    host_input.char_write = (host_input.char_write + 1) % HOST_CHAR_QUEUE;
}

uint32_t host_next_char()
{
    if (host_input.char_read == host_input.char_write)
        return 0;
    uint32_t code = host_input.char_queue[host_input.char_read % HOST_CHAR_QUEUE];
    host_input.char_read = (host_input.char_read + 1) % HOST_CHAR_QUEUE;
    return code;
}

void host_add_wheel(int32_t delta)
{
    int64_t sum = int64_t(host_input.wheel_delta) + delta;
    if (sum > HOST_WHEEL_LIMIT)
        sum = HOST_WHEEL_LIMIT;
    if (sum < -HOST_WHEEL_LIMIT)
        sum = -HOST_WHEEL_LIMIT;
    host_input.wheel_delta = int32_t(sum);
}

void fill_rect(const Framebuffer& frame, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t pixel)
{
    if (!frame.pixels)
        return;
    if (x1 > frame.width)
        x1 = frame.width;
    if (x0 < 0)
        x0 = 0;
    if (x0 >= x1)
        return;
    if (y1 > frame.height)
        y1 = frame.height;
    if (y0 < 0)
        y0 = 0;
    if (y0 >= y1)
        return;
    // Wide spans: memset for pixels of one repeated byte (black, the bar's
    // greys), otherwise memcpy from the first row filled; on long rows both
    // beat a plain loop of stores. Short spans in a plain loop.
    const bool wide = x1 - x0 >= 32;
    const bool one_byte = (pixel & 0xFF) * 0x01010101u == pixel;
    const size_t bytes = size_t(x1 - x0) * 4;
    const uint32_t* first = nullptr;
    for (int32_t y = y0; y < y1; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(frame.pixels) + int64_t(y) * frame.pitch) + x0;
        if (wide && one_byte) {
            std::memset(row, int(pixel & 0xFF), bytes);
        } else if (wide && first) {
            std::memcpy(row, first, bytes);
        } else {
            std::fill(row, row + (x1 - x0), pixel);
            first = row;
        }
    }
}
