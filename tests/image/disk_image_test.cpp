// Disk images end to end: tools/make-test-images puts our own fixture caches
// into FAT and NTFS volumes (one cache of each deleted), an MBR and a GPT
// disk, and every container; the tool must list from each exactly the
// records of the files put in, with where each lies and whether it was
// deleted, and leave the images as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "tests/image/test_images.h"
#include "tests/support/test_support.h"

namespace {

struct Table {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
    std::string cell(size_t row, const char* column) const
    {
        const auto at = std::find(header.begin(), header.end(), column);
        return at == header.end() ? "<no column " + std::string(column) + ">" : rows[row][size_t(at - header.begin())];
    }
};

Table parse(const std::string& tsv)
{
    Table t;
    std::vector<std::vector<std::string>> lines = tsv_lines(tsv);
    if (!lines.empty()) {
        t.header = lines[0];
        t.rows.assign(lines.begin() + 1, lines.end());
    }
    return t;
}

// "list --catalog" of the paths; the exit code in *code.
Table list_catalog(const std::string& paths, int* code)
{
    std::string out;
    *code = run_command(cli_command() + " list --catalog " + paths + " 2>/dev/null", &out);
    return parse(out);
}

class DiskImage : public TestImages {};

// The columns that describe a record itself, not where its file lies.
const char* const RECORD_COLUMNS[] = {"record", "stream", "slot", "name", "filetime", "header", "length", "format",
                                      "width", "height", "sha256", "version", "bucket", "offset", "hash",
                                      "data_size", "header_checksum", "data_checksum", "recovered"};

// A cache file alone lists the columns of Explorer files only when it is one.
std::string record_key(const Table& t, size_t row)
{
    std::string key;
    for (const char* c : RECORD_COLUMNS)
        key += (std::find(t.header.begin(), t.header.end(), c) == t.header.end() ? "-" : t.cell(row, c)) + "|";
    return key;
}

// Which fixture file a cache inside the images was made from.
std::string part_of(const std::string& fs_path)
{
    const std::string leaf = fs_path.substr(fs_path.find_last_of('/') + 1);
    if (fs_path == "/Pics/Thumbs.db" || fs_path == "/Thumbs.db")
        return "live/Thumbs.db";
    if (fs_path == "/Old/Thumbs.db")
        return "deleted/Thumbs.db";
    return "explorer/" + leaf;
}

// The oracle: the files put in, listed as files (part -> record keys).
std::map<std::string, std::vector<std::string>> listed_parts(const std::string& parts)
{
    std::map<std::string, std::vector<std::string>> expected;
    for (const char* part : {"live/Thumbs.db", "deleted/Thumbs.db", "explorer/thumbcache_32.db",
                             "explorer/thumbcache_256.db", "explorer/thumbcache_idx.db"}) {
        int code;
        const Table t = list_catalog(parts + "/" + part, &code);
        EXPECT_EQ(code, 0) << part;
        for (size_t r = 0; r < t.rows.size(); ++r)
            expected[part].push_back(record_key(t, r));
    }
    return expected;
}

TEST_F(DiskImage, EveryContainerListsTheRecordsPutInWithTheirOrigin)
{
    const std::map<std::string, std::vector<std::string>> expected = listed_parts(at("parts"));
    struct Where {
        const char* fs_path;
        const char* state;
        const char* partition_offset;
    };
    const Where where[] = {{"/Pics/Thumbs.db", "allocated", "1048576"},
                           {"/Old/Thumbs.db", "deleted", "1048576"},
                           {"/thumbcache_32.db", "deleted", "17825792"},  // an orphan, placed by its MFT record
                           {"/thumbcache_256.db", "allocated", "17825792"},
                           {"/thumbcache_idx.db", "allocated", "17825792"}};

    std::vector<std::string> first_rows;
    for (const char* image : {"disk.raw", "disk.001", "disk.E01", "disk.vhd", "disk.vhdx", "disk.vmdk", "disk.qcow2",
                              "gpt.raw"}) {
        SCOPED_TRACE(image);
        int code;
        const Table t = list_catalog(at(image), &code);
        EXPECT_EQ(code, 0);
        std::map<std::string, std::vector<std::string>> got;
        std::vector<std::string> rows;
        for (size_t r = 0; r < t.rows.size(); ++r) {
            const std::string fs_path = t.cell(r, "fs_path");
            got[part_of(fs_path)].push_back(record_key(t, r));
            EXPECT_EQ(t.cell(r, "image"), at(image));
            EXPECT_EQ(t.cell(r, "store"), "-");
            const auto w = std::find_if(std::begin(where), std::end(where),
                                        [&](const Where& x) { return fs_path == x.fs_path; });
            ASSERT_NE(w, std::end(where)) << fs_path;
            EXPECT_EQ(t.cell(r, "state"), w->state) << fs_path;
            EXPECT_EQ(t.cell(r, "partition_offset"), w->partition_offset) << fs_path;
            EXPECT_EQ(t.cell(r, "fs_type"), std::string(w->partition_offset) == "1048576" ? "fat16" : "ntfs");
            if (fs_path == "/thumbcache_32.db") {
                EXPECT_EQ(t.cell(r, "index"), "slot 39") << "the deleted file is read with the index beside it";
            }
            // Every other column but the cache's and the image's names is the same from every container.
            rows.push_back(record_key(t, r) + fs_path + "|" + t.cell(r, "state") + "|" + t.cell(r, "inode"));
            const bool fat = std::string(w->partition_offset) == "1048576";
            if (std::string(image) == "gpt.raw")
                EXPECT_EQ(t.cell(r, "partition_type"), fat ? "FAT" : "NTFS");  // the GPT entries' names
            else
                EXPECT_EQ(t.cell(r, "partition_type"), fat ? "Win95 FAT16 (0x0e)" : "NTFS / exFAT (0x07)");
        }
        EXPECT_EQ(got, expected);
        if (first_rows.empty())
            first_rows = rows;
        else
            EXPECT_EQ(rows, first_rows);
    }
}

TEST_F(DiskImage, ExtAndExfatVolumesGiveTheSameRecordsLiveAndDeleted)
{
    struct Case {
        const char* image;
        const char* fs_type;
        std::vector<std::string> deleted;
    } const cases[] = {
        {"ext.img", "ext4", {"/Old/Thumbs.db", "/thumbcache_32.db"}},
        {"exfat.img", "exfat", {"/thumbcache_32.db"}},  // no deleted Thumbs.db there
    };
    const std::map<std::string, std::vector<std::string>> parts = listed_parts(at("parts"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image);
        int code;
        const Table t = list_catalog(at(c.image), &code);
        EXPECT_EQ(code, 0);
        std::map<std::string, std::vector<std::string>> got, expected = parts;
        if (std::string(c.image) == "exfat.img")
            expected.erase("deleted/Thumbs.db");
        for (size_t r = 0; r < t.rows.size(); ++r) {
            const std::string fs_path = t.cell(r, "fs_path");
            got[part_of(fs_path)].push_back(record_key(t, r));
            EXPECT_EQ(t.cell(r, "fs_type"), c.fs_type);
            const bool deleted = std::find(c.deleted.begin(), c.deleted.end(), fs_path) != c.deleted.end();
            EXPECT_EQ(t.cell(r, "state"), deleted ? "deleted" : "allocated") << fs_path;
        }
        EXPECT_EQ(got, expected);
    }
}

TEST_F(DiskImage, AVolumeWithoutAPartitionTableAndAPlainListing)
{
    int code;
    const Table t = list_catalog(at("ntfs.img"), &code);
    EXPECT_EQ(code, 0);
    ASSERT_EQ(t.rows.size(), 7u);
    for (size_t r = 0; r < t.rows.size(); ++r) {
        EXPECT_EQ(t.cell(r, "partition_type"), "none");
        EXPECT_EQ(t.cell(r, "partition_offset"), "0");
    }
    // Without --catalog: the viewer's columns, then where each row lies.
    std::string out;
    EXPECT_EQ(run_command(cli_command() + " list " + at("fat.img") + " 2>/dev/null", &out), 0);
    const Table plain = parse(out);
    ASSERT_EQ(plain.rows.size(), 3u);
    EXPECT_EQ(plain.cell(0, "name"), "secret.jpg");
    EXPECT_EQ(plain.cell(0, "state"), "deleted");
    EXPECT_EQ(plain.cell(0, "width"), "40");
    EXPECT_EQ(plain.cell(1, "name"), "beach.jpg");
    EXPECT_EQ(plain.cell(1, "state"), "allocated");
    // A cache given as a file beside the image: no origin, '-' in those columns.
    std::string mixed_out;
    EXPECT_EQ(run_command(cli_command() + " list --catalog " + at("fat.img") + " " + at("parts/live/Thumbs.db") +
                              " 2>/dev/null",
                          &mixed_out),
              0);
    const Table mixed = parse(mixed_out);
    ASSERT_EQ(mixed.rows.size(), 5u);
    EXPECT_EQ(mixed.cell(4, "image"), "-");
    EXPECT_EQ(mixed.cell(4, "state"), "-");
}

TEST_F(DiskImage, ASheetOfAnImageIsTheSheetOfTheCachesPutIn)
{
    // The image's Explorer caches, the deleted one among them, are drawn as
    // the folder they came from (size-bucket order, the index's sizes with
    // --info); a volume of Thumbs.db files draws its live one and names the other.
    struct Case {
        const char* image;
        const char* same_as;
        const char* left_out;
    } const cases[] = {
        {"disk.raw", "parts/explorer", "2 Thumbs.db files of the image are not shown"},
        {"disk.qcow2", "parts/explorer", nullptr},
        {"fat.img", "parts/live/Thumbs.db", "not shown with "},
    };
    for (const Case& c : cases) {
        const std::string mine = dir->file(std::string(c.image) + ".png"), theirs = dir->file("expected.png");
        std::string err;
        EXPECT_EQ(run_command(cli_command() + " sheet --info " + at(c.image) + " " + mine + " 2>&1", &err), 0)
            << c.image << ": " << err;
        ASSERT_EQ(run_command(cli_command() + " sheet --info " + at(c.same_as) + " " + theirs), 0);
        EXPECT_EQ(read_file(mine), read_file(theirs)) << c.image;
        if (c.left_out) {
            EXPECT_NE(err.find(c.left_out), std::string::npos) << err;
        }
    }
}

TEST_F(DiskImage, ExtractKeepsLiveAndDeletedApartAndLeavesTheImageAlone)
{
    const std::vector<std::string> before = list_folder(dir->path());
    const std::vector<uint8_t> image = read_file(at("disk.E01"));
    TempDir out;
    const std::string cases = out.file("case");
    ASSERT_EQ(run_command(cli_command() + " extract --html --timeline jsonl " + at("disk.E01") + " " + cases +
                          " 2>/dev/null"),
              0);
    EXPECT_EQ(read_file(at("disk.E01")), image);
    EXPECT_EQ(list_folder(dir->path()), before);

    std::vector<std::string> header;
    const std::vector<std::vector<std::string>> rows = read_tsv(cases + "/report.csv", &header);
    ASSERT_FALSE(header.empty());
    const std::vector<std::string> files = list_folder(cases);
    EXPECT_NE(std::find(files.begin(), files.end(), "deleted_secret.jpg"), files.end());
    EXPECT_NE(std::find(files.begin(), files.end(), "beach.jpg"), files.end());
    EXPECT_NE(std::find(files.begin(), files.end(), "deleted_9d5bc1f0a3e4d2c7.bmp"), files.end());
    const std::string report = [&] {
        const std::vector<uint8_t> b = read_file(cases + "/report.csv");
        return std::string(b.begin(), b.end());
    }();
    EXPECT_NE(report.find("fs_path"), std::string::npos);
    EXPECT_NE(report.find("/Old/Thumbs.db"), std::string::npos);
    // The timeline and the page carry the same origin.
    for (const char* name : {"timeline.jsonl", "index.html"}) {
        const std::vector<uint8_t> b = read_file(cases + "/" + name);
        const std::string text(b.begin(), b.end());
        EXPECT_NE(text.find("/Old/Thumbs.db"), std::string::npos) << name;
        EXPECT_NE(text.find("deleted"), std::string::npos) << name;
    }
    // The manifest fingerprints the image itself, not the caches inside it.
    const std::vector<uint8_t> m = read_file(cases + "/manifest.json");
    const std::string manifest(m.begin(), m.end());
    EXPECT_NE(manifest.find(at("disk.E01")), std::string::npos);
    EXPECT_NE(manifest.find(std::to_string(image.size())), std::string::npos);
}

TEST_F(DiskImage, TheManifestFingerprintsEverySegment)
{
    TempDir out;
    ASSERT_EQ(run_command(cli_command() + " extract " + at("disk.001") + " " + out.file("case") + " 2>/dev/null"), 0);
    const std::vector<uint8_t> m = read_file(out.file("case/manifest.json"));
    const std::string manifest(m.begin(), m.end());
    for (const char* segment : {"disk.001", "disk.002", "disk.003"})
        EXPECT_NE(manifest.find(at(segment)), std::string::npos) << segment;
}

TEST_F(DiskImage, DamageIsReportedPerVolumeAndTheRestIsRead)
{
    TempDir work;
    // The NTFS volume's boot sector gone: the FAT volume is still read.
    std::vector<uint8_t> disk = read_file(at("disk.raw"));
    std::fill(disk.begin() + 17825792, disk.begin() + 17825792 + 512, uint8_t(0));
    write_file(work.file("damaged.raw"), disk);
    int code;
    Table t = list_catalog(work.file("damaged.raw"), &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(t.rows.size(), 3u);
    std::string errors;
    run_command(cli_command() + " list --catalog " + work.file("damaged.raw") + " 2>&1 >/dev/null", &errors);
    EXPECT_NE(errors.find("partition at 17825792"), std::string::npos) << errors;

    // An E01 cut short, and a QCOW header alone: reported, never a crash.
    std::vector<uint8_t> e01 = read_file(at("disk.E01"));
    e01.resize(e01.size() / 2);
    write_file(work.file("cut.E01"), e01);
    std::vector<uint8_t> qcow = read_file(at("disk.qcow2"));
    qcow.resize(512);
    write_file(work.file("cut.qcow2"), qcow);
    // libewf keeps the chunk buffers of reads it fails (a leak inside the
    // library, not ours): a sanitizer build is told not to count it.
    for (const char* name : {"cut.E01", "cut.qcow2"}) {
        std::string ignored;
        code = run_command("ASAN_OPTIONS=detect_leaks=0 " + cli_command() + " list --catalog " + work.file(name) +
                               " >/dev/null 2>&1",
                           &ignored);
        EXPECT_EQ(code, 1) << name;
    }
}

} // namespace
