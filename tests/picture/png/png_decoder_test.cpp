// Colour types, transparency, interlacing, clipping and the safe handling of
// invalid pictures, on pictures made here.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "picture/picture.h"
#include "picture/png/png_internal.h"
#include "tests/picture/png/png_test_util.h"
#include "tests/support/test_support.h"

namespace {

// A PNG from samples, all five filters, one fixed-code block split over IDAT chunks of 7 bytes.
std::vector<uint8_t> png_from_samples(const std::vector<uint8_t>& samples, uint32_t w, uint32_t h, int type, int depth,
                                      bool interlaced, const std::vector<PngChunk>& before = {})
{
    static const int channels[7] = {1, 0, 3, 1, 2, 0, 4};
    std::vector<uint8_t> raw = encode_rows(samples, w, h, channels[type], depth, interlaced);
    return make_png(png_ihdr(w, h, depth, type, interlaced), before, zlib_wrap(deflate_fixed_literals(raw), raw), {7});
}

std::vector<uint8_t> pattern(size_t n, int depth, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[i] = uint8_t((seed >> 16) & ((1u << depth) - 1));
    }
    return v;
}

TEST(PngDecode, EveryColourTypeAndDepthInterlacedOrNot)
{
    const std::vector<uint8_t> plte = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 0xA0, 0xB0, 0xC0};
    struct Kind {
        int type, depth, channels;
    } kinds[] = {{0, 1, 1}, {0, 2, 1}, {0, 4, 1}, {0, 8, 1}, {2, 8, 3}, {3, 1, 1},
                 {3, 2, 1}, {3, 4, 1}, {3, 8, 1}, {4, 8, 2}, {6, 8, 4}};
    for (const Kind& k : kinds) {
        for (uint32_t w = 1; w <= 9; ++w) {
            for (uint32_t h = 1; h <= 9; h += 2) {
                std::vector<uint8_t> s = pattern(size_t(w) * h * k.channels, k.type == 3 ? std::min(2, k.depth) : k.depth, w * 31 + h);
                std::vector<PngChunk> before;
                if (k.type == 3)
                    before.push_back({"PLTE", plte});
                GuardedWindow plain{int32_t(w), int32_t(h)}, adam7{int32_t(w), int32_t(h)};
                ASSERT_EQ(0, plain.decode(png_from_samples(s, w, h, k.type, k.depth, false, before)));
                ASSERT_EQ(0, adam7.decode(png_from_samples(s, w, h, k.type, k.depth, true, before)));
                EXPECT_TRUE(plain.pixels_equal(adam7)) << "type " << k.type << " depth " << k.depth << " " << w << "x" << h;
                for (uint32_t y = 0; y < h; ++y)
                    for (uint32_t x = 0; x < w; ++x) {
                        const uint8_t* p = &s[(size_t(y) * w + x) * k.channels];
                        uint32_t want;
                        if (k.type == 0)
                            want = 0xFF000000u | (p[0] * (255u / ((1u << k.depth) - 1))) * 0x010101u;
                        else if (k.type == 3)
                            want = 0xFF000000u | plte[3 * p[0]] << 16 | plte[3 * p[0] + 1] << 8 | plte[3 * p[0] + 2];
                        else if (k.type == 2)
                            want = 0xFF000000u | p[0] << 16 | p[1] << 8 | p[2];
                        else if (k.type == 4)
                            want = uint32_t(p[1]) << 24 | p[0] * 0x010101u;
                        else
                            want = uint32_t(p[3]) << 24 | p[0] << 16 | p[1] << 8 | p[2];
                        ASSERT_EQ(want, plain.at(int32_t(x), int32_t(y)))
                            << "type " << k.type << " depth " << k.depth << " " << w << "x" << h << " at " << x << "," << y;
                    }
            }
        }
    }
}

