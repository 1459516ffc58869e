// Hostile caches end promptly with bounded memory. Each case runs in a child
// process, whose peak resident size the parent reads back.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/cli/cli.h"
#include "store/thumbsdb/catalog.h"
#include "platform/failure.h"
#include "store/thumbsdb/compound_file.h"
#include "store/explorer/thumbcache.h"
#include "store/explorer/thumbcache_index.h"
#include "store/file_list.h"
#include "tests/support/bytes.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbcache_writer.h"
#include "tools/fixture/thumbsdb_writer.h"

using fixture::Bytes;

namespace {

struct ChildResult {
    int exit_code;
    long peak_kib;
};

// Runs body in a child; its return value is the child's exit code.
ChildResult in_child(const std::function<int()>& body)
{
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status), usage.ru_maxrss};
}

// What a child takes before it does anything: the test program and the data
// the test has made so far, which the child shares.
long baseline_kib() { return in_child([] { return 0; }).peak_kib; }

Bytes jpeg_claiming(int width, int height)
{
    Bytes jpeg = fixture::encode_jpeg(fixture::make_test_image(8, 8, 1));
    for (size_t i = 2; i + 8 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            jpeg[i + 5] = uint8_t(height >> 8), jpeg[i + 6] = uint8_t(height);
            jpeg[i + 7] = uint8_t(width >> 8), jpeg[i + 8] = uint8_t(width);
            break;
        }
    return jpeg;
}

void set32(Bytes& b, size_t at, uint32_t v) { set_le32(b, at, v); }

constexpr long MiB = 1024;  // in KiB

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif

// Peak memory of a child beyond what it shares with the test; the sanitizer's
// shadow memory and quarantine make the figure meaningless there, so those
// builds check only that each case ends cleanly.
#define EXPECT_PEAK_BELOW(result, base, limit)                                       \
    do {                                                                             \
        if (!sanitized) {                                                            \
            EXPECT_LT((result).peak_kib - (base), (limit)) << "peak KiB over baseline"; \
        }                                                                            \
    } while (0)

} // namespace

TEST(Limits, TwoGigabyteSparseCacheIsRefusedAtOnce)
{
    TempDir dir;
    int fd = open(dir.file("Thumbs.db").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, int64_t(2) << 30), 0);
    // A compound-file signature, so only the size can stop it.
    ASSERT_EQ(pwrite(fd, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8, 0), 8);
    close(fd);
    ChildResult r = in_child([&] {
        int result = file_list_build(dir.path().c_str(), 2);
        return result == -1 && std::strcmp(failure_last().reason, STORE_TOO_LARGE) == 0 ? 0 : 1;
    });
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_PEAK_BELOW(r, baseline_kib(), 16 * MiB);
}

TEST(Limits, RecordCountsBeyondTheStreamAreBounded)
{
    TempDir dir;
    fixture::CacheSpec spec;
    for (int i = 0; i < 200; ++i) {
        fixture::CacheEntry e;
        e.name = "r" + std::to_string(i) + ".jpg";
        e.picture = fixture::encode_jpeg(fixture::make_test_image(16, 16, uint32_t(i % 7)));
        spec.entries.push_back(e);
    }
    for (uint32_t claimed : {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u}) {
        Bytes catalog = fixture::write_catalog(spec);
        set32(catalog, 4, claimed);
        std::vector<fixture::CompoundEntry> streams;
        for (size_t i = 0; i < spec.entries.size(); ++i)
            streams.push_back({fixture::reversed_stream_name(int32_t(i + 1)),
                               fixture::current_format_stream(spec.entries[i].picture)});
        streams.push_back({"Catalog", catalog});
        write_file(dir.file("Thumbs.db"), fixture::write_compound(streams));
        auto start = std::chrono::steady_clock::now();
        ChildResult r = in_child([&] {
            if (file_list_build(dir.path().c_str(), 2) != 0)
                return 1;
            // A negative count means no records; a huge one ends with the stream.
            int32_t expected = int32_t(claimed) < 0 ? 0 : 200;
            return file_list.count == expected ? 0 : 2;
        });
        EXPECT_EQ(r.exit_code, 0) << claimed;
        EXPECT_PEAK_BELOW(r, baseline_kib(), 32 * MiB);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    }
}

