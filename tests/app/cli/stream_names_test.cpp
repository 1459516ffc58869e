// Streams of a Windows 7+ Thumbs.db named from the evidence: the files of the
// cache's folder and the names of its own catalog, hashed as spelled with
// both seeds; the viewer's list and the report carry the names.
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "app/cli/cache_report.h"
#include "app/cli/case/timeline.h"
#include "app/cli/cli_search_index.h"
#include "store/file_list.h"
#include "store/stream_names.h"
#include "store/thumbsdb/compound_file.h"
#include "store/thumbsdb/hashed_streams.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbsdb_writer.h"

namespace {

uint64_t name_hash(uint64_t seed, const std::string& utf8)
{
    const std::vector<uint16_t> u = fixture::utf16_of(utf8);
    return hashed_stream_name_hash(seed, u.data(), u.size());
}

// As Windows names them: the hex without leading zeros.
std::string stream_name(uint64_t hash)
{
    char text[24];
    std::snprintf(text, sizeof text, "256_%llx", static_cast<unsigned long long>(hash));
    return text;
}

// One stream of the fixture: the name it is the hash of, the seed, whether a
// file of the folder bears the name, and what names it (empty: nothing).
struct Case {
    const char* hashed;
    uint64_t seed;
    const char* file;    // the folder's file, or null
    const char* source;  // the expected name_source
    bool ascii;          // the same bytes in every code page
};

const Case cases[] = {
    {"Ångström.JPG", HASHED_SEED_WINDOWS_8, "Ångström.JPG", "folder", false},
    {"Фото 2019.jpeg", HASHED_SEED_WINDOWS_7, "Фото 2019.jpeg", "folder", false},
    {"日本の写真.png", HASHED_SEED_WINDOWS_8, "日本の写真.png", "folder", false},
    {"\xF0\x9F\x98\x80 smile.jpg", HASHED_SEED_WINDOWS_8, "\xF0\x9F\x98\x80 smile.jpg", "folder", false},
    // The hash is of the name as spelled: the file "MixedCase.Jpg" names
    // its own stream, not one of another letter case.
    {"MixedCase.Jpg", HASHED_SEED_WINDOWS_7, "MixedCase.Jpg", "folder", true},
    {"mixedcase.jpg", HASHED_SEED_WINDOWS_8, nullptr, "", true},
    // In the catalog and the folder: the catalog names it, linked to its record.
    {"Ελληνικά.jpg", HASHED_SEED_WINDOWS_8, "Ελληνικά.jpg", "catalog", true},
    {"old.jpg", HASHED_SEED_WINDOWS_7, nullptr, "catalog", true},
    {"gone.jpg", HASHED_SEED_WINDOWS_8, nullptr, "", true},
};

// A mixed cache: a catalog of two records (Ελληνικά.jpg, old.jpg) and one
// hashed stream per case, in the folder with the cases' files.
void write_fixture(const TempDir& dir)
{
    const fixture::Bytes jpeg = fixture::encode_jpeg(fixture::make_test_image(20, 10, 3));
    fixture::CacheSpec spec;
    for (const char* name : {"Ελληνικά.jpg", "old.jpg"}) {
        fixture::CacheEntry e;
        e.name = name;
        e.time = 0x01D0000000000000;
        spec.entries.push_back(e);
    }
    std::vector<fixture::CompoundEntry> entries = {{"Catalog", fixture::write_catalog(spec)},
                                                   {"1", fixture::current_format_stream(jpeg)},
                                                   {"2", fixture::current_format_stream(jpeg)}};
    for (const Case& c : cases) {
        entries.push_back({stream_name(name_hash(c.seed, c.hashed)), fixture::hashed_stream(jpeg)});
        if (c.file)
            write_file(dir.file(c.file), {1, 2, 3});
    }
    write_file(dir.file("Thumbs.db"), fixture::write_compound(entries));
}

bool checked_here(const Case& c)
{
#ifdef _WIN32
    // The folder listing comes through the ANSI services: the list shows
    // their bytes, and names beyond the code page cannot be hashed there.
    return c.ascii || c.file == nullptr || std::string(c.source) == "catalog";
#else
    (void)c;
    return true;
#endif
}

} // namespace

