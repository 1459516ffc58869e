// Carving: the scanner on bytes alone (records found whatever the runs they
// are fed in, forged and cut records never), then end to end on an image
// whose deleted cache file was overwritten at its start.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "image/carve_scan.h"
#include "tests/image/test_images.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbcache_writer.h"

namespace {

// One record as a cache file of the version writes it: its bytes alone.
std::vector<uint8_t> record_bytes(uint32_t version, size_t data_bytes, bool bad_checksum = false)
{
    fixture::ThumbcacheSpec spec;
    spec.version = version;
    fixture::ThumbcacheRecord r;
    r.hash = 0x1122334455667788ull + data_bytes;
    r.data.assign(data_bytes, uint8_t(0x5A));
    r.bad_header_checksum = bad_checksum;
    spec.records.push_back(r);
    spec.file_size = 1;
    std::vector<uint32_t> at;
    const fixture::Bytes file = fixture::write_thumbcache(spec, &at);
    const uint32_t size = read_le32(file.data() + at[0] + 4);
    return std::vector<uint8_t>(file.begin() + at[0], file.begin() + at[0] + size);
}

// Bytes that hold no record: random, with record magics sprinkled in.
std::vector<uint8_t> garbage(size_t n, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> g(n);
    for (uint8_t& b : g)
        b = uint8_t(random());
    for (size_t at = 7; at + 64 < n; at += 509)
        std::copy_n("CMMM", 4, g.begin() + long(at));
    return g;
}

struct Placed {
    size_t offset;
    uint32_t version;
    bool real;  // its header checksum matches and it fits
};

// The space fed in runs that end at the given cuts, whole otherwise.
std::vector<CarveHit> carve(const std::vector<uint8_t>& space, const std::vector<size_t>& cuts, uint64_t space_size)
{
    CarveScanner s;
    carve_scan_begin(&s, space_size);
    std::vector<CarveHit> hits;
    size_t from = 0;
    for (size_t cut : cuts) {
        carve_scan_feed(&s, from, ByteView{space.data() + from, cut - from}, true, &hits);
        from = cut;
    }
    carve_scan_feed(&s, from, ByteView{space.data() + from, space.size() - from}, true, &hits);
    carve_scan_end(&s, &hits);
    return hits;
}

std::set<std::pair<uint64_t, uint32_t>> found_records(const std::vector<CarveHit>& hits)
{
    std::set<std::pair<uint64_t, uint32_t>> out;
    for (const CarveHit& h : hits)
        if (h.kind == CARVE_RECORD)
            out.insert({h.offset, h.version});
    return out;
}

TEST(CarveScan, RecordsAreFoundWhateverTheRunsAndForgedOnesNever)
{
    std::vector<uint8_t> space = garbage(300000, 1);
    std::vector<Placed> placed;
    auto place = [&](size_t at, const std::vector<uint8_t>& r, uint32_t version, bool real) {
        std::copy(r.begin(), r.end(), space.begin() + long(at));
        placed.push_back({at, version, real});
    };
    place(1000, record_bytes(32, 3000), 32, true);
    place(9001, record_bytes(21, 100), 21, true);
    place(20003, record_bytes(20, 700), 20, true);
    place(40000, record_bytes(32, 2000, true), 32, false);  // header checksum wrong
    place(60000, record_bytes(32, 0), 32, true);            // a record without data is still one
    // The free-space record describes nothing.
    fixture::ThumbcacheSpec empty;
    const fixture::Bytes free_file = fixture::write_thumbcache(empty);
    std::copy(free_file.begin() + 24, free_file.begin() + 24 + 56, space.begin() + 80000);
    // Cut at the end of the space: the header is whole but the record does not fit.
    const std::vector<uint8_t> tail = record_bytes(32, 5000);
    const size_t tail_at = space.size() - 4000;
    place(tail_at, std::vector<uint8_t>(tail.begin(), tail.begin() + 4000), 32, false);

    std::set<std::pair<uint64_t, uint32_t>> expected;
    for (const Placed& p : placed)
        if (p.real)
            expected.insert({p.offset, p.version});

    struct Case {
        const char* what;
        std::vector<size_t> cuts;
    };
    std::vector<Case> cases = {
        {"one run", {}},
        {"4 KiB runs", {}},
        {"a record cut at the end of a run", {1000 + 3056 - 10, 9001 + 60}},
        {"runs shorter than a header", {}},
    };
    for (size_t at = 4096; at < space.size(); at += 4096)
        cases[1].cuts.push_back(at);
    for (size_t at = 990; at < 1100; at += 7)
        cases[3].cuts.push_back(at);
    // Every split of each real header.
    for (const Placed& p : placed)
        for (size_t k = 1; k < CARVE_HEADER_BYTES; ++k)
            cases.push_back({"header across a run boundary", {p.offset + k}});
    for (const Case& c : cases)
        EXPECT_EQ(found_records(carve(space, c.cuts, space.size())), expected) << c.what;

    // Garbage alone gives nothing; a space said to end sooner drops the
    // records that would run past it.
    EXPECT_TRUE(carve(garbage(200000, 2), {}, 200000).empty());
    expected.erase({60000, 32});
    expected.erase({20003, 20});
    EXPECT_EQ(found_records(carve(std::vector<uint8_t>(space.begin(), space.begin() + 20300), {}, 20300)), expected);
}

TEST(CarveScan, RunsThatDoNotContinueEachOtherShareNoHeader)
{
    const std::vector<uint8_t> r = record_bytes(32, 500);
    std::vector<uint8_t> space(8192, 0);
    std::copy(r.begin(), r.end(), space.begin() + 4000);
    CarveScanner s;
    carve_scan_begin(&s, 1 << 20);
    std::vector<CarveHit> hits;
    // The header's first half at the end of one run, its second half fed as
    // if it lay elsewhere in the volume.
    carve_scan_feed(&s, 0, ByteView{space.data(), 4020}, true, &hits);
    carve_scan_feed(&s, 9000, ByteView{space.data() + 4020, 4172}, true, &hits);
    carve_scan_end(&s, &hits);
    EXPECT_TRUE(hits.empty());
    // The bytes after a run complete its last header without being scanned.
    carve_scan_begin(&s, 1 << 20);
    carve_scan_feed(&s, 0, ByteView{space.data(), 4020}, true, &hits);
    carve_scan_feed(&s, 4020, ByteView{space.data() + 4020, 56}, false, &hits);
    carve_scan_end(&s, &hits);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].offset, 4000u);
    EXPECT_EQ(hits[0].size, r.size());
}

