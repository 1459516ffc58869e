// glimmerdex-cli extract: every thumbnail of one or more caches into a
// folder, with a report of what was found and written.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/cli/cache_report.h"
#include "app/cli/case/case_manifest.h"
#include "app/cli/case/case_record.h"
#include "app/cli/cli.h"
#include "app/cli/cli_paths.h"
#include "app/cli/cli_search_index.h"
#include "app/cli/cli_mft.h"
#include "app/cli/case/hashset.h"
#include "app/cli/case/html_report.h"
#include "app/cli/case/missing.h"
#include "app/cli/case/timeline.h"
#include "app/cli/cli_images.h"
#include "app/cli/safe_name.h"
#include "store/explorer/thumbcache.h"
#include "app/cli/table.h"
#include "platform/system.h"
#include "platform/work_pool.h"
#include "pngout/png_writer.h"
#include "store/thumbsdb/catalog.h"
#include "store/thumbsdb/compound_file.h"

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
    "with the columns of `list --catalog`, then md5, sha1 (of the stored\n"
    "bytes, as sha256), the file written, missing, hashset and same_as.\n"
    "DIR/manifest.json records the run: version, command line, times, the\n"
    "digests of every cache before and after, counts and warnings.\n"
    "DIR/hashes.txt holds size, MD5 and SHA-256 of every file written, in\n"
    "hashdeep's format; check the folder with\n"
    "  cd DIR && ls -A | grep -vxF hashes.txt | hashdeep -a -k hashes.txt -l -f /dev/stdin\n"
    "CACHE is a cache file or a folder holding a Thumbs.db.\n"
    "\n"
    "  --force       overwrite existing files (never done otherwise)\n"
    "  --json        also write DIR/report.json\n"
    "  --recursive   every Thumbs.db below each folder, and the Windows Search\n"
    "                index at its usual place below one (as --search-index)\n"
    "  --search-index FILE  Windows.edb or Windows.db naming the entries by path\n"
    "  --volume-guid GUID  the volume GUID of a disk image's NTFS volumes, where\n"
    "                no SYSTEM hive in the image gives it: Explorer records of\n"
    "                files the MFT still holds are named by path (mft,\n"
    "                mft-deleted)\n"
    "  --carve       also search the unallocated space of each disk image's\n"
    "                volumes for Explorer cache records (header checksum\n"
    "                matching) and Thumbs.db files; their thumbnails are\n"
    "                named carved_...\n"
    "  --timeline bodyfile|l2tcsv|jsonl   also write the timed entries as\n"
    "                DIR/timeline.body (mactime), timeline.l2tcsv.csv (plaso)\n"
    "                or timeline.jsonl (Timesketch); repeat for several\n"
    "  --hashset FILE  flag entries whose stored bytes are in FILE: a hashdeep\n"
    "                file, a list of MD5/SHA-1/SHA-256 digests, or an NSRL\n"
    "                RDSv3 database; repeatable\n"
    "  --hashset-mode alert|ignore   for the --hashset options after it:\n"
    "                flag matches (alert, the default) or leave them out of\n"
    "                the case (ignore: known harmless pictures)\n"
    "  --hashset-digests  also take the MD5, SHA-1 and SHA-256 of NSRL sets'\n"
    "                files for the manifest; without it an NSRL set is named by\n"
    "                its VERSION row, size and modification time (a full set is\n"
    "                tens of gigabytes); text sets' digests are always taken\n"
    "  --verify-image  check each E01 image read against the MD5 it stores\n"
    "                (its whole media is read): said on standard error and\n"
    "                in the manifest; a mismatch is exit 1\n"
    "  -j, --jobs N  digest on N threads (default: one per processor); the\n"
    "                output is the same whatever N\n"
    "  --html        also write DIR/index.html: the report as a page, with\n"
    "                the thumbnails, sortable and filterable (no network)\n"
    "  --blur-flagged  on that page, blur the thumbnails of entries in a hash\n"
    "                set until clicked\n"
    "\n"
    "Exit codes: 0 every cache was read and every file written, 1 some cache\n"
    "could not be read or some file not written (reported and skipped),\n"
    "2 usage error.\n";

