// Fitting pictures into a box: sizes, exact area averages, compositing.
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include "picture/fit.h"

namespace {

using Pixels = std::vector<uint32_t>;

Picture view(Pixels& p, int32_t w, int32_t h) { return Picture{p.data(), w * 4, w, h}; }

Pixels fitted_pixels(const Picture& f)
{
    Pixels out;
    for (int32_t y = 0; y < f.height; ++y)
        for (int32_t x = 0; x < f.width; ++x)
            out.push_back(f.pixels[y * (f.pitch / 4) + x]);
    return out;
}

// Grey opaque pixel.
constexpr uint32_t grey(uint32_t v) { return 0xFF000000u | v << 16 | v << 8 | v; }

struct FitCase {
    const char* what;
    int32_t w, h;
    Pixels source;
    int32_t box_w, box_h;
    uint32_t background;
    int32_t out_w, out_h;
    Pixels expected;
};

} // namespace

TEST(PictureFit, ExactAreaAverages)
{
    const std::vector<FitCase> cases = {
        {"4x4 halves into 2x2 blocks", 4, 4,
         {grey(0), grey(4), grey(8), grey(12),
          grey(16), grey(20), grey(24), grey(28),
          grey(100), grey(100), grey(200), grey(201),
          grey(100), grey(100), grey(202), grey(203)},
         2, 2, 0, 2, 2, {grey(10), grey(18), grey(100), grey(202)}},
        // Source cells 2 units wide, output cells 3: thirds.
        {"3 to 2 across", 3, 1, {grey(30), grey(90), grey(240)}, 2, 2, 0, 2, 1, {grey(50), grey(190)}},
        // Channels average separately.
        {"colour channels", 2, 1, {0xFF102030, 0xFF305070}, 1, 1, 0, 1, 1, {0xFF203850}},
        // 127.5 rounds up.
        {"halves round up", 2, 1, {grey(0), grey(255)}, 1, 1, 0, 1, 1, {grey(128)}},
        // A 1x10 strip into 4x4: height fills the box, width stays 1; each
        // output pixel covers two and a half source pixels.
        {"1xN strip", 1, 10,
         {grey(0), grey(10), grey(20), grey(30), grey(40), grey(50), grey(60), grey(70), grey(80), grey(90)},
         4, 4, 0, 1, 4, {grey(8), grey(32), grey(58), grey(82)}},
        {"Nx1 strip", 5, 1, {grey(0), grey(50), grey(100), grey(150), grey(200)}, 2, 3, 0, 2, 1,
         {grey(40), grey(160)}},
        {"already small is copied", 2, 2, {grey(1), grey(2), grey(3), grey(4)}, 104, 96, 0x123456, 2, 2,
         {grey(1), grey(2), grey(3), grey(4)}},
        {"box-sized is copied", 2, 1, {grey(7), grey(9)}, 2, 1, 0, 2, 1, {grey(7), grey(9)}},
    };
    for (const FitCase& c : cases) {
        SCOPED_TRACE(c.what);
        Pixels source = c.source;
        Picture fitted{};
        ASSERT_EQ(picture_fit(view(source, c.w, c.h), c.box_w, c.box_h, c.background, &fitted), 0);
        EXPECT_EQ(fitted.width, c.out_w);
        EXPECT_EQ(fitted.height, c.out_h);
        EXPECT_EQ(fitted.pitch, fitted.width * 4);
        EXPECT_EQ(fitted_pixels(fitted), c.expected);
        std::free(fitted.pixels);
    }
}

TEST(PictureFit, SizesKeepTheAspectRatioWithinTheBox)
{
    struct Size {
        int32_t w, h, box_w, box_h, out_w, out_h;
    };
    const Size sizes[] = {
        {256, 256, 104, 96, 96, 96},   {256, 192, 104, 96, 104, 78}, {200, 50, 104, 96, 104, 26},
        {50, 300, 104, 96, 16, 96},    {1000, 1, 104, 96, 104, 1},   {1, 1000, 104, 96, 1, 96},
        {105, 96, 104, 96, 104, 95},   {104, 97, 104, 96, 103, 96},  {3, 3, 1, 1, 1, 1},
    };
    for (const Size& s : sizes) {
        SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " in " << s.box_w << "x" << s.box_h);
        Pixels source(size_t(s.w) * size_t(s.h), grey(77));
        Picture fitted{};
        ASSERT_EQ(picture_fit(view(source, s.w, s.h), s.box_w, s.box_h, 0, &fitted), 0);
        EXPECT_EQ(fitted.width, s.out_w);
        EXPECT_EQ(fitted.height, s.out_h);
        // A flat picture stays flat whatever the ratio: the weights add up exactly.
        EXPECT_EQ(fitted_pixels(fitted), Pixels(size_t(s.out_w) * size_t(s.out_h), grey(77)));
        std::free(fitted.pixels);
    }
}

