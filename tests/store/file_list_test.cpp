// The file list: folder files, catalog names, duplicates, the placeholder.
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "store/thumbsdb/catalog.h"
#include "store/thumbsdb/compound_file.h"
#include "platform/dir_find.h"
#include "store/file_list.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbsdb_writer.h"

using fixture::CacheEntry;
using fixture::CacheSpec;

namespace {

CacheEntry jpeg_entry(const std::string& name, uint32_t seed)
{
    CacheEntry e;
    e.name = name;
    e.time = 128000000000000000ull + seed;
    e.picture = fixture::encode_jpeg(fixture::make_test_image(8 + int(seed), 8, seed));
    return e;
}

std::vector<std::string> names()
{
    std::vector<std::string> out;
    for (int32_t i = 0; i < file_list.count; ++i)
        out.emplace_back(file_list_name(i));
    return out;
}

void write_cache(const TempDir& dir, const std::vector<std::string>& catalog_names, const char* file = "Thumbs.db")
{
    CacheSpec spec;
    for (size_t i = 0; i < catalog_names.size(); ++i)
        spec.entries.push_back(jpeg_entry(catalog_names[i], uint32_t(i + 1)));
    write_file(dir.file(file), fixture::write_thumbs_db(spec));
}

struct ListGuard {
    ~ListGuard() { file_list_release(); }
};

} // namespace

TEST(FileList, CatalogNamesAreListedOnceWhateverTheirCase)
{
    ListGuard guard;
    TempDir dir;
    write_cache(dir, {"a.jpg", "B.JPG", "A.JPG"});
    ASSERT_EQ(file_list_build(dir.path().c_str(), 2), 0);
    EXPECT_EQ(names(), (std::vector<std::string>{"a.jpg", "B.JPG"}));
    EXPECT_EQ(file_list.pictures[0].width, 9);
    EXPECT_EQ(file_list.times[1], 128000000000000002ull);
}

TEST(FileList, FolderFilesComeFirstAndShareTheirCatalogThumbnail)
{
    ListGuard guard;
    TempDir dir;
    write_cache(dir, {"A.JPG", "c.jpg"});
    write_file(dir.file("x.png"), {1, 2, 3});
    write_file(dir.file("a.jpg"), {1, 2, 3});
    write_file(dir.file(".hidden"), {1});
    mkdir(dir.file("pics").c_str(), 0755);
    ASSERT_EQ(file_list_build(dir.path().c_str(), 3), 0);
    // Listed case-insensitively alphabetical, as Windows lists a folder.
    EXPECT_EQ(names(), (std::vector<std::string>{"a.jpg", "Thumbs.db", "x.png", "c.jpg"}));
    EXPECT_TRUE(file_list_has_thumbnail(0)) << "a.jpg takes the record A.JPG's thumbnail";
    EXPECT_EQ(file_list.pictures[0].width, 9);
    EXPECT_FALSE(file_list_has_thumbnail(1));
    EXPECT_FALSE(file_list_has_thumbnail(2));
    EXPECT_EQ(file_list.pictures[2].pixels, file_list.placeholder.pixels);
    EXPECT_EQ(file_list.pictures[2].width, 32);
    EXPECT_EQ(file_list.pictures[2].pitch, 128);
    EXPECT_TRUE(file_list_has_thumbnail(3));
}

TEST(FileList, FlagsZeroListsNothingButStillNeedsTheCache)
{
    ListGuard guard;
    TempDir dir;
    EXPECT_EQ(file_list_build(dir.path().c_str(), 0), -1);
    write_cache(dir, {"a.jpg"});
    EXPECT_EQ(file_list_build(dir.path().c_str(), 0), 0);
    EXPECT_EQ(file_list.count, 0);
    EXPECT_EQ(file_list_build(dir.path().c_str(), 4), 0) << "other bits are ignored";
    EXPECT_EQ(file_list.count, 0);
}

TEST(FileList, CacheNameIsFoundInAnyCaseAndAFolderWithoutOneFails)
{
    ListGuard guard;
    TempDir dir;
    write_cache(dir, {"one.jpg"}, "thumbs.DB");
    ASSERT_EQ(file_list_build(dir.path().c_str(), 2), 0);
    EXPECT_EQ(names(), (std::vector<std::string>{"one.jpg"}));
    TempDir empty;
    EXPECT_EQ(file_list_build(empty.path().c_str(), 2), -1);
    EXPECT_EQ(file_list.count, 0);
}

