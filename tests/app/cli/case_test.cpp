// extract's case folder: digests, hashes.txt, manifest, timelines, hash sets,
// missing originals and the page, checked with the readers their users use
// (Python's csv/json/hashlib, hashdeep, mactime, Chromium). Linux only: the
// readers are Linux programs.
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/case/html_report.h"
#include "app/cli/digests/digests.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbcache_writer.h"

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
    return run_command(std::string("command -v ") + program + " >/dev/null 2>&1") == 0;
}

std::string sh(const std::string& s) { return "'" + s + "'"; }

std::string sha256_text(const std::vector<uint8_t>& b)
{
    char hex[65];
    sha256_hex(b.data(), b.size(), hex);
    return hex;
}

// Python's readers over the folder: "ok", or the faults found.
std::string oracle(const std::string& folder)
{
    std::string out;
    run_command("/usr/bin/python3 " GLIMMERDEX_SOURCE_DIR "/tests/support/case_oracle.py " + sh(folder) + " 2>&1", &out);
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
    CaseDir c;
    std::vector<uint8_t> evidence_before = read_file(c.evidence + "/Thumbs.db");
    std::string folder_before, folder_after;
    run_command("ls -A " + sh(c.evidence), &folder_before);
    ASSERT_EQ(run("extract --json --html --timeline jsonl " + sh(c.evidence) + " " + sh(c.out)), 0);
    EXPECT_EQ(oracle(c.out), "ok\n");
    EXPECT_EQ(read_file(c.evidence + "/Thumbs.db"), evidence_before);
    run_command("ls -A " + sh(c.evidence), &folder_after);
    EXPECT_EQ(folder_after, folder_before) << "nothing is written beside the evidence";

    std::string report = text_of(c.out + "/report.csv");
    EXPECT_NE(report.find(",lost.jpg,yes,-,1\r\n"), std::string::npos) << "equal payloads share a same_as group\n" << report;
    EXPECT_NE(report.find(",copy of lost.jpg,yes,-,1\r\n"), std::string::npos);
    EXPECT_NE(report.find(",kept.jpg,no,-,-\r\n"), std::string::npos) << "unique payloads have none";

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
    EXPECT_EQ(run("extract --html " + sh(c.evidence) + " " + sh(c.dir.file("broken.db")) + " " + sh(c.out)), 1);
    std::string manifest = text_of(c.out + "/manifest.json");
    EXPECT_NE(manifest.find("broken.db: Thumbs.db not found (not a thumbnail cache)"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("\"caches\": 2, \"caches_failed\": 1"), std::string::npos);
    // The page still names the cache it could not read, with its digests.
    std::string page = text_of(c.out + "/index.html");
    size_t section = page.find("<h2>" + c.dir.file("broken.db") + "</h2>\n<p class=\"digests\"><span>0 entries</span> "
                               "<span>600 bytes</span>");
    EXPECT_NE(section, std::string::npos) << page;
    EXPECT_NE(page.find("<p>No entries to show", section), std::string::npos);
}

TEST(CaseFolder, TheManifestNamesTheRevisionTheToolWasBuiltFrom)
{
    std::string revision;
    if (!have("git") ||
        run_command("git -C " + sh(GLIMMERDEX_SOURCE_DIR) + " describe --always --dirty 2>/dev/null", &revision) != 0 ||
        revision.empty())
        GTEST_SKIP() << "no git, or the sources are not a git work tree; test skipped";
    revision.pop_back();  // the line break
    CaseDir c;
    ASSERT_EQ(run("extract " + sh(c.evidence) + " " + sh(c.out)), 0);
    const std::string manifest = text_of(c.out + "/manifest.json");
    EXPECT_NE(manifest.find("\"revision\": \"" + revision + "\","), std::string::npos)
        << "built before the last commit or change? " << manifest.substr(0, 200);
}

namespace {

// The whole folder but the run's own words: the command line and times of
// the manifest, and in hashes.txt its comment lines and the manifest's line.
std::string without_run_details(const std::string& name, std::string text)
{
    if (name == "manifest.json") {
        size_t from = text.find("\"command_line\"");
        size_t to = text.find("\"system\"");
        if (from != std::string::npos && to != std::string::npos && to > from)
            text.erase(from, to - from);
    } else if (name == "hashes.txt") {
        std::string kept;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);)
            if (line.compare(0, 2, "##") != 0 && line.find(",manifest.json") == std::string::npos)
                kept += line + "\n";
        text = kept;
    }
    return text;
}

} // namespace

