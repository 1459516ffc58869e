// The window host on Win32 itself: one overlapped window, a top-down 32-bit
// DIB section shown one to one with StretchDIBits, the message pump and the
// window procedure that fills HostInput, raw-input mouse buttons.
#include <windows.h>

#include <cstring>

#include "host/host_win32.h"
#include "host/window.h"

namespace {

using RegisterRawInputDevicesProc = BOOL(WINAPI*)(PCRAWINPUTDEVICE, UINT, UINT);
using GetRawInputDataProc = UINT(WINAPI*)(HRAWINPUT, UINT, LPVOID, PUINT, UINT);

// GetSystemDirectoryA gets this many bytes; the file name is appended after.
constexpr UINT HOST_SYSTEM_DIRECTORY_BYTES = 248;
constexpr char HOST_USER32_FILE[] = "\\user32.dll";
// One mouse record with its header fits (48 bytes in a 64-bit process).
constexpr UINT HOST_RAW_INPUT_BYTES = 64;
constexpr USHORT HOST_USAGE_PAGE_GENERIC_DESKTOP = 1;
constexpr USHORT HOST_USAGE_MOUSE = 2;
constexpr int HOST_EXTENDED_KEY_OFFSET = 128;

HINSTANCE instance;
ATOM window_class;
HWND window;
HMODULE user32_library;
GetRawInputDataProc get_raw_input_data;
HBITMAP section;
BITMAPINFO section_info;   // stays valid as long as the section
uint32_t* section_pixels;
int32_t frame_width = 0;    // size the section was made for; the -1
int32_t frame_height = -1;  // height makes the first host_frame create one
LARGE_INTEGER counter_frequency;
LARGE_INTEGER counter_start;

// Bits 16 to 22 of a key message's lParam, +128 when bit 24 (extended) is set.
int key_index(LPARAM lParam)
{
    return int((lParam >> 16) & 0x7F) + ((lParam >> 24) & 1 ? HOST_EXTENDED_KEY_OFFSET : 0);
}

void record_raw_input(LPARAM lParam)
{
    if (!get_raw_input_data)
        return;
    union {
        RAWINPUT input;
        uint8_t bytes[HOST_RAW_INPUT_BYTES];
    } buffer;
    static_assert(sizeof(RAWINPUT) <= HOST_RAW_INPUT_BYTES, "a mouse record must fit the buffer");
    UINT size = HOST_RAW_INPUT_BYTES;
    // The header size is that of this process's structure (the 32-bit 16 fails here).
    UINT got = get_raw_input_data(reinterpret_cast<HRAWINPUT>(lParam), RID_INPUT, &buffer, &size,
                                  sizeof(RAWINPUTHEADER));
    if (got == UINT(-1) || got < sizeof(RAWINPUTHEADER) + sizeof(RAWMOUSE) ||
        buffer.input.header.dwType != RIM_TYPEMOUSE)
        return;
    const USHORT flags = buffer.input.data.mouse.usButtonFlags;
    uint32_t& buttons = host_input.mouse_buttons;
    if (flags & RI_MOUSE_LEFT_BUTTON_DOWN)
        buttons |= MOUSE_LEFT;
    if (flags & RI_MOUSE_LEFT_BUTTON_UP)
        buttons &= ~MOUSE_LEFT;
    if (flags & RI_MOUSE_RIGHT_BUTTON_DOWN)
        buttons |= MOUSE_RIGHT;
    if (flags & RI_MOUSE_RIGHT_BUTTON_UP)
        buttons &= ~MOUSE_RIGHT;
    if (flags & RI_MOUSE_MIDDLE_BUTTON_DOWN)
        buttons |= MOUSE_MIDDLE;
    if (flags & RI_MOUSE_MIDDLE_BUTTON_UP)
        buttons &= ~MOUSE_MIDDLE;
}

LRESULT CALLBACK window_procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY: PostQuitMessage(0); break;
    case WM_SIZE:
        client_width = LOWORD(lParam);
        client_height = int16_t(HIWORD(lParam));
        break;
    case WM_ACTIVATEAPP: host_input.app_active = uint32_t(wParam); break;
    case WM_INPUT: record_raw_input(lParam); break;
    case WM_KEYDOWN: host_input.key_down[key_index(lParam)] = 1; break;
    case WM_KEYUP: host_input.key_down[key_index(lParam)] = 0; break;
    case WM_CHAR: host_queue_char(uint32_t(wParam)); break;
    case WM_MOUSEMOVE:
        host_input.mouse_x = LOWORD(lParam);
        host_input.mouse_y = int16_t(HIWORD(lParam));
        break;
    case WM_MOUSEWHEEL: host_add_wheel(int16_t(HIWORD(wParam))); break;
    default: break;
    }
    // Also for the messages handled above: WM_CLOSE thus destroys the window.
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

int to_int(int64_t v) { return int(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v); }

void release_section()
{
    if (section)
        DeleteObject(section);
    section = nullptr;
    section_pixels = nullptr;
}

}  // namespace

void* host_window_handle() { return window; }

