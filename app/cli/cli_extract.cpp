// glimmerdex-cli extract: every thumbnail of one or more caches into a
// folder, with a report of what was found and written.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/cli/cache_report.h"
#include "app/cli/cli.h"
#include "app/cli/cli_paths.h"
#include "app/cli/cli_search_index.h"
#include "app/cli/safe_name.h"
#include "app/cli/table.h"
#include "platform/system.h"
#include "pngout/png_writer.h"
#include "store/catalog.h"
#include "store/compound_file.h"

namespace {

const char help[] =
    "Usage: glimmerdex-cli extract [OPTIONS] CACHE... DIR\n"
    "\n"
    "Writes every thumbnail of the caches into DIR (made if missing):\n"
    "  catalog version 7 and above: the stored bytes, with the catalog time as\n"
    "    the file's modification time;\n"
    "  older catalogs: an uncompressed PNG of the decoded thumbnail;\n"
    "  caches without a Catalog: the stored picture, named after its stream.\n"
    "Files are named after the catalog name, made safe for the file system and\n"
    "unique (_2, _3, ... on clashes); entries the search index knows are named\n"
    "after the last component of their path, with the stored format's\n"
    "extension unless the name has it. DIR/report.csv gets one row per record,\n"
    "with the columns of `list --catalog` and the file written.\n"
    "CACHE is a cache file or a folder holding a Thumbs.db.\n"
    "\n"
    "  --force       overwrite existing files (never done otherwise)\n"
    "  --json        also write DIR/report.json\n"
    "  --recursive   every Thumbs.db below each folder, and the Windows Search\n"
    "                index at its usual place below one (as --search-index)\n"
    "  --search-index FILE  Windows.edb or Windows.db naming the entries by path\n"
    "\n"
    "Exit codes: 0 every cache was read and every file written, 1 some cache\n"
    "could not be read or some file not written (reported and skipped),\n"
    "2 usage error.\n";

// Opens a new file for writing; never replaces one unless force.
FILE* create(const std::string& path, bool force, bool* exists)
{
    *exists = false;
    return force ? sys_fopen(path.c_str(), "wb") : sys_create_new_file(path.c_str(), exists);
}

bool ends_with_nocase(const std::string& s, const char* suffix)
{
    size_t n = std::strlen(suffix);
    return s.size() >= n && ascii_stricmp(s.c_str() + s.size() - n, suffix) == 0;
}

const char* extension_of(const std::string& format)
{
    if (format == "jpeg")
        return ".jpg";
    if (format == "unknown" || format == "-")
        return ".bin";
    static std::string e;
    e = "." + format;
    return e.c_str();
}

struct Extractor {
    std::string dir;
    bool force = false;
    std::set<std::string> used{"report.csv", "report.json"};
    int failures = 0;

    int write_bytes(const std::string& path, const ReportRow& row, bool* exists)
    {
        FILE* f = create(path, force, exists);
        if (!f)
            return -1;
        bool ok = std::fwrite(row.stored, 1, size_t(row.length), f) == size_t(row.length);
        ok = std::fclose(f) == 0 && ok;
        if (ok && row.kind == RowKind::current)
            sys_set_file_time(path.c_str(), row.filetime);
        return ok ? 0 : -1;
    }

    int write_png(const std::string& path, const ReportRow& row, bool* exists)
    {
        *exists = false;
        if (!force) {
            if (FILE* f = sys_fopen(path.c_str(), "rb")) {
                std::fclose(f);
                *exists = true;
                return -1;
            }
        }
        CatalogEntry entry{};
        entry.stream_number = std::atoi(row.stream.c_str());
        Picture picture{};
        if (catalog_decode_entry(entry, 6, &picture) != 0 || !picture.pixels)
            return -1;
        int result = png_begin(path.c_str(), picture.width, picture.height);
        for (int32_t y = 0; result == 0 && y < picture.height; ++y) {
            const uint32_t* line = picture.pixels + size_t(y) * size_t(picture.pitch / 4);
            for (int32_t x = 0; x < picture.width; ++x)
                result |= png_put_pixel(line[x] & 0x00FFFFFF);
        }
        std::free(picture.pixels);
        return result;
    }

