// The grid view: the cells of the list, the highlight of the hovered cell
// and the scrollbar, drawn whole from a grid state every frame. The
// viewer's loop and the command-line tool's contact sheet both draw with it.
#include "app/grid_view.h"

#include <cstring>
#include <string>

#include "host/text.h"
#include "platform/system.h"
#include "store/explorer/explorer_folder.h"
#include "store/file_list.h"
#include "store/thumbsdb/compound_file.h"

namespace {

const char* const weekday_names[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

int32_t saturate32(int64_t v)
{
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : int32_t(v);
}

// Copies a picture one to one with its top-left corner at (x, y), clipped to
// the frame; no clipping to the cell.
void copy_picture(const Framebuffer& frame, const Picture& picture, int32_t x, int32_t y)
{
    if (!picture.pixels || picture.width <= 0 || picture.height <= 0 || x < 0 || x >= frame.width)
        return;
    int64_t first = y < 0 ? -int64_t(y) : 0;
    int64_t end = int64_t(frame.height) - y;
    if (end > picture.height)
        end = picture.height;
    int32_t count = picture.width < frame.width - x ? picture.width : frame.width - x;
    const uint8_t* source = reinterpret_cast<const uint8_t*>(picture.pixels);
    uint8_t* target = reinterpret_cast<uint8_t*>(frame.pixels);
    for (int64_t row = first; row < end; ++row)
        std::memcpy(target + (y + row) * frame.pitch + int64_t(x) * 4, source + row * picture.pitch, size_t(count) * 4);
}

void draw_scrollbar(const GridState& grid, const Framebuffer& frame)
{
    const int32_t left = grid.columns * GRID_CELL_PITCH;
    const int64_t H = frame.height;
    const int64_t total = grid.total_height;
    int64_t thumb_top = H * grid.scroll_offset / total;
    int64_t thumb_bottom = H * (int64_t(grid.scroll_offset) + H) / total;
    thumb_top = thumb_top < 0 ? 0 : thumb_top > H ? H : thumb_top;
    thumb_bottom = thumb_bottom < 0 ? 0 : thumb_bottom > H ? H : thumb_bottom;
    fill_rect(frame, left, 0, frame.width, int32_t(thumb_top), GRID_TRACK_PIXEL);
    fill_rect(frame, left, int32_t(thumb_top), frame.width, int32_t(thumb_bottom), GRID_THUMB_PIXEL);
    fill_rect(frame, left, int32_t(thumb_bottom), frame.width, frame.height, GRID_TRACK_PIXEL);
}

// Runs of one frame row in plain loops: the compiler makes vector code of
// them that suits these short runs at any alignment better than memcpy.
void fill_pixels(uint32_t* to, int64_t count, uint32_t pixel)
{
    for (int64_t i = 0; i < count; ++i)
        to[i] = pixel;
}

void copy_pixels(uint32_t* to, const uint32_t* from, int64_t count)
{
    for (int64_t i = 0; i < count; ++i)
        to[i] = from[i];
}

// True when every visible picture ends inside its own cell row, so that no
// picture reaches another row's name line or pictures. Wide pictures may
// still run into the cells on their right.
bool pictures_stay_in_their_rows(int64_t first, int64_t end)
{
    for (int64_t i = first; i < end; ++i)
        if (file_list.pictures[i].height > GRID_CELL_PITCH - GRID_PICTURE_TOP)
            return false;
    return true;
}

// One frame row y inside the picture band of the cell row starting with
// entry row_first: the row of every picture that reaches it, left to right
// (later cells over earlier ones), and the background between and after
// them up to the right edge of the grid.
void draw_picture_row(const Framebuffer& frame, uint32_t background, int32_t y, int32_t picture_row,
                      int64_t row_first, int64_t row_end, int32_t right)
{
    uint32_t* out = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(frame.pixels) + int64_t(y) * frame.pitch);
    int64_t pen = 0;  // columns left of it are drawn
    for (int64_t i = row_first; i < row_end; ++i) {
        const Picture& p = file_list.pictures[i];
        if (!p.pixels || p.width <= 0 || picture_row >= p.height)
            continue;
        const int64_t x = (i - row_first) * GRID_CELL_PITCH;
        if (x >= frame.width)
            break;
        if (x > pen)
            fill_pixels(out + pen, (x < right ? x : right) - pen, background);
        const int64_t count = p.width < frame.width - x ? p.width : frame.width - x;
        copy_pixels(out + x,
                    reinterpret_cast<const uint32_t*>(reinterpret_cast<const uint8_t*>(p.pixels) + int64_t(picture_row) * p.pitch),
                    count);
        if (x + p.width > pen)
            pen = x + p.width;
    }
    if (pen < right)
        fill_rect(frame, int32_t(pen), y, right, y + 1, background);
}

// The grid left of `right` when pictures stay in their rows, drawn cell row
// by cell row and, below the names, frame row by frame row: each pixel is
// written about once while its row is in the cache. The bar is drawn before
// and is overdrawn only by what reaches into it, as in the cell-by-cell way.
void draw_grid_by_rows(const GridState& grid, const Framebuffer& frame, int64_t first_row, int64_t end_row,
                       int64_t end, int32_t right)
{
    const int32_t columns = grid.columns;
    const int32_t offset = grid.scroll_offset;
    const int64_t grid_top = first_row * GRID_CELL_PITCH - offset;
    const int64_t grid_bottom = end_row * GRID_CELL_PITCH - offset;
    // Only a negative scroll offset leaves rows above the first cell row.
    if (grid_top > 0)
        fill_rect(frame, 0, 0, right, int32_t(grid_top < frame.height ? grid_top : frame.height), grid.background);
    for (int64_t row = first_row; row < end_row; ++row) {
        const int32_t top = int32_t(row * GRID_CELL_PITCH - offset);  // -104 <= top < H
        const int64_t row_first = row * columns;
        const int64_t row_end = row_first + columns < end ? row_first + columns : end;
        fill_rect(frame, 0, top, right, top + GRID_PICTURE_TOP, grid.background);
        for (int64_t i = row_first; i < row_end; ++i)
            print_text(frame, int32_t((i - row_first) * GRID_CELL_PITCH), top, GRID_NAME_COLOUR, -1, "%.17s",
                       file_list_cell_name(int32_t(i)));
        // Below the row's tallest picture the band is background alone.
        int32_t tallest = 0;
        for (int64_t i = row_first; i < row_end; ++i) {
            const Picture& p = file_list.pictures[i];
            if (p.pixels && p.width > 0 && p.height > tallest)
                tallest = p.height;
        }
        const int32_t band_top = top + GRID_PICTURE_TOP;
        const int32_t pictures_end = int32_t(int64_t(band_top) + tallest < frame.height ? band_top + tallest : frame.height);
        for (int32_t y = band_top > 0 ? band_top : 0; y < pictures_end; ++y)
            draw_picture_row(frame, grid.background, y, y - band_top, row_first, row_end, right);
        const int32_t band_end = int32_t(int64_t(top) + GRID_CELL_PITCH < frame.height ? top + GRID_CELL_PITCH : frame.height);
        fill_rect(frame, 0, pictures_end, right, band_end, grid.background);
    }
    if (grid_bottom < frame.height)
        fill_rect(frame, 0, int32_t(grid_bottom > 0 ? grid_bottom : 0), right, frame.height, grid.background);
}

void draw_highlight(const GridState& grid, const Framebuffer& frame, int32_t index)
{
    const int32_t x = index % grid.columns * GRID_CELL_PITCH;
    const int32_t y = saturate32(int64_t(index / grid.columns) * GRID_CELL_PITCH - grid.scroll_offset);
    const char* name = file_list_name(index);
    if (!grid.info_toggle) {
        print_text(frame, x, y, GRID_HIGHLIGHT_TEXT, GRID_HIGHLIGHT_BACK, "%.17s", file_list_cell_name(index));
        return;
    }
    print_text(frame, x, y, GRID_HIGHLIGHT_TEXT, GRID_HIGHLIGHT_BACK, "%s", name);
    if (!file_list_has_thumbnail(index))
        return;
    // The size as stored: pictures of caches without a catalog are drawn
    // fitted to the cell, and the lines tell what the cache holds.
    int32_t width = file_list.pictures[index].width, height = file_list.pictures[index].height;
    store_entry_stored_size(file_list_entry(index), &width, &height);
    print_text(frame, x, y + 8, GRID_HIGHLIGHT_TEXT, GRID_HIGHLIGHT_BACK, "%dx%d", width, height);
    const StoreEntry& entry = file_list_entry(index);
    if (entry.kind == STORE_ENTRY_EXPLORER) {
        // Explorer records have no date: their hash and size bucket instead.
        char hash[17];
        thumbcache_hash_text(entry.hash, hash);
        print_text(frame, x, y + 16, GRID_HIGHLIGHT_TEXT, GRID_HIGHLIGHT_BACK, "%s", hash);
        // And the sizes the index beside the file knows the item in.
        const int64_t sizes = file_list_index_buckets(index);
        const std::string known = sizes >= 0 ? ", sizes " + explorer_bucket_list(entry.file->version, uint32_t(sizes))
                                  : sizes == FILE_LIST_NOT_INDEXED ? ", not indexed" : "";
        print_text(frame, x, y + 24, GRID_HIGHLIGHT_TEXT, GRID_HIGHLIGHT_BACK, "bucket %s%s", entry.file->bucket,
                   known.c_str());
        if (store_entry_record(entry))
            print_text(frame, x, y + 32, GRID_HIGHLIGHT_TEXT, GRID_HIGHLIGHT_BACK, "data checksum %s",
                       thumbcache_check_name(thumbcache_entry_data_check(*entry.file, entry.record)));
        return;
    }
    if (entry.kind == STORE_ENTRY_STREAM) {
        // No date; the stream's own name, its key, stays in view when the
        // list shows the name of its file.
        if (entry.slot >= 0 && entry.slot < stream_table.count)
            print_text(frame, x, y + 16, GRID_HIGHLIGHT_TEXT, GRID_HIGHLIGHT_BACK, "%s", stream_table.slot_name[entry.slot]);
        return;
    }
    SystemTime t;
    file_time_to_system_time(file_list.times[index], &t);
    const char* weekday = t.day_of_week >= 0 && t.day_of_week < 7 ? weekday_names[t.day_of_week] : "???";
    print_text(frame, x, y + 16, GRID_HIGHLIGHT_TEXT, GRID_HIGHLIGHT_BACK, "%s, %02d/%02d/%4d", weekday, t.month, t.day, t.year);
    print_text(frame, x, y + 24, GRID_HIGHLIGHT_TEXT, GRID_HIGHLIGHT_BACK, "%02d:%02d:%02d (UT)", t.hour, t.minute, t.second);
}

}  // namespace

