// The viewer on an Explorer cache file: names, information lines, S and Enter.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/app_load.h"
#include "app/app_main.h"
#include "app/browser.h"
#include "app/command_line.h"
#include "app/commands.h"
#include "host/headless/desktop_headless.h"
#include "host/headless/host_headless.h"
#include "picture/fit.h"
#include "store/explorer/explorer_folder.h"
#include "store/file_list.h"
#include "store/explorer/thumbcache_index.h"
#include "tests/app/viewer_fixture.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbcache_writer.h"

namespace {

class ExplorerCache : public ::testing::Test {
protected:
    void SetUp() override
    {
        start_viewer(330, 250);
        path_buffer[0] = 0;
        png = fixture::encode_png_rgba(fixture::make_test_image(40, 30, 1));
        fixture::ThumbcacheSpec spec;
        spec.cache_type = 4;
        spec.records.resize(3);
        spec.records[0].hash = 0xabc;
        spec.records[0].identifier = "Caf\xC3\xA9";  // narrows to 0xE9
        spec.records[0].identifier_from_hash = false;
        spec.records[0].data = png;
        spec.records[1].hash = 0x1234;  // a folder: no picture
        spec.records[2].hash = 0x5678;
        spec.records[2].data = {1, 2, 3};  // not a picture format we read
        write_file(dir.file("any.name"), fixture::write_thumbcache(spec));
        ASSERT_EQ(0, app_load(dir.file("any.name").c_str()));
        ASSERT_EQ(3, file_list.count);
    }
    void TearDown() override { file_list_release(); }
    TempDir dir;
    std::vector<uint8_t> png;
};

} // namespace

TEST_F(ExplorerCache, ListsIdentifiersNarrowedWithTheirPictures)
{
    EXPECT_STREQ("Caf\xE9", file_list_name(0));
    EXPECT_STREQ("1234", file_list_name(1));
    EXPECT_TRUE(file_list_has_thumbnail(0));
    EXPECT_EQ(40, file_list_picture(0).width);
    EXPECT_FALSE(file_list_has_thumbnail(1));
    EXPECT_EQ(0, file_list_picture(2).width) << "unreadable bytes: an empty cell, as in Thumbs.db";
    EXPECT_STREQ("256", file_list_entry(0).file->bucket);
}

TEST_F(ExplorerCache, SaveWritesThePayloadAsStoredAndEnterBeeps)
{
    headless_answer_file(dir.file("copy.png"));
    headless_move(10, 20);
    headless_char('S');
    headless_char(13);
    headless_frame();
    browser_run();
    ASSERT_EQ(1u, headless_desktop.dialogs.size());
    EXPECT_EQ("Caf\xE9", headless_desktop.dialogs[0].proposed_path);
    EXPECT_EQ(png, read_file(dir.file("copy.png")));
    EXPECT_TRUE(headless_desktop.opened.empty());
    EXPECT_EQ(1, headless_desktop.beeps);
}

TEST_F(ExplorerCache, AThumbsDbLoadedAfterwardsForgetsTheRecords)
{
    write_file(dir.file("Thumbs.db"), fixture::write_compound({{"96_abc", fixture::hashed_stream(png)}}));
    ASSERT_EQ(0, app_load(dir.path().c_str()));
    EXPECT_EQ(1, file_list.count);
    EXPECT_NE(STORE_ENTRY_EXPLORER, file_list_entry(0).kind);
}

TEST(ExplorerFolderLoad, AFolderOpensEveryCacheFileInBucketOrder)
{
    start_viewer(330, 250);
    TempDir dir;
    const std::vector<uint8_t> png = fixture::encode_png_rgba(fixture::make_test_image(8, 8, 2));
    // Written in the wrong order on purpose: the listing order is the bucket's.
    const std::vector<std::pair<std::string, uint32_t>> files = {
        {"iconcache_16.db", 0}, {"thumbcache_1280.db", 6}, {"thumbcache_96.db", 3}};
    for (const auto& [name, type] : files) {
        fixture::ThumbcacheSpec spec;
        spec.cache_type = type;
        spec.records.resize(1);
        spec.records[0].hash = 0x100 + type;
        spec.records[0].identifier = name.substr(0, name.find('.'));
        spec.records[0].identifier_from_hash = false;
        spec.records[0].data = png;
        write_file(dir.file(name), fixture::write_thumbcache(spec));
    }
    // The index knows the 96 record's item, also in 256; not the 1280 one.
    // There is no iconcache index.
    fixture::ThumbcacheIndexItem item;
    item.hash = 0x103;
    item.offsets = {THUMBCACHE_NO_OFFSET, THUMBCACHE_NO_OFFSET, THUMBCACHE_NO_OFFSET, 24, 24};
    fixture::ThumbcacheIndexSpec index;
    index.items.push_back(item);
    write_file(dir.file("thumbcache_idx.db"), fixture::write_thumbcache_index(index));
    ASSERT_EQ(0, app_load(dir.path().c_str()));
    ASSERT_EQ(3, file_list.count);
    EXPECT_STREQ("thumbcache_96", file_list_name(0));
    EXPECT_STREQ("thumbcache_1280", file_list_name(1));
    EXPECT_STREQ("iconcache_16", file_list_name(2));
    EXPECT_STREQ("1280", file_list_entry(1).file->bucket);
    EXPECT_TRUE(file_list_has_thumbnail(2));
    EXPECT_EQ(int64_t(1 << 3 | 1 << 4), file_list_index_buckets(0)) << "96 and 256";
    EXPECT_EQ(FILE_LIST_NOT_INDEXED, file_list_index_buckets(1));
    EXPECT_EQ(FILE_LIST_NO_INDEX, file_list_index_buckets(2));
    EXPECT_EQ("96/256", explorer_bucket_list(file_list_entry(0).file->version, uint32_t(file_list_index_buckets(0))));
    file_list_release();
}

