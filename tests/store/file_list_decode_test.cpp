// How much of a list is decoded: on view (a bounded number, what is shown
// first), sizes alone (the tool's list), and the build's own options.
#include <string>
#include <vector>

#include "store/file_list.h"
#include "store/resolve.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbcache_writer.h"
#include "tools/fixture/thumbsdb_writer.h"

namespace {

struct ListGuard {
    ~ListGuard() { file_list_release(); }
};

constexpr uint32_t background = 0x204060;

// An Explorer cache of `count` pictures larger than a cell, so that each is
// fitted over the background; record 1 holds no picture (a folder's).
void write_explorer_cache(const TempDir& dir, int32_t count)
{
    fixture::ThumbcacheSpec spec;
    spec.cache_type = 4;
    spec.records.resize(size_t(count));
    for (int32_t i = 0; i < count; ++i) {
        spec.records[size_t(i)].hash = 0x1000 + uint64_t(i);
        spec.records[size_t(i)].data = fixture::encode_png_rgba(fixture::make_test_image(120 + i % 7, 90, uint32_t(i)));
    }
    spec.records[1].data.clear();
    write_file(dir.file("thumbcache_256.db"), fixture::write_thumbcache(spec));
}

std::vector<uint32_t> pixels_of(const Picture& p)
{
    return p.pixels ? std::vector<uint32_t>(p.pixels, p.pixels + int64_t(p.pitch / 4) * p.height)
                    : std::vector<uint32_t>();
}

// Every entry's picture as a list decoded at once gives it.
std::vector<std::vector<uint32_t>> decoded_at_once(const TempDir& dir, const FileListOptions& options)
{
    std::vector<std::vector<uint32_t>> out;
    if (file_list_build(dir.path().c_str(), options) != 0)
        return out;
    for (int32_t i = 0; i < file_list.count; ++i)
        out.push_back(pixels_of(file_list.pictures[i]));
    return out;
}

int32_t decoded_now()
{
    int32_t n = 0;
    for (int32_t i = 0; i < file_list.count; ++i)
        n += !file_list_pending(i) && file_list.pictures[i].pixels && file_list_has_thumbnail(i);
    return n;
}

} // namespace

TEST(FileListDecode, OnViewDecodesWhatIsShownAndKeepsABoundedNumber)
{
    ListGuard guard;
    TempDir dir;
    const int32_t count = 400;  // beyond FILE_LIST_MAX_DECODED
    write_explorer_cache(dir, count);
    const auto expected = decoded_at_once(dir, {.flags = 2, .background = background});
    ASSERT_EQ(size_t(count), expected.size());

    ASSERT_EQ(0, file_list_build(dir.path().c_str(),
                                 {.flags = 2, .background = background, .decode = FILE_LIST_DECODE_ON_VIEW}));
    ASSERT_EQ(count, file_list.count);
    EXPECT_EQ(0, decoded_now()) << "a load decodes nothing";
    EXPECT_EQ(58, file_list_decode_view(0, 20, 0, 60, 0)) << "no time left: one picture, never none";
    EXPECT_EQ(1, decoded_now());
    EXPECT_EQ(0, file_list_decode_view(0, 20, 0, 60, 60000));
    for (int32_t i = 0; i < count; ++i)
        ASSERT_EQ(i >= 60, file_list_pending(i)) << i;
    // Scrolled through to the end and back: the screen is always decoded as
    // the list decoded at once has it, and no more than the bound is kept.
    for (int32_t pass = 0; pass < 2; ++pass)
        for (int32_t step = 0; step <= count; step += 20) {
            const int32_t first = pass == 0 ? step : count - step;
            file_list_decode_view(first, first + 20, first - 60, first + 80, 60000);
            ASSERT_LE(decoded_now(), FILE_LIST_MAX_DECODED);
            for (int32_t i = first; i < first + 20 && i < count; ++i)
                ASSERT_EQ(expected[size_t(i)], pixels_of(file_list.pictures[i])) << i;
        }
    // A picture asked for by itself (a save) is decoded on the spot.
    file_list_decode_view(0, 20, 0, 20, 60000);
    ASSERT_TRUE(file_list_pending(count - 1));
    EXPECT_EQ(expected[size_t(count - 1)], pixels_of(file_list_picture(count - 1)));
    EXPECT_FALSE(file_list_has_thumbnail(1)) << "no picture: the placeholder, without a decode";
}

