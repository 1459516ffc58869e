// glimmerdex-cli on Explorer's cache files: a folder of several buckets with
// its index, files under other names, and the real caches of the corpus.
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/digests/digests.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbcache_writer.h"

namespace {

using fixture::Bytes;
using fixture::ThumbcacheRecord;

const std::string cli = cli_command();

int run(const std::string& args, std::string* out = nullptr)
{
    return run_command(cli + " " + args + (out ? " 2>/dev/null" : " >/dev/null 2>&1"), out);
}

ThumbcacheRecord record(uint64_t hash, const std::string& id, Bytes data)
{
    ThumbcacheRecord r;
    r.hash = hash;
    r.identifier = id;
    r.identifier_from_hash = id.empty();
    r.data = std::move(data);
    return r;
}

std::string sha256_of(const Bytes& b)
{
    char hex[65];
    sha256_hex(b.data(), b.size(), hex);
    return hex;
}

// A profile's cache folder: two thumbnail buckets, an icon bucket and the
// index, whose slots know two of the items and point one at nothing.
struct ExplorerFolder {
    TempDir dir;
    std::map<std::string, Bytes> files;  // name -> bytes written
    std::vector<Bytes> payloads;         // in the order the tool lists them
    ExplorerFolder()
    {
        const Bytes png = fixture::encode_png_rgba(fixture::make_test_image(30, 20, 1));
        const Bytes bmp = fixture::encode_bmp32(fixture::make_test_image(16, 12, 2), true);
        const Bytes jpeg = fixture::encode_jpeg(fixture::make_test_image(64, 48, 3));
        fixture::ThumbcacheSpec t32, t256, i16;
        t32.cache_type = 1;
        t32.records = {record(0x1111, "photo", png), record(0x2222, "..\\evil/na:me?", bmp),
                       record(0x3333, "folder", {})};
        t256.cache_type = 4;
        t256.records = {record(0x1111, "photo", jpeg)};
        i16.cache_type = 0;
        i16.records = {record(0x4444, "", bmp)};
        std::vector<uint32_t> at32, at256;
        files["thumbcache_256.db"] = fixture::write_thumbcache(t256, &at256);
        files["thumbcache_32.db"] = fixture::write_thumbcache(t32, &at32);
        files["iconcache_16.db"] = fixture::write_thumbcache(i16);
        fixture::ThumbcacheIndexSpec index;
        std::vector<uint32_t> none(fixture::index_type_count(32), 0xFFFFFFFF);
        fixture::ThumbcacheIndexItem a{0x1111, 0, 0, none}, b{0x2222, 0, 0, none}, gone{0x9999, 0, 0, none};
        a.offsets[1] = at32[0], a.offsets[4] = at256[0];
        b.offsets[1] = at32[1];
        gone.offsets[1] = 12345;
        index.items = {a, b, gone};
        files["thumbcache_idx.db"] = fixture::write_thumbcache_index(index);
        for (auto& [name, bytes] : files)
            write_file(dir.file(name), bytes);
        payloads = {png, bmp, jpeg, bmp};
    }
    // Every input is as it was, and nothing was added beside it.
    void expect_untouched()
    {
        for (auto& [name, bytes] : files)
            EXPECT_EQ(read_file(dir.file(name)), bytes) << name;
        EXPECT_EQ(list_folder(dir.path()).size(), files.size());
    }
};

} // namespace

TEST(CliExplorerCaches, ListsAFolderInBucketOrderUnderIdentifiers)
{
    ExplorerFolder f;
    std::string out;
    ASSERT_EQ(run("list " + f.dir.path(), &out), 0);
    auto rows = tsv_lines(out);
    ASSERT_EQ(rows.size(), 6u) << out;
    EXPECT_EQ(rows[0], (std::vector<std::string>{"cache", "name", "width", "height", "filetime", "utc"}));
    const std::vector<std::vector<std::string>> want = {
        {"thumbcache_32.db", "photo", "30", "20"},     {"thumbcache_32.db", "..\\evil/na:me?", "16", "12"},
        {"thumbcache_32.db", "folder", "-", "-"},      {"thumbcache_256.db", "photo", "64", "48"},
        {"iconcache_16.db", "4444", "16", "12"},
    };
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(rows[i + 1].size(), 6u);
        EXPECT_EQ(rows[i + 1][0], f.dir.file(want[i][0]));
        EXPECT_EQ(rows[i + 1][1], want[i][1]);
        EXPECT_EQ(rows[i + 1][2], want[i][2]);
        EXPECT_EQ(rows[i + 1][3], want[i][3]);
        EXPECT_EQ(rows[i + 1][4], "-");
    }
    out.clear();
    ASSERT_EQ(run("list " + f.dir.file("thumbcache_idx.db"), &out), 0);
    EXPECT_EQ(tsv_lines(out).size(), 4u) << "one row per used slot: " << out;
    f.expect_untouched();
}

