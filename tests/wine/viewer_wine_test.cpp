// glimmerdex.exe, the native Windows build, under Wine on a private Xvfb,
// driven with xdotool: its window, shot after pointer, wheel, keys and
// buttons, must equal what the headless host draws for the same input; the
// comdlg32 dialogs are answered by typing into them.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/app_main.h"
#include "app/browser.h"
#include "app/command_line.h"
#include "host/headless/desktop_headless.h"
#include "host/headless/host_headless.h"
#include "tests/support/test_support.h"
#include "tests/support/xvfb.h"
#include "tools/fixture/thumbsdb_writer.h"

#ifndef GLIMMERDEX_WINDOWS_BUILD_DIR
#define GLIMMERDEX_WINDOWS_BUILD_DIR ""
#endif

namespace {

using test_display::Xvfb;
using test_display::read_ppm;

constexpr int WINDOW_WIDTH = 330;
constexpr int WINDOW_HEIGHT = 250;
constexpr const char* WINDOW_NAME = "Glimmerdex by Orlancey";
// A fresh prefix makes the first start slow on a loaded machine.
constexpr int FIRST_WINDOW_SECONDS = 120;
constexpr int WINDOW_SECONDS = 60;
constexpr int EXIT_SECONDS = 60;
constexpr uint64_t HOUR = 36000000000ull;  // in FILETIME ticks
constexpr uint64_t BASE_TIME = 128980119090000000ull;
constexpr int KEY_KEYPAD_7 = 71;  // scan code 0x47, not extended

using Clock = std::chrono::steady_clock;

bool have(const char* program) { return run_command(std::string("command -v ") + program + " >/dev/null 2>&1") == 0; }

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string trimmed(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

struct Shot {
    int w = 0;
    int h = 0;
    std::vector<uint32_t> px;
};

bool same(const Shot& shot, const std::vector<uint32_t>& frame)
{
    if (shot.w != WINDOW_WIDTH || shot.h != WINDOW_HEIGHT || frame.size() != shot.px.size())
        return false;
    for (size_t i = 0; i < frame.size(); ++i)
        if ((shot.px[i] & 0xFFFFFF) != (frame[i] & 0xFFFFFF))
            return false;
    return true;
}

::testing::AssertionResult same_pixels(const Shot& shot, const std::vector<uint32_t>& frame)
{
    if (shot.w != WINDOW_WIDTH || shot.h != WINDOW_HEIGHT)
        return ::testing::AssertionFailure() << "client area " << shot.w << "x" << shot.h << ", headless frame "
                                             << WINDOW_WIDTH << "x" << WINDOW_HEIGHT;
    if (frame.size() != shot.px.size())
        return ::testing::AssertionFailure() << "the headless run presented no frame here";
    int differ = 0;
    int first = -1;
    for (size_t i = 0; i < frame.size(); ++i)
        if ((shot.px[i] & 0xFFFFFF) != (frame[i] & 0xFFFFFF)) {
            if (first < 0)
                first = int(i);
            ++differ;
        }
    if (differ)
        return ::testing::AssertionFailure() << differ << " pixels differ, the first at (" << first % shot.w << ", "
                                             << first / shot.w << ")";
    return ::testing::AssertionSuccess();
}

// The Windows name of a Linux path: Wine's drive Z: is the root folder.
std::string windows_path(const std::string& path)
{
    std::string out = "Z:";
    for (char c : path)
        out += c == '/' ? '\\' : c;
    return out;
}

std::vector<uint8_t> stored_jpeg(uint32_t seed) { return fixture::encode_jpeg(fixture::make_test_image(96, 72, seed)); }

// folder/Thumbs.db, version 7: entry i stores stored_jpeg(first_seed + i)
// with the catalog time BASE_TIME + i hours.
void write_cache(const std::string& folder, const std::vector<std::string>& names, uint32_t first_seed)
{
    fixture::CacheSpec spec;
    for (size_t i = 0; i < names.size(); ++i) {
        fixture::CacheEntry e;
        e.name = names[i];
        e.time = BASE_TIME + uint64_t(i) * HOUR;
        e.picture = stored_jpeg(first_seed + uint32_t(i));
        spec.entries.push_back(e);
    }
    write_file(folder + "/Thumbs.db", fixture::write_thumbs_db(spec));
}

std::vector<std::string> numbered_names(const std::string& stem, int count)
{
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        names.push_back(stem + " " + std::to_string(i) + ".jpg");
    return names;
}

// The headless run of the same input: steps of events, each ended by a
// mark; the frame presented at each mark is kept.
class HeadlessRun {
public:
    HeadlessRun()
    {
        headless_reset(WINDOW_WIDTH, WINDOW_HEIGHT);
        headless_desktop_reset();
        reset_start_settings();
    }
    void frame()
    {
        headless_frame();
        ++frames_;
    }
    void key(int index)  // held for one frame, as a press that spans pumps
    {
        headless_key(index, true);
        frame();
        headless_key(index, false);
        frame();
    }
    void mark() { marks_.push_back(frames_); }
    // Runs app_main; check(i, frame) sees the frame at mark i.
    int run(std::vector<std::string> args, const std::function<void(size_t, const std::vector<uint32_t>&)>& check)
    {
        headless_host.on_pump = [&](int pump) {
            for (size_t i = 0; i < marks_.size(); ++i)
                if (marks_[i] == pump)
                    check(i, headless_host.presented);
        };
        std::vector<char*> tokens;
        for (std::string& a : args)
            tokens.push_back(a.data());
        int code = app_main(tokens.data(), int(tokens.size()));
        headless_host.on_pump = nullptr;
        return code;
    }
    std::vector<std::vector<uint32_t>> run(std::vector<std::string> args, int* code)
    {
        std::vector<std::vector<uint32_t>> frames(marks_.size());
        *code = run(std::move(args), [&](size_t i, const std::vector<uint32_t>& f) { frames[i] = f; });
        return frames;
    }

private:
    int frames_ = 0;
    std::vector<int> marks_;
};

// One Xvfb and one fresh Wine prefix for the whole program.
struct WineSession {
    Xvfb x;
    TempDir dir;
    std::string prefix;
    std::string skip_reason;
    double boot_seconds = 0;
    bool first_start = true;

    WineSession()
    {
        prefix = dir.path() + "/prefix";
        if (x.display().empty()) {
            skip_reason = "Xvfb did not start";
            return;
        }
        const Clock::time_point start = Clock::now();
        if (run_command(env() + "timeout 300 wineboot -i >'" + dir.file("wineboot.log") + "' 2>&1") != 0) {
            skip_reason = "wineboot -i failed (see " + dir.file("wineboot.log") + ")";
            return;
        }
        boot_seconds = seconds_since(start);
        // A fresh prefix knows txtfile (notepad) but does not tie .txt to it.
        if (run_command(env() + "timeout 120 wine reg add 'HKCR\\.txt' /ve /d txtfile /f >/dev/null 2>&1") != 0) {
            skip_reason = "the .txt association could not be added to the prefix";
            return;
        }
        std::printf("[ wine     ] wineboot -i on a fresh prefix: %.1f s\n", boot_seconds);
    }
    ~WineSession()
    {
        // The prefix's own server and its helper processes, started by us.
        if (!x.display().empty())
            run_command(env() + "timeout 30 wineserver -k >/dev/null 2>&1");
    }
    std::string env() const
    {
        return "DISPLAY=" + x.display() + " WINEPREFIX='" + prefix + "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' ";
    }
};

std::unique_ptr<WineSession> session;

// One glimmerdex.exe run: started as our child, so its exit code is seen.
class WineViewer {
public:
    WineViewer(const std::string& exe, const std::vector<std::string>& args, const std::string& log)
    {
        std::vector<std::string> argv{"wine", exe};
        argv.insert(argv.end(), args.begin(), args.end());
        start_ = Clock::now();
        pid_ = fork();
        if (pid_ == 0) {
            setenv("DISPLAY", session->x.display().c_str(), 1);
            setenv("WINEPREFIX", session->prefix.c_str(), 1);
            setenv("WINEDEBUG", "-all", 1);
            setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
            int null_fd = open("/dev/null", O_RDONLY);
            int log_fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(null_fd, 0);
            dup2(log_fd, 1);
            dup2(log_fd, 2);
            std::vector<char*> p;
            for (std::string& a : argv)
                p.push_back(a.data());
            p.push_back(nullptr);
            execvp("wine", p.data());
            _exit(127);
        }
    }
    ~WineViewer()
    {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // The exit code once the process ended, -1000 on a timeout.
    int wait_exit(int seconds)
    {
        int status = 0;
        for (int i = 0; i < seconds * 10; ++i) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -2000;
            }
            pause_ms(100);
        }
        return -1000;
    }
    double seconds() const { return seconds_since(start_); }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
    Clock::time_point start_;
};

class WineViewerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        for (const char* tool : {"wine", "wineboot", "wineserver", "Xvfb", "xdotool", "xwininfo", "xprop", "import"})
            if (!have(tool)) {
                suite_skip = std::string(tool) + " not found (Debian: wine64, xvfb, xdotool, x11-utils, imagemagick)";
                return;
            }
        const std::string folder = GLIMMERDEX_WINDOWS_BUILD_DIR;
        if (folder.empty() || access((folder + "/glimmerdex.exe").c_str(), R_OK) != 0) {
            suite_skip = "glimmerdex.exe not found in the Windows build folder '" + folder +
                         "' (build it with the windows preset; GLIMMERDEX_WINDOWS_BUILD_DIR names the folder)";
            return;
        }
        session = std::make_unique<WineSession>();
        suite_skip = session->skip_reason;
    }
    static void TearDownTestSuite() { session.reset(); }

    void SetUp() override
    {
        if (!suite_skip.empty())
            GTEST_SKIP() << suite_skip << "; Wine test skipped";
        // A folder with a blank: the command line then starts with a quoted
        // program name, which WinMain must skip as a whole.
        exe_folder_ = dir_.path() + "/windows build";
        std::filesystem::create_directory(exe_folder_);
        std::filesystem::copy_file(std::string(GLIMMERDEX_WINDOWS_BUILD_DIR) + "/glimmerdex.exe",
                                   exe_folder_ + "/glimmerdex.exe");
    }

    std::unique_ptr<WineViewer> start(const std::vector<std::string>& args)
    {
        return std::make_unique<WineViewer>(exe_folder_ + "/glimmerdex.exe", args, dir_.file("viewer.log"));
    }
    int xdo(const std::string& args) { return run_command(session->env() + "timeout 20 xdotool " + args); }
    // The first visible window with exactly this name, "" after the timeout.
    std::string find_window(const std::string& name, int seconds)
    {
        std::string id;
        run_command(session->env() + "timeout " + std::to_string(seconds) + " xdotool search --sync --onlyvisible --name '^" +
                        name + "$' 2>/dev/null | head -1",
                    &id);
        return trimmed(id);
    }
    bool window_gone(const std::string& id, int seconds)
    {
        for (int i = 0; i < seconds * 10; ++i) {
            if (run_command(session->env() + "xdotool getwindowname " + id + " >/dev/null 2>&1") != 0 ||
                run_command(session->env() + "xwininfo -id " + id + " 2>/dev/null | grep -q IsViewable") != 0)
                return true;
            pause_ms(100);
        }
        return false;
    }
    std::string find_viewer(WineViewer& viewer)
    {
        const int seconds = session->first_start ? FIRST_WINDOW_SECONDS : WINDOW_SECONDS;
        std::string id = find_window(WINDOW_NAME, seconds);
        if (!id.empty() && session->first_start)
            std::printf("[ wine     ] first window after %.1f s\n", viewer.seconds());
        session->first_start = false;
        return id;
    }
    // The client area (Wine's X window of the top-level window is exactly it).
    Shot shot(const std::string& window)
    {
        pause_ms(500);
        Shot s;
        const std::string file = dir_.file("shot.ppm");
        EXPECT_EQ(0, run_command(session->env() + "timeout 20 import -window " + window + " -depth 8 ppm:'" + file + "'"));
        EXPECT_TRUE(read_ppm(read_file(file), &s.w, &s.h, &s.px)) << "no screenshot";
        return s;
    }
    // A key held long enough for the viewer's loop to see it down.
    void hold(const std::string& key, int ms)
    {
        EXPECT_EQ(0, xdo("keydown " + key));
        pause_ms(ms);
        EXPECT_EQ(0, xdo("keyup " + key));
    }

    static std::string suite_skip;
    TempDir dir_;
    std::string exe_folder_;
};