    void extract(ReportRow& row)
    {
        if (row.length < 0)
            return;  // no thumbnail for this record
        std::string name = safe_file_name(row.path.empty() ? row.name : search_index_leaf(row.path.c_str()));
        if (row.kind == RowKind::old && !ends_with_nocase(name, ".png"))
            name += ".png";
        else if (row.kind == RowKind::hashed && !ends_with_nocase(name, extension_of(row.format)))
            name += extension_of(row.format);
        name = unique_file_name(name, &used);
        std::string path = dir + "/" + name;
        bool exists = false;
        int result = row.kind == RowKind::old ? write_png(path, row, &exists) : write_bytes(path, row, &exists);
        if (result == 0) {
            row.file = name;
            return;
        }
        ++failures;
        if (exists)
            cli_error("extract: %s exists (--force overwrites)", path.c_str());
        else
            cli_error("extract: cannot write %s", path.c_str());
    }
};

} // namespace

int cli_extract(int argc, char** argv)
{
    bool json = false, recursive = false;
    const char* index_path = nullptr;
    Extractor x;
    const CliOption options[] = {
        {"--force", "-f", CLI_SWITCH, &x.force, nullptr, 0, 0, nullptr},
        {"--json", nullptr, CLI_SWITCH, &json, nullptr, 0, 0, nullptr},
        {"--recursive", "-r", CLI_SWITCH, &recursive, nullptr, 0, 0, nullptr},
        {"--search-index", nullptr, CLI_TEXT, nullptr, nullptr, 0, 0, &index_path},
    };
    std::vector<std::string> arguments;
    switch (cli_parse_options("extract", argc, argv, options, int(std::size(options)), &arguments)) {
    case CLI_HELP_ASKED: std::fputs(help, stdout); return CLI_OK;
    case CLI_BAD_OPTION: return CLI_USAGE;
    case CLI_PARSED: break;
    }
    if (arguments.size() < 2) {
        std::fputs(help, stderr);
        return CLI_USAGE;
    }
    x.dir = arguments.back();
    arguments.pop_back();
    if (sys_make_directory(x.dir.c_str()) != 0) {
        cli_error("extract: cannot make the folder %s", x.dir.c_str());
        return CLI_FAILED;
    }

    std::vector<std::string> caches, missing;
    find_caches(arguments, recursive, &caches, &missing);
    int result = CLI_OK;
    for (const std::string& m : missing) {
        cli_error("%s: Thumbs.db not found", m.c_str());
        result = CLI_FAILED;
    }
    if (cli_index_open(index_path, arguments, recursive) != 0)
        result = CLI_FAILED;
    std::vector<ReportRow> all;
    bool progress = sys_stderr_is_terminal();
    for (const std::string& cache : caches) {
        std::vector<ReportRow> rows;
        if (report_cache(cache, &rows) != 0) {
            cli_error("%s: Thumbs.db not found (%s)", cache.c_str(), store_error_text(store_error));
            result = CLI_FAILED;
            continue;
        }
        cli_index_name_rows(&rows);
        bool show = progress && rows.size() > 300;
        for (size_t i = 0; i < rows.size(); ++i) {
            x.extract(rows[i]);
            if (show && (i % 50 == 0 || i + 1 == rows.size()))
                std::fprintf(stderr, "\rextract: %s: %zu/%zu", cache.c_str(), i + 1, rows.size());
        }
        if (show)
            std::fputc('\n', stderr);
        for (ReportRow& r : rows)
            r.stored = nullptr;  // the pool goes with the next load
        all.insert(all.end(), rows.begin(), rows.end());
    }
    catalog_release();
    store_release();
    cli_index_close();

    Table table;
    table.columns = report_columns();
    table.columns.push_back("file");
    table.kinds = {ColumnKind::text, ColumnKind::number, ColumnKind::text, ColumnKind::number, ColumnKind::text,
                   ColumnKind::number, ColumnKind::text, ColumnKind::text, ColumnKind::number, ColumnKind::text,
                   ColumnKind::number, ColumnKind::number, ColumnKind::text, ColumnKind::text, ColumnKind::text,
                   ColumnKind::text};
    for (const ReportRow& r : all) {
        std::vector<std::string> cells = report_cells(r);
        cells.push_back(r.file);
        table.rows.push_back(std::move(cells));
    }
    for (int k = 0; k < (json ? 2 : 1); ++k) {
        std::string path = x.dir + (k == 0 ? "/report.csv" : "/report.json");
        bool exists;
        FILE* f = create(path, x.force, &exists);
        if (!f) {
            cli_error(exists ? "extract: %s exists (--force overwrites)" : "extract: cannot write %s", path.c_str());
            result = CLI_FAILED;
            continue;
        }
        write_table(f, table, k == 0 ? TableFormat::csv : TableFormat::json);
        if (std::fclose(f) != 0) {
            cli_error("extract: cannot write %s", path.c_str());
            result = CLI_FAILED;
        }
    }
    return x.failures ? CLI_FAILED : result;
}
