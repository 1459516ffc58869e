// glimmerdex-cli sheet: the viewer's grid in one picture.
#include <string>
#include <vector>

#include "picture/picture.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbcache_writer.h"
#include "tools/fixture/thumbsdb_writer.h"

namespace {

const std::string cli = cli_command();

std::vector<uint32_t> decode_png(const std::string& path, int32_t* w, int32_t* h)
{
    std::vector<uint8_t> png = read_file(path);
    picture_probe(png.data(), int32_t(png.size()), w, h);
    std::vector<uint32_t> pixels(size_t(*w) * size_t(*h));
    EXPECT_EQ(picture_decode(png.data(), int32_t(png.size()), reinterpret_cast<uint8_t*>(pixels.data()), *w * 4, *w,
                             *h, 0, 0), 0);
    return pixels;
}

} // namespace

TEST(CliSheet, DrawsTheGridWithNamesPicturesAndInformation)
{
    TempDir dir;
    fixture::CacheSpec spec;
    for (int i = 0; i < 11; ++i) {
        fixture::CacheEntry e;
        e.name = "picture number " + std::to_string(i) + ".jpg";
        e.time = 128980119090000000ull;
        fixture::RgbImage image{40, 30, std::vector<uint32_t>(40 * 30, 0x2060A0u + uint32_t(i) * 0x101010u)};
        e.picture = fixture::encode_jpeg(image, 100);
        spec.entries.push_back(e);
    }
    write_file(dir.file("Thumbs.db"), fixture::write_thumbs_db(spec));

    ASSERT_EQ(run_command(cli + " sheet --width 450 " + dir.path() + " " + dir.file("s.png")), 0);
    int32_t w, h;
    std::vector<uint32_t> sheet = decode_png(dir.file("s.png"), &w, &h);
    EXPECT_EQ(w, 4 * 104) << "(450 - 16) / 104 = 4 columns, no scrollbar";
    EXPECT_EQ(h, 3 * 104);
    auto at = [&](int x, int y) { return sheet[size_t(y) * size_t(w) + size_t(x)] & 0xFFFFFF; };
    // Entry 5: column 1, row 1; its picture starts 8 pixels below the cell top.
    uint32_t inside = at(104 + 20, 104 + 8 + 15);
    uint32_t want = 0x2060A0u + 5 * 0x101010u;
    for (int shift = 0; shift < 24; shift += 8)
        EXPECT_NEAR(int(inside >> shift & 0xFF), int(want >> shift & 0xFF), 3);
    EXPECT_EQ(at(104 + 60, 104 + 50), 0u) << "background right of the picture";
    EXPECT_EQ(at(3 * 104 + 50, 2 * 104 + 50), 0u) << "after the last entry";
    int name_pixels = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 102; ++x)
            name_pixels += at(x, y) == 0xC0A080u;
    EXPECT_GT(name_pixels, 60) << "the name line in the grid's name colour";

    ASSERT_EQ(run_command(cli + " sheet --backcol 0x102030 --width 450 " + dir.path() + " " + dir.file("b.png")), 0);
    sheet = decode_png(dir.file("b.png"), &w, &h);
    EXPECT_EQ(at(104 + 60, 104 + 50), 0x102030u) << "the chosen background right of the picture";
    EXPECT_EQ(at(3 * 104 + 50, 2 * 104 + 50), 0x102030u) << "and after the last entry";

    ASSERT_EQ(run_command(cli + " sheet --info --rows 1 --page 2 --width 450 " + dir.path() + " " + dir.file("i.png")), 0);
    std::vector<uint32_t> page = decode_png(dir.file("i.png"), &w, &h);
    EXPECT_EQ(h, 104) << "one row: entries 4 to 7";
    int white = 0;
    for (int y = 8; y < 32; ++y)
        for (int x = 0; x < 104; ++x)
            white += (page[size_t(y) * size_t(w) + size_t(x)] & 0xFFFFFF) == 0xFFFFFFu;
    EXPECT_GT(white, 100) << "size, date and time lines in white";

    EXPECT_EQ(run_command(cli + " sheet --rows 1 --page 9 " + dir.path() + " " + dir.file("x.png") + " 2>/dev/null"), 2);
    EXPECT_EQ(run_command(cli + " sheet " + dir.file("none") + " " + dir.file("x.png") + " 2>/dev/null"), 1);
    EXPECT_EQ(run_command(cli + " sheet --width 5 " + dir.path() + " " + dir.file("x.png") + " 2>/dev/null"), 2);
}

