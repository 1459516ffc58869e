// glimmerdex-cli as a user runs it.
#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "tests/support/test_support.h"
#include "tools/fixture/thumbsdb_writer.h"

namespace {

const std::string cli = cli_command();

int run(const std::string& args, std::string* out = nullptr)
{
    return run_command(cli + " " + args + (out ? " 2>&1" : " >/dev/null 2>&1"), out);
}

} // namespace

TEST(CliList, PrintsTheViewersListAsTabSeparatedLines)
{
    TempDir dir;
    fixture::CacheSpec spec;
    fixture::CacheEntry a;
    a.name = "Caf\xC3\xA9.jpg";  // é narrows to the byte 0xE9
    a.time = 128980119090000000ull;  // 2009-09-21 13:05:09 UTC
    a.picture = fixture::encode_jpeg(fixture::make_test_image(40, 30, 1));
    spec.entries.push_back(a);
    fixture::CacheEntry b = a;
    b.name = "gone.jpg";
    b.has_stream = false;
    spec.entries.push_back(b);
    write_file(dir.file("Thumbs.db"), fixture::write_thumbs_db(spec));
    write_file(dir.file("own.txt"), {1});

    std::string out;
    ASSERT_EQ(run("list " + dir.path(), &out), 0);
    EXPECT_EQ(out, "name\twidth\theight\tfiletime\tutc\n"
                   "Caf\xE9.jpg\t40\t30\t128980119090000000\t2009-09-21T13:05:09Z\n"
                   "gone.jpg\t-\t-\t-\t-\n");
    out.clear();
    ASSERT_EQ(run("list --flags 3 " + dir.file("Thumbs.db"), &out), 0);
    EXPECT_NE(out.find("\nown.txt\t-\t-\t-\t-\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\nThumbs.db\t-"), std::string::npos);
}

// Pictures larger than the viewer's cell are drawn fitted; the list gives
// the size stored, as Explorer's records and catalog entries always had it.
TEST(CliList, PrintsTheStoredSizeNotTheFittedOne)
{
    TempDir dir;
    const fixture::Bytes jpeg = fixture::encode_jpeg(fixture::make_test_image(254, 256, 1));
    write_file(dir.file("Thumbs.db"), fixture::write_compound({{"256_45698f4f5b765581", fixture::hashed_stream(jpeg)}}));
    std::string out;
    ASSERT_EQ(run("list " + dir.path(), &out), 0);
    EXPECT_EQ(out, "name\twidth\theight\tfiletime\tutc\n"
                   "256_45698f4f5b765581\t254\t256\t-\t-\n");
}

// Every row of list and list --catalog over the real caches against the
// size Pillow reads from the stored picture (olefile finds it).
TEST(CliList, RealCachesListTheStoredSizes)
{
    REQUIRE_CORPUS();
    std::string paths;
    for (const auto& row : read_tsv(corpus_dir() + "/real/manifest.tsv", nullptr))
        if (row.size() > 14 && row[7] == "yes" && row[14] != "0")  // olefile reads it, it has streams
            paths += " " + corpus_dir() + "/real/" + row[1];
    std::string oracle;
    if (run_command("/usr/bin/python3 " GLIMMERDEX_SOURCE_DIR "/tests/support/stored_size_oracle.py" + paths + " 2>&1",
                    &oracle) != 0)
        GTEST_SKIP() << "python3 with olefile and Pillow is needed: " << oracle.substr(0, 200);
    struct Stored {
        std::string name;  // 8-bit, as the viewer lists it
        std::vector<std::string> size;  // width, height
    };
    struct Cache {
        std::vector<Stored> records;  // in catalog order
        std::map<std::string, std::vector<std::string>> streams;
    };
    std::map<std::string, Cache> want;  // by file name
    for (const auto& f : tsv_lines(oracle)) {
        ASSERT_EQ(f.size(), 6u) << "oracle line";
        std::string name;
        for (size_t i = 0; i + 1 < f[3].size(); i += 2)
            name.push_back(char(std::stoi(f[3].substr(i, 2), nullptr, 16)));
        if (f[1] == "record")
            want[f[0]].records.push_back({name, {f[4], f[5]}});
        else
            want[f[0]].streams[name] = {f[4], f[5]};
    }
    auto leaf = [](const std::string& path) { return path.substr(path.find_last_of("/\\") + 1); };
    auto cache_of = [&](const std::string& path) -> const Cache& { return want[leaf(path)]; };
    auto lower = [](std::string s) {
        for (char& c : s)
            c = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
        return s;
    };
    // Rows with their header's names.
    auto table = [](const std::string& out) {
        std::vector<std::map<std::string, std::string>> rows;
        const auto lines = tsv_lines(out);
        for (size_t i = 1; i < lines.size(); ++i) {
            rows.emplace_back();
            for (size_t k = 0; k < lines[0].size() && k < lines[i].size(); ++k)
                rows.back()[lines[0][k]] = lines[i][k];
        }
        return rows;
    };

    // One failure line for all the rows that differ, with the first of them.
    size_t rows = 0, differ = 0;
    std::string first;
    auto compare = [&](const std::vector<std::string>& expected, std::map<std::string, std::string>& r,
                       const std::string& what) {
        ++rows;
        if (expected == std::vector<std::string>{r["width"], r["height"]})
            return true;
        if (differ++ == 0)
            first = r["cache"] + " " + what + ": " + r["width"] + "x" + r["height"];
        return false;
    };

    std::string out;
    ASSERT_EQ(run("list" + paths, &out), 0);
    std::set<std::string> wrong;  // caches with a row that is not the stored size
    for (auto& r : table(out)) {
        const Cache& c = cache_of(r["cache"]);
        // The list names each catalog name once (its first record, ASCII case
        // ignored), then the streams under their names.
        std::vector<std::string> expected;
        for (const Stored& s : c.records)
            if (lower(s.name) == lower(r["name"])) {
                expected = s.size;
                break;
            }
        if (expected.empty() && c.streams.count(r["name"]))
            expected = c.streams.at(r["name"]);
        if (!compare(expected, r, r["name"]))
            wrong.insert(leaf(r["cache"]));
    }
    int catalog_less = 0, all_stored = 0;
    for (const auto& [name, c] : want)
        if (c.records.empty()) {
            ++catalog_less;
            all_stored += !wrong.count(name);
        }
    EXPECT_EQ(catalog_less, 175);
    EXPECT_EQ(all_stored, catalog_less);
    std::printf("list: %d of %d real caches without a Catalog list every stored size\n", all_stored, catalog_less);

    out.clear();
    ASSERT_EQ(run("list --catalog" + paths, &out), 0);
    for (auto& r : table(out)) {
        const Cache& c = cache_of(r["cache"]);
        std::vector<std::string> expected;
        if (r["record"] != "-" && std::stoul(r["record"]) < c.records.size())
            expected = c.records[std::stoul(r["record"])].size;
        else if (c.streams.count(r["stream"]))
            expected = c.streams.at(r["stream"]);
        compare(expected, r, "--catalog record " + r["record"] + " stream " + r["stream"]);
    }
    EXPECT_EQ(differ, 0u) << "rows with another size than the stored one, the first: " << first;
    EXPECT_GT(rows, 32000u) << "the rows of both listings";
}

