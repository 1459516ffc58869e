// glimmerdex-cli list: the file list as the viewer builds it, or every
// catalog record as it stands (--catalog).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli/cache_report.h"
#include "app/cli/cli.h"
#include "app/cli/cli_paths.h"
#include "app/cli/cli_search_index.h"
#include "app/cli/table.h"
#include "store/catalog.h"
#include "store/compound_file.h"
#include "store/file_list.h"

namespace {

const char help[] =
    "Usage: glimmerdex-cli list [OPTIONS] PATH...\n"
    "\n"
    "Lists the entries of thumbnail caches. PATH is a cache file, or a folder\n"
    "holding a Thumbs.db (any letter case).\n"
    "\n"
    "Without --catalog: the list exactly as the viewer builds it, with the\n"
    "columns name, width, height, filetime, utc (and cache first when several\n"
    "caches are listed). Names are the viewer's 8-bit names, bytes unchanged.\n"
    "Entries without a thumbnail print '-' in the last four columns; the\n"
    "thumbnail streams of caches without a Catalog are listed under their\n"
    "stream names, with '-' for the time.\n"
    "\n"
    "With --catalog: every catalog record as it stands (duplicates and records\n"
    "without a thumbnail included) and every thumbnail stream of a cache\n"
    "without a Catalog: cache, record, stream, slot, name (UTF-8), filetime,\n"
    "utc, header, length, format, width, height, sha256 of the stored bytes,\n"
    "path (from the search index) and name_source (search-index, identifier,\n"
    "or empty for a catalog name).\n"
    "\n"
    "  --flags N             1 = the folder's files, 2 = the catalog's names\n"
    "                        (default), 3 = both (without --catalog)\n"
    "  --format tsv|csv|json output format (default tsv)\n"
    "  --catalog             list the records themselves\n"
    "  --recursive           every Thumbs.db below each folder; a Windows Search\n"
    "                        index at its usual place below a folder (or below\n"
    "                        one of its subfolders) is used as --search-index\n"
    "  --search-index FILE   Windows.edb or Windows.db: entries whose\n"
    "                        ThumbnailCacheId it knows are listed under their path\n"
    "\n"
    "Exit codes: 0 every cache was read, 1 some could not be (reported on\n"
    "standard error and skipped), 2 usage error.\n";

std::string dash_or(bool present, const std::string& text) { return present ? text : "-"; }

// The entry's name, or the path the search index knows for a stream named
// after a ThumbnailCacheId.
std::string list_name(const std::string& cache, int32_t i)
{
    uint64_t hash;
    const char* path = nullptr;
    if (file_list_source_slot(i) >= 0 && search_index_stream_hash(file_list_name(i), &hash) == 0)
        path = search_index_lookup(cli_index_for(cache), hash);
    return path ? path : file_list_name(i);
}

} // namespace

int cli_list(int argc, char** argv)
{
    long flags = 2;
    bool catalog = false, recursive = false;
    const char* format_name = "tsv";
    const char* index_path = nullptr;
    const CliOption options[] = {
        {"--flags", nullptr, CLI_NUMBER, nullptr, &flags, 0, 3, nullptr},
        {"--format", nullptr, CLI_TEXT, nullptr, nullptr, 0, 0, &format_name},
        {"--catalog", nullptr, CLI_SWITCH, &catalog, nullptr, 0, 0, nullptr},
        {"--recursive", "-r", CLI_SWITCH, &recursive, nullptr, 0, 0, nullptr},
        {"--search-index", nullptr, CLI_TEXT, nullptr, nullptr, 0, 0, &index_path},
    };
    std::vector<std::string> paths;
    switch (cli_parse_options("list", argc, argv, options, int(std::size(options)), &paths)) {
    case CLI_HELP_ASKED: std::fputs(help, stdout); return CLI_OK;
    case CLI_BAD_OPTION: return CLI_USAGE;
    case CLI_PARSED: break;
    }
    TableFormat format = TableFormat::tsv;
    if (parse_table_format(format_name, &format) != 0) {
        cli_error("list: --format takes tsv, csv or json");
        return CLI_USAGE;
    }
    if (paths.empty()) {
        std::fputs(help, stderr);
        return CLI_USAGE;
    }

    std::vector<std::string> caches, missing;
    find_caches(paths, recursive, &caches, &missing);
    int result = CLI_OK;
    for (const std::string& m : missing) {
        cli_error("%s: Thumbs.db not found", m.c_str());
        result = CLI_FAILED;
    }
    bool several = caches.size() > 1 || recursive || paths.size() > 1;
    if (cli_index_open(index_path, paths, recursive) != 0)
        result = CLI_FAILED;

    Table table;
    if (catalog) {
        table.columns = report_columns();
        table.kinds = {ColumnKind::text, ColumnKind::number, ColumnKind::text, ColumnKind::number, ColumnKind::text,
                       ColumnKind::number, ColumnKind::text, ColumnKind::text, ColumnKind::number, ColumnKind::text,
                       ColumnKind::number, ColumnKind::number, ColumnKind::text, ColumnKind::text,
                       ColumnKind::text};
    } else {
        if (several)
            table.columns.push_back("cache"), table.kinds.push_back(ColumnKind::text);
        for (const char* c : {"name", "width", "height", "filetime", "utc"})
            table.columns.emplace_back(c);
        for (ColumnKind k : {ColumnKind::bytes, ColumnKind::number, ColumnKind::number, ColumnKind::number,
                             ColumnKind::text})
            table.kinds.push_back(k);
    }

    bool loaded_any = false;
    for (const std::string& cache : caches) {
        if (catalog) {
            std::vector<ReportRow> rows;
            if (report_cache(cache, &rows) != 0) {
                cli_error("%s: Thumbs.db not found (%s)", cache.c_str(), store_error_text(store_error));
                result = CLI_FAILED;
                continue;
            }
            cli_index_name_rows(&rows);
            for (const ReportRow& r : rows)
                table.rows.push_back(report_cells(r));
            loaded_any = true;
            continue;
        }
        std::string folder, file;
        split_cache_path(cache, &folder, &file);
        if (file_list_build_from(folder.c_str(), file.c_str(), flags) != 0) {
            if (several)
                cli_error("%s: Thumbs.db not found (%s)", cache.c_str(), store_error_text(store_error));
            else
                std::fprintf(stderr, "Thumbs.db not found (%s)\n", store_error_text(store_error));
            result = CLI_FAILED;
            continue;
        }
        loaded_any = true;
        for (int32_t i = 0; i < file_list.count; ++i) {
            std::vector<std::string> cells;
            if (several)
                cells.push_back(cache);
            cells.emplace_back(list_name(cache, i));
            bool thumbnail = file_list_has_thumbnail(i);
            bool timed = thumbnail && file_list_source_slot(i) < 0;
            const Picture& p = file_list.pictures[i];
            cells.push_back(dash_or(thumbnail, std::to_string(p.width)));
            cells.push_back(dash_or(thumbnail, std::to_string(p.height)));
            cells.push_back(dash_or(timed, std::to_string(file_list.times[i])));
            cells.push_back(dash_or(timed, utc_text(file_list.times[i])));
            table.rows.push_back(std::move(cells));
        }
    }
    if (loaded_any)
        write_table(stdout, table, format);
    file_list_release();
    catalog_release();
    store_release();
    cli_index_close();
    return result;
}