TEST(CaseFolder, TheSameRunGivesTheSameFolderWhateverTheThreads)
{
    CaseDir c;
    // An Explorer cache beside the Thumbs.db: many records, equal payloads,
    // names that clash, one bad data checksum, one in a hash set.
    fixture::ThumbcacheSpec cache;
    for (int i = 0; i < 120; ++i) {
        fixture::ThumbcacheRecord r;
        r.hash = 0x1000 + uint64_t(i);
        r.identifier = i % 7 == 0 ? "same name" : "";
        r.identifier_from_hash = r.identifier.empty();
        r.data = fixture::encode_jpeg(fixture::make_test_image(40 + i % 13, 30 + i % 5, uint32_t(i % 50)));
        r.bad_data_checksum = i == 33;
        cache.records.push_back(r);
    }
    write_file(c.evidence + "/thumbcache_256.db", fixture::write_thumbcache(cache));
    std::string known = "# known\n" + sha256_text(cache.records[5].data) + "\n";
    write_file(c.dir.file("known.txt"), fixture::Bytes(known.begin(), known.end()));

    const std::string options = "extract --json --html --timeline bodyfile --timeline l2tcsv --timeline jsonl "
                                "--hashset " + sh(c.dir.file("known.txt")) + " ";
    std::string four = c.dir.file("four");
    const std::string caches = sh(c.evidence) + " " + sh(c.evidence + "/thumbcache_256.db") + " ";
    ASSERT_EQ(run(options + "--jobs 1 " + caches + sh(c.out)), 0);
    ASSERT_EQ(run(options + "-j 4 " + caches + sh(four)), 0);
    std::string names_one, names_four;
    run_command("ls -A " + sh(c.out), &names_one);
    run_command("ls -A " + sh(four), &names_four);
    EXPECT_EQ(names_one, names_four);
    EXPECT_GT(std::count(names_one.begin(), names_one.end(), '\n'), 120) << names_one;
    std::istringstream names(names_one);
    for (std::string name; std::getline(names, name);) {
        SCOPED_TRACE(name);
        EXPECT_EQ(without_run_details(name, text_of(c.out + "/" + name)),
                  without_run_details(name, text_of(four + "/" + name)));
    }
    EXPECT_NE(text_of(c.out + "/report.csv").find(",known.txt,"), std::string::npos);
    EXPECT_NE(text_of(four + "/manifest.json").find("1 of 120 records fail their data checksum"), std::string::npos);
    EXPECT_EQ(oracle(four), "ok\n");
    EXPECT_EQ(run("extract --jobs 0 " + sh(c.evidence) + " " + sh(c.dir.file("none"))), 2);
}

TEST(CaseFolder, TimelinesAreReadByMactimeAndPython)
{
    CaseDir c;
    ASSERT_EQ(run("extract --timeline bodyfile --timeline=l2tcsv --timeline jsonl --timeline jsonl " + sh(c.evidence) +
                  " " + sh(c.out)),
              0);
    EXPECT_EQ(oracle(c.out), "ok\n");
    std::string body = text_of(c.out + "/timeline.body");
    EXPECT_EQ(std::count(body.begin(), body.end(), '\n'), 4) << "every record has a time, the one without a stream too";
    const fixture::CacheSpec spec = case_spec();
    EXPECT_NE(body.find("|" + c.evidence + "/Thumbs.db:kept.jpg|0|r/r---------|0|0|" +
                        std::to_string(spec.entries[0].picture.size()) + "|0|1253538309|0|0\n"),
              std::string::npos)
        << body;
    EXPECT_EQ(run("extract --timeline csv " + sh(c.evidence) + " " + sh(c.dir.file("bad"))), 2);
    if (!have("mactime"))
        GTEST_SKIP() << "mactime (sleuthkit) not installed; the body file is not read back";
    std::string events;
    ASSERT_EQ(run_command("TZ=UTC mactime -b " + sh(c.out + "/timeline.body") + " -d -y 2000-01-01", &events), 0);
    EXPECT_NE(events.find("2009-09-21T14:05:09Z," + std::to_string(spec.entries[1].picture.size()) +
                          ",m...,r/r---------,0,0,1,\"" + c.evidence + "/Thumbs.db:lost.jpg\""),
              std::string::npos)
        << events;
}

