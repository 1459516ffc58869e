// The PNG writer's bytes, and independent readers of what it writes.
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pngout/png_writer.h"
#include "tests/support/test_support.h"

namespace {

uint32_t be32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

int write_png(const std::string& path, int w, int h, uint32_t (*pixel)(int, int))
{
    if (png_begin(path.c_str(), w, h) != 0)
        return -1;
    int result = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            result |= png_put_pixel(pixel(x, y));
    return result;
}

} // namespace

TEST(PngWriter, OnePixelFileLayout)
{
    TempDir dir;
    ASSERT_EQ(write_png(dir.file("one.png"), 1, 1, [](int, int) { return 0x123456u; }), 0);
    std::vector<uint8_t> b = read_file(dir.file("one.png"));
    ASSERT_EQ(b.size(), 72u);
    EXPECT_EQ(be32(b, 33), 15u) << "IDAT length = file size - 57";
    const uint8_t head[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    EXPECT_TRUE(std::equal(head, head + 16, b.begin()));
    EXPECT_EQ(b[24], 8);
    EXPECT_EQ(b[25], 2);
    // zlib header, BFINAL stored block, LEN 4, NLEN, filter 0, then 12 34 56.
    const uint8_t idat[] = {0x78, 0x01, 1, 4, 0, 0xFB, 0xFF, 0, 0x12, 0x34, 0x56};
    EXPECT_TRUE(std::equal(idat, idat + sizeof idat, b.begin() + 41));
    const uint8_t iend[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    EXPECT_TRUE(std::equal(iend, iend + 12, b.end() - 12));
}

TEST(PngWriter, OneStoredBlockPerRowOnlyTheLastFinal)
{
    TempDir dir;
    ASSERT_EQ(write_png(dir.file("2x3.png"), 2, 3, [](int x, int y) { return uint32_t(x * 16 + y); }), 0);
    std::vector<uint8_t> b = read_file(dir.file("2x3.png"));
    ASSERT_EQ(b.size(), size_t(3 * 2 * 3 + 6 * 3 + 63));
    for (int row = 0; row < 3; ++row) {
        size_t at = 43 + size_t(row) * (3 * 2 + 6);
        EXPECT_EQ(b[at], row == 2 ? 1 : 0);
        EXPECT_EQ(b[at + 1] | b[at + 2] << 8, 7);
        EXPECT_EQ((b[at + 3] | b[at + 4] << 8), 0xFFFF ^ 7);
    }
}

// Pillow (Debian's python3-pil) reads the file back, CRCs and Adler-32 checked.
TEST(PngWriter, StandardReadersDecodeTheSamePixels)
{
#ifdef _WIN32
    GTEST_SKIP() << "the Pillow oracle is a Linux python3; the Linux suite runs this test";
#endif
    if (run_command("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0)
        GTEST_SKIP() << "Debian's python3-pil is not installed";
    TempDir dir;
    const int w = 37, h = 23;
    auto pixel = [](int x, int y) { return uint32_t((x * 7) << 16 | (y * 11) << 8 | ((x ^ y) * 5 & 0xFF)); };
    ASSERT_EQ(write_png(dir.file("p.png"), w, h, pixel), 0);
    std::string out;
    ASSERT_EQ(run_command("/usr/bin/python3 -c \"import sys,zlib; from PIL import Image; "
                          "im=Image.open(sys.argv[1]); im.load(); sys.stdout.write(im.mode+' '+str(im.size)+' '+"
                          "im.tobytes().hex())\" " + dir.file("p.png"), &out), 0);
    std::string expected = "RGB (37, 23) ";
    char hex[7];
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::snprintf(hex, sizeof hex, "%06x", pixel(x, y));
            expected += hex;
        }
    EXPECT_EQ(out, expected);
    // The widest row a stored block holds.
    ASSERT_EQ(write_png(dir.file("wide.png"), PNG_MAX_WIDTH, 1, [](int x, int) { return uint32_t(x); }), 0);
    out.clear();
    EXPECT_EQ(run_command("/usr/bin/python3 -c \"import sys; from PIL import Image; im=Image.open(sys.argv[1]); "
                          "im.load(); print(im.size[0])\" " + dir.file("wide.png"), &out), 0);
    EXPECT_EQ(out, "21844\n");
}

TEST(PngWriter, FailuresAreReportedAndNothingIsWritten)
{
    TempDir dir;
    EXPECT_EQ(png_begin((dir.path() + "/no/such/folder/x.png").c_str(), 4, 4), -1);
    EXPECT_EQ(png_put_pixel(0), -1) << "no file is being written";
    EXPECT_EQ(png_begin(dir.file("zero.png").c_str(), 0, 5), -1);
    EXPECT_EQ(png_begin(dir.file("wide.png").c_str(), PNG_MAX_WIDTH + 1, 1), -1);
    EXPECT_FALSE(file_exists(dir.file("zero.png")));
    EXPECT_FALSE(file_exists(dir.file("wide.png")));
    // A full disk: every write fails, and the last pixel says so.
    if (file_exists("/dev/full")) {
        ASSERT_EQ(png_begin("/dev/full", 2, 2), 0) << "the head stays in the stream's buffer";
        int r = 0;
        for (int i = 0; i < 4; ++i)
            r |= png_put_pixel(0);
        EXPECT_EQ(r, -1);
    }
}
