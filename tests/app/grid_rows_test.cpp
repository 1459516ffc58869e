// The grid drawn row by row (pictures that stay in their cell rows) against
// the frame the layout rules give, over many mixed layouts: sizes, scroll
// positions, wide pictures into the next cell and the bar, missing pictures,
// short last rows, background colours memset can and cannot make.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/browser.h"
#include "app/command_line.h"
#include "host/headless/host_headless.h"
#include "store/file_list.h"
#include "tests/app/viewer_fixture.h"

namespace {

struct Random {
    uint64_t state;
    int32_t below(int32_t n) { state = state * 6364136223846793005ull + 1442695040888963407ull; return int32_t((state >> 33) % uint64_t(n)); }
};

std::string random_name(Random& r)
{
    std::string s;
    for (int32_t n = r.below(31); n > 0; --n)
        s += char(r.below(4) == 0 ? 128 + r.below(127) : 32 + r.below(95));  // no tabs: the reference knows none
    return s;
}

class GridRows : public ::testing::Test {
protected:
    void TearDown() override { file_list_release(); }
};

TEST_F(GridRows, MixedLayoutsMatchTheLayoutRules)
{
    Random r{12345};
    for (int layout = 0; layout < 60; ++layout) {
        const int32_t w = 120 + r.below(500);
        const int32_t h = 40 + r.below(400);
        std::vector<TestEntry> entries = numbered_entries(r.below(5) == 0 ? r.below(4) : 1 + r.below(80));
        for (TestEntry& e : entries) {
            e.name = random_name(r);
            switch (r.below(8)) {
            case 0: e.placeholder = true; break;
            case 1: e.width = 105 + r.below(200); e.height = 1 + r.below(96); break;  // into the cells on its right
            case 2: e.width = 0; break;
            case 3: e.width = 1 + r.below(104); e.height = 1 + r.below(96); break;
            default: break;
            }
        }
        start_viewer(w, h);
        start_background_colour = r.below(2) ? 0 : 0x102030;
        install_entries(entries);
        headless_wheel(r.below(3) == 0 ? 0 : r.below(9000));
        headless_move(w - 1, 0);  // over the bar: no highlight
        headless_frame();
        browser_run();
        SCOPED_TRACE("layout " + std::to_string(layout) + ": " + std::to_string(w) + "x" + std::to_string(h) + ", " +
                     std::to_string(entries.size()) + " entries, offset " + std::to_string(browser.grid.scroll_offset));
        ExpectedFrame want(w, h, start_background_colour);
        if (!entries.empty())
            want.scrollbar(browser.grid.columns, browser.grid.scroll_offset, browser.grid.total_height);
        want.grid(entries, browser.grid.columns, browser.grid.scroll_offset);
        ASSERT_TRUE(frame_matches(want));
        file_list_release();
    }
}

}  // namespace
