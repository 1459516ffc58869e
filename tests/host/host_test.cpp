// The parts of the window host both implementations share.
#include <vector>

#include <gtest/gtest.h>

#include "host/window.h"

namespace {

TEST(FillRect, ClipsToTheFrameAndExcludesRightAndBottom)
{
    std::vector<uint32_t> px(10 * 6, 7);
    Framebuffer f{px.data(), 40, 10, 6};
    fill_rect(f, -5, -5, 3, 2, 1);
    fill_rect(f, 8, 4, 100, 100, 2);
    fill_rect(f, 5, 5, 5, 6, 3);   // empty: x0 == x1
    fill_rect(f, 4, 3, 2, 1, 3);   // inverted
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x) {
            uint32_t want = (x < 3 && y < 2) ? 1 : (x >= 8 && y >= 4) ? 2 : 7;
            ASSERT_EQ(want, px[size_t(y * 10 + x)]) << x << "," << y;
        }
}

TEST(HostInput, CharacterQueueKeepsLowByteAndWraps)
{
    host_input_reset();
    EXPECT_EQ(0u, host_next_char());
    host_queue_char(0x141);
    EXPECT_EQ(0x41u, host_next_char());
    EXPECT_EQ(0u, host_next_char());
    // 255 waiting characters survive the wrap of both indices.
    for (int round = 0; round < 3; ++round) {
        for (uint32_t c = 1; c <= 255; ++c)
            host_queue_char(c);
        for (uint32_t c = 1; c <= 255; ++c)
            ASSERT_EQ(c, host_next_char());
        EXPECT_EQ(0u, host_next_char());
    }
}

TEST(HostInput, WheelSumIsClamped)
{
    host_input_reset();
    host_add_wheel(HOST_WHEEL_NOTCH);
    EXPECT_EQ(120, host_input.wheel_delta);
    for (int i = 0; i < 40000000 / 120 * 60; i += 1000)
        host_add_wheel(HOST_WHEEL_NOTCH * 1000);
    EXPECT_EQ(0x7FFF0000, host_input.wheel_delta);
    host_add_wheel(INT32_MIN);
    host_add_wheel(INT32_MIN);
    EXPECT_EQ(-0x7FFF0000, host_input.wheel_delta);
    EXPECT_EQ(1u, host_input.app_active);
}

}  // namespace
