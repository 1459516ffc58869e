// The Catalog stream: the record walk and the stream-number to slot map.
#include "store/thumbsdb/catalog.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "picture/bytes.h"
#include "store/thumbsdb/compound_file.h"

namespace {


// Stream number -> slot, through the stream names: Windows names a
// thumbnail stream after its number with the decimal digits reversed (12 is
// "21"). Built on the first lookup after a load.
struct SlotByNumber {
    int32_t number;
    int32_t slot;
};
SlotByNumber* slot_map;
int32_t slot_map_count;
bool slot_map_built;
uint32_t slot_map_load;  // stream_table.load_count it was built for
bool slot_map_used;  // some record's stream carries its reversed-digit name

int32_t reversed_number(const char* name)
{
    size_t n = std::strlen(name);
    if (n == 0 || n > 10)
        return -1;
    int64_t value = 0;
    for (size_t i = n; i-- > 0;) {
        if (name[i] < '0' || name[i] > '9')
            return -1;
        value = value * 10 + (name[i] - '0');
    }
    return value <= INT32_MAX ? int32_t(value) : -1;
}

const SlotByNumber* find_number(int32_t number)
{
    SlotByNumber* end = slot_map + slot_map_count;
    const SlotByNumber* it = std::lower_bound(slot_map, end, number,
                                              [](const SlotByNumber& e, int32_t k) { return e.number < k; });
    return it != end && it->number == number ? it : nullptr;
}

void build_slot_map()
{
    slot_map_built = true;
    slot_map_load = stream_table.load_count;
    slot_map_used = false;
    std::free(slot_map);
    slot_map = static_cast<SlotByNumber*>(std::malloc(sizeof(SlotByNumber) * size_t(stream_table.count + 1)));
    slot_map_count = 0;
    if (!slot_map)
        return;
    for (int32_t slot = 0; slot < stream_table.count; ++slot) {
        if (slot == stream_table.catalog_slot)
            continue;
        int32_t number = reversed_number(stream_table.slot_name[slot]);
        if (number >= 0)
            slot_map[slot_map_count++] = {number, slot};
    }
    // Stable: with two streams of one name, the first in the directory wins.
    std::stable_sort(slot_map, slot_map + slot_map_count,
                     [](const SlotByNumber& a, const SlotByNumber& b) { return a.number < b.number; });

    CatalogCursor cursor;
    int16_t version;
    CatalogEntry entry;
    if (catalog_begin(&cursor, &version) == 0)
        while (!slot_map_used && catalog_next(&cursor, &entry))
            slot_map_used = find_number(entry.stream_number) != nullptr;
}

} // namespace

int16_t catalog_version()
{
    int32_t slot = stream_table.catalog_slot;
    if (slot < 0 || slot >= stream_table.count || store_slot_length(slot) < 4)
        return 0;
    return int16_t(read_le16(stream_table.pool + stream_table.offset[slot] + 2));
}

int catalog_begin(CatalogCursor* cursor, int16_t* version)
{
    int32_t slot = stream_table.catalog_slot;
    if (slot < 0 || slot >= stream_table.count)
        return -1;
    const uint8_t* c = stream_table.pool + stream_table.offset[slot];
    size_t length = size_t(store_slot_length(slot));
    if (length < 8)
        return -1;
    *version = int16_t(read_le16(c + 2));
    int32_t count = int32_t(read_le32(c + 4));
    if (count <= 0)
        return -1;
    // The first value is the header size: 16 from version 5 on, 8 in version 4.
    uint16_t header = read_le16(c);
    size_t first = header == 8 || header == 16 ? header : 16;
    *cursor = CatalogCursor{c, length, first, count, 0};
    return 0;
}

