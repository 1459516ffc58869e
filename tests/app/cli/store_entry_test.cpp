// The viewer's list and the tool's rows take an entry's kind, key and stored
// bytes from the one store record: for every kind of cache both must name
// the same bytes and the same stored size, and S must write exactly them.
#include <cstring>
#include <string>
#include <vector>

#include "app/cli/cache_report.h"
#include "store/thumbsdb/catalog.h"
#include "store/file_list.h"
#include "store/store_entry.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbcache_writer.h"
#include "tools/fixture/thumbsdb_writer.h"

namespace {

using fixture::Bytes;

Bytes bytes_of(const StoreEntry& e) { return Bytes(e.payload.data, e.payload.data + e.payload.length); }

struct KindCase {
    const char* what;
    Bytes (*cache)(const Bytes& jpeg, const Bytes& bmp);
    StoreEntryKind kind;     // of the first entry
    bool has_hash;
    uint64_t hash;
    bool stored_is_jpeg;     // else the BMP, or (old catalog) a stripped JPEG
    const char* extension;   // what S proposes for streams and records
    int32_t width, height;   // of the stored picture
};

Bytes current_catalog(const Bytes& jpeg, const Bytes&)
{
    fixture::CacheSpec spec;
    fixture::CacheEntry e;
    e.name = "a.jpg";
    e.time = 0x01D0000000000000u;
    e.picture = jpeg;
    spec.entries.push_back(e);
    return fixture::write_thumbs_db(spec);
}

Bytes old_catalog(const Bytes&, const Bytes&)
{
    fixture::CacheSpec spec;
    spec.version = 5;
    fixture::CacheEntry e;
    e.name = "a.jpg";
    e.image = fixture::make_test_image(24, 16, 3);
    spec.entries.push_back(e);
    return fixture::write_thumbs_db(spec);
}

Bytes hashed_cache(const Bytes& jpeg, const Bytes&)
{
    return fixture::write_compound({{"256_2a9845460850edaf", fixture::hashed_stream(jpeg)}});
}

Bytes explorer_file(const Bytes&, const Bytes& bmp)
{
    fixture::ThumbcacheSpec spec;
    fixture::ThumbcacheRecord r;
    r.hash = 0x14689f01a6e63900u;
    r.identifier = "a";
    r.identifier_from_hash = false;
    r.data = bmp;
    spec.records.push_back(r);
    return fixture::write_thumbcache(spec);
}

// Pictures larger than the viewer's cell, as the JPEG and BMP below.
const KindCase kinds[] = {
    {"catalog of version 7", current_catalog, STORE_ENTRY_CATALOG, false, 0, true, "jpg", 254, 256},
    {"catalog of version 5", old_catalog, STORE_ENTRY_CATALOG_OLD, false, 0, false, "jpg", 24, 16},
    {"stream of a cache without a Catalog", hashed_cache, STORE_ENTRY_STREAM, true, 0x2a9845460850edafu, true, "jpg",
     254, 256},
    {"Explorer record", explorer_file, STORE_ENTRY_EXPLORER, true, 0x14689f01a6e63900u, false, "bmp", 200, 120},
};

} // namespace

TEST(StoreEntries, TheViewerAndTheToolNameTheSameStoredBytesAndSize)
{
    const Bytes jpeg = fixture::encode_jpeg(fixture::make_test_image(254, 256, 1));
    const Bytes bmp = fixture::encode_bmp32(fixture::make_test_image(200, 120, 2), true);
    for (const KindCase& c : kinds) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string cache = dir.file("cache.db");
        write_file(cache, c.cache(jpeg, bmp));

        std::vector<ReportRow> rows;
        std::string failure;
        ASSERT_EQ(0, report_cache(cache, &rows, &failure));
        ASSERT_EQ(1u, rows.size());
        const StoreEntry& tool = rows[0].entry;
        EXPECT_EQ(c.kind, tool.kind);
        EXPECT_EQ(c.has_hash, tool.has_hash != 0);
        EXPECT_EQ(c.hash, tool.hash);
        const Bytes tool_bytes = bytes_of(tool);
        if (c.kind == STORE_ENTRY_CATALOG_OLD) {
            EXPECT_GT(tool_bytes.size(), 100u) << "the stripped JPEG as stored";
        } else {
            EXPECT_EQ(c.stored_is_jpeg ? jpeg : bmp, tool_bytes);
            EXPECT_EQ(int64_t(tool_bytes.size()), rows[0].length);
        }
        // The report's and list --catalog's size.
        EXPECT_EQ(c.width, rows[0].width);
        EXPECT_EQ(c.height, rows[0].height);

        ASSERT_EQ(0, file_list_build_from(dir.path().c_str(), "cache.db", 2));
        ASSERT_EQ(1, file_list.count);
        const StoreEntry& viewer = file_list_entry(0);
        EXPECT_EQ(tool.kind, viewer.kind);
        EXPECT_EQ(tool.slot, viewer.slot);
        EXPECT_EQ(tool.record, viewer.record);
        EXPECT_EQ(tool.hash, viewer.hash);
        EXPECT_EQ(tool_bytes, bytes_of(viewer));
        EXPECT_TRUE(file_list_has_thumbnail(0));
        EXPECT_EQ(c.has_hash, file_list_keyed(0));
        // The list's and the information line's size: the stored one, also
        // where the picture is drawn fitted to the cell.
        int32_t width = 0, height = 0;
        ASSERT_EQ(0, store_entry_stored_size(viewer, &width, &height));
        EXPECT_EQ(c.width, width);
        EXPECT_EQ(c.height, height);
        EXPECT_EQ(c.has_hash, file_list.pictures[0].width != c.width) << "drawn fitted";
        if (c.has_hash) {
            EXPECT_STREQ(c.extension, store_entry_extension(viewer));
        }
        report_release();
    }
    file_list_release();
}

TEST(StoreEntries, ForgettingTheBytesKeepsTheFacts)
{
    TempDir dir;
    const std::string cache = dir.file("cache.db");
    write_file(cache, explorer_file({}, fixture::encode_bmp32(fixture::make_test_image(8, 6, 2), false)));
    std::vector<ReportRow> rows;
    std::string failure;
    ASSERT_EQ(0, report_cache(cache, &rows, &failure));
    ASSERT_EQ(1u, rows.size());
    StoreEntry e = rows[0].entry;
    ASSERT_NE(nullptr, store_entry_record(e));
    store_entry_forget_bytes(&e);
    report_release();
    EXPECT_EQ(nullptr, store_entry_record(e)) << "no reference into freed bytes";
    EXPECT_EQ(0u, e.payload.length);
    EXPECT_EQ(STORE_ENTRY_EXPLORER, e.kind);
    EXPECT_EQ(0x14689f01a6e63900u, e.hash);
    EXPECT_STREQ("bin", store_entry_extension(e));
    EXPECT_STREQ("jpg", store_format_extension("jpeg"));
    EXPECT_STREQ("bin", store_format_extension("unknown"));
    EXPECT_STREQ("png", store_format_extension("png"));
}