TEST(CarveScan, CompoundFilesAreFoundOnSectorsOnly)
{
    std::vector<uint8_t> space(4096, 0);
    const uint8_t head[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    for (size_t at : {size_t(1024), size_t(2100)}) {
        std::copy(head, head + 8, space.begin() + long(at));
        space[at + 0x1C] = 0xFE, space[at + 0x1D] = 0xFF, space[at + 0x1E] = 9;
    }
    const std::vector<CarveHit> hits = carve(space, {1030}, space.size());
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].kind, CARVE_COMPOUND);
    EXPECT_EQ(hits[0].offset, 1024u);
}

// End to end, through tools/make-test-images.
class Carving : public TestImages {};

// Rows of `list --catalog` as column -> cell maps.
std::vector<std::map<std::string, std::string>> catalog(const std::string& arguments)
{
    std::string out;
    run_command(cli_command() + " list --catalog " + arguments + " 2>/dev/null", &out);
    const std::vector<std::vector<std::string>> lines = tsv_lines(out);
    std::vector<std::map<std::string, std::string>> rows;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::map<std::string, std::string> row;
        for (size_t c = 0; c < lines[0].size() && c < lines[i].size(); ++c)
            row[lines[0][c]] = lines[i][c];
        rows.push_back(row);
    }
    return rows;
}