std::string WineViewerTest::suite_skip;

TEST_F(WineViewerTest, WindowMatchesTheHeadlessFramesForPointerWheelKeysAndButtons)
{
    const std::string cache = dir_.path() + "/cache";
    std::filesystem::create_directory(cache);
    write_cache(cache, numbered_names("picture number", 20), 1);

    auto viewer = start({windows_path(cache), "/330x250", "/backcol=0x203040"});
    const std::string window = find_viewer(*viewer);
    ASSERT_FALSE(window.empty()) << "no window named " << WINDOW_NAME << " appeared";
    xdo("windowfocus --sync " + window);

    // The real window: each step, then a shot of the client area.
    std::vector<Shot> shots;
    // Pointer over cell 4, one wheel notch away from the user, Space (WM_CHAR).
    EXPECT_EQ(0, xdo("mousemove --window " + window + " 150 60"));
    pause_ms(200);
    EXPECT_EQ(0, xdo("click 4"));
    EXPECT_EQ(0, xdo("key space"));
    shots.push_back(shot(window));
    hold("Next", 150);  // Page Down: extended scan code 0x51, index 209
    shots.push_back(shot(window));
    hold("KP_Up", 300);  // keypad 8 with NumLock off: 0x48 not extended, index 72, not Up
    shots.push_back(shot(window));
    hold("End", 300);  // index 207
    shots.push_back(shot(window));
    hold("KP_Home", 300);  // keypad 7 with NumLock off: index 71, not Home
    shots.push_back(shot(window));
    hold("Home", 300);  // index 199
    shots.push_back(shot(window));
    // A raw-input left press on the scrollbar strip below its thumb: a page on.
    EXPECT_EQ(0, xdo("mousemove --window " + window + " 322 240"));
    pause_ms(200);
    EXPECT_EQ(0, xdo("mousedown 1"));
    pause_ms(200);
    EXPECT_EQ(0, xdo("mouseup 1"));
    shots.push_back(shot(window));
    hold("Down", 300);  // index 208: scrolls by time, so only its direction is known
    const Shot after_down = shot(window);
    EXPECT_EQ(0, xdo("key alt+F4"));  // closed through the default window procedure
    EXPECT_EQ(0, viewer->wait_exit(EXIT_SECONDS)) << "closing the window did not end the viewer with 0";

    // The same input on the headless host.
    auto script = [](HeadlessRun& h) {
        headless_move(150, 60);
        headless_wheel(HOST_WHEEL_NOTCH);
        headless_char(' ');
        h.frame();
        h.mark();
        h.key(KEY_PAGE_DOWN);
        h.mark();
        h.key(KEY_KEYPAD_8);
        h.mark();
        h.key(KEY_END);
        h.mark();
        h.key(KEY_KEYPAD_7);
        h.mark();
        h.key(KEY_HOME);
        h.mark();
        headless_move(322, 240);
        headless_button(MOUSE_LEFT, true);
        h.frame();
        headless_button(MOUSE_LEFT, false);
        h.frame();
        h.mark();
    };
    const std::vector<std::string> args{cache, "/330x250", "/backcol=0x203040"};
    HeadlessRun run;
    script(run);
    int code = -1;
    const std::vector<std::vector<uint32_t>> frames = run.run(args, &code);
    ASSERT_EQ(0, code);
    const char* what[] = {"after pointer, wheel and Space", "after Page Down", "after keypad 8 (NumLock off)",
                          "after End",  "after keypad 7 (NumLock off)", "after Home",
                          "after a left press on the scrollbar"};
    ASSERT_EQ(shots.size(), frames.size());
    for (size_t i = 0; i < shots.size(); ++i)
        EXPECT_TRUE(same_pixels(shots[i], frames[i])) << what[i];
    // What the comparisons mean: the keys the browser reads move the view,
    // the keypad keys with NumLock off (other indices) do not.
    auto frame_shot = [](const std::vector<uint32_t>& f) { return Shot{WINDOW_WIDTH, WINDOW_HEIGHT, f}; };
    EXPECT_FALSE(same(frame_shot(frames[0]), frames[1])) << "Page Down";
    EXPECT_TRUE(same(frame_shot(frames[1]), frames[2])) << "keypad 8";
    EXPECT_FALSE(same(frame_shot(frames[2]), frames[3])) << "End";
    EXPECT_TRUE(same(frame_shot(frames[3]), frames[4])) << "keypad 7";
    EXPECT_FALSE(same(frame_shot(frames[4]), frames[5])) << "Home";
    EXPECT_FALSE(same(frame_shot(frames[5]), frames[6])) << "left press on the scrollbar";

    // Down: the shot must be a frame the headless loop reaches by scrolling
    // on from the last position, one pixel at a time.
    HeadlessRun search;
    script(search);
    constexpr int most = 7 * GRID_CELL_PITCH;  // the whole list
    for (int k = 1; k <= most; ++k) {
        headless_wheel(1);
        search.frame();
        search.mark();
    }
    int found = -1;
    search.run(args, [&](size_t i, const std::vector<uint32_t>& f) {
        if (i >= shots.size() && found < 0 && same(after_down, f))
            found = int(i - shots.size()) + 1;
    });
    EXPECT_GT(found, 0) << "after Down the window shows no position below the previous one";
}