TEST(PictureFit, AlphaCompositesOverTheBackground)
{
    struct AlphaCase {
        uint32_t pixel;
        uint32_t background;
        uint32_t expected;
    };
    // The first pixel of each source is opaque black, so that the alpha
    // channel is in use; the second is the one under test.
    const AlphaCase cases[] = {
        {0x00FFFFFF, 0x000000, 0xFF000000}, {0x00FFFFFF, 0x204060, 0xFF204060},
        {0x80FFFFFF, 0x000000, 0xFF808080}, {0x80FFFFFF, 0xFFFFFF, 0xFFFFFFFF},
        {0x80000000, 0xFFFFFF, 0xFF7F7F7F}, {0x80C86432, 0x204060, 0xFF745249},
        {0xFF123456, 0x000000, 0xFF123456}, {0xFF123456, 0xFFFFFF, 0xFF123456},
    };
    for (const AlphaCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.pixel << " over " << c.background);
        Pixels source = {0xFF000000, c.pixel};
        Picture fitted{};
        ASSERT_EQ(picture_fit(view(source, 2, 1), 10, 10, c.background, &fitted), 0);
        EXPECT_EQ(fitted_pixels(fitted), (Pixels{0xFF000000, c.expected}));
        std::free(fitted.pixels);
    }
}

TEST(PictureFit, AllZeroAlphaCountsAsOpaque)
{
    // What a bitmap without alpha, or a caller's zeroed buffer, leaves.
    Pixels source = {0x00102030, 0x00405060, 0x00708090, 0x00A0B0C0};
    Picture fitted{};
    ASSERT_EQ(picture_fit(view(source, 2, 2), 10, 10, 0xFFFFFF, &fitted), 0);
    EXPECT_EQ(fitted_pixels(fitted), (Pixels{0xFF102030, 0xFF405060, 0xFF708090, 0xFFA0B0C0}));
    std::free(fitted.pixels);
    ASSERT_EQ(picture_fit(view(source, 2, 2), 1, 1, 0xFFFFFF, &fitted), 0);
    EXPECT_EQ(fitted_pixels(fitted), (Pixels{0xFF586878}));
    std::free(fitted.pixels);
}

TEST(PictureFit, BottomUpSourcesAndRowPadding)
{
    // Rows of 3 pixels in a pitch of 4, read through a negative pitch.
    Pixels storage = {grey(40), grey(40), grey(40), 0xDEADBEEF, grey(0), grey(0), grey(30), 0xDEADBEEF};
    Picture bottom_up{storage.data() + 4, -16, 3, 2};
    Picture fitted{};
    ASSERT_EQ(picture_fit(bottom_up, 3, 2, 0, &fitted), 0);
    EXPECT_EQ(fitted_pixels(fitted), (Pixels{grey(0), grey(0), grey(30), grey(40), grey(40), grey(40)}));
    std::free(fitted.pixels);
}

TEST(PictureFit, RefusesWithoutTouchingTheResult)
{
    Pixels one = {grey(1)};
    const Picture sources[] = {
        {nullptr, 4, 1, 1}, {one.data(), 4, 0, 1}, {one.data(), 4, 1, 0}, {one.data(), 4, -3, 1},
        // Never read: refused on its size alone.
        {one.data(), 4, int32_t(1) << 21, int32_t(1) << 20},
    };
    for (const Picture& s : sources) {
        Picture fitted{reinterpret_cast<uint32_t*>(&one), 99, 98, 97};
        EXPECT_EQ(picture_fit(s, 10, 10, 0, &fitted), -1);
        EXPECT_EQ(fitted.pitch, 99);
        EXPECT_EQ(fitted.height, 97);
    }
    Picture fitted{};
    EXPECT_EQ(picture_fit(view(one, 1, 1), 0, 10, 0, &fitted), -1);
    EXPECT_EQ(picture_fit(view(one, 1, 1), 10, -1, 0, &fitted), -1);
    EXPECT_EQ(fitted.pixels, nullptr);
}