// Opens a new file for writing; never replaces one unless force, and then
// never writes through a link left under the output's name.
FILE* create(const std::string& path, bool force, bool* exists)
{
    *exists = false;
    return force ? sys_replace_file(path.c_str()) : sys_create_new_file(path.c_str(), exists);
}

bool ends_with_nocase(const std::string& s, const char* suffix)
{
    size_t n = std::strlen(suffix);
    return s.size() >= n && ascii_stricmp(s.c_str() + s.size() - n, suffix) == 0;
}

std::string extension_of(const std::string& format)
{
    return std::string(".") + store_format_extension(format.c_str());
}

// An Explorer record's file: its identifier where that is a name as it
// stands, else its hash, with the extension of its format.
std::string thumbcache_file_name(const ReportRow& row)
{
    if (!row.path.empty()) {
        const std::string leaf = safe_file_name(search_index_leaf(row.path.c_str()));
        return ends_with_nocase(leaf, extension_of(row.format).c_str()) ? leaf : leaf + extension_of(row.format);
    }
    std::string name = safe_file_name(row.name);
    if (row.name.empty() || name != row.name) {
        char hash[17];
        thumbcache_hash_text(row.thumbcache.hash, hash);
        name = hash;
    }
    return name + extension_of(row.format);
}

struct Extractor {
    std::string dir;
    bool force = false;
    // The names of the case files: never given to a thumbnail.
    std::set<std::string> used{"report.csv",  "report.json", "manifest.json", "hashes.txt", "index.html",
                               "timeline.body", "timeline.l2tcsv.csv", "timeline.jsonl"};
    int failures = 0;
    std::vector<HashedFile> written;  // every file of the case, for hashes.txt

    // A thumbnail written but not yet read back (read_back_pending reads them
    // on all cores): its line of written and, where the file is the stored
    // bytes as they stand, those bytes and their digests.
    struct Pending {
        size_t line;
        const uint8_t* stored;
        size_t length;
        Digests digests;
        StoreEntry entry;  // its mapped pages go back once compared
    };
    std::vector<Pending> pending;

    // Reads back what was written: hashes.txt vouches for the bytes on disk.
    void note_written(const std::string& name)
    {
        HashedFile f{name, -1, {}};
        if (digests_of_file(dir + "/" + name, &f.digests, &f.size) != 0) {
            cli_error("extract: cannot read back %s/%s", dir.c_str(), name.c_str());
            ++failures;
            return;
        }
        written.push_back(f);
    }

    int write_bytes(const std::string& path, const ReportRow& row, bool* exists)
    {
        FILE* f = create(path, force, exists);
        if (!f)
            return -1;
        bool ok = std::fwrite(row.entry.payload.data, 1, size_t(row.length), f) == size_t(row.length);
        ok = std::fclose(f) == 0 && ok;
        if (ok && row.entry.kind == STORE_ENTRY_CATALOG)
            sys_set_file_time(path.c_str(), row.filetime);
        return ok ? 0 : -1;
    }

    int write_png(const std::string& path, const ReportRow& row, bool* exists)
    {
        *exists = false;
        CatalogEntry entry{};
        entry.stream_number = std::atoi(row.stream.c_str());
        Picture picture{};
        if (catalog_decode_entry(entry, 6, &picture) != 0 || !picture.pixels)
            return -1;
        int result = png_begin_file(create(path, force, exists), picture.width, picture.height);
        for (int32_t y = 0; result == 0 && y < picture.height; ++y) {
            const uint32_t* line = picture.pixels + size_t(y) * size_t(picture.pitch / 4);
            for (int32_t x = 0; x < picture.width; ++x)
                result |= png_put_pixel(line[x] & 0x00FFFFFF);
        }
        std::free(picture.pixels);
        return result;
    }

