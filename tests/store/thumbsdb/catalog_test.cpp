// Catalog walk, stream-number mapping and thumbnail extraction on fixture caches.
#include <cstdlib>
#include <cstring>
#include <string>

#include "picture/picture.h"
#include "store/thumbsdb/catalog.h"
#include "store/thumbsdb/compound_file.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbsdb_writer.h"

using fixture::Bytes;
using fixture::CacheEntry;
using fixture::CacheSpec;

namespace {

int load(const Bytes& file) { return store_load_memory(file.data(), file.size()); }

CacheEntry jpeg_entry(const std::string& name, uint32_t seed, int w = 24, int h = 16)
{
    CacheEntry e;
    e.name = name;
    e.time = 128000000000000000ull + seed;
    e.picture = fixture::encode_jpeg(fixture::make_test_image(w, h, seed));
    return e;
}

struct Decoded {
    Picture picture{};
    ~Decoded() { std::free(picture.pixels); }
    uint32_t at(int x, int y) const { return picture.pixels[size_t(y) * size_t(picture.pitch / 4) + size_t(x)]; }
};

// The pixels picture_decode gives for the same bytes, for comparison.
Decoded decode_direct(const Bytes& jpeg)
{
    Decoded d;
    int32_t w, h;
    picture_probe(jpeg.data(), int32_t(jpeg.size()), &w, &h);
    d.picture = Picture{static_cast<uint32_t*>(std::calloc(size_t(w) * size_t(h), 4)), w * 4, w, h};
    picture_decode(jpeg.data(), int32_t(jpeg.size()), reinterpret_cast<uint8_t*>(d.picture.pixels), w * 4, w, h, 0, 0);
    return d;
}

bool same_pixels(const Decoded& a, const Decoded& b)
{
    if (a.picture.width != b.picture.width || a.picture.height != b.picture.height)
        return false;
    return std::memcmp(a.picture.pixels, b.picture.pixels, size_t(a.picture.width) * size_t(a.picture.height) * 4) == 0;
}

int channel_difference(uint32_t a, uint32_t b)
{
    int worst = 0;
    for (int shift = 0; shift < 24; shift += 8)
        worst = std::max(worst, std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)));
    return worst;
}

} // namespace

TEST(Catalog, SlotRuleForCachesWithoutNumberedNames)
{
    // Directory: streams 1 and 2, Catalog, stream 3, named by another tool.
    CacheSpec spec;
    for (int i = 0; i < 3; ++i)
        spec.entries.push_back(jpeg_entry("p" + std::to_string(i + 1) + ".jpg", uint32_t(i)));
    spec.catalog_position = 2;
    spec.reversed_names = false;
    ASSERT_EQ(load(fixture::write_thumbs_db(spec)), 0);
    ASSERT_EQ(stream_table.catalog_slot, 2);
    EXPECT_EQ(catalog_stream_slot(1), 0);
    EXPECT_EQ(catalog_stream_slot(2), 1);
    EXPECT_EQ(catalog_stream_slot(3), 3);
    EXPECT_EQ(catalog_stream_slot(0), -1);
    EXPECT_EQ(catalog_stream_slot(4), -1);
    EXPECT_EQ(catalog_stream_slot(INT32_MIN), -1) << "found by fuzzing: k - 1 overflowed";
    EXPECT_EQ(catalog_stream_slot(INT32_MAX), -1);

    spec.catalog_position = 0;
    ASSERT_EQ(load(fixture::write_thumbs_db(spec)), 0);
    EXPECT_EQ(catalog_stream_slot(1), 1);
}

TEST(Catalog, ReversedDigitNamesMapRecordsWhateverTheDirectoryOrder)
{
    CacheSpec spec;
    for (int i = 0; i < 14; ++i)
        spec.entries.push_back(jpeg_entry("f" + std::to_string(i + 1) + ".jpg", uint32_t(i), 16 + i, 8 + i));
    // Directory order as a cache with reused entries has it: 1..9, 01, 11, ...
    spec.stream_order = {13, 0, 5, 9, 1, 2, 3, 4, 12, 6, 7, 8, 10, 11};
    ASSERT_EQ(load(fixture::write_thumbs_db(spec)), 0);
    for (int i = 0; i < 14; ++i) {
        int32_t slot = catalog_stream_slot(i + 1);
        ASSERT_GE(slot, 0);
        EXPECT_EQ(std::string(stream_table.slot_name[slot]), fixture::reversed_stream_name(i + 1));
        Decoded got;
        FileTime time = 0;
        ASSERT_EQ(catalog_lookup(spec.entries[size_t(i)].name.c_str(), &got.picture, &time), 0);
        EXPECT_EQ(got.picture.width, 16 + i) << "each name gets its own thumbnail";
        EXPECT_EQ(time, spec.entries[size_t(i)].time);
        EXPECT_TRUE(same_pixels(got, decode_direct(spec.entries[size_t(i)].picture)));
    }
}

