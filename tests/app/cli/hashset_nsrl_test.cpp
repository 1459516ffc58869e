// NSRL RDSv3 sets: what each shape of database matches, and that every
// look-up the tool prepares goes through an index (SQLite's own plan of it).
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "app/cli/case/hashset.h"
#include "tests/support/test_support.h"
#include "tools/fixture/nsrl_rds.h"

#if __has_include(<sqlite3.h>)
#include <sqlite3.h>

namespace {

Digests digests_of_text(const std::string& s)
{
    Digests d;
    digests_of(reinterpret_cast<const uint8_t*>(s.data()), s.size(), &d);
    return d;
}

std::string upper(std::string s)
{
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Alternate case, as no tool writes it: only a case-blind collation finds it.
std::string mixed(std::string s)
{
    for (size_t i = 0; i < s.size(); i += 2)
        s[i] = char(std::toupper(static_cast<unsigned char>(s[i])));
    return s;
}

void exec(sqlite3* db, const std::string& sql)
{
    char* message = nullptr;
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
        << sql << ": " << (message ? message : "");
}

// sha256, sha1, md5 of each row (crc32, name, size and package are filler).
void make_rds(const std::string& path, const std::string& extra_sql,
              const std::vector<std::vector<std::string>>& rows)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    exec(db, fixture::RDSV3_FILE_TABLE);
    exec(db, "BEGIN");
    for (size_t n = 0; n < rows.size(); ++n)
        exec(db, "INSERT INTO FILE VALUES ('" + rows[n][0] + "', '" + rows[n][1] + "', '" + rows[n][2] +
                     "', '00000000', 'f" + std::to_string(n) + "', 1, 1)");
    exec(db, "COMMIT");
    exec(db, extra_sql);
    sqlite3_close(db);
}

} // namespace

TEST(NsrlSet, EachShapeMatchesThroughItsIndexesOnly)
{
    const Digests p[5] = {digests_of_text("one"), digests_of_text("two"), digests_of_text("three"),
                          digests_of_text("four"), digests_of_text("not in the set")};
    const std::vector<std::vector<std::string>> rows = {
        {upper(p[0].sha256), upper(p[0].sha1), upper(p[0].md5)},  // as RDSv3 publishes
        {p[1].sha256, p[1].sha1, p[1].md5},                       // lower case
        {"", "", upper(p[2].md5)},                                // a row known by md5 alone
        {"", mixed(p[3].sha1), ""},                               // by sha1 alone, in no tool's case
    };
    struct Shape {
        const char* name;
        const char* indexes;
        const char* lookups;  // the columns looked up, in order
        bool matches[5];
    };
    const Shape shapes[] = {
        {"as published: the primary key alone", "", "sha256", {true, true, false, false, false}},
        {"md5 indexed", "CREATE INDEX FILE_md5 ON FILE (md5)", "sha256 md5", {true, true, true, false, false}},
        {"sha1 indexed case-blind, md5 by a longer index",
         "CREATE INDEX FILE_sha1 ON FILE (sha1 COLLATE NOCASE); CREATE INDEX FILE_md5_size ON FILE (md5, file_size)",
         "sha256 sha1 md5", {true, true, true, true, false}},
        {"a partial md5 index answers no look-up", "CREATE INDEX FILE_md5 ON FILE (md5) WHERE md5 <> ''", "sha256",
         {true, true, false, false, false}},
        {"md5 second in an index", "CREATE INDEX FILE_size_md5 ON FILE (file_size, md5)", "sha256",
         {true, true, false, false, false}},
    };
    TempDir dir;
    int n = 0;
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        const std::string path = dir.file("rds" + std::to_string(n++) + ".db");
        make_rds(path, shape.indexes, rows);
        HashSet set;
        std::string error;
        ASSERT_EQ(hashset_load(path, false, &set, &error), 0) << error;
        EXPECT_STREQ(set.kind, "nsrl-rdsv3");
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(hashset_holds(set, p[i]), shape.matches[i]) << "picture " << i;

        // One plan line per look-up, each a search by an index, none a scan.
        std::string plan = nsrl_query_plan(set.database), columns, text;
        std::istringstream lines(plan);
        while (std::getline(lines, text)) {
            std::string column = text.substr(0, text.find(':'));
            columns += (columns.empty() ? "" : " ") + column;
            EXPECT_EQ(text.find(column + ": SEARCH FILE USING "), 0u) << plan;
            EXPECT_NE(text.find("(" + column + "=?)"), std::string::npos) << plan;
        }
        EXPECT_EQ(columns, shape.lookups) << plan;
        hashset_release(&set);
    }
}

TEST(NsrlSet, AFailedLookUpIsSaidOnceNotTakenForAMiss)
{
    TempDir dir;
    const std::string path = dir.file("rds.db");
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < 2000; ++i) {
        Digests d = digests_of_text(std::to_string(i));
        rows.push_back({upper(d.sha256), upper(d.sha1), upper(d.md5)});
    }
    make_rds(path, "", rows);
    // The schema (page 1) stays; the table's pages after it become noise.
    std::vector<uint8_t> bytes = read_file(path);
    ASSERT_GT(bytes.size(), 16384u);
    for (size_t i = 4096; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 37);
    write_file(path, bytes);

    HashSet set;
    std::string error;
    ASSERT_EQ(hashset_load(path, false, &set, &error), 0) << error;
    std::vector<std::string> warnings;
    cli_warnings = &warnings;
    EXPECT_FALSE(hashset_holds(set, digests_of_text("1")));
    EXPECT_FALSE(hashset_holds(set, digests_of_text("2")));
    cli_warnings = nullptr;
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("hash set rds.db: a look-up failed"), std::string::npos) << warnings[0];
    hashset_release(&set);
}

#endif
