// The browser's view and main loop on the headless host: whole frames
// against frames drawn from the layout rules, and the scrolling rules.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/browser.h"
#include "app/command_line.h"
#include "host/headless/desktop_headless.h"
#include "host/headless/host_headless.h"
#include "store/file_list.h"
#include "tests/app/viewer_fixture.h"

namespace {

constexpr uint32_t BACK = 0x102030;
constexpr FileTime MONDAY_2009_09_21_130509 = 128980119090000000ull;

class Browser : public ::testing::Test {
protected:
    void TearDown() override { file_list_release(); }
    // Runs the loop over the script built so far; the last pump ends it.
    void run() { browser_run(); }
};

TEST_F(Browser, EmptyListShowsOnlyTheBackground)
{
    start_viewer(250, 150);
    start_background_colour = BACK;
    install_entries({});
    headless_frame();
    run();
    EXPECT_TRUE(frame_matches(ExpectedFrame(250, 150, BACK)));
    EXPECT_EQ(1, headless_host.frames_created);
}

TEST_F(Browser, ListThatFitsHasAnAllThumbBar)
{
    // (330 - 16) / 104 = 3 columns; the bar is the 18-pixel strip at 312.
    start_viewer(330, 250);
    start_background_colour = BACK;
    std::vector<TestEntry> entries = numbered_entries(5);
    entries[1].name = "a name of thirty characters ok";
    entries[2].width = 150;  // runs into the next cell, which is drawn over it
    entries[2].height = 120;
    entries[4].placeholder = true;
    install_entries(entries);
    headless_move(320, 10);  // over the bar: no highlight
    headless_frame();
    run();
    EXPECT_EQ(3, browser.grid.columns);
    EXPECT_EQ(208, browser.grid.total_height);
    ExpectedFrame want(330, 250, BACK);
    want.scrollbar(3, 0, 208);
    want.grid(entries, 3, 0);
    EXPECT_TRUE(frame_matches(want));
    // Below the wide picture that runs over it, the strip is all thumb.
    for (int y = 128; y < 250; ++y)
        ASSERT_EQ(0xC0C0C0C0u, headless_pixel(312, y));
    EXPECT_EQ(test_pixel(2, 104, 0), headless_pixel(312, 8));
}

TEST_F(Browser, ListThatScrollsDrawsTheVisibleRowsAndTheThumb)
{
    start_viewer(330, 250);
    start_background_colour = BACK;
    std::vector<TestEntry> entries = numbered_entries(20);
    entries[4].width = 150;  // into cell 5 and, from the last column, the bar
    entries[5].width = 240;
    entries[7].placeholder = true;
    entries[9].width = 10;
    entries[9].height = 5;
    entries[10].height = 96;  // down to the next row's name line
    install_entries(entries);
    headless_wheel(120 + 30);  // 150 pixels down
    headless_move(500, 0);
    headless_frame();
    run();
    // 7 rows, 728 pixels; thumb rows 250 * 150 / 728 = 51 to 250 * 400 / 728 = 137.
    EXPECT_EQ(150, browser.grid.scroll_offset);
    ExpectedFrame want(330, 250, BACK);
    want.scrollbar(3, 150, 728);
    want.grid(entries, 3, 150);
    EXPECT_TRUE(frame_matches(want));
    EXPECT_EQ(0x40404040u, headless_pixel(329, 50));
    EXPECT_EQ(0xC0C0C0C0u, headless_pixel(329, 51));
    EXPECT_EQ(0xC0C0C0C0u, headless_pixel(329, 136));
    EXPECT_EQ(0x40404040u, headless_pixel(329, 137));
}

TEST_F(Browser, HighlightWithoutInformationLines)
{
    start_viewer(330, 250);
    start_background_colour = BACK;
    std::vector<TestEntry> entries = numbered_entries(6);
    entries[4].name = "a name of thirty characters ok";
    install_entries(entries);
    headless_move(104 + 50, 104 + 60);  // cell 4
    headless_frame();
    run();
    EXPECT_EQ(4, grid_hovered_cell(browser.grid));
    ExpectedFrame want(330, 250, BACK);
    want.scrollbar(3, 0, 208);
    want.grid(entries, 3, 0);
    want.text(104, 104, entries[4].name.substr(0, 17), 0xFFFFFF, 0);
    EXPECT_TRUE(frame_matches(want));
}

TEST_F(Browser, HighlightWithInformationLines)
{
    start_viewer(330, 250);
    start_background_colour = BACK;
    std::vector<TestEntry> entries = numbered_entries(6);
    entries[1].name = "a name of thirty characters ok";
    entries[1].time = MONDAY_2009_09_21_130509;
    entries[1].width = 90;
    entries[1].height = 64;
    entries[5].placeholder = true;
    install_entries(entries);
    headless_char(' ');
    headless_move(104 + 3, 3);  // cell 1
    headless_frame();
    headless_move(2 * 104 + 3, 104 + 3);  // cell 5, the placeholder
    headless_frame();
    headless_host.on_pump = [&](int pump) {
        if (pump != 1)
            return;
        ExpectedFrame want(330, 250, BACK);
        want.scrollbar(3, 0, 208);
        want.grid(entries, 3, 0);
        want.text(104, 0, entries[1].name, 0xFFFFFF, 0);
        want.text(104, 8, "90x64", 0xFFFFFF, 0);
        want.text(104, 16, "Mon, 09/21/2009", 0xFFFFFF, 0);
        want.text(104, 24, "13:05:09 (UT)", 0xFFFFFF, 0);
        EXPECT_TRUE(frame_matches(want));
    };
    run();
    EXPECT_TRUE(browser.grid.info_toggle);
    // The placeholder entry shows only its name.
    ExpectedFrame want(330, 250, BACK);
    want.scrollbar(3, 0, 208);
    want.grid(entries, 3, 0);
    want.text(208, 104, entries[5].name, 0xFFFFFF, 0);
    EXPECT_TRUE(frame_matches(want));
}

TEST_F(Browser, ColumnsAndBarWidth)
{
    EXPECT_EQ(7, grid_columns_for(800));  // bar 800 - 728 = 72 wide
    EXPECT_EQ(1, grid_columns_for(119));
    EXPECT_EQ(1, grid_columns_for(0));
    EXPECT_EQ(1, grid_columns_for(-50));
    EXPECT_EQ(2, grid_columns_for(224));

    start_viewer(800, 600);
    install_entries(numbered_entries(20));
    headless_key(KEY_DOWN, true);
    headless_advance(1);
    headless_frame();
    run();
    // 3 rows, 312 pixels: the limit is negative, the view stays at 0.
    EXPECT_EQ(3, browser.grid.rows);
    EXPECT_EQ(312, browser.grid.total_height);
    EXPECT_EQ(0, browser.scroll_position);
    for (int x = 728; x < 800; ++x)
        ASSERT_EQ(0xC0C0C0C0u, headless_pixel(x, 599));
    EXPECT_EQ(0u, headless_pixel(727, 599));
}

// A one-column list of 60 rows (6240 pixels) in a 120 x 100 window.
void long_list()
{
    start_viewer(120, 100);
    install_entries(numbered_entries(60));
}

double scroll_after_one_second(std::vector<int> keys)
{
    long_list();
    for (int k : keys)
        headless_key(k, true);
    headless_advance(1);
    headless_frame();
    browser_run();
    return browser.scroll_position;
}

TEST_F(Browser, KeyScrollingFollowsTheClockAndShiftFactors)
{
    EXPECT_DOUBLE_EQ(256, scroll_after_one_second({KEY_DOWN}));
    EXPECT_DOUBLE_EQ(3.2, scroll_after_one_second({KEY_DOWN, KEY_LEFT_SHIFT}));
    EXPECT_DOUBLE_EQ(4096, scroll_after_one_second({KEY_DOWN, KEY_RIGHT_SHIFT}));
    EXPECT_DOUBLE_EQ(51.2, scroll_after_one_second({KEY_DOWN, KEY_LEFT_SHIFT, KEY_RIGHT_SHIFT}));
    EXPECT_DOUBLE_EQ(0, scroll_after_one_second({KEY_DOWN, KEY_UP}));
    // The keypad 8 with NumLock off is another key.
    EXPECT_DOUBLE_EQ(0, scroll_after_one_second({KEY_KEYPAD_8}));
    // Home and End together end at the last position: End comes later.
    EXPECT_DOUBLE_EQ(6240 - 100, scroll_after_one_second({KEY_HOME, KEY_END}));
}

TEST_F(Browser, EndShowsTheLastRowAtTheBottomAndUpComesBack)
{
    long_list();
    headless_key(KEY_END, true);
    headless_frame();
    headless_key(KEY_END, false);
    headless_key(KEY_UP, true);
    headless_advance(0.5);
    headless_frame();
    double after_end = -1;
    headless_host.on_pump = [&](int pump) {
        if (pump == 1)
            after_end = browser.scroll_position;
    };
    browser_run();
    EXPECT_DOUBLE_EQ(6140, after_end);
    EXPECT_DOUBLE_EQ(6140 - 128, browser.scroll_position);
    EXPECT_EQ(6012, browser.grid.scroll_offset);
}

TEST_F(Browser, PageKeysActOncePerPress)
{
    long_list();
    headless_key(KEY_PAGE_DOWN, true);
    headless_frame();
    headless_frame();  // still held: no second page
    headless_key(KEY_PAGE_DOWN, false);
    headless_key(KEY_PAGE_DOWN, true);
    headless_frame();
    headless_key(KEY_PAGE_UP, true);
    headless_frame();
    std::vector<double> seen;
    headless_host.on_pump = [&](int pump) {
        if (pump > 0)
            seen.push_back(browser.scroll_position);
    };
    browser_run();
    EXPECT_EQ((std::vector<double>{100, 100, 200, 100}), seen);
}

TEST_F(Browser, WheelMovesOnePixelPerUnitAndClamps)
{
    long_list();
    headless_wheel(120);
    headless_frame();
    headless_wheel(-1000);
    headless_frame();
    headless_wheel(0x7FFF0000);
    headless_wheel(0x7FFF0000);
    headless_frame();
    std::vector<double> seen;
    headless_host.on_pump = [&](int pump) {
        if (pump > 0)
            seen.push_back(browser.scroll_position);
    };
    browser_run();
    EXPECT_EQ((std::vector<double>{120, 0, 6140}), seen);
    EXPECT_EQ(0, host_input.wheel_delta);
}

TEST_F(Browser, TrackPressesPageAndThumbDragMovesByRowsOverHeight)
{
    // 20 rows of one column: total 2080 in a window 500 high.
    start_viewer(150, 500);
    install_entries(numbered_entries(20));
    headless_move(140, 400);  // below the thumb (rows 0 to 120)
    headless_button(MOUSE_LEFT, true);
    headless_frame();
    headless_button(MOUSE_LEFT, false);
    headless_frame();
    // The view is at 500: thumb rows 500 * 500 / 2080 = 120 to 240.
    headless_move(140, 10);  // above it
    headless_button(MOUSE_LEFT, true);
    headless_frame();
    headless_button(MOUSE_LEFT, false);
    headless_frame();
    headless_move(140, 50);  // on the thumb, then drag 10 pixels down
    headless_button(MOUSE_LEFT, true);
    headless_frame();
    headless_move(140, 60);
    headless_frame();
    headless_button(MOUSE_LEFT, false);
    headless_move(140, 90);  // released: no more dragging
    headless_frame();
    std::vector<double> seen;
    headless_host.on_pump = [&](int pump) {
        if (pump > 0)
            seen.push_back(browser.scroll_position);
    };
    browser_run();
    ASSERT_EQ(7u, seen.size());
    EXPECT_DOUBLE_EQ(500, seen[0]);
    EXPECT_DOUBLE_EQ(0, seen[2]);
    EXPECT_DOUBLE_EQ(0, seen[4]);
    EXPECT_DOUBLE_EQ(20 * 10 * 104 / 500.0, seen[5]);
    EXPECT_DOUBLE_EQ(seen[5], seen[6]);
    EXPECT_EQ(BROWSER_NO_DRAG, browser.drag_anchor);
    EXPECT_TRUE(headless_desktop.opened.empty());
}

TEST_F(Browser, PressRightOfTheGridScrollsEvenWithoutABar)
{
    // 1 column in a 104-wide window: no bar, but the strip still pages.
    start_viewer(110, 100);
    install_entries(numbered_entries(10));
    headless_move(106, 99);
    headless_button(MOUSE_LEFT, true);
    headless_frame();
    run();
    EXPECT_DOUBLE_EQ(100, browser.scroll_position);
}

TEST_F(Browser, NewListUnderTheLoopClampsTheViewInTheSameFrame)
{
    long_list();
    headless_key(KEY_END, true);
    headless_frame();
    headless_key(KEY_END, false);
    headless_frame();
    headless_host.on_pump = [&](int pump) {
        if (pump == 1)
            install_entries(numbered_entries(3));
    };
    run();
    EXPECT_EQ(3 * 104 - 100, browser.scroll_position);
}

TEST_F(Browser, F1ShowsHelpOnceAndEscCloses)
{
    long_list();
    headless_key(KEY_F1, true);
    headless_frame();
    headless_frame();
    headless_key(KEY_ESC, true);
    headless_frame();
    headless_char('x');
    headless_frame();
    run();
    ASSERT_EQ(1u, headless_desktop.message_boxes.size());
    EXPECT_EQ("Glimmerdex help", headless_desktop.message_boxes[0].caption);
    EXPECT_TRUE(headless_desktop.message_boxes[0].owned);
    EXPECT_EQ(1, headless_host.close_requests);
    EXPECT_EQ(3, headless_host.presents);  // nothing after the close
    EXPECT_EQ(0, host_input.key_down[KEY_ESC]);
}

TEST_F(Browser, ZeroSizedAndFailedFramesAreNeverDrawnInto)
{
    start_viewer(0, 0);
    install_entries(numbered_entries(30));
    headless_move(5, 5);
    headless_frame();
    headless_size(300, 200);
    headless_frame();
    headless_size(300, 200);
    headless_frame();
    run();
    EXPECT_EQ(2, headless_host.frames_created);  // 0 x 0, then 300 x 200 once
    EXPECT_EQ(3, headless_host.presents);
    EXPECT_EQ(test_pixel(0, 0, 0), headless_pixel(0, 8));

    start_viewer(200, 200);
    headless_host.fail_frames = true;
    install_entries(numbered_entries(30));
    headless_frame();
    run();
    for (uint32_t p : headless_host.presented)
        ASSERT_EQ(0u, p);
}

TEST_F(Browser, HoveredCellRule)
{
    start_viewer(330, 250);
    install_entries(numbered_entries(8));
    browser.grid.columns = 3;
    host_input.mouse_x = 311;
    host_input.mouse_y = 0;
    EXPECT_EQ(2, grid_hovered_cell(browser.grid));
    host_input.mouse_x = 312;  // the bar strip
    EXPECT_EQ(-1, grid_hovered_cell(browser.grid));
    host_input.mouse_x = 5;
    host_input.mouse_y = 249;
    EXPECT_EQ(6, grid_hovered_cell(browser.grid));
    host_input.mouse_x = 110;
    EXPECT_EQ(7, grid_hovered_cell(browser.grid));
    host_input.mouse_x = 210;  // below the last entry
    EXPECT_EQ(-1, grid_hovered_cell(browser.grid));
    browser.grid.scroll_offset = 100;
    host_input.mouse_x = 5;
    host_input.mouse_y = 3;
    EXPECT_EQ(0, grid_hovered_cell(browser.grid));
    host_input.mouse_y = 4;
    EXPECT_EQ(3, grid_hovered_cell(browser.grid));
}

}  // namespace
