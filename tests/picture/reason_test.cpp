// failure_last().reason: why the last decode or probe failed, one row per cause.
#include <cstring>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/guarded_window.h"
#include "tests/support/test_support.h"

namespace {

struct ReasonCase {
    const char* what;
    std::vector<uint8_t> file;
    const char* reason;
};

std::vector<uint8_t> bmp_header(uint16_t planes, uint16_t bits, uint32_t compression)
{
    ByteBuilder f;
    f.text("BM").u32(0).u32(0).u32(54).u32(40);
    f.u32(1).u32(1).u16(planes).u16(bits).u32(compression).fill(20, 0).fill(4, 0);
    return f.b;
}

std::vector<uint8_t> tga_header(uint8_t colour_map, uint8_t type, uint8_t depth, uint8_t descriptor)
{
    ByteBuilder f;
    f.u8(0).u8(colour_map).u8(type).u16(0).u16(1).u8(40).u16(0).u16(0).u16(1).u16(1).u8(depth).u8(descriptor);
    f.fill(8, 0);
    return f.b;
}

// A PNG of an IHDR (width x 2, grey, the given depth) and optionally one
// IDAT; chunk CRCs are not checked, so they are left 0.
std::vector<uint8_t> tiny_png(uint8_t width, uint8_t depth, const std::vector<uint8_t>& idat)
{
    std::vector<uint8_t> f = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                              0,    0,   0,   width, 0, 0, 0, 2, depth, 0, 0, 0, 0, 0, 0, 0, 0};
    if (!idat.empty()) {
        f.insert(f.end(), {0, 0, 0, uint8_t(idat.size()), 'I', 'D', 'A', 'T'});
        f.insert(f.end(), idat.begin(), idat.end());
        f.insert(f.end(), 4, 0);
    }
    f.insert(f.end(), {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0, 0, 0, 0});
    return f;
}

// zlib header, one final stored block of rows (filter byte + 2 grey pixels each).
const std::vector<uint8_t> two_rows = {0x78, 0x01, 0x01, 0x06, 0x00, 0xF9, 0xFF, 0, 0x00, 0x80, 0, 0x40, 0xFF};

TEST(PictureError, SaysWhyADecodeFailed)
{
    std::vector<uint8_t> png_16bit = tiny_png(2, 16, two_rows);
    std::vector<uint8_t> png_no_idat = tiny_png(2, 8, {});
    std::vector<uint8_t> png_cut = tiny_png(2, 8, std::vector<uint8_t>(two_rows.begin(), two_rows.begin() + 9));
    std::vector<ReasonCase> cases = {
        {"unknown bytes", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}, "unknown format"},
        {"PNG signature cut", {0x89, 0x50, 0x4E, 0x47}, "not a PNG signature"},
        {"PNG depth 16", png_16bit, "unsupported bit depth 16"},
        {"PNG without image data", png_no_idat, "no image data"},
        {"PNG cut in its first row", png_cut, "truncated before the first row"},
        {"BMP depth 2", bmp_header(1, 2, 0), "unsupported bit depth 2"},
        {"BMP two planes", bmp_header(2, 24, 0), "plane count 2, not 1"},
        {"BMP run-length", bmp_header(1, 8, 1), "unsupported compression 1"},
        {"BMP header cut", {'B', 'M', 0, 0, 0, 0}, "truncated header"},
        {"TGA colour-map entries of 5 bytes", tga_header(1, 1, 8, 0), "unsupported colour-map entry size 40"},
        {"GIF header cut", {'G', 'I', 'F', '8', '9', 'a', 1, 0}, "truncated header"},
        {"GIF stray block", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B}, "unknown block 0x3B"},
        {"JPEG scan before a frame", {0xFF, 0xD8, 0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0, 0, 0},
         "not a JPEG the decoder handles"},
    };
    for (const ReasonCase& c : cases) {
        fail("stale");
        GuardedWindow win(4, 4);
        EXPECT_EQ(-1, win.decode(c.file)) << c.what;
        EXPECT_STREQ(c.reason, failure_last().reason) << c.what;
    }

    // A success clears what the last failure left.
    std::vector<uint8_t> good = tiny_png(2, 8, two_rows);
    GuardedWindow win(2, 2);
    ASSERT_EQ(0, win.decode(good));
    EXPECT_STREQ("", failure_last().reason);
}

TEST(PictureError, SaysWhyAProbeFoundNoSize)
{
    int32_t w, h;
    std::vector<uint8_t> short_file(15, 0);
    picture_probe(short_file.data(), 15, &w, &h);
    EXPECT_STREQ("too short to hold a picture header", failure_last().reason);
    std::vector<uint8_t> unknown(20, 0);
    picture_probe(unknown.data(), 20, &w, &h);
    EXPECT_STREQ("unknown format", failure_last().reason);
    std::vector<uint8_t> bmp = bmp_header(2, 24, 0);
    picture_probe(bmp.data(), int32_t(bmp.size()), &w, &h);
    EXPECT_STREQ("no picture size in the bmp header", failure_last().reason);
    std::vector<uint8_t> good = tiny_png(2, 8, two_rows);
    picture_probe(good.data(), int32_t(good.size()), &w, &h);
    EXPECT_EQ(2, w);
    EXPECT_STREQ("", failure_last().reason);
}

} // namespace