    // stored: the digests of the row's stored bytes.
    void extract(ReportRow& row, const Digests& stored)
    {
        if (row.length < 0)
            return;  // no thumbnail for this record
        std::string name = safe_file_name(row.path.empty() ? row.name : search_index_leaf(row.path.c_str()));
        if (row.entry.kind == STORE_ENTRY_CATALOG_OLD && !ends_with_nocase(name, ".png"))
            name += ".png";
        else if (row.entry.kind == STORE_ENTRY_STREAM && !ends_with_nocase(name, extension_of(row.format).c_str()))
            name += extension_of(row.format);
        else if (report_row_explorer(row))
            name = thumbcache_file_name(row);
        // A deleted cache's thumbnails say so in their names, beside the live ones.
        if (!row.origin.state.empty() && row.origin.state != "allocated")
            name = row.origin.state + "_" + name;
        // So do a shadow copy's ("vss1_..."), beside the live volume's.
        if (!row.origin.store.empty() && row.origin.store != "-")
            name = row.origin.store.substr(0, row.origin.store.find(' ')) + "_" + name;
        name = unique_file_name(name, &used);
        std::string path = dir + "/" + name;
        bool exists = false;
        int result = row.entry.kind == STORE_ENTRY_CATALOG_OLD ? write_png(path, row, &exists)
                                                               : write_bytes(path, row, &exists);
        if (result == 0) {
            row.file = name;
            const bool as_stored = row.entry.kind != STORE_ENTRY_CATALOG_OLD && !stored.md5.empty();
            pending.push_back({written.size(), as_stored ? row.entry.payload.data : nullptr,
                               as_stored ? size_t(row.length) : 0, stored, row.entry});
            written.push_back(HashedFile{name, -1, {}});
            return;
        }
        ++failures;
        if (exists)
            cli_error("extract: %s exists (--force overwrites)", path.c_str());
        else
            cli_error("extract: cannot write %s", path.c_str());
    }
};

// Whether the file holds exactly the bytes given: 0, 1 where it differs, -1
// where it cannot be read.
int file_differs(const std::string& path, const uint8_t* bytes, size_t length)
{
    std::FILE* f = sys_fopen(path.c_str(), "rb");
    if (!f)
        return -1;
    std::vector<uint8_t> slice(size_t(1) << 16);
    size_t at = 0, n;
    int result = 0;
    while (result == 0 && (n = std::fread(slice.data(), 1, slice.size(), f)) > 0) {
        result = n > length - at || std::memcmp(slice.data(), bytes + at, n) != 0;
        at += n;
    }
    if (std::ferror(f))
        result = -1;
    else if (result == 0 && at != length)
        result = 1;
    std::fclose(f);
    return result;
}

// The files of one cache read back on `jobs` threads, each into its own
// slot; those that cannot be read are reported afterwards in the order they
// were written, and leave hashes.txt. A file written as the stored bytes is
// compared with them, and vouched for by their digests, taken already; any
// other (a decoded PNG) is digested as read.
void read_back_pending(Extractor& x, int jobs)
{
    struct Work {
        Extractor* x;
        std::vector<int> result;
    } work{&x, std::vector<int>(x.pending.size(), 0)};
    sys_run_tasks(jobs, int64_t(x.pending.size()), [](void* context, int64_t i) {
        Work* w = static_cast<Work*>(context);
        const Extractor::Pending& p = w->x->pending[size_t(i)];
        HashedFile& f = w->x->written[p.line];
        const std::string path = w->x->dir + "/" + f.name;
        if (!p.stored) {
            w->result[size_t(i)] = digests_of_file(path, &f.digests, &f.size);
            return;
        }
        w->result[size_t(i)] = file_differs(path, p.stored, p.length);
        store_entry_release(p.entry);
        if (w->result[size_t(i)] == 0) {
            f.digests = p.digests;
            f.size = int64_t(p.length);
        }
    }, &work);
    std::vector<bool> unread(x.written.size(), false);
    for (size_t k = 0; k < x.pending.size(); ++k) {
        const std::string& name = x.written[x.pending[k].line].name;
        if (work.result[k] == 0)
            continue;
        if (work.result[k] > 0)
            cli_error("extract: %s/%s on disk differs from the stored bytes written", x.dir.c_str(), name.c_str());
        else
            cli_error("extract: cannot read back %s/%s", x.dir.c_str(), name.c_str());
        ++x.failures;
        unread[x.pending[k].line] = true;
    }
    std::vector<HashedFile> kept;
    for (size_t k = 0; k < x.written.size(); ++k)
        if (!unread[k])
            kept.push_back(std::move(x.written[k]));
    x.written = std::move(kept);
    x.pending.clear();
}

} // namespace