TEST(Catalog, EveryLoadGetsAStreamMapOfItsOwn)
{
    // Named streams in shuffled order, then a cache of unnamed streams:
    // the map of the first must not answer for the second, nor after a release.
    CacheSpec named;
    for (int i = 0; i < 4; ++i)
        named.entries.push_back(jpeg_entry("n" + std::to_string(i + 1) + ".jpg", uint32_t(i)));
    named.stream_order = {3, 2, 1, 0};
    CacheSpec unnamed = named;
    unnamed.stream_order.clear();
    unnamed.reversed_names = false;
    unnamed.catalog_position = 0;
    for (const bool released : {false, true}) {
        SCOPED_TRACE(released ? "after store_release" : "load over load");
        ASSERT_EQ(load(fixture::write_thumbs_db(named)), 0);
        EXPECT_EQ(std::string(stream_table.slot_name[catalog_stream_slot(1)]), fixture::reversed_stream_name(1));
        if (released)
            store_release();
        ASSERT_EQ(load(fixture::write_thumbs_db(unnamed)), 0);
        EXPECT_EQ(catalog_stream_slot(1), 1) << "the number rule of this cache, after its Catalog";
        EXPECT_EQ(catalog_stream_slot(4), 4);
    }
}

TEST(Catalog, RecordWhoseStreamIsMissingHasNoThumbnail)
{
    CacheSpec spec;
    for (int i = 0; i < 5; ++i)
        spec.entries.push_back(jpeg_entry("m" + std::to_string(i) + ".jpg", uint32_t(i)));
    spec.entries[2].has_stream = false;
    ASSERT_EQ(load(fixture::write_thumbs_db(spec)), 0);
    Decoded d;
    EXPECT_EQ(catalog_lookup("m2.jpg", &d.picture, nullptr), -1) << "not some other file's picture";
    Decoded e;
    EXPECT_EQ(catalog_lookup("m3.jpg", &e.picture, nullptr), 0);
    EXPECT_TRUE(same_pixels(e, decode_direct(spec.entries[3].picture)));
}

TEST(Catalog, NamesCompareWithoutAsciiCaseAndTheFirstRecordWins)
{
    CacheSpec spec;
    spec.entries.push_back(jpeg_entry("photo.jpg", 1, 10, 10));
    spec.entries.push_back(jpeg_entry("PHOTO.JPG", 2, 20, 20));
    spec.entries.push_back(jpeg_entry("\xC4\x80" "b.jpg", 3, 30, 30));  // U+0100: low byte 0 ends the name
    spec.entries.push_back(jpeg_entry("\xC5\x81" "x.jpg", 4, 12, 12));  // U+0141 narrows to 0x41, 'A'
    ASSERT_EQ(load(fixture::write_thumbs_db(spec)), 0);
    Decoded a;
    ASSERT_EQ(catalog_lookup("photo.JPG", &a.picture, nullptr), 0);
    EXPECT_EQ(a.picture.width, 10);
    Decoded b;
    EXPECT_EQ(catalog_lookup("", &b.picture, nullptr), 0) << "the U+0100 name is empty after narrowing";
    EXPECT_EQ(b.picture.width, 30);
    Decoded c;
    EXPECT_EQ(catalog_lookup("ax.JPG", &c.picture, nullptr), 0);
    EXPECT_EQ(c.picture.width, 12);
    Decoded none;
    EXPECT_EQ(catalog_lookup("absent.jpg", &none.picture, nullptr), -1);
}

TEST(Catalog, Version4CatalogsStartTheirRecordsAfterAnEightByteHeader)
{
    CacheSpec spec;
    spec.version = 4;
    CacheEntry e;
    e.name = "C:\\pics\\sand.bmp";
    e.image = fixture::make_test_image(32, 33, 5);
    spec.entries.push_back(e);
    Bytes catalog = fixture::write_catalog(spec);
    ASSERT_EQ(catalog[0], 8);
    ASSERT_EQ(load(fixture::write_thumbs_db(spec)), 0);
    CatalogCursor cursor;
    int16_t version;
    CatalogEntry entry;
    ASSERT_EQ(catalog_begin(&cursor, &version), 0);
    EXPECT_EQ(version, 4);
    ASSERT_EQ(catalog_next(&cursor, &entry), 1);
    EXPECT_STREQ(entry.name, "C:\\pics\\sand.bmp") << "full paths are kept as stored";
    EXPECT_EQ(entry.stream_number, 1);
    EXPECT_EQ(catalog_next(&cursor, &entry), 0);
}