// A stream whose directory entry carries its own times gives events of them,
// beside the catalog's time; the catalog-less stream rows of other caches too.
TEST(CaseFolder, StreamDirectoryTimesAreEventsOfTheirOwn)
{
    CaseDir c;
    std::vector<uint8_t> cache = read_file(c.evidence + "/Thumbs.db");
    const uint64_t created = 130000000000000000ull, modified = 130000000010000000ull;  // 2012-12-14T23:06:40Z, +1 s
    bool patched = false;
    for (size_t at = 512; at + 128 <= cache.size() && !patched; at += 128)
        if (cache[at] == '1' && cache[at + 1] == 0 && cache[at + 2] == 0 && cache[at + 64] == 4 && cache[at + 66] == 2) {
            for (int k = 0; k < 8; ++k) {
                cache[at + 100 + k] = uint8_t(created >> (8 * k));
                cache[at + 108 + k] = uint8_t(modified >> (8 * k));
            }
            patched = true;
        }
    ASSERT_TRUE(patched) << "no directory entry of stream 1";
    write_file(c.evidence + "/Thumbs.db", cache);
    ASSERT_EQ(run("extract --timeline bodyfile --timeline jsonl " + sh(c.evidence) + " " + sh(c.out)), 0);
    EXPECT_EQ(oracle(c.out), "ok\n");
    std::string body = text_of(c.out + "/timeline.body");
    EXPECT_EQ(std::count(body.begin(), body.end(), '\n'), 6);
    EXPECT_NE(body.find(":kept.jpg (stream)|0|r/r---------|0|0|"), std::string::npos) << body;
    EXPECT_NE(body.find("|0|0|1355526400\n"), std::string::npos) << "created as crtime";
    EXPECT_NE(body.find("|0|1355526401|0|0\n"), std::string::npos) << "modified as mtime";
    std::string jsonl = text_of(c.out + "/timeline.jsonl");
    EXPECT_NE(jsonl.find("\"datetime\": \"2012-12-14T23:06:40+00:00\""), std::string::npos) << jsonl;
    EXPECT_NE(jsonl.find("\"timestamp_desc\": \"Thumbnail Stream Creation Time\""), std::string::npos);
    EXPECT_NE(jsonl.find("\"timestamp_desc\": \"Thumbnail Stream Modification Time\""), std::string::npos);
}

TEST(CaseFolder, MissingOriginalsAreTheNamesGoneFromTheFolder)
{
    CaseDir c;
    write_file(c.evidence + "/KEPT.JPG", {1});  // compared ignoring ASCII case
    ASSERT_EQ(run("extract " + sh(c.evidence) + " " + sh(c.out)), 0);
    std::string report = text_of(c.out + "/report.csv");
    EXPECT_NE(report.find(",kept.jpg,no,-,-\r\n"), std::string::npos) << report;
    EXPECT_NE(report.find(",lost.jpg,yes,-,1\r\n"), std::string::npos);
    EXPECT_NE(report.find(",,yes,-,-\r\n"), std::string::npos) << "a record without a thumbnail can be missing too";

    std::string listing;
    ASSERT_EQ(run("list --missing " + sh(c.evidence), &listing), 0);
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 4) << listing;
    EXPECT_EQ(listing.find("kept.jpg"), std::string::npos);
    listing.clear();
    ASSERT_EQ(run("list --missing " + sh(c.evidence + "/Thumbs.db"), &listing), 0);
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 1) << "a cache file named alone: no folder to ask";
}