TEST_F(WineViewerTest, ColourLoadAndSaveDialogsAnsweredByTyping)
{
    const std::string first = dir_.path() + "/first";
    const std::string other = dir_.path() + "/other";
    const std::string elsewhere = dir_.path() + "/elsewhere";
    for (const std::string& f : {first, other, elsewhere})
        std::filesystem::create_directory(f);
    write_cache(first, {"first.jpg", "second.jpg", "third.jpg"}, 1);
    write_cache(other, {"other 0.jpg", "other 1.jpg", "other 2.jpg", "other 3.jpg", "notes.txt"}, 40);
    write_file(other + "/notes.txt", {'n', 'o', 't', 'e', 's', '\n'});

    auto viewer = start({windows_path(first), "/330x250"});
    const std::string window = find_viewer(*viewer);
    ASSERT_FALSE(window.empty()) << "no window named " << WINDOW_NAME << " appeared";
    xdo("windowfocus --sync " + window);
    EXPECT_EQ(0, xdo("mousemove --window " + window + " 150 60"));  // cell 1
    std::vector<Shot> shots;
    shots.push_back(shot(window));

    // B: the colour dialog opens in full; red 32, green 64, blue 96 typed
    // into its fields come back as COLORREF 0x604020.
    EXPECT_EQ(0, xdo("key b"));
    std::string colour = find_window("Color", WINDOW_SECONDS);
    ASSERT_FALSE(colour.empty()) << "no colour dialog appeared";
    pause_ms(1000);
    xdo("windowfocus --sync " + colour);
    for (const char* value : {"32", "64", "96"}) {  // Red has the focus; Tab goes on to Green, Blue
        EXPECT_EQ(0, xdo("key ctrl+a"));
        EXPECT_EQ(0, xdo(std::string("type ") + value));
        EXPECT_EQ(0, xdo("key Tab"));
    }
    EXPECT_EQ(0, xdo("key Return"));
    EXPECT_TRUE(window_gone(colour, WINDOW_SECONDS)) << "the colour dialog stayed";
    xdo("windowfocus --sync " + window);
    shots.push_back(shot(window));

    // L: the open dialog, answered with the other cache's full path.
    EXPECT_EQ(0, xdo("key l"));
    std::string dialog = find_window("Select new Thumbs.db", WINDOW_SECONDS);
    ASSERT_FALSE(dialog.empty()) << "no open dialog appeared";
    pause_ms(1000);
    xdo("windowfocus --sync " + dialog);  // no window manager gives it the focus
    EXPECT_EQ(0, xdo("key ctrl+a"));
    EXPECT_EQ(0, xdo("type --delay 20 '" + windows_path(other) + "\\Thumbs.db'"));
    EXPECT_EQ(0, xdo("key Return"));
    EXPECT_TRUE(window_gone(dialog, WINDOW_SECONDS)) << "the open dialog stayed";
    xdo("windowfocus --sync " + window);
    shots.push_back(shot(window));

    // S over cell 1 ("other 1.jpg"): saved into another folder by full path,
    // without extension, so the default one is added.
    auto save_as = [&](const std::string& typed) {
        EXPECT_EQ(0, xdo("key s"));
        const std::string d = find_window("Save thumbnail as..", WINDOW_SECONDS);
        EXPECT_FALSE(d.empty()) << "no save dialog appeared";
        if (d.empty())
            return;
        pause_ms(1000);
        xdo("windowfocus --sync " + d);
        EXPECT_EQ(0, xdo("key ctrl+a"));
        EXPECT_EQ(0, xdo("type --delay 20 '" + typed + "'"));
        EXPECT_EQ(0, xdo("key Return"));
        EXPECT_TRUE(window_gone(d, WINDOW_SECONDS)) << "the save dialog stayed";
        xdo("windowfocus --sync " + window);
    };
    auto wait_for = [&](const std::string& path) {
        for (int i = 0; i < 100 && !file_exists(path); ++i)
            pause_ms(100);
        pause_ms(300);
        return file_exists(path);
    };
    save_as(windows_path(elsewhere) + "\\copy");
    ASSERT_TRUE(wait_for(elsewhere + "/copy.jpg")) << "nothing was saved";
    EXPECT_EQ(stored_jpeg(41), read_file(elsewhere + "/copy.jpg"));
    struct stat st;
    ASSERT_EQ(0, stat((elsewhere + "/copy.jpg").c_str(), &st));
    const int64_t unix_seconds = int64_t((BASE_TIME + HOUR) / 10000000ull) - 11644473600ll;
    EXPECT_EQ(unix_seconds, int64_t(st.st_mtim.tv_sec)) << "the copy does not carry its catalog time";

    // The save dialog left the current directory where the load dialog put
    // it, in the cache's folder: Enter over "notes.txt" hands that relative
    // name to ShellExecuteA, and Wine's notepad opens it.
    EXPECT_EQ(0, xdo("mousemove --window " + window + " 150 160"));  // cell 4
    pause_ms(300);
    EXPECT_EQ(0, xdo("key Return"));
    const std::string notepad = find_window("notes.txt - Notepad", WINDOW_SECONDS);
    EXPECT_FALSE(notepad.empty()) << "the shell did not open notes.txt from the cache's folder";
    if (!notepad.empty()) {
        // Closed again, so that the viewer gets the keyboard back.
        pause_ms(1000);
        xdo("windowfocus --sync " + notepad);
        EXPECT_EQ(0, xdo("key alt+F4"));
        EXPECT_TRUE(window_gone(notepad, WINDOW_SECONDS)) << "notepad stayed";
    }
    // Without a window manager the keyboard does not come back by itself: a
    // right click (which the viewer ignores) on the scrollbar strip makes the
    // viewer the active window again. On a loaded machine Wine may take the
    // click only after the Esc went elsewhere, so both are tried again.
    int exit_code = -1000;
    for (int attempt = 0; attempt < 3 && exit_code == -1000; ++attempt) {
        xdo("windowfocus --sync " + window);
        EXPECT_EQ(0, xdo("mousemove --window " + window + " 322 5"));
        EXPECT_EQ(0, xdo("click 3"));
        pause_ms(500 + 1000 * attempt);
        // Held: the loop reads Esc from the key states once a frame.
        EXPECT_EQ(0, xdo("keydown Escape"));
        pause_ms(300);
        EXPECT_EQ(0, xdo("keyup Escape"));
        exit_code = viewer->wait_exit(EXIT_SECONDS / 3);
    }
    EXPECT_EQ(0, exit_code) << "Esc did not end the viewer with 0";

    HeadlessRun run;
    headless_move(150, 60);
    run.frame();
    run.mark();
    headless_answer_colour(0x604020);
    headless_char('b');
    run.frame();
    run.mark();
    headless_answer_file(other + "/Thumbs.db");
    headless_char('l');
    run.frame();
    run.mark();
    int code = -1;
    const std::vector<std::vector<uint32_t>> frames = run.run({first, "/330x250"}, &code);
    ASSERT_EQ(0, code);
    ASSERT_EQ(shots.size(), frames.size());
    EXPECT_TRUE(same_pixels(shots[0], frames[0])) << "the first cache";
    EXPECT_TRUE(same_pixels(shots[1], frames[1])) << "the background chosen in the colour dialog";
    EXPECT_TRUE(same_pixels(shots[2], frames[2])) << "the cache chosen in the open dialog";
}