TEST(FileListDecode, SizesAloneMatchTheDecodedListWithoutPixels)
{
    ListGuard guard;
    TempDir dir;
    write_explorer_cache(dir, 5);
    fixture::CacheSpec spec;  // and a Thumbs.db beside it, with a name of no record
    for (uint32_t i = 0; i < 3; ++i) {
        fixture::CacheEntry e;
        e.name = "p" + std::to_string(i) + ".jpg";
        e.time = 128000000000000000ull;
        e.picture = fixture::encode_jpeg(fixture::make_test_image(10 + int32_t(i), 8, i));
        spec.entries.push_back(e);
    }
    write_file(dir.file("cache.db"), fixture::write_thumbs_db(spec));
    write_file(dir.file("extra.jpg"), std::vector<uint8_t>{0});
    for (const char* cache : {"thumbcache_256.db", "cache.db"}) {
        SCOPED_TRACE(cache);
        struct Row {
            bool thumbnail;
            int32_t width, height;
            bool operator==(const Row&) const = default;
        };
        std::vector<Row> rows[2];
        for (FileListDecode decode : {FILE_LIST_DECODE_ALL, FILE_LIST_DECODE_SIZES}) {
            ASSERT_EQ(0, file_list_build_from(dir.path().c_str(), cache, {.flags = 3, .decode = decode}));
            for (int32_t i = 0; i < file_list.count; ++i) {
                const Picture& p = file_list.pictures[i];
                rows[decode != FILE_LIST_DECODE_ALL].push_back({file_list_has_thumbnail(i), p.width, p.height});
                if (decode == FILE_LIST_DECODE_SIZES && file_list_has_thumbnail(i)) {
                    EXPECT_EQ(nullptr, p.pixels) << i;
                }
            }
        }
        EXPECT_GT(rows[0].size(), 3u);
        EXPECT_TRUE(rows[0] == rows[1]);
    }
}

TEST(FileListDecode, ThePixelBoundIsAnOptionOfTheBuild)
{
    ListGuard guard;
    TempDir dir;
    write_explorer_cache(dir, 10);
    // Room for three pictures decoded at full size before each is fitted.
    const int64_t room = 3 * 126 * 90;
    for (FileListDecode decode : {FILE_LIST_DECODE_ALL, FILE_LIST_DECODE_ON_VIEW}) {
        ASSERT_EQ(0, file_list_build(dir.path().c_str(), {.flags = 2, .max_total_pixels = room, .decode = decode}));
        file_list_decode_view(0, 10, 0, 10, 60000);
        int32_t shown = 0;
        for (int32_t i = 0; i < file_list.count; ++i)
            shown += file_list_has_thumbnail(i);
        EXPECT_GT(shown, 3) << "fitted pictures give back what they do not keep";
        EXPECT_LT(shown, 9) << "the bound holds";
    }
    ASSERT_EQ(0, file_list_build(dir.path().c_str(), 2));
    for (int32_t i = 0; i < file_list.count; ++i)
        EXPECT_EQ(i != 1, file_list_has_thumbnail(i)) << "the next build has its own bound";
}

TEST(FileListDecode, TheBoundAdmitsTheSamePicturesWhateverTheThreads)
{
    ListGuard guard;
    TempDir dir;
    write_explorer_cache(dir, 40);
    // Room for part of the list: which pictures it admits is decided in entry order.
    for (const int64_t room : {int64_t(3 * 126 * 90), int64_t(FILE_LIST_MAX_TOTAL_PIXELS)}) {
        const auto one = decoded_at_once(dir, {.flags = 2, .max_total_pixels = room, .jobs = 1});
        int32_t shown = 0;
        for (int32_t i = 0; i < file_list.count; ++i)
            shown += file_list_has_thumbnail(i);
        EXPECT_EQ(one, decoded_at_once(dir, {.flags = 2, .max_total_pixels = room, .jobs = 4})) << room;
        EXPECT_EQ(one, decoded_at_once(dir, {.flags = 2, .max_total_pixels = room, .jobs = 3})) << room;
        EXPECT_EQ(shown, room == FILE_LIST_MAX_TOTAL_PIXELS ? 39 : 4) << "those that fit, in entry order";
    }
}

TEST(Resolve, TheViewersForms)
{
    TempDir dir;
    write_file(dir.file("thumbs.db"), std::vector<uint8_t>{0});
    write_file(dir.file("other.db"), std::vector<uint8_t>{0});
    struct Case {
        std::string path, folder;
        std::vector<std::string> caches;
    };
    const Case cases[] = {
        {dir.path(), dir.path(), {dir.file("thumbs.db")}},
        {dir.file("THUMBS.DB"), dir.path(), {dir.file("thumbs.db")}},  // any letter case: the folder's
        {dir.file("other.db"), dir.path(), {dir.file("other.db")}},
        {dir.file("absent.db"), dir.path(), {dir.file("absent.db")}},  // read, and reported as unreadable
    };
    for (const Case& c : cases) {
        const ViewerSources s = store_resolve_for_viewer(c.path.c_str());
        std::vector<std::string> got;
        for (const ResolvedCache& r : s.caches)
            got.push_back(r.path);
        EXPECT_EQ(c.folder, s.folder) << c.path;
        EXPECT_EQ(c.caches, got) << c.path;
    }
}
