// Caches without a Catalog: "<size>_<hex>" streams with a 24-byte header.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "picture/fit.h"
#include "pngout/png_writer.h"
#include "store/thumbsdb/catalog.h"
#include "store/thumbsdb/compound_file.h"
#include "store/file_list.h"
#include "store/thumbsdb/hashed_streams.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbsdb_writer.h"

using fixture::Bytes;
using fixture::CacheEntry;
using fixture::CacheSpec;

namespace {

std::vector<std::string> names()
{
    std::vector<std::string> out;
    for (int32_t i = 0; i < file_list.count; ++i)
        out.emplace_back(file_list_name(i));
    return out;
}

Bytes small_png(const TempDir& dir, int w, int h)
{
    std::string path = dir.file("p.png");
    EXPECT_EQ(png_begin(path.c_str(), w, h), 0);
    for (int i = 0; i < w * h; ++i)
        png_put_pixel(uint32_t(i * 40503u) & 0xFFFFFF);
    return read_file(path);
}

struct ListGuard {
    ~ListGuard() { file_list_release(); }
};

} // namespace

TEST(HashedStreams, NamePattern)
{
    EXPECT_TRUE(hashed_stream_name("256_2a9845460850edaf"));
    EXPECT_TRUE(hashed_stream_name("96_32054a631799123"));
    EXPECT_TRUE(hashed_stream_name("1024_A"));
    EXPECT_FALSE(hashed_stream_name("256_"));
    EXPECT_FALSE(hashed_stream_name("_abc"));
    EXPECT_FALSE(hashed_stream_name("256_2a9845460850edaf0"));  // 17 digits
    EXPECT_FALSE(hashed_stream_name("256_xyz"));
    EXPECT_FALSE(hashed_stream_name("Catalog"));
    EXPECT_FALSE(hashed_stream_name("21"));
}

TEST(HashedStreams, ListedInDirectoryOrderWithTheirPictures)
{
    ListGuard guard;
    TempDir dir, scratch;
    Bytes jpeg = fixture::encode_jpeg(fixture::make_test_image(40, 30, 1));
    Bytes png = small_png(scratch, 17, 9);
    Bytes bad_length = fixture::hashed_stream(jpeg);
    bad_length[8] = 0xFF, bad_length[9] = 0xFF;  // payload longer than the stream
    Bytes bad_header = fixture::hashed_stream(jpeg);
    bad_header[0] = 12;
    std::vector<fixture::CompoundEntry> streams = {
        {"256_2a9845460850edaf", fixture::hashed_stream(jpeg)},
        {"notes", Bytes(100, 1)},
        {"96_abc", fixture::hashed_stream(png)},
        {"256_1", bad_length},
        {"256_2", bad_header},
        {"256_3", Bytes(10, 0)},
    };
    write_file(dir.file("Thumbs.db"), fixture::write_compound(streams));
    write_file(dir.file("own.jpg"), {1});
    ASSERT_EQ(file_list_build(dir.path().c_str(), 3), 0);
    EXPECT_EQ(names(), (std::vector<std::string>{"own.jpg", "Thumbs.db", "256_2a9845460850edaf", "96_abc", "256_1",
                                                 "256_2", "256_3"}));
    EXPECT_FALSE(file_list_has_thumbnail(0));
    EXPECT_EQ(file_list_entry(0).slot, -1);
    EXPECT_EQ(file_list.pictures[2].width, 40);
    EXPECT_EQ(file_list.pictures[2].height, 30);
    EXPECT_EQ(file_list_entry(2).slot, 0);
    EXPECT_EQ(file_list_entry(2).kind, STORE_ENTRY_STREAM);
    EXPECT_EQ(file_list_entry(2).hash, 0x2a9845460850edafu) << "the key the search index names it by";
    EXPECT_EQ(Bytes(file_list_entry(2).payload.data, file_list_entry(2).payload.data + file_list_entry(2).payload.length),
              jpeg) << "the stored bytes S and the tool write";
    EXPECT_EQ(file_list.pictures[3].width, 17) << "a PNG payload";
    EXPECT_EQ(file_list_entry(3).slot, 2);
    for (int i = 4; i < 7; ++i) {
        EXPECT_FALSE(file_list_has_thumbnail(i)) << "lengths that do not fit give the placeholder";
        EXPECT_GE(file_list_entry(i).slot, 0);
        EXPECT_EQ(file_list_entry(i).payload.length, 0u);
    }
    ASSERT_EQ(file_list_build(dir.path().c_str(), 1), 0);
    EXPECT_EQ(names(), (std::vector<std::string>{"own.jpg", "Thumbs.db"}));
}

