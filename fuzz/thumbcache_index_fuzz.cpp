// The index reader on any bytes, then linked to a cache read from the bytes
// after the index's table (when they hold one), so that fuzzed offsets meet
// fuzzed entries.
#include <cstdint>
#include <cstdlib>

#include "store/explorer/thumbcache.h"
#include "store/explorer/thumbcache_index.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ThumbcacheIndex index;
    if (thumbcache_index_read(ByteView{data, size}, &index) != 0)
        return 0;
    if (index.count > 0 &&
        uint64_t(index.header_bytes) + uint64_t(index.slots[index.count - 1].slot + 1) * index.slot_bytes > index.size)
        std::abort();
    const uint64_t table_end = uint64_t(index.header_bytes) + uint64_t(index.slot_count) * index.slot_bytes;
    ThumbcacheFile cache{};
    int32_t files = 0;
    if (table_end < size && thumbcache_read(ByteView{data + table_end, size - size_t(table_end)}, &cache) == 0)
        files = 1;
    const ThumbcacheFile* list[] = {&cache};
    ThumbcacheLinks links;
    if (thumbcache_link(&index, list, files, &links) == 0) {
        if (links.entry_count != (files ? cache.count : 0))
            std::abort();
        for (int32_t i = 0; i < links.dangling_count; ++i)
            if (links.dangling[i].slot < 0 || links.dangling[i].slot >= index.count)
                std::abort();
        thumbcache_links_free(&links);
    }
    if (files)
        thumbcache_free(&cache);
    thumbcache_index_free(&index);
    return 0;
}