TEST(Limits, GiantPictureClaimsGetThePlaceholder)
{
    TempDir dir;
    fixture::CacheSpec spec;
    for (int i = 0; i < 50; ++i) {
        fixture::CacheEntry e;
        e.name = "huge" + std::to_string(i) + ".jpg";
        e.picture = jpeg_claiming(65535, 65535);
        spec.entries.push_back(e);
    }
    write_file(dir.file("Thumbs.db"), fixture::write_thumbs_db(spec));
    ChildResult r = in_child([&] {
        if (file_list_build(dir.path().c_str(), 2) != 0 || file_list.count != 50)
            return 1;
        for (int32_t i = 0; i < file_list.count; ++i)
            if (file_list_has_thumbnail(i))
                return 2;
        return 0;
    });
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_PEAK_BELOW(r, baseline_kib(), 16 * MiB);
}

// Pictures at the ceiling are decoded, but all of one list together stop at
// the total budget.
TEST(Limits, ManyLargePicturesStopAtTheTotalBudget)
{
    TempDir dir;
    fixture::CacheSpec spec;
    for (int i = 0; i < 40; ++i) {
        fixture::CacheEntry e;
        e.name = "big" + std::to_string(i) + ".jpg";
        e.picture = jpeg_claiming(4096, 4096);
        spec.entries.push_back(e);
    }
    write_file(dir.file("Thumbs.db"), fixture::write_thumbs_db(spec));
    ChildResult r = in_child([&] {
        if (file_list_build(dir.path().c_str(), 2) != 0)
            return 1;
        int decoded = 0;
        for (int32_t i = 0; i < file_list.count; ++i)
            decoded += file_list_has_thumbnail(i);
        return decoded == int(FILE_LIST_MAX_TOTAL_PIXELS / (4096 * 4096)) ? 0 : 2;
    });
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_PEAK_BELOW(r, baseline_kib(), FILE_LIST_MAX_TOTAL_PIXELS * 4 / 1024 + 64 * MiB);
}

