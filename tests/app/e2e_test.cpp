// The real glimmerdex on an Xvfb display, driven with xdotool: its window,
// shot after wheel, pointer and keys, must equal what the headless host draws
// for the same input.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/app_main.h"
#include "app/command_line.h"
#include "host/headless/desktop_headless.h"
#include "host/headless/host_headless.h"
#include "store/file_list.h"
#include "tests/app/viewer_fixture.h"
#include "tests/support/test_support.h"
#include "tests/support/xvfb.h"

namespace {

using test_display::Xvfb;
using test_display::read_ppm;

bool have(const char* program) { return run_command(std::string("command -v ") + program + " >/dev/null 2>&1") == 0; }

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Compares a screenshot with a frame the headless host presented.
::testing::AssertionResult same_pixels(const std::vector<uint32_t>& shot, int w, int h, const std::vector<uint32_t>& frame,
                                       int fw, int fh)
{
    if (w != fw || h != fh)
        return ::testing::AssertionFailure() << "window " << w << "x" << h << ", headless frame " << fw << "x" << fh;
    int differ = 0;
    int first = -1;
    for (size_t i = 0; i < shot.size(); ++i)
        if ((shot[i] & 0xFFFFFF) != (frame[i] & 0xFFFFFF)) {
            if (first < 0)
                first = int(i);
            ++differ;
        }
    if (differ)
        return ::testing::AssertionFailure() << differ << " pixels differ, the first at (" << first % w << ", "
                                             << first / w << ")";
    return ::testing::AssertionSuccess();
}

TEST(EndToEnd, RealWindowMatchesTheHeadlessFrames)
{
    for (const char* tool : {"Xvfb", "xdotool", "import"})
        if (!have(tool))
            GTEST_SKIP() << tool << " not found (Debian: xvfb, xdotool, imagemagick); end-to-end test skipped";
    const std::string viewer = std::string(GLIMMERDEX_BINARY_DIR) + "/glimmerdex";
    if (access(viewer.c_str(), X_OK) != 0)
        GTEST_SKIP() << viewer << " not built; end-to-end test skipped";
    Xvfb x;
    if (x.display().empty())
        GTEST_SKIP() << "Xvfb did not start; end-to-end test skipped";

    TempDir dir;
    std::vector<std::string> names;
    for (int i = 0; i < 14; ++i)
        names.push_back("picture number " + std::to_string(i) + ".jpg");
    write_cache(dir.path(), names);
    ASSERT_EQ(0, chdir(dir.path().c_str()));

    const std::string env = "DISPLAY=" + x.display() + " SDL_VIDEODRIVER=x11 ";
    const std::string window_name = "'^Glimmerdex by Orlancey$'";
    // Started in the background; the shell prints its pid.
    std::string pid_text;
    run_command(env + "'" + viewer + "' /330x250 /backcol=0x203040 . >viewer.log 2>&1 & echo $!", &pid_text);
    const pid_t viewer_pid = pid_t(std::atoi(pid_text.c_str()));
    ASSERT_GT(viewer_pid, 0);
    std::string window;
    ASSERT_EQ(0, run_command(env + "timeout 20 xdotool search --sync --onlyvisible --name " + window_name + " | head -1", &window));
    while (!window.empty() && (window.back() == '\n' || window.back() == ' '))
        window.pop_back();
    ASSERT_FALSE(window.empty());
    auto xdo = [&](const std::string& args) { return run_command(env + "timeout 10 xdotool " + args); };
    auto shot = [&](std::vector<uint32_t>* px, int* w, int* h) {
        pause_ms(400);
        EXPECT_EQ(0, run_command(env + "timeout 10 import -window " + window + " -depth 8 ppm:shot.ppm"));
        return read_ppm(read_file(dir.file("shot.ppm")), w, h, px);
    };

    // The same input on both: one wheel notch away from the user, the pointer
    // over cell 4, Space; then End held for a moment.
    EXPECT_EQ(0, xdo("mousemove --window " + window + " 150 60"));
    pause_ms(200);
    EXPECT_EQ(0, xdo("click --window " + window + " 4"));
    EXPECT_EQ(0, xdo("key --window " + window + " space"));
    std::vector<uint32_t> first;
    int w1 = 0, h1 = 0;
    ASSERT_TRUE(shot(&first, &w1, &h1));
    EXPECT_EQ(0, xdo("keydown End"));
    pause_ms(300);
    EXPECT_EQ(0, xdo("keyup End"));
    std::vector<uint32_t> second;
    int w2 = 0, h2 = 0;
    ASSERT_TRUE(shot(&second, &w2, &h2));
    // Held for a while: the loop reads Esc from the key states once a frame,
    // and a press and release within one frame (a loaded machine) is missed.
    EXPECT_EQ(0, xdo("keydown Escape"));
    pause_ms(300);
    EXPECT_EQ(0, xdo("keyup Escape"));
    int status = -1;
    for (int i = 0; i < 100 && waitpid(viewer_pid, &status, WNOHANG) == 0; ++i)
        pause_ms(100);
    // The viewer is the shell's child, not ours: wait for it to vanish instead.
    for (int i = 0; i < 300 && kill(viewer_pid, 0) == 0; ++i)
        pause_ms(100);
    EXPECT_NE(0, kill(viewer_pid, 0)) << "Esc did not end the viewer";
    if (kill(viewer_pid, 0) == 0)
        kill(viewer_pid, SIGKILL);

    headless_reset(330, 250);
    headless_desktop_reset();
    reset_start_settings();
    headless_wheel(120);
    headless_move(150, 60);
    headless_char(' ');
    headless_frame();
    headless_key(KEY_END, true);
    headless_frame();
    headless_key(KEY_END, false);
    headless_frame();
    std::vector<uint32_t> after_wheel;
    headless_host.on_pump = [&](int pump) {
        if (pump == 1)
            after_wheel = headless_host.presented;
    };
    std::vector<std::string> args{"/330x250", "/backcol=0x203040", "."};
    std::vector<char*> tokens;
    for (std::string& a : args)
        tokens.push_back(a.data());
    ASSERT_EQ(0, app_main(tokens.data(), int(tokens.size())));
    EXPECT_TRUE(same_pixels(first, w1, h1, after_wheel, 330, 250)) << "after wheel, pointer and Space";
    EXPECT_TRUE(same_pixels(second, w2, h2, headless_host.presented, 330, 250)) << "after End";
}

TEST(EndToEnd, SaveThroughTheRealDialogWritesTheStoredJpegWithItsTime)
{
    for (const char* tool : {"Xvfb", "xdotool", "zenity"})
        if (!have(tool))
            GTEST_SKIP() << tool << " not found (Debian: xvfb, xdotool, zenity); end-to-end test skipped";
    const std::string viewer = std::string(GLIMMERDEX_BINARY_DIR) + "/glimmerdex";
    if (access(viewer.c_str(), X_OK) != 0)
        GTEST_SKIP() << viewer << " not built; end-to-end test skipped";
    Xvfb x;
    if (x.display().empty())
        GTEST_SKIP() << "Xvfb did not start; end-to-end test skipped";

    TempDir dir;
    write_cache(dir.path(), {"first.jpg", "second.jpg", "third.jpg"});
    ASSERT_EQ(0, chdir(dir.path().c_str()));
    const std::string env = "DISPLAY=" + x.display() + " SDL_VIDEODRIVER=x11 ";
    std::string pid_text;
    run_command(env + "'" + viewer + "' /330x250 . >viewer.log 2>&1 & echo $!", &pid_text);
    const pid_t viewer_pid = pid_t(std::atoi(pid_text.c_str()));
    ASSERT_GT(viewer_pid, 0);
    auto find = [&](const std::string& name) {
        std::string id;
        run_command(env + "timeout 30 xdotool search --sync --name '^" + name + "$' | head -1", &id);
        while (!id.empty() && (id.back() == '\n' || id.back() == ' '))
            id.pop_back();
        return id;
    };
    auto xdo = [&](const std::string& args) { return run_command(env + "timeout 10 xdotool " + args); };
    const std::string window = find("Glimmerdex by Orlancey");
    ASSERT_FALSE(window.empty());
    EXPECT_EQ(0, xdo("mousemove --window " + window + " 150 60"));  // cell 1, second.jpg
    pause_ms(300);
    EXPECT_EQ(0, xdo("key --window " + window + " s"));
    const std::string dialog = find("Save thumbnail as..");
    ASSERT_FALSE(dialog.empty()) << "no save dialog appeared";
    pause_ms(1500);
    xdo("windowfocus --sync " + dialog);  // no window manager gives it the focus
    // A name without extension: the default one is added.
    EXPECT_EQ(0, xdo("key --window " + dialog + " ctrl+a"));
    EXPECT_EQ(0, xdo("type --window " + dialog + " copy"));
    EXPECT_EQ(0, xdo("key --window " + dialog + " Return"));
    for (int i = 0; i < 100 && !file_exists(dir.file("copy.jpg")); ++i)
        pause_ms(100);
    pause_ms(300);
    struct stat st;
    ASSERT_EQ(0, stat(dir.file("copy.jpg").c_str(), &st)) << "nothing was saved";
    const int64_t unix_seconds = int64_t((CACHE_BASE_TIME + 36000000000ull) / 10000000ull) - 11644473600ll;
    EXPECT_EQ(unix_seconds, int64_t(st.st_mtim.tv_sec));
    EXPECT_EQ(cache_jpeg(1), read_file(dir.file("copy.jpg")));

    // Held for a while, as in the test above; the keyboard goes to the
    // window first, since no window manager gives it back after the dialog.
    xdo("windowfocus --sync " + window);
    EXPECT_EQ(0, xdo("keydown Escape"));
    pause_ms(300);
    EXPECT_EQ(0, xdo("keyup Escape"));
    for (int i = 0; i < 300 && kill(viewer_pid, 0) == 0; ++i)
        pause_ms(100);
    EXPECT_NE(0, kill(viewer_pid, 0)) << "Esc did not end the viewer";
    if (kill(viewer_pid, 0) == 0)
        kill(viewer_pid, SIGKILL);
}

}  // namespace