TEST(PngDecode, TransparencyByColourType)
{
    // Grey depth 2 with tRNS grey 2: that level becomes 0x00AAAAAA.
    GuardedWindow g(4, 1);
    ASSERT_EQ(0, g.decode(png_from_samples({0, 1, 2, 3}, 4, 1, 0, 2, false, {{"tRNS", {0, 2}}})));
    EXPECT_EQ(0xFF555555u, g.at(1, 0));
    EXPECT_EQ(0x00AAAAAAu, g.at(2, 0));
    EXPECT_EQ(0xFFFFFFFFu, g.at(3, 0));

    // RGB key: exactly the matching pixels lose their alpha, and the key is gone for the next picture.
    std::vector<uint8_t> rgb = {1, 2, 3, 1, 2, 4, 1, 2, 3};
    GuardedWindow k(3, 1), next(3, 1);
    ASSERT_EQ(0, k.decode(png_from_samples(rgb, 3, 1, 2, 8, false, {{"tRNS", {0, 1, 0, 2, 0, 3}}})));
    EXPECT_EQ(0x00010203u, k.at(0, 0));
    EXPECT_EQ(0xFF010204u, k.at(1, 0));
    EXPECT_EQ(0x00010203u, k.at(2, 0));
    ASSERT_EQ(0, next.decode(png_from_samples(rgb, 3, 1, 2, 8, false)));
    EXPECT_EQ(0xFF010203u, next.at(0, 0));

    // Palette: a tRNS shorter than the PLTE; indices past the PLTE are opaque black.
    std::vector<uint8_t> plte = {10, 0, 0, 20, 0, 0, 30, 0, 0};
    GuardedWindow p(4, 1);
    ASSERT_EQ(0, p.decode(png_from_samples({0, 1, 2, 3}, 4, 1, 3, 8, false, {{"PLTE", plte}, {"tRNS", {0x40}}})));
    EXPECT_EQ(0x400A0000u, p.at(0, 0));
    EXPECT_EQ(0xFF140000u, p.at(1, 0));
    EXPECT_EQ(0xFF1E0000u, p.at(2, 0));
    EXPECT_EQ(0xFF000000u, p.at(3, 0));

    // A PLTE of 300 entries keeps its first 256.
    std::vector<uint8_t> big(900);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = uint8_t(i / 3);
    GuardedWindow b(2, 1);
    ASSERT_EQ(0, b.decode(png_from_samples({5, 255}, 2, 1, 3, 8, false, {{"PLTE", big}})));
    EXPECT_EQ(0xFF050505u, b.at(0, 0));
    EXPECT_EQ(0xFFFFFFFFu, b.at(1, 0));
    EXPECT_EQ(256, palette_count);
}

TEST(PngDecode, ClipAndOffsetsWriteOnlyTheVisiblePart)
{
    const uint32_t w = 13, h = 11;
    std::vector<uint8_t> s = pattern(size_t(w) * h * 4, 8, 7);
    for (bool interlaced : {false, true}) {
        std::vector<uint8_t> file = png_from_samples(s, w, h, 6, 8, interlaced);
        GuardedWindow full{int32_t(w), int32_t(h)};
        ASSERT_EQ(0, full.decode(file));
        struct Place {
            int32_t cw, ch, xo, yo;
        } places[] = {{5, 4, 0, 0}, {6, 7, -3, -2}, {20, 20, 4, 9}, {3, 3, -12, -10}, {4, 4, 5, 5}, {8, 8, -13, 0}};
        for (const Place& pl : places) {
            GuardedWindow win(pl.cw, pl.ch);
            ASSERT_EQ(0, win.decode(file, pl.xo, pl.yo));
            EXPECT_TRUE(win.margins_intact());
            for (int32_t y = 0; y < pl.ch; ++y)
                for (int32_t x = 0; x < pl.cw; ++x) {
                    int32_t px = x - pl.xo, py = y - pl.yo;
                    bool inside = px >= 0 && py >= 0 && px < int32_t(w) && py < int32_t(h);
                    uint32_t want = inside ? full.at(px, py) : TEST_CANARY;
                    ASSERT_EQ(want, win.at(x, y)) << "interlaced " << interlaced << " window " << pl.cw << "x"
                                                  << pl.ch << " at " << pl.xo << "," << pl.yo << " pixel " << x << "," << y;
                }
        }
    }
}

TEST(PngDecode, HeaderChecks)
{
    std::vector<uint8_t> raw = {0, 0};
    auto with = [&](const std::vector<uint8_t>& ihdr) {
        GuardedWindow win(1, 1);
        return win.decode(make_png(ihdr, {}, zlib_wrap(deflate_stored(raw), raw)));
    };
    EXPECT_EQ(0, with(png_ihdr(1, 1, 8, 0, 0)));
    EXPECT_EQ(-1, with(png_ihdr(1, 1, 16, 0, 0)));
    EXPECT_EQ(-1, with(png_ihdr(1, 1, 4, 2, 0)));  // packed RGB is not PNG
    EXPECT_EQ(-1, with(png_ihdr(1, 1, 8, 5, 0)));
    EXPECT_EQ(-1, with(png_ihdr(0, 1, 8, 0, 0)));
    EXPECT_EQ(-1, with(png_ihdr(1, 0x80000000u, 8, 0, 0)));
    EXPECT_EQ(-1, with(png_ihdr(1, 1, 8, 0, 2)));
    std::vector<uint8_t> short_ihdr = png_ihdr(1, 1, 8, 0, 0);
    short_ihdr.resize(12);
    EXPECT_EQ(-1, with(short_ihdr));

    // Longest row: 65535 bytes decode, 65536 do not.
    for (uint32_t width : {65535u, 65536u}) {
        std::vector<uint8_t> row(width + 1, 0x42);
        row[0] = 0;
        GuardedWindow win{int32_t(width), 1, 1};
        int r = win.decode(make_png(png_ihdr(width, 1, 8, 0, 0), {}, zlib_wrap(deflate_stored(row), row)));
        EXPECT_EQ(width == 65535u ? 0 : -1, r);
        EXPECT_EQ(width == 65535u ? 0xFF424242u : TEST_CANARY, win.at(int32_t(width) - 1, 0));
    }
}

