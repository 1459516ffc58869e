// Shadow copies: tools/make-test-images builds, after libvshadow's own
// description of the format, an NTFS volume with one store that saved the
// MFT block of a cache file before the file was deleted. vshadowinfo must
// accept the store; our tool must list the live volume and the shadow copy
// apart, each as it is, and report damaged shadow-copy data while still
// reading the live volume.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/image/test_images.h"
#include "tests/support/test_support.h"

namespace {

const char STORE[] = "vss1 2026-01-02T03:04:05Z";

struct Rows {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
    std::string cell(size_t row, const char* column) const
    {
        const auto at = std::find(header.begin(), header.end(), column);
        return at == header.end() ? "<no column " + std::string(column) + ">" : rows[row][size_t(at - header.begin())];
    }
};

// "list --catalog" of path, its exit code in *code, its standard error in *err.
Rows list_catalog(const std::string& path, int* code, std::string* err = nullptr)
{
    std::string out;
    TempDir errors;
    *code = run_command(cli_command() + " list --catalog " + path + " 2>" + errors.file("stderr.txt"), &out);
    if (err) {
        const std::vector<uint8_t> e = read_file(errors.file("stderr.txt"));
        err->assign(e.begin(), e.end());
    }
    Rows t;
    std::vector<std::vector<std::string>> lines = tsv_lines(out);
    if (!lines.empty()) {
        t.header = lines[0];
        t.rows.assign(lines.begin() + 1, lines.end());
    }
    return t;
}

// Each record's name and stored bytes' SHA-256.
std::string record(const Rows& t, size_t r) { return t.cell(r, "name") + " " + t.cell(r, "sha256"); }

// (store, path, state) -> its records.
std::map<std::string, std::vector<std::string>> records_by_file(const Rows& t)
{
    std::map<std::string, std::vector<std::string>> n;
    for (size_t r = 0; r < t.rows.size(); ++r)
        n[t.cell(r, "store") + " " + t.cell(r, "fs_path") + " " + t.cell(r, "state")].push_back(record(t, r));
    return n;
}

class ShadowCopy : public TestImages {};

TEST_F(ShadowCopy, TheLiveVolumeAndItsShadowCopyAreListedApart)
{
    // First the independent reader accepts the store we built.
    std::string info;
    ASSERT_EQ(run_command("vshadowinfo " + at("vss.img") + " 2>&1", &info), 0) << info;
    EXPECT_NE(info.find("Number of stores:\t1"), std::string::npos) << info;
    EXPECT_NE(info.find("Creation time\t\t: Jan 02, 2026 03:04:05"), std::string::npos) << info;

    // The oracle: the cache files themselves.
    std::map<std::string, std::vector<std::string>> in_part;
    for (const char* name : {"thumbcache_32.db", "thumbcache_256.db", "thumbcache_idx.db"}) {
        int code;
        const Rows t = list_catalog(at(std::string("parts/explorer/") + name), &code);
        ASSERT_EQ(code, 0) << name;
        for (size_t r = 0; r < t.rows.size(); ++r)
            in_part[name].push_back(record(t, r));
    }
    const std::string live = "- ", shadow = std::string(STORE) + " ";
    // Deleted on the live volume; still in place when the copy was made.
    const std::map<std::string, std::vector<std::string>> expected = {
        {live + "/thumbcache_32.db deleted", in_part["thumbcache_32.db"]},
        {live + "/thumbcache_256.db allocated", in_part["thumbcache_256.db"]},
        {live + "/thumbcache_idx.db allocated", in_part["thumbcache_idx.db"]},
        {shadow + "/thumbcache_32.db allocated", in_part["thumbcache_32.db"]},
        {shadow + "/thumbcache_256.db allocated", in_part["thumbcache_256.db"]},
        {shadow + "/thumbcache_idx.db allocated", in_part["thumbcache_idx.db"]},
    };
    // The volume alone, and as a partition inside a container.
    for (const auto& [image, offset] : {std::pair<const char*, const char*>{"vss.img", "0"}, {"vss-disk.vhdx", "1048576"}}) {
        SCOPED_TRACE(image);
        int code;
        std::string err;
        const Rows t = list_catalog(at(image), &code, &err);
        // What is not known of the volume is said once, not again for its copy.
        const std::string unknown = "partition at " + std::string(offset) + ": NTFS, but its volume GUID is not known";
        EXPECT_NE(err.find(unknown), std::string::npos) << err;
        EXPECT_EQ(err.find(unknown), err.rfind(unknown)) << err;
        EXPECT_EQ(code, 0);
        EXPECT_EQ(records_by_file(t), expected);
        for (size_t r = 0; r < t.rows.size(); ++r) {
            EXPECT_EQ(t.cell(r, "partition_offset"), offset);
            EXPECT_EQ(t.cell(r, "fs_type"), "ntfs");
            if (t.cell(r, "store") != "-") {
                EXPECT_EQ(t.cell(r, "cache").find(std::string(at(image)) + "@" + offset + ":vss1:/"), 0u);
            }
        }
    }
}

TEST_F(ShadowCopy, CarvingReadsTheCopysUnallocatedSpaceAsItsOwn)
{
    // A block free in the volume then and now, zeros in it now, held a
    // record of thumbcache_32.db when the copy was made: carving finds it
    // in the copy alone, as the copy's.
    int code;
    const Rows own = list_catalog(at("parts/explorer/thumbcache_32.db"), &code);
    ASSERT_EQ(own.rows.size(), 1u);
    std::string out;
    ASSERT_EQ(run_command(cli_command() + " list --catalog --carve " + at("vss.img") + " 2>/dev/null", &out), 0);
    Rows t;
    std::vector<std::vector<std::string>> lines = tsv_lines(out);
    ASSERT_FALSE(lines.empty());
    t.header = lines[0];
    t.rows.assign(lines.begin() + 1, lines.end());
    std::vector<size_t> carved;
    for (size_t r = 0; r < t.rows.size(); ++r)
        if (t.cell(r, "state") == "carved")
            carved.push_back(r);
    ASSERT_EQ(carved.size(), 1u) << out;
    const size_t r = carved[0];
    EXPECT_EQ(t.cell(r, "store"), STORE);
    EXPECT_EQ(record(t, r), record(own, 0));
    EXPECT_EQ(t.cell(r, "data_checksum"), own.cell(0, "data_checksum"));
    const uint64_t at_volume = std::stoull(t.cell(r, "volume_offset")), block = 12u << 20;
    EXPECT_TRUE(at_volume >= block && at_volume < block + 0x4000) << at_volume;
    EXPECT_EQ(t.cell(r, "cache"), at("vss.img") + "@0:vss1:carved@" + t.cell(r, "volume_offset"));
}

TEST_F(ShadowCopy, ExtractKeepsShadowVersionsApartAndLeavesTheImageAlone)
{
    const std::vector<uint8_t> image = read_file(at("vss.img"));
    TempDir out;
    const std::string cases = out.file("case");
    ASSERT_EQ(run_command(cli_command() + " extract " + at("vss.img") + " " + cases + " 2>/dev/null"), 0);
    EXPECT_EQ(read_file(at("vss.img")), image);
    const std::vector<std::string> files = list_folder(cases);
    const auto has = [&](const std::string& name) { return std::find(files.begin(), files.end(), name) != files.end(); };
    // The copy holds every thumbnail the live volume does, the deleted ones
    // as they were before the deletion.
    size_t shadow = 0, deleted = 0;
    for (const std::string& f : files) {
        if (f.rfind("vss1_", 0) == 0) {
            ++shadow;
            EXPECT_TRUE(has(f.substr(5)) || has("deleted_" + f.substr(5))) << f;
        } else if (f.rfind("deleted_", 0) == 0) {
            ++deleted;
            EXPECT_TRUE(has("vss1_" + f.substr(8))) << f;
        }
    }
    EXPECT_GT(deleted, 0u);
    EXPECT_GT(shadow, deleted);
}

uint64_t le64_at(const std::vector<uint8_t>& b, uint64_t at)
{
    uint64_t v = 0;
    std::memcpy(&v, b.data() + at, 8);
    return v;
}

TEST_F(ShadowCopy, DamagedShadowCopyDataIsReportedAndTheLiveVolumeRead)
{
    const std::vector<uint8_t> good = read_file(at("vss.img"));
    const uint64_t catalog = le64_at(good, 0x1E00 + 48);
    ASSERT_LT(catalog + 0x4000, good.size());
    const uint64_t block_list = le64_at(good, catalog + 256 + 8);  // the store's second catalog entry names it
    ASSERT_LT(block_list + 0x4000, good.size());
    struct Damage {
        const char* what;
        uint64_t at;
        uint64_t value;
        const char* reason;
    };
    const Damage damages[] = {
        {"the catalog's identifier gone", catalog, 0, "damaged, not read (libvshadow"},
        {"the block list names itself as the next", block_list + 40, block_list, "leaves the volume or loops"},
        {"the catalog goes on beyond the volume", catalog + 40, good.size(), "leaves the volume or loops"},
    };
    TempDir work;
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        std::vector<uint8_t> volume = good;
        std::memcpy(volume.data() + d.at, &d.value, 8);
        write_file(work.file("damaged.img"), volume);
        int code;
        const Rows t = list_catalog(work.file("damaged.img"), &code);
        EXPECT_EQ(code, 1);
        for (const auto& [file, n] : records_by_file(t))
            EXPECT_EQ(file.rfind("- ", 0), 0u) << file;
        EXPECT_EQ(t.rows.size(), 7u);  // the live volume's
        std::string errors;
        run_command(cli_command() + " list --catalog " + work.file("damaged.img") + " 2>&1 >/dev/null", &errors);
        EXPECT_NE(errors.find("shadow copies of the volume at 0: "), std::string::npos) << errors;
        EXPECT_NE(errors.find(d.reason), std::string::npos) << errors;
    }

    // A volume without shadow copies (ntfs.img) has only the live rows.
    int code;
    const Rows plain = list_catalog(at("ntfs.img"), &code);
    EXPECT_EQ(code, 0);
    for (size_t r = 0; r < plain.rows.size(); ++r)
        EXPECT_EQ(plain.cell(r, "store"), "-");
}

} // namespace
