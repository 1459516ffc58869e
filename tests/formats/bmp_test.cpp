// BMP: orientation, strides, bit fields (including the masks inside v4/v5
// headers), rejected headers, and files that lie about their extent.
#include <vector>

#include "tests/formats/builders.h"

namespace {

// A BMP with a header of `header_size` bytes (12 = OS/2 core), then `gap`
// (palette or masks), then the pixel bytes.
std::vector<uint8_t> make_bmp(uint32_t header_size, int32_t width, int32_t height, uint32_t bits,
                              uint32_t compression, const std::vector<uint8_t>& gap,
                              const std::vector<uint8_t>& pixels)
{
    Bytes f;
    f.text("BM").u32(0).u32(0).u32(0);
    f.u32(header_size);
    if (header_size == 12) {
        f.u16(uint32_t(width)).u16(uint32_t(height)).u16(1).u16(bits);
    } else {
        f.u32(uint32_t(width)).u32(uint32_t(height)).u16(1).u16(bits).u32(compression);
        f.fill(header_size - 20, 0);
    }
    f.b.insert(f.b.end(), gap.begin(), gap.end());
    f.put32(10, uint32_t(f.size()));
    f.b.insert(f.b.end(), pixels.begin(), pixels.end());
    f.put32(2, uint32_t(f.size()));
    return f.b;
}

std::vector<uint8_t> masks(uint32_t r, uint32_t g, uint32_t b)
{
    Bytes m;
    m.u32(r).u32(g).u32(b);
    return m.b;
}

TEST(Bmp, BottomUp24BitUsesFourByteStrides)
{
    // 3 x 2: 9 bytes per row padded to 12; the first stored row is the bottom.
    std::vector<uint8_t> px = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 10, 11, 12, 13, 14, 15, 16, 17, 18, 0, 0, 0};
    Window win(3, 2);
    ASSERT_EQ(win.decode(make_bmp(40, 3, 2, 24, 0, {}, px)), 0);
    EXPECT_EQ(win.at(0, 1), 0xFF030201u);
    EXPECT_EQ(win.at(2, 1), 0xFF090807u);
    EXPECT_EQ(win.at(0, 0), 0xFF0C0B0Au);
    EXPECT_EQ(win.at(2, 0), 0xFF121110u);

    Window top(3, 2);
    ASSERT_EQ(top.decode(make_bmp(40, 3, -2, 24, 0, {}, px)), 0);
    EXPECT_EQ(top.at(0, 0), 0xFF030201u);  // negative height: not flipped
    EXPECT_EQ(top.at(2, 1), 0xFF121110u);
}

