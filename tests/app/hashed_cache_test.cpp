// The viewer on a cache without a Catalog: its "<size>_<hex>" thumbnail
// streams show like any thumbnail, with a size line but no date; S saves the
// stored picture; Enter has no file to open and beeps.
#include <sys/stat.h>

#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/app_load.h"
#include "app/app_main.h"
#include "app/browser.h"
#include "app/command_line.h"
#include "host/headless/desktop_headless.h"
#include "host/headless/host_headless.h"
#include "picture/fit.h"
#include "store/file_list.h"
#include "tests/support/bytes.h"
#include "tests/app/viewer_fixture.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbsdb_writer.h"

namespace {

class HashedCache : public ::testing::Test {
protected:
    void SetUp() override
    {
        start_viewer(330, 250);
        host_name = "Glimmerdex by Orlancey";
        path_buffer[0] = 0;
        jpeg = fixture::encode_jpeg(fixture::make_test_image(60, 40, 3));
        write_file(dir.file("Thumbs.db"), fixture::write_compound({{"256_2a9845460850edaf", fixture::hashed_stream(jpeg)},
                                                                  {"96_abc", fixture::hashed_stream(jpeg)}}));
        ASSERT_EQ(0, file_list_build(dir.path().c_str(), 2));
        ASSERT_EQ(2, file_list.count);
    }
    void TearDown() override { file_list_release(); }
    TempDir dir;
    std::vector<uint8_t> jpeg;
};

// White pixels in rows [y0, y1) of the cell's first 104 columns.
int white_in_rows(int y0, int y1)
{
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = 0; x < 104; ++x)
            n += (headless_pixel(x, y) & 0xFFFFFF) == 0xFFFFFF;
    return n;
}

} // namespace

TEST_F(HashedCache, InformationShowsTheSizeAndTheStreamNameButNoDate)
{
    headless_char(' ');
    headless_move(10, 20);
    headless_frame();
    browser_run();
    EXPECT_GT(white_in_rows(8, 16), 20) << "the size line";
    EXPECT_GT(white_in_rows(16, 24), 20) << "the stream's own name, its key";
    EXPECT_EQ(white_in_rows(24, 32), 0) << "no time line";
}

TEST_F(HashedCache, SaveWritesTheStoredPictureAndEnterBeeps)
{
    headless_answer_file(dir.file("copy.jpg"));
    headless_move(104 + 10, 20);
    headless_char('S');
    headless_char(13);
    headless_frame();
    std::time_t before = std::time(nullptr);
    browser_run();
    ASSERT_EQ(1u, headless_desktop.dialogs.size());
    EXPECT_EQ("96_abc", headless_desktop.dialogs[0].proposed_path);
    EXPECT_EQ(jpeg, read_file(dir.file("copy.jpg")));
    struct stat st;
    ASSERT_EQ(0, stat(dir.file("copy.jpg").c_str(), &st));
    EXPECT_GE(st.st_mtime + 2, before) << "the time of writing, as there is no catalog time";
    EXPECT_TRUE(headless_desktop.opened.empty());
    EXPECT_EQ(1, headless_desktop.beeps);
}

TEST(HashedCacheFit, AlphaShowsTheBackgroundColourOfTheLoad)
{
    // A 200 x 100 bottom-up V5 bitmap: the left half clear green, the right
    // half opaque red.
    ByteBuilder bmp;
    bmp.text("BM").u32(0).u32(0).u32(14 + 124).u32(124).u32(200).u32(100).u16(1).u16(32).u32(3).fill(20, 0);
    bmp.u32(0xFF0000).u32(0xFF00).u32(0xFF).u32(0xFF000000).fill(124 - 56, 0);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x)
            bmp.u32(x < 100 ? 0x0000FF00 : 0xFFFF0000);
    TempDir dir;
    write_file(dir.file("Thumbs.db"), fixture::write_compound({{"256_a", fixture::hashed_stream(bmp.b)}}));
    start_viewer(330, 250);
    for (uint32_t background : {0x204060u, 0xFFFFFFu}) {
        SCOPED_TRACE(background);
        start_background_colour = background;
        ASSERT_EQ(app_load(dir.path().c_str()), 0);
        ASSERT_EQ(file_list.count, 1);
        const Picture& p = file_list_picture(0);
        ASSERT_EQ(p.width, PICTURE_FIT_BOX_WIDTH);
        ASSERT_EQ(p.height, PICTURE_FIT_BOX_WIDTH / 2);
        EXPECT_EQ(p.pixels[5 * p.width + 10], 0xFF000000 | background);
        EXPECT_EQ(p.pixels[5 * p.width + p.width - 10], 0xFFFF0000u);
    }
    start_background_colour = 0;
    file_list_release();
}
