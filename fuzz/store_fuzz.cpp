// store_load + catalog_lookup over a fuzzed cache image. Seeds: the real
// caches of the shared corpus.
#include <cstdint>
#include <cstdlib>

#include "store/thumbsdb/catalog.h"
#include "store/thumbsdb/compound_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    store_load_memory(data, size);
    CatalogCursor cursor;
    int16_t version;
    CatalogEntry entry;
    int looked_up = 0;
    if (catalog_begin(&cursor, &version) == 0) {
        while (catalog_next(&cursor, &entry) && looked_up < 64) {
            Picture picture{};
            FileTime time;
            if (catalog_lookup(entry.name, &picture, &time) == 0)
                std::free(picture.pixels);
            ++looked_up;
        }
    }
    catalog_release();
    store_release();
    return 0;
}