TEST(CliExplorerCaches, CatalogColumnsCarryRecordChecksumAndIndexFacts)
{
    ExplorerFolder f;
    std::string out;
    ASSERT_EQ(run("list --catalog " + f.dir.path(), &out), 0);
    auto rows = tsv_lines(out);
    ASSERT_GE(rows.size(), 2u);
    std::map<std::string, size_t> col;
    for (size_t i = 0; i < rows[0].size(); ++i)
        col[rows[0][i]] = i;
    for (const char* c : {"bucket", "offset", "hash", "data_size", "header_checksum", "data_checksum", "recovered",
                          "index", "sha256", "format"})
        ASSERT_TRUE(col.count(c)) << c;
    std::vector<std::string> indexes, hashes, buckets;
    size_t payload = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
        const auto& r = rows[i];
        ASSERT_EQ(r.size(), rows[0].size());
        indexes.push_back(r[col["index"]]);
        hashes.push_back(r[col["hash"]]);
        buckets.push_back(r[col["bucket"]]);
        if (r[col["index"]].rfind("dangling", 0) == 0)
            continue;
        EXPECT_EQ(r[col["header_checksum"]], "ok");
        EXPECT_EQ(r[col["recovered"]], "no");
        const std::string check = r[col["data_checksum"]];
        EXPECT_EQ(check.rfind("ok ", 0), 0u) << "the verdict and the stored value: " << check;
        EXPECT_EQ(check.size(), 3u + 16u);
        if (r[col["data_size"]] == "0")
            continue;
        ASSERT_LT(payload, f.payloads.size());
        EXPECT_EQ(r[col["sha256"]], sha256_of(f.payloads[payload++])) << i;
    }
    EXPECT_EQ(payload, f.payloads.size());
    EXPECT_EQ(hashes, (std::vector<std::string>{"0000000000001111", "0000000000002222", "0000000000003333",
                                                "0000000000009999", "0000000000001111", "0000000000004444"}));
    EXPECT_EQ(buckets, (std::vector<std::string>{"32", "32", "32", "32", "256", "16"}));
    ASSERT_EQ(indexes.size(), 6u);
    EXPECT_EQ(indexes[2], "unknown") << "not in the index";
    EXPECT_EQ(indexes[3].rfind("dangling", 0), 0u) << "its slot finds no record";
    EXPECT_EQ(indexes[5], "-") << "no iconcache index beside it";
    f.expect_untouched();
}

TEST(CliExplorerCaches, ExtractWritesEveryPayloadUnderSafeUniqueNames)
{
    ExplorerFolder f;
    TempDir out;
    const std::string target = out.file("case");
    ASSERT_EQ(run("extract " + f.dir.path() + " " + target), 0);
    const std::vector<std::pair<std::string, size_t>> want = {
        {"photo.png", 0}, {"0000000000002222.bmp", 1}, {"photo.jpg", 2}, {"4444.bmp", 3}};
    for (auto& [name, k] : want)
        EXPECT_EQ(read_file(target + "/" + name), f.payloads[k]) << name;
    std::set<std::string> names;
    for (const std::string& n : list_folder(target))
        if (n.find('.') != std::string::npos && n.rfind("report", 0) != 0 && n != "manifest.json" &&
            n != "hashes.txt")
            names.insert(n);
    EXPECT_EQ(names.size(), want.size()) << "one file per payload, nothing for the entry without one";
    EXPECT_EQ(list_folder(out.path()).size(), 1u) << "nothing beside the target";
    f.expect_untouched();
}

TEST(CliExplorerCaches, FilesAreKnownByContentWhateverTheirName)
{
    ExplorerFolder f;
    TempDir other;
    write_file(other.file("thm523.tmp"), f.files["thumbcache_idx.db"]);
    write_file(other.file("copy.bin"), f.files["thumbcache_32.db"]);
    std::string out;
    ASSERT_EQ(run("list " + other.file("thm523.tmp"), &out), 0);
    EXPECT_EQ(tsv_lines(out).size(), 4u) << out;
    out.clear();
    ASSERT_EQ(run("list " + other.file("copy.bin"), &out), 0);
    EXPECT_EQ(tsv_lines(out).size(), 4u) << out;
    out.clear();
    ASSERT_EQ(run("list --recursive " + other.path(), &out), 1) << "no cache by name below it";
}

