// The decoder's own rules: header checks and data-model limits, mode choice,
// the output window, the block outputs, the transform and the tables.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "picture/jpeg/jpeg_internal.h"
#include "tests/picture/jpeg/jpeg_test_util.h"
#include "tests/support/test_support.h"

namespace {

#ifdef _WIN32
// cjpeg.exe of the Windows libjpeg build, on Wine's PATH (tools/test-windows).
bool have_cjpeg() { return run_command("cjpeg -version >NUL 2>NUL") == 0; }
#define REQUIRE_CJPEG()                                                                          \
    do {                                                                                         \
        if (!have_cjpeg())                                                                       \
            GTEST_SKIP() << "cjpeg.exe not on the PATH (tools/build-windows-deps); test skipped"; \
    } while (0)
#else
bool have_cjpeg() { return run_command("command -v cjpeg >/dev/null 2>&1") == 0; }

#define REQUIRE_CJPEG()                                                                          \
    do {                                                                                         \
        if (!have_cjpeg())                                                                       \
            GTEST_SKIP() << "cjpeg not found (Debian libjpeg-turbo-progs); test skipped";        \
    } while (0)
#endif

// Encodes a synthetic picture with cjpeg; `scans` is an optional scan script.
std::vector<uint8_t> cjpeg(int32_t w, int32_t h, const std::string& options, const std::string& scans = "")
{
    TempDir dir;
    const bool grey = options.find("-grayscale") != std::string::npos;
    const std::string src = dir.file(grey ? "in.pgm" : "in.ppm");
    write_file(src, make_pnm(w, h, grey, 3));
    std::string opts = options;
    if (!scans.empty()) {
        write_file(dir.file("scans.txt"), std::vector<uint8_t>(scans.begin(), scans.end()));
        opts += " -scans " + dir.file("scans.txt");
    }
    if (run_command("cjpeg " + opts + " " + src + " > " + dir.file("out.jpg") + " 2>/dev/null") != 0)
        return {};
    return read_file(dir.file("out.jpg"));
}

// Offset of the first marker FF `code` after SOI, or 0.
size_t find_marker(const std::vector<uint8_t>& j, uint8_t code)
{
    size_t pos = 2;
    while (pos + 4 <= j.size()) {
        if (j[pos] != 0xFF)
            return 0;
        if (j[pos + 1] == code)
            return pos;
        if (j[pos + 1] == 0xDA)
            return 0;
        pos += 2 + (size_t(j[pos + 2]) << 8 | j[pos + 3]);
    }
    return 0;
}

int decode_into(const std::vector<uint8_t>& j, std::vector<uint32_t>& buf, int32_t stride, int32_t clip_w,
                int32_t clip_h, int32_t x_off, int32_t y_off)
{
    return picture_decode(j.data(), int32_t(j.size()), reinterpret_cast<uint8_t*>(buf.data()), stride * 4, clip_w,
                          clip_h, x_off, y_off);
}

TEST(JpegHeaders, RejectsWhatTheDecoderCannotHold)
{
    REQUIRE_CJPEG();
    const std::vector<uint8_t> base = cjpeg(24, 16, "-sample 2x2");
    ASSERT_FALSE(base.empty());
    const size_t sof = find_marker(base, 0xC0), dht = find_marker(base, 0xC4), dqt = find_marker(base, 0xDB);
    size_t sos = 0;
    for (size_t i = 2; i + 1 < base.size(); ++i)
        if (base[i] == 0xFF && base[i + 1] == 0xDA) {
            sos = i;
            break;
        }
    ASSERT_TRUE(sof && dht && dqt && sos);
    ASSERT_EQ(decode_guarded(base).rc, 0);

    struct Edit {
        const char* what;
        size_t offset;
        uint8_t value;
    };
    const Edit edits[] = {
        {"12-bit samples", sof + 4, 12},
        {"height 0", sof + 6, 0},
        {"sampling factor 3", sof + 11, 0x31},
        {"sampling factor 0", sof + 11, 0x02},
        {"16-block MCU", sof + 11, 0x44},
        {"quantisation table 4 in the frame", sof + 12, 4},
        {"quantisation table 4 defined", dqt + 4, 4},
        {"Huffman table 4", dht + 4, 0x04},
        {"Huffman table class 2", dht + 4, 0x20},
        {"AC table 4", dht + 4, 0x14},
        {"more than 256 symbols", dht + 5 + 15, 255},
        {"over-full fast table", dht + 5, 3},
        {"scan DC table 4", sos + 6, 0x40},
        {"scan AC table 4", sos + 6, 0x04},
        {"selector matching no component", sos + 5, 9},
        {"no scan components", sos + 4, 0},
        {"five scan components", sos + 4, 5},
        {"band end 64", sos + 12, 64},
        {"arithmetic frame", sof + 1, 0xC9},
        {"lossless frame", sof + 1, 0xC3},
        {"no SOI", 1, 0xD9},
    };
    for (const Edit& e : edits) {
        std::vector<uint8_t> j = base;
        j[e.offset] = e.value;
        const Decoded d = decode_guarded(j);
        EXPECT_EQ(d.rc, -1) << e.what;
        EXPECT_TRUE(d.guard_intact) << e.what;
    }
    // Five frame components need a longer frame header.
    std::vector<uint8_t> five(base.begin(), base.begin() + long(sof));
    const uint8_t sof5[] = {0xFF, 0xC0, 0, 23, 8, 0, 16, 0, 24, 5, 1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0, 4, 0x11, 0, 5, 0x11, 0};
    five.insert(five.end(), sof5, sof5 + sizeof sof5);
    five.insert(five.end(), base.begin() + long(sof + 2 + 17), base.end());
    EXPECT_EQ(decode_guarded(five).rc, -1) << "five frame components";
}

TEST(JpegHeaders, InputWithoutScanDrawsNothing)
{
    REQUIRE_CJPEG();
    const std::vector<uint8_t> base = cjpeg(16, 16, "");
    size_t sos = 0;
    for (size_t i = 2; i + 1 < base.size(); ++i)
        if (base[i] == 0xFF && base[i + 1] == 0xDA) {
            sos = i;
            break;
        }
    std::vector<uint8_t> j(base.begin(), base.begin() + long(sos));
    j.push_back(0xFF);
    j.push_back(0xD9);
    std::vector<uint32_t> buf(16 * 16, TEST_CANARY);
    EXPECT_EQ(decode_into(j, buf, 16, 16, 16, 0, 0), 0);
    EXPECT_EQ(buf, std::vector<uint32_t>(16 * 16, TEST_CANARY));

    // Cut inside the scan: direct mode still returns 0 and keeps inside the window.
    for (size_t cut = sos + 2; cut < base.size(); cut += 37) {
        std::vector<uint8_t> t(base.begin(), base.begin() + long(cut));
        const Decoded d = decode_guarded(t);
        EXPECT_EQ(d.rc, 0) << cut;
        EXPECT_TRUE(d.guard_intact) << cut;
    }
}

// One scan per component in a sequential frame: every scan is gathered and
// the picture comes out in colour, like its interleaved coding.
TEST(JpegModes, NonInterleavedSequentialIsShownInColour)
{
    REQUIRE_CJPEG();
    const std::vector<uint8_t> interleaved = cjpeg(40, 24, "-sample 2x2");
    const std::vector<uint8_t> separate = cjpeg(40, 24, "-sample 2x2", "0;\n1;\n2;\n");
    ASSERT_FALSE(interleaved.empty() || separate.empty());
    ASSERT_EQ(separate[find_marker(separate, 0xC0) + 1], 0xC0);
    const Decoded a = decode_guarded(interleaved), b = decode_guarded(separate);
    ASSERT_EQ(b.rc, 0);
    EXPECT_EQ(a.pixels, b.pixels);
    bool coloured = false;
    for (uint32_t p : b.pixels)
        coloured = coloured || (p >> 16 & 255) != (p & 255);
    EXPECT_TRUE(coloured);
}

// The picture without the segments of one marker code before its scan.
std::vector<uint8_t> without_segments(const std::vector<uint8_t>& full, uint8_t code)
{
    std::vector<uint8_t> stripped;
    for (size_t pos = 0; pos < full.size();) {
        if (pos >= 2 && full[pos] == 0xFF && full[pos + 1] == code) {
            pos += 2 + (size_t(full[pos + 2]) << 8 | full[pos + 3]);
            continue;
        }
        if (pos >= 2 && full[pos] == 0xFF && full[pos + 1] == 0xDA) {
            stripped.insert(stripped.end(), full.begin() + long(pos), full.end());
            break;
        }
        size_t len = pos == 0 ? 2 : 2 + (size_t(full[pos + 2]) << 8 | full[pos + 3]);
        stripped.insert(stripped.end(), full.begin() + long(pos), full.begin() + long(pos + len));
        pos += len;
    }
    return stripped;
}

// Tables stay built from one picture to the next (identical segments are not
// rebuilt), but a picture uses only those it defines; missing Huffman tables
// 0 and 1 are the Annex K ones, which Motion-JPEG frames leave out. So every
// picture decodes the same after any other.
TEST(JpegTables, APictureDecodesTheSameAfterAnyOther)
{
    REQUIRE_CJPEG();
    const std::vector<uint8_t> standard = cjpeg(32, 24, "");
    const std::vector<uint8_t> optimised = cjpeg(40, 24, "-optimize -quality 95");
    const std::vector<std::vector<uint8_t>> pictures = {
        standard,
        without_segments(standard, 0xC4),
        optimised,
        without_segments(optimised, 0xDB),  // no quantisation table: every sample mid grey
        cjpeg(24, 40, "-quality 30 -sample 1x1 -optimize"),
        cjpeg(33, 20, "-progressive"),
        cjpeg(16, 16, "-grayscale -optimize -restart 1"),
    };
    ASSERT_EQ(find_marker(pictures[1], 0xC4), 0u);
    std::vector<Decoded> alone;
    for (const std::vector<uint8_t>& p : pictures) {
        decode_guarded(p);
        alone.push_back(decode_guarded(p));
        ASSERT_EQ(alone.back().rc, 0);
    }
    EXPECT_EQ(alone[1].pixels, alone[0].pixels);
    for (uint32_t p : alone[3].pixels)
        ASSERT_EQ(p, 0xFF808080u);
    for (size_t a = 0; a < pictures.size(); ++a)
        for (size_t b = 0; b < pictures.size(); ++b) {
            decode_guarded(pictures[a]);
            EXPECT_EQ(decode_guarded(pictures[b]).pixels, alone[b].pixels) << b << " after " << a;
        }
}

// A frame header met after the first scan of a progressive picture cannot
// change the layout of the coefficients gathered so far: it is passed over.
TEST(JpegModes, LaterFrameHeaderDoesNotChangeAProgressivePicture)
{
    REQUIRE_CJPEG();
    const std::vector<uint8_t> j = cjpeg(40, 32, "-progressive");
    std::vector<size_t> scans;
    for (size_t i = 2; i + 1 < j.size(); ++i)
        if (j[i] == 0xFF && j[i + 1] == 0xDA)
            scans.push_back(i);
    ASSERT_GE(scans.size(), 2u);
    const uint8_t other_frame[] = {0xFF, 0xC2, 0, 11, 8, 0x10, 0x00, 0x10, 0x00, 1, 1, 0x44, 0};
    std::vector<uint8_t> k(j.begin(), j.begin() + long(scans[1]));
    k.insert(k.end(), other_frame, other_frame + sizeof other_frame);
    k.insert(k.end(), j.begin() + long(scans[1]), j.end());
    const Decoded a = decode_guarded(j);
    std::vector<uint32_t> buf(40 * 32, TEST_CANARY);
    ASSERT_EQ(decode_into(k, buf, 40, 40, 32, 0, 0), 0);
    EXPECT_EQ(buf, a.pixels);
}

TEST(JpegWindow, ClipOffsetsAndNegativePitch)
{
    REQUIRE_CJPEG();
    for (const char* mode : {"-sample 2x2", "-progressive -sample 2x1", "-grayscale"}) {
        SCOPED_TRACE(mode);
        const int32_t W = 33, H = 31;
        const std::vector<uint8_t> j = cjpeg(W, H, mode);
        const Decoded full = decode_guarded(j);
        ASSERT_EQ(full.rc, 0);
        for (uint32_t p : full.pixels)
            ASSERT_EQ(p >> 24, 0xFFu);

        // A window wider than the picture, picture placed at (5, 3), clipped at 30 x 20.
        const int32_t S = 48, CW = 30, CH = 20, X = 5, Y = 3;
        std::vector<uint32_t> buf(size_t(S) * 40, TEST_CANARY);
        ASSERT_EQ(decode_into(j, buf, S, CW, CH, X, Y), 0);
        for (int32_t r = 0; r < 40; ++r)
            for (int32_t c = 0; c < S; ++c) {
                const bool inside = c >= X && c < CW && r >= Y && r < CH;
                const uint32_t want = inside ? full.pixels[size_t(r - Y) * W + (c - X)] : TEST_CANARY;
                ASSERT_EQ(buf[size_t(r) * S + c], want) << r << "," << c;
            }

        // Negative pitch: the destination is the last row; rows go upwards.
        std::vector<uint32_t> up(size_t(W) * H, TEST_CANARY);
        ASSERT_EQ(picture_decode(j.data(), int32_t(j.size()), reinterpret_cast<uint8_t*>(up.data() + size_t(H - 1) * W),
                                 -W * 4, W, H, 0, 0),
                  0);
        for (int32_t r = 0; r < H; ++r)
            for (int32_t c = 0; c < W; ++c)
                ASSERT_EQ(up[size_t(H - 1 - r) * W + c], full.pixels[size_t(r) * W + c]);

        // Negative offsets skip the blocks that start before the window.
        std::vector<uint32_t> neg(size_t(W) * H, TEST_CANARY);
        ASSERT_EQ(decode_into(j, neg, W, W, H, -8, -8), 0);
        for (int32_t r = 0; r < H; ++r)
            for (int32_t c = 0; c < W; ++c) {
                const bool drawn = r < H - 8 && c < W - 8;
                ASSERT_EQ(neg[size_t(r) * W + c], drawn ? full.pixels[size_t(r + 8) * W + c + 8] : TEST_CANARY);
            }

        // Wholly right of the clip width: nothing is written, result 0.
        std::vector<uint32_t> off(size_t(W) * H, TEST_CANARY);
        EXPECT_EQ(decode_into(j, off, W, W, H, W, 0), 0);
        EXPECT_EQ(off, std::vector<uint32_t>(size_t(W) * H, TEST_CANARY));
    }
}

struct HookCall {
    int32_t x, y;
    int32_t first_sample;
};
std::vector<HookCall> hook_calls;
void recording_hook(int32_t x, int32_t y, int32_t* samples) { hook_calls.push_back({x, y, samples[0]}); }

TEST(JpegOptions, BlockOutputReceivesEveryMcuInRasterOrder)
{
    REQUIRE_CJPEG();
    for (const char* mode : {"-sample 2x2", "-sample 2x2 -progressive", "-sample 1x1"}) {
        SCOPED_TRACE(mode);
        const std::vector<uint8_t> j = cjpeg(33, 17, mode);
        const int32_t mcu = std::string(mode).find("1x1") != std::string::npos ? 8 : 16;
        hook_calls.clear();
        uint32_t unused = TEST_CANARY;
        const int rc = jpeg_decode(j.data(), int32_t(j.size()), reinterpret_cast<uint8_t*>(&unused), 4, 1, 1, 0, 0,
                                   JpegOptions{recording_hook});
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(unused, TEST_CANARY);
        std::vector<std::pair<int32_t, int32_t>> want, got;
        for (int32_t y = 0; y < 17; y += mcu)
            for (int32_t x = 0; x < 33; x += mcu)
                want.push_back({x, y});
        for (const HookCall& c : hook_calls)
            got.push_back({c.x, c.y});
        EXPECT_EQ(got, want);
    }
}

// A damaged old-format frame with fewer than three blocks per MCU: the missing
// planes read as level 128, not as what the picture decoded before left.
TEST(JpegOptions, BgrOutputOfAGreyFrameDoesNotDependOnThePictureBefore)
{
    REQUIRE_CJPEG();
    const std::vector<uint8_t> grey = cjpeg(16, 16, "-grayscale");
    const std::vector<uint8_t> colour = cjpeg(16, 16, "-sample 1x1");
    auto decode_bgr = [](const std::vector<uint8_t>& j) {
        std::vector<uint32_t> pixels(16 * 16, TEST_CANARY);
        EXPECT_EQ(jpeg_decode(j.data(), int32_t(j.size()), reinterpret_cast<uint8_t*>(pixels.data()), 64, 16, 16, 0,
                              0, JpegOptions{bgr_block_output}),
                  0);
        return pixels;
    };
    decode_bgr(colour);
    const std::vector<uint32_t> after_colour = decode_bgr(grey);
    for (uint32_t p : after_colour)
        ASSERT_EQ(p & 0xFFFFFF00u, 0x00808000u);
    decode_bgr(cjpeg(16, 16, "-sample 1x1 -quality 20"));
    EXPECT_EQ(decode_bgr(grey), after_colour);
}

// Sets up the output geometry by hand and converts one MCU.
void output_mcu(std::vector<uint32_t>& buf, int32_t width, int32_t height, int32_t components, int32_t H0,
                int32_t V0)
{
    jpeg.window = {reinterpret_cast<uint8_t*>(buf.data()), width * 4, width, height, 0, 0};
    jpeg.right_bound = width;
    jpeg.bottom_bound = height;
    jpeg.out_components = components;
    jpeg.out_H[0] = H0;
    jpeg.out_V[0] = V0;
    jpeg.out_log2H[0] = H0 == 2 ? 1 : 0;
    jpeg.out_log2V[0] = V0 == 2 ? 1 : 0;
    for (int c = 1; c < 3; ++c) {
        jpeg.out_H[c] = jpeg.out_V[c] = 1;
        jpeg.out_log2H[c] = jpeg.out_log2V[c] = 0;
    }
    ycbcr_block_output(0, 0, jpeg.mcu_samples);
}

TEST(JpegColour, GreyLevelsAndClamping)
{
    REQUIRE_CJPEG();
    decode_guarded(cjpeg(8, 8, ""));  // builds the tables once
    const int32_t levels[] = {-300, -129, -128, -1, 0, 1, 100, 126, 127, 128, 300};
    const uint32_t want[] = {0, 0, 0, 127, 128, 129, 228, 254, 255, 255, 255};
    for (int n = 0; n < 64; ++n)
        jpeg.mcu_samples[n] = int32_t(uint32_t(levels[n % 11]) << 22);
    std::vector<uint32_t> buf(64, TEST_CANARY);
    output_mcu(buf, 8, 8, 1, 1, 1);
    for (int n = 0; n < 64; ++n) {
        const uint32_t L = want[n % 11];
        EXPECT_EQ(buf[n], 0xFF000000u | L << 16 | L << 8 | L) << n;
    }
}

TEST(JpegColour, ChromaOfA420McuCoversTwoByTwoPixels)
{
    REQUIRE_CJPEG();
    decode_guarded(cjpeg(8, 8, ""));
    for (int n = 0; n < 4 * 64; ++n)
        jpeg.mcu_samples[n] = 0;  // mid grey luma
    for (int n = 0; n < 64; ++n) {
        jpeg.mcu_samples[4 * 64 + n] = int32_t(uint32_t(n - 32) << 22);  // Cb
        jpeg.mcu_samples[5 * 64 + n] = int32_t(uint32_t(32 - n) << 22);  // Cr
    }
    std::vector<uint32_t> buf(17 * 16, TEST_CANARY);
    output_mcu(buf, 17, 16, 3, 2, 2);
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) {
            const int n = (r / 2) * 8 + c / 2;
            const double cb = n - 32, cr = 32 - n;
            const double red = 128 + 1.402 * cr, blue = 128 + 1.772 * cb;
            const uint32_t p = buf[size_t(r) * 17 + c];
            EXPECT_NEAR(double(p >> 16 & 255), std::min(255.0, std::max(0.0, red)), 1.01) << r << "," << c;
            EXPECT_NEAR(double(p & 255), std::min(255.0, std::max(0.0, blue)), 1.01) << r << "," << c;
        }
    for (int r = 0; r < 16; ++r)
        EXPECT_EQ(buf[size_t(r) * 17 + 16], TEST_CANARY);
}