namespace {

// Writes one case file through write, unless it exists and force is off.
template <typename Write> int write_case_file(Extractor& x, const char* name, Write write)
{
    std::string path = x.dir + "/" + name;
    bool exists;
    FILE* f = create(path, x.force, &exists);
    if (!f) {
        cli_error(exists ? "extract: %s exists (--force overwrites)" : "extract: cannot write %s", path.c_str());
        return -1;
    }
    write(f);
    if (std::fclose(f) != 0) {
        cli_error("extract: cannot write %s", path.c_str());
        return -1;
    }
    x.note_written(name);
    return 0;
}

} // namespace

namespace {

// One extract run: what it found so far and what it records.
struct CaseRun {
    Extractor x;
    CaseManifest manifest;
    HashSetList known;
    std::set<std::string> from_folder;  // caches named by their folder
    std::vector<ReportRow> rows;        // the report, without hidden entries
    std::vector<CaseRow> cases;
    int jobs = 1;                       // threads for the digests
};

// The digests of every row's stored bytes, on all the run's threads; each
// row's slot is its own, so the result does not depend on the order.
void digest_payloads(std::vector<ReportRow>& rows, std::vector<CaseRow>& cases, int jobs)
{
    struct Work {
        std::vector<ReportRow>* rows;
        std::vector<CaseRow>* cases;
    } work{&rows, &cases};
    sys_run_tasks(jobs, int64_t(rows.size()), [](void* context, int64_t i) {
        Work* w = static_cast<Work*>(context);
        ReportRow& row = (*w->rows)[size_t(i)];
        CaseRow& c = (*w->cases)[size_t(i)];
        case_digest_payload(row, &c);
        row.sha256 = c.payload.sha256;
        // Pages of a mapped cache go back as they are digested: the writes
        // read them again one record at a time.
        store_entry_release(row.entry);
    }, &work);
}

// One warning per Explorer cache whose records fail their data checksum:
// the report's data_checksum column says which.
void warn_bad_data_checksums(const std::string& cache, const std::vector<ReportRow>& rows)
{
    int64_t records = 0, bad = 0;
    for (const ReportRow& r : rows)
        if (r.entry.kind == STORE_ENTRY_EXPLORER) {
            ++records;
            bad += r.thumbcache.data_check == THUMBCACHE_CHECK_BAD;
        }
    if (bad)
        cli_error("%s: %lld of %lld records fail their data checksum ('bad' in the report's data_checksum column)",
                  cache.c_str(), (long long)bad, (long long)records);
}

// Reads one cache, writes its thumbnails and keeps its rows; 0 or -1.
int extract_cache(CaseRun& run, const std::string& cache, bool progress)
{
    std::vector<ReportRow> rows;
    CaseCounts& n = run.manifest.counts;
    ++n.caches;
    std::string failure;
    if (report_cache(cache, &rows, &failure, false) != 0) {
        cli_error("%s", failure.c_str());
        ++n.caches_failed;
        return -1;
    }
    cli_index_name_rows(&rows);
    cli_mft_name_rows(cache, &rows);
    warn_bad_data_checksums(cache, rows);
    std::vector<CaseRow> cases(rows.size());
    if (run.from_folder.count(cache)) {
        std::string folder, file;
        split_cache_path(cache, &folder, &file);
        std::set<std::string> names;
        if (folder_file_names(folder, &names) == 0)
            mark_missing(names, rows, &cases);
    }
    digest_payloads(rows, cases, run.jobs);
    bool show = progress && rows.size() > 300;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].length >= 0)
            ++n.recovered;
        hashset_match(run.known.sets, cases[i].payload, &cases[i].hashset, &cases[i].hidden);
        if (cases[i].hidden) {
            ++n.hidden;
            store_entry_release(rows[i].entry);
            continue;
        }
        int failures_before = run.x.failures;
        run.x.extract(rows[i], cases[i].payload);
        store_entry_release(rows[i].entry);
        if (!rows[i].file.empty())
            ++n.written;
        else if (run.x.failures != failures_before)
            ++n.failed;
        if (show && (i % 50 == 0 || i + 1 == rows.size()))
            std::fprintf(stderr, "\rextract: %s: %zu/%zu", cache.c_str(), i + 1, rows.size());
    }
    if (show)
        std::fputc('\n', stderr);
    read_back_pending(run.x, run.jobs);
    n.entries_read += int64_t(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        if (cases[i].hidden)
            continue;  // known harmless: out of the case
        store_entry_forget_bytes(&rows[i].entry);  // the pool goes with the next load
        run.rows.push_back(std::move(rows[i]));
        run.cases.push_back(std::move(cases[i]));
    }
    report_release();
    return 0;
}