TEST(Limits, ChainCyclesAndDifatLoopsEndWithBoundedMemory)
{
    fixture::CompoundOptions options;
    options.padding_sectors = 15000;
    Bytes big(200000, 0x33);
    Bytes file = fixture::write_compound({{"Catalog", Bytes(100, 1)}, {"big", big}}, options);
    auto le32 = [&](size_t at) { return le32_at(file, at); };
    // The DIFAT sector names itself as its successor, and every FAT sector
    // it lists is the first FAT sector.
    uint32_t difat = le32(68);
    set32(file, 512 * (size_t(difat) + 1) + 508, difat);
    for (int k = 0; k < 127; ++k)
        set32(file, 512 * (size_t(difat) + 1) + 4 * size_t(k), le32(76));
    set32(file, 44, 0xFFFFFFFF);
    // Every FAT entry of the first FAT sector points to sector 0: cycles everywhere.
    for (int k = 1; k < 128; ++k)
        set32(file, 512 * (size_t(le32(76)) + 1) + 4 * size_t(k), 0);
    auto start = std::chrono::steady_clock::now();
    ChildResult r = in_child([&] {
        int result = store_load_memory(file.data(), file.size());
        return result == 0 || result == -1 ? 0 : 1;
    });
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_PEAK_BELOW(r, baseline_kib(), 64 * MiB);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST(Limits, TwentyThousandThumbnailsLoadCompletely)
{
    TempDir dir;
    fixture::CacheSpec spec;
    Bytes pictures[5];
    for (int k = 0; k < 5; ++k)
        pictures[k] = fixture::encode_jpeg(fixture::make_test_image(32, 24, uint32_t(k)));
    for (int i = 0; i < 20000; ++i) {
        fixture::CacheEntry e;
        e.name = "photo_" + std::to_string(i) + ".jpg";
        e.time = 128980119090000000ull + uint64_t(i);
        e.picture = pictures[i % 5];
        spec.entries.push_back(e);
    }
    Bytes file = fixture::write_thumbs_db(spec);
    write_file(dir.file("Thumbs.db"), file);
    ChildResult r = in_child([&] {
        if (file_list_build(dir.path().c_str(), 2) != 0 || file_list.count != 20000)
            return 1;
        for (int32_t i = 0; i < file_list.count; ++i)
            if (!file_list_has_thumbnail(i) || file_list.pictures[i].width != 32 ||
                file_list.times[i] != 128980119090000000ull + uint64_t(i))
                return 2;
        return 0;
    });
    EXPECT_EQ(r.exit_code, 0);
    // The file image and its pool, the pixels, the names: far below the ceilings.
    long expected = long(file.size() * 2 / 1024) + 20000L * 32 * 24 * 4 / 1024 + 16 * MiB;
    long base = baseline_kib();
    EXPECT_PEAK_BELOW(r, base, expected);
    EXPECT_PEAK_BELOW(r, base, STORE_MAX_FILE_BYTES / 1024);
}

namespace {

// A sparse file of size bytes holding the given pieces at their offsets;
// false where the file system cannot make one.
bool write_sparse(const std::string& path, uint64_t size, const std::vector<std::pair<uint64_t, Bytes>>& pieces)
{
    int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0)
        return false;
    bool ok = ftruncate(fd, off_t(size)) == 0;
    for (const auto& [at, bytes] : pieces)
        ok = ok && pwrite(fd, bytes.data(), bytes.size(), off_t(at)) == ssize_t(bytes.size());
    return close(fd) == 0 && ok;
}

} // namespace