void grid_draw_highlight(const GridState& grid, const Framebuffer& frame, int32_t index)
{
    if (frame.pixels && index >= 0 && index < file_list.count)
        draw_highlight(grid, frame, index);
}

void grid_count_rows(GridState* grid)
{
    int64_t count = file_list.count > 0 ? file_list.count : 0;
    int64_t rows = (count + grid->columns - 1) / grid->columns;
    grid->rows = saturate32(rows);
    grid->total_height = saturate32(rows * GRID_CELL_PITCH);
}

int32_t grid_columns_for(int32_t width)
{
    int32_t columns = (width - GRID_SCROLLBAR_ROOM) / GRID_CELL_PITCH;
    return columns < 1 ? 1 : columns;
}

int32_t grid_hovered_cell(const GridState& grid)
{
    const int32_t mx = host_input.mouse_x;
    const int32_t my = host_input.mouse_y;
    if (mx < 0 || mx / GRID_CELL_PITCH >= grid.columns)
        return -1;
    int64_t row = (int64_t(my) + grid.scroll_offset) / GRID_CELL_PITCH;
    if (row < 0)
        row = 0;
    int64_t index = mx / GRID_CELL_PITCH + int64_t(grid.columns) * row;
    return index < file_list.count ? int32_t(index) : -1;
}