Table report_table(const CaseRun& run)
{
    Table table;
    table.columns = report_columns();
    table.kinds = {ColumnKind::text, ColumnKind::number, ColumnKind::text, ColumnKind::number, ColumnKind::text,
                   ColumnKind::number, ColumnKind::text, ColumnKind::text, ColumnKind::number, ColumnKind::text,
                   ColumnKind::number, ColumnKind::number, ColumnKind::text, ColumnKind::text, ColumnKind::text,
                   ColumnKind::text};
    for (const std::string& c : case_columns())
        table.columns.push_back(c);
    for (ColumnKind k : case_column_kinds())
        table.kinds.push_back(k);
    bool explorer = false;
    for (const ReportRow& r : run.rows)
        explorer = explorer || report_row_explorer(r);
    if (explorer) {
        for (const std::string& c : report_thumbcache_columns())
            table.columns.push_back(c), table.kinds.push_back(ColumnKind::text);
    }
    const bool images = cli_images_named();
    if (images)
        for (const std::string& c : report_origin_columns())
            table.columns.push_back(c), table.kinds.push_back(ColumnKind::text);
    for (size_t i = 0; i < run.rows.size(); ++i) {
        std::vector<std::string> cells = report_cells(run.rows[i]);
        for (std::string& c : case_cells(run.rows[i], run.cases[i]))
            cells.push_back(std::move(c));
        if (explorer)
            for (std::string& c : report_thumbcache_cells(run.rows[i]))
                cells.push_back(std::move(c));
        if (images)
            for (std::string& c : report_origin_cells(run.rows[i]))
                cells.push_back(std::move(c));
        table.rows.push_back(std::move(cells));
    }
    return table;
}

struct CaseOutputs {
    bool json = false, html = false, blur_flagged = false;
    std::vector<TimelineFormat> timelines;
};

// The reports, timelines and page, then the manifest and hashes.txt, which
// vouch for everything before them. 0, or -1 when one could not be written.
int write_case(CaseRun& run, const CaseOutputs& o, const std::vector<std::string>& command)
{
    int result = 0;
    Extractor& x = run.x;
    Table table = report_table(run);
    for (int k = 0; k < (o.json ? 2 : 1); ++k) {
        const char* name = k == 0 ? "report.csv" : "report.json";
        TableFormat format = k == 0 ? TableFormat::csv : TableFormat::json;
        result |= write_case_file(x, name, [&](FILE* f) { write_table(f, table, format); });
    }
    for (TimelineFormat t : o.timelines)
        result |= write_case_file(x, timeline_file_name(t),
                                  [&](FILE* f) { write_timeline(f, t, table, run.rows, run.cases); });
    if (o.html) {
        HtmlOptions page;
        page.blur_flagged = o.blur_flagged;
        page.summary = case_summary(run.manifest);
        result |= write_case_file(x, "index.html", [&](FILE* f) {
            write_html_report(f, table, run.rows, run.cases, run.manifest.inputs, page);
        });
    }

    // The evidence once more, now that the run is over.
    CaseManifest& m = run.manifest;
    for (CaseInput& in : m.inputs)
        input_print(in.path, &in.after, run.jobs);
    for (size_t i = 0; i < m.hashsets.size() && i < run.known.sets.size(); ++i) {
        int64_t size;
        if (!m.hashsets[i].digests_taken)
            continue;  // an NSRL set, named by what it says of itself
        if (hashset_file_digests(&run.known.sets[i], &m.hashsets[i].digests, &size) != 0)
            cli_error("%s: the hash set's digests cannot be taken", m.hashsets[i].path.c_str());
    }
    for (const HashedFile& f : x.written)
        m.outputs.push_back(f.name);
    m.outputs.push_back("manifest.json");
    m.outputs.push_back("hashes.txt");
    m.finished_utc = utc_now();
    result |= write_case_file(x, "manifest.json", [&](FILE* f) { write_manifest(f, m, command); });
    char folder[4096];
    std::string absolute = sys_absolute_path(x.dir.c_str(), folder, int(sizeof folder)) == 0 ? folder : x.dir;
    std::vector<HashedFile> listed = x.written;
    result |= write_case_file(x, "hashes.txt", [&](FILE* f) { write_hashdeep(f, absolute, command, listed); });
    return result ? -1 : 0;
}

