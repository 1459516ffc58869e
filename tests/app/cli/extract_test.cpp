// glimmerdex-cli list --catalog and extract, on fixtures and real caches.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/digests/digests.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbsdb_writer.h"

namespace {

const std::string cli = cli_command();

int run(const std::string& args, std::string* out = nullptr)
{
    return run_command(cli + " " + args + (out ? " 2>/dev/null" : " >/dev/null 2>&1"), out);
}

std::vector<std::vector<std::string>> parse_csv(const std::string& text)
{
    std::vector<std::vector<std::string>> rows(1);
    std::string cell;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                cell += '"', ++i;
            else if (c == '"')
                quoted = false;
            else
                cell += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().push_back(cell), cell.clear();
        } else if (c == '\r') {
        } else if (c == '\n') {
            rows.back().push_back(cell), cell.clear();
            rows.emplace_back();
        } else {
            cell += c;
        }
    }
    rows.pop_back();
    return rows;
}

std::string sha_of(const std::vector<uint8_t>& b)
{
    char hex[65];
    sha256_hex(b.data(), b.size(), hex);
    return hex;
}

fixture::CacheSpec hostile_spec()
{
    fixture::CacheSpec spec;
    const char* names[] = {"../../x", "a/b", "CON", "ctl\x01\x02.jpg", "Caf\xC3\xA9 \xE2\x98\x95.jpg", "dup.jpg", "DUP.jpg"};
    uint32_t seed = 1;
    for (const char* n : names) {
        fixture::CacheEntry e;
        e.name = n;
        e.time = 128980119090000000ull + seed;
        e.picture = fixture::encode_jpeg(fixture::make_test_image(10 + int(seed), 10, seed));
        spec.entries.push_back(e);
        ++seed;
    }
    fixture::CacheEntry long_one = spec.entries[0];
    long_one.name = std::string(300, 'L') + ".jpg";
    spec.entries.push_back(long_one);
    fixture::CacheEntry gone = spec.entries[0];
    gone.name = "gone.jpg";
    gone.has_stream = false;
    spec.entries.push_back(gone);
    return spec;
}

// A catalog of version 5 (old-format streams) holding old.jpg, 24 x 18.
std::vector<uint8_t> old_cache()
{
    fixture::CacheSpec old;
    old.version = 5;
    fixture::CacheEntry e;
    e.name = "old.jpg";
    e.image = fixture::make_test_image(24, 18, 3);
    old.entries.push_back(e);
    return fixture::write_thumbs_db(old);
}

} // namespace

TEST(CliExtract, HostileNamesAreWrittenSafelyAndTheReportMatches)
{
    TempDir dir;
    fixture::CacheSpec spec = hostile_spec();
    write_file(dir.file("Thumbs.db"), fixture::write_thumbs_db(spec));
    std::string out = dir.file("out");
    ASSERT_EQ(run("extract --json " + dir.path() + " " + out), 0);

    auto rows = parse_csv(std::string(reinterpret_cast<const char*>(read_file(out + "/report.csv").data()),
                                      read_file(out + "/report.csv").size()));
    ASSERT_EQ(rows.size(), spec.entries.size() + 1);
    std::vector<std::string> header = rows[0];
    ASSERT_NE(std::find(header.begin(), header.end(), "file"), header.end());
    std::map<std::string, size_t> col;
    for (size_t i = 0; i < header.size(); ++i)
        col[header[i]] = i;
    std::vector<std::string> expected_files = {"x", "b", "_CON", "ctl__.jpg", "Caf\xC3\xA9 \xE2\x98\x95.jpg", "dup.jpg",
                                               "DUP_2.jpg"};
    for (size_t i = 0; i < spec.entries.size(); ++i) {
        const auto& row = rows[i + 1];
        SCOPED_TRACE(i);
        EXPECT_EQ(row[col["name"]], spec.entries[i].name) << "UTF-8 round trip";
        EXPECT_EQ(row[col["record"]], std::to_string(i));
        std::string file = row[col["file"]];
        if (spec.entries[i].name == "gone.jpg") {
            EXPECT_EQ(file, "");
            EXPECT_EQ(row[col["sha256"]], "-");
            continue;
        }
        if (i < expected_files.size()) {
            EXPECT_EQ(file, expected_files[i]);
        }
        EXPECT_LE(file.size(), 200u);
        EXPECT_EQ(file.find('/'), std::string::npos);
        std::vector<uint8_t> written = read_file(out + "/" + file);
        EXPECT_EQ(written, spec.entries[i].picture) << "byte-identical to the stored JPEG";
        EXPECT_EQ(row[col["sha256"]], sha_of(written));
        EXPECT_EQ(row[col["length"]], std::to_string(written.size()));
        EXPECT_EQ(row[col["format"]], "jpeg");
        struct stat st;
        ASSERT_EQ(stat((out + "/" + file).c_str(), &st), 0);
        EXPECT_EQ(int64_t(st.st_mtime), int64_t((spec.entries[i].time - 116444736000000000ull) / 10000000));
    }
    EXPECT_TRUE(file_exists(out + "/report.json"));
    EXPECT_FALSE(file_exists(dir.file("x"))) << "nothing escapes the folder";

    // A second run never overwrites; --force does.
    EXPECT_EQ(run("extract " + dir.path() + " " + out), 1);
    EXPECT_EQ(run("extract --force " + dir.path() + " " + out), 0);
}

