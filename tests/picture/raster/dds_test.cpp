// DDS: our exact DXT arithmetic (no bit replication, multiply-shift
// interpolation, reciprocal un-premultiply), format selection and short files.
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/guarded_window.h"
#include "tests/support/test_support.h"

namespace {

ByteBuilder dds_header(uint32_t width, uint32_t height, const char* fourcc)
{
    ByteBuilder f;
    f.text("DDS ").u32(124).u32(0).u32(height).u32(width);
    f.fill(80 - f.size(), 0);
    if (fourcc) {
        f.u32(0x4).text(fourcc).u32(0).u32(0).u32(0).u32(0).u32(0);
    } else {
        f.u32(0x41).u32(0).u32(32).u32(0x00FF0000).u32(0x0000FF00).u32(0x000000FF).u32(0xFF000000);
    }
    f.fill(128 - f.size(), 0);
    return f;
}

TEST(Dds, Dxt1ThreeAndFourColourBlocks)
{
    ByteBuilder f = dds_header(8, 4, "DXT1");
    // Block 1: c0 = c1 = 0xFFFF, three-colour mode, indices 0 1 2 3 in row 0.
    f.u16(0xFFFF).u16(0xFFFF).u32(0xE4);
    // Block 2: c0 = 0xF800 > c1 = 0x001F, indices 2 3 in row 0.
    f.u16(0xF800).u16(0x001F).u32(0x0E);
    GuardedWindow win(8, 4);
    ASSERT_EQ(win.decode(f.b), 0);
    EXPECT_EQ(win.at(0, 0), 0xFFF8FCF8u);
    EXPECT_EQ(win.at(1, 0), 0xFFF8FCF8u);
    EXPECT_EQ(win.at(2, 0), 0xFFF8FCF8u);
    EXPECT_EQ(win.at(3, 0), 0x00000000u);
    EXPECT_EQ(win.at(4, 0), 0xFFA50052u);
    EXPECT_EQ(win.at(5, 0), 0xFF5200A5u);
    EXPECT_EQ(win.at(6, 0), 0xFFF80000u);
    EXPECT_EQ(win.at(4, 3), 0xFFF80000u);
}

// Alpha of each pixel of a one-block DXT5 surface with indices 0..7 in row 0-1.
std::vector<uint32_t> dxt5_alphas(uint8_t a0, uint8_t a1)
{
    ByteBuilder f = dds_header(4, 4, "DXT5");
    // 3-bit indices 0,1,...,7 for pixels 0-7: 0xFAC688 little-endian.
    f.u8(a0).u8(a1).raw({0x88, 0xC6, 0xFA, 0, 0, 0});
    f.u16(0).u16(0).u32(0);
    GuardedWindow win(4, 4);
    EXPECT_EQ(win.decode(f.b), 0);
    std::vector<uint32_t> alphas;
    for (int i = 0; i < 8; ++i)
        alphas.push_back(win.at(i % 4, i / 4) >> 24);
    return alphas;
}

TEST(Dds, Dxt5AlphaTables)
{
    EXPECT_EQ(dxt5_alphas(255, 0), (std::vector<uint32_t>{255, 0, 218, 182, 146, 109, 73, 36}));
    EXPECT_EQ(dxt5_alphas(0, 255), (std::vector<uint32_t>{0, 255, 51, 102, 153, 204, 0, 255}));
}

TEST(Dds, Dxt3NibblesAndDxt2Unpremultiply)
{
    ByteBuilder f = dds_header(4, 4, "DXT3");
    f.raw({0xF0, 0, 0, 0, 0, 0, 0, 0});
    f.u16(0xFFFF).u16(0).u32(0);
    GuardedWindow win(4, 4);
    ASSERT_EQ(win.decode(f.b), 0);
    EXPECT_EQ(win.at(0, 0) >> 24, 0u);
    EXPECT_EQ(win.at(1, 0) >> 24, 255u);

    // Premultiplied: DXT4 with a0 = a1 = 128 gives alpha 128 exactly, and
    // c0 = 0x4208 gives R, G and B of 64.
    ByteBuilder p = dds_header(4, 4, "DXT4");
    p.u8(128).u8(128).fill(6, 0);
    p.u16(0x4208).u16(0x4208).u32(0);
    GuardedWindow pre(4, 4);
    ASSERT_EQ(pre.decode(p.b), 0);
    EXPECT_EQ(pre.at(0, 0), 0x807F7F7Fu);  // min(255, 64 x 130560 >> 16) = 127

    // DXT2 with alpha 0: T[0] = 65536 keeps the colour.
    ByteBuilder z = dds_header(4, 4, "DXT2");
    z.fill(8, 0).u16(0x4208).u16(0x4208).u32(0);
    GuardedWindow zero(4, 4);
    ASSERT_EQ(zero.decode(z.b), 0);
    EXPECT_EQ(zero.at(3, 3), 0x00404040u);
}

TEST(Dds, EdgeBlocksAndBlockRows)
{
    // 6 x 6: two blocks per block row; block (1, 1) is the fourth.
    ByteBuilder f = dds_header(6, 6, "DXT1");
    for (uint32_t c : {0x001Fu, 0x07E0u, 0xF800u, 0xFFFFu})
        f.u16(c).u16(0).u32(0);
    GuardedWindow win(8, 8);
    ASSERT_EQ(win.decode(f.b), 0);
    EXPECT_EQ(win.at(0, 0), 0xFF0000F8u);
    EXPECT_EQ(win.at(5, 0), 0xFF00FC00u);
    EXPECT_EQ(win.at(0, 5), 0xFFF80000u);
    // Edge-block pixels beyond the picture's size are written inside the clip.
    EXPECT_EQ(win.at(7, 7), 0xFFF8FCF8u);
}


TEST(Dds, ShorterThanTheHeaderSays)
{
    // 8 x 8 DXT1 needs 4 blocks; only one and a half are present.
    ByteBuilder f = dds_header(8, 8, "DXT1");
    f.u16(0xFFFF).u16(0xFFFF).u32(0);
    f.u16(0xFFFF).u16(0xFFFF);
    GuardedWindow win(8, 8);
    EXPECT_EQ(win.decode(f.b), 0);
    EXPECT_EQ(win.count(TEST_CANARY), 48);

    // A header cut short is rejected; a 1 x 16777217 surface ends with its data.
    ByteBuilder h = dds_header(4, 4, "DXT1");
    h.b.resize(100);
    EXPECT_EQ(win.decode(h.b), -1);
    ByteBuilder tall = dds_header(1, 16777217, nullptr);
    tall.u32(0xFF010203);
    GuardedWindow column(1, 4);
    EXPECT_EQ(column.decode(tall.b), 0);
    EXPECT_EQ(column.at(0, 0), 0xFF010203u);
    EXPECT_EQ(column.count(TEST_CANARY), 3);
}

} // namespace
