// The viewer on a disk image: the cells are those of the caches put in, read
// through the image; no name of the image is opened as a file of this
// machine, and the current directory stays where it was.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "app/app_load.h"
#include "app/commands.h"
#include "host/headless/desktop_headless.h"
#include "host/window.h"
#include "store/file_list.h"
#include "tests/image/test_images.h"

namespace {

class ViewerImage : public TestImages {};

std::string current_folder()
{
    char here[4096];
    return getcwd(here, sizeof here) ? here : "";
}

// The names and picture widths of the list, in order.
std::string cells()
{
    std::string out;
    for (int32_t i = 0; i < file_list.count; ++i)
        out += std::string(file_list_name(i)) + ":" + std::to_string(file_list_picture(i).width) + " ";
    return out;
}

} // namespace

TEST_F(ViewerImage, AnImageShowsTheCachesPutInAndOpensNoFileByTheirNames)
{
    const std::string before = current_folder();
    // What the caches show read from their own files.
    ASSERT_EQ(app_load(at("parts/explorer").c_str()), 0);
    const std::string explorer = cells();
    ASSERT_EQ(app_load(at("parts/live/Thumbs.db").c_str()), 0);
    const std::string thumbs = cells();
    ASSERT_EQ(chdir(before.c_str()), 0);  // loading a folder makes it current, as the viewer documents

    ASSERT_EQ(app_load(at("disk.raw").c_str()), 0);
    EXPECT_TRUE(app_load_is_image());
    EXPECT_EQ(cells(), explorer) << "the live and the deleted Explorer cache, linked with their index";
    EXPECT_EQ(file_list_index_buckets(0), int64_t(1 << 1 | 1 << 4)) << "32 and 256, from the index in the image";

    ASSERT_EQ(app_load(at("fat.img").c_str()), 0);
    EXPECT_EQ(cells(), thumbs);
    EXPECT_EQ(current_folder(), before);
    headless_desktop_reset();
    host_input.app_active = 1;
    command_open(0);
    EXPECT_TRUE(headless_desktop.opened.empty()) << "beach.jpg is in the image, not here";
    EXPECT_EQ(headless_desktop.beeps, 1);

    // Another cache afterwards: the image is let go of.
    ASSERT_EQ(app_load(at("parts/live/Thumbs.db").c_str()), 0);
    EXPECT_FALSE(app_load_is_image());
    EXPECT_EQ(cells(), thumbs);
    ASSERT_EQ(chdir(before.c_str()), 0);
    EXPECT_NE(app_load(dir->file("parts").c_str()), 0) << "a folder without caches";
    app_load_release();
}