TEST(CliExtract, OldCatalogsGivePngsAndManyCachesOneReport)
{
    TempDir dir;
    mkdir(dir.file("a").c_str(), 0755);
    mkdir(dir.file("a/deep").c_str(), 0755);
    mkdir(dir.file("b").c_str(), 0755);
    write_file(dir.file("a/deep/thumbs.DB"), old_cache());
    write_file(dir.file("b/Thumbs.db"), fixture::write_thumbs_db(hostile_spec()));
    write_file(dir.file("b/broken.db"), std::vector<uint8_t>(1000, 0));
    std::string out = dir.file("out");
    EXPECT_EQ(run("extract --recursive " + dir.path() + " " + dir.file("b/broken.db") + " " + out), 1)
        << "the broken cache is reported and skipped";
    std::vector<uint8_t> png = read_file(out + "/old.jpg.png");
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(png[1], 'P');
    EXPECT_EQ(png.size(), size_t(3 * 24 * 18 + 6 * 18 + 63));
    std::string report(reinterpret_cast<const char*>(read_file(out + "/report.csv").data()), read_file(out + "/report.csv").size());
    auto rows = parse_csv(report);
    EXPECT_EQ(rows.size(), 1 + 1 + hostile_spec().entries.size());

    std::string listing;
    EXPECT_EQ(run("list --catalog --format json --recursive " + dir.path(), &listing), 0);
    EXPECT_NE(listing.find("\"format\": \"jpeg-tableless\""), std::string::npos);
    EXPECT_NE(listing.find("\"name\": \"Caf\xC3\xA9 \xE2\x98\x95.jpg\""), std::string::npos);
}

TEST(CliExtract, AnOldFormatPngIsCreatedAfreshNeverThroughWhatIsThere)
{
    // A link by the PNG's name that points nowhere yet: a check that the
    // name is free finds nothing there, a later open would write through it.
    TempDir dir;
    write_file(dir.file("Thumbs.db"), old_cache());
    ASSERT_TRUE(make_folders(dir.file("out")));
    ASSERT_EQ(symlink("../outside.png", dir.file("out/old.jpg.png").c_str()), 0);
    std::string err;
    EXPECT_EQ(run_command(cli + " extract " + dir.path() + " " + dir.file("out") + " 2>&1 >/dev/null", &err), 1);
    EXPECT_NE(err.find("old.jpg.png exists (--force overwrites)"), std::string::npos) << err;
    EXPECT_FALSE(file_exists(dir.file("outside.png"))) << "nothing is written outside the folder";

    // --force replaces the link itself, dangling or pointing at a file. Not
    // for the Windows executable under Wine: Wine shows it a Unix link as
    // the file it points to, where Windows' own links are entries of their own.
    const char* tool = std::getenv("GLIMMERDEX_CLI");
    if (tool && std::string(tool).find(".exe") != std::string::npos)
        return;
    write_file(dir.file("outside.png"), std::vector<uint8_t>{'k', 'e', 'e', 'p'});
    for (const char* target : {"../nowhere.png", "../outside.png"}) {
        unlink(dir.file("out/old.jpg.png").c_str());
        ASSERT_EQ(symlink(target, dir.file("out/old.jpg.png").c_str()), 0);
        EXPECT_EQ(run("extract --force " + dir.path() + " " + dir.file("out")), 0) << target;
        struct stat st;
        ASSERT_EQ(lstat(dir.file("out/old.jpg.png").c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << "the link is replaced by the PNG";
        EXPECT_FALSE(file_exists(dir.file("nowhere.png")));
        EXPECT_EQ(read_file(dir.file("outside.png")), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    }
}

TEST(CliExtract, RealCachesExtractByteIdentically)
{
    REQUIRE_CORPUS();
    TempDir dir;
    std::string real = corpus_dir() + "/real/";
    std::string out = dir.file("out");
    ASSERT_EQ(run("extract " + real + "eb5f25a002144eeb.db " + real + "78b85bada8e8354b.db " + real +
                  "05d11b57f0966545.db " + out), 0);
    std::string text(reinterpret_cast<const char*>(read_file(out + "/report.csv").data()), read_file(out + "/report.csv").size());
    auto rows = parse_csv(text);
    ASSERT_GT(rows.size(), 1305u + 15 + 41);
    std::map<std::string, size_t> col;
    for (size_t i = 0; i < rows[0].size(); ++i)
        col[rows[0][i]] = i;
    int checked = 0;
    for (size_t r = 1; r < rows.size(); ++r) {
        const std::string& file = rows[r][col["file"]];
        if (file.empty() || rows[r][col["format"]] == "jpeg-tableless")
            continue;
        EXPECT_EQ(sha_of(read_file(out + "/" + file)), rows[r][col["sha256"]]) << file;
        ++checked;
    }
    EXPECT_GT(checked, 1300);
}

TEST(CliList, CatalogListingOfRealCaches)
{
    REQUIRE_CORPUS();
    std::string out;
    ASSERT_EQ(run("list --catalog " + corpus_dir() + "/real/feb375d735da9fd4.db", &out), 0);
    std::istringstream lines(out);
    std::string line;
    int rows = 0, missing = 0;
    std::getline(lines, line);
    EXPECT_EQ(line, "cache\trecord\tstream\tslot\tname\tfiletime\tutc\theader\tlength\tformat\twidth\theight\tsha256\tpath\tname_source\tlinked");
    while (std::getline(lines, line)) {
        ++rows;
        missing += line.find("\t-\t-\t-\t-\t-\t-") != std::string::npos;
    }
    EXPECT_EQ(rows, 62);
    EXPECT_EQ(missing, 28);
}