TEST(PngDecode, InvalidStructureEndsSafely)
{
    // IDAT before any IHDR, and no IDAT at all: nothing to decode.
    std::vector<uint8_t> good = make_test_png_gray(2, 2, {1, 2, 3, 4});
    std::vector<uint8_t> no_header(good.begin(), good.begin() + 8);
    no_header.insert(no_header.end(), good.begin() + 33, good.end());
    GuardedWindow a(2, 2);
    EXPECT_EQ(-1, a.decode(no_header));
    std::vector<uint8_t> no_idat(good.begin(), good.begin() + 33);
    EXPECT_EQ(-1, a.decode(no_idat));
    // An empty IDAT and nothing after it: not a single row.
    EXPECT_EQ(-1, a.decode(make_png(png_ihdr(2, 2, 8, 0, 0), {}, {})));
    EXPECT_TRUE(a.untouched(0, 0));

    // Filter type 5 (and above): rows before it are written, that row and all later ones are not.
    for (uint8_t bad : {5, 7}) {
        std::vector<uint8_t> raw = {0, 9, 9, 2, 1, 1, bad, 3, 3, 0, 4, 4};
        GuardedWindow f(2, 4);
        EXPECT_EQ(0, f.decode(make_png(png_ihdr(2, 4, 8, 0, 0), {}, zlib_wrap(deflate_stored(raw), raw))));
        EXPECT_EQ(0xFF090909u, f.at(1, 0));
        EXPECT_EQ(0xFF0A0A0Au, f.at(1, 1));
        EXPECT_TRUE(f.untouched(0, 2));
        EXPECT_TRUE(f.untouched(0, 3));
    }

    // Image data beyond the last row never lands below the picture, interlaced or not.
    for (int interlace : {0, 1}) {
        std::vector<uint8_t> raw = encode_rows({1, 2, 3, 4}, 2, 2, 1, 8, interlace == 1);
        std::vector<uint8_t> extra(200, 0);
        raw.insert(raw.end(), extra.begin(), extra.end());
        GuardedWindow tall(2, 6);
        EXPECT_EQ(0, tall.decode(make_png(png_ihdr(2, 2, 8, 0, interlace), {}, zlib_wrap(deflate_stored(raw), raw))));
        EXPECT_EQ(0xFF040404u, tall.at(1, 1));
        for (int32_t y = 2; y < 6; ++y)
            EXPECT_TRUE(tall.untouched(0, y)) << "interlace " << interlace << " row " << y;
    }
}

TEST(PngDecode, PaethVariantsAgree)
{
    GuardedWindow init(1, 1);
    init.decode(make_test_png_gray(1, 1, {0}));
    if (!png_paeth_table_filled)
        GTEST_SKIP() << "only the plain Paeth step exists on this processor";
    for (int type : {0, 2, 4, 6}) {
        static const int channels[7] = {1, 0, 3, 1, 2, 0, 4};
        std::vector<uint8_t> s = pattern(size_t(37) * 23 * channels[type], 8, uint32_t(type));
        std::vector<uint8_t> raw = encode_rows(s, 37, 23, channels[type], 8, false, 4);
        for (size_t i = 0; i < raw.size(); i += size_t(37 * channels[type] + 1))
            raw[i] = 4;  // every row Paeth
        std::vector<uint8_t> file = make_png(png_ihdr(37, 23, 8, type, 0), {}, zlib_wrap(deflate_stored(raw), raw));
        GuardedWindow plain(37, 23), table(37, 23);
        png_paeth_variant = 0;
        ASSERT_EQ(0, plain.decode(file));
        png_paeth_variant = 1;
        ASSERT_EQ(0, table.decode(file));
        EXPECT_TRUE(plain.pixels_equal(table)) << "type " << type;
    }
}

}  // namespace
