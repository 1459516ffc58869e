// BMP: the bit-field masks inside v4/v5 headers, and files that lie about
// their extent. Everything else is checked against the corpus.
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

    // Top-down with the largest height: stride x row must not wrap.
    Window huge(4, 4);
    EXPECT_EQ(huge.decode(make_bmp(40, 0x7FFFFFFF, int32_t(0x80000000), 32, 0, {}, {1, 2, 3, 4})), 0);
    EXPECT_EQ(huge.at(0, 0), 0xFF030201u);
    EXPECT_EQ(huge.count(untouched), 15);
}

} // namespace
