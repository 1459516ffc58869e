// extract's case folder: digests, hashes.txt, manifest, timelines, hash sets,
// missing originals and the page, checked with the readers their users use
// (Python's csv/json/hashlib, hashdeep, mactime, Chromium).
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/fixture/thumbsdb_writer.h"

namespace {

const std::string cli = cli_command();

int run(const std::string& args, std::string* out = nullptr)
{
    return run_command(cli + " " + args + (out ? " 2>/dev/null" : " >/dev/null 2>&1"), out);
}

std::string text_of(const std::string& path)
{
    std::vector<uint8_t> b = read_file(path);
    return std::string(b.begin(), b.end());
}

bool have(const char* program)
{
#ifdef _WIN32
    (void)program;
    return false;
#else
    return run_command(std::string("command -v ") + program + " >/dev/null 2>&1") == 0;
#endif
}

std::string sh(const std::string& s) { return "'" + s + "'"; }

// Python's readers over the folder: "ok", or the faults found.
std::string oracle(const std::string& folder)
{
    std::string out;
    run_command("python3 " GLIMMERDEX_SOURCE_DIR "/tests/support/case_oracle.py " + sh(folder) + " 2>&1", &out);
    return out;
}

// Three pictures, one of them twice, and a record whose stream is gone.
fixture::CacheSpec case_spec()
{
    fixture::CacheSpec spec;
    const char* names[] = {"kept.jpg", "lost.jpg", "copy of lost.jpg", "no stream.jpg"};
    for (int i = 0; i < 4; ++i) {
        fixture::CacheEntry e;
        e.name = names[i];
        e.time = 128980119090000000ull + uint64_t(i) * 36000000000ull;
        e.picture = i == 2 ? spec.entries[1].picture : fixture::encode_jpeg(fixture::make_test_image(16 + i, 12, uint32_t(i)));
        e.has_stream = i != 3;
        spec.entries.push_back(e);
    }
    return spec;
}

struct CaseDir {
    TempDir dir;
    std::string evidence = dir.file("evidence");
    std::string out = dir.file("out");
    CaseDir(const fixture::CacheSpec& spec = case_spec())
    {
        mkdir(evidence.c_str(), 0755);
        write_file(evidence + "/Thumbs.db", fixture::write_thumbs_db(spec));
        write_file(evidence + "/kept.jpg", {1, 2, 3});
    }
};

} // namespace

TEST(CaseFolder, DigestsManifestAndHashesStandUpToOutsideReaders)
{
#ifdef _WIN32
    GTEST_SKIP() << "Python oracles run in the Linux suite";
#endif
    CaseDir c;
    std::vector<uint8_t> evidence_before = read_file(c.evidence + "/Thumbs.db");
    ASSERT_EQ(run("extract --json " + sh(c.evidence) + " " + sh(c.out)), 0);
    EXPECT_EQ(oracle(c.out), "ok\n");
    EXPECT_EQ(read_file(c.evidence + "/Thumbs.db"), evidence_before);

    std::string report = text_of(c.out + "/report.csv");
    EXPECT_NE(report.find(",lost.jpg,-,-,1\r\n"), std::string::npos) << "equal payloads share a same_as group\n" << report;
    EXPECT_NE(report.find(",copy of lost.jpg,-,-,1\r\n"), std::string::npos);
    EXPECT_NE(report.find(",kept.jpg,-,-,-\r\n"), std::string::npos) << "unique payloads have none";

    std::string manifest = text_of(c.out + "/manifest.json");
    EXPECT_NE(manifest.find("\"unchanged\": true"), std::string::npos);
    EXPECT_NE(manifest.find("\"entries_read\": 4, \"recovered\": 3, \"written\": 3, \"failed\": 0"), std::string::npos)
        << manifest;

    if (!have("hashdeep"))
        GTEST_SKIP() << "hashdeep not installed (tools/install-deps); the audit is not checked";
    const std::string audit = "cd " + sh(c.out) +
                              " && ls -A | grep -vxF hashes.txt | hashdeep -a -k hashes.txt -l -f /dev/stdin >/dev/null 2>&1";
    EXPECT_EQ(run_command(audit), 0) << text_of(c.out + "/hashes.txt");
    std::vector<uint8_t> kept = read_file(c.out + "/kept.jpg");
    kept[kept.size() / 2] ^= 1;
    write_file(c.out + "/kept.jpg", kept);
    EXPECT_NE(run_command(audit), 0) << "one changed byte fails the audit";
}

TEST(CaseFolder, WarningsAndFailedCachesGoIntoTheManifest)
{
    CaseDir c;
    write_file(c.dir.file("broken.db"), std::vector<uint8_t>(600, 7));
    EXPECT_EQ(run(sh(c.evidence) + " " + sh(c.dir.file("broken.db")) + " " + sh(c.out)), 2)
        << "no command";
    EXPECT_EQ(run("extract " + sh(c.evidence) + " " + sh(c.dir.file("broken.db")) + " " + sh(c.out)), 1);
    std::string manifest = text_of(c.out + "/manifest.json");
    EXPECT_NE(manifest.find("broken.db: Thumbs.db not found (not a thumbnail cache)"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("\"caches\": 2, \"caches_failed\": 1"), std::string::npos);
}

TEST(CaseFolder, TheSameRunTwiceGivesTheSameReports)
{
    CaseDir c;
    std::string second = c.dir.file("second");
    const std::string options = "extract --json ";
    ASSERT_EQ(run(options + sh(c.evidence) + " " + sh(c.out)), 0);
    ASSERT_EQ(run(options + sh(c.evidence) + " " + sh(second)), 0);
    for (const char* name : {"report.csv", "report.json"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(file_exists(c.out + "/" + name));
        EXPECT_EQ(read_file(c.out + "/" + name), read_file(second + "/" + name));
    }
}