// The plain output of old thumbnail caches: one block of three planes as blue,
// green and red (clamped, 0 in the top byte), placed by the window's rule. A
// window 20 x 3 clips the block at x = 16 to 4 columns and 3 rows; offsets
// move it, a negative pitch turns it upside down.
TEST(JpegColour, BgrBlockOutputTakesPlanesAsBlueGreenRedInsideTheWindow)
{
    jpeg.out_components = 3;
    for (int c = 0; c < 3; ++c)
        jpeg.out_H[c] = jpeg.out_V[c] = 1;
    for (int n = 0; n < 64; ++n) {
        jpeg.mcu_samples[n] = (10 + n - 128) * (1 << 22);
        jpeg.mcu_samples[64 + n] = (20 - 128) * (1 << 22);
        jpeg.mcu_samples[128 + n] = (300 - 128) * (1 << 22);
    }
    struct Case {
        int32_t x, y, x_offset, y_offset;
        bool upside_down;
    };
    const Case cases[] = {{16, 0, 0, 0, false}, {16, 0, 0, 0, true}, {8, 0, -5, 1, false}, {0, 0, 17, -6, false}};
    const int32_t W = 20, H = 3;
    for (const Case& c : cases) {
        std::vector<uint32_t> buf(size_t(W) * H, TEST_CANARY);
        uint8_t* top = reinterpret_cast<uint8_t*>(buf.data());
        jpeg.window = c.upside_down ? OutputWindow{top + (H - 1) * W * 4, -W * 4, W, H, c.x_offset, c.y_offset}
                                    : OutputWindow{top, W * 4, W, H, c.x_offset, c.y_offset};
        bgr_block_output(c.x, c.y, jpeg.mcu_samples);
        for (int32_t r = 0; r < H; ++r)
            for (int32_t col = 0; col < W; ++col) {
                // The block sample (i, j) that belongs at this window position.
                const int32_t i = col - c.x_offset - c.x;
                const int32_t j = (c.upside_down ? H - 1 - r : r) - c.y_offset - c.y;
                const bool drawn = i >= 0 && i < 8 && j >= 0 && j < 8;
                EXPECT_EQ(buf[size_t(r) * W + col], drawn ? 0x00FF1400u | uint32_t(10 + j * 8 + i) : TEST_CANARY)
                    << c.x << "," << c.x_offset << "," << c.upside_down << " at " << col << "," << r;
            }
    }
}

