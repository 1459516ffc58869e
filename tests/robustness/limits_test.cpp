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

#include "store/thumbsdb/catalog.h"
#include "platform/failure.h"
#include "store/thumbsdb/compound_file.h"
#include "store/file_list.h"
#include "tests/support/bytes.h"
#include "tests/support/test_support.h"
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
