// GIF: code widths up to a full dictionary, short interlaced images, the
// ways damaged files end, and placement in the window.
#include <algorithm>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/guarded_window.h"
#include "tests/support/test_support.h"

namespace {

// Codes packed least significant bit first, then cut into sub-blocks.
struct CodeWriter {
    std::vector<uint8_t> bytes;
    uint64_t acc = 0;
    int count = 0;
    void put(uint32_t code, int width)
    {
        acc |= uint64_t(code) << count;
        count += width;
        while (count >= 8) {
            bytes.push_back(uint8_t(acc));
            acc >>= 8;
            count -= 8;
        }
    }
    std::vector<uint8_t> finish()
    {
        if (count > 0)
            bytes.push_back(uint8_t(acc));
        acc = 0;
        count = 0;
        return bytes;
    }
};

struct GifSpec {
    int screen_width = 0, screen_height = 0;
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<uint32_t> global;  // 0xRRGGBB entries, power of two count
    std::vector<uint32_t> local;
    int background = 0;
    int transparent = -1;
    bool interlaced = false;
    int min_code_size = 2;
    std::vector<uint8_t> data;  // LZW bytes, cut into sub-blocks of 255
    bool terminate = true;
};

uint32_t table_bits(size_t entries)
{
    uint32_t n = 0;
    while ((2u << n) < entries)
        ++n;
    return n;
}

std::vector<uint8_t> make_gif(const GifSpec& g)
{
    ByteBuilder f;
    f.text("GIF89a").u16(g.screen_width).u16(g.screen_height);
    f.u8(g.global.empty() ? 0 : 0x80 | table_bits(g.global.size())).u8(g.background).u8(0);
    for (uint32_t c : g.global)
        f.u8(c >> 16).u8(c >> 8).u8(c);
    if (g.transparent >= 0)
        f.raw({0x21, 0xF9, 4, 1, 0, 0}).u8(g.transparent).u8(0);
    f.u8(0x2C).u16(g.left).u16(g.top).u16(g.width).u16(g.height);
    f.u8((g.local.empty() ? 0 : 0x80 | table_bits(g.local.size())) | (g.interlaced ? 0x40 : 0));
    for (uint32_t c : g.local)
        f.u8(c >> 16).u8(c >> 8).u8(c);
    f.u8(g.min_code_size);
    for (size_t at = 0; at < g.data.size(); at += 255) {
        size_t n = std::min<size_t>(255, g.data.size() - at);
        f.u8(uint32_t(n));
        f.b.insert(f.b.end(), g.data.begin() + long(at), g.data.begin() + long(at + n));
    }
    if (g.terminate)
        f.u8(0).u8(0x3B);
    return f.b;
}

// Each index preceded by a clear code, so every code has the initial width.
std::vector<uint8_t> literal_stream(const std::vector<int>& indices, int min_code_size, bool end_code = true)
{
    CodeWriter w;
    int clear = 1 << min_code_size;
    for (int i : indices) {
        w.put(clear, min_code_size + 1);
        w.put(i, min_code_size + 1);
    }
    if (end_code)
        w.put(clear + 1, min_code_size + 1);
    return w.finish();
}

const std::vector<uint32_t> four = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};


TEST(Gif, CodeWidthGrowsAfterEntry511AndStopsAt12Bits)
{
    // Minimum code size 8, literal codes only and no clear after the first:
    // codes 1-255 are 9 bits, 256-767 10, 768-1791 11, and from 1792 on 12 bits,
    // also after the dictionary is full (code 3839 completes entry 4095).
    const int n = 5000;
    CodeWriter w;
    w.put(256, 9);
    std::vector<int> indices;
    for (int k = 1; k <= n; ++k) {
        int width = k <= 255 ? 9 : k <= 767 ? 10 : k <= 1791 ? 11 : 12;
        int index = (k * 7) & 0xFF;
        indices.push_back(index);
        w.put(index, width);
    }
    std::vector<uint32_t> grey(256);
    for (int i = 0; i < 256; ++i)
        grey[i] = uint32_t(i) * 0x010101u;
    GifSpec g;
    g.screen_width = g.width = n;
    g.screen_height = g.height = 1;
    g.global = grey;
    g.min_code_size = 8;
    g.data = w.finish();
    GuardedWindow win(n, 1);
    ASSERT_EQ(win.decode(make_gif(g)), 0);
    int wrong = 0;
    for (int x = 0; x < n; ++x)
        wrong += win.at(x, 0) != (0xFF000000u | uint32_t(indices[size_t(x)]) * 0x010101u);
    EXPECT_EQ(wrong, 0);
}