// The fixed-point transform against a floating-point inverse DCT, with the
// dequantisation factors derived here independently (q x 2^19 x a(u) a(v)).
TEST(JpegIdct, AgreesWithFloatingPointTransform)
{
    REQUIRE_CJPEG();
    decode_guarded(cjpeg(8, 8, ""));
    const double pi = std::acos(-1.0);
    auto a = [&](int k) { return k == 0 ? 1.0 : std::sqrt(2.0) * std::cos(k * pi / 16); };
    uint32_t state = 12345;
    for (int trial = 0; trial < 200; ++trial) {
        double coef[64];
        int32_t block[64];
        uint32_t mask = 0;
        for (int n = 0; n < 64; ++n) {
            state = state * 1664525u + 1013904223u;
            const int u = n & 7, v = n >> 3;
            // Mostly low frequencies, a few high ones, as in real blocks.
            int range = (u + v < 4 || (state >> 8) % 9 == 0) ? 120 : 0;
            coef[n] = range ? int((state >> 16) % (2 * range + 1)) - range : 0;
            if (n == 0)
                coef[n] = int((state >> 12) % 1001) - 500;
            block[n] = int32_t(std::lround(coef[n] * std::ldexp(1.0, 19) * a(u) * a(v)));
            if (coef[n] != 0)
                mask |= 1u << v;
        }
        idct_8x8(block, trial % 2 ? 0xFF : mask);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                double s = 0;
                for (int v = 0; v < 8; ++v)
                    for (int u = 0; u < 8; ++u) {
                        const double cu = u ? 1 : std::sqrt(0.5), cv = v ? 1 : std::sqrt(0.5);
                        s += cu * cv * coef[v * 8 + u] * std::cos((2 * x + 1) * u * pi / 16) *
                             std::cos((2 * y + 1) * v * pi / 16);
                    }
                s /= 4;
                EXPECT_NEAR(block[y * 8 + x] / std::ldexp(1.0, 22), s, 0.6) << trial << " " << y << "," << x;
            }
    }
}

