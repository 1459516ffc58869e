// BMP: the bit-field masks inside v4/v5 headers, and files that lie about
// their extent. Everything else is checked against the corpus.
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/guarded_window.h"
#include "tests/support/test_support.h"

namespace {

// A BMP with a header of `header_size` bytes (12 = OS/2 core), then `gap`
// (palette or masks), then the pixel bytes.
std::vector<uint8_t> make_bmp(uint32_t header_size, int32_t width, int32_t height, uint32_t bits,
                              uint32_t compression, const std::vector<uint8_t>& gap,
                              const std::vector<uint8_t>& pixels)
{
    ByteBuilder f;
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
        ByteBuilder f;
        f.text("BM").u32(0).u32(0).u32(0).u32(header);
        f.u32(2).u32(1).u16(1).u16(16).u32(3).fill(20, 0);
        f.u32(0xF800).u32(0x07E0).u32(0x001F);
        f.fill(header + 14 - f.size(), 0);
        f.put32(10, uint32_t(f.size()));
        f.raw({0xE0, 0x07, 0x1F, 0x00});  // green and blue in 5-6-5
        GuardedWindow win(2, 1);
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
    GuardedWindow far(2, 2);
    EXPECT_EQ(far.decode(f), 0);
    EXPECT_EQ(far.count(TEST_CANARY), 4);

    // Truncated in the middle of the top row of a bottom-up file.
    std::vector<uint8_t> cut = make_bmp(40, 2, 2, 24, 0, {}, std::vector<uint8_t>(16, 0x40));
    cut.resize(cut.size() - 5);
    GuardedWindow part(2, 2);
    EXPECT_EQ(part.decode(cut), 0);
    EXPECT_EQ(part.at(0, 1), 0xFF404040u);
    EXPECT_EQ(part.at(1, 1), 0xFF404040u);
    EXPECT_EQ(part.at(0, 0), 0xFF404040u);
    EXPECT_EQ(part.at(1, 0), TEST_CANARY);

    // A palette gap of 300 entries: the first 256 are used.
    std::vector<uint8_t> gap(300 * 4, 0);
    gap[255 * 4] = 9;
    gap[256 * 4] = 77;
    GuardedWindow big(1, 1);
    EXPECT_EQ(big.decode(make_bmp(40, 1, 1, 8, 0, gap, {255, 0, 0, 0})), 0);
    EXPECT_EQ(big.at(0, 0), 0xFF000009u);
    EXPECT_EQ(palette_count, 256);

    // Top-down with the largest height: stride x row must not wrap.
    GuardedWindow huge(4, 4);
    EXPECT_EQ(huge.decode(make_bmp(40, 0x7FFFFFFF, int32_t(0x80000000), 32, 0, {}, {1, 2, 3, 0})), 0);
    EXPECT_EQ(huge.at(0, 0), 0xFF030201u);
    EXPECT_EQ(huge.count(TEST_CANARY), 15);
}

// A 2 x 1 32-bit BMP: a header of `header_size` bytes (40, 108 or 124), the
// three colour masks after a 40-byte header under BI_BITFIELDS, the alpha
// mask inside larger headers.
std::vector<uint8_t> bmp32(uint32_t header_size, uint32_t compression, uint32_t alpha_mask, bool top_down,
                           uint32_t first, uint32_t second)
{
    ByteBuilder f;
    f.text("BM").u32(0).u32(0).u32(0).u32(header_size);
    f.u32(2).u32(top_down ? uint32_t(-1) : 1u).u16(1).u16(32).u32(compression).fill(20, 0);
    if (header_size > 40 || compression == 3)
        f.u32(0xFF0000).u32(0xFF00).u32(0xFF);
    if (header_size > 40)
        f.u32(alpha_mask).fill(header_size + 14 - f.size(), 0);
    f.put32(10, uint32_t(f.size()));
    f.u32(first).u32(second);
    return f.b;
}

struct AlphaCase {
    const char* what;
    std::vector<uint8_t> file;
    uint32_t first, second;  // what we decode
    bool pillow_agrees;      // else Pillow reads the file as opaque RGB
};

#ifndef _WIN32
// Pillow 9 reads each file as "r g b a" per pixel (a = 255 for its RGB mode).
std::vector<std::string> pillow_pixels(const TempDir& dir, size_t count)
{
    std::string out;
    int rc = run_command("/usr/bin/python3 -c \"import sys\nfrom PIL import Image\n"
                         "for n in range(int(sys.argv[2])):\n"
                         "  im=Image.open(sys.argv[1]+'/%d.bmp'%n).convert('RGBA')\n"
                         "  print(' '.join('%d %d %d %d'%im.getpixel((x,0)) for x in range(2)))\" " +
                             dir.path() + " " + std::to_string(count) + " 2>&1",
                         &out);
    if (rc != 0)
        return {};
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string as_rgba(uint32_t p, bool opaque)
{
    char text[32];
    std::snprintf(text, sizeof text, "%u %u %u %u", p >> 16 & 0xFF, p >> 8 & 0xFF, p & 0xFF, opaque ? 255 : p >> 24);
    return text;
}

#endif

TEST(Bmp, ThirtyTwoBitAlphaAsWindowsWritesIt)
{
    const uint32_t a = 0x80112233, b = 0x00445566;
    const std::vector<AlphaCase> cases = {
        {"BI_RGB with alpha", bmp32(40, 0, 0, false, a, b), a, b, false},
        {"BI_RGB, all alpha bytes 0: opaque", bmp32(40, 0, 0, false, a & 0xFFFFFF, b), 0xFF112233, 0xFF445566, true},
        {"BI_BITFIELDS after a 40-byte header", bmp32(40, 3, 0, false, a, b), a, b, false},
        {"BI_BITFIELDS, all alpha bytes 0: opaque", bmp32(40, 3, 0, false, a & 0xFFFFFF, b), 0xFF112233, 0xFF445566,
         true},
        {"V4 with an alpha mask", bmp32(108, 3, 0xFF000000, false, a, b), a, b, true},
        {"V5 with an alpha mask", bmp32(124, 3, 0xFF000000, false, a, b), a, b, true},
        {"V5 top-down", bmp32(124, 3, 0xFF000000, true, a, b), a, b, true},
        {"V5, alpha 0 as the file says", bmp32(124, 3, 0xFF000000, false, a & 0xFFFFFF, b), a & 0xFFFFFF, b, true},
        {"V5 without an alpha mask: opaque", bmp32(124, 3, 0, false, a, b), 0xFF112233, 0xFF445566, true},
    };
    TempDir dir;
    for (size_t n = 0; n < cases.size(); ++n) {
        GuardedWindow win(2, 1);
        ASSERT_EQ(win.decode(cases[n].file), 0) << cases[n].what;
        EXPECT_EQ(win.at(0, 0), cases[n].first) << cases[n].what;
        EXPECT_EQ(win.at(1, 0), cases[n].second) << cases[n].what;
        write_file(dir.file(std::to_string(n) + ".bmp"), cases[n].file);
    }
#ifdef _WIN32
    GTEST_SKIP() << "the Pillow oracle is a Linux python3; the Linux suite compares with it";
#else
    std::vector<std::string> pillow = pillow_pixels(dir, cases.size());
    if (pillow.size() != cases.size())
        GTEST_SKIP() << "python3 with Pillow not found; the Pillow comparison is skipped";
    // Where Pillow differs, it reads the 40-byte header's top byte as padding.
    for (size_t n = 0; n < cases.size(); ++n) {
        bool opaque = !cases[n].pillow_agrees;
        EXPECT_EQ(pillow[n], as_rgba(cases[n].first, opaque) + " " + as_rgba(cases[n].second, opaque)) << cases[n].what;
    }
#endif
}

} // namespace
