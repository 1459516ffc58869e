// The viewer on a cache without a Catalog: its "<size>_<hex>" thumbnail
// streams show like any thumbnail, with a size line but no date; S saves the
// stored picture; Enter has no file to open and beeps.
#include <sys/stat.h>

#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/app_main.h"
#include "app/browser.h"
#include "app/command_line.h"
#include "host/headless/desktop_headless.h"
#include "host/headless/host_headless.h"
#include "store/file_list.h"
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

TEST_F(HashedCache, InformationShowsTheSizeButNoDate)
{
    headless_char(' ');
    headless_move(10, 20);
    headless_frame();
    browser_run();
    EXPECT_GT(white_in_rows(8, 16), 20) << "the size line";
    EXPECT_EQ(white_in_rows(16, 32), 0) << "no date and time lines";
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