// Explorer caches have no ceiling below what their 32-bit offsets reach: a
// 3 GiB cache whose second record starts past 3 GiB is read (record headers
// only, nothing copied), its index finds that record, and memory stays small.
TEST(Limits, ExplorerCacheOfThreeGigabytesReadsItsLastRecord)
{
    const uint32_t filler_size = 0xC0000000u;  // the first record spans 3 GiB of zeros
    const uint64_t last_at = 24 + uint64_t(filler_size);
    const Bytes png = fixture::encode_png_rgba(fixture::make_test_image(40, 30, 3));
    // The last record, written as the only record of a file of its own.
    fixture::ThumbcacheSpec tail;
    tail.cache_type = 8;  // 2560
    tail.free_record = false;
    tail.records.resize(1);
    tail.records[0].hash = 0x1234567890abcdefull;
    tail.records[0].data = png;
    tail.records[0].width = 40, tail.records[0].height = 30;
    const Bytes tail_file = fixture::write_thumbcache(tail);
    const Bytes last(tail_file.begin() + 24, tail_file.begin() + 24 + long(le32_at(tail_file, 24 + 4)));
    // The header and the filler record's fixed part and identifier; its
    // data (all zeros, data checksum 0) is the hole of the sparse file.
    fixture::ThumbcacheSpec head;
    head.cache_type = 8;
    head.free_record = false;
    head.first_available = int64_t(last_at + last.size());
    head.records.resize(1);
    head.records[0].hash = 0x77;
    head.records[0].entry_size = filler_size;
    head.records[0].data_size = filler_size - 56 - 4;  // identifier "77" in UTF-16
    const Bytes head_file = fixture::write_thumbcache(head);
    const Bytes first(head_file.begin(), head_file.begin() + 24 + 56 + 4);

    TempDir dir;
    const std::string cache = dir.file("thumbcache_2560.db");
    if (!write_sparse(cache, last_at + last.size(), {{0, first}, {last_at, last}}))
        GTEST_SKIP() << "no sparse file of 3 GiB here";
    fixture::ThumbcacheIndexSpec index;
    fixture::ThumbcacheIndexItem item;
    item.hash = tail.records[0].hash;
    item.offsets.assign(14, 0xFFFFFFFFu);
    item.offsets[8] = uint32_t(last_at);
    index.items.push_back(item);
    write_file(dir.file("thumbcache_idx.db"), fixture::write_thumbcache_index(index));

    ChildResult r = in_child([&] {
        ThumbcacheFile file;
        if (thumbcache_load(cache.c_str(), &file) != 0)
            return 1;
        int result = 0;
        if (file.count != 2 || file.chain_break_offset != -1 || file.entries[1].offset != last_at)
            result = 2;
        else if (file.entries[0].payload.length != 0 ||  // beyond the payload ceiling: listed, no view
                 Bytes(file.entries[1].payload.data, file.entries[1].payload.data + file.entries[1].payload.length) != png ||
                 thumbcache_entry_data_check(file, 1) != THUMBCACHE_CHECK_OK)
            result = 3;
        ThumbcacheIndex x;
        ThumbcacheLinks links{};
        const ThumbcacheFile* files[] = {&file};
        if (result == 0 && (thumbcache_index_load(dir.file("thumbcache_idx.db").c_str(), &x) != 0 ||
                            thumbcache_link(&x, files, 1, &links) != 0 || links.dangling_count != 0 ||
                            !links.entries[1].at_indexed_offset))
            result = 4;
        thumbcache_links_free(&links);
        thumbcache_index_free(&x);
        thumbcache_free(&file);
        // The viewer's list of the folder: both records, the last one decoded.
        if (result == 0 && (file_list_build(dir.path().c_str(), 2) != 0 || file_list.count != 2 ||
                            !file_list_has_thumbnail(1) || file_list.pictures[1].width != 40))
            result = 5;
        return result;
    });
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_PEAK_BELOW(r, baseline_kib(), 16 * MiB);

    // One byte more than 4 GiB is more than the offsets reach: refused at once.
    const Bytes header(head_file.begin(), head_file.begin() + 24);
    ASSERT_TRUE(write_sparse(cache, THUMBCACHE_MAX_FILE_BYTES + 1, {{0, header}}));
    ThumbcacheFile file;
    EXPECT_EQ(thumbcache_load(cache.c_str(), &file), -1);
    EXPECT_STREQ(failure_last().reason, THUMBCACHE_TOO_LARGE);
    thumbcache_free(&file);
}

// Extraction reads a mapped Explorer cache a record at a time, and gives
// each record's pages back once written, digested and compared: its peak
// stays far below the cache's size.
TEST(Limits, ExtractOfAnExplorerCacheKeepsLittleOfItResident)
{
    TempDir dir;
    {
        fixture::ThumbcacheSpec spec;
        uint32_t x = 12345;
        for (int i = 0; i < 64; ++i) {
            fixture::ThumbcacheRecord r;
            r.hash = 0x5a17c0de00000000u + uint64_t(i);
            r.data.resize(size_t(1) << 20);
            for (uint8_t& b : r.data)
                b = uint8_t((x = x * 1103515245u + 12345u) >> 24);
            spec.records.push_back(std::move(r));
        }
        write_file(dir.file("thumbcache_2560.db"), fixture::write_thumbcache(spec));
    }
    const std::string cache = dir.file("thumbcache_2560.db"), out = dir.file("case");
    const long base = baseline_kib();
    for (const char* jobs : {"1", "3"}) {
        ChildResult r = in_child([&] {
            std::string args[] = {"-j", jobs, cache, out + jobs};
            char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), nullptr};
            return cli_extract(4, argv);
        });
        EXPECT_EQ(r.exit_code, 0) << jobs;
        EXPECT_PEAK_BELOW(r, base, 24 * MiB);  // the cache is 64 MiB
    }
}