// The old generation: colours come straight from the three planes, and the
// first JPEG row is the bottom row of the picture.
TEST(Catalog, OldFormatThumbnailsKeepColoursAndOrientation)
{
    fixture::RgbImage image{20, 12, std::vector<uint32_t>(20 * 12)};
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 20; ++x)
            image.pixels[size_t(y * 20 + x)] = y < 6 ? (x < 10 ? 0xFF0000u : 0x00FF00u) : (x < 10 ? 0x0000FFu : 0xFFFF00u);
    CacheSpec spec;
    spec.version = 6;
    CacheEntry e;
    e.name = "quads.bmp";
    e.time = 126000000000000000ull;
    e.image = image;
    spec.entries.push_back(e);
    ASSERT_EQ(load(fixture::write_thumbs_db(spec)), 0);
    Decoded d;
    FileTime time;
    ASSERT_EQ(catalog_lookup("QUADS.BMP", &d.picture, &time), 0);
    ASSERT_EQ(d.picture.width, 20);
    ASSERT_EQ(d.picture.height, 12);
    EXPECT_EQ(d.picture.pitch, 80);
    EXPECT_EQ(time, 126000000000000000ull);
    for (int y : {1, 4, 8, 10})
        for (int x : {1, 8, 12, 18})
            EXPECT_LE(channel_difference(d.at(x, y), image.pixels[size_t(y * 20 + x)]), 24) << x << "," << y;
    EXPECT_EQ(d.at(0, 0) >> 24, 0u) << "old thumbnails carry 0 in the top byte";

    // After an old-format decode, current thumbnails use the default output again.
    spec = CacheSpec{};
    spec.entries.push_back(jpeg_entry("new.jpg", 9));
    ASSERT_EQ(load(fixture::write_thumbs_db(spec)), 0);
    Decoded n;
    ASSERT_EQ(catalog_lookup("new.jpg", &n.picture, nullptr), 0);
    EXPECT_TRUE(same_pixels(n, decode_direct(spec.entries[0].picture)));
}

TEST(Catalog, HostileLengthsAndRecordsStayInsideTheStreams)
{
    CacheSpec spec;
    spec.entries.push_back(jpeg_entry("a.jpg", 1));
    spec.entries.push_back(jpeg_entry("b.jpg", 2));
    Bytes file = fixture::write_thumbs_db(spec);
    ASSERT_EQ(load(file), 0);
    // Patch the loaded pool: thumbnail lengths beyond the stream, negative, tiny.
    int32_t slot = catalog_stream_slot(1);
    uint8_t* t = stream_table.pool + stream_table.offset[slot];
    uint32_t saved;
    std::memcpy(&saved, t + 8, 4);
    for (uint32_t length : {0x7FFFFFFFu, 0x80000000u, 0u, 3u}) {
        std::memcpy(t + 8, &length, 4);
        Decoded d;
        int r = catalog_lookup("a.jpg", &d.picture, nullptr);
        EXPECT_TRUE(r == 0 || r == -1);
    }
    std::memcpy(t + 8, &saved, 4);

    // A record count of 2^31 - 1 and a name without its terminator.
    uint8_t* c = stream_table.pool + stream_table.offset[stream_table.catalog_slot];
    int32_t length = store_slot_length(stream_table.catalog_slot);
    uint32_t count = 0x7FFFFFFF;
    std::memcpy(c + 4, &count, 4);
    Decoded b;
    EXPECT_EQ(catalog_lookup("b.jpg", &b.picture, nullptr), 0);
    Decoded none;
    EXPECT_EQ(catalog_lookup("zzz", &none.picture, nullptr), -1);
    for (int32_t i = 16; i < length; ++i)
        c[i] = 'q';
    EXPECT_EQ(catalog_lookup("a.jpg", &none.picture, nullptr), -1);
}

TEST(Catalog, PicturesBeyondTheCeilingGetNoPixels)
{
    // A JPEG header that claims 65535 x 65535.
    Bytes jpeg = fixture::encode_jpeg(fixture::make_test_image(8, 8, 1));
    for (size_t i = 2; i + 8 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            jpeg[i + 5] = jpeg[i + 6] = jpeg[i + 7] = jpeg[i + 8] = 0xFF;
            break;
        }
    CacheSpec spec;
    CacheEntry e;
    e.name = "huge.jpg";
    e.picture = jpeg;
    spec.entries.push_back(e);
    ASSERT_EQ(load(fixture::write_thumbs_db(spec)), 0);
    Decoded d;
    EXPECT_EQ(catalog_lookup("huge.jpg", &d.picture, nullptr), -1);
    EXPECT_EQ(d.picture.pixels, nullptr);
}

TEST(Catalog, UnknownPictureBytesGiveAnEmptyPicture)
{
    CacheSpec spec;
    CacheEntry e;
    e.name = "odd.bin";
    e.picture = Bytes(100, 0x42);
    spec.entries.push_back(e);
    ASSERT_EQ(load(fixture::write_thumbs_db(spec)), 0);
    Decoded d;
    d.picture.width = 5;
    EXPECT_EQ(catalog_lookup("odd.bin", &d.picture, nullptr), 0);
    EXPECT_EQ(d.picture.width, 0);
    EXPECT_EQ(d.picture.height, 0);
}
