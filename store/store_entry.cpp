#include "store/store_entry.h"

#include <cstring>

#include "picture/picture.h"
#include "store/thumbsdb/catalog.h"
#include "store/thumbsdb/compound_file.h"
#include "store/thumbsdb/hashed_streams.h"
#include "store/explorer/thumbcache.h"

StoreEntry store_entry_none() { return StoreEntry{STORE_ENTRY_NONE, -1, -1, nullptr, ByteView{nullptr, 0}, 0, 0}; }

StoreEntry store_entry_catalog(const CatalogEntry& record, int16_t version)
{
    StoreEntry e = store_entry_none();
    e.kind = version >= STORE_FILE_CATALOG_VERSION ? STORE_ENTRY_CATALOG : STORE_ENTRY_CATALOG_OLD;
    e.record = record.record_index;
    e.slot = catalog_stream_slot(record.stream_number);
    if (store_slot_bytes(e.slot, &e.payload) != 0)
        e.payload = ByteView{nullptr, 0};
    return e;
}

StoreEntry store_entry_stream(int32_t slot)
{
    StoreEntry e = store_entry_none();
    e.kind = STORE_ENTRY_STREAM;
    e.slot = slot;
    const uint8_t* data;
    int32_t length;
    if (hashed_stream_payload(slot, &data, &length) == 0)
        e.payload = ByteView{data, size_t(length)};
    if (slot >= 0 && slot < stream_table.count)
        e.has_hash = hashed_stream_hash(stream_table.slot_name[slot], &e.hash) == 0;
    return e;
}

StoreEntry store_entry_explorer(const ThumbcacheFile* file, int32_t record)
{
    StoreEntry e = store_entry_none();
    if (!file || record < 0 || record >= file->count)
        return e;
    e.kind = STORE_ENTRY_EXPLORER;
    e.record = record;
    e.file = file;
    e.payload = file->entries[record].payload;
    e.has_hash = 1;
    e.hash = file->entries[record].hash;
    return e;
}

void store_entry_forget_bytes(StoreEntry* entry)
{
    entry->payload = ByteView{nullptr, 0};
    entry->file = nullptr;
}

void store_entry_release(const StoreEntry& entry)
{
    if (entry.kind == STORE_ENTRY_EXPLORER && entry.file)
        thumbcache_entry_release(*entry.file, entry.record);
}

const ThumbcacheEntry* store_entry_record(const StoreEntry& entry)
{
    return entry.kind == STORE_ENTRY_EXPLORER && entry.file ? &entry.file->entries[entry.record] : nullptr;
}

int store_entry_stored_size(const StoreEntry& entry, int32_t* width, int32_t* height)
{
    const ByteView p = entry.payload;
    int32_t w = 0, h = 0;
    if (entry.kind == STORE_ENTRY_CATALOG_OLD) {
        // Stream byte 30: SOF0, its length, the precision, then height and width.
        const int32_t available = store_slot_length(entry.slot);
        const uint8_t* s = available > 0 ? stream_table.pool + stream_table.offset[entry.slot] : nullptr;
        if (p.length > 0 && available >= 39 && s[30] == 0xFF && s[31] == 0xC0) {
            h = read_be16(s + 35);
            w = read_be16(s + 37);
        }
    } else if (p.length > 0 && p.length <= size_t(INT32_MAX)) {
        picture_probe(p.data, int32_t(p.length), &w, &h);
        if (h < 0 && h != INT32_MIN)
            h = -h;  // a top-down BMP
    }
    const ThumbcacheEntry* record = store_entry_record(entry);
    if ((w <= 0 || h <= 0) && record && record->has_dimensions && record->width <= uint32_t(INT32_MAX) &&
        record->height <= uint32_t(INT32_MAX)) {
        w = int32_t(record->width);
        h = int32_t(record->height);
    }
    if (w <= 0 || h <= 0)
        return -1;
    *width = w;
    *height = h;
    return 0;
}

const char* store_format_extension(const char* format_name)
{
    if (std::strcmp(format_name, "jpeg") == 0)
        return "jpg";
    if (std::strcmp(format_name, "unknown") == 0 || std::strcmp(format_name, "-") == 0 || !*format_name)
        return "bin";
    return format_name;
}

const char* store_entry_extension(const StoreEntry& entry)
{
    if (entry.payload.length == 0 || entry.payload.length > size_t(INT32_MAX))
        return "bin";
    return store_format_extension(picture_format_name(entry.payload.data, int32_t(entry.payload.length)));
}