TEST(JpegHuffman, SlowPathOnAStandardTable)
{
    REQUIRE_CJPEG();
    // A baseline picture leaves the standard luminance DC table in table 0.
    ASSERT_EQ(decode_guarded(cjpeg(8, 8, "")).rc, 0);
    const JpegHuffmanTable& t = jpeg.huffman[0];
    int32_t length = -1;
    EXPECT_EQ(jpeg_huff_decode_slow(t, 0x0000, &length), 0);  // code 00: category 0
    EXPECT_EQ(length, 2);
    EXPECT_EQ(jpeg_huff_decode_slow(t, 0xFF00, &length), 11);  // 111111110: category 11
    EXPECT_EQ(length, 9);
    EXPECT_EQ(jpeg_huff_decode_slow(t, 0xFFFF, &length), 0);  // no such code
    EXPECT_EQ(length, 16);
}

}  // namespace

namespace {

// A scan cut off in its data: the call succeeds, MCU rows whose data lies
// well before the cut decode as in the whole file, and the reader, which
// supplies zero bytes past the end, stops within an MCU of it: the last rows
// keep what the window held.
TEST(JpegData, TruncatedScanKeepsWhatWasDecoded)
{
    REQUIRE_CJPEG();
    for (const char* options : {"-sample 2x2", "-sample 1x1 -restart 1", "-grayscale"}) {
        SCOPED_TRACE(options);
        const std::vector<uint8_t> full = cjpeg(64, 128, options);
        const Decoded whole = decode_guarded(full);
        ASSERT_EQ(whole.rc, 0);
        const std::vector<uint8_t> cut(full.begin(), full.begin() + long(full.size() * 7 / 10));
        const Decoded d = decode_guarded(cut);
        EXPECT_EQ(d.rc, 0);
        EXPECT_TRUE(d.guard_intact);
        const size_t row = 64;
        EXPECT_TRUE(std::equal(d.pixels.begin(), d.pixels.begin() + long(row * 32), whole.pixels.begin()));
        for (size_t i = row * 112; i < d.pixels.size(); ++i)
            ASSERT_EQ(d.pixels[i], TEST_CANARY) << "pixel " << i;
    }
}

// Each vector path the processor has (SSE2, AVX2) against the scalar one, bit
// for bit: whole decodes of every sampling and mode, damaged copies whose
// coefficients reach the extremes, and transforms of random 32-bit blocks.
TEST(JpegSimd, EveryPathGivesTheSamePixels)
{
    REQUIRE_CJPEG();
    std::vector<std::vector<uint8_t>> pictures;
    for (const char* options : {"-sample 2x2", "-sample 1x1", "-sample 2x1", "-sample 1x2", "-grayscale",
                                "-progressive", "-restart 1 -sample 2x2", "-quality 100 -sample 1x1"})
        for (int32_t size : {21, 96})
            pictures.push_back(cjpeg(size + 12, size, options));
    uint32_t state = 77;
    for (size_t i = 0; i < 16; i += 2) {
        std::vector<uint8_t> damaged = pictures[i];
        for (int k = 0; k < 12; ++k) {
            state = state * 1664525u + 1013904223u;
            damaged[damaged.size() / 2 + (state >> 8) % (damaged.size() / 2 - 2)] ^= uint8_t(1 << (state >> 29));
        }
        pictures.push_back(damaged);
    }
    decode_guarded(pictures[0]);  // the decoder has chosen its path
    const int32_t chosen = jpeg_simd;
    for (size_t i = 0; i < pictures.size(); ++i) {
        jpeg_simd = JPEG_SIMD_SCALAR;
        const Decoded want = decode_guarded(pictures[i]);
        for (int32_t path = JPEG_SIMD_SSE2; path <= chosen; ++path) {
            jpeg_simd = path;
            const Decoded got = decode_guarded(pictures[i]);
            EXPECT_EQ(got.rc, want.rc);
            EXPECT_TRUE(got.guard_intact);
            EXPECT_EQ(got.pixels, want.pixels) << "picture " << i << " path " << path;
        }
    }
    // Random 32-bit blocks (every fifth of row 0 alone, which takes the
    // shortcut, every fifth of rows 0 to 3, which skips the rest): the vector
    // transforms, and the AVX2 one from a transposed block.
    for (int trial = 0; trial < 300; ++trial) {
        int32_t input[64], want[64];
        const int32_t rows = trial % 5 == 0 ? 1 : trial % 5 == 1 ? 4 : 8;
        for (int n = 0; n < 64; ++n) {
            state = state * 1664525u + 1013904223u;
            input[n] = n >= 8 * rows ? 0 : int32_t(trial % 3 == 0 ? state : state >> (state & 15));
        }
        const uint32_t mask = (1u << rows) - 1;
        jpeg_simd = JPEG_SIMD_SCALAR;
        std::memcpy(want, input, sizeof want);
        idct_8x8(want, 0xFF);
        for (int32_t path = JPEG_SIMD_SSE2; path <= chosen; ++path) {
            int32_t block[64];
            std::memcpy(block, input, sizeof input);
            jpeg_simd = path;
            idct_8x8(block, mask);
            ASSERT_EQ(std::memcmp(block, want, sizeof want), 0) << "trial " << trial << " path " << path;
        }
        for (int32_t path = JPEG_SIMD_SCALAR; path <= chosen; ++path) {
            int32_t block[64];
            for (int n = 0; n < 64; ++n)
                block[(n & 7) * 8 + (n >> 3)] = input[n];
            jpeg_simd = path;
            idct_8x8_from_transposed(block, mask);
            ASSERT_EQ(std::memcmp(block, want, sizeof want), 0) << "trial " << trial << " transposed, path " << path;
        }
    }
    jpeg_simd = chosen;
}

}  // namespace