TEST(ExplorerCacheFit, LargePicturesAreFittedToTheCellAndOpaque)
{
    // A 256 x 192 icon with a clear first column, as Explorer's 256 bucket holds them.
    start_viewer(330, 250);
    TempDir dir;
    fixture::ThumbcacheSpec spec;
    spec.cache_type = 4;
    spec.records.resize(1);
    spec.records[0].hash = 0x77;
    spec.records[0].data = fixture::encode_bmp32(fixture::make_test_image(256, 192, 3), true);
    write_file(dir.file("thumbcache_256.db"), fixture::write_thumbcache(spec));
    ASSERT_EQ(0, app_load(dir.path().c_str()));
    ASSERT_EQ(1, file_list.count);
    const Picture& p = file_list_picture(0);
    EXPECT_EQ(PICTURE_FIT_BOX_WIDTH, p.width);
    EXPECT_EQ(PICTURE_FIT_BOX_WIDTH * 192 / 256, p.height);
    for (int32_t i = 0; i < p.width * p.height; ++i)
        ASSERT_EQ(0xFF000000u, p.pixels[i] & 0xFF000000u) << "composited over the background at " << i;
    const uint32_t first = file_list_picture(0).pixels[0] & 0xFFFFFF;
    // B: the picture is composited again over the colour chosen.
    headless_answer_colour(0x0000FF);  // COLORREF red
    command_colour();
    const Picture& q = file_list_picture(0);
    ASSERT_EQ(p.width, q.width);
    EXPECT_NE(first, q.pixels[0] & 0xFFFFFF) << "the clear column was composited again";
    const int32_t pixels = q.width * q.height;
    const std::vector<uint32_t> refitted(q.pixels, q.pixels + pixels);
    ASSERT_EQ(0xFF0000u, start_background_colour);
    ASSERT_EQ(0, app_load(dir.path().c_str()));  // p and q go with the old list
    const Picture& loaded = file_list_picture(0);
    ASSERT_EQ(pixels, loaded.width * loaded.height);
    EXPECT_EQ(std::vector<uint32_t>(loaded.pixels, loaded.pixels + pixels), refitted)
        << "as a load over the new colour fits it";
    file_list_release();
}

// Space over an Explorer record: below its bucket, whether its data checksum holds.
TEST(ExplorerCacheInfo, SpaceShowsTheDataChecksumVerdict)
{
    start_viewer(330, 250);
    TempDir dir;
    fixture::ThumbcacheSpec spec;
    spec.cache_type = 4;
    spec.records.resize(2);
    spec.records[0].hash = 0xabc;
    spec.records[0].data = fixture::encode_png_rgba(fixture::make_test_image(40, 30, 1));
    spec.records[1] = spec.records[0];
    spec.records[1].hash = 0xdef;
    spec.records[1].bad_data_checksum = true;
    write_file(dir.file("thumbcache_256.db"), fixture::write_thumbcache(spec));
    ASSERT_EQ(0, app_load(dir.file("thumbcache_256.db").c_str()));
    ASSERT_EQ(2, file_list.count);
    // The line's glyphs on the highlight's black, as drawn at (x, y).
    auto shows = [](int32_t x, int32_t y, const std::string& line) {
        ExpectedFrame want(330, 250, 0);
        want.text(x, y, line, 0xFFFFFF, 0);
        for (int32_t py = y; py < y + 8; ++py)
            for (int32_t px = x; px < x + 6 * int32_t(line.size()); ++px)
                if (headless_pixel(px, py) != want.px[size_t(py) * 330 + size_t(px)])
                    return false;
        return true;
    };
    headless_char(' ');
    headless_move(3, 3);
    headless_frame();
    headless_move(104 + 3, 3);
    headless_frame();
    bool first_seen = false;
    headless_host.on_pump = [&](int pump) {
        if (pump != 1)
            return;
        first_seen = true;
        EXPECT_TRUE(shows(0, 24, "bucket 256"));
        EXPECT_TRUE(shows(0, 32, "data checksum ok"));
    };
    browser_run();
    EXPECT_TRUE(first_seen);
    EXPECT_TRUE(shows(104, 32, "data checksum bad"));
    file_list_release();
}

TEST(ExplorerCacheView, AFrameDecodesTheCellsOnScreenAndAScreenBelowThemAlone)
{
    // 3 columns; the frame shows cell rows 0 to 2 (cells 0 to 8).
    start_viewer(330, 250);
    TempDir dir;
    fixture::ThumbcacheSpec spec;
    spec.cache_type = 1;
    spec.records.resize(60);
    for (uint32_t i = 0; i < 60; ++i) {
        spec.records[i].hash = 0x900 + i;
        spec.records[i].data = fixture::encode_png_rgba(fixture::make_test_image(8, 8, i));
    }
    write_file(dir.file("thumbcache_32.db"), fixture::write_thumbcache(spec));
    ASSERT_EQ(0, app_load(dir.path().c_str()));
    ASSERT_EQ(60, file_list.count);
    for (int32_t i = 0; i < file_list.count; ++i)
        ASSERT_TRUE(file_list_pending(i)) << "a load decodes nothing: " << i;
    headless_frame();
    browser_run();
    for (int32_t i = 0; i < file_list.count; ++i) {
        ASSERT_EQ(i >= 18, file_list_pending(i)) << i;
        if (i < 18) {
            ASSERT_EQ(8, file_list.pictures[i].width) << i;
        }
    }
    file_list_release();
}
