// The browser: a polling loop that scrolls, hands keys to the commands through
// one table and redraws the whole grid every frame.
#include "app/browser.h"

#include "app/command_line.h"
#include "app/commands.h"
#include "app/help.h"

BrowserState browser;

namespace {

// Pixels the held arrow keys scroll in this frame.
double key_step;

void scroll_up(int32_t) { browser.scroll_position -= key_step; }
void scroll_down(int32_t) { browser.scroll_position += key_step; }
void scroll_home(int32_t) { browser.scroll_position = 0; }
void scroll_end(int32_t) { browser.scroll_position = BROWSER_END_OF_LIST; }
void page_up(int32_t) { browser.scroll_position -= client_height; }
void page_down(int32_t) { browser.scroll_position += client_height; }
void help(int32_t) { show_help(true); }
void quit(int32_t) { host_request_close(); }
void toggle_info(int32_t) { browser.grid.info_toggle = !browser.grid.info_toggle; }
void open(int32_t entry) { command_open(entry); }
void colour(int32_t) { command_colour(); }
void load(int32_t) { command_load(); }
void save(int32_t entry) { command_save(entry); }

// Every binding of the window. A key (KEY_*) acts while it is held, or once
// per press when not `held`; a character (key 0) acts once as it is typed.
struct KeyBinding {
    int key;
    uint32_t character;
    bool held;
    void (*run)(int32_t hovered_entry);
};

constexpr KeyBinding browser_keys[] = {
    {KEY_UP, 0, true, scroll_up},
    {KEY_DOWN, 0, true, scroll_down},
    {KEY_HOME, 0, true, scroll_home},
    {KEY_END, 0, true, scroll_end},
    {KEY_PAGE_UP, 0, false, page_up},
    {KEY_PAGE_DOWN, 0, false, page_down},
    {KEY_F1, 0, false, help},
    {KEY_ESC, 0, false, quit},
    {0, 13, false, open},
    {0, ' ', false, toggle_info},
    {0, 'B', false, colour},
    {0, 'b', false, colour},
    {0, 'L', false, load},
    {0, 'l', false, load},
    {0, 'S', false, save},
    {0, 's', false, save},
};

}  // namespace

void browser_reset()
{
    browser = BrowserState{};
    browser.grid.columns = 1;
    browser.drag_anchor = BROWSER_NO_DRAG;
}

int browser_frame()
{
    if (host_pump() != 0)
        return -1;
    browser.grid.columns = grid_columns_for(client_width);
    browser.previous_time = browser.current_time;
    browser.current_time = host_seconds();

    browser.scroll_position += host_input.wheel_delta;
    host_input.wheel_delta = 0;

    uint8_t* key = host_input.key_down;
    key_step = (browser.current_time - browser.previous_time) * BROWSER_KEY_SPEED;
    if (key[KEY_LEFT_SHIFT])
        key_step *= BROWSER_LEFT_SHIFT_FACTOR;
    if (key[KEY_RIGHT_SHIFT])
        key_step *= BROWSER_RIGHT_SHIFT_FACTOR;
    for (const KeyBinding& b : browser_keys) {
        if (b.key == 0 || !key[b.key])
            continue;
        if (!b.held)
            key[b.key] = 0;
        b.run(grid_hovered_cell(browser.grid));
    }
    for (uint32_t c; (c = host_next_char()) != 0;)
        for (const KeyBinding& b : browser_keys)
            if (b.key == 0 && b.character == c) {
                // A command may load another list: the hovered entry is
                // asked again for each character.
                b.run(grid_hovered_cell(browser.grid));
                break;
            }

    // After the commands: a load may have replaced the list.
    grid_count_rows(&browser.grid);
    const int64_t H = browser.drawn_height;
    if (host_input.mouse_buttons & MOUSE_LEFT) {
        if (!(browser.previous_buttons & MOUSE_LEFT)) {
            const int64_t my = host_input.mouse_y;
            if (host_input.mouse_x < int64_t(browser.grid.columns) * GRID_CELL_PITCH)
                command_open(grid_hovered_cell(browser.grid));
            else if (my * browser.grid.total_height < H * browser.grid.scroll_offset)
                browser.scroll_position -= client_height;
            else if (my * browser.grid.total_height > H * (browser.grid.scroll_offset + H))
                browser.scroll_position += client_height;
            else
                browser.drag_anchor = host_input.mouse_y;
        }
        if (browser.drag_anchor != BROWSER_NO_DRAG) {
            if (H > 1)
                browser.scroll_position +=
                    double(browser.grid.rows) * (host_input.mouse_y - browser.drag_anchor) * GRID_CELL_PITCH / double(H);
            browser.drag_anchor = host_input.mouse_y;
        }
    } else {
        browser.drag_anchor = BROWSER_NO_DRAG;
    }

    const double limit = double(browser.grid.total_height) - client_height;
    const double smaller = browser.scroll_position < limit ? browser.scroll_position : limit;
    // The negated test also catches a NaN position.
    browser.scroll_position = !(smaller > 0) ? 0 : smaller;
    browser.grid.scroll_offset = int32_t(browser.scroll_position);

    // The colour command may have changed the background.
    browser.grid.background = start_background_colour;
    Framebuffer frame;
    host_frame(&frame);
    browser.drawn_height = frame.height;
    grid_decode_in_view(browser.grid, frame.height, GRID_DECODE_MS);
    grid_draw(browser.grid, frame);
    host_present();
    host_sleep(BROWSER_FRAME_PAUSE_MS);
    browser.previous_buttons = host_input.mouse_buttons;
    return 0;
}

void browser_run()
{
    while (browser_frame() == 0) {
    }
}
