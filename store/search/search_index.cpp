#include "store/search/search_index.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/failure.h"
#include "platform/system.h"
#include "store/explorer/thumbcache.h"

SearchIndexKind search_index_kind(const uint8_t* head, size_t size)
{
    // ESE: a checksum, then the signature 0x89ABCDEF; file type 0 is a database.
    if (size >= 16 && head[4] == 0xEF && head[5] == 0xCD && head[6] == 0xAB && head[7] == 0x89 && head[12] == 0 &&
        head[13] == 0 && head[14] == 0 && head[15] == 0)
        return SEARCH_INDEX_ESE;
    if (size >= 16 && std::memcmp(head, "SQLite format 3", 16) == 0)
        return SEARCH_INDEX_SQLITE;
    return SEARCH_INDEX_NEITHER;
}

namespace {

int load_index(const char* path, SearchIndex* out)
{
    std::FILE* file = sys_fopen(path, "rb");
    if (!file)
        return fail("cannot open the file");
    uint8_t head[16] = {};
    const size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    int result;
    switch (search_index_kind(head, got)) {
    case SEARCH_INDEX_ESE:
        result = search_index_load_ese(path, out);
        out->kind = SEARCH_INDEX_ESE;
        break;
    case SEARCH_INDEX_SQLITE:
        result = search_index_load_sqlite(path, out);
        out->kind = SEARCH_INDEX_SQLITE;
        break;
    default:
        return fail("neither an ESE nor an SQLite database");
    }
    if (result != 0) {
        search_index_free(out);
        return -1;
    }
    if (out->count == 0) {
        search_index_free(out);
        return fail("no item has both a ThumbnailCacheId and a path");
    }
    std::qsort(out->items, size_t(out->count), sizeof *out->items, [](const void* a, const void* b) {
        const SearchIndexItem* x = static_cast<const SearchIndexItem*>(a);
        const SearchIndexItem* y = static_cast<const SearchIndexItem*>(b);
        if (x->hash != y->hash)
            return x->hash < y->hash ? -1 : 1;
        return x->work_id < y->work_id ? -1 : x->work_id > y->work_id ? 1 : 0;
    });
    return 0;
}

} // namespace

int search_index_load(const char* path, SearchIndex* out)
{
    std::memset(out, 0, sizeof *out);
    failure_clear();
    return load_index(path, out) == 0 ? 0 : failure_concerns(path);
}

void search_index_count_volume_id(SearchIndex* index, const void* value, size_t size, int32_t count)
{
    if (!value || size != 16) {
        index->volume_ids_passed_over += count;
        return;
    }
    for (int32_t i = 0; i < index->volume_id_count; ++i)
        if (std::memcmp(index->volume_ids[i].guid, value, 16) == 0) {
            index->volume_ids[i].items += count;
            return;
        }
    if (index->volume_id_count == SEARCH_INDEX_MAX_VOLUME_IDS) {
        index->volume_ids_passed_over += count;
        return;
    }
    SearchIndexVolumeId& v = index->volume_ids[index->volume_id_count++];
    std::memcpy(v.guid, value, 16);
    v.items = count;
}

void search_index_free(SearchIndex* index)
{
    std::free(index->items);
    std::free(index->text);
    std::memset(index, 0, sizeof *index);
}

const SearchIndexItem* search_index_find(const SearchIndex* index, uint64_t hash)
{
    if (!index)
        return nullptr;
    int32_t low = 0, high = index->count;  // first item with hash >= the one asked for
    while (low < high) {
        const int32_t mid = low + (high - low) / 2;
        if (index->items[mid].hash < hash)
            low = mid + 1;
        else
            high = mid;
    }
    return low < index->count && index->items[low].hash == hash ? &index->items[low] : nullptr;
}

const char* search_index_lookup(const SearchIndex* index, uint64_t hash)
{
    const SearchIndexItem* item = search_index_find(index, hash);
    return item ? index->text + item->path : nullptr;
}

const char* search_index_leaf(const char* path)
{
    const char* leaf = path;
    for (const char* p = path; *p; p++)
        if (*p == '\\' || *p == '/')
            leaf = p + 1;
    return leaf;
}

int search_index_name_matches(const char* stored, const char* property)
{
    const char* dash = std::strchr(stored, '-');
    if (dash && dash > stored) {
        for (const char* p = stored; p < dash; p++)
            if (!((*p >= '0' && *p <= '9') || (*p >= 'A' && *p <= 'F') || (*p >= 'a' && *p <= 'f')))
                return std::strcmp(stored, property) == 0;
        stored = dash + 1;
    }
    return std::strcmp(stored, property) == 0;
}

// Room for `bytes` more bytes of text; the first text byte is the empty
// string every missing name points at.
static int reserve_text(SearchIndex* index, size_t bytes)
{
    if (index->text_size == 0) {
        index->text_capacity = 1 << 16;
        index->text = static_cast<char*>(std::malloc(index->text_capacity));
        if (!index->text)
            return -1;
        index->text[0] = 0;
        index->text_size = 1;
    }
    if (bytes > SEARCH_INDEX_MAX_TEXT_BYTES - index->text_size)
        return -1;
    if (index->text_size + bytes > index->text_capacity) {
        size_t capacity = index->text_capacity;
        while (capacity < index->text_size + bytes)
            capacity *= 2;
        char* grown = static_cast<char*>(std::realloc(index->text, capacity));
        if (!grown)
            return -1;
        index->text = grown;
        index->text_capacity = capacity;
    }
    return 0;
}

