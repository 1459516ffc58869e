// The commands on the headless host and desktop: open, save (JPEG copy and
// PNG), load, background colour, information lines.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/app_load.h"
#include "app/app_main.h"
#include "app/browser.h"
#include "app/command_line.h"
#include "host/headless/desktop_headless.h"
#include "host/headless/host_headless.h"
#include "picture/picture.h"
#include "store/file_list.h"
#include "tests/app/viewer_fixture.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbsdb_writer.h"

namespace {

class Commands : public ::testing::Test {
protected:
    void SetUp() override
    {
        start_viewer(330, 250);
        host_name = "Glimmerdex by Orlancey";
        path_buffer[0] = 0;
    }
    void TearDown() override { file_list_release(); }
    // A v7 (or older) cache of a.jpg, b.jpg, c.jpg in dir, loaded as the
    // viewer loads it (its folder current, where Enter opens a name).
    void load(int16_t version = 7, int32_t flags = 2)
    {
        write_cache(dir.path(), {"a.jpg", "b.jpg", "c.jpg"}, version);
        start_display_flags = flags;
        ASSERT_EQ(0, app_load(dir.path().c_str()));
    }
    // Pointer over cell i, then the character, in one frame.
    void at_cell(int i, uint32_t c)
    {
        headless_move(i % 3 * 104 + 10, i / 3 * 104 + 20);
        headless_char(c);
        headless_frame();
    }
    TempDir dir;
};

TEST_F(Commands, EnterOpensTheHoveredFileOrBeeps)
{
    load();
    write_file(dir.file("b.jpg"), {1, 2, 3});
    host_input.mouse_buttons = MOUSE_RIGHT;
    at_cell(1, 13);  // exists
    at_cell(0, 13);  // listed, but deleted from the folder
    headless_move(320, 10);  // over the bar
    headless_char(13);
    headless_frame();
    at_cell(4, 13);  // below the last entry
    browser_run();
    EXPECT_EQ((std::vector<std::string>{"b.jpg", "a.jpg"}), headless_desktop.opened);
    EXPECT_EQ(1, headless_desktop.beeps);
    EXPECT_EQ(0u, host_input.mouse_buttons);  // cleared by the successful open
}

TEST_F(Commands, LeftPressOpensOnlyWhileActive)
{
    load();
    write_file(dir.file("c.jpg"), {1});
    headless_focus(false);
    headless_move(2 * 104 + 5, 50);
    headless_button(MOUSE_LEFT, true);
    headless_frame();
    headless_button(MOUSE_LEFT, false);
    headless_focus(true);
    headless_frame();
    headless_button(MOUSE_LEFT, true);
    headless_frame();
    headless_frame();  // still held: one press, one open
    browser_run();
    EXPECT_EQ((std::vector<std::string>{"c.jpg"}), headless_desktop.opened);
    EXPECT_EQ(0u, host_input.mouse_buttons);
}

TEST_F(Commands, SpaceSwitchesTheInformationLines)
{
    install_entries(numbered_entries(2));
    headless_char(' ');
    headless_frame();
    bool after_one = false;
    headless_host.on_pump = [&](int pump) {
        if (pump == 1)
            after_one = browser.grid.info_toggle;
    };
    headless_char(' ');
    headless_frame();
    browser_run();
    EXPECT_TRUE(after_one);
    EXPECT_FALSE(browser.grid.info_toggle);
}

TEST_F(Commands, SaveFromCurrentCatalogCopiesTheStoredJpegWithItsTime)
{
    load();
    headless_answer_file(dir.file("copy.jpg"));
    host_input.mouse_buttons = MOUSE_RIGHT;
    at_cell(1, 'S');
    browser_run();
    ASSERT_EQ(1u, headless_desktop.dialogs.size());
    const HeadlessDialog& d = headless_desktop.dialogs[0];
    EXPECT_EQ(HEADLESS_SAVE_DIALOG, d.kind);
    EXPECT_EQ("Save thumbnail as..", d.title);
    EXPECT_EQ("b.jpg", d.proposed_path);
    EXPECT_EQ("jpg", d.default_extension);
    ASSERT_EQ(1u, d.filters.size());
    EXPECT_EQ("*.*", d.filters[0].second);
    struct stat st;  // before reading, which may move the access time
    ASSERT_EQ(0, stat(dir.file("copy.jpg").c_str(), &st));
    EXPECT_EQ(cache_jpeg(1), read_file(dir.file("copy.jpg")));
    // Entry 1's catalog time is one hour after the base time.
    const int64_t unix_seconds = int64_t((CACHE_BASE_TIME + 36000000000ull) / 10000000ull) - 11644473600ll;
    EXPECT_EQ(unix_seconds, int64_t(st.st_mtime));
    EXPECT_EQ(unix_seconds, int64_t(st.st_atime));
    EXPECT_EQ(0u, host_input.mouse_buttons);
    EXPECT_TRUE(headless_desktop.message_boxes.empty());
}

TEST_F(Commands, SaveFromOldCatalogWritesThePictureAsPng)
{
    load(5);
    headless_answer_file(dir.file("old.jpg"));  // a PNG, whatever the name says
    at_cell(2, 's');
    browser_run();
    std::vector<uint8_t> png = read_file(dir.file("old.jpg"));
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(0x89, png[0]);
    EXPECT_EQ('P', png[1]);
    // Decoded again, it holds the listed picture's pixels without alpha.
    ASSERT_EQ(0, file_list_build(dir.path().c_str(), 2));
    const Picture& p = file_list.pictures[2];
    int32_t w = 0, h = 0;
    picture_probe(png.data(), int32_t(png.size()), &w, &h);
    ASSERT_EQ(p.width, w);
    ASSERT_EQ(p.height, h);
    std::vector<uint32_t> decoded(size_t(w) * size_t(h));
    ASSERT_EQ(0, picture_decode(png.data(), int32_t(png.size()), reinterpret_cast<uint8_t*>(decoded.data()), w * 4, w,
                                h, 0, 0));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            ASSERT_EQ(p.pixels[size_t(y) * size_t(p.pitch / 4) + size_t(x)] & 0xFFFFFF,
                      decoded[size_t(y) * size_t(w) + size_t(x)] & 0xFFFFFF);
}

TEST_F(Commands, SaveDoesNothingOverAnEmptyCellButClearsTheButtons)
{
    load();
    host_input.mouse_buttons = MOUSE_MIDDLE;
    at_cell(5, 'S');
    browser_run();
    EXPECT_TRUE(headless_desktop.dialogs.empty());
    EXPECT_EQ(0u, host_input.mouse_buttons);
}

TEST_F(Commands, SaveOfAFolderFileWithoutRecordCreatesAnEmptyFile)
{
    write_file(dir.file("extra.bmp"), {1, 2});
    load(7, 3);  // folder files and catalog names: a.jpg b.jpg c.jpg extra.bmp Thumbs.db
    int extra = -1;
    for (int i = 0; i < file_list.count; ++i)
        if (std::string(file_list_name(i)) == "extra.bmp")
            extra = i;
    ASSERT_GE(extra, 0);
    headless_answer_file(dir.file("empty.jpg"));
    at_cell(extra, 'S');
    browser_run();
    ASSERT_TRUE(file_exists(dir.file("empty.jpg")));
    EXPECT_TRUE(read_file(dir.file("empty.jpg")).empty());
}

TEST_F(Commands, SaveThatCannotCreateTheFileSaysSo)
{
    for (int16_t version : {int16_t(7), int16_t(5)}) {
        SetUp();
        load(version);
        headless_answer_file(dir.file("no/such/folder/x.jpg"));
        at_cell(0, 'S');
        browser_run();
        ASSERT_EQ(1u, headless_desktop.message_boxes.size()) << version;
        EXPECT_EQ("ERROR: Couldn't write file!", headless_desktop.message_boxes[0].text);
        EXPECT_EQ("Glimmerdex by Orlancey", headless_desktop.message_boxes[0].caption);
        file_list_release();
    }
}

TEST_F(Commands, SaveWritesOnlyTheBytesAStreamHolds)
{
    // A thumbnail stream whose length field claims 16 MB but holds 20 bytes.
    fixture::CacheSpec spec;
    fixture::CacheEntry e;
    e.name = "a.jpg";
    e.time = CACHE_BASE_TIME;
    spec.entries.push_back(e);
    fixture::Bytes stream = fixture::current_format_stream(fixture::Bytes(20, 0xAB));
    stream[8] = 0;
    stream[9] = 0;
    stream[10] = 0;
    stream[11] = 1;
    fixture::Bytes db = fixture::write_compound(
        {{"Catalog", fixture::write_catalog(spec)}, {fixture::reversed_stream_name(1), stream}});
    write_file(dir.file("Thumbs.db"), db);
    ASSERT_EQ(0, file_list_build(dir.path().c_str(), 2));
    ASSERT_EQ(1, file_list.count);
    headless_answer_file(dir.file("cut.jpg"));
    at_cell(0, 'S');
    browser_run();
    EXPECT_EQ(std::vector<uint8_t>(20, 0xAB), read_file(dir.file("cut.jpg")));
}

TEST_F(Commands, ColourDialogSwapsRedAndBlueAndKeepsOnCancel)
{
    install_entries({});
    start_background_colour = 0x112233;
    headless_answer_cancel();
    headless_answer_colour(0x000000FF);  // COLORREF red
    headless_char('B');
    headless_frame();
    headless_char('b');
    headless_frame();
    uint32_t after_cancel = 0;
    headless_host.on_pump = [&](int pump) {
        if (pump == 1)
            after_cancel = start_background_colour;
    };
    host_input.mouse_buttons = MOUSE_LEFT | MOUSE_RIGHT;
    browser_run();
    EXPECT_EQ(0x112233u, after_cancel);
    ASSERT_EQ(2u, headless_desktop.dialogs.size());
    EXPECT_EQ(0x332211u, headless_desktop.dialogs[0].proposed_colour);
    EXPECT_EQ(0xFF0000u, start_background_colour);
    EXPECT_EQ(0xFF0000u, headless_pixel(0, 0));
    EXPECT_EQ(0u, host_input.mouse_buttons);
}

TEST_F(Commands, LoadReplacesTheListAndSharesThePathWithSave)
{
    load();
    TempDir other;
    write_cache(other.path(), {"x.jpg", "y.jpg", "z.jpg", "w.jpg", "v.jpg"});
    headless_answer_file(dir.file("saved.jpg"));
    at_cell(0, 'S');
    headless_answer_file(other.file("Thumbs.db"));
    headless_char('L');
    headless_frame();
    headless_answer_cancel();
    headless_char('l');
    headless_frame();
    browser_run();
    ASSERT_EQ(3u, headless_desktop.dialogs.size());
    const HeadlessDialog& l = headless_desktop.dialogs[1];
    EXPECT_EQ(HEADLESS_OPEN_DIALOG, l.kind);
    EXPECT_EQ("Select new Thumbs.db", l.title);
    EXPECT_EQ(dir.file("saved.jpg"), l.proposed_path);
    ASSERT_EQ(2u, l.filters.size());
    EXPECT_EQ("Thumbs.db", l.filters[0].second);
    EXPECT_EQ("*.*", l.filters[1].second) << "Explorer cache files have other names";
    EXPECT_EQ(5, file_list.count);  // the cancelled second load changed nothing
    EXPECT_STREQ("x.jpg", file_list_name(0));
}

}  // namespace
