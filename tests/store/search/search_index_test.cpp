// The Windows Search index reader: the real databases of the corpus against
// esedbexport and Python's sqlite3 reading copies of them; small SQLite
// databases made here for the failures and the bounds; the evidence folder
// unchanged after a load.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/system.h"
#include "store/search/search_index.h"
#include "store/explorer/thumbcache.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbcache_writer.h"

#ifdef GLIMMERDEX_HAVE_SQLITE
#include <sqlite3.h>
#endif

namespace {

// System.VolumeId as the index counted it: hex of the stored bytes, items.
std::map<std::string, int32_t> volume_counts(const SearchIndex& index)
{
    std::map<std::string, int32_t> out;
    for (int32_t i = 0; i < index.volume_id_count; ++i) {
        char hex[33];
        for (int b = 0; b < 16; ++b)
            std::snprintf(hex + 2 * b, 3, "%02x", index.volume_ids[i].guid[b]);
        out[hex] = index.volume_ids[i].items;
    }
    return out;
}

std::string win10_dir() { return corpus_dir() + "/search_index/win10-rathbunvm"; }
std::string win11_dir() { return corpus_dir() + "/search_index/win11-rathbunvm2-prebrowsing"; }

#define REQUIRE_INDEX(dir)                                                                                     \
    do {                                                                                                       \
        REQUIRE_CORPUS();                                                                                      \
        if (!file_exists(dir))                                                                                 \
            GTEST_SKIP() << dir << " not in the corpus; test skipped";                                         \
    } while (0)

std::map<uint64_t, std::string> as_map(const SearchIndex& index)
{
    std::map<uint64_t, std::string> m;
    for (int32_t i = 0; i < index.count; i++)
        m.emplace(index.items[i].hash, index.text + index.items[i].path);  // first work id wins
    return m;
}

uint64_t hex_le(const std::string& hex)  // "0039e6a6019f6814": the 8 bytes as stored
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; i--)
        v = v << 8 | std::stoul(hex.substr(size_t(i) * 2, 2), nullptr, 16);
    return v;
}

// Every file of a folder with its bytes.
std::map<std::string, std::vector<uint8_t>> snapshot(const std::string& dir)
{
    std::map<std::string, std::vector<uint8_t>> files;
    std::string out;
    run_command("ls -A '" + dir + "'", &out);
    std::stringstream ss(out);
    std::string name;
    while (std::getline(ss, name))
        files[name] = read_file(dir + "/" + name);
    return files;
}

void copy_folder(const std::string& from, const std::string& to)
{
    ASSERT_EQ(run_command("cp '" + from + "'/* '" + to + "'/ && chmod u+w '" + to + "'/*"), 0);
}