TEST(CaseFolder, KnownPicturesAreFlaggedOrLeftOut)
{
    CaseDir c;
    fixture::CacheSpec spec = case_spec();
    auto digest = [&](const char* tool, const fixture::Bytes& b) {
        write_file(c.dir.file("picture"), b);
        std::string out;
        run_command(std::string(tool) + " < " + sh(c.dir.file("picture")) + " | cut -d' ' -f1", &out);
        return out.substr(0, out.size() - 1);
    };
    std::string kept_md5 = digest("md5sum", spec.entries[0].picture);
    std::string lost_sha1 = digest("sha1sum", spec.entries[1].picture);
    std::string lost_sha256 = digest("sha256sum", spec.entries[1].picture);
    std::string list = "# known\n" + kept_md5 + "  kept.jpg\n\n";
    write_file(c.dir.file("list.txt"), fixture::Bytes(list.begin(), list.end()));
    std::string nsrl = c.dir.file("rds.db");
    ASSERT_EQ(run_command("/usr/bin/python3 -c \"import sqlite3,sys\n"
                          "d=sqlite3.connect(sys.argv[1])\n"
                          "d.execute('CREATE TABLE FILE (sha256 VARCHAR NOT NULL, sha1 VARCHAR NOT NULL, md5 VARCHAR NOT "
                          "NULL, crc32 VARCHAR NOT NULL, file_name VARCHAR NOT NULL, file_size INTEGER NOT NULL, "
                          "package_id INTEGER NOT NULL, PRIMARY KEY (sha256, sha1, md5, crc32, file_name, file_size, "
                          "package_id)) WITHOUT ROWID')\n"
                          "d.execute('CREATE INDEX FILE_sha1 ON FILE (sha1)')\n"
                          "d.execute('CREATE INDEX FILE_md5 ON FILE (md5)')\n"
                          "d.execute('INSERT INTO FILE VALUES (?,?,?,?,?,?,?)', ('0'*64, sys.argv[2].upper(), '0'*32, "
                          "'00000000', 'lost.jpg', 1, 1))\n"
                          "d.execute('CREATE TABLE VERSION (version VARCHAR UNIQUE NOT NULL, build_set VARCHAR NOT NULL, "
                          "build_date TIMESTAMP NOT NULL, release_date TIMESTAMP NOT NULL, description VARCHAR NOT NULL)')\n"
                          "d.execute('INSERT INTO VERSION VALUES (?,?,?,?,?)', ('2024.12.1', 'Modern', "
                          "'2024-12-01 08:00:00', '2024-12-02 00:00:00', 'RDSv3 test set'))\n"
                          "d.commit()\" " +
                          sh(nsrl) + " " + lost_sha1),
              0);
    std::string deep = "%%%% HASHDEEP-1.0\n%%%% size,sha256,filename\n## comment\n1," + lost_sha256 + ",a,b.jpg\n";
    write_file(c.dir.file("deep.txt"), fixture::Bytes(deep.begin(), deep.end()));

    ASSERT_EQ(run("extract --hashset " + sh(c.dir.file("list.txt")) + " --hashset " + sh(nsrl) + " --hashset=" +
                  sh(c.dir.file("deep.txt")) + " " + sh(c.evidence) + " " + sh(c.out)),
              0);
    std::string report = text_of(c.out + "/report.csv");
    EXPECT_NE(report.find(",kept.jpg,no,list.txt,-\r\n"), std::string::npos) << report;
    EXPECT_NE(report.find(",lost.jpg,yes,rds.db;deep.txt,1\r\n"), std::string::npos);
    EXPECT_NE(report.find(",copy of lost.jpg,yes,rds.db;deep.txt,1\r\n"), std::string::npos);
    // The NSRL set is named by what it says of itself, its size and time; a
    // full one is too large to read whole on every run. Its digests only
    // when asked; the text sets' always.
    std::string manifest = text_of(c.out + "/manifest.json");
    struct stat st;
    ASSERT_EQ(stat(nsrl.c_str(), &st), 0);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&st.st_mtime));
    EXPECT_NE(manifest.find("\"kind\": \"nsrl-rdsv3\", \"mode\": \"alert\", \"size\": " + std::to_string(st.st_size) +
                            ", \"modified_utc\": \"" + when + "\", \"version\": {\"version\": \"2024.12.1\", "
                            "\"build_set\": \"Modern\", \"build_date\": \"2024-12-01 08:00:00\", \"release_date\": "
                            "\"2024-12-02 00:00:00\", \"description\": \"RDSv3 test set\"}, \"sha256\": null, "
                            "\"digests\": \"not taken (--hashset-digests takes them)\"}"),
              std::string::npos)
        << manifest;
    auto sha256sum = [&](const std::string& path) {
        std::string out;
        run_command("sha256sum < " + sh(path) + " | cut -d' ' -f1", &out);
        return out.substr(0, 64);
    };
    EXPECT_NE(manifest.find("\"sha256\": \"" + sha256sum(c.dir.file("list.txt")) + "\""), std::string::npos);
    EXPECT_EQ(manifest.find(sha256sum(nsrl)), std::string::npos);
    std::string with_digests = c.dir.file("with_digests");
    ASSERT_EQ(run("extract --hashset-digests --hashset " + sh(nsrl) + " " + sh(c.evidence) + " " + sh(with_digests)), 0);
    manifest = text_of(with_digests + "/manifest.json");
    EXPECT_NE(manifest.find("set\"}, \"sha256\": \"" + sha256sum(nsrl) + "\"}"), std::string::npos) << manifest;
    EXPECT_FALSE(file_exists(nsrl + "-journal") || file_exists(nsrl + "-wal") || file_exists(nsrl + "-shm"));

    // Known harmless: out of the case, and out of the listing.
    std::string out2 = c.dir.file("out2");
    ASSERT_EQ(run("extract --hashset-mode ignore --hashset " + sh(nsrl) + " " + sh(c.evidence) + " " + sh(out2)), 0);
    report = text_of(out2 + "/report.csv");
    EXPECT_EQ(report.find("lost.jpg"), std::string::npos) << report;
    EXPECT_FALSE(file_exists(out2 + "/lost.jpg"));
    EXPECT_NE(text_of(out2 + "/manifest.json").find("\"hidden\": 2"), std::string::npos);
    std::string listing;
    ASSERT_EQ(run("list --hashset " + sh(c.dir.file("list.txt")) + " " + sh(c.evidence), &listing), 0);
    EXPECT_NE(listing.find("\tlist.txt\n"), std::string::npos) << listing;
    listing.clear();
    ASSERT_EQ(run("list --hashset-mode ignore --hashset " + sh(c.dir.file("list.txt")) + " " + sh(c.evidence), &listing), 0);
    EXPECT_EQ(listing.find("kept.jpg"), std::string::npos);

    // Sets that are not sets are refused, before anything is written.
    const std::string bad[] = {"not a digest\n", "%%%% HASHDEEP-1.0\n%%%% size,md5,filename\n1,xyz,a\n"};
    for (const std::string& text : bad) {
        write_file(c.dir.file("bad.txt"), fixture::Bytes(text.begin(), text.end()));
        EXPECT_EQ(run("extract --hashset " + sh(c.dir.file("bad.txt")) + " " + sh(c.evidence) + " " +
                      sh(c.dir.file("out3"))),
                  2);
        EXPECT_FALSE(file_exists(c.dir.file("out3/report.csv")));
    }
    write_file(c.dir.file("empty.db"), fixture::Bytes(std::begin("SQLite format 3"), std::end("SQLite format 3")));
    EXPECT_EQ(run("list --hashset " + sh(c.dir.file("empty.db")) + " " + sh(c.evidence)), 2);
}

