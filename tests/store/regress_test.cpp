// Inputs the fuzzers found, kept under tests/regress/store/: each must load
// and look up cleanly (the sanitizer build checks for undefined behaviour).
#include <cstdlib>
#include <string>

#include "store/catalog.h"
#include "store/compound_file.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbsdb_writer.h"

namespace {

enum class Harness { cache, catalog_parts };

struct Regression {
    const char* file;
    Harness harness;
};

// One line per finding.
constexpr Regression regressions[] = {
    {"catalog-stream-number-int-min.bin", Harness::catalog_parts},  // INT32_MIN - 1 in the slot rule
};

} // namespace

TEST(StoreRegressions, FuzzFindingsLoadCleanly)
{
    for (const Regression& r : regressions) {
        SCOPED_TRACE(r.file);
        std::vector<uint8_t> input = read_file(std::string(GLIMMERDEX_SOURCE_DIR "/tests/regress/store/") + r.file);
        ASSERT_FALSE(input.empty());
        std::vector<uint8_t> cache =
            r.harness == Harness::cache ? input : fixture::cache_from_parts(input.data(), input.size());
        int result = store_load_memory(cache.data(), cache.size());
        EXPECT_TRUE(result == 0 || result == -1);
        CatalogCursor cursor;
        int16_t version;
        CatalogEntry entry;
        if (catalog_begin(&cursor, &version) == 0)
            while (catalog_next(&cursor, &entry)) {
                Picture picture{};
                if (catalog_lookup(entry.name, &picture, nullptr) == 0)
                    std::free(picture.pixels);
            }
    }
    store_release();
}
