// catalog_lookup with a fuzzed Catalog stream and fuzzed thumbnail streams in
// an otherwise valid cache (see fixture::cache_from_parts for the layout).
#include <cstdint>
#include <cstdlib>

#include "store/thumbsdb/catalog.h"
#include "store/thumbsdb/compound_file.h"
#include "tools/fixture/thumbsdb_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    fixture::Bytes file = fixture::cache_from_parts(data, size);
    store_load_memory(file.data(), file.size());
    CatalogCursor cursor;
    int16_t version;
    CatalogEntry entry;
    int looked_up = 0;
    if (catalog_begin(&cursor, &version) == 0)
        while (catalog_next(&cursor, &entry) && looked_up++ < 32) {
            Picture picture{};
            FileTime time;
            if (catalog_lookup(entry.name, &picture, &time) == 0)
                std::free(picture.pixels);
        }
    catalog_release();
    store_release();
    return 0;
}
