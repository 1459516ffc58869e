// Sources: a file mapped and read at positions, memory, regions of each give
// the same bytes, also after their pages are given back, and no read reaches
// past a source's end.
#include <cstdio>
#include <vector>

#include "platform/source.h"
#include "platform/system.h"
#include "tests/support/test_support.h"

namespace {

std::vector<uint8_t> pattern(size_t n)
{
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = uint8_t(i * 7 + (i >> 8));
    return bytes;
}

// Every source of the bytes answers like the bytes themselves: whole and
// partial reads inside, refusals at and past the end.
void expect_reads_like(const Source& source, const std::vector<uint8_t>& bytes)
{
    ASSERT_EQ(source.size, bytes.size());
    const size_t n = bytes.size();
    std::vector<uint8_t> got(n);
    ASSERT_EQ(source_read(source, 0, got.data(), n), 0);
    EXPECT_EQ(got, bytes);
    uint8_t four[4];
    ASSERT_EQ(source_read(source, n - 4, four, 4), 0);
    EXPECT_EQ(std::vector<uint8_t>(four, four + 4), std::vector<uint8_t>(bytes.end() - 4, bytes.end()));
    EXPECT_EQ(source_read(source, n - 3, four, 4), -1);
    EXPECT_EQ(source_read(source, n + 1, four, 0), -1);
    EXPECT_EQ(source_read(source, UINT64_MAX - 1, four, 4), -1);
    EXPECT_EQ(source_read(source, n, four, 0), 0);
    std::vector<uint8_t> scratch;
    const uint8_t* view = source_bytes(source, 100, 50, &scratch);
    ASSERT_TRUE(view);
    EXPECT_EQ(std::vector<uint8_t>(view, view + 50), std::vector<uint8_t>(bytes.begin() + 100, bytes.begin() + 150));
    EXPECT_FALSE(source_bytes(source, n - 10, 11, &scratch));
    // Pages given back come back unchanged; bytes in memory are the
    // caller's and are never dropped. Ranges past the end are cut.
    source_release(source, 4097, 9000);
    source_release(source, 0, UINT64_MAX);
    source_release(source, n, 10);
    ASSERT_EQ(source_read(source, 0, got.data(), n), 0);
    EXPECT_EQ(got, bytes);
}

} // namespace

TEST(Source, FileMappedOrReadMemoryAndRegionsGiveTheSameBytes)
{
    TempDir dir;
    const std::vector<uint8_t> bytes = pattern(70000);
    write_file(dir.file("evidence.bin"), bytes);

    for (SourceAccess access : {SOURCE_MAPPED_IF_POSSIBLE, SOURCE_POSITIONED_READS}) {
        Source file;
        ASSERT_EQ(source_open_file(dir.file("evidence.bin").c_str(), &file, access), 0);
        EXPECT_EQ(file.mapped == nullptr, access == SOURCE_POSITIONED_READS);
        expect_reads_like(file, bytes);

        // A region of a region: offsets add up, the end is the region's own.
        Source outer, inner;
        ASSERT_EQ(source_region(&file, 1000, 60000, &outer), 0);
        ASSERT_EQ(source_region(&outer, 500, 20000, &inner), 0);
        expect_reads_like(inner, std::vector<uint8_t>(bytes.begin() + 1500, bytes.begin() + 21500));
        EXPECT_EQ(source_region(&file, 69000, 1001, &outer), -1);
        EXPECT_EQ(source_region(&file, UINT64_MAX, 2, &outer), -1);
        source_close(&inner);
        source_close(&file);
        source_close(&file);  // twice is harmless
    }

    const std::vector<uint8_t> held = bytes;  // apart from the bytes it is checked against
    Source memory;
    source_from_memory(held.data(), held.size(), &memory);
    expect_reads_like(memory, bytes);
}

TEST(Source, EmptyFilesFoldersAndAbsentFiles)
{
    TempDir dir;
    write_file(dir.file("empty"), std::vector<uint8_t>{});
    Source s;
    ASSERT_EQ(source_open_file(dir.file("empty").c_str(), &s), 0);
    EXPECT_EQ(s.size, 0u);
    uint8_t b;
    EXPECT_EQ(source_read(s, 0, &b, 1), -1);
    source_close(&s);
    EXPECT_EQ(source_open_file(dir.path().c_str(), &s), -1);
    EXPECT_EQ(source_open_file(dir.file("absent").c_str(), &s), -1);
    EXPECT_EQ(source_open_file("", &s), -1);
}