TEST(CliSheet, StreamPicturesFitTheirCells)
{
    // Two 256 x 256 stream pictures of a cache without a catalog, side by
    // side: each is fitted to 96 x 96 and stays within its own cell.
    TempDir dir;
    std::vector<fixture::CompoundEntry> streams;
    for (uint32_t i = 0; i < 2; ++i) {
        fixture::RgbImage image{256, 256, std::vector<uint32_t>(256 * 256, 0x2060A0u + i * 0x404040u)};
        streams.push_back({"256_" + std::to_string(i + 1), fixture::hashed_stream(fixture::encode_jpeg(image, 100))});
    }
    write_file(dir.file("Thumbs.db"), fixture::write_compound(streams));
    ASSERT_EQ(run_command(cli + " sheet --width 450 " + dir.path() + " " + dir.file("s.png")), 0);
    int32_t w, h;
    std::vector<uint32_t> sheet = decode_png(dir.file("s.png"), &w, &h);
    ASSERT_EQ(h, 104);
    auto at = [&](int x, int y) { return sheet[size_t(y) * size_t(w) + size_t(x)] & 0xFFFFFF; };
    for (int cell = 0; cell < 2; ++cell) {
        uint32_t want = 0x2060A0u + uint32_t(cell) * 0x404040u;
        int x0 = cell * 104;
        for (int shift = 0; shift < 24; shift += 8) {
            EXPECT_NEAR(int(at(x0 + 50, 8 + 50) >> shift & 0xFF), int(want >> shift & 0xFF), 3);
            EXPECT_NEAR(int(at(x0 + 95, 103) >> shift & 0xFF), int(want >> shift & 0xFF), 3) << "the last pixel";
        }
        for (int y = 8; y < 104; ++y)
            for (int x = x0 + 96; x < x0 + 104; ++x)
                ASSERT_EQ(at(x, y), 0u) << "the gap right of cell " << cell << " at " << x << "," << y;
    }
}

TEST(CliSheet, ClearPixelsShowTheSheetsBackground)
{
    // A 60 x 40 icon stream whose first column is clear, as Explorer writes them.
    fixture::RgbImage image{60, 40, std::vector<uint32_t>(60 * 40, 0xFF0000u)};
    TempDir dir;
    write_file(dir.file("Thumbs.db"),
               fixture::write_compound({{"256_a", fixture::hashed_stream(fixture::encode_bmp32(image, true))}}));
    ASSERT_EQ(run_command(cli + " sheet --backcol 0x336699 " + dir.path() + " " + dir.file("s.png")), 0);
    int32_t w, h;
    std::vector<uint32_t> sheet = decode_png(dir.file("s.png"), &w, &h);
    ASSERT_GT(w, 60);
    EXPECT_EQ(sheet[size_t(8 + 10) * size_t(w)] & 0xFFFFFF, 0x336699u) << "clear pixels over --backcol";
    EXPECT_EQ(sheet[size_t(8 + 10) * size_t(w) + 30] & 0xFFFFFF, 0xFF0000u);
}