int catalog_next(CatalogCursor* cursor, CatalogEntry* entry)
{
    if (cursor->remaining <= 0)
        return 0;
    ByteView v{cursor->base, cursor->length};
    size_t at = cursor->position;
    if (!view_has(v, at, 16))
        return 0;
    const uint8_t* record = v.data + at;
    // The name ends at the first character whose low byte is 0; a record whose
    // name runs to the end of the stream is broken and ends the walk.
    size_t chars = 0;
    for (;; ++chars) {
        if (!view_has(v, at + 16 + 2 * chars, 2))
            return 0;
        if (record[16 + 2 * chars] == 0)
            break;
    }
    // A character such as U+0100 ends the 8-bit name but not the stored one;
    // the record's own length (its first field) then finds the next record.
    size_t full = chars;
    while (view_has(v, at + 16 + 2 * full, 2) && read_le16(record + 16 + 2 * full) != 0)
        ++full;
    bool terminated = view_has(v, at + 16 + 2 * full, 2);
    if (!terminated)
        full = chars;
    entry->record_index = cursor->index;
    entry->stream_number = int32_t(read_le32(record + 4));
    entry->time = read_le64(record + 8);
    entry->name_utf16 = record + 16;
    entry->name_chars = int32_t(chars);
    entry->name_full_chars = int32_t(full);
    size_t kept = chars < size_t(CATALOG_NAME_BYTES - 1) ? chars : size_t(CATALOG_NAME_BYTES - 1);
    for (size_t i = 0; i < kept; ++i)
        entry->name[i] = char(record[16 + 2 * i]);
    entry->name[kept] = 0;
    size_t next = at + 20 + 2 * chars;
    if (full != chars && read_le32(record) == 20 + 2 * full)
        next = at + 20 + 2 * full;
    cursor->position = next;
    --cursor->remaining;
    ++cursor->index;
    return 1;
}

int32_t catalog_stream_slot(int32_t stream_number)
{
    if (!slot_map_built || slot_map_load != stream_table.load_count)
        build_slot_map();
    if (slot_map_used) {
        const SlotByNumber* found = find_number(stream_number);
        return found ? found->slot : -1;
    }
    // Caches whose streams are not named after their numbers: the streams
    // stand in number order, with the Catalog among them.
    int64_t slot = stream_number <= stream_table.catalog_slot ? int64_t(stream_number) - 1 : stream_number;
    return slot >= 0 && slot < stream_table.count ? int32_t(slot) : -1;
}

int catalog_lookup(const char* name, Picture* picture, FileTime* time)
{
    CatalogCursor cursor;
    int16_t version;
    if (catalog_begin(&cursor, &version) != 0)
        return -1;
    CatalogEntry entry;
    while (catalog_next(&cursor, &entry)) {
        if (time)
            *time = entry.time;
        if (ascii_stricmp(entry.name, name) == 0)
            return catalog_decode_entry(entry, version, picture);
    }
    return -1;
}

int store_slot_bytes(int32_t slot, ByteView* view)
{
    int32_t available = store_slot_length(slot);
    if (slot < 0 || available < STORE_STREAM_HEADER_BYTES)
        return -1;
    const uint8_t* t = stream_table.pool + stream_table.offset[slot];
    int64_t length = int32_t(read_le32(t + 8));
    if (length > available - STORE_STREAM_HEADER_BYTES)
        length = available - STORE_STREAM_HEADER_BYTES;
    if (length <= 0)
        return -1;
    *view = ByteView{t + STORE_STREAM_HEADER_BYTES, size_t(length)};
    return 0;
}

int catalog_entry_at(size_t position, CatalogEntry* entry)
{
    CatalogCursor cursor;
    int16_t version;
    if (catalog_begin(&cursor, &version) != 0)
        return 0;
    cursor.position = position;
    cursor.remaining = 1;
    return catalog_next(&cursor, entry);
}

void catalog_release()
{
    catalog_decode_release();
    std::free(slot_map);
    slot_map = nullptr;
    slot_map_count = 0;
    slot_map_built = false;
    slot_map_used = false;
}