TEST(CliExplorerCaches, SheetDrawsTheRecordsOfACacheFileOrAFolder)
{
    ExplorerFolder f;
    TempDir out;
    ASSERT_EQ(run("sheet --width 400 " + f.dir.file("thumbcache_32.db") + " " + out.file("s.png")), 0);
    Bytes png = read_file(out.file("s.png"));
    ASSERT_GT(png.size(), 24u);
    const uint32_t height = uint32_t(png[20]) << 24 | png[21] << 16 | png[22] << 8 | png[23];
    EXPECT_EQ(height, 104u) << "three records: one row of three cells";
    ASSERT_EQ(run("sheet --width 400 " + f.dir.path() + " " + out.file("all.png")), 0);
    png = read_file(out.file("all.png"));
    ASSERT_GT(png.size(), 24u);
    const uint32_t all = uint32_t(png[20]) << 24 | png[21] << 16 | png[22] << 8 | png[23];
    EXPECT_EQ(all, 208u) << "the folder: five records of three files, two rows";
    f.expect_untouched();
}

// A record whose data does not match its checksum: the report says so
// beside the stored value, and the manifest warns once for its cache.
TEST(CliExplorerCaches, BadDataChecksumsAreReportedAndCountedInTheManifest)
{
    TempDir dir, out;
    const Bytes png = fixture::encode_png_rgba(fixture::make_test_image(30, 20, 1));
    fixture::ThumbcacheSpec spec;
    spec.records = {record(0x1111, "fine", png), record(0x2222, "damaged", png), record(0x3333, "also", png)};
    spec.records[1].bad_data_checksum = spec.records[2].bad_data_checksum = true;
    write_file(dir.file("thumbcache_32.db"), fixture::write_thumbcache(spec));
    ASSERT_EQ(run("extract " + dir.file("thumbcache_32.db") + " " + out.file("case")), 0) << "a finding, not a failure";
    const Bytes csv = read_file(out.file("case/report.csv"));
    std::vector<std::string> lines;
    std::stringstream text(std::string(csv.begin(), csv.end()));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 4u);
    const std::string ok = "ok " + hash_hex(fixture::data_checksum_bitwise(png));
    const std::string bad = "bad " + hash_hex(fixture::data_checksum_bitwise(png) ^ 1);
    EXPECT_NE(lines[1].find("," + ok + ","), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("," + bad + ","), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("," + bad + ","), std::string::npos) << lines[3];
    const Bytes manifest = read_file(out.file("case/manifest.json"));
    const std::string m(manifest.begin(), manifest.end());
    const std::string warning = "thumbcache_32.db: 2 of 3 records fail their data checksum";
    EXPECT_NE(m.find(warning), std::string::npos) << m;
    EXPECT_EQ(m.find(warning), m.rfind(warning)) << "one line for the cache";
}

