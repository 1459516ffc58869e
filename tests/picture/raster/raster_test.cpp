// TGA, PCX and CEL files shorter than their headers say, and colour maps
// that point outside the file. Orientation, packets and palettes are checked
// against the corpus in conformance_test.cpp.
#include <vector>

#include "picture/formats.h"
#include "tests/support/bytes.h"
#include "tests/support/guarded_window.h"
#include "tests/support/test_support.h"

namespace {

ByteBuilder tga_header(uint32_t image_type, uint32_t depth, uint32_t descriptor, uint32_t width, uint32_t height,
                 uint32_t map_type = 0, uint32_t map_first = 0, uint32_t map_length = 0, uint32_t map_bits = 0)
{
    ByteBuilder f;
    f.u8(0).u8(map_type).u8(image_type).u16(map_first).u16(map_length).u8(map_bits);
    f.u16(0).u16(0).u16(width).u16(height).u8(depth).u8(descriptor);
    return f;
}




TEST(Tga, ColourMaps)
{
    // First index 16, three 24-bit entries; index 20 lies beyond the map.
    ByteBuilder f = tga_header(1, 8, 0x20, 3, 1, 1, 16, 3, 24);
    f.raw({1, 2, 3, 4, 5, 6, 7, 8, 9});
    f.raw({17, 20, 16});
    GuardedWindow win(3, 1);
    ASSERT_EQ(win.decode(f.b), 0);
    EXPECT_EQ(win.at(0, 0), 0xFF060504u);
    EXPECT_EQ(win.at(1, 0), 0xFF000000u);
    EXPECT_EQ(win.at(2, 0), 0xFF030201u);

    // A map that runs past the end of the file: its missing entries and the
    // missing pixels are not read.
    ByteBuilder cut = tga_header(1, 8, 0x20, 2, 1, 1, 0, 200, 24);
    cut.raw({1, 2, 3, 4});
    GuardedWindow part(2, 1);
    EXPECT_EQ(part.decode(cut.b), 0);
    EXPECT_EQ(part.count(TEST_CANARY), 2);

    // Map entries of 0 bytes cannot be converted.
    ByteBuilder zero = tga_header(1, 8, 0x20, 1, 1, 1, 0, 1, 0);
    zero.raw({0, 0});
    GuardedWindow none(1, 1);
    EXPECT_EQ(none.decode(zero.b), -1);
    EXPECT_EQ(none.at(0, 0), TEST_CANARY);
}

TEST(Tga, ZeroWidthAndTruncatedData)
{
    // The entry lets a zero width through to the decoder, which rejects it.
    GuardedWindow win(2, 2);
    ByteBuilder zero = tga_header(2, 24, 0, 0, 1);
    zero.fill(4, 0);
    EXPECT_EQ(tga_decode(ByteView{zero.b.data(), zero.size()}, win.output()), -1);
    EXPECT_EQ(win.count(TEST_CANARY), 4);

    // A run whose pixel is cut off, and raw data cut mid-picture.
    ByteBuilder rle = tga_header(10, 24, 0x20, 2, 2);
    rle.raw({0x01, 1, 2, 3, 4, 5, 6, 0x81, 7});
    EXPECT_EQ(win.decode(rle.b), 0);
    EXPECT_EQ(win.at(1, 0), 0xFF060504u);
    EXPECT_EQ(win.at(0, 1), TEST_CANARY);
    ByteBuilder raw = tga_header(2, 24, 0x20, 2, 2);
    raw.raw({1, 2, 3, 4});
    GuardedWindow part(2, 2);
    EXPECT_EQ(part.decode(raw.b), 0);
    EXPECT_EQ(part.at(0, 0), 0xFF030201u);
    EXPECT_EQ(part.count(TEST_CANARY), 3);
}

ByteBuilder pcx_header(int16_t xmax, int16_t ymax, uint32_t planes, int16_t bytes_per_line)
{
    ByteBuilder f;
    f.raw({0x0A, 0x05, 0x01, 0x08}).u16(0).u16(0).u16(uint16_t(xmax)).u16(uint16_t(ymax));
    f.fill(65 - f.size(), 0);
    f.u8(planes).u16(uint16_t(bytes_per_line));
    f.fill(128 - f.size(), 0);
    return f;
}




TEST(Pcx, OtherPlaneCountsShortFilesAndBadSizes)
{
    ByteBuilder two = pcx_header(1, 0, 2, 2);
    two.fill(800, 0);
    GuardedWindow win(2, 1);
    EXPECT_EQ(win.decode(two.b), 0);
    EXPECT_EQ(win.count(TEST_CANARY), 2);

    // One plane but no room for a 768-byte palette.
    ByteBuilder small = pcx_header(1, 0, 1, 2);
    small.raw({1, 2});
    EXPECT_EQ(win.decode(small.b), -1);
    EXPECT_EQ(win.count(TEST_CANARY), 2);

    ByteBuilder inverted = pcx_header(-1, 0, 1, 2);
    inverted.fill(800, 0);
    EXPECT_EQ(win.decode(inverted.b), -1);

    // Data that ends early leaves the rest untouched.
    ByteBuilder early = pcx_header(1, 1, 3, 2);
    early.raw({1, 2, 3});
    GuardedWindow part(2, 2);
    EXPECT_EQ(part.decode(early.b), 0);
    EXPECT_EQ(part.at(0, 0) & 0xFFFF0000u, 0xFF010000u);
    EXPECT_EQ(part.at(0, 1), 0xFF000000u | (TEST_CANARY & 0xFFFFFFu));  // only made opaque
}

ByteBuilder cel_file(uint32_t width, uint32_t height)
{
    ByteBuilder f;
    f.raw({0x19, 0x91}).u16(width).u16(height).u16(0).u16(0).u8(8).u8(0);
    f.fill(32 - f.size(), 0);
    return f;
}


TEST(Cel, TruncatedAndEmpty)
{
    // Cut inside the palette: no pixels; entries read as far as present.
    ByteBuilder f = cel_file(2, 2);
    f.fill(100, 20);
    GuardedWindow win(2, 2);
    EXPECT_EQ(win.decode(f.b), 0);
    EXPECT_EQ(win.count(TEST_CANARY), 4);
    EXPECT_EQ(palette_count, 33);
    EXPECT_EQ(decoder_palette[40], 0xFF000000u);

    // Cut inside the pixels.
    ByteBuilder g = cel_file(2, 2);
    g.fill(768, 0).raw({0, 0, 0});
    GuardedWindow part(2, 2);
    EXPECT_EQ(part.decode(g.b), 0);
    EXPECT_EQ(part.count(0xFF000000u), 3);
    EXPECT_EQ(part.at(1, 1), TEST_CANARY);

    ByteBuilder zero = cel_file(0, 5);
    zero.fill(768, 0);
    EXPECT_EQ(part.decode(zero.b), -1);
}

} // namespace
