// glimmerdex-cli as a user runs it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "store/thumbsdb/hashed_streams.h"
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
    // A Windows command line holds at most 32,767 characters: the tool is run
    // on batches of the caches.
    std::vector<std::string> batches(1);
    for (const auto& row : read_tsv(corpus_dir() + "/real/manifest.tsv", nullptr))
        if (row.size() > 14 && row[7] == "yes" && row[14] != "0") {  // olefile reads it, it has streams
            const std::string path = " " + corpus_dir() + "/real/" + row[1];
            paths += path;
            if (batches.back().size() + path.size() > 16000)
                batches.emplace_back();
            batches.back() += path;
        }
    std::string oracle;
    if (run_command("/usr/bin/python3 " GLIMMERDEX_SOURCE_DIR "/tests/support/stored_size_oracle.py" + paths + " 2>&1",
                    &oracle) != 0)
        GTEST_SKIP() << "python3 with olefile and Pillow is needed: " << oracle.substr(0, 200);
    std::map<std::string, std::string> want;  // "file key" -> "width height"
    std::set<std::string> with_catalog, catalog_less;
    for (const auto& f : tsv_lines(oracle)) {
        ASSERT_EQ(f.size(), 4u) << "oracle line";
        want[f[0] + " " + f[1]] = f[2] + " " + f[3];
        (f[1].rfind("stream ", 0) == 0 ? catalog_less : with_catalog).insert(f[0]);
    }
    for (const std::string& c : with_catalog)
        catalog_less.erase(c);
    // The 8-bit name as the oracle keys it: hex, ASCII letters in lower case.
    auto name_key = [](const std::string& name) {
        std::string hex;
        for (char c : name) {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02x", uint8_t(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
            hex += digits;
        }
        return "name " + hex;
    };
    size_t rows = 0;
    std::vector<std::string> differ;  // "file key: width height"
    std::set<std::string> wrong;      // files with such a row
    // Each listing's rows by its header, against the oracle's row of the key.
    auto compare = [&](const std::string& listing, auto key_of) {
        const auto lines = tsv_lines(listing);
        ASSERT_FALSE(lines.empty());
        for (size_t i = 1; i < lines.size(); ++i) {
            std::map<std::string, std::string> r;
            for (size_t k = 0; k < lines[0].size() && k < lines[i].size(); ++k)
                r[lines[0][k]] = lines[i][k];
            const std::string file = r["cache"].substr(r["cache"].find_last_of("/\\") + 1);
            const std::string key = file + " " + key_of(file, r);
            ++rows;
            if (want.count(key) && want[key] == r["width"] + " " + r["height"])
                continue;
            differ.push_back(key + ": " + r["width"] + " " + r["height"]);
            wrong.insert(file);
        }
    };

    // A stream listed under the name of its file: the stream that name
    // hashes to (either seed), where the oracle has one.
    auto stream_of_name = [&](const std::string& file, const std::string& name) -> std::string {
        std::vector<uint16_t> units(name.begin(), name.end());
        for (auto& u : units)
            u = uint8_t(u);  // the 8-bit name's bytes, widened
        for (const uint64_t seed : {HASHED_SEED_WINDOWS_8, HASHED_SEED_WINDOWS_7}) {
            char hex[24];
            std::snprintf(hex, sizeof hex, "_%llx",
                          static_cast<unsigned long long>(hashed_stream_name_hash(seed, units.data(), units.size())));
            const std::string prefix = file + " stream ";
            for (auto at = want.lower_bound(prefix); at != want.end() && at->first.rfind(prefix, 0) == 0; ++at)
                if (at->first.size() > std::strlen(hex) &&
                    at->first.compare(at->first.size() - std::strlen(hex), std::string::npos, hex) == 0)
                    return at->first.substr(file.size() + 1);
        }
        return "";
    };
    for (const std::string& batch : batches) {
        std::string out;
        ASSERT_EQ(run("list" + batch, &out), 0);
        // The viewer's list names each catalog name once, then the streams,
        // those the catalog names under the record's name again.
        std::set<std::string> seen;
        compare(out, [&](const std::string& file, auto& r) -> std::string {
            if (want.count(file + " stream " + r["name"]))
                return "stream " + r["name"];
            const std::string stream = seen.insert(file + " " + r["name"]).second ? "" : stream_of_name(file, r["name"]);
            return stream.empty() ? name_key(r["name"]) : stream;
        });
    }
    size_t all_stored = 0;
    for (const std::string& c : catalog_less)
        all_stored += !wrong.count(c);
    std::printf("list: %zu of %zu real caches without a Catalog list every stored size\n", all_stored,
                catalog_less.size());
    EXPECT_EQ(catalog_less.size(), 175u);
    EXPECT_EQ(all_stored, catalog_less.size());

    for (const std::string& batch : batches) {
        std::string out;
        ASSERT_EQ(run("list --catalog" + batch, &out), 0);
        compare(out, [](const std::string&, auto& r) {
            return r["record"] != "-" ? "record " + r["record"] : "stream " + r["stream"];
        });
    }
    EXPECT_TRUE(differ.empty()) << differ.size() << " rows with another size than the stored one, the first: "
                                << differ[0];
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

// A file that begins as an E01 does but holds nothing more: the Windows
// executables (run here under Wine when GLIMMERDEX_CLI names one) read no
// disk images and say so with exit 2, before writing anything; the Linux
// tool tries it as an image and reports that it cannot be read.
TEST(CliList, ADiskImageThisBuildCannotRead)
{
    TempDir dir;
    std::vector<uint8_t> e01 = {'E', 'V', 'F', 0x09, 0x0d, 0x0a, 0xff, 0x00};
    e01.resize(4096, 0);
    write_file(dir.file("disk.E01"), e01);
    const char* cli = std::getenv("GLIMMERDEX_CLI");
    const bool windows = cli && std::string(cli).find(".exe") != std::string::npos;
    std::string out;
    const int code = run("list " + dir.file("disk.E01") + " 2>&1", &out);
    const int extract = run("extract " + dir.file("disk.E01") + " " + dir.file("case") + " 2>/dev/null");
    if (windows) {
        EXPECT_EQ(code, 2);
        EXPECT_NE(out.find("disk images are not read by this build"), std::string::npos) << out;
        EXPECT_EQ(extract, 2);
        EXPECT_FALSE(file_exists(dir.file("case")));
    } else {
        EXPECT_EQ(code, 1);
        EXPECT_NE(out.find("disk.E01"), std::string::npos) << out;
        EXPECT_EQ(out.find("Thumbs.db not found"), std::string::npos) << out;
    }
}
