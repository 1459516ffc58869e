#include "store/thumbsdb/hashed_streams.h"

#include <cstring>

#include "picture/bytes.h"
#include "platform/system.h"
#include "store/thumbsdb/compound_file.h"

bool hashed_stream_name(const char* name)
{
    int digits = 0;
    for (; *name >= '0' && *name <= '9'; ++name)
        ++digits;
    if (digits == 0 || digits > 5 || *name != '_')
        return false;
    int hex = 0;
    for (++name; *name; ++name, ++hex)
        if (ascii_hex_value(*name) < 0)
            return false;
    return hex >= 1 && hex <= 16;
}

int hashed_stream_payload(int32_t slot, const uint8_t** data, int32_t* length)
{
    int32_t available = store_slot_length(slot);
    if (available < HASHED_HEADER_BYTES)
        return -1;
    const uint8_t* s = stream_table.pool + stream_table.offset[slot];
    uint32_t header = read_le32(s);
    uint32_t payload = read_le32(s + 8);
    if (header != uint32_t(HASHED_HEADER_BYTES) || payload == 0 || payload > uint32_t(available - HASHED_HEADER_BYTES))
        return -1;
    *data = s + HASHED_HEADER_BYTES;
    *length = int32_t(payload);
    return 0;
}

int hashed_stream_hash(const char* stream_name, uint64_t* hash)
{
    const char* hex = std::strchr(stream_name, '_');
    if (!hex || !hex[1] || std::strlen(hex + 1) > 16)
        return -1;
    uint64_t v = 0;
    for (const char* p = hex + 1; *p; p++) {
        const int d = ascii_hex_value(*p);
        if (d < 0)
            return -1;
        v = v << 4 | uint64_t(d);
    }
    *hash = v;
    return 0;
}

uint64_t thumbnail_id_mix(uint64_t seed, const uint8_t* bytes, size_t length)
{
    uint64_t x = seed;
    for (size_t i = 0; i < length; ++i)
        x ^= (x >> 2) + x * 2080 + bytes[i];
    return x;
}

uint64_t hashed_stream_name_hash(uint64_t seed, const uint16_t* name, size_t units)
{
    uint64_t x = seed;
    for (size_t i = 0; i < units; ++i) {
        const uint8_t le[2] = {uint8_t(name[i] & 0xFF), uint8_t(name[i] >> 8)};
        x = thumbnail_id_mix(x, le, 2);
    }
    return x;
}

int32_t hashed_stream_count()
{
    int32_t n = 0;
    for (int32_t k = 0; k < stream_table.count; ++k)
        n += k != stream_table.catalog_slot && hashed_stream_name(stream_table.slot_name[k]);
    return n;
}