TEST(CliSheet, SheetsPastTheCeilingAreRefusedBeforeTheyAreDrawn)
{
    // 12,600 names at the widest columns (192 of 104 pixels): 66 rows of
    // 19,968 x 104 pixels are 137 million, past the 128 Mi ceiling.
    TempDir dir;
    fixture::CacheSpec spec;
    for (int i = 0; i < 12600; ++i) {
        fixture::CacheEntry e;
        e.name = std::to_string(i) + ".jpg";
        e.has_stream = false;
        spec.entries.push_back(e);
    }
    write_file(dir.file("Thumbs.db"), fixture::write_thumbs_db(spec));
    const std::string sheet = cli + " sheet --width 20000 ";
    std::string err;
    EXPECT_EQ(run_command(sheet + dir.path() + " " + dir.file("all.png") + " 2>&1", &err), 2);
    EXPECT_NE(err.find("19968 x 6864 pixels"), std::string::npos) << err;
    EXPECT_NE(err.find("--rows and --page"), std::string::npos) << err;
    EXPECT_FALSE(file_exists(dir.file("all.png")));
    EXPECT_EQ(run_command(sheet + "--rows 1 --page 66 " + dir.path() + " " + dir.file("last.png")), 0);
    int32_t w, h;
    decode_png(dir.file("last.png"), &w, &h);
    EXPECT_EQ(w, 19968);
    EXPECT_EQ(h, 104);
}

TEST(CliSheet, TheSheetIsTheSameWhateverTheThreads)
{
    // An Explorer cache of many pictures larger than a cell (JPEGs decoded
    // reduced, PNGs and BMPs whole), one past the ceiling on a picture's
    // pixels by its header, one cut short.
    fixture::ThumbcacheSpec spec;
    spec.cache_type = 4;
    for (uint32_t i = 0; i < 60; ++i) {
        fixture::ThumbcacheRecord r;
        r.hash = 0x5000 + i;
        const fixture::RgbImage image = fixture::make_test_image(160 + int32_t(i % 5) * 40, 120 + int32_t(i % 3) * 30, i);
        r.data = i % 10 == 3 ? fixture::encode_png_rgba(image)
                 : i % 10 == 7 ? fixture::encode_bmp32(image, false)
                               : fixture::encode_jpeg(image, 85);
        spec.records.push_back(r);
    }
    std::vector<uint8_t>& huge = spec.records[20].data;
    for (size_t p = 2; p + 9 < huge.size(); ++p)
        if (huge[p] == 0xFF && huge[p + 1] == 0xC0) {
            huge[p + 5] = 4000 >> 8, huge[p + 6] = 4000 & 255;  // 5000 x 4000 pixels
            huge[p + 7] = 5000 >> 8, huge[p + 8] = 5000 & 255;
            break;
        }
    spec.records[40].data.resize(spec.records[40].data.size() / 2);
    TempDir dir;
    write_file(dir.file("thumbcache_256.db"), fixture::write_thumbcache(spec));

    const std::string cache = dir.file("thumbcache_256.db") + " ";
    ASSERT_EQ(run_command(cli + " sheet -j 1 " + cache + dir.file("1.png")), 0);
    ASSERT_EQ(run_command(cli + " sheet --jobs 4 " + cache + dir.file("4.png")), 0);
    ASSERT_EQ(run_command(cli + " sheet " + cache + dir.file("default.png")), 0);
    const std::vector<uint8_t> one = read_file(dir.file("1.png"));
    EXPECT_TRUE(one == read_file(dir.file("4.png"))) << "1 and 4 threads";
    EXPECT_TRUE(one == read_file(dir.file("default.png"))) << "1 thread and one per processor";

    // Cells show their pictures: the one past the ceiling and the cut one differ from a whole one.
    int32_t w, h;
    const std::vector<uint32_t> sheet = decode_png(dir.file("1.png"), &w, &h);
    const int32_t columns = w / 104;
    auto cell_sum = [&](int32_t i) {
        uint64_t sum = 0;
        for (int y = 8; y < 104; ++y)
            for (int x = 0; x < 100; ++x)
                sum += sheet[size_t((i / columns) * 104 + y) * size_t(w) + size_t((i % columns) * 104 + x)] & 0xFF;
        return sum;
    };
    EXPECT_GT(cell_sum(19), 100000u) << "a picture";
    EXPECT_LT(cell_sum(20), cell_sum(19) / 4) << "the placeholder, a red X on black (blue channel 0)";

    EXPECT_EQ(run_command(cli + " sheet -j 0 " + cache + dir.file("x.png") + " 2>/dev/null"), 2);
    EXPECT_EQ(run_command(cli + " sheet --jobs 257 " + cache + dir.file("x.png") + " 2>/dev/null"), 2);
}
