// The Win32 window host on a real window (Windows, or Wine): what its window
// procedure records from the messages it gets, the pump's end at WM_QUIT,
// the framebuffer's life, and creating the window a second time.
#include <windows.h>

#include <cstring>

#include <gtest/gtest.h>

#include "host/host_win32.h"
#include "host/window.h"

namespace {

HWND host_window() { return static_cast<HWND>(host_window_handle()); }

// Wine without an X display makes no windows at all; Windows always does.
bool desktop_makes_windows()
{
    HWND probe = CreateWindowExA(0, "STATIC", "probe", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    if (!probe)
        return false;
    DestroyWindow(probe);
    return true;
}

#define REQUIRE_WINDOWS()                                                                          \
    do {                                                                                           \
        if (!desktop_makes_windows())                                                              \
            GTEST_SKIP() << "no window can be made here (Wine needs DISPLAY); window host test skipped"; \
    } while (0)

// A key message's lParam: repeat count 1, the scan code, the extended flag.
LPARAM key_lparam(unsigned scan, bool extended, bool up = false)
{
    return LPARAM(1 | scan << 16 | (extended ? 1u << 24 : 0) | (up ? 3u << 30 : 0));
}

class HostWin32 : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_WINDOWS();
        host_input_reset();
        host_name = "Glimmerdex host test";
        client_width = 200;
        client_height = 150;
        ASSERT_NE(0, host_create()) << "no window could be made";
        ASSERT_NE(nullptr, host_window());
    }
    void TearDown() override
    {
        host_destroy();
        EXPECT_EQ(nullptr, host_window());
    }
};

TEST_F(HostWin32, KeyIndexIsTheScanCodePlus128WhenExtended)
{
    const HWND w = host_window();
    SendMessageA(w, WM_KEYDOWN, VK_UP, key_lparam(0x48, true));
    EXPECT_EQ(1, host_input.key_down[KEY_UP]);
    EXPECT_EQ(0, host_input.key_down[KEY_KEYPAD_8]);
    SendMessageA(w, WM_KEYDOWN, VK_UP, key_lparam(0x48, false));  // keypad 8, NumLock off
    EXPECT_EQ(1, host_input.key_down[KEY_KEYPAD_8]);
    SendMessageA(w, WM_KEYUP, VK_UP, key_lparam(0x48, true, true));
    EXPECT_EQ(0, host_input.key_down[KEY_UP]);
    EXPECT_EQ(1, host_input.key_down[KEY_KEYPAD_8]);
    // Only bits 16 to 22: bit 23 is not part of the scan code.
    SendMessageA(w, WM_KEYDOWN, VK_NEXT, key_lparam(0x51 | 0x80, true));
    EXPECT_EQ(1, host_input.key_down[KEY_PAGE_DOWN]);
    // Keys held with Alt come as system keys and are not recorded.
    SendMessageA(w, WM_SYSKEYDOWN, VK_END, key_lparam(0x4F, true) | LPARAM(1) << 29);
    EXPECT_EQ(0, host_input.key_down[KEY_END]);
}

TEST_F(HostWin32, CharactersPointerWheelSizeAndActivation)
{
    const HWND w = host_window();
    SendMessageA(w, WM_CHAR, 0x141, 0);
    SendMessageA(w, WM_CHAR, 'b', 0);
    EXPECT_EQ(0x41u, host_next_char());
    EXPECT_EQ(uint32_t('b'), host_next_char());
    EXPECT_EQ(0u, host_next_char());

    // x is read unsigned, y signed.
    SendMessageA(w, WM_MOUSEMOVE, 0, MAKELPARAM(0xFFF0, 0xFFF0));
    EXPECT_EQ(65520, host_input.mouse_x);
    EXPECT_EQ(-16, host_input.mouse_y);

    // The wheel's signed high word; the sum stops at the limit.
    host_input.wheel_delta = 0;
    SendMessageA(w, WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
    EXPECT_EQ(120, host_input.wheel_delta);
    SendMessageA(w, WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-360)), 0);
    EXPECT_EQ(-240, host_input.wheel_delta);
    host_input.wheel_delta = HOST_WHEEL_LIMIT - 100;
    SendMessageA(w, WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
    EXPECT_EQ(HOST_WHEEL_LIMIT, host_input.wheel_delta);

    SendMessageA(w, WM_SIZE, SIZE_RESTORED, MAKELPARAM(0xFFFF, 0x8000));
    EXPECT_EQ(65535, client_width);
    EXPECT_EQ(-32768, client_height);

    SendMessageA(w, WM_ACTIVATEAPP, 0, 0);
    EXPECT_EQ(0u, host_input.app_active);
    SendMessageA(w, WM_ACTIVATEAPP, 1, 0);
    EXPECT_EQ(1u, host_input.app_active);
}