TEST(Bmp, PaletteFormatsAndCoreHeader)
{
    std::vector<uint8_t> pal4 = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0};
    // 1 bit, most significant first: 1 0 1 1 0.
    Window one(5, 1);
    ASSERT_EQ(one.decode(make_bmp(40, 5, 1, 1, 0, pal4, {0xB0, 0, 0, 0})), 0);
    EXPECT_EQ(one.at(0, 0), 0xFF00FF00u);
    EXPECT_EQ(one.at(1, 0), 0xFFFF0000u);
    EXPECT_EQ(one.at(4, 0), 0xFFFF0000u);
    EXPECT_EQ(palette_count, 4);
    // 4 bits, high nibble first; index 3 is white, 4 lies beyond the palette.
    Window nib(3, 1);
    ASSERT_EQ(nib.decode(make_bmp(40, 3, 1, 4, 0, pal4, {0x32, 0x40, 0, 0})), 0);
    EXPECT_EQ(nib.at(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(nib.at(1, 0), 0xFF0000FFu);
    EXPECT_EQ(nib.at(2, 0), 0xFF000000u);
    // OS/2 core header: 3-byte palette entries.
    Window core(2, 1);
    ASSERT_EQ(core.decode(make_bmp(12, 2, 1, 8, 0, {10, 20, 30, 40, 50, 60}, {1, 0, 0, 0})), 0);
    EXPECT_EQ(core.at(0, 0), 0xFF3C3228u);
    EXPECT_EQ(core.at(1, 0), 0xFF1E140Au);
}

TEST(Bmp, BitFieldsWidenWithoutReplication)
{
    std::vector<uint8_t> px = {0xFF, 0xFF, 0x1F, 0xF8};
    Window win(2, 1);
    ASSERT_EQ(win.decode(make_bmp(40, 2, 1, 16, 3, masks(0xF800, 0x07E0, 0x001F), px)), 0);
    EXPECT_EQ(win.at(0, 0), 0xFFF8FCF8u);
    EXPECT_EQ(win.at(1, 0), 0xFFF800F8u);
    // Default 16-bit layout is 5-5-5; 32-bit ignores the fourth byte.
    Window plain(1, 1);
    ASSERT_EQ(plain.decode(make_bmp(40, 1, 1, 16, 0, {}, {0xFF, 0x7F, 0, 0})), 0);
    EXPECT_EQ(plain.at(0, 0), 0xFFF8F8F8u);
    Window wide(1, 1);
    ASSERT_EQ(wide.decode(make_bmp(40, 1, 1, 32, 0, {}, {1, 2, 3, 0})), 0);
    EXPECT_EQ(wide.at(0, 0), 0xFF030201u);
    // A 10-bit channel keeps its top 8 bits.
    Window ten(1, 1);
    ASSERT_EQ(ten.decode(make_bmp(40, 1, 1, 32, 3, masks(0x3FF00000, 0x000FFC00, 0x000003FF), {0xFF, 0x03, 0xF0, 0x3F})),
              0);
    EXPECT_EQ(ten.at(0, 0), 0xFFFF00FFu);
}

TEST(Bmp, MasksInsideVersion4And5HeadersAreRead)
{
    // v4 (108) and v5 (124) headers, and the 52/56-byte ones, hold the masks
    // at offset 54; the words after the header are already pixels here.
    for (uint32_t header : {52u, 56u, 108u, 124u}) {
        Bytes f;
        f.text("BM").u32(0).u32(0).u32(0).u32(header);
        f.u32(2).u32(1).u16(1).u16(16).u32(3).fill(20, 0);
        f.u32(0xF800).u32(0x07E0).u32(0x001F);
        f.fill(header + 14 - f.size(), 0);
        f.put32(10, uint32_t(f.size()));
        f.raw({0xE0, 0x07, 0x1F, 0x00});  // green and blue in 5-6-5
        Window win(2, 1);
        ASSERT_EQ(win.decode(f.b), 0) << header;
        EXPECT_EQ(win.at(0, 0), 0xFF00FC00u) << header;
        EXPECT_EQ(win.at(1, 0), 0xFF0000F8u) << header;
    }
}

TEST(Bmp, RejectedHeaders)
{
    std::vector<uint8_t> px = {0, 0, 0, 0};
    auto rejected = [&](std::vector<uint8_t> f) {
        Window win(1, 1);
        int rc = win.decode(f);
        return rc == -1 && win.at(0, 0) == untouched;
    };
    EXPECT_TRUE(rejected(make_bmp(40, 1, 1, 8, 1, {}, px)));  // RLE8
    EXPECT_TRUE(rejected(make_bmp(40, 1, 1, 4, 2, {}, px)));  // RLE4
    EXPECT_TRUE(rejected(make_bmp(40, 1, 1, 2, 0, {}, px)));
    EXPECT_TRUE(rejected(make_bmp(40, 0, 1, 24, 0, {}, px)));
    EXPECT_TRUE(rejected(make_bmp(40, -1, 1, 24, 0, {}, px)));
    EXPECT_TRUE(rejected(make_bmp(40, 1, 0, 24, 0, {}, px)));
    std::vector<uint8_t> planes = make_bmp(40, 1, 1, 24, 0, {}, px);
    planes[26] = 2;
    EXPECT_TRUE(rejected(planes));
    std::vector<uint8_t> shortened = make_bmp(40, 1, 1, 24, 0, {}, px);
    shortened.resize(30);
    EXPECT_TRUE(rejected(shortened));
}

TEST(Bmp, FilesThatLieAboutTheirExtent)
{
    // Pixel data offset beyond the file: nothing is written, the result is 0.
    std::vector<uint8_t> f = make_bmp(40, 2, 2, 24, 0, {}, std::vector<uint8_t>(16, 0x40));
    f[10] = 0xF0;
    f[11] = 0xFF;
    Window far(2, 2);
    EXPECT_EQ(far.decode(f), 0);
    EXPECT_EQ(far.count(untouched), 4);

    // Truncated in the middle of the top row of a bottom-up file.
    std::vector<uint8_t> cut = make_bmp(40, 2, 2, 24, 0, {}, std::vector<uint8_t>(16, 0x40));
    cut.resize(cut.size() - 5);
    Window part(2, 2);
    EXPECT_EQ(part.decode(cut), 0);
    EXPECT_EQ(part.at(0, 1), 0xFF404040u);
    EXPECT_EQ(part.at(1, 1), 0xFF404040u);
    EXPECT_EQ(part.at(0, 0), 0xFF404040u);
    EXPECT_EQ(part.at(1, 0), untouched);

    // A palette gap of 300 entries: the first 256 are used.
    std::vector<uint8_t> gap(300 * 4, 0);
    gap[255 * 4] = 9;
    gap[256 * 4] = 77;
    Window big(1, 1);
    EXPECT_EQ(big.decode(make_bmp(40, 1, 1, 8, 0, gap, {255, 0, 0, 0})), 0);
    EXPECT_EQ(big.at(0, 0), 0xFF000009u);
    EXPECT_EQ(palette_count, 256);

    // Huge dimensions with a tiny file end at the file's end.
    Window huge(4, 4);
    EXPECT_EQ(huge.decode(make_bmp(40, 0x7FFFFFFF, int32_t(0x80000000), 32, 0, {}, {1, 2, 3, 4})), 0);
    EXPECT_EQ(huge.at(0, 0), 0xFF030201u);
    EXPECT_EQ(huge.count(untouched), 15);
}

} // namespace
