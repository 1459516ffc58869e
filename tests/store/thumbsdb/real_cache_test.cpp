// The real caches of the shared corpus, checked against an independent
// reader (olefile) and against the corpus manifest.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "store/thumbsdb/catalog.h"
#include "store/thumbsdb/compound_file.h"
#include "store/file_list.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbsdb_writer.h"

namespace {

struct OracleRecord {
    int32_t number;
    uint64_t time;
    std::string name;
};

struct OracleFile {
    bool readable = true;
    std::multiset<std::string> streams;  // "name:length"
    std::vector<OracleRecord> records;
};

struct Corpus {
    std::vector<std::vector<std::string>> rows;  // manifest rows of caches with a Catalog
    std::map<std::string, OracleFile> oracle;
    std::string skip_reason;
};

std::string unhex(const std::string& hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(char(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

const Corpus& corpus()
{
    static Corpus c = [] {
        Corpus c;
        std::string real = corpus_dir() + "/real/";
        for (auto& row : read_tsv(real + "manifest.tsv", nullptr))
            if (row.size() > 20 && row[10] == "yes")
                c.rows.push_back(row);
#ifdef _WIN32
        c.skip_reason = "the olefile oracle is a Linux python3; the Linux suite compares with it";
        return c;
#endif
        if (run_command("/usr/bin/python3 -c 'import olefile' 2>/dev/null") != 0) {
            c.skip_reason = "Debian's python3-olefile is not installed";
            return c;
        }
        std::string command = "/usr/bin/python3 " GLIMMERDEX_SOURCE_DIR "/tests/support/catalog_oracle.py";
        for (auto& row : c.rows)
            command += " " + real + row[1];
        std::string out;
        run_command(command, &out);
        for (const std::vector<std::string>& f : tsv_lines(out)) {
            if (f.size() < 2)
                continue;
            OracleFile& file = c.oracle[f[0]];
            if (f[1] == "unreadable") {
                file.readable = false;
            } else if (f[1] == "streams") {
                std::stringstream list(f.size() > 2 ? f[2] : "");
                for (std::string cell; std::getline(list, cell, ',');)
                    file.streams.insert(cell);
            } else if (f.size() >= 4) {
                file.records.push_back({std::stoi(f[2]), std::stoull(f[3]), unhex(f.size() > 4 ? f[4] : "")});
            }
        }
        return c;
    }();
    return c;
}

} // namespace

TEST(RealCaches, EveryCacheWithACatalogLoadsAndReadsLikeOlefile)
{
    REQUIRE_CORPUS();
    const Corpus& c = corpus();
    if (!c.skip_reason.empty())
        GTEST_SKIP() << c.skip_reason;
    ASSERT_EQ(c.rows.size(), 430u);
    int compared = 0;
    for (auto& row : c.rows) {
        SCOPED_TRACE(row[1]);
        std::string path = corpus_dir() + "/real/" + row[1];
        ASSERT_EQ(store_load(path.c_str()), 0);
        const OracleFile& o = c.oracle.at(row[1]);
        if (!o.readable)
            continue;  // the truncated cache: olefile refuses it, we read what is there
        std::multiset<std::string> ours;
        for (int32_t k = 0; k < stream_table.count; ++k)
            ours.insert(std::string(stream_table.slot_name[k]) + ":" + std::to_string(store_slot_length(k)));
        EXPECT_EQ(ours, o.streams) << "stream names and lengths";

        CatalogCursor cursor;
        int16_t version;
        ASSERT_EQ(catalog_begin(&cursor, &version), 0);
        EXPECT_EQ(std::to_string(version), row[11]);
        std::vector<OracleRecord> walked;
        CatalogEntry entry;
        while (catalog_next(&cursor, &entry))
            walked.push_back({entry.stream_number, entry.time, entry.name});
        ASSERT_EQ(walked.size(), o.records.size());
        EXPECT_EQ(std::to_string(walked.size()), row[12]) << "record count of the manifest";
        for (size_t i = 0; i < walked.size(); ++i) {
            EXPECT_EQ(walked[i].name, o.records[i].name) << "record " << i;
            EXPECT_EQ(walked[i].number, o.records[i].number);
            EXPECT_EQ(walked[i].time, o.records[i].time);
        }
        ++compared;
    }
    EXPECT_EQ(compared, 429);
    store_release();
}

TEST(RealCaches, EveryThumbnailGetsASensibleSize)
{
    REQUIRE_CORPUS();
    const Corpus& c = corpus();
    const std::set<std::string> missing_streams = {"84a897638db67020.db", "feb375d735da9fd4.db",
                                                   "8cb64f8a52ac3cae.db"};
    int thumbnails = 0;
    for (auto& row : c.rows) {
        SCOPED_TRACE(row[1]);
        int max_w = row[19].empty() ? 256 : std::stoi(row[19]);
        int max_h = row[20].empty() ? 256 : std::stoi(row[20]);
        ASSERT_EQ(file_list_build_from((corpus_dir() + "/real").c_str(), row[1].c_str(), 2), 0);
        int placeholders = 0;
        for (int32_t i = 0; i < file_list.count; ++i) {
            const Picture& p = file_list.pictures[i];
            if (!file_list_has_thumbnail(i)) {
                ++placeholders;
                continue;
            }
            ++thumbnails;
            EXPECT_GT(p.width, 0) << file_list_name(i);
            EXPECT_GT(p.height, 0) << file_list_name(i);
            EXPECT_LE(p.width, max_w) << file_list_name(i);
            EXPECT_LE(p.height, max_h) << file_list_name(i);
            EXPECT_EQ(p.pitch, p.width * 4);
        }
        if (row[1] != "854f91d1cc22dc16.db" && !missing_streams.count(row[1])) {
            EXPECT_EQ(placeholders, 0);
        }
    }
    EXPECT_GT(thumbnails, 15000);
    file_list_release();
}

// In this cache, directory order and numbering part: records must find their
// thumbnail through the stream named after their number, digits reversed.
TEST(RealCaches, StreamNamesDecideWhichThumbnailARecordGets)
{
    REQUIRE_CORPUS();
    std::string path = corpus_dir() + "/real/c69aeb4f04d5dab2.db";
    ASSERT_EQ(store_load(path.c_str()), 0);
    CatalogCursor cursor;
    int16_t version;
    ASSERT_EQ(catalog_begin(&cursor, &version), 0);
    CatalogEntry entry;
    int differ_from_slot_rule = 0, records = 0;
    while (catalog_next(&cursor, &entry)) {
        ++records;
        int32_t slot = catalog_stream_slot(entry.stream_number);
        ASSERT_GE(slot, 0) << entry.name;
        EXPECT_EQ(std::string(stream_table.slot_name[slot]), fixture::reversed_stream_name(entry.stream_number));
        int32_t rule = entry.stream_number <= stream_table.catalog_slot ? entry.stream_number - 1 : entry.stream_number;
        differ_from_slot_rule += rule != slot;
    }
    EXPECT_EQ(records, 96);
    EXPECT_GT(differ_from_slot_rule, 0) << "the file no longer shows the case";

    // And where records point to streams that are gone, those get nothing.
    ASSERT_EQ(store_load((corpus_dir() + "/real/feb375d735da9fd4.db").c_str()), 0);
    ASSERT_EQ(catalog_begin(&cursor, &version), 0);
    int missing = 0;
    while (catalog_next(&cursor, &entry))
        missing += catalog_stream_slot(entry.stream_number) < 0;
    EXPECT_EQ(missing, 28);
    store_release();
}

TEST(RealCaches, OddFilesEndCleanly)
{
    REQUIRE_CORPUS();
    std::string real = corpus_dir() + "/real/";
    EXPECT_EQ(store_load((real + "e5ecc88bf09a1c46.db").c_str()), -1) << "FrontPage text, not a cache";
    EXPECT_EQ(stream_table.count, 0);
    EXPECT_EQ(store_load((real + "32a375096dbbf800.db").c_str()), -1) << "a Root Entry and nothing else";
    EXPECT_EQ(stream_table.count, 0);
    // The truncated cache: streams wholly past the end are empty, the rest read.
    ASSERT_EQ(store_load((real + "854f91d1cc22dc16.db").c_str()), 0);
    EXPECT_EQ(stream_table.count, 35);
    store_release();
}