TEST(SearchIndexReal, Windows10EseMatchesEsedbexportAndNamesTheCacheEntries)
{
    REQUIRE_INDEX(win10_dir());
#ifndef GLIMMERDEX_HAVE_ESEDB
    GTEST_SKIP() << "this build reads no ESE database";
#endif
    if (run_command("command -v esedbexport >/dev/null") != 0)
        GTEST_SKIP() << "esedbexport (libesedb-utils) is not installed";
    TempDir tmp;
    copy_folder(win10_dir(), tmp.path());
    const auto before = snapshot(tmp.path());

    SearchIndex index;
    ASSERT_EQ(search_index_load(tmp.file("Windows.edb").c_str(), &index), 0) << failure_last().reason;
    EXPECT_EQ(index.kind, SEARCH_INDEX_ESE);
    EXPECT_EQ(snapshot(tmp.path()), before) << "the load changed or added files beside the database";

    // The oracle: esedbexport's table, in a folder of its own.
    TempDir out;
    ASSERT_EQ(run_command("cd '" + out.path() + "' && esedbexport -t x -T SystemIndex_PropertyStore '" +
                          tmp.file("Windows.edb") + "' >/dev/null 2>&1"),
              0);
    std::string table_file;
    run_command("ls '" + out.path() + "'/x.export/*", &table_file);
    table_file.erase(table_file.find('\n'));
    const std::vector<uint8_t> exported = read_file(table_file);
    const std::vector<std::vector<std::string>> table = tsv_lines(std::string(exported.begin(), exported.end()));
    ASSERT_FALSE(table.empty());
    const std::vector<std::string>& header = table.front();
    const auto column = [&](const char* name) { return std::find(header.begin(), header.end(), name) - header.begin(); };
    const size_t id_col = size_t(column("4678-System_ThumbnailCacheId"));
    const size_t path_col = size_t(column("4447-System_ItemPathDisplay"));
    ASSERT_LT(path_col, header.size());
    std::map<uint64_t, std::string> expected;
    for (size_t r = 1; r < table.size(); ++r) {
        const std::vector<std::string>& cells = table[r];
        if (cells.size() <= std::max(id_col, path_col) || cells[id_col].size() != 16 || cells[path_col].empty())
            continue;
        std::string path;  // esedbexport doubles backslashes
        for (size_t i = 0; i < cells[path_col].size(); i++) {
            path += cells[path_col][i];
            if (cells[path_col][i] == '\\' && i + 1 < cells[path_col].size() && cells[path_col][i + 1] == '\\')
                i++;
        }
        expected.emplace(hex_le(cells[id_col]), path);
    }
    EXPECT_GT(expected.size(), 800u);
    EXPECT_EQ(as_map(index), expected);
    // The volumes the items lie on, counted as the exported column holds them.
    const size_t volume_col = size_t(column("4702-System_VolumeId"));
    ASSERT_LT(volume_col, header.size());
    std::map<std::string, int32_t> volumes;
    for (size_t r = 1; r < table.size(); ++r)
        if (table[r].size() > volume_col && !table[r][volume_col].empty())
            volumes[table[r][volume_col]]++;
    EXPECT_EQ(volume_counts(index), volumes);
    EXPECT_STREQ(search_index_lookup(&index, 0x14689f01a6e63900ull), "C:\\Users\\AndrewRathbun\\Desktop\\Targets");
    EXPECT_STREQ(search_index_leaf(search_index_lookup(&index, 0x14689f01a6e63900ull)), "Targets");

    // The Windows 10 caches of the same machine: 8 entries are in the index,
    // two of them with a picture.
    std::vector<std::string> found;
    int with_picture = 0;
    for (auto& row : read_tsv(corpus_dir() + "/thumbcache/manifest.tsv", nullptr)) {
        if (row.size() < 5 || row[4].find("Win10/RathbunVM/thumbcache_") == std::string::npos ||
            row[4].find("_idx") != std::string::npos)
            continue;
        ThumbcacheFile cache;
        ASSERT_EQ(thumbcache_load((corpus_dir() + "/thumbcache/" + row[0]).c_str(), &cache), 0);
        for (int32_t i = 0; i < cache.count; i++)
            if (const char* path = search_index_lookup(&index, cache.entries[i].hash)) {
                char hex[17];
                thumbcache_hash_text(cache.entries[i].hash, hex);
                found.push_back(std::string(hex) + " " + path);
                with_picture += cache.entries[i].data_size != 0;
            }
        thumbcache_free(&cache);
    }
    EXPECT_EQ(found.size(), 8u);
    EXPECT_EQ(with_picture, 2);
    EXPECT_NE(std::find(found.begin(), found.end(), "14689f01a6e63900 C:\\Users\\AndrewRathbun\\Desktop\\Targets"),
              found.end());
    search_index_free(&index);
}