TEST(StreamNames, FolderAndCatalogNameTheStreamsInTheListAndTheReport)
{
    TempDir dir;
    write_fixture(dir);
    const size_t n = std::size(cases);

    // The viewer's list (and `list`): catalog names, then the streams.
    ASSERT_EQ(file_list_build(dir.path().c_str(), 2), 0);
    ASSERT_EQ(file_list.count, int32_t(2 + n));
    for (size_t k = 0; k < n; ++k) {
        const Case& c = cases[k];
        SCOPED_TRACE(c.hashed);
        const int32_t i = int32_t(2 + k);
        ASSERT_EQ(file_list_entry(i).kind, STORE_ENTRY_STREAM);
        if (!checked_here(c))
            continue;
        const std::string stream = stream_name(name_hash(c.seed, c.hashed));
        if (std::string(c.source) == "catalog")
            EXPECT_EQ(file_list_name(i), std::string(file_list_name(k == 6 ? 0 : 1))) << "the catalog's own 8-bit name";
        else
            EXPECT_EQ(file_list_name(i), std::string(c.file ? c.file : stream.c_str()));
        EXPECT_EQ(file_list_cell_name(i), std::string(file_list_name(i)));
    }
    file_list_release();

    // The report: path, name_source and the link between stream and record.
    std::vector<ReportRow> rows;
    std::string failure;
    ASSERT_EQ(report_cache(dir.file("Thumbs.db"), &rows, &failure), 0) << failure;
    ASSERT_EQ(rows.size(), 2 + n);
    EXPECT_EQ(rows[0].linked, "stream " + stream_name(name_hash(HASHED_SEED_WINDOWS_8, "Ελληνικά.jpg")));
    EXPECT_EQ(rows[1].linked, "stream " + stream_name(name_hash(HASHED_SEED_WINDOWS_7, "old.jpg")));
    for (size_t k = 0; k < n; ++k) {
        const Case& c = cases[k];
        const ReportRow& r = rows[2 + k];
        SCOPED_TRACE(c.hashed);
        EXPECT_EQ(r.name, stream_name(name_hash(c.seed, c.hashed))) << "the stream keeps its own name";
        if (!checked_here(c))
            continue;
        EXPECT_EQ(r.name_source, c.source);
        EXPECT_EQ(r.path, *c.source ? c.hashed : "") << "UTF-8, whatever the listing's encoding";
        const std::string record = std::string(c.hashed) == "old.jpg" ? "record 1" : "record 0";
        EXPECT_EQ(r.linked, std::string(c.source) == "catalog" ? record : "");
        const std::vector<std::string> cells = report_cells(r);
        ASSERT_EQ(cells.size(), report_columns().size());
        EXPECT_EQ(report_columns().back(), "linked");
        EXPECT_EQ(cells.back(), r.linked);
    }

    // The timelines name a stream's events after the name found, and carry
    // where it came from (its directory times, set here: the writer leaves none).
    ReportRow timed = rows[2 + 6];
    timed.stream_times[1] = 0x01D0000000000000;
    Table table;
    table.columns = report_columns();
    table.rows = {report_cells(timed)};
    const std::vector<CaseRow> case_rows(1);
    for (const TimelineFormat format : {TimelineFormat::bodyfile, TimelineFormat::jsonl}) {
        std::FILE* out = std::tmpfile();
        ASSERT_NE(out, nullptr);
        write_timeline(out, format, table, {timed}, case_rows);
        std::rewind(out);
        std::string text;
        for (int c; (c = std::fgetc(out)) != EOF;)
            text += char(c);
        std::fclose(out);
        const std::string named = format == TimelineFormat::bodyfile ? ":Ελληνικά.jpg (stream)|"
                                                                      : "stream of Ελληνικά.jpg in ";
        EXPECT_NE(text.find(named), std::string::npos) << text;
        if (format == TimelineFormat::jsonl) {
            EXPECT_NE(text.find("\"name_source\": \"catalog\", \"linked\": \"record 0\""), std::string::npos)
                << text;
        }
    }

    // A search index that does not know a stream leaves the folder's name.
    ReportRow named = rows[2 + 4];
    cli_index_name_row(nullptr, named.entry.hash, &named);
    EXPECT_EQ(named.name_source, "folder");
    ReportRow unnamed = rows[2 + 5];
    cli_index_name_row(nullptr, unnamed.entry.hash, &unnamed);
    EXPECT_EQ(unnamed.name_source, "identifier");
    report_release();
    store_release();
}

// The hook for a disk image's deleted directory entries: names given with
// their source join those of the folder, below them in precedence.
TEST(StreamNames, ExtraNamesJoinBelowTheFolderAndTheCatalog)
{
    TempDir dir;
    write_fixture(dir);
    ASSERT_EQ(store_load(dir.file("Thumbs.db").c_str()), 0);
    const std::vector<ExtraName> deleted = {{"gone.jpg", NAME_SOURCE_FOLDER_DELETED},
                                            {"MixedCase.Jpg", NAME_SOURCE_FOLDER_DELETED},
                                            {"old.jpg", NAME_SOURCE_FOLDER_DELETED},
                                            {std::string("bad\xFF.jpg"), NAME_SOURCE_FOLDER_DELETED}};
    StreamNames names;
    stream_names_gather(dir.file("Thumbs.db"), &deleted, &names);
    const HashedName* gone = stream_names_find(&names, name_hash(HASHED_SEED_WINDOWS_8, "gone.jpg"));
    ASSERT_NE(gone, nullptr);
    EXPECT_EQ(gone->name, "gone.jpg");
    EXPECT_STREQ(name_source_text(gone->source), "folder-deleted");
    EXPECT_FALSE(gone->windows_7);
    const HashedName* live = stream_names_find(&names, name_hash(HASHED_SEED_WINDOWS_7, "MixedCase.Jpg"));
    ASSERT_NE(live, nullptr);
    EXPECT_EQ(live->source, NAME_SOURCE_FOLDER) << "the live file outranks a deleted entry of the same name";
    EXPECT_TRUE(live->windows_7);
    const HashedName* old = stream_names_find(&names, name_hash(HASHED_SEED_WINDOWS_7, "old.jpg"));
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(old->source, NAME_SOURCE_CATALOG);
    EXPECT_EQ(old->record, 1);
    EXPECT_EQ(stream_names_find(&names, name_hash(HASHED_SEED_WINDOWS_8, "mixedcase.jpg")), nullptr);
    EXPECT_EQ(stream_names_find(&names, 0), nullptr);
    store_release();
}