namespace {

// Headless Chromium over a page: the DOM after its script ran, or a
// screenshot. The window is tall enough for every picture of the page the
// tests write, so that the boxes the page reports lie inside the screenshot.
std::string chromium(const std::string& url, const std::string& extra)
{
    std::string out;
    run_command("timeout 120 chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1400,1800 "
                "--run-all-compositor-stages-before-draw --virtual-time-budget=3000 " +
                    extra + " " + sh(url) + " 2>/dev/null",
                &out);
    return out;
}

std::vector<std::string> attribute_values(const std::string& dom, const std::string& prefix)
{
    std::vector<std::string> out;
    for (size_t at = dom.find(prefix); at != std::string::npos; at = dom.find(prefix, at + 1)) {
        size_t start = at + prefix.size();
        out.push_back(dom.substr(start, dom.find_first_of("\"<", start) - start));
    }
    return out;
}

// The page's cache sections, each as its markup.
std::vector<std::string> page_sections(const std::string& dom)
{
    std::vector<std::string> out;
    for (size_t at = dom.find("<section"); at != std::string::npos; at = dom.find("<section", at + 1))
        out.push_back(dom.substr(at, dom.find("</section>", at) - at));
    return out;
}

std::string digest_of(const char* tool, const std::string& path)
{
    std::string out;
    run_command(std::string(tool) + " < " + sh(path) + " | cut -d' ' -f1", &out);
    return out.substr(0, out.find('\n'));
}

} // namespace