TEST_F(HostWin32, PumpEndsAtTheQuitMessageAndLeavesTheRestQueued)
{
    const HWND w = host_window();
    EXPECT_EQ(0, host_pump());  // what creating the window queued
    while (host_next_char()) {
    }
    PostMessageA(w, WM_CHAR, 'a', 0);
    PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0);
    PostMessageA(w, WM_CHAR, 'z', 0);
    EXPECT_EQ(-1, host_pump());
    EXPECT_EQ(uint32_t('a'), host_next_char());
    EXPECT_EQ(0u, host_next_char());
    EXPECT_EQ(0, host_pump());
    EXPECT_EQ(uint32_t('z'), host_next_char());
}

TEST_F(HostWin32, RequestedCloseDestroysTheWindowAndQuits)
{
    host_request_close();
    int result = 0;
    for (int i = 0; i < 100 && result == 0; ++i)
        result = host_pump();
    EXPECT_EQ(-1, result);
    EXPECT_FALSE(IsWindow(host_window()));
}

TEST_F(HostWin32, FrameFollowsTheClientSizeAndAnEmptyClientHasNoPixels)
{
    const HWND w = host_window();
    Framebuffer frame{};
    EXPECT_EQ(1, host_frame(&frame));
    ASSERT_NE(nullptr, frame.pixels);
    EXPECT_EQ(client_width, frame.width);
    EXPECT_EQ(client_height, frame.height);
    EXPECT_EQ(frame.width * 4, frame.pitch);
    fill_rect(frame, 0, 0, frame.width, frame.height, 0x123456);
    host_present();

    // The same size keeps the section.
    uint32_t* same = frame.pixels;
    EXPECT_EQ(1, host_frame(&frame));
    EXPECT_EQ(same, frame.pixels);

    // Minimised: a zero-sized frame that nothing is drawn into.
    SendMessageA(w, WM_SIZE, SIZE_MINIMIZED, MAKELPARAM(0, 0));
    EXPECT_EQ(1, host_frame(&frame));
    EXPECT_EQ(nullptr, frame.pixels);
    EXPECT_EQ(0, frame.width);
    EXPECT_EQ(0, frame.height);
    fill_rect(frame, 0, 0, 10, 10, 0xFFFFFF);
    host_present();

    SendMessageA(w, WM_SIZE, SIZE_RESTORED, MAKELPARAM(40, 30));
    EXPECT_EQ(1, host_frame(&frame));
    ASSERT_NE(nullptr, frame.pixels);
    EXPECT_EQ(40, frame.width);
    EXPECT_EQ(30, frame.height);
    EXPECT_EQ(160, frame.pitch);
    fill_rect(frame, 0, 0, 40, 30, 0xFF0000);
    EXPECT_EQ(0xFF0000u, frame.pixels[29 * 40 + 39]);
    host_present();
}

TEST_F(HostWin32, ClockRunsFromCreation)
{
    const double a = host_seconds();
    host_sleep(20);
    const double b = host_seconds();
    EXPECT_GE(a, 0.0);
    EXPECT_GT(b, a);
    EXPECT_LT(b - a, 5.0);
}

TEST(HostWin32Lifecycle, CreatesAgainAfterDestroyWithoutAStaleQuitMessage)
{
    REQUIRE_WINDOWS();
    host_name = "Glimmerdex host test";
    for (int round = 0; round < 2; ++round) {
        client_width = 120;
        client_height = 90;
        ASSERT_NE(0, host_create()) << "round " << round;
        EXPECT_TRUE(IsWindow(host_window()));
        Framebuffer frame{};
        host_frame(&frame);
        EXPECT_NE(nullptr, frame.pixels);
        // The window was not closed: nothing ends the pump.
        EXPECT_EQ(0, host_pump()) << "round " << round;
        host_destroy();
        EXPECT_EQ(nullptr, host_window());
    }
}

}  // namespace