TEST_F(WineViewerTest, NoCacheAndTheDialogCancelledShowsTheOwnedBoxThenHelpAndExitsWith1)
{
    const std::string empty = dir_.path() + "/empty";
    std::filesystem::create_directory(empty);
    auto viewer = start({windows_path(empty), "/330x250"});
    const std::string window = find_viewer(*viewer);
    ASSERT_FALSE(window.empty()) << "no window named " << WINDOW_NAME << " appeared";

    const std::string dialog = find_window("Select new Thumbs.db", WINDOW_SECONDS);
    ASSERT_FALSE(dialog.empty()) << "no open dialog appeared";
    pause_ms(1000);
    xdo("windowfocus --sync " + dialog);
    EXPECT_EQ(0, xdo("key Escape"));

    // The box is captioned with the window's own name: the other window so named.
    std::string box;
    for (int i = 0; i < WINDOW_SECONDS * 10 && box.empty(); ++i) {
        std::string ids;
        run_command(session->env() + "xdotool search --onlyvisible --name '^" + std::string(WINDOW_NAME) + "$' 2>/dev/null", &ids);
        for (size_t at = 0, end; at < ids.size(); at = end + 1) {
            end = ids.find('\n', at);
            if (end == std::string::npos)
                end = ids.size();
            const std::string id = ids.substr(at, end - at);
            if (!id.empty() && id != window)
                box = id;
        }
        if (box.empty())
            pause_ms(100);
    }
    ASSERT_FALSE(box.empty()) << "no \"Thumbs.db not found\" box appeared";
    // Owned by the viewer's window: Wine marks it transient for that window.
    std::string owner;
    run_command(session->env() + "xprop -id " + box + " WM_TRANSIENT_FOR", &owner);
    char expected[32];
    std::snprintf(expected, sizeof expected, "0x%lx", std::strtoul(window.c_str(), nullptr, 10));
    EXPECT_NE(std::string::npos, owner.find(expected)) << "the box is not owned by the window: " << owner;
    pause_ms(500);
    xdo("windowfocus --sync " + box);
    EXPECT_EQ(0, xdo("key Return"));

    const std::string help = find_window("Glimmerdex help", WINDOW_SECONDS);
    ASSERT_FALSE(help.empty()) << "no help box followed";
    pause_ms(500);
    xdo("windowfocus --sync " + help);
    EXPECT_EQ(0, xdo("key Return"));
    EXPECT_EQ(1, viewer->wait_exit(EXIT_SECONDS));
}

}  // namespace
