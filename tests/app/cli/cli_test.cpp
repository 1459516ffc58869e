// glimmerdex-cli as a user runs it.
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