int host_create()
{
    instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = window_procedure;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorA(nullptr, IDC_CROSS);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszMenuName = host_name;  // no such menu resource: the window has none
    wc.lpszClassName = host_name;
    window_class = RegisterClassA(&wc);
    if (!window_class)
        return 0;

    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const int frame_x = GetSystemMetrics(SM_CXFRAME);
    const int frame_y = GetSystemMetrics(SM_CYFRAME);
    const int caption = GetSystemMetrics(SM_CYCAPTION);
    // In 64 bits: the command line may ask for a client size near INT32_MAX.
    const int64_t outer_width = int64_t(client_width) + 2 * frame_x;
    const int64_t outer_height = int64_t(client_height) + caption + 2 * frame_y;
    const int64_t x = work.left + ((int64_t(work.right) - work.left - outer_width) >> 1);
    const int64_t y = work.top + ((int64_t(work.bottom) - work.top - outer_height) >> 1);
    window = CreateWindowExA(0, host_name, host_name, WS_OVERLAPPEDWINDOW, to_int(x), to_int(y), to_int(outer_width),
                             to_int(outer_height), nullptr, nullptr, instance, nullptr);
    if (!window)
        return 0;
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);

    std::memset(host_input.key_down, 0, sizeof host_input.key_down);
    QueryPerformanceFrequency(&counter_frequency);
    if (counter_frequency.QuadPart <= 0)
        counter_frequency.QuadPart = 1;
    QueryPerformanceCounter(&counter_start);

    // The directory gets its 248 bytes; the buffer also holds the file name,
    // so a long system directory cannot make the append overrun it.
    char library_path[HOST_SYSTEM_DIRECTORY_BYTES + sizeof HOST_USER32_FILE];
    const UINT length = GetSystemDirectoryA(library_path, HOST_SYSTEM_DIRECTORY_BYTES);
    if (length > 0 && length < HOST_SYSTEM_DIRECTORY_BYTES) {
        std::memcpy(library_path + length, HOST_USER32_FILE, sizeof HOST_USER32_FILE);
        user32_library = LoadLibraryA(library_path);
    }
    if (!user32_library) {
        MessageBoxA(nullptr, "LoadLibrary failed", ":/", MB_OK);
        return 0;
    }
    auto register_raw_input_devices = reinterpret_cast<RegisterRawInputDevicesProc>(
        reinterpret_cast<void*>(GetProcAddress(user32_library, "RegisterRawInputDevices")));
    if (!register_raw_input_devices)
        return 0;
    get_raw_input_data = reinterpret_cast<GetRawInputDataProc>(
        reinterpret_cast<void*>(GetProcAddress(user32_library, "GetRawInputData")));
    if (!get_raw_input_data)
        return 0;

    RAWINPUTDEVICE mouse{HOST_USAGE_PAGE_GENERIC_DESKTOP, HOST_USAGE_MOUSE, RIDEV_INPUTSINK, window};
    // The size of this process's structure (the 32-bit 12 fails here); the result is not checked.
    register_raw_input_devices(&mouse, 1, sizeof mouse);
    return 1;
}

int host_pump()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT)
            return -1;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

double host_seconds()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart - counter_start.QuadPart) / double(counter_frequency.QuadPart);
}

int host_frame(Framebuffer* frame)
{
    if (client_width != frame_width || client_height != frame_height) {
        HDC dc = GetDC(window);
        release_section();
        frame_width = client_width;
        frame_height = client_height;
        std::memset(&section_info, 0, sizeof section_info);
        BITMAPINFOHEADER& h = section_info.bmiHeader;
        h.biSize = sizeof h;
        h.biWidth = frame_width;
        h.biHeight = -frame_height;  // top-down rows
        h.biPlanes = 1;
        h.biBitCount = 32;
        h.biCompression = BI_RGB;
        // A zero-sized (minimised) client has no section; neither has a failed one.
        if (frame_width > 0 && frame_height > 0) {
            void* bits = nullptr;
            section = CreateDIBSection(dc, &section_info, DIB_RGB_COLORS, &bits, nullptr, 0);
            section_pixels = section ? static_cast<uint32_t*>(bits) : nullptr;
            if (!section_pixels)
                release_section();
        }
        if (dc)
            ReleaseDC(window, dc);
    }
    // A frame without pixels is reported empty and is never drawn into.
    const int32_t w = section_pixels ? frame_width : 0;
    const int32_t h = section_pixels ? frame_height : 0;
    *frame = Framebuffer{section_pixels, w * 4, w, h};
    return 1;
}

void host_present()
{
    if (!section_pixels || !window)
        return;
    HDC dc = GetDC(window);
    if (!dc)
        return;
    StretchDIBits(dc, 0, 0, frame_width, frame_height, 0, 0, frame_width, frame_height, section_pixels,
                  &section_info, DIB_RGB_COLORS, SRCCOPY);
    ReleaseDC(window, dc);
}

void host_request_close()
{
    if (window)
        PostMessageA(window, WM_CLOSE, 0, 0);
}

void host_sleep(int milliseconds) { Sleep(DWORD(milliseconds > 0 ? milliseconds : 0)); }

void host_destroy()
{
    release_section();
    frame_width = 0;
    frame_height = -1;
    if (window && IsWindow(window)) {
        if (user32_library) {
            auto register_raw_input_devices = reinterpret_cast<RegisterRawInputDevicesProc>(
                reinterpret_cast<void*>(GetProcAddress(user32_library, "RegisterRawInputDevices")));
            RAWINPUTDEVICE mouse{HOST_USAGE_PAGE_GENERIC_DESKTOP, HOST_USAGE_MOUSE, RIDEV_REMOVE, nullptr};
            if (register_raw_input_devices)
                register_raw_input_devices(&mouse, 1, sizeof mouse);
        }
        DestroyWindow(window);
        // The quit message WM_DESTROY posted: a later host_create starts afresh.
        MSG msg;
        while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
    window = nullptr;
    get_raw_input_data = nullptr;
    if (user32_library)
        FreeLibrary(user32_library);
    user32_library = nullptr;
    if (window_class)
        UnregisterClassA(MAKEINTATOM(window_class), instance);
    window_class = 0;
}
