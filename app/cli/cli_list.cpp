// glimmerdex-cli list: the file list as the viewer builds it, or every
// catalog record as it stands (--catalog).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/cli/cache_report.h"
#include "app/cli/cli.h"
#include "app/cli/cli_images.h"
#include "app/cli/cli_mft.h"
#include "app/cli/case/case_record.h"
#include "app/cli/cli_paths.h"
#include "app/cli/cli_search_index.h"
#include "app/cli/case/hashset.h"
#include "app/cli/case/missing.h"
#include "app/cli/table.h"
#include "store/thumbsdb/catalog.h"
#include "store/thumbsdb/compound_file.h"
#include "store/file_list.h"

namespace {

const char help[] =
    "Usage: glimmerdex-cli list [OPTIONS] PATH...\n"
    "\n"
    "Lists the entries of thumbnail caches. PATH is a cache file of any name\n"
    "(Thumbs.db, ehthumbs.db, thumbcache_*.db, iconcache_*.db, an index such as\n"
    "thumbcache_idx.db or thm523.tmp), or a folder holding a Thumbs.db (any\n"
    "letter case) or Explorer's cache files (all of them, thumbcache before\n"
    "iconcache, each by size bucket), or a disk image (raw, split raw, E01,\n"
    "VHD, VHDX, VMDK, QCOW2): every cache of every file system in it, live and\n"
    "deleted, with the columns image, partition_offset, partition_type, store,\n"
    "fs_type, fs_path, inode, state, image_offset and volume_offset (the\n"
    "last two for carved finds, '-' otherwise) added.\n"
    "\n"
    "Without --catalog: the list exactly as the viewer builds it, with the\n"
    "columns name, width, height, filetime, utc (and cache first when several\n"
    "caches are listed). Names are the viewer's 8-bit names, bytes unchanged;\n"
    "width and height are the stored picture's, not the size the viewer draws.\n"
    "Entries without a thumbnail print '-' in the last four columns; the\n"
    "thumbnail streams of Windows 7+ caches are listed under the\n"
    "name of their file where the cache's catalog or folder holds it (else\n"
    "their stream names), with '-' for the time. Records of Explorer's cache files\n"
    "are listed under their identifiers (UTF-8), '-' for the time; an index\n"
    "lists one row per used slot under its hash.\n"
    "\n"
    "With --catalog: every catalog record as it stands (duplicates and records\n"
    "without a thumbnail included) and every thumbnail stream of a cache\n"
    "without a Catalog: cache, record, stream, slot, name (UTF-8), filetime,\n"
    "utc, header, length, format, width, height, sha256 of the stored bytes,\n"
    "path (the name found for a stream or Explorer record), name_source\n"
    "(search-index, catalog: a record of the same name, folder: a file of\n"
    "the cache's folder, mft / mft-deleted: a file a disk image's MFT still\n"
    "records, live or deleted, identifier: an index applies but names nothing;\n"
    "empty for a catalog record and where nothing names it) and linked\n"
    "(\"record N\" on a stream named by a catalog record, \"stream NAME\" on\n"
    "the record).\n"
    "Explorer's cache files add: version, bucket, offset, hash (16 hex\n"
    "digits), data_size, header_checksum (ok/bad), data_checksum (ok, bad or\n"
    "unverified, then the stored value: a CRC-64 of the data's first KiB and of\n"
    "one word every 400 bytes after it; unverified where the last such word is\n"
    "cut short by the end of the data, a case no real file shows), recovered\n"
    "(yes/no), index (the slot of the index beside the file, 'unknown' when\n"
    "the index does not list the entry, 'dangling ...' rows for index slots\n"
    "that find no record) and index_buckets (the sizes the index lists for\n"
    "the item).\n"
    "\n"
    "  --flags N             1 = the folder's files, 2 = the catalog's names\n"
    "                        (default), 3 = both (without --catalog)\n"
    "  --format tsv|csv|json output format (default tsv)\n"
    "  --catalog             list the records themselves\n"
    "  --recursive           every Thumbs.db, ehthumbs.db and Explorer cache\n"
    "                        file below each folder; a Windows Search index at\n"
    "                        its usual place below a folder (or below one of its\n"
    "                        subfolders) is used as --search-index\n"
    "  --search-index FILE   Windows.edb or Windows.db: entries whose\n"
    "                        ThumbnailCacheId it knows are listed under their path\n"
    "  --volume-guid GUID    the volume GUID of a disk image's NTFS volumes\n"
    "                        ({6924D67C-D058-4337-8E3E-954A5CC57C23}), where no\n"
    "                        SYSTEM hive in the image gives it: Explorer records\n"
    "                        whose files the MFT still holds are listed under\n"
    "                        their paths (name_source mft, mft-deleted)\n"
    "  --carve               also search the unallocated space of each disk\n"
    "                        image's volumes: Explorer cache records whose\n"
    "                        header checksum matches, and Thumbs.db files read as\n"
    "                        contiguous; listed with state carved and their\n"
    "                        image_offset and volume_offset\n"
    "  --missing             only the catalog records whose original file is\n"
    "                        no longer in the cache's folder (a cache named\n"
    "                        by its folder); implies --catalog\n"
    "  --hashset FILE        add a hashset column: the sets (hashdeep file,\n"
    "                        digest list or NSRL RDSv3 database) holding the\n"
    "                        stored bytes; repeatable; implies --catalog\n"
    "  --hashset-mode alert|ignore   for the --hashset options after it:\n"
    "                        ignore leaves their matches out\n"
    "\n"
    "Exit codes: 0 every cache was read, 1 some could not be (reported on\n"
    "standard error and skipped), 2 usage error.\n";

std::string dash_or(bool present, const std::string& text) { return present ? text : "-"; }

// The entry's name, or the path the search index knows for a stream named
// after a ThumbnailCacheId.
std::string list_name(const std::string& cache, int32_t i)
{
    const StoreEntry& entry = file_list_entry(i);
    const char* path = entry.has_hash ? search_index_lookup(cli_index_for(cache), entry.hash) : nullptr;
    return path ? path : file_list_name(i);
}

// The report's rows of one cache, named from the search index; 0, or -1
// when it cannot be read (reported). Without digest the stored bytes are not
// hashed: a plain list reads no more of a cache than it prints.
int read_rows(const std::string& cache, std::vector<ReportRow>* rows, bool digest = true)
{
    std::string failure;
    if (report_cache(cache, rows, &failure, digest) != 0) {
        cli_error("%s", failure.c_str());
        return -1;
    }
    cli_index_name_rows(rows);
    cli_mft_name_rows(cache, rows);
    return 0;
}

// What --missing and --hashset make of the catalog listing.
struct CatalogFilter {
    bool missing_only = false;
    std::set<std::string> from_folder;  // caches named by their folder
    bool flag_known = false;
    const std::vector<HashSet>* sets = nullptr;
};

// The --catalog rows of one cache into table; 0, or -1 when it cannot be read.
int add_catalog_rows(const std::string& cache, const CatalogFilter& filter, Table* table,
                     std::vector<std::vector<std::string>>* extras, bool* any_thumbcache)
{
    std::vector<ReportRow> rows;
    if (read_rows(cache, &rows) != 0)
        return -1;
    std::vector<CaseRow> cases(rows.size());
    if (filter.missing_only && filter.from_folder.count(cache)) {
        std::set<std::string> names;
        std::string folder, file;
        split_cache_path(cache, &folder, &file);
        if (folder_file_names(folder, &names) == 0)
            mark_missing(names, rows, &cases);
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        if (filter.missing_only && cases[i].missing != "yes")
            continue;
        std::vector<std::string> cells = report_cells(rows[i]);
        if (filter.flag_known) {
            case_digest_payload(rows[i], &cases[i]);
            hashset_match(*filter.sets, cases[i].payload, &cases[i].hashset, &cases[i].hidden);
            if (cases[i].hidden)
                continue;
            cells.push_back(cases[i].hashset.empty() ? "-" : cases[i].hashset);
        }
        table->rows.push_back(std::move(cells));
        std::vector<std::string> extra = report_thumbcache_cells(rows[i]);
        for (std::string& o : report_origin_cells(rows[i]))
            extra.push_back(std::move(o));
        extras->push_back(std::move(extra));
        *any_thumbcache = *any_thumbcache || report_row_explorer(rows[i]);
    }
    // The rows are text now: a copy read out of an image (a carved record
    // among them) is not kept for the rest of the run.
    report_release();
    return 0;
}

// What the command line asks of `list`.
struct ListOptions {
    long flags = 2;
    bool catalog = false, recursive = false, missing_only = false, carve = false;
    TableFormat format = TableFormat::tsv;
    const char* index_path = nullptr;
    const char* volume_guid = nullptr;
    std::vector<std::string> paths;
    HashSetList known;  // --hashset
    bool flag_known = false;
};

// Fills *o from the arguments: 0 to run, -1 with *exit_code to stop (help
// printed, or a usage error reported).
int list_parse(int argc, char** argv, ListOptions* o, int* exit_code)
{
    const char* format_name = "tsv";
    const CliOption options[] = {
        {"--flags", nullptr, CLI_NUMBER, nullptr, &o->flags, 0, 3, nullptr},
        {"--format", nullptr, CLI_TEXT, nullptr, nullptr, 0, 0, &format_name},
        {"--catalog", nullptr, CLI_SWITCH, &o->catalog, nullptr, 0, 0, nullptr},
        {"--recursive", "-r", CLI_SWITCH, &o->recursive, nullptr, 0, 0, nullptr},
        {"--missing", nullptr, CLI_SWITCH, &o->missing_only, nullptr, 0, 0, nullptr},
        {"--search-index", nullptr, CLI_TEXT, nullptr, nullptr, 0, 0, &o->index_path},
        {"--volume-guid", nullptr, CLI_TEXT, nullptr, nullptr, 0, 0, &o->volume_guid},
        {"--carve", nullptr, CLI_SWITCH, &o->carve, nullptr, 0, 0, nullptr},
    };
    static const char* const repeated[] = {"--hashset", "--hashset-mode"};
    std::vector<std::pair<std::string, std::string>> taken;
    std::vector<char*> rest;
    *exit_code = CLI_USAGE;
    if (cli_take_repeated("list", argc, argv, repeated, int(std::size(repeated)), &taken, &rest) != CLI_PARSED)
        return -1;
    switch (cli_parse_options("list", int(rest.size()), rest.data(), options, int(std::size(options)), &o->paths)) {
    case CLI_HELP_ASKED: std::fputs(help, stdout); *exit_code = CLI_OK; return -1;
    case CLI_BAD_OPTION: return -1;
    case CLI_PARSED: break;
    }
    if (parse_table_format(format_name, &o->format) != 0) {
        cli_error("list: --format takes tsv, csv or json");
        return -1;
    }
    if (cli_mft_option(o->volume_guid) != 0)
        return -1;
    if (o->paths.empty()) {
        std::fputs(help, stderr);
        return -1;
    }
    if (hashsets_from_options("list", taken, &o->known.sets) != 0)
        return -1;
    o->flag_known = !taken.empty();
    o->catalog = o->catalog || o->missing_only || o->flag_known;
    return 0;
}

// The columns before any cache is read; those of Explorer files come after.
void list_columns(const ListOptions& o, bool several, Table* table)
{
    if (o.catalog) {
        table->columns = report_columns();
        table->kinds = {ColumnKind::text, ColumnKind::number, ColumnKind::text, ColumnKind::number, ColumnKind::text,
                        ColumnKind::number, ColumnKind::text, ColumnKind::text, ColumnKind::number, ColumnKind::text,
                        ColumnKind::number, ColumnKind::number, ColumnKind::text, ColumnKind::text,
                        ColumnKind::text, ColumnKind::text};
        if (o.flag_known)
            table->columns.push_back("hashset"), table->kinds.push_back(ColumnKind::text);
        return;
    }
    if (several)
        table->columns.push_back("cache"), table->kinds.push_back(ColumnKind::text);
    for (const char* c : {"name", "width", "height", "filetime", "utc"})
        table->columns.emplace_back(c);
    for (ColumnKind k : {ColumnKind::bytes, ColumnKind::number, ColumnKind::number, ColumnKind::number,
                         ColumnKind::text})
        table->kinds.push_back(k);
}

// The rows of an Explorer file without --catalog: no times and no folder of
// originals. 0, or -1 when it cannot be read (reported).
int add_explorer_rows(const std::string& cache, bool several, Table* table)
{
    std::vector<ReportRow> rows;
    if (read_rows(cache, &rows, false) != 0)
        return -1;
    for (const ReportRow& r : rows) {
        if (r.thumbcache.index.rfind("dangling", 0) == 0)
            continue;
        std::vector<std::string> cells;
        if (several)
            cells.push_back(cache);
        cells.push_back(r.path.empty() ? r.name : r.path);
        cells.push_back(dash_or(r.width > 0, std::to_string(r.width)));
        cells.push_back(dash_or(r.height > 0, std::to_string(r.height)));
        cells.push_back("-");
        cells.push_back("-");
        table->rows.push_back(std::move(cells));
    }
    report_release();
    return 0;
}

// The rows of the viewer's list of a Thumbs.db; 0, or -1 when it cannot be
// read (reported).
int add_file_list_rows(const std::string& cache, long flags, bool several, Table* table)
{
    std::string folder, file;
    split_cache_path(cache, &folder, &file);
    // Sizes are all a list prints: no picture is decoded.
    const FileListOptions options{.flags = int32_t(flags), .decode = FILE_LIST_DECODE_SIZES};
    if (file_list_build_from(folder.c_str(), file.c_str(), options) != 0) {
        cli_error("%s", report_failure(cache, THUMBCACHE_NEITHER).c_str());
        return -1;
    }
    for (int32_t i = 0; i < file_list.count; ++i) {
        std::vector<std::string> cells;
        if (several)
            cells.push_back(cache);
        cells.emplace_back(list_name(cache, i));
        bool thumbnail = file_list_has_thumbnail(i);
        bool timed = thumbnail && !file_list_keyed(i);
        // The size as stored, not as fitted into the viewer's cell.
        int32_t width = file_list.pictures[i].width, height = file_list.pictures[i].height;
        store_entry_stored_size(file_list_entry(i), &width, &height);
        cells.push_back(dash_or(thumbnail, std::to_string(width)));
        cells.push_back(dash_or(thumbnail, std::to_string(height)));
        cells.push_back(dash_or(timed, std::to_string(file_list.times[i])));
        cells.push_back(dash_or(timed, utc_text(file_list.times[i])));
        table->rows.push_back(std::move(cells));
    }
    return 0;
}

// The columns of Explorer files and of disk images, each set where any row
// needs it; extras holds both per row.
void add_extra_columns(const std::vector<std::vector<std::string>>& extras, bool thumbcache, bool origin, Table* table)
{
    const size_t thumbcache_count = report_thumbcache_columns().size();
    if (thumbcache) {
        for (const std::string& c : report_thumbcache_columns())
            table->columns.push_back(c);
        for (ColumnKind k : {ColumnKind::number, ColumnKind::text, ColumnKind::number, ColumnKind::text,
                             ColumnKind::number, ColumnKind::text, ColumnKind::text, ColumnKind::text,
                             ColumnKind::text, ColumnKind::text})
            table->kinds.push_back(k);
    }
    if (origin) {
        for (const std::string& c : report_origin_columns()) {
            table->columns.push_back(c);
            const bool number = c == "partition_offset" || c == "image_offset" || c == "volume_offset";
            table->kinds.push_back(number ? ColumnKind::number : ColumnKind::text);
        }
    }
    for (size_t i = 0; i < table->rows.size(); ++i) {
        const std::vector<std::string>& e = extras[i];
        if (thumbcache)
            table->rows[i].insert(table->rows[i].end(), e.begin(), e.begin() + long(thumbcache_count));
        if (origin)
            table->rows[i].insert(table->rows[i].end(), e.begin() + long(thumbcache_count), e.end());
    }
}

// The viewer's list of a Thumbs.db inside a disk image, from its records:
// the first record of each name (letter case ignored), then the thumbnail
// streams of a cache without a Catalog. 0, or -1 when it cannot be read
// (reported).
int add_image_list_rows(const std::string& cache, bool several, Table* table,
                        std::vector<std::vector<std::string>>* extras)
{
    std::vector<ReportRow> rows;
    if (read_rows(cache, &rows) != 0)
        return -1;
    std::set<std::string> seen;
    for (const ReportRow& r : rows) {
        if (r.thumbcache.index.rfind("dangling", 0) == 0)
            continue;
        if (r.record >= 0 && !report_row_explorer(r)) {
            std::string folded;
            for (char c : r.name)
                folded += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
            if (!seen.insert(folded).second)
                continue;
        }
        std::vector<std::string> cells;
        if (several)
            cells.push_back(cache);
        const bool thumbnail = r.length >= 0 && r.width > 0;
        const bool timed = thumbnail && r.has_time;
        cells.push_back(r.path.empty() ? r.name : r.path);
        cells.push_back(dash_or(thumbnail, std::to_string(r.width)));
        cells.push_back(dash_or(thumbnail, std::to_string(r.height)));
        cells.push_back(dash_or(timed, std::to_string(r.filetime)));
        cells.push_back(dash_or(timed, utc_text(r.filetime)));
        table->rows.push_back(std::move(cells));
        std::vector<std::string> extra(report_thumbcache_columns().size(), "-");
        for (std::string& o : report_origin_cells(r))
            extra.push_back(std::move(o));
        extras->push_back(std::move(extra));
    }
    report_release();
    return 0;
}

// Reads every cache the paths name into *table; *loaded_any when one could
// be read. The exit code.
int list_run(const ListOptions& o, Table* table, bool* loaded_any)
{
    CatalogFilter filter;
    filter.missing_only = o.missing_only;
    filter.flag_known = o.flag_known;
    filter.sets = &o.known.sets;
    if (cli_images_refused(o.paths))
        return CLI_USAGE;
    std::vector<std::string> caches, missing;
    int result = find_caches(o.paths, o.recursive, &caches, &missing, o.carve) == 0 ? CLI_OK : CLI_FAILED;
    if (o.missing_only)
        filter.from_folder = caches_opened_from_folders(o.paths, o.recursive);
    for (const std::string& m : missing) {
        cli_error("%s: Thumbs.db not found", m.c_str());
        result = CLI_FAILED;
    }
    bool several = caches.size() > 1 || o.recursive || o.paths.size() > 1;
    if (cli_index_open(o.index_path, o.paths, o.recursive) != 0)
        result = CLI_FAILED;
    list_columns(o, several, table);

    bool any_thumbcache = false;
    std::vector<std::vector<std::string>> extras;  // per catalog row
    const bool images = cli_images_named();
    for (const std::string& cache : caches) {
        int read;
        if (o.catalog)
            read = add_catalog_rows(cache, filter, table, &extras, &any_thumbcache);
        else if (cli_image_cache(cache))
            read = add_image_list_rows(cache, several, table, &extras);
        else if (report_explorer_file(cache))
            read = add_explorer_rows(cache, several, table);
        else
            read = add_file_list_rows(cache, o.flags, several, table);
        // Rows of caches outside an image have no origin: '-' in its columns.
        const size_t dashes = report_thumbcache_columns().size() + report_origin_columns().size();
        while (extras.size() < table->rows.size())
            extras.emplace_back(dashes, "-");
        if (read != 0)
            result = CLI_FAILED;
        else
            *loaded_any = true;
    }
    // An image whose volumes hold no cache still lists: no rows, not a failure.
    *loaded_any = *loaded_any || images;
    if (any_thumbcache || images)
        add_extra_columns(extras, any_thumbcache, images, table);
    return result;
}

} // namespace

int cli_list(int argc, char** argv)
{
    ListOptions options;
    int result;
    if (list_parse(argc, argv, &options, &result) != 0)
        return result;
    Table table;
    bool loaded_any = false;
    result = list_run(options, &table, &loaded_any);
    if (loaded_any)
        write_table(stdout, table, options.format);
    report_release();
    file_list_release();
    catalog_release();
    store_release();
    cli_index_close();
    cli_images_close();
    return result;
}
