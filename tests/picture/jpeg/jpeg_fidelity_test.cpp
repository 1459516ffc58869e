// Fidelity against libjpeg-turbo: pictures made here, encoded with cjpeg in
// many modes, decoded by us and by `djpeg -nosmooth -dct int` (box chroma
// upsampling, like ours), compared pixel by pixel.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/picture/jpeg/jpeg_test_util.h"
#include "tests/support/test_support.h"

namespace {

#ifdef _WIN32
// cjpeg.exe and djpeg.exe of the Windows libjpeg build, on Wine's PATH (tools/test-windows).
bool have_libjpeg_tools() { return run_command("cjpeg -version >NUL 2>NUL && djpeg -version >NUL 2>NUL") == 0; }

#define REQUIRE_LIBJPEG_TOOLS()                                                                      \
    do {                                                                                             \
        if (!have_libjpeg_tools())                                                                   \
            GTEST_SKIP() << "cjpeg.exe/djpeg.exe not on the PATH (tools/build-windows-deps); test skipped"; \
    } while (0)
#else
bool have_libjpeg_tools()
{
    return run_command("command -v cjpeg >/dev/null 2>&1 && command -v djpeg >/dev/null 2>&1") == 0;
}

#define REQUIRE_LIBJPEG_TOOLS()                                                                    \
    do {                                                                                           \
        if (!have_libjpeg_tools())                                                                 \
            GTEST_SKIP() << "cjpeg/djpeg not found (Debian libjpeg-turbo-progs); test skipped";    \
    } while (0)
#endif

struct Encoding {
    int32_t width, height;
    const char* options;
    int quality;
};

// The fixed-point AAN transform truncates where libjpeg's rounds: over these
// synthetic pictures it stays within 3 levels of djpeg -dct int (PSNR about
// 49 dB for colour, 51 dB for grey). The bounds leave room for that and catch
// any real fault (a wrong constant, table or chroma position costs far more).
constexpr double kMinPsnr = 44.0;
constexpr int kMaxDiff = 12;

const Encoding kEncodings[] = {
    {1, 1, "", 75},
    {1, 1, "-progressive", 75},
    {2, 2, "-sample 1x1", 90},
    {7, 9, "", 75},
    {7, 9, "-sample 2x1", 50},
    {7, 9, "-grayscale", 75},
    {15, 17, "-sample 1x2", 75},
    {17, 17, "-progressive", 30},
    {17, 17, "-sample 2x2 -restart 1", 75},
    {33, 31, "-sample 1x1 -progressive", 95},
    {33, 31, "-restart 3B", 75},
    {48, 40, "-optimize", 60},
    {63, 65, "-grayscale -progressive", 80},
    {96, 96, "", 10},
    {96, 96, "", 100},
    {96, 96, "-sample 1x1", 100},
    {96, 96, "-progressive -restart 2", 85},
    {128, 128, "-sample 2x1 -optimize", 75},
    {250, 3, "-sample 1x2", 75},
    {3, 250, "-progressive", 75},
    {1000, 750, "", 75},
    {1000, 750, "-progressive", 75},
};

// Writes picture number `index` and encodes it; `tag` tells encodings of one picture apart.
std::string encode(const TempDir& dir, const Encoding& e, int index, const std::string& tag = "")
{
    const bool grey = std::string(e.options).find("-grayscale") != std::string::npos;
    const std::string src = dir.file("in" + std::to_string(index) + (grey ? ".pgm" : ".ppm"));
    write_file(src, make_pnm(e.width, e.height, grey, uint32_t(index + 1)));
    const std::string jpg = dir.file("out" + std::to_string(index) + tag + ".jpg");
    const std::string cmd = "cjpeg -quality " + std::to_string(e.quality) + " " + e.options + " " + src + " > " +
                            jpg + " 2>/dev/null";
    return run_command(cmd) == 0 ? jpg : "";
}

Rgb djpeg(const std::string& jpg)
{
    std::string out;
    run_command("djpeg -nosmooth -dct int " + jpg + " 2>/dev/null", &out);
    return read_pnm(std::vector<uint8_t>(out.begin(), out.end()));
}

TEST(JpegFidelity, MatchesDjpegAcrossModesSizesAndQualities)
{
    REQUIRE_LIBJPEG_TOOLS();
    TempDir dir;
    int index = 0;
    for (const Encoding& e : kEncodings) {
        SCOPED_TRACE(std::to_string(e.width) + "x" + std::to_string(e.height) + " " + e.options + " q" +
                     std::to_string(e.quality));
        const std::string jpg = encode(dir, e, index++);
        ASSERT_FALSE(jpg.empty()) << "cjpeg failed";
        const std::vector<uint8_t> bytes = read_file(jpg);
        const Decoded ours = decode_guarded(bytes);
        const Rgb ref = djpeg(jpg);
        ASSERT_EQ(ours.rc, 0);
        ASSERT_EQ(ours.width, ref.width);
        ASSERT_EQ(ours.height, ref.height);
        EXPECT_TRUE(ours.guard_intact);
        const Fidelity f = compare_rgb(ours, ref);
        std::printf("  %4dx%-4d q%-3d %-26s PSNR %6.2f dB  max diff %d\n", e.width, e.height, e.quality, e.options,
                    f.psnr, f.max_diff);
        EXPECT_GE(f.psnr, kMinPsnr);
        EXPECT_LE(f.max_diff, kMaxDiff);
    }
}

// Progressive and sequential codings of one picture carry the same
// coefficients, so they must decode to identical pixels.
TEST(JpegFidelity, ProgressiveAndSequentialDecodeAlike)
{
    REQUIRE_LIBJPEG_TOOLS();
    TempDir dir;
    const char* samplings[] = {"-sample 2x2", "-sample 1x1", "-sample 2x1", "-grayscale"};
    int index = 0;
    for (const char* sampling : samplings) {
        const Encoding seq = {77, 45, sampling, 80};
        const std::string opts = std::string(sampling) + " -progressive";
        const Encoding prog = {77, 45, opts.c_str(), 80};
        const std::string seq_jpg = encode(dir, seq, index, "s");
        const std::string prog_jpg = encode(dir, prog, index, "p");
        ASSERT_FALSE(seq_jpg.empty() || prog_jpg.empty());
        const Decoded ds = decode_guarded(read_file(seq_jpg));
        const Decoded dp = decode_guarded(read_file(prog_jpg));
        ASSERT_EQ(ds.rc, 0);
        ASSERT_EQ(dp.rc, 0);
        EXPECT_EQ(ds.pixels, dp.pixels) << sampling;
        ++index;
    }
}

// A reduced decode gives the means of the full decode's 2 x 2, 4 x 4 or
// 8 x 8 blocks, worked out before the transform: in every layout and coding
// they differ from the means of the decoded pixels only by rounding.
TEST(JpegFidelity, ReducedDecodesAreTheMeansOfTheFullDecode)
{
    REQUIRE_LIBJPEG_TOOLS();
    TempDir dir;
    int index = 0;
    for (const Encoding& e : kEncodings) {
        const std::string jpg = encode(dir, e, index++);
        ASSERT_FALSE(jpg.empty()) << "cjpeg failed";
        const std::vector<uint8_t> bytes = read_file(jpg);
        for (int32_t scale = 1; scale <= 3; ++scale) {
            SCOPED_TRACE(std::to_string(e.width) + "x" + std::to_string(e.height) + " " + e.options + " 1/" +
                         std::to_string(1 << scale));
            const ReducedComparison r = compare_reduced(bytes, scale);
            ASSERT_EQ(r.rc, 0);
            EXPECT_TRUE(r.guard_intact);
            EXPECT_TRUE(r.opaque);
            if (r.samples > 0) {
                EXPECT_GE(r.psnr, 45.0);
            }
        }
    }
}

TEST(JpegFidelity, ReductionIsForPictureColoursOnly)
{
    uint32_t pixel = 0;
    static const uint8_t soi_only[] = {0xFF, 0xD8, 0xFF, 0xD9};
    EXPECT_EQ(jpeg_decode(soi_only, 4, reinterpret_cast<uint8_t*>(&pixel), 4, 1, 1, 0, 0,
                          JpegOptions{bgr_block_output, 1}),
              -1);
    EXPECT_EQ(jpeg_decode(soi_only, 4, reinterpret_cast<uint8_t*>(&pixel), 4, 1, 1, 0, 0,
                          JpegOptions{ycbcr_block_output, 4}),
              -1);
    EXPECT_EQ(jpeg_decode(soi_only, 4, reinterpret_cast<uint8_t*>(&pixel), 4, 1, 1, 0, 0,
                          JpegOptions{ycbcr_block_output, 3}),
              0);
}

}  // namespace
