// glimmerdex-cli sheet: the viewer's grid for a whole list, drawn by the
// grid view's own drawing into one picture: a contact sheet.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli/cache_report.h"
#include "app/cli/cli.h"
#include "app/cli/cli_images.h"
#include "app/cli/cli_paths.h"
#include "app/cli/cli_search_index.h"
#include "app/command_line.h"
#include "app/grid_view.h"
#include "platform/failure.h"
#include "platform/system.h"
#include "platform/work_pool.h"
#include "store/thumbsdb/compound_file.h"
#include "store/file_list.h"

namespace {

const char help[] =
    "Usage: glimmerdex-cli sheet [OPTIONS] CACHE OUT.png\n"
    "\n"
    "Draws the viewer's grid of the cache's list into one PNG picture: the same\n"
    "104-pixel cells, names and thumbnails as the window shows, without the\n"
    "scrollbar. CACHE is a cache file or a folder holding a Thumbs.db, or a\n"
    "disk image: its Explorer caches are drawn, or where it has none its first\n"
    "Thumbs.db (the others are named on standard error).\n"
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
    "  --carve        of a disk image: also the records carved from unallocated space\n"
    "  -j, --jobs N   decode the pictures on N threads (default: one per\n"
    "                 processor); the sheet is the same whatever N\n"
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

// What the command line asks of `sheet`.
struct SheetOptions {
    long width = 800, rows_per_page = 0, page = 1, flags = 2, colour = 0;
    long jobs = 0;  // 0: one per processor
    bool info = false, carve = false;
    const char* index_path = nullptr;
    std::vector<std::string> paths;  // the cache or folder, then the picture written
};

// Fills *o from the arguments: 0 to run, -1 with *exit_code to stop (help
// printed, or a usage error reported).
int sheet_parse(int argc, char** argv, SheetOptions* o, int* exit_code)
{
    const CliOption options[] = {
        {"--width", nullptr, CLI_NUMBER, nullptr, &o->width, 120, 20000, nullptr},
        {"--rows", nullptr, CLI_NUMBER, nullptr, &o->rows_per_page, 1, CLI_SHEET_MAX_ROWS, nullptr},
        {"--page", nullptr, CLI_NUMBER, nullptr, &o->page, 1, 1000000, nullptr},
        {"--flags", nullptr, CLI_NUMBER, nullptr, &o->flags, 0, 3, nullptr},
        {"--backcol", nullptr, CLI_COLOUR, nullptr, &o->colour, 0, 0xFFFFFF, nullptr},
        {"--info", nullptr, CLI_SWITCH, &o->info, nullptr, 0, 0, nullptr},
        {"--carve", nullptr, CLI_SWITCH, &o->carve, nullptr, 0, 0, nullptr},
        {"--search-index", nullptr, CLI_TEXT, nullptr, nullptr, 0, 0, &o->index_path},
        {"--jobs", "-j", CLI_NUMBER, nullptr, &o->jobs, 1, CLI_MAX_JOBS, nullptr},
    };
    *exit_code = CLI_USAGE;
    switch (cli_parse_options("sheet", argc, argv, options, int(std::size(options)), &o->paths)) {
    case CLI_HELP_ASKED: std::fputs(help, stdout); *exit_code = CLI_OK; return -1;
    case CLI_BAD_OPTION: return -1;
    case CLI_PARSED: break;
    }
    if (o->paths.size() != 2) {
        std::fputs(help, stderr);
        return -1;
    }
    return 0;
}

// Builds the file list of the cache or folder named, with the names the
// search index knows. 0, or -1 when it cannot be read (reported);
// *index_failed when the index could not be read (the list is built without).
// The list of a disk image's caches; 0, or -1 when none can be drawn
// (reported).
int sheet_build_image_list(const SheetOptions& o, const FileListOptions& options, bool* index_failed)
{
    std::vector<std::string> labels;
    const CliImageResult read = cli_images_add(o.paths[0], &labels, o.carve);
    if (read == CLI_IMAGE_UNREADABLE || read == CLI_IMAGE_UNSUPPORTED)
        return -1;
    const std::vector<ResolvedCache> caches = cli_image_list_caches(labels, "sheet");
    if (caches.empty()) {
        cli_error("%s: no cache in the image holds thumbnails", o.paths[0].c_str());
        return -1;
    }
    FileListOptions from_image = options;
    from_image.sources = image_set_list_sources();
    if (file_list_build_caches(nullptr, caches, from_image) != 0) {
        cli_error("%s: %s", caches[0].path.c_str(), failure_last().reason);
        file_list_release();
        return -1;
    }
    *index_failed = cli_index_open(o.index_path, {}, false) != 0;
    file_list_name_keyed(search_index_name_of, cli_index_for(caches[0].path));
    cli_index_close();
    return 0;
}

int sheet_build_list(const SheetOptions& o, bool* index_failed)
{
    const std::string& input = o.paths[0];
    if (disk_image_probe(input.c_str())) {
        const FileListOptions options{.flags = int32_t(o.flags),
                                      .background = uint32_t(o.colour),
                                      .jobs = o.jobs ? int32_t(o.jobs) : sys_default_jobs()};
        return sheet_build_image_list(o, options, index_failed);
    }
    std::vector<std::string> caches, missing;
    find_caches({input}, false, &caches, &missing);
    std::string folder, file;
    if (caches.empty()) {
        cli_error("%s: Thumbs.db not found", input.c_str());
        return -1;
    }
    split_cache_path(caches[0], &folder, &file);
    // A folder of Explorer's cache files is drawn whole, as the viewer shows it.
    const ThumbcacheKind kind = thumbcache_file_kind(caches[0].c_str());
    const bool explorer_folder = sys_is_directory(input.c_str()) && kind != THUMBCACHE_NEITHER;
    if (kind == THUMBCACHE_INDEX && !explorer_folder) {
        cli_error("%s: an Explorer cache index holds no thumbnails (name its cache files or their folder)",
                  caches[0].c_str());
        return -1;
    }
    // Pictures with alpha are composited over the sheet's colour as the list is built.
    const FileListOptions options{.flags = int32_t(o.flags),
                                  .background = uint32_t(o.colour),
                                  .jobs = o.jobs ? int32_t(o.jobs) : sys_default_jobs()};
    int built = explorer_folder ? file_list_build(input.c_str(), options)
                                : file_list_build_from(folder.c_str(), file.c_str(), options);
    if (built != 0) {
        // A folder fails when none of its cache files can be read: the reason is the last one's.
        if (explorer_folder)
            cli_error("%s", report_failure(input, THUMBCACHE_CACHE).c_str());
        else
            cli_error("%s", report_failure(caches[0], kind).c_str());
        file_list_release();
        return -1;
    }
    // An unreadable index is reported; the sheet is drawn without names.
    *index_failed = cli_index_open(o.index_path, {}, false) != 0;
    file_list_name_keyed(search_index_name_of, cli_index_for(caches[0]));
    cli_index_close();
    return 0;
}

// The rows of the list a sheet draws, and its size in pixels.
struct SheetPage {
    int64_t columns = 1, total_rows = 0, first_row = 0, rows = 1;
    int64_t width = 0, height = 0;
};

// The page asked for of the built list; 0, or -1 when it is past the list's
// end or the sheet's ceilings (reported).
int sheet_page_of(const SheetOptions& o, SheetPage* p)
{
    p->columns = grid_columns_for(int32_t(o.width));
    p->total_rows = (int64_t(file_list.count) + p->columns - 1) / p->columns;
    p->first_row = o.rows_per_page ? (o.page - 1) * o.rows_per_page : 0;
    p->rows = o.rows_per_page ? o.rows_per_page : p->total_rows;
    if (p->first_row >= p->total_rows && p->total_rows > 0) {
        cli_error("sheet: page %ld is past the last of the list", o.page);
        return -1;
    }
    if (p->rows > p->total_rows - p->first_row)
        p->rows = p->total_rows - p->first_row;
    if (p->rows <= 0)
        p->rows = 1;  // an empty list: one row of background
    p->width = p->columns * GRID_CELL_PITCH;
    p->height = p->rows * GRID_CELL_PITCH;
    if (p->rows > CLI_SHEET_MAX_ROWS || p->width * p->height > CLI_SHEET_MAX_PIXELS) {
        cli_error("sheet: %lld x %lld pixels (%lld rows) is past the ceiling of %ld rows and %lld pixels;"
                  " use --rows and --page, or a smaller --width",
                  (long long)p->width, (long long)p->height, (long long)p->rows, CLI_SHEET_MAX_ROWS,
                  (long long)CLI_SHEET_MAX_PIXELS);
        return -1;
    }
    return 0;
}

// Draws the page of the built list with the viewer's own drawing.
std::vector<uint32_t> sheet_draw(const SheetOptions& o, const SheetPage& p)
{
    GridState grid{};
    grid.columns = int32_t(p.columns);
    grid.info_toggle = o.info;
    grid.background = uint32_t(o.colour);
    host_input_reset();
    host_input.mouse_x = -1;  // no hovered cell
    grid.rows = int32_t(p.total_rows);
    grid.total_height = int32_t(p.total_rows * GRID_CELL_PITCH);
    grid.scroll_offset = int32_t(p.first_row * GRID_CELL_PITCH);
    std::vector<uint32_t> pixels(size_t(p.width) * size_t(p.height));
    Framebuffer frame{pixels.data(), int32_t(p.width * 4), int32_t(p.width), int32_t(p.height)};
    grid_draw(grid, frame);
    if (o.info)
        for (int64_t i = p.first_row * p.columns; i < (p.first_row + p.rows) * p.columns && i < file_list.count; ++i)
            grid_draw_highlight(grid, frame, int32_t(i));
    return pixels;
}

} // namespace

int cli_sheet(int argc, char** argv)
{
    SheetOptions options;
    int result;
    if (sheet_parse(argc, argv, &options, &result) != 0)
        return result;
    if (cli_images_refused({options.paths[0]}))
        return CLI_USAGE;
    bool index_failed = false;
    if (sheet_build_list(options, &index_failed) != 0) {
        cli_images_close();
        return CLI_FAILED;
    }
    SheetPage page;
    if (sheet_page_of(options, &page) != 0) {
        file_list_release();
        cli_images_close();
        return CLI_USAGE;
    }
    std::vector<uint32_t> pixels = sheet_draw(options, page);
    file_list_release();
    cli_images_close();
    if (cli_write_png("sheet", options.paths[1], pixels, int32_t(page.width), int32_t(page.height)) != 0)
        return CLI_FAILED;
    return index_failed ? CLI_FAILED : CLI_OK;
}
