// The tool as a user installs and runs it.
#include <string>

#include "tests/support/test_support.h"
#include "tools/fixture/thumbsdb_writer.h"

TEST(CliInstall, InstalledToolListsAndExtracts)
{
    TempDir prefix, work;
    std::string out;
    ASSERT_EQ(run_command("cmake --install " GLIMMERDEX_BINARY_DIR " --prefix " + prefix.path() + " 2>&1", &out), 0)
        << out;
    std::string tool = prefix.file("bin/glimmerdex-cli");
    ASSERT_TRUE(file_exists(tool));
    EXPECT_TRUE(file_exists(prefix.file("share/man/man1/glimmerdex-cli.1")));

    fixture::CacheSpec spec;
    fixture::CacheEntry e;
    e.name = "holiday.jpg";
    e.time = 128980119090000000ull;
    e.picture = fixture::encode_jpeg(fixture::make_test_image(50, 40, 2));
    spec.entries.push_back(e);
    write_file(work.file("Thumbs.db"), fixture::write_thumbs_db(spec));
    out.clear();
    ASSERT_EQ(run_command("cd " + work.path() + " && " + tool + " list .", &out), 0);
    EXPECT_EQ(out, "name\twidth\theight\tfiletime\tutc\nholiday.jpg\t50\t40\t128980119090000000\t2009-09-21T13:05:09Z\n");
    ASSERT_EQ(run_command(tool + " extract " + work.path() + " " + work.file("out") + " 2>&1"), 0);
    EXPECT_EQ(read_file(work.file("out/holiday.jpg")), e.picture);
    EXPECT_EQ(run_command(tool + " --version >/dev/null"), 0);
}