TEST(CliList, ExitCodes)
{
    TempDir dir;
    std::string out;
    EXPECT_EQ(run("list " + dir.path(), &out), 1);
    EXPECT_NE(out.find("Thumbs.db not found"), std::string::npos);
    EXPECT_EQ(run("list"), 2);
    EXPECT_EQ(run("list --flags 9 x"), 2);
    EXPECT_EQ(run("list --bogus x"), 2);
    EXPECT_EQ(run("frobnicate"), 2);
    EXPECT_EQ(run(""), 2);
    EXPECT_EQ(run("list --help"), 0);
    EXPECT_EQ(run("decode --help"), 0);
    EXPECT_EQ(run("--help"), 0);
    out.clear();
    EXPECT_EQ(run("--version", &out), 0);
    EXPECT_EQ(out.rfind("glimmerdex-cli ", 0), 0u);
    write_file(dir.file("Thumbs.db"), std::vector<uint8_t>(3000, 0xD0));
    EXPECT_EQ(run("list " + dir.path()), 1) << "not a compound file";
}

TEST(CliDecode, WritesRawAndPng)
{
    TempDir dir;
    fixture::RgbImage image = fixture::make_test_image(21, 13, 4);
    write_file(dir.file("p.jpg"), fixture::encode_jpeg(image, 95));
    ASSERT_EQ(run("decode " + dir.file("p.jpg") + " " + dir.file("p.raw")), 0);
    std::vector<uint8_t> raw = read_file(dir.file("p.raw"));
    ASSERT_EQ(raw.size(), 8u + 21 * 13 * 4);
    EXPECT_EQ(raw[0], 21);
    EXPECT_EQ(raw[4], 13);
    uint32_t first = uint32_t(raw[8] | raw[9] << 8 | raw[10] << 16 | uint32_t(raw[11]) << 24);
    uint32_t want = image.pixels[0];
    for (int shift = 0; shift < 24; shift += 8)
        EXPECT_NEAR(int(first >> shift & 0xFF), int(want >> shift & 0xFF), 12);
    EXPECT_EQ(first >> 24, 0xFFu) << "opaque";

    ASSERT_EQ(run("decode " + dir.file("p.jpg") + " " + dir.file("p.png")), 0);
    std::vector<uint8_t> png = read_file(dir.file("p.png"));
    EXPECT_EQ(png.size(), size_t(3 * 21 * 13 + 6 * 13 + 63));

    write_file(dir.file("junk.bin"), std::vector<uint8_t>(100, 7));
    EXPECT_EQ(run("decode " + dir.file("junk.bin") + " " + dir.file("j.raw")), 1);
    EXPECT_EQ(run("decode " + dir.file("missing.jpg") + " " + dir.file("j.raw")), 1);
    EXPECT_EQ(run("decode " + dir.file("p.jpg") + " " + dir.file("p.bmp")), 2);
    EXPECT_EQ(run("decode " + dir.file("p.jpg")), 2);
}
