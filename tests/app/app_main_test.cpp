// Start-up and shutdown: help, window failure, the first load and the open
// dialog, and everything released at the end.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/app_main.h"
#include "app/browser.h"
#include "app/command_line.h"
#include "host/headless/desktop_headless.h"
#include "host/headless/host_headless.h"
#include "platform/system.h"
#include "store/thumbsdb/compound_file.h"
#include "store/file_list.h"
#include "tests/app/viewer_fixture.h"
#include "tests/support/test_support.h"

namespace {

int run_app(std::vector<std::string> args)
{
    std::vector<char*> tokens;
    for (std::string& a : args)
        tokens.push_back(a.data());
    return app_main(tokens.data(), int(tokens.size()));
}

class AppMain : public ::testing::Test {
protected:
    void SetUp() override
    {
        headless_reset(330, 250);
        headless_desktop_reset();
        reset_start_settings();
        path_buffer[0] = 0;
    }
    void TearDown() override { file_list_release(); }
    // Remembers how many entries the first frame showed.
    void watch_first_frame()
    {
        headless_host.on_pump = [this](int pump) {
            if (pump == 1)
                shown = file_list.count;
        };
    }
    int shown = -1;
};

TEST_F(AppMain, HelpEndsBeforeAnyWindowWithCodeOne)
{
    EXPECT_EQ(1, run_app({"/800x600", "-?", "/flags=1"}));
    EXPECT_FALSE(headless_host.created);
    ASSERT_EQ(1u, headless_desktop.message_boxes.size());
    EXPECT_EQ("Glimmerdex help", headless_desktop.message_boxes[0].caption);
    EXPECT_FALSE(headless_desktop.message_boxes[0].owned);
    EXPECT_EQ(2, start_display_flags);  // after /?, nothing is applied
}

TEST_F(AppMain, WindowThatCannotBeMadeGivesMinusOne)
{
    headless_host.fail_create = true;
    EXPECT_EQ(-1, run_app({"/320x200"}));
    EXPECT_TRUE(headless_desktop.message_boxes.empty());
    EXPECT_EQ(320, client_width);
    EXPECT_EQ(200, client_height);
}

TEST_F(AppMain, NothingToLoadAsksThenGivesUpWithHelp)
{
    TempDir empty;
    for (std::vector<std::string> args : {std::vector<std::string>{}, std::vector<std::string>{empty.path()}}) {
        SetUp();
        EXPECT_EQ(1, run_app(args));
        ASSERT_EQ(1u, headless_desktop.dialogs.size());
        const HeadlessDialog& d = headless_desktop.dialogs[0];
        EXPECT_EQ(HEADLESS_OPEN_DIALOG, d.kind);
        EXPECT_EQ("Select new Thumbs.db", d.title);
        EXPECT_EQ("db", d.default_extension);
        EXPECT_TRUE(d.owned);
        ASSERT_EQ(2u, d.filters.size());
        EXPECT_EQ("Thumbs.db", d.filters[0].first);
        EXPECT_EQ("Thumbs.db", d.filters[0].second);
        EXPECT_EQ("*.*", d.filters[1].second);
        ASSERT_EQ(2u, headless_desktop.message_boxes.size());
        EXPECT_EQ("Thumbs.db not found", headless_desktop.message_boxes[0].text);
        EXPECT_EQ("Glimmerdex by Orlancey", headless_desktop.message_boxes[0].caption);
        EXPECT_TRUE(headless_desktop.message_boxes[0].owned);
        EXPECT_EQ("Glimmerdex help", headless_desktop.message_boxes[1].caption);
        EXPECT_TRUE(headless_desktop.message_boxes[1].owned);
        EXPECT_EQ(0, headless_host.presents);
        EXPECT_EQ(nullptr, file_list.name_pool);  // released on this path too
    }
}

TEST_F(AppMain, FolderOnTheCommandLineLoadsAndEverythingIsFreedAtExit)
{
    TempDir dir;
    // Options begin with "/", so the folder is given relative to the
    // current one.
    ASSERT_EQ(0, mkdir(dir.file("pics").c_str(), 0755));
    write_cache(dir.file("pics"), {"one.jpg", "two.jpg", "three.jpg"});
    ASSERT_EQ(0, chdir(dir.path().c_str()));
    watch_first_frame();
    headless_frame();
    EXPECT_EQ(0, run_app({"/330x250", "pics", "/backcol=0x102030"}));
    EXPECT_EQ(3, shown);
    EXPECT_STREQ("Glimmerdex by Orlancey", host_name);
    EXPECT_TRUE(headless_desktop.dialogs.empty());
    EXPECT_EQ(0xC0C0C0C0u, headless_pixel(329, 249));  // all-thumb bar
    EXPECT_EQ(0x102030u, headless_pixel(300, 249));
    EXPECT_EQ(0, file_list.count);
    EXPECT_EQ(nullptr, file_list.pictures);
    EXPECT_EQ(nullptr, stream_table.pool);
    EXPECT_EQ(-1, stream_table.catalog_slot);
    EXPECT_EQ(0, stream_table.count);
    EXPECT_FALSE(headless_host.created);
}

TEST_F(AppMain, PathNamingTheCacheFileUsesItsFolder)
{
    TempDir dir;
    ASSERT_EQ(0, mkdir(dir.file("pics").c_str(), 0755));
    write_cache(dir.file("pics"), {"a.jpg", "b.jpg"}, 7, "thumbs.db");
    ASSERT_EQ(0, chdir(dir.path().c_str()));
    // The help's own example: the cache file itself, in any letter case.
    for (const char* path : {"pics/thumbs.db", "pics/Thumbs.db"}) {
        SetUp();
        watch_first_frame();
        headless_frame();
        EXPECT_EQ(0, run_app({path})) << path;
        EXPECT_EQ(2, shown) << path;
        EXPECT_TRUE(headless_desktop.dialogs.empty()) << path;
        ASSERT_EQ(0, chdir(dir.path().c_str()));
    }
    ASSERT_EQ(0, chdir(dir.file("pics").c_str()));
    SetUp();
    watch_first_frame();
    headless_frame();
    EXPECT_EQ(0, run_app({"THUMBS.DB"}));
    EXPECT_EQ(2, shown);
}

// The Windows entry: one command line cut by the program's tokenizer. There
// a quoted absolute path with a drive letter and backslashes names the cache
// file; on Linux a backslash is part of a name, so the same kind of path
// names no file and the open dialog follows.
TEST_F(AppMain, CommandLineAsOneStringWithBackslashes)
{
    TempDir dir;
    ASSERT_EQ(0, mkdir(dir.file("pics").c_str(), 0755));
    write_cache(dir.file("pics"), {"a.jpg", "b.jpg"}, 7, "thumbs.db");
    ASSERT_EQ(0, chdir(dir.path().c_str()));
    watch_first_frame();
    headless_frame();
#ifdef _WIN32
    char absolute[SYS_MAX_PATH];
    ASSERT_EQ(0, sys_absolute_path("pics", absolute, SYS_MAX_PATH));
    ASSERT_EQ(absolute[1], ':') << absolute;
    std::string line = std::string("\"") + absolute + "\\THUMBS.DB\" /320x200";
    EXPECT_EQ(0, app_main_line(line.data())) << line;
    EXPECT_EQ(2, shown);
    EXPECT_EQ(320, start_width);
    EXPECT_TRUE(headless_desktop.dialogs.empty());
#else
    std::string line = "pics\\thumbs.db /320x200";
    EXPECT_EQ(1, app_main_line(line.data()));
    ASSERT_EQ(1u, headless_desktop.dialogs.size());
    EXPECT_EQ(320, start_width);
#endif
}

// Paths on the command line are the start folder's, though the load makes
// the cache's folder current.
TEST_F(AppMain, RelativeIndexIsReadFromTheStartFolder)
{
#ifndef GLIMMERDEX_HAVE_SQLITE
    GTEST_SKIP() << "this build reads no Windows.db (no SQLite)";
#endif
    TempDir root;
    ASSERT_TRUE(make_folders(root.file("evidence")) && make_folders(root.file("work/idx")));
    uint64_t known = 0;
    std::string path;
    if (!copy_corpus_search_index(root.file("work/idx"), &known, &path))
        GTEST_SKIP() << "the corpus's Windows 11 search index is absent; test skipped";
    write_hashed_cache(root.file("evidence/Thumbs.db"), {known});
    // The cache named on the command line, and chosen in the open dialog.
    for (const bool from_dialog : {false, true}) {
        SetUp();
        ASSERT_EQ(0, chdir(root.file("work").c_str()));
        std::string named, current;
        headless_host.on_pump = [&](int pump) {
            char cwd[4096];
            if (pump == 1 && file_list.count == 1 && getcwd(cwd, sizeof cwd)) {
                named = file_list_name(0);
                current = cwd;
            }
        };
        headless_frame();
        if (from_dialog)
            headless_answer_file(root.file("evidence/Thumbs.db"));
        EXPECT_EQ(0, run_app(from_dialog ? std::vector<std::string>{"/index=idx/Windows.db"}
                                         : std::vector<std::string>{"../evidence", "/index=idx/Windows.db"}));
        EXPECT_EQ(path, named) << from_dialog;
        std::error_code error;
        EXPECT_TRUE(std::filesystem::equivalent(current, root.file("evidence"), error))
            << current << ": the viewer's load leaves the cache's folder current";
    }
}

TEST_F(AppMain, DialogAnswerIsLoadedFromTheChosenFolder)
{
    TempDir dir;
    write_cache(dir.path(), {"a.jpg", "b.jpg", "c.jpg", "d.jpg"});
    headless_answer_file(dir.file("Thumbs.db"));
    watch_first_frame();
    headless_frame();
    EXPECT_EQ(0, run_app({}));
    EXPECT_EQ(4, shown);
    EXPECT_EQ(dir.file("Thumbs.db"), std::string(path_buffer));
}

TEST_F(AppMain, UnloadableChoiceStartsWithAnEmptyView)
{
    TempDir dir;
    write_file(dir.file("Thumbs.db"), std::vector<uint8_t>(700, 0x5A));
    headless_answer_file(dir.file("Thumbs.db"));
    watch_first_frame();
    headless_frame();
    start_background_colour = 0;
    EXPECT_EQ(0, run_app({"/backcol=0x00FF00"}));
    EXPECT_EQ(0, shown);
    for (uint32_t p : headless_host.presented)
        ASSERT_EQ(0x00FF00u, p);
    EXPECT_TRUE(headless_desktop.message_boxes.empty());
}

TEST_F(AppMain, AnUnreadableDiskImageIsToldAndTheDialogAsks)
{
    // An E01's signature and nothing behind it: no build reads it; one
    // without the image libraries says so before the dialog asks again.
    TempDir dir;
    write_file(dir.file("case.E01"), {'E', 'V', 'F', 9, 13, 10, 0xFF, 0, 1, 1, 0, 0, 0});
    headless_answer_cancel();
    EXPECT_EQ(1, run_app({dir.file("case.E01")}));
    ASSERT_EQ(1u, headless_desktop.dialogs.size());
    std::vector<std::string> texts;
    for (const HeadlessMessageBox& box : headless_desktop.message_boxes)
        texts.push_back(box.text);
    const bool told = std::find(texts.begin(), texts.end(), "disk images are not read by this build") != texts.end();
#ifdef _WIN32
    EXPECT_TRUE(told);
#else
    EXPECT_FALSE(told);
#endif
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Thumbs.db not found"), texts.end());
    EXPECT_EQ(nullptr, file_list.name_pool);
}

TEST_F(AppMain, HostileCachesNeverTakeTheWindowDown)
{
    TempDir dir;
    std::vector<uint8_t> good = write_cache(dir.path(), {"a.jpg", "b.jpg", "c.jpg"});
    // Truncations and byte flips of a valid cache: each loads what it can and
    // the loop draws it, with the pointer over every cell in turn.
    for (size_t cut : {size_t(0), size_t(8), size_t(512), size_t(1024), good.size() / 2, good.size() - 1}) {
        std::vector<uint8_t> bytes(good.begin(), good.begin() + long(cut));
        for (int flip = 0; flip < 2; ++flip) {
            if (flip)
                for (size_t i = 60; i < bytes.size(); i += 97)
                    bytes[i] ^= 0xFF;
            write_file(dir.file("Thumbs.db"), bytes);
            SetUp();
            for (int cell = 0; cell < 4; ++cell) {
                headless_move(cell % 3 * 104 + 5, cell / 3 * 104 + 5);
                headless_char(' ');
                headless_frame();
            }
            ASSERT_EQ(0, chdir(dir.path().c_str()));
            int code = run_app({"."});
            EXPECT_TRUE(code == 0 || code == 1) << "cut " << cut;
        }
    }
}

}  // namespace