TEST(FileList, AnyCacheFileCanBeReadByName)
{
    ListGuard guard;
    TempDir dir;
    write_cache(dir, {"one.jpg", "two.jpg"}, "copy-of-cache.db");
    ASSERT_EQ(file_list_build_from(dir.path().c_str(), "copy-of-cache.db", 2), 0);
    EXPECT_EQ(names(), (std::vector<std::string>{"one.jpg", "two.jpg"}));
}

TEST(FileList, PlaceholderIsARedXOnBlack)
{
    ListGuard guard;
    TempDir dir;
    write_cache(dir, {"a.jpg"});
    write_file(dir.file("z.txt"), {1});
    ASSERT_EQ(file_list_build(dir.path().c_str(), 1), 0);
    const Picture& p = file_list.placeholder;
    ASSERT_NE(p.pixels, nullptr);
    auto at = [&](int x, int y) { return p.pixels[y * 32 + x]; };
    for (auto [x, y] : {std::pair{0, 0}, {3, 0}, {15, 16}, {0, 31}, {2, 29}, {31, 31}})
        EXPECT_EQ(at(x, y), 0x00FF0000u) << x << "," << y;
    for (auto [x, y] : {std::pair{4, 0}, {10, 0}, {16, 2}})
        EXPECT_EQ(at(x, y), 0u) << x << "," << y;
}

TEST(FileList, ASecondBuildReplacesTheFirstAndKeepsThePlaceholder)
{
    ListGuard guard;
    TempDir one, two;
    write_cache(one, {"a.jpg", "b.jpg", "c.jpg"});
    write_cache(two, {"d.jpg"});
    write_file(two.file("e.txt"), {1});
    ASSERT_EQ(file_list_build(one.path().c_str(), 3), 0);
    uint32_t* placeholder = file_list.placeholder.pixels;
    ASSERT_EQ(file_list_build(two.path().c_str(), 3), 0);
    EXPECT_EQ(names(), (std::vector<std::string>{"e.txt", "Thumbs.db", "d.jpg"}));
    EXPECT_EQ(file_list.placeholder.pixels, placeholder);
    EXPECT_EQ(file_list_build(one.path().c_str(), 2), 0);
    EXPECT_EQ(file_list.count, 3);
}

TEST(FileList, ArraysGrowByDoublingFromTheirFloors)
{
    ListGuard guard;
    TempDir dir;
    std::vector<std::string> many;
    for (int i = 0; i < 1025; ++i)
        many.push_back("n" + std::to_string(i));
    CacheSpec spec;
    for (size_t i = 0; i < many.size(); ++i) {
        CacheEntry e;
        e.name = many[i];
        e.has_stream = i < 3;
        e.picture = fixture::encode_jpeg(fixture::make_test_image(4, 4, 1));
        spec.entries.push_back(e);
    }
    write_file(dir.file("Thumbs.db"), fixture::write_thumbs_db(spec));
    ASSERT_EQ(file_list_build(dir.path().c_str(), 2), 0);
    EXPECT_EQ(file_list.count, 1025);
    EXPECT_EQ(file_list.offsets_capacity, 2048);
    EXPECT_EQ(file_list.pool_capacity, 65536);
    EXPECT_EQ(names(), many);
    EXPECT_TRUE(file_list_has_thumbnail(2));
    EXPECT_FALSE(file_list_has_thumbnail(3)) << "records without a stream show the placeholder";
}

TEST(DirList, ListsWithPrefixMarksDirectoriesSkipsHiddenAndDot)
{
    TempDir dir;
    write_file(dir.file("b.jpg"), {1});
    write_file(dir.file("A.png"), {1});
    write_file(dir.file(".secret"), {1});
    mkdir(dir.file("pics").c_str(), 0755);
    char buffer[260];
    // The pattern's own prefix comes back with each name; the folder does not.
    const std::string p = dir.path() + "/";
    for (const std::string& prefix : {p, std::string()}) {
        if (prefix.empty())
            dir_find_start(dir.path().c_str(), "*");
        else
            dir_find_start(nullptr, (prefix + "*").c_str());
        std::vector<std::string> got;
        while (dir_find_next(buffer))
            got.emplace_back(buffer);
        EXPECT_EQ(got, (std::vector<std::string>{prefix + "..\\", prefix + "A.png", prefix + "b.jpg", prefix + "pics\\"}));
        EXPECT_EQ(dir_find_next(buffer), 0) << "a call after the end returns 0";
        EXPECT_STREQ(buffer, "");
    }
    dir_find_start(dir.path().c_str(), "");
    EXPECT_EQ(dir_find_next(buffer), 0);
    dir_find_start(dir.path().c_str(), "missing/*");
    EXPECT_EQ(dir_find_next(buffer), 0);
}