TEST(HashedStreams, LargePicturesAreFittedToTheCellCatalogOnesAreNot)
{
    ListGuard guard;
    TempDir dir, catalog_dir;
    Bytes large = fixture::encode_jpeg(fixture::make_test_image(256, 192, 5));
    Bytes tall = fixture::encode_jpeg(fixture::make_test_image(40, 300, 6));
    write_file(dir.file("Thumbs.db"), fixture::write_compound({{"256_a", fixture::hashed_stream(large)},
                                                               {"256_b", fixture::hashed_stream(tall)}}));
    ASSERT_EQ(file_list_build(dir.path().c_str(), 2), 0);
    ASSERT_EQ(file_list.count, 2);
    const int32_t sizes[2][2] = {{PICTURE_FIT_BOX_WIDTH, 75}, {13, PICTURE_FIT_BOX_HEIGHT}};
    const Bytes* payloads[2] = {&large, &tall};
    for (int32_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(file_list_name(i));
        const Picture& p = file_list.pictures[i];
        ASSERT_TRUE(file_list_has_thumbnail(i));
        EXPECT_EQ(p.width, sizes[i][0]);
        EXPECT_EQ(p.height, sizes[i][1]);
        EXPECT_EQ(p.pitch, p.width * 4);
        // The listed pixels are the area average of the whole decoded payload.
        Picture whole{}, expected{};
        ASSERT_EQ(catalog_decode_bytes(payloads[i]->data(), int32_t(payloads[i]->size()), &whole), 0);
        ASSERT_EQ(picture_fit(whole, PICTURE_FIT_BOX_WIDTH, PICTURE_FIT_BOX_HEIGHT, 0, &expected), 0);
        EXPECT_EQ(std::vector<uint32_t>(p.pixels, p.pixels + p.width * p.height),
                  std::vector<uint32_t>(expected.pixels, expected.pixels + p.width * p.height));
        std::free(whole.pixels);
        std::free(expected.pixels);
    }

    // The same picture in a catalog keeps its size.
    CacheSpec spec;
    CacheEntry e;
    e.name = "big.jpg";
    e.picture = large;
    spec.entries.push_back(e);
    write_file(catalog_dir.file("Thumbs.db"), fixture::write_thumbs_db(spec));
    ASSERT_EQ(file_list_build(catalog_dir.path().c_str(), 2), 0);
    ASSERT_EQ(file_list.count, 1);
    EXPECT_EQ(file_list.pictures[0].width, 256);
    EXPECT_EQ(file_list.pictures[0].height, 192);
}

TEST(HashedStreams, ACacheOfNeitherKindStillFails)
{
    ListGuard guard;
    TempDir dir;
    write_file(dir.file("Thumbs.db"), fixture::write_compound({{"data", Bytes(50, 2)}}));
    EXPECT_EQ(file_list_build(dir.path().c_str(), 3), -1);
    EXPECT_EQ(file_list.count, 0);
    write_file(dir.file("Thumbs.db"), fixture::write_compound({}));
    EXPECT_EQ(file_list_build(dir.path().c_str(), 2), -1);
}

TEST(HashedStreams, RealCachesWithoutACatalog)
{
    REQUIRE_CORPUS();
    ListGuard guard;
    std::string real = corpus_dir() + "/real";
    int caches = 0, thumbnails = 0;
    for (auto& row : read_tsv(real + "/manifest.tsv", nullptr)) {
        if (row.size() < 21 || row[10] != "no" || row[7] != "yes")
            continue;
        SCOPED_TRACE(row[1]);
        int streams = std::stoi(row[14]);
        int result = file_list_build_from(real.c_str(), row[1].c_str(), 2);
        if (streams == 0) {
            EXPECT_EQ(result, -1) << "a Root Entry alone";
            continue;
        }
        ASSERT_EQ(result, 0);
        ++caches;
        EXPECT_EQ(file_list.count, streams);
        for (int32_t i = 0; i < file_list.count; ++i) {
            ASSERT_TRUE(file_list_has_thumbnail(i)) << file_list_name(i);
            const Picture& p = file_list.pictures[i];
            EXPECT_GT(p.width, 0);
            EXPECT_LE(p.width, std::stoi(row[19]));
            EXPECT_LE(p.height, std::stoi(row[20]));
            ++thumbnails;
        }
    }
    EXPECT_EQ(caches, 175);
    EXPECT_EQ(thumbnails, 1564 - 28) << "the mixed cache's 28 streams are counted with the catalog caches";

    // The mixed cache: its catalog's names first, then its 28 hashed streams.
    ASSERT_EQ(file_list_build_from(real.c_str(), "ff488e1abb85d56d.db", 2), 0);
    ASSERT_EQ(file_list.count, 9 + 28);
    for (int32_t i = 0; i < file_list.count; ++i) {
        EXPECT_EQ(file_list_entry(i).kind == STORE_ENTRY_STREAM, i >= 9) << file_list_name(i);
        EXPECT_TRUE(file_list_has_thumbnail(i));
    }
}