// Each cache that cannot be read is reported under its own path, as what it
// was read as, with the reason its own load gave: also after one that was
// read, whose load leaves reasons of its own behind.
TEST(CliExplorerCaches, ErrorsNameTheFileAndTheReasonOfItsOwnLoad)
{
    TempDir dir, out;
    write_hashed_cache(dir.file("good.db"), {0x2a9845460850edafu});
    fixture::ThumbcacheSpec spec;
    spec.records = {record(0x1111, "photo", fixture::encode_png_rgba(fixture::make_test_image(8, 8, 1)))};
    Bytes cache = fixture::write_thumbcache(spec);
    write_file(dir.file("good-cache.db"), cache);
    cache[4] = 25;  // a version no Windows wrote
    write_file(dir.file("bad-cache.db"), cache);
    Bytes index = fixture::write_thumbcache_index({});
    index[8] = 99;
    write_file(dir.file("bad-index.db"), index);
    // Past what the format's offsets reach, without the bytes: a sparse file
    // (extract would hash all of it for the manifest, so list and sheet only).
    write_file(dir.file("huge-cache.db"), Bytes(cache.begin(), cache.begin() + 24));
    std::filesystem::resize_file(dir.file("huge-cache.db"), (uint64_t(4) << 30) + 1);
    write_file(dir.file("not-a-cache.db"), Bytes(4096, 0x55));

    struct Case {
        const char* command;  // before the files
        const char* read;     // a cache read first, or empty
        const char* failed;
        const char* says;
    };
    const char* cache_version = ": Explorer cache file cannot be read (unknown thumbnail cache version)";
    const char* ceiling = ": Explorer cache file cannot be read (larger than an Explorer cache file can be (4 GiB))";
    const Case cases[] = {
        {"list", "good.db", "bad-cache.db", cache_version},
        {"list --catalog", "good.db", "bad-cache.db", cache_version},
        {"extract", "good.db", "bad-cache.db", cache_version},
        {"sheet", "", "bad-cache.db", cache_version},
        {"list", "good.db", "huge-cache.db", ceiling},
        {"sheet", "", "huge-cache.db", ceiling},
        {"list", "good.db", "bad-index.db",
         ": Explorer cache index cannot be read (unknown thumbnail cache index version)"},
        {"list --catalog", "good-cache.db", "bad-index.db",
         ": Explorer cache index cannot be read (unknown thumbnail cache index version)"},
        {"sheet", "", "bad-index.db", ": an Explorer cache index holds no thumbnails"},
        {"list", "good-cache.db", "not-a-cache.db", ": Thumbs.db not found (not a thumbnail cache)"},
        {"extract", "good-cache.db", "not-a-cache.db", ": Thumbs.db not found (not a thumbnail cache)"},
        {"sheet", "", "not-a-cache.db", ": Thumbs.db not found (not a thumbnail cache)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " " + c.read + " " + c.failed);
        std::string args = std::string(c.command) + " ";
        if (*c.read)
            args += dir.file(c.read) + " ";
        args += dir.file(c.failed);
        const std::string command = c.command;
        if (command == "extract")
            args += " " + out.file("case-" + std::to_string(&c - cases));
        else if (command == "sheet")
            args += " " + out.file("sheet.png");
        std::string err;
        EXPECT_EQ(run_command(cli + " " + args + " 2>&1 >/dev/null", &err), 1);
        EXPECT_NE(err.find(std::string(c.failed) + c.says), std::string::npos) << err;
        if (std::string(c.says).find("Thumbs.db") == std::string::npos) {
            EXPECT_EQ(err.find("Thumbs.db"), std::string::npos) << err;
        }
        if (*c.read) {
            EXPECT_EQ(err.find(c.read), std::string::npos) << "the cache read is not mentioned: " << err;
        }
    }
}

// Every record of every real cache file is extracted byte for byte as the
// independent reader sees it.
TEST(CliExplorerCaches, RealCachesExtractAsTheOracleReadsThem)
{
    REQUIRE_CORPUS();
#ifdef _WIN32
    GTEST_SKIP() << "the oracle is a Linux python3";
#endif
    if (run_command("/usr/bin/python3 -c 'import hashlib, struct' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3 is not installed";
    const std::string dir = corpus_dir() + "/thumbcache/";
    std::vector<std::string> caches;
    for (const std::string& name : list_folder(dir))
        if (name.size() > 3 && name.compare(name.size() - 3, 3, ".db") == 0 && name.find("_idx") == std::string::npos)
            caches.push_back(name);
    if (caches.empty())
        GTEST_SKIP() << "no thumbcache folder in the shared corpus; test skipped";
    int compared = 0;
    for (const std::string& name : caches) {
        SCOPED_TRACE(name);
        std::string oracle;
        run_command("/usr/bin/python3 " GLIMMERDEX_SOURCE_DIR "/tests/support/thumbcache_oracle.py " + dir + name,
                    &oracle);
        std::multiset<std::string> want;
        for (auto& f : tsv_lines(oracle))
            if (f.size() >= 8 && f[1] != "free" && f[5] != "0")
                want.insert(f[6]);
        TempDir out;
        ASSERT_EQ(run("extract " + dir + name + " " + out.file("case")), 0);
        std::multiset<std::string> got;
        for (const std::string& file : list_folder(out.file("case"))) {
            const std::string ext = file.substr(file.find_last_of('.') + 1);
            if (ext == "bmp" || ext == "jpg" || ext == "png" || ext == "bin")
                got.insert(sha256_of(read_file(out.file("case") + "/" + file)));
        }
        for (const std::string& h : want)
            EXPECT_TRUE(got.count(h)) << "record " << h << " not extracted";
        compared += int(want.size());
    }
    EXPECT_GT(compared, 0);
}
