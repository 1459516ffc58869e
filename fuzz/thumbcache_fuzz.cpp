// The cache-file reader on any bytes; every listed view must lie inside the
// loaded file (the sanitizers catch reads outside it on the way).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "store/explorer/thumbcache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ThumbcacheFile file;
    if (thumbcache_read(ByteView{data, size}, &file) != 0)
        return 0;
    uint64_t sum = 0;
    for (int32_t i = 0; i < file.count; ++i) {
        const ThumbcacheEntry& e = file.entries[i];
        if (e.offset + e.entry_size > file.size || e.payload.data < file.bytes ||
            e.payload.data + e.payload.length > file.bytes + file.size || e.payload.data - e.padding_size - e.identifier.length < file.bytes + e.offset ||
            std::memcmp(e.identifier.data, e.payload.data - e.padding_size - e.identifier.length, e.identifier.length) != 0 ||
            (i > 0 && e.offset <= file.entries[i - 1].offset))
            std::abort();
        for (size_t k = 0; k < e.payload.length; k += 97)
            sum += e.payload.data[k];
        char text[300];
        thumbcache_identifier_utf8(e.identifier, text, sizeof text);
        thumbcache_identifier_narrow(e.identifier, text, 40);
    }
    thumbcache_free(&file);
    return int(sum & 0);
}