// A Thumbs.db and an Explorer cache file in one case: one section each,
// headed by the cache's path and digests, with only the columns that hold a
// value there; sort and filter hold for both tables.
TEST(CaseFolder, ThePageRendersInChromium)
{
    if (!have("chromium"))
        GTEST_SKIP() << "chromium not installed (tools/install-deps); the page is not rendered";
    CaseDir c;
    fixture::CacheSpec spec = case_spec();
    write_file(c.dir.file("picture"), spec.entries[0].picture);
    ASSERT_EQ(run_command("md5sum < " + sh(c.dir.file("picture")) + " > " + sh(c.dir.file("known.txt"))), 0);
    // Markup in the folder's name: the heading must show it as text.
    const std::string explorer_dir = c.dir.file("profile <i>x</i> & co");
    const std::string explorer = explorer_dir + "/thumbcache_256.db";
    fixture::ThumbcacheSpec t256;
    t256.cache_type = 4;
    const fixture::Bytes explorer_pictures[] = {
        fixture::encode_jpeg(fixture::make_test_image(64, 48, 7)),
        fixture::encode_png_rgba(fixture::make_test_image(20, 30, 8)),
        fixture::encode_bmp32(fixture::make_test_image(16, 12, 9), true), {}};
    const char* identifiers[] = {"lost-too", "photo", "icon", "folder"};
    for (int i = 0; i < 4; ++i) {
        fixture::ThumbcacheRecord r;
        r.hash = 0x1000u + unsigned(i);
        r.identifier = identifiers[i];
        r.identifier_from_hash = false;
        r.data = explorer_pictures[i];
        t256.records.push_back(r);
    }
    ASSERT_TRUE(make_folders(explorer_dir));
    write_file(explorer, fixture::write_thumbcache(t256));
    ASSERT_EQ(run("extract --html --blur-flagged --hashset " + sh(c.dir.file("known.txt")) + " " + sh(c.evidence) +
                  " " + sh(explorer) + " " + sh(c.out)),
              0);
    const std::string page = "file://" + c.out + "/index.html";

    // Without JavaScript every row is there, and no filter box that would not work.
    std::string markup = text_of(c.out + "/index.html");
    std::vector<std::string> sections = page_sections(markup);
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(attribute_values(sections[0], "<tr class=\"entry").size(), 4u);
    EXPECT_EQ(attribute_values(sections[1], "<tr class=\"entry").size(), 4u);
    EXPECT_NE(markup.find("<input id=\"filter\" type=\"search\" placeholder=\"Filter rows\" hidden>"), std::string::npos);
    EXPECT_EQ(attribute_values(markup, "http").size(), 1u) << "no address outside the folder but http-equiv";
    EXPECT_EQ(attribute_values(markup, "<label class=\"veil\"").size(), 1u) << "the flagged picture is veiled";

    // Each cache once, as the heading of its section, with its digests.
    const std::string caches[] = {c.evidence + "/Thumbs.db", explorer};
    for (size_t s = 0; s < 2; ++s) {
        SCOPED_TRACE(caches[s]);
        EXPECT_NE(sections[s].find("<h2>" + html_text(caches[s]) + "</h2>"), std::string::npos)
            << sections[s].substr(0, 400);
        EXPECT_EQ(attribute_values(markup, html_text(caches[s])).size(), 2u) << "the heading and the contents only";
        for (const char* tool : {"md5sum", "sha1sum", "sha256sum"})
            EXPECT_NE(sections[s].find("<code>" + digest_of(tool, caches[s]) + "</code>"), std::string::npos) << tool;
    }
    // Only the columns with a value in the section's rows: no times for the
    // Explorer file, no Explorer columns for the Thumbs.db, and never the cache.
    auto columns = [](const std::string& section) {
        std::vector<std::string> all = attribute_values(section, "data-column=\"");
        return std::set<std::string>(all.begin(), all.end());
    };
    const std::set<std::string> old_columns = columns(sections[0]), explorer_columns = columns(sections[1]);
    for (const char* name : {"name", "filetime", "utc", "stream", "missing", "hashset", "sha256"})
        EXPECT_TRUE(old_columns.count(name)) << name;
    for (const char* name : {"cache", "bucket", "data_checksum", "path", "name_source"})
        EXPECT_FALSE(old_columns.count(name)) << name;
    for (const char* name : {"name", "bucket", "hash", "data_checksum", "sha256"})
        EXPECT_TRUE(explorer_columns.count(name)) << name;
    for (const char* name : {"cache", "filetime", "utc", "stream", "missing", "hashset", "index_buckets"})
        EXPECT_FALSE(explorer_columns.count(name)) << name;
    EXPECT_EQ(attribute_values(sections[0], "data-column=\"")[1], "name") << "the name first after the thumbnail";

    // Sorted by size, largest first, from the address: each table in that
    // order, its entry without a thumbnail last.
    std::string dom = chromium(page + "#sort=-length", "--dump-dom");
    EXPECT_NE(dom.find("data-sorted=\"-length\""), std::string::npos) << dom;
    auto by_size = [](std::vector<std::pair<size_t, std::string>> entries, const std::string& last) {
        std::stable_sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.first > b.first; });
        std::vector<std::string> names;
        for (auto& [size, name] : entries)
            names.push_back(name);
        names.push_back(last);
        return names;
    };
    std::vector<std::pair<size_t, std::string>> old_entries, explorer_entries;
    for (size_t i : {0, 1, 2})
        old_entries.emplace_back(spec.entries[i].picture.size(), spec.entries[i].name);
    for (size_t i : {0, 1, 2})
        explorer_entries.emplace_back(explorer_pictures[i].size(), identifiers[i]);
    sections = page_sections(dom);
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(attribute_values(sections[0], "class=\"col-name\">"), by_size(old_entries, "no stream.jpg"));
    EXPECT_EQ(attribute_values(sections[1], "class=\"col-name\">"), by_size(explorer_entries, "folder"));
    EXPECT_NE(dom.find("data-images-broken=\"0\" data-images=\"6\""), std::string::npos) << "no broken pictures";

    // One filter over both tables; a section without a match is hidden.
    dom = chromium(page + "#filter=LOST", "--dump-dom");
    EXPECT_NE(dom.find("<body data-shown=\"3\""), std::string::npos) << dom;
    EXPECT_NE(dom.find("id=\"cache-1\" data-shown=\"2\""), std::string::npos);
    EXPECT_NE(dom.find("id=\"cache-2\" data-shown=\"1\""), std::string::npos);
    EXPECT_NE(dom.find(">3 of 8 rows<"), std::string::npos);
    dom = chromium(page + "#filter=photo", "--dump-dom");
    EXPECT_NE(dom.find("id=\"cache-1\" hidden=\"\" data-shown=\"0\""), std::string::npos) << dom;
    EXPECT_NE(dom.find("id=\"cache-2\" data-shown=\"1\""), std::string::npos);

    // The screenshot shows pictures where the page says they are.
    std::vector<std::string> boxes = attribute_values(chromium(page, "--dump-dom"), "data-box=\"");
    ASSERT_EQ(boxes.size(), 6u);
    std::string shot = c.dir.file("shot.png");
    chromium(page, "--screenshot=" + sh(shot));
    ASSERT_TRUE(file_exists(shot));
    std::string boxes_text, verdict;
    for (const std::string& box : boxes)
        boxes_text += " " + box;
    run_command("/usr/bin/python3 -c \"import sys\nfrom PIL import Image\nim=Image.open(sys.argv[1]).convert('RGB')\n"
                "for box in sys.argv[2:]:\n"
                "  x,y,w,h=map(int,box.split(','))\n"
                "  inside=set(im.getpixel((x+dx*w//4,y+dy*h//4)) for dx in (1,2,3) for dy in (1,2,3))\n"
                "  print('picture' if w>0 and h>0 and y+h<=im.height and inside-{(255,255,255)} else 'blank')\" " +
                    sh(shot) + boxes_text,
                &verdict);
    EXPECT_EQ(verdict, "picture\npicture\npicture\npicture\npicture\npicture\n");
}

