// Inputs that once broke a reader, kept under tests/regress/<area>/ with a
// name that says what they do. Each runs through the harness its fuzzer
// used and must end with the expected result, writing nothing outside its
// buffers (the sanitizer build checks the rest).
#include <cstdlib>
#include <string>

#include "picture/picture.h"
#include "store/thumbsdb/catalog.h"
#include "store/thumbsdb/compound_file.h"
#include "store/explorer/thumbcache.h"
#include "store/explorer/thumbcache_index.h"
#include "tests/support/guarded_window.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbsdb_writer.h"

namespace {

enum class Harness {
    picture,        // probe, then decode into a guarded window
    cache,          // a whole Thumbs.db: load, walk the catalog, decode every entry
    catalog_parts,  // the catalog and streams the catalog fuzzer assembles into a cache
    thumbcache,     // a thumbcache_*.db file
    thumbcache_index,
};

constexpr int ANY = 2;  // 0 or -1 both fine: only safety is asked

struct Regression {
    const char* file;  // below tests/regress/
    Harness harness;
    int result;
};

// One line per finding.
constexpr Regression REGRESSIONS[] = {
    {"jpeg/frame-without-components.jpg", Harness::picture, -1},
    {"jpeg/huge-progressive-frame-many-scans.jpg", Harness::picture, 0},
    {"jpeg/second-frame-header-claims-a-huge-frame.jpg", Harness::picture, 0},
    {"store/catalog-stream-number-int-min.bin", Harness::catalog_parts, ANY},  // INT32_MIN - 1 in the slot rule
};

int run_cache(const std::vector<uint8_t>& cache)
{
    int result = store_load_memory(cache.data(), cache.size());
    CatalogCursor cursor;
    int16_t version;
    CatalogEntry entry;
    if (result == 0 && catalog_begin(&cursor, &version) == 0)
        while (catalog_next(&cursor, &entry)) {
            Picture picture{};
            if (catalog_lookup(entry.name, &picture, nullptr) == 0)
                std::free(picture.pixels);
        }
    store_release();
    return result;
}

int run(Harness harness, const std::vector<uint8_t>& input)
{
    switch (harness) {
    case Harness::picture: {
        Decoded d = decode_guarded(input);
        EXPECT_TRUE(d.guard_intact);
        return d.rc;
    }
    case Harness::cache:
        return run_cache(input);
    case Harness::catalog_parts:
        return run_cache(fixture::cache_from_parts(input.data(), input.size()));
    case Harness::thumbcache: {
        ThumbcacheFile file{};
        int result = thumbcache_read(ByteView{input.data(), input.size()}, &file);
        thumbcache_free(&file);
        return result;
    }
    case Harness::thumbcache_index: {
        ThumbcacheIndex index{};
        int result = thumbcache_index_read(ByteView{input.data(), input.size()}, &index);
        thumbcache_index_free(&index);
        return result;
    }
    }
    return ANY;
}

} // namespace

TEST(Regressions, EveryKeptInputEndsAsExpected)
{
    for (const Regression& r : REGRESSIONS) {
        SCOPED_TRACE(r.file);
        std::vector<uint8_t> input = read_file(std::string(GLIMMERDEX_SOURCE_DIR "/tests/regress/") + r.file);
        ASSERT_FALSE(input.empty());
        int result = run(r.harness, input);
        if (r.result == ANY)
            EXPECT_TRUE(result == 0 || result == -1) << result;
        else
            EXPECT_EQ(result, r.result);
    }
}