TEST(HashedStreams, TheNameHashGivesWindowsOwnStreamNames)
{
    // The check values of the format note, taken from real caches.
    const struct {
        const char* name;
        uint64_t windows_8, windows_7;
    } vectors[] = {
        {"IMG_0916.JPG", 0x6edabf4ae55a063, 0xb28ad8b6c6d79c39},
        {"1.bmp", 0xacebd0892e44f909, 0xc13d9627ebe2b5d3},
    };
    for (const auto& v : vectors) {
        const std::vector<uint16_t> name = fixture::utf16_of(v.name);
        EXPECT_EQ(hashed_stream_name_hash(HASHED_SEED_WINDOWS_8, name.data(), name.size()), v.windows_8) << v.name;
        EXPECT_EQ(hashed_stream_name_hash(HASHED_SEED_WINDOWS_7, name.data(), name.size()), v.windows_7) << v.name;
    }
    // The name as spelled: another letter case is another stream.
    const std::vector<uint16_t> lower = fixture::utf16_of("img_0916.jpg");
    EXPECT_NE(hashed_stream_name_hash(HASHED_SEED_WINDOWS_8, lower.data(), lower.size()), vectors[0].windows_8);
    // Windows writes the hex without leading zeros; such names still parse.
    uint64_t h = 0;
    ASSERT_EQ(hashed_stream_hash("256_6edabf4ae55a063", &h), 0);
    EXPECT_EQ(h, vectors[0].windows_8);
    const uint8_t bytes[] = {0x31, 0x00};  // "1" as UTF-16LE
    const uint16_t one = '1';
    EXPECT_EQ(thumbnail_id_mix(HASHED_SEED_WINDOWS_8, bytes, 2), hashed_stream_name_hash(HASHED_SEED_WINDOWS_8, &one, 1));
    EXPECT_EQ(thumbnail_id_mix(HASHED_SEED_WINDOWS_8, bytes, 0), HASHED_SEED_WINDOWS_8);
}

// Every stream of a real cache whose hash some name of its catalog gives
// (found here by the stream names' own text, both seeds) is listed under that
// name, and no other stream is renamed: the folder of the corpus holds none
// of these names.
TEST(HashedStreams, RealMixedCachesNameTheirStreamsFromTheirCatalog)
{
    REQUIRE_CORPUS();
    ListGuard guard;
    const std::string real = corpus_dir() + "/real";
    int mixed = 0, linked_names = 0, seed_7 = 0;
    for (auto& row : read_tsv(real + "/manifest.tsv", nullptr)) {
        if (row.size() < 21 || row[10] != "yes")
            continue;
        SCOPED_TRACE(row[1]);
        if (store_load((real + "/" + row[1]).c_str()) != 0 || hashed_stream_count() == 0)
            continue;
        ++mixed;
        std::map<std::string, std::string> expected;  // stream name -> the catalog's (8-bit) name
        CatalogCursor cursor;
        int16_t version;
        ASSERT_EQ(catalog_begin(&cursor, &version), 0);
        CatalogEntry entry;
        while (catalog_next(&cursor, &entry)) {
            std::vector<uint16_t> name(size_t(entry.name_full_chars));
            for (size_t k = 0; k < name.size(); ++k)
                name[k] = uint16_t(entry.name_utf16[2 * k] | entry.name_utf16[2 * k + 1] << 8);
            bool linked = false;
            for (const uint64_t seed : {HASHED_SEED_WINDOWS_8, HASHED_SEED_WINDOWS_7}) {
                char hex[20];
                std::snprintf(hex, sizeof hex, "_%llx",
                              static_cast<unsigned long long>(hashed_stream_name_hash(seed, name.data(), name.size())));
                for (int32_t k = 0; k < stream_table.count; ++k) {
                    const std::string stream = stream_table.slot_name[k];
                    if (stream.size() > std::strlen(hex) && stream.compare(stream.size() - std::strlen(hex), std::string::npos, hex) == 0 &&
                        !expected.count(stream)) {
                        expected[stream] = entry.name;
                        linked = true;
                        seed_7 += seed == HASHED_SEED_WINDOWS_7;
                    }
                }
            }
            linked_names += linked;
        }
        ASSERT_EQ(file_list_build_from(real.c_str(), row[1].c_str(), 2), 0);
        int32_t streams = 0;
        for (int32_t i = 0; i < file_list.count; ++i) {
            const StoreEntry& e = file_list_entry(i);
            if (e.kind != STORE_ENTRY_STREAM)
                continue;
            ++streams;
            const std::string stream = stream_table.slot_name[e.slot];
            EXPECT_EQ(file_list_name(i), expected.count(stream) ? expected[stream] : stream);
        }
        EXPECT_EQ(streams, hashed_stream_count());
    }
    // This corpus holds one mixed cache: each of its 9 catalog names has a
    // newer thumbnail, all written by Windows 8 or later.
    EXPECT_EQ(mixed, 1);
    EXPECT_EQ(linked_names, 9);
    EXPECT_EQ(seed_7, 0);
}

TEST(HashedStreams, NamesGiveTheirHash)
{
    uint64_t h = 0;
    EXPECT_EQ(hashed_stream_hash("256_2a9845460850edaf", &h), 0);
    EXPECT_EQ(h, 0x2a9845460850edafull);
    EXPECT_EQ(hashed_stream_hash("96_ABC", &h), 0);
    EXPECT_EQ(h, 0xabcull);
    for (const char* bad : {"256_", "256", "256_2a9845460850edaf0", "256_xyz"})
        EXPECT_EQ(hashed_stream_hash(bad, &h), -1) << bad;
}