TEST(SearchIndexReal, Windows11SqliteMatchesPythonAndNamesFixtureEntries)
{
    REQUIRE_INDEX(win11_dir());
#ifndef GLIMMERDEX_HAVE_SQLITE
    GTEST_SKIP() << "this build reads no SQLite database";
#endif
    if (run_command("/usr/bin/python3 -c 'import sqlite3' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3 with sqlite3 is not installed";
    TempDir tmp;
    copy_folder(win11_dir(), tmp.path());
    const auto before = snapshot(tmp.path());
    SearchIndex index;
    ASSERT_EQ(search_index_load(tmp.file("Windows.db").c_str(), &index), 0) << failure_last().reason;
    EXPECT_EQ(index.kind, SEARCH_INDEX_SQLITE);
    EXPECT_EQ(snapshot(tmp.path()), before) << "the load changed or added files beside the database";

    // The oracle reads another copy (closing it folds the log into it).
    TempDir other;
    copy_folder(win11_dir(), other.path());
    const std::string script =
        "import sqlite3,sys\n"
        "c=sqlite3.connect(sys.argv[1])\n"
        "m={k.split('-',1)[-1]:i for i,k in c.execute('select Id,UniqueKey from SystemIndex_1_PropertyStore_Metadata')}\n"
        "q='select t.WorkId,t.Value,p.Value from SystemIndex_1_PropertyStore t join SystemIndex_1_PropertyStore p "
        "on p.WorkId=t.WorkId and p.ColumnId=? where t.ColumnId=? order by t.WorkId'\n"
        "for w,h,p in c.execute(q,(m['System_ItemPathDisplay'],m['System_ThumbnailCacheId'])):\n"
        "  p=p.decode('utf-16-le') if isinstance(p,bytes) else p\n"
        "  sys.stdout.buffer.write(('%016x\\t%s\\n'%(int.from_bytes(h,'little'),p)).encode())\n";
    write_file(other.file("oracle.py"), std::vector<uint8_t>(script.begin(), script.end()));
    std::string out;
    ASSERT_EQ(run_command("/usr/bin/python3 '" + other.file("oracle.py") + "' '" + other.file("Windows.db") + "'", &out), 0);
    std::map<uint64_t, std::string> expected;
    std::stringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        expected.emplace(std::stoull(line.substr(0, 16), nullptr, 16), line.substr(17));
    EXPECT_EQ(expected.size(), 621u);
    EXPECT_EQ(as_map(index), expected);
    const std::string volumes_script =
        "import sqlite3,sys\n"
        "c=sqlite3.connect(sys.argv[1])\n"
        "m={k.split('-',1)[-1]:i for i,k in c.execute('select Id,UniqueKey from SystemIndex_1_PropertyStore_Metadata')}\n"
        "for v,n in c.execute('select Value,count(*) from SystemIndex_1_PropertyStore where ColumnId=? group by Value',"
        "(m['System_VolumeId'],)):\n"
        "  print('%s\\t%d'%(v.hex(),n))\n";
    write_file(other.file("volumes.py"), std::vector<uint8_t>(volumes_script.begin(), volumes_script.end()));
    std::string volumes_out;
    ASSERT_EQ(run_command("/usr/bin/python3 '" + other.file("volumes.py") + "' '" + other.file("Windows.db") + "'",
                          &volumes_out),
              0);
    std::map<std::string, int32_t> volumes;
    for (const std::vector<std::string>& line : tsv_lines(volumes_out))
        if (line.size() == 2)
            volumes[line[0]] = std::stoi(line[1]);
    EXPECT_FALSE(volumes.empty());
    EXPECT_EQ(volume_counts(index), volumes);

    // A cache written here with hashes taken from the index.
    fixture::ThumbcacheSpec spec;
    std::vector<uint64_t> hashes;
    for (int32_t i = 0; i < index.count && hashes.size() < 5; i += index.count / 5)
        hashes.push_back(index.items[i].hash);
    for (uint64_t h : hashes) {
        fixture::ThumbcacheRecord r;
        r.hash = h;
        r.data = fixture::encode_png_rgba(fixture::RgbImage{2, 2, std::vector<uint32_t>(4, 0x808080)});
        spec.records.push_back(r);
    }
    fixture::ThumbcacheRecord stranger;
    stranger.hash = 0x0123456789abcdefull;
    spec.records.push_back(stranger);
    const auto bytes = fixture::write_thumbcache(spec);
    write_file(tmp.file("thumbcache_96.db"), bytes);
    ThumbcacheFile cache;
    ASSERT_EQ(thumbcache_load(tmp.file("thumbcache_96.db").c_str(), &cache), 0);
    ASSERT_EQ(cache.count, int32_t(hashes.size() + 1));
    for (int32_t i = 0; i < cache.count; i++) {
        const char* path = search_index_lookup(&index, cache.entries[i].hash);
        if (cache.entries[i].hash == stranger.hash)
            EXPECT_EQ(path, nullptr);
        else
            EXPECT_EQ(path ? path : "(none)", expected.at(cache.entries[i].hash));
    }
    thumbcache_free(&cache);
    search_index_free(&index);
}

TEST(SearchIndexFailure, TruncatedEseAndOtherFilesGiveAReason)
{
    TempDir tmp;
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* reason;
    };
    std::vector<Case> cases = {
        {"empty", {}, "neither an ESE nor an SQLite database"},
        {"text.db", std::vector<uint8_t>(100, 'x'), "neither an ESE nor an SQLite database"},
    };
    if (!corpus_dir().empty() && file_exists(win10_dir())) {
        auto edb = read_file(win10_dir() + "/Windows.edb");
        edb.resize(edb.size() / 16);  // the header stands, the catalog and tables are gone
        cases.push_back({"Windows.edb", edb,
#ifdef GLIMMERDEX_HAVE_ESEDB
                         ""
#else
                         "search index support not built"
#endif
        });
    }
    for (const Case& c : cases) {
        write_file(tmp.file(c.name), c.bytes);
        SearchIndex index;
        EXPECT_EQ(search_index_load(tmp.file(c.name).c_str(), &index), -1) << c.name;
        EXPECT_NE(std::strstr(failure_last().reason, c.reason), nullptr) << c.name << ": " << failure_last().reason;
        EXPECT_GT(std::strlen(failure_last().reason), 10u) << c.name;
        EXPECT_EQ(index.items, nullptr);
    }
    SearchIndex index;
    EXPECT_EQ(search_index_load(tmp.file("absent.db").c_str(), &index), -1);
    EXPECT_NE(std::strstr(failure_last().reason, "cannot open"), nullptr);
}

TEST(SearchIndexNames, PropertyNamesWithAndWithoutTheNumber)
{
    EXPECT_TRUE(search_index_name_matches("4678-System_ThumbnailCacheId", "System_ThumbnailCacheId"));
    EXPECT_TRUE(search_index_name_matches("System_ThumbnailCacheId", "System_ThumbnailCacheId"));
    EXPECT_TRUE(search_index_name_matches("15F-System_DateModified", "System_DateModified"));
    EXPECT_FALSE(search_index_name_matches("4448-System_ItemPathDisplayNarrow", "System_ItemPathDisplay"));
    EXPECT_FALSE(search_index_name_matches("x-System_ItemPathDisplay", "System_ItemPathDisplay"));
    EXPECT_FALSE(search_index_name_matches("-System_ItemPathDisplay", "System_ItemPathDisplay"));
    EXPECT_STREQ(search_index_leaf("C:\\Users\\a\\b.jpg"), "b.jpg");
    EXPECT_STREQ(search_index_leaf("C:\\"), "");
}

#ifdef GLIMMERDEX_HAVE_SQLITE

// A Windows.db of our own: the metadata rows and the property rows given.
struct Row {
    int64_t work_id, column;
    std::vector<uint8_t> blob;
    std::string text;  // stored as TEXT when the blob is empty
};

std::vector<uint8_t> le64(uint64_t v)
{
    std::vector<uint8_t> b(8);
    for (int i = 0; i < 8; i++)
        b[size_t(i)] = uint8_t(v >> (8 * i));
    return b;
}

std::vector<uint8_t> utf16(const std::u16string& s)
{
    std::vector<uint8_t> b;
    for (char16_t c : s)
        b.push_back(uint8_t(c)), b.push_back(uint8_t(c >> 8));
    return b;
}

void make_db(const std::string& path, const char* schema, const std::vector<Row>& rows)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    // One transaction: a commit per row would wait for the disk each time.
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA synchronous = OFF; BEGIN", nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, schema, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_stmt* stmt = nullptr;
    if (!rows.empty()) {
        ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO SystemIndex_1_PropertyStore VALUES (?, ?, ?)", -1, &stmt, nullptr),
                  SQLITE_OK);
    }
    for (const Row& r : rows) {
        sqlite3_bind_int64(stmt, 1, r.work_id);
        sqlite3_bind_int64(stmt, 2, r.column);
        if (r.blob.empty())
            sqlite3_bind_text(stmt, 3, r.text.c_str(), int(r.text.size()), SQLITE_TRANSIENT);
        else
            sqlite3_bind_blob(stmt, 3, r.blob.data(), int(r.blob.size()), SQLITE_TRANSIENT);
        ASSERT_EQ(sqlite3_step(stmt), SQLITE_DONE);
        sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

// Ids unlike the real file's, so that a reader with numbers built in fails.
const char* SCHEMA =
    "CREATE TABLE SystemIndex_1_PropertyStore_Metadata (Id INTEGER PRIMARY KEY, UniqueKey TEXT NOT NULL UNIQUE,"
    " Name TEXT NOT NULL, PropertyId INTEGER NOT NULL, VariantType INTEGER NOT NULL, StorageType INTEGER NOT NULL,"
    " MaxSize INTEGER, Flags INTEGER NOT NULL);"
    "CREATE TABLE SystemIndex_1_PropertyStore (WorkId INTEGER NOT NULL, ColumnId INTEGER NOT NULL,"
    " Value BLOB NOT NULL, PRIMARY KEY (WorkId, ColumnId)) WITHOUT ROWID;"
    "INSERT INTO SystemIndex_1_PropertyStore_Metadata VALUES"
    " (7, '4678-System_ThumbnailCacheId', 'System.ThumbnailCacheId', 100, 21, 0, 0, 0),"
    " (9, '4447-System_ItemPathDisplay', 'System.ItemPathDisplay', 7, 31, 0, 0, 0),"
    " (5, '11-System_FileName', 'System.FileName', 10, 31, 0, 0, 0),"
    " (3, '15F-System_DateModified', 'System.DateModified', 14, 64, 0, 0, 0);";

TEST(SearchIndexFailure, SqliteDatabasesWithoutWhatIsNeeded)
{
    TempDir tmp;
    const std::vector<Row> one = {{1, 7, le64(42), ""}, {1, 9, {}, "C:\\a.jpg"}};
    struct Case {
        const char* name;
        std::string schema;
        std::vector<Row> rows;
        const char* reason;
    } cases[] = {
        {"other.db", "CREATE TABLE t (x);", {}, "no property list"},
        {"no-id.db",
         "CREATE TABLE SystemIndex_1_PropertyStore_Metadata (Id INTEGER PRIMARY KEY, UniqueKey TEXT, Name TEXT);"
         "CREATE TABLE SystemIndex_1_PropertyStore (WorkId, ColumnId, Value);"
         "INSERT INTO SystemIndex_1_PropertyStore_Metadata VALUES (9, '4447-System_ItemPathDisplay', 'System.ItemPathDisplay');",
         {},
         "no System.ThumbnailCacheId"},
        {"no-path.db",
         "CREATE TABLE SystemIndex_1_PropertyStore_Metadata (Id INTEGER PRIMARY KEY, UniqueKey TEXT, Name TEXT);"
         "CREATE TABLE SystemIndex_1_PropertyStore (WorkId, ColumnId, Value);"
         "INSERT INTO SystemIndex_1_PropertyStore_Metadata VALUES (7, '4678-System_ThumbnailCacheId', 'System.ThumbnailCacheId');",
         {},
         "no System.ItemPathDisplay"},
        {"no-store.db",
         "CREATE TABLE SystemIndex_1_PropertyStore_Metadata (Id INTEGER PRIMARY KEY, UniqueKey TEXT, Name TEXT);"
         "INSERT INTO SystemIndex_1_PropertyStore_Metadata VALUES (7, '4678-System_ThumbnailCacheId', 'x'), (9, '4447-System_ItemPathDisplay', 'y');",
         {},
         "cannot read the property store"},
        {"empty.db", SCHEMA, {}, "no item has"},
        {"ids-only.db", SCHEMA, {{1, 7, le64(42), ""}, {2, 9, {}, "C:\\b.jpg"}}, "no item has"},
    };
    for (const Case& c : cases) {
        make_db(tmp.file(c.name), c.schema.c_str(), c.rows);
        SearchIndex index;
        EXPECT_EQ(search_index_load(tmp.file(c.name).c_str(), &index), -1) << c.name;
        EXPECT_NE(std::strstr(failure_last().reason, c.reason), nullptr) << c.name << ": " << failure_last().reason;
    }

    // A truncated database: the header promises pages that are gone.
    std::vector<Row> many;
    for (int i = 1; i <= 2000; i++) {
        many.push_back({i, 7, le64(uint64_t(i) * 0x9E3779B97F4A7C15ull), ""});
        many.push_back({i, 9, {}, "C:\\Users\\someone\\Pictures\\a fairly long folder name\\" + std::to_string(i) + ".jpg"});
    }
    make_db(tmp.file("whole.db"), SCHEMA, many);
    auto bytes = read_file(tmp.file("whole.db"));
    ASSERT_GT(bytes.size(), 65536u);
    bytes.resize(bytes.size() / 3);
    write_file(tmp.file("truncated.db"), bytes);
    SearchIndex index;
    ASSERT_EQ(search_index_load(tmp.file("whole.db").c_str(), &index), 0) << failure_last().reason;
    EXPECT_EQ(index.count, 2000);
    search_index_free(&index);
    EXPECT_EQ(search_index_load(tmp.file("truncated.db").c_str(), &index), -1);
    EXPECT_NE(std::strstr(failure_last().reason, "malformed"), nullptr) << failure_last().reason;
}

TEST(SearchIndexBounds, OddValuesAreSkippedCountedOrMended)
{
    TempDir tmp;
    const std::u16string million(1000000, u'a');
    const std::u16string longest = u"C:\\" + std::u16string(size_t(SEARCH_INDEX_MAX_PATH_UNITS) - 3, u'b');
    std::vector<uint8_t> seven = le64(11);
    seven.pop_back();
    std::vector<uint8_t> lone = utf16(u"C:\\x");
    lone.push_back(0x00), lone.push_back(0xD8);  // a high surrogate with nothing after it
    std::vector<uint8_t> with_nul = utf16(u"C:\\nul.png");
    with_nul.push_back(0), with_nul.push_back(0);
    const std::vector<Row> rows = {
        {1, 7, le64(1), ""}, {1, 9, utf16(million), ""},                      // a path of a million characters
        {2, 7, seven, ""},   {2, 9, {}, "C:\\seven.jpg"},                     // a hash of 7 bytes
        {3, 7, le64(3), ""}, {3, 9, lone, ""},                                // an unpaired surrogate
        {4, 7, le64(4), ""}, {4, 9, with_nul, ""}, {4, 5, {}, "nul.png"}, {4, 3, le64(0x01d81d2d8d1d1aa8), ""},
        {5, 7, le64(5), ""}, {5, 9, utf16(longest), ""},                      // exactly the longest path
        {6, 7, le64(6), ""},                                                  // no path
        {7, 7, le64(4), ""}, {7, 9, {}, "C:\\same id, later item.png"},       // the first item of an id wins
        {8, 7, le64(8), ""}, {8, 9, {}, std::string("C:\\bad\xff\xc3(utf8") + ".jpg"},
    };
    make_db(tmp.file("Windows.db"), SCHEMA, rows);
    SearchIndex index;
    ASSERT_EQ(search_index_load(tmp.file("Windows.db").c_str(), &index), 0) << failure_last().reason;
    EXPECT_EQ(index.bad_hashes, 1);
    EXPECT_EQ(index.long_paths, 1);
    EXPECT_EQ(index.without_path, 1);
    EXPECT_EQ(search_index_lookup(&index, 1), nullptr);
    EXPECT_STREQ(search_index_lookup(&index, 3), "C:\\x\xEF\xBF\xBD");
    const SearchIndexItem* item = search_index_find(&index, 4);
    ASSERT_NE(item, nullptr);
    EXPECT_STREQ(index.text + item->path, "C:\\nul.png");
    EXPECT_STREQ(index.text + item->name, "nul.png");
    EXPECT_EQ(item->has_time, 1);
    EXPECT_EQ(item->filetime, 0x01d81d2d8d1d1aa8ull);
    ASSERT_NE(search_index_lookup(&index, 5), nullptr);
    EXPECT_EQ(std::strlen(search_index_lookup(&index, 5)), size_t(SEARCH_INDEX_MAX_PATH_UNITS));
    EXPECT_STREQ(search_index_lookup(&index, 8), "C:\\bad\xEF\xBF\xBD\xEF\xBF\xBD(utf8.jpg");
    EXPECT_EQ(search_index_find(&index, 3)->name, 0u);
    search_index_free(&index);
}

#endif

} // namespace