// What the command line asks of `extract`.
struct ExtractOptions {
    bool force = false, recursive = false, carve = false;
    bool hashset_digests = false;  // the full digests of NSRL sets' files too
    bool verify_image = false;     // an E01's stored MD5 checked against its media
    long jobs = 0;                 // 0: one per processor
    const char* index_path = nullptr;
    const char* volume_guid = nullptr;
    CaseOutputs outputs;
    std::vector<std::pair<std::string, std::string>> hashsets;  // --hashset, --hashset-mode
    std::vector<std::string> paths;
    std::string dir;  // the case folder
};

// Fills *o from the arguments: 0 to run, -1 with *exit_code to stop (help
// printed, or a usage error reported).
int extract_parse(int argc, char** argv, ExtractOptions* o, int* exit_code)
{
    CaseOutputs& outputs = o->outputs;
    const CliOption options[] = {
        {"--force", "-f", CLI_SWITCH, &o->force, nullptr, 0, 0, nullptr},
        {"--json", nullptr, CLI_SWITCH, &outputs.json, nullptr, 0, 0, nullptr},
        {"--recursive", "-r", CLI_SWITCH, &o->recursive, nullptr, 0, 0, nullptr},
        {"--html", nullptr, CLI_SWITCH, &outputs.html, nullptr, 0, 0, nullptr},
        {"--blur-flagged", nullptr, CLI_SWITCH, &outputs.blur_flagged, nullptr, 0, 0, nullptr},
        {"--search-index", nullptr, CLI_TEXT, nullptr, nullptr, 0, 0, &o->index_path},
        {"--volume-guid", nullptr, CLI_TEXT, nullptr, nullptr, 0, 0, &o->volume_guid},
        {"--carve", nullptr, CLI_SWITCH, &o->carve, nullptr, 0, 0, nullptr},
        {"--hashset-digests", nullptr, CLI_SWITCH, &o->hashset_digests, nullptr, 0, 0, nullptr},
        {"--verify-image", nullptr, CLI_SWITCH, &o->verify_image, nullptr, 0, 0, nullptr},
        {"--jobs", "-j", CLI_NUMBER, nullptr, &o->jobs, 1, CLI_MAX_JOBS, nullptr},
    };
    static const char* const repeated[] = {"--timeline", "--hashset", "--hashset-mode"};
    std::vector<std::pair<std::string, std::string>> taken;
    std::vector<char*> rest;
    *exit_code = CLI_USAGE;
    if (cli_take_repeated("extract", argc, argv, repeated, int(std::size(repeated)), &taken, &rest) != CLI_PARSED)
        return -1;
    switch (cli_parse_options("extract", int(rest.size()), rest.data(), options, int(std::size(options)), &o->paths)) {
    case CLI_HELP_ASKED: std::fputs(help, stdout); *exit_code = CLI_OK; return -1;
    case CLI_BAD_OPTION: return -1;
    case CLI_PARSED: break;
    }
    if (cli_mft_option(o->volume_guid) != 0)
        return -1;
    for (const auto& [name, value] : taken) {
        TimelineFormat t;
        if (name != "--timeline") {
            o->hashsets.emplace_back(name, value);
            continue;
        }
        if (parse_timeline_format(value.c_str(), &t) != 0) {
            cli_error("extract: --timeline takes bodyfile, l2tcsv or jsonl, not '%s'", value.c_str());
            return -1;
        }
        if (std::find(outputs.timelines.begin(), outputs.timelines.end(), t) == outputs.timelines.end())
            outputs.timelines.push_back(t);
    }
    if (o->paths.size() < 2) {
        std::fputs(help, stderr);
        return -1;
    }
    o->dir = o->paths.back();
    o->paths.pop_back();
    return 0;
}