TEST(CaseFolder, HostileNamesSurviveEveryFormat)
{
    const std::vector<std::string> names = {"pipe|name.jpg", "comma,name.jpg", "quote\"name'.jpg", "new\nline\r.jpg",
                                            "Caf\xC3\xA9 \xE2\x98\x95 \xF0\x9F\x93\xB7.jpg", "percent%7C.jpg",
                                            "<b>tag</b>&amp;.jpg", "tab\there;.jpg"};
    fixture::CacheSpec spec;
    std::string names_json = "[";
    for (size_t i = 0; i < names.size(); ++i) {
        fixture::CacheEntry e;
        e.name = names[i];
        e.time = 128980119090000000ull + i * 10000000ull;
        e.picture = fixture::encode_jpeg(fixture::make_test_image(12, 12, uint32_t(i)));
        spec.entries.push_back(e);
        std::string quotedname;
        for (char ch : names[i]) {
            if (ch == '"' || ch == '\\')
                quotedname += '\\';
            quotedname += ch == '\n' ? std::string("\\n") : ch == '\r' ? std::string("\\r") : ch == '\t' ? std::string("\\t") : std::string(1, ch);
        }
        names_json += (i ? ", \"" : "\"") + quotedname + "\"";
    }
    names_json += "]";
    CaseDir c(spec);
    write_file(c.dir.file("names.json"), fixture::Bytes(names_json.begin(), names_json.end()));
    ASSERT_EQ(run("extract --json --html --timeline bodyfile --timeline l2tcsv --timeline jsonl " + sh(c.evidence) +
                  " " + sh(c.out)),
              0);
    std::string dom = c.dir.file("dom.html");
    bool browser = have("chromium");
    if (browser)
        run_command("timeout 120 chromium --headless --no-sandbox --disable-gpu --virtual-time-budget=3000 --dump-dom " +
                    sh("file://" + c.out + "/index.html") + " > " + sh(dom) + " 2>/dev/null");
    EXPECT_EQ(oracle(c.out + "' " + sh(c.dir.file("names.json")) + (browser ? " " + sh(dom) : "") + " '"), "ok\n");
    if (have("mactime")) {
        std::string events;
        EXPECT_EQ(run_command("mactime -b " + sh(c.out + "/timeline.body") + " -d -y 2000-01-01 | wc -l", &events), 0);
        EXPECT_EQ(events, std::to_string(names.size() + 1) + "\n") << "one line per entry and the header";
    }
    if (have("hashdeep")) {
        EXPECT_EQ(run_command("cd " + sh(c.out) +
                              " && ls -A | grep -vxF hashes.txt | hashdeep -a -k hashes.txt -l -f /dev/stdin >/dev/null 2>&1"),
                  0)
            << text_of(c.out + "/hashes.txt");
    }
}
