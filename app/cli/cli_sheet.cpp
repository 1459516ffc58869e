// glimmerdex-cli sheet: the viewer's grid for a whole list, drawn by the
// browser's own drawing into one picture: a contact sheet.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli/cache_report.h"
#include "app/cli/cli.h"
#include "app/cli/cli_paths.h"
#include "app/cli/cli_search_index.h"
#include "app/command_line.h"
#include "app/grid_view.h"
#include "picture/fit.h"
#include "platform/system.h"
#include "pngout/png_writer.h"
#include "store/thumbsdb/compound_file.h"
#include "store/file_list.h"

namespace {

const char help[] =
    "Usage: glimmerdex-cli sheet [OPTIONS] CACHE OUT.png\n"
    "\n"
    "Draws the viewer's grid of the cache's list into one PNG picture: the same\n"
    "104-pixel cells, names and thumbnails as the window shows, without the\n"
    "scrollbar. CACHE is a cache file or a folder holding a Thumbs.db.\n"
    "\n"
    "  --width N      the window width the columns are counted for (default 800);\n"
    "                 the picture is as wide as those columns\n"
    "  --info         every entry with its information lines (full name, size,\n"
    "                 date and time), as the viewer shows the hovered entry\n"
    "  --rows R       at most R rows of cells: one page\n"
    "  --page K       which page, from 1 (with --rows)\n"
    "  --flags N      1 = the folder's files, 2 = the catalog's names (default), 3 = both\n"
    "  --backcol C    background colour, 0xRRGGBB (default 0)\n"
    "  --search-index FILE  Windows.edb or Windows.db: entries it knows show\n"
    "                 their file name, and their full path with --info\n"
    "\n"
    "A sheet has at most 2,000 rows and 134,217,728 (128 Mi) pixels; draw a\n"
    "larger list a page at a time.\n"
    "\n"
    "Exit codes: 0 written, 1 the cache could not be read or the picture not\n"
    "written, 2 usage error or a sheet past those ceilings.\n";

// The tallest sheet we draw: 2,000 rows of cells.
constexpr long CLI_SHEET_MAX_ROWS = 2000;
// The largest sheet: it is held whole in memory (4 bytes a pixel) and written
// uncompressed (3), so 128 Mi pixels are 512 MiB and a 384 MiB file; larger
// lists are drawn a page at a time.
constexpr int64_t CLI_SHEET_MAX_PIXELS = int64_t(128) << 20;

} // namespace