std::string record_key(std::map<std::string, std::string> row)
{
    return row["name"] + "|" + row["sha256"] + "|" + row["hash"] + "|" + row["data_size"] + "|" + row["data_checksum"];
}

TEST_F(Carving, AnOverwrittenCachesRemainingRecordsComeBackByteIdentical)
{
    // Bytes the new file overwrote at the cache's start (make-test-images).
    constexpr uint64_t OVERWRITTEN = 4096;
    std::multiset<std::string> expected;
    for (auto& row : catalog(dir->file("parts/explorer/thumbcache_256.db")))
        if (std::stoull(row["offset"]) >= OVERWRITTEN)
            expected.insert(record_key(row));
    ASSERT_EQ(expected.size(), 2u);

    // The icon of thumbcache_32.db had bytes of its picture zeroed: found by
    // its header, its data checksum says the payload is no longer its own.
    std::string icon_checksum;
    for (auto& row : catalog(dir->file("parts/explorer/thumbcache_32.db")))
        icon_checksum = row["data_checksum"].substr(row["data_checksum"].find(' '));
    ASSERT_FALSE(icon_checksum.empty());

    const std::vector<uint8_t> before = read_file(dir->file("carve.raw"));
    std::multiset<std::string> carved, damaged;
    for (auto& row : catalog("--carve " + dir->file("carve.raw"))) {
        if (row["state"] != "carved")
            continue;
        (row["data_checksum"].rfind("bad", 0) == 0 ? damaged : carved).insert(record_key(row));
        EXPECT_EQ(row["header_checksum"], "ok");
        EXPECT_EQ(row["partition_offset"], "1048576");
        EXPECT_EQ(std::stoull(row["image_offset"]), 1048576 + std::stoull(row["volume_offset"]));
        EXPECT_EQ(row["offset"], row["volume_offset"]);
        if (row["data_checksum"].rfind("bad", 0) == 0) {
            EXPECT_EQ(row["data_checksum"], "bad" + icon_checksum);
        }
    }
    EXPECT_EQ(carved, expected);
    EXPECT_EQ(damaged.size(), 1u);
    // Without --carve nothing is carved.
    for (auto& row : catalog(dir->file("carve.raw")))
        EXPECT_NE(row["state"], "carved");

    // extract writes the picture as stored, and the image stays as it was.
    TempDir out;
    run_command(cli_command() + " extract --carve " + dir->file("carve.raw") + " " + out.file("case") + " 2>/dev/null");
    const std::vector<std::string> files = list_folder(out.file("case"));
    const auto png = std::find_if(files.begin(), files.end(), [](const std::string& f) {
        return f.rfind("carved_", 0) == 0 && f.size() > 4 && f.compare(f.size() - 4, 4, ".png") == 0;
    });
    ASSERT_NE(png, files.end());
    // Byte for byte the picture the fixture put in the cache.
    const std::vector<uint8_t> written = read_file(out.file("case/" + *png));
    const std::vector<uint8_t> part = read_file(dir->file("parts/explorer/thumbcache_256.db"));
    ASSERT_GT(written.size(), 1000u);
    EXPECT_NE(std::search(part.begin(), part.end(), written.begin(), written.end()), part.end());
    EXPECT_TRUE(read_file(dir->file("carve.raw")) == before);
}

TEST_F(Carving, ADeletedThumbsDbIsCarvedAsAContiguousFile)
{
    std::multiset<std::string> expected, carved;
    for (auto& row : catalog(dir->file("parts/deleted/Thumbs.db")))
        expected.insert(row["name"] + "|" + row["sha256"] + "|" + row["filetime"]);
    for (auto& row : catalog("--carve " + dir->file("fat.img")))
        if (row["state"] == "carved")
            carved.insert(row["name"] + "|" + row["sha256"] + "|" + row["filetime"]);
    EXPECT_EQ(carved, expected);
}

} // namespace