// Appends UTF-8, each invalid byte replaced by U+FFFD, and a NUL; returns the
// offset. Room for 3 bytes per input byte and the NUL must be reserved.
static uint32_t append_utf8(SearchIndex* index, const char* text, size_t bytes)
{
    const uint32_t start = uint32_t(index->text_size);
    char* out = index->text + index->text_size;
    const uint8_t* s = reinterpret_cast<const uint8_t*>(text);
    for (size_t i = 0; i < bytes;) {
        const uint8_t c = s[i];
        int len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        bool ok = len > 0 && i + size_t(len) <= bytes && c != 0;
        for (int k = 1; ok && k < len; k++)
            ok = (s[i + size_t(k)] & 0xC0) == 0x80;
        if (ok && len > 1) {
            // Overlong forms, surrogates and values past U+10FFFF are not characters.
            uint32_t v = c & (0x7F >> len);
            for (int k = 1; k < len; k++)
                v = v << 6 | (s[i + size_t(k)] & 0x3F);
            static constexpr uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
            ok = v >= least[len] && v <= 0x10FFFF && !(v >= 0xD800 && v < 0xE000);
        }
        if (ok) {
            std::memcpy(out, s + i, size_t(len));
            out += len;
            i += size_t(len);
        } else {
            std::memcpy(out, "\xEF\xBF\xBD", 3);
            out += 3;
            i++;
        }
    }
    *out++ = 0;
    index->text_size = size_t(out - index->text);
    return start;
}

// UTF-16 units the UTF-8 text would take (invalid bytes count one each).
static size_t utf16_units(const char* text, size_t bytes)
{
    size_t units = 0;
    for (size_t i = 0; i < bytes; i++) {
        const uint8_t c = uint8_t(text[i]);
        if ((c & 0xC0) != 0x80)
            units += c >= 0xF0 ? 2 : 1;
    }
    return units;
}

int search_index_add(SearchIndex* index, uint64_t hash, uint64_t work_id, const char* path, size_t path_bytes,
                     const char* name, size_t name_bytes, int has_time, uint64_t filetime)
{
    while (path_bytes > 0 && path[path_bytes - 1] == 0)
        path_bytes--;
    while (name_bytes > 0 && name[name_bytes - 1] == 0)
        name_bytes--;
    if (path_bytes == 0) {
        index->without_path++;
        return 0;
    }
    // Cheap test first: a path of more than 4 bytes per unit is over in any case.
    if (path_bytes > size_t(SEARCH_INDEX_MAX_PATH_UNITS) * 4 ||
        utf16_units(path, path_bytes) > size_t(SEARCH_INDEX_MAX_PATH_UNITS)) {
        index->long_paths++;
        return 0;
    }
    if (name_bytes > size_t(SEARCH_INDEX_MAX_PATH_UNITS) * 4 ||
        utf16_units(name, name_bytes) > size_t(SEARCH_INDEX_MAX_PATH_UNITS))
        name_bytes = 0;  // the name is only a convenience: the path stands
    if (index->count >= SEARCH_INDEX_MAX_ITEMS || reserve_text(index, 3 * (path_bytes + name_bytes) + 2) != 0) {
        index->truncated = 1;
        return -1;
    }
    if (index->count == index->capacity) {
        const int32_t capacity = index->capacity ? index->capacity * 2 : 1024;
        SearchIndexItem* grown =
            static_cast<SearchIndexItem*>(std::realloc(index->items, size_t(capacity) * sizeof *grown));
        if (!grown) {
            index->truncated = 1;
            return -1;
        }
        index->items = grown;
        index->capacity = capacity;
    }
    SearchIndexItem* item = &index->items[index->count++];
    item->hash = hash;
    item->work_id = work_id;
    item->path = append_utf8(index, path, path_bytes);
    item->name = name_bytes ? append_utf8(index, name, name_bytes) : 0;
    item->has_time = has_time;
    item->filetime = has_time ? filetime : 0;
    return 0;
}

long search_index_utf16_to_utf8(const uint8_t* text, size_t bytes, char* out)
{
    if (bytes >= 2 && text[bytes - 2] == 0 && text[bytes - 1] == 0)
        bytes -= 2;
    // Checked before converting, so the caller's buffer stays bounded.
    if (bytes > size_t(SEARCH_INDEX_MAX_PATH_UNITS) * 2)
        return -1;
    return thumbcache_identifier_utf8(ByteView{text, bytes}, out, int32_t(bytes / 2 * 3 + 1));
}

int search_index_add_utf16(SearchIndex* index, uint64_t hash, uint64_t work_id, const uint8_t* path,
                           size_t path_bytes, const char* name, size_t name_bytes, int has_time, uint64_t filetime)
{
    static char path_utf8[size_t(SEARCH_INDEX_MAX_PATH_UNITS) * 3 + 1];
    const long path_len = path ? search_index_utf16_to_utf8(path, path_bytes, path_utf8) : 0;
    if (path_len < 0) {
        index->long_paths++;
        return 0;
    }
    return search_index_add(index, hash, work_id, path_utf8, size_t(path_len), name, name_bytes, has_time, filetime);
}