int cli_sheet(int argc, char** argv)
{
    long width = 800, rows_per_page = 0, page = 1, flags = 2, colour = 0;
    bool info = false;
    const char* index_path = nullptr;
    const CliOption options[] = {
        {"--width", nullptr, CLI_NUMBER, nullptr, &width, 120, 20000, nullptr},
        {"--rows", nullptr, CLI_NUMBER, nullptr, &rows_per_page, 1, CLI_SHEET_MAX_ROWS, nullptr},
        {"--page", nullptr, CLI_NUMBER, nullptr, &page, 1, 1000000, nullptr},
        {"--flags", nullptr, CLI_NUMBER, nullptr, &flags, 0, 3, nullptr},
        {"--backcol", nullptr, CLI_COLOUR, nullptr, &colour, 0, 0xFFFFFF, nullptr},
        {"--info", nullptr, CLI_SWITCH, &info, nullptr, 0, 0, nullptr},
        {"--search-index", nullptr, CLI_TEXT, nullptr, nullptr, 0, 0, &index_path},
    };
    std::vector<std::string> arguments;
    switch (cli_parse_options("sheet", argc, argv, options, int(std::size(options)), &arguments)) {
    case CLI_HELP_ASKED: std::fputs(help, stdout); return CLI_OK;
    case CLI_BAD_OPTION: return CLI_USAGE;
    case CLI_PARSED: break;
    }
    if (arguments.size() != 2) {
        std::fputs(help, stderr);
        return CLI_USAGE;
    }
    std::vector<std::string> caches, missing;
    find_caches({arguments[0]}, false, &caches, &missing);
    std::string folder, file;
    if (caches.empty()) {
        cli_error("%s: Thumbs.db not found", arguments[0].c_str());
        return CLI_FAILED;
    }
    split_cache_path(caches[0], &folder, &file);
    // Pictures with alpha are composited while the list is built.
    picture_fit_background = uint32_t(colour);
    // A folder of Explorer's cache files is drawn whole, as the viewer shows it.
    const ThumbcacheKind kind = thumbcache_file_kind(caches[0].c_str());
    const bool explorer_folder = sys_is_directory(arguments[0].c_str()) && kind != THUMBCACHE_NEITHER;
    if (kind == THUMBCACHE_INDEX && !explorer_folder) {
        cli_error("%s: an Explorer cache index holds no thumbnails (name its cache files or their folder)",
                  caches[0].c_str());
        return CLI_FAILED;
    }
    int built = explorer_folder ? file_list_build(arguments[0].c_str(), int32_t(flags))
                                : file_list_build_from(folder.c_str(), file.c_str(), int32_t(flags));
    if (built != 0) {
        // A folder fails when none of its cache files can be read: the reason is the last one's.
        if (explorer_folder)
            cli_error("%s", report_failure(arguments[0], THUMBCACHE_CACHE).c_str());
        else
            cli_error("%s", report_failure(caches[0], kind).c_str());
        file_list_release();
        return CLI_FAILED;
    }
    // An unreadable index is reported; the sheet is drawn without names.
    const bool index_failed = cli_index_open(index_path, {}, false) != 0;
    file_list_name_from_index(cli_index_for(caches[0]));
    cli_index_close();
    GridState grid{};
    grid.columns = grid_columns_for(int32_t(width));
    grid.info_toggle = info;
    const int64_t columns = grid.columns;
    const int64_t total_rows = (int64_t(file_list.count) + columns - 1) / columns;
    int64_t first_row = rows_per_page ? (page - 1) * rows_per_page : 0;
    int64_t rows = rows_per_page ? rows_per_page : total_rows;
    if (first_row >= total_rows && total_rows > 0) {
        cli_error("sheet: page %ld is past the last of the list", page);
        file_list_release();
        return CLI_USAGE;
    }
    if (rows > total_rows - first_row)
        rows = total_rows - first_row;
    if (rows <= 0)
        rows = 1;  // an empty list: one row of background
    const int64_t sheet_width = columns * GRID_CELL_PITCH, sheet_height = rows * GRID_CELL_PITCH;
    if (rows > CLI_SHEET_MAX_ROWS || sheet_width * sheet_height > CLI_SHEET_MAX_PIXELS) {
        cli_error("sheet: %lld x %lld pixels (%lld rows) is past the ceiling of %ld rows and %lld pixels;"
                  " use --rows and --page, or a smaller --width",
                  (long long)sheet_width, (long long)sheet_height, (long long)rows, CLI_SHEET_MAX_ROWS,
                  (long long)CLI_SHEET_MAX_PIXELS);
        file_list_release();
        return CLI_USAGE;
    }
    grid.background = uint32_t(colour);
    host_input_reset();
    host_input.mouse_x = -1;  // no hovered cell
    grid.rows = int32_t(total_rows);
    grid.total_height = int32_t(total_rows * GRID_CELL_PITCH);
    grid.scroll_offset = int32_t(first_row * GRID_CELL_PITCH);
    std::vector<uint32_t> pixels(size_t(sheet_width) * size_t(sheet_height));
    Framebuffer frame{pixels.data(), int32_t(sheet_width * 4), int32_t(sheet_width), int32_t(sheet_height)};
    grid_draw(grid, frame);
    if (info)
        for (int64_t i = first_row * columns; i < (first_row + rows) * columns && i < file_list.count; ++i)
            grid_draw_highlight(grid, frame, int32_t(i));
    file_list_release();

    const std::string& out = arguments[1];
    if (png_begin(out.c_str(), frame.width, frame.height) != 0) {
        cli_error("sheet: cannot write %s", out.c_str());
        return CLI_FAILED;
    }
    int result = 0;
    for (uint32_t p : pixels)
        result |= png_put_pixel(p & 0x00FFFFFF);
    if (result != 0) {
        cli_error("sheet: writing %s failed", out.c_str());
        return CLI_FAILED;
    }
    return index_failed ? CLI_FAILED : CLI_OK;
}