int32_t grid_decode_in_view(const GridState& grid, int32_t frame_height, int32_t budget_ms)
{
    if (file_list.count <= 0 || grid.columns <= 0 || frame_height <= 0)
        return 0;
    // The rows grid_draw draws, as it counts them.
    const int64_t offset = grid.scroll_offset;
    const int64_t first_row = offset > 0 ? (offset - 1) / GRID_CELL_PITCH : 0;
    const int64_t end_row = (offset + frame_height + GRID_CELL_PITCH - 1) / GRID_CELL_PITCH;
    const int64_t screen = (end_row - first_row) * grid.columns;
    auto cell = [](int64_t i) { return int32_t(i < 0 ? 0 : i > file_list.count ? file_list.count : i); };
    const int64_t first = first_row * grid.columns, end = end_row * grid.columns;
    return file_list_decode_view(cell(first), cell(end), cell(first - screen), cell(end + screen), budget_ms);
}

void grid_draw(const GridState& grid, const Framebuffer& frame)
{
    // A zero-sized or failed frame is never drawn into.
    if (!frame.pixels || frame.width <= 0 || frame.height <= 0)
        return;
    const int32_t count = file_list.count;
    if (count <= 0) {
        fill_rect(frame, 0, 0, frame.width, frame.height, grid.background);
        return;
    }
    // Rows above the view are skipped by arithmetic: row r is drawn from
    // y = r * 104 - offset >= -104 on, and the pass stops below the frame.
    const int32_t offset = grid.scroll_offset;
    const int64_t first_row = offset > 0 ? (int64_t(offset) - 1) / GRID_CELL_PITCH : 0;
    const int64_t end_row = (int64_t(offset) + frame.height + GRID_CELL_PITCH - 1) / GRID_CELL_PITCH;
    const int64_t first = first_row * grid.columns;
    const int64_t end = end_row * grid.columns < count ? end_row * grid.columns : count;
    const bool bar = int64_t(grid.columns) * GRID_CELL_PITCH < frame.width;
    if (pictures_stay_in_their_rows(first, end)) {
        if (bar)
            draw_scrollbar(grid, frame);
        draw_grid_by_rows(grid, frame, first_row, end_row, end, bar ? grid.columns * GRID_CELL_PITCH : frame.width);
    } else {
        // Pictures overlap other cell rows: draw cell by cell, in order.
        fill_rect(frame, 0, 0, frame.width, frame.height, grid.background);
        if (bar)
            draw_scrollbar(grid, frame);
        for (int64_t i = first; i < count; ++i) {
            const int64_t y = (i / grid.columns) * GRID_CELL_PITCH - offset;
            if (y < -GRID_CELL_PITCH)
                continue;
            if (y >= frame.height)
                break;
            const int32_t x = int32_t(i % grid.columns) * GRID_CELL_PITCH;
            print_text(frame, x, int32_t(y), GRID_NAME_COLOUR, -1, "%.17s", file_list_cell_name(int32_t(i)));
            copy_picture(frame, file_list.pictures[i], x, int32_t(y) + GRID_PICTURE_TOP);
        }
    }
    const int32_t hovered = grid_hovered_cell(grid);
    if (hovered >= 0)
        draw_highlight(grid, frame, hovered);
}

