// catalog_lookup with a fuzzed Catalog stream and fuzzed thumbnail streams in
// an otherwise valid cache: the input is cut at the first bytes "\n--\n"
// into the Catalog, then thumbnail streams named 1, 2, 3, ...
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "store/catalog.h"
#include "store/compound_file.h"
#include "tools/fixture/thumbsdb_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    std::vector<fixture::Bytes> parts(1);
    for (size_t i = 0; i < size; ++i) {
        if (i + 4 <= size && std::memcmp(data + i, "\n--\n", 4) == 0 && parts.size() < 64) {
            parts.emplace_back();
            i += 3;
            continue;
        }
        parts.back().push_back(data[i]);
    }
    std::vector<fixture::CompoundEntry> streams;
    for (size_t k = 1; k < parts.size(); ++k)
        streams.push_back({fixture::reversed_stream_name(int32_t(k)), parts[k]});
    streams.insert(streams.begin() + std::ptrdiff_t(parts.size() / 2), fixture::CompoundEntry{"Catalog", parts[0]});
    fixture::Bytes file = fixture::write_compound(streams);
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
    store_release();
    return 0;
}