// The hash sets and the case folder, before anything is read: 0, or -1 with
// *exit_code (reported).
int extract_prepare(const ExtractOptions& o, CaseRun* run, int* exit_code)
{
    // A set that cannot be read stops the run before anything is written.
    if (hashsets_from_options("extract", o.hashsets, &run->known.sets) != 0) {
        *exit_code = CLI_USAGE;
        return -1;
    }
    run->x.dir = o.dir;
    run->x.force = o.force;
    run->jobs = o.jobs ? int(o.jobs) : sys_default_jobs();
    if (sys_make_directory(o.dir.c_str()) != 0) {
        cli_error("extract: cannot make the folder %s", o.dir.c_str());
        *exit_code = CLI_FAILED;
        return -1;
    }
    return 0;
}

// The sets in the manifest; their files' digests, where taken, are taken
// meanwhile and filled in when the case is written.
void record_hashsets(HashSetList* known, bool nsrl_digests, CaseManifest* manifest)
{
    for (const HashSet& s : known->sets) {
        CaseHashset h;
        h.path = s.path;
        h.mode = s.ignore ? "ignore" : "alert";
        h.kind = s.kind;
        h.entries = s.database ? -1 : s.entries;
        h.size = s.bytes;
        if (s.has_time)
            h.modified_utc = utc_text(s.modified);
        h.version = s.version;
        h.digests_taken = hashset_digests_taken(s, nsrl_digests);
        manifest->hashsets.push_back(h);
    }
    hashsets_digest_in_background(&known->sets, nsrl_digests);
}

// Reads every cache the paths name and writes its thumbnails into the case
// folder, keeping the rows for the case files. The exit code so far.
int extract_run(const ExtractOptions& o, CaseRun& run)
{
    record_hashsets(&run.known, o.hashset_digests, &run.manifest);
    std::vector<std::string> caches, missing;
    int result = find_caches(o.paths, o.recursive, &caches, &missing, o.carve) == 0 ? CLI_OK : CLI_FAILED;
    for (const std::string& m : missing) {
        cli_error("%s: Thumbs.db not found", m.c_str());
        result = CLI_FAILED;
    }
    // The evidence's fingerprints before anything else reads it: each cache
    // file, and each disk image whole rather than the caches inside it.
    std::vector<std::string> inputs = cli_image_paths();
    for (const std::string& cache : caches)
        if (!cli_image_cache(cache))
            inputs.push_back(cache);
    for (const std::string& input : inputs) {
        CaseInput in;
        in.path = input;
        input_print(input, &in.before, run.jobs);
        run.manifest.inputs.push_back(in);
    }
    if (o.verify_image) {
        std::vector<ImageCheck> checks;
        if (cli_images_verify(&checks) != 0)
            result = CLI_FAILED;
        for (const ImageCheck& c : checks)
            run.manifest.image_checks.push_back({c.image, c.result, c.stored_md5, c.media_md5});
    }
    if (cli_index_open(o.index_path, o.paths, o.recursive) != 0)
        result = CLI_FAILED;
    run.from_folder = caches_opened_from_folders(o.paths, o.recursive);
    bool progress = sys_stderr_is_terminal();
    for (const std::string& cache : caches)
        if (extract_cache(run, cache, progress) != 0)
            result = CLI_FAILED;
    catalog_release();
    store_release();
    cli_index_close();
    case_group_duplicates(run.rows, &run.cases);
    return result;
}

// Every warning goes into the manifest while this lives.
struct WarningsHook {
    explicit WarningsHook(std::vector<std::string>* w) { cli_warnings = w; }
    ~WarningsHook() { cli_warnings = nullptr; }
};

} // namespace

int cli_extract(int argc, char** argv)
{
    CaseRun run;
    run.manifest.started_utc = utc_now();
    std::vector<std::string> command = cli_invocation;
    if (command.empty()) {  // called as a function (tests): the words it was given
        command = {"glimmerdex-cli", "extract"};
        command.insert(command.end(), argv, argv + argc);
    }
    ExtractOptions options;
    int result;
    if (extract_parse(argc, argv, &options, &result) != 0)
        return result;
    if (cli_images_refused(options.paths))
        return CLI_USAGE;
    if (extract_prepare(options, &run, &result) != 0)
        return result;
    WarningsHook hook(&run.manifest.warnings);
    result = extract_run(options, run);
    if (write_case(run, options.outputs, command) != 0)
        result = CLI_FAILED;
    cli_images_close();
    return run.x.failures ? CLI_FAILED : result;
}