TEST(Gif, InterlacedImagesOfFewerThanFiveRows)
{
    // Later passes start below such images; they are skipped.
    for (int rows = 1; rows <= 4; ++rows) {
        const int order[4][4] = {{0}, {0, 1}, {0, 2, 1}, {0, 2, 1, 3}};
        std::vector<int> stream;
        for (int k = 0; k < rows; ++k)
            stream.push_back(k);
        GifSpec g;
        g.screen_width = g.width = 1;
        g.screen_height = g.height = rows;
        g.global = four;
        g.interlaced = true;
        g.data = literal_stream(stream, 2);
        GuardedWindow win(1, rows);
        ASSERT_EQ(win.decode(make_gif(g)), 0) << rows;
        for (int k = 0; k < rows; ++k)
            EXPECT_EQ(win.at(0, order[rows - 1][k]), 0xFF000000u | four[size_t(k)]) << rows << " rows, " << k;
    }
}



TEST(Gif, BlockStructureThatIsNotAnImageIsRejected)
{
    ByteBuilder trailer;
    trailer.text("GIF89a").u16(1).u16(1).u8(0).u8(0).u8(0).u8(0x3B);
    GuardedWindow win(1, 1);
    EXPECT_EQ(win.decode(trailer.b), -1);
    EXPECT_EQ(win.at(0, 0), TEST_CANARY);

    // Cut inside the global table, an extension or the image descriptor.
    GifSpec g;
    g.screen_width = g.width = 2;
    g.screen_height = g.height = 1;
    g.global = four;
    g.transparent = 1;
    g.data = literal_stream({1, 2}, 2);
    std::vector<uint8_t> whole = make_gif(g);
    for (size_t cut : {size_t(12), size_t(20), size_t(27), size_t(33)}) {
        std::vector<uint8_t> part(whole.begin(), whole.begin() + long(cut));
        EXPECT_EQ(win.decode(part), -1) << cut;
    }
}

TEST(Gif, DamagedDataEndsSafely)
{
    GifSpec g;
    g.screen_width = g.width = 4;
    g.screen_height = g.height = 1;
    g.global = four;

    // Data that ends early: what was decoded stays, the rest is untouched.
    g.data = literal_stream({1, 2, 3, 1}, 2, false);
    g.data.resize(2);  // clear, 1, clear, 2, clear and one bit of the next code
    g.terminate = false;
    GuardedWindow early(4, 1);
    EXPECT_EQ(early.decode(make_gif(g)), 0);
    EXPECT_EQ(early.at(0, 0), 0xFF00FF00u);
    EXPECT_EQ(early.at(1, 0), 0xFF0000FFu);
    EXPECT_EQ(early.at(3, 0), TEST_CANARY);

    // A code for an entry not yet made ends the image there.
    CodeWriter w;
    w.put(4, 3);
    w.put(1, 3);
    w.put(7, 3);
    w.put(2, 3);
    g.data = w.finish();
    g.terminate = true;
    GuardedWindow invalid(4, 1);
    EXPECT_EQ(invalid.decode(make_gif(g)), 0);
    EXPECT_EQ(invalid.at(0, 0), 0xFF00FF00u);
    EXPECT_EQ(invalid.at(1, 0), TEST_CANARY);

    // The end code before the image is complete ends it too.
    g.data = literal_stream({3}, 2, true);
    GuardedWindow ended(4, 1);
    EXPECT_EQ(ended.decode(make_gif(g)), 0);
    EXPECT_EQ(ended.at(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(ended.at(1, 0), TEST_CANARY);

    // A minimum code size above 11 decodes nothing.
    g.min_code_size = 12;
    GuardedWindow wide(4, 1);
    EXPECT_EQ(wide.decode(make_gif(g)), 0);
    EXPECT_EQ(wide.count(TEST_CANARY), 4);
}


TEST(Gif, PlacementClipsAndFollowsThePitch)
{
    GifSpec g;
    g.screen_width = g.width = 2;
    g.screen_height = g.height = 2;
    g.global = four;
    g.data = literal_stream({0, 1, 2, 3}, 2);
    std::vector<uint8_t> file = make_gif(g);

    GuardedWindow shifted(2, 2);
    ASSERT_EQ(shifted.decode(file, -1, 1), 0);
    EXPECT_EQ(shifted.at(0, 1), 0xFF00FF00u);  // picture (1, 0)
    EXPECT_EQ(shifted.at(1, 1), TEST_CANARY);
    EXPECT_EQ(shifted.count(TEST_CANARY), 3);

    GuardedWindow up(2, 2);
    ASSERT_EQ(up.decode_upwards(file), 0);
    EXPECT_EQ(up.at(0, 1), 0xFFFF0000u);  // picture row 0 is the last row in memory
    EXPECT_EQ(up.at(1, 0), 0xFFFFFFFFu);
}

} // namespace
