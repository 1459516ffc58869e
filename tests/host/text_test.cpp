// The built-in font and print_text: glyph layout, clipping, tabs, limits.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/text.h"

namespace {

constexpr uint32_t PAPER = 0x123456;
constexpr uint32_t INK = 0xFFFFFF;

struct TestFrame {
    std::vector<uint32_t> pixels;
    Framebuffer frame;
    TestFrame(int32_t w, int32_t h) : pixels(size_t(w) * size_t(h), PAPER), frame{pixels.data(), w * 4, w, h} {}
    uint32_t at(int32_t x, int32_t y) const { return pixels[size_t(y) * size_t(frame.width) + size_t(x)]; }
};

bool glyph_bit(uint8_t c, int column, int row) { return font6x8[c * FONT_COLUMNS + column] >> row & 1; }

TEST(Font, TellingRowsMatchByteForByte)
{
    struct Row {
        int code;
        uint8_t columns[6];
    };
    const Row rows[] = {
        {1, {0x00, 0x3E, 0x45, 0x51, 0x45, 0x3E}},   {48, {0x00, 0x3E, 0x51, 0x49, 0x45, 0x3E}},
        {65, {0x00, 0x7E, 0x11, 0x11, 0x11, 0x7E}},  {95, {0x80, 0x80, 0x80, 0x80, 0x80, 0x80}},
        {97, {0x00, 0x20, 0x54, 0x54, 0x54, 0x78}},  {103, {0x00, 0x18, 0xA4, 0xA4, 0xA4, 0x7C}},
        {176, {0x44, 0x11, 0x44, 0x11, 0x44, 0x11}}, {219, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const Row& r : rows)
        EXPECT_EQ(0, std::memcmp(font6x8 + r.code * 6, r.columns, 6)) << "glyph " << r.code;
}

TEST(Font, LayoutOfTheWholeTable)
{
    for (int c : {0, 9, 32, 255})
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(0, font6x8[c * 6 + i]) << "glyph " << c << " should be blank";
    const std::string descenders = ",;_gjpqy";
    for (int c = 33; c < 127; ++c) {
        if (c != '_') {
            EXPECT_EQ(0, font6x8[c * 6]) << "column 0 of '" << char(c) << "' is the gap between letters";
        }
        bool low = false;
        for (int i = 0; i < 6; ++i)
            low |= glyph_bit(uint8_t(c), i, 7);
        EXPECT_EQ(descenders.find(char(c)) != std::string::npos, low) << "row 7 of '" << char(c) << "'";
    }
    // Every other glyph draws something: none was left out.
    int blank_others = 0;
    for (int c = 1; c < 255; ++c) {
        if (c == 9 || c == 32)
            continue;
        bool any = false;
        for (int i = 0; i < 6; ++i)
            any |= font6x8[c * 6 + i] != 0;
        blank_others += !any;
    }
    EXPECT_EQ(0, blank_others);
}

// What glyph c looks like at (x0, y0) in a frame, drawn opaque.
void expect_glyph(const TestFrame& t, uint8_t c, int32_t x0, int32_t y0, uint32_t back, int first_column = 0,
                  int first_row = 0)
{
    for (int row = first_row; row < 8; ++row)
        for (int i = first_column; i < 6; ++i)
            ASSERT_EQ(glyph_bit(c, i, row) ? INK : back, t.at(x0 + i, y0 + row)) << "column " << i << " row " << row;
}

TEST(PrintText, DrawsGlyphsOpaqueAndTransparent)
{
    TestFrame t(40, 10);
    print_text(t.frame, 2, 1, INK, 0, "Ag");
    expect_glyph(t, 'A', 2, 1, 0);
    expect_glyph(t, 'g', 8, 1, 0);
    EXPECT_EQ(PAPER, t.at(1, 1));
    EXPECT_EQ(PAPER, t.at(14, 1));
    EXPECT_EQ(PAPER, t.at(2, 9));

    TestFrame u(40, 10);
    print_text(u.frame, 2, 1, INK, -1, "A");
    expect_glyph(u, 'A', 2, 1, PAPER);
}

TEST(PrintText, ClipsOnAllFourSides)
{
    TestFrame t(20, 10);
    print_text(t.frame, -3, -5, INK, 0, "A");
    // Columns 3 to 5 of the glyph land at x 0..2, rows 5 to 7 at y 0..2.
    for (int row = 5; row < 8; ++row)
        for (int i = 3; i < 6; ++i)
            EXPECT_EQ(glyph_bit('A', i, row) ? INK : 0u, t.at(i - 3, row - 5));
    EXPECT_EQ(PAPER, t.at(3, 0));
    EXPECT_EQ(PAPER, t.at(0, 3));

    TestFrame r(20, 10);
    print_text(r.frame, 16, 6, INK, 0, "\xDB\xDB");  // full blocks
    for (int x = 16; x < 20; ++x)
        for (int y = 6; y < 10; ++y)
            EXPECT_EQ(INK, r.at(x, y));
    EXPECT_EQ(PAPER, r.at(15, 9));

    // Far outside in every direction: nothing is written, nothing breaks.
    TestFrame o(20, 10);
    print_text(o.frame, 20, 0, INK, 0, "abc");
    print_text(o.frame, 0, 10, INK, 0, "abc");
    print_text(o.frame, -100, 0, INK, 0, "abc");
    print_text(o.frame, 0, -8, INK, 0, "abc");
    print_text(o.frame, INT32_MAX - 5, INT32_MAX - 5, INK, 0, "abc\tdef");
    print_text(o.frame, INT32_MIN, INT32_MIN, INK, 0, "abc\tdef");
    for (uint32_t p : o.pixels)
        ASSERT_EQ(PAPER, p);
}

TEST(PrintText, TabTakesThreeCells)
{
    TestFrame t(40, 8);
    print_text(t.frame, 0, 0, INK, 0, "a\tb");
    expect_glyph(t, 'a', 0, 0, 0);
    for (int x = 6; x < 24; ++x)
        for (int y = 0; y < 8; ++y)
            ASSERT_EQ(0u, t.at(x, y)) << x;
    expect_glyph(t, 'b', 24, 0, 0);
    EXPECT_EQ(PAPER, t.at(30, 0));

    TestFrame u(40, 8);
    print_text(u.frame, 0, 0, INK, -1, "a\tb");
    for (int x = 6; x < 24; ++x)
        for (int y = 0; y < 8; ++y)
            ASSERT_EQ(PAPER, u.at(x, y)) << x;
    expect_glyph(u, 'b', 24, 0, PAPER);

    // A tab cut by the right edge fills only up to it.
    TestFrame e(10, 8);
    print_text(e.frame, 0, 0, INK, 0, "\t");
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(0u, e.at(x, 0));
}

TEST(PrintText, LineFeedIsAGlyphAndOtherCodesDrawAsIs)
{
    TestFrame t(20, 8);
    print_text(t.frame, 0, 0, INK, 0, "\n\xB0");
    expect_glyph(t, 10, 0, 0, 0);
    expect_glyph(t, 176, 6, 0, 0);
}

TEST(PrintText, FormatsAndStopsAt1023Characters)
{
    TestFrame t(6 * 1030, 8);
    std::string long_text(2000, '\xDB');
    print_text(t.frame, 0, 0, INK, 0, "%s", long_text.c_str());
    EXPECT_EQ(INK, t.at(6 * 1023 - 1, 3));
    EXPECT_EQ(PAPER, t.at(6 * 1023, 3));

    TestFrame f(60, 8);
    print_text(f.frame, 0, 0, INK, 0, "%dx%d", 96, 7);
    expect_glyph(f, '9', 0, 0, 0);
    expect_glyph(f, 'x', 12, 0, 0);
    expect_glyph(f, '7', 18, 0, 0);
    EXPECT_EQ(PAPER, f.at(24, 0));

    TestFrame n(20, 8);
    print_text(n.frame, 0, 0, INK, 0, nullptr);
    print_text(n.frame, 0, 0, INK, 0, "%s", "");
    for (uint32_t p : n.pixels)
        ASSERT_EQ(PAPER, p);
}

TEST(PrintText, NullFrameIsNeverWritten)
{
    Framebuffer none{nullptr, 0, 0, 0};
    print_text(none, 0, 0, INK, 0, "abc");
    Framebuffer failed{nullptr, 400, 100, 100};  // a size, but no pixels
    print_text(failed, 0, 0, INK, 0, "abc");
    fill_rect(failed, 0, 0, 100, 100, INK);
    SUCCEED();
}

}  // namespace
