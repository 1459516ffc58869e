#include "store/explorer/thumbcache_index.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/failure.h"
#include "platform/system.h"

namespace {

constexpr uint8_t INDEX_MAGIC[4] = {'I', 'M', 'M', 'M'};

// Versions 20 and 21: signature at 0, 24-byte header.
constexpr uint32_t OLD_HEADER_BYTES = 24;
constexpr size_t OLD_VERSION_AT = 4;
constexpr size_t OLD_USED_AT = 12;
constexpr size_t OLD_SLOTS_AT = 16;
// Windows 8 and later: four unknown bytes, then the signature.
constexpr size_t NEW_VERSION_AT = 8;
constexpr size_t NEW_USED_AT = 20;
constexpr size_t NEW_SLOTS_AT = 24;
constexpr size_t NEW_FILE_TABLE_AT = 28;  // sizes[N], then counts[N], then a zero word
constexpr uint32_t V32_HEADER_BYTES = 144;
// Past this a v30/v31 header derived from the file size is not believed.
constexpr uint32_t INDEX_MAX_HEADER_BYTES = 4096;

constexpr uint64_t INDEX_RELEASE_STEP = uint64_t(8) << 20;

struct SlotLayout {
    uint32_t version;
    uint32_t slot_bytes;
    uint32_t type_count;
    uint32_t flags_bytes;   // 4 or 8
    uint32_t flags_at, offsets_at;
    int32_t modified_at;    // -1: none
};

// Version 20 (no sample) and 30/31 (no sample) rest on the published
// description; 21 and 32 are checked against real files.
constexpr SlotLayout SLOT_LAYOUTS[] = {
    {20, 40, 5, 4, 16, 20, 8},
    {21, 32, 5, 4, 8, 12, -1},
    {26, 56, 9, 8, 8, 16, -1},
    {28, 56, 9, 8, 8, 16, -1},
    {30, 56, 9, 8, 8, 16, -1},
    {31, 64, 11, 8, 8, 16, -1},
    {32, 72, 14, 8, 8, 16, -1},
};

const SlotLayout* slot_layout(uint32_t version)
{
    for (const SlotLayout& l : SLOT_LAYOUTS)
        if (l.version == version)
            return &l;
    return nullptr;
}

// What the flags say, decoded only where real files showed the meaning:
// v21 bits 19-30 width, 7-18 height, 31 no image; v32 bits 0-11 width,
// 12-23 height, 63 no image.
void decode_flags(uint32_t version, ThumbcacheIndexSlot* s)
{
    if (version == 21) {
        s->flags_decoded = 1;
        s->width = uint32_t(s->flags >> 19 & 0xFFF);
        s->height = uint32_t(s->flags >> 7 & 0xFFF);
        s->no_image = int(s->flags >> 31 & 1);
    } else if (version == 32) {
        s->flags_decoded = 1;
        s->width = uint32_t(s->flags & 0xFFF);
        s->height = uint32_t(s->flags >> 12 & 0xFFF);
        s->no_image = int(s->flags >> 63 & 1);
    }
}

int read_header(ThumbcacheIndex* x, const SlotLayout** layout)
{
    const ByteView v{x->bytes, x->size};
    const uint8_t* b = x->bytes;
    if (!view_has(v, 0, OLD_HEADER_BYTES))
        return fail("not a thumbnail cache index (too short)");
    if (std::memcmp(b, INDEX_MAGIC, 4) == 0) {
        x->signature_offset = 0;
        x->version = read_le32(b + OLD_VERSION_AT);
        x->used_count = read_le32(b + OLD_USED_AT);
        x->slot_count = read_le32(b + OLD_SLOTS_AT);
        x->header_bytes = OLD_HEADER_BYTES;
    } else if (std::memcmp(b + 4, INDEX_MAGIC, 4) == 0 && view_has(v, 0, NEW_FILE_TABLE_AT)) {
        x->signature_offset = 4;
        x->version = read_le32(b + NEW_VERSION_AT);
        x->used_count = read_le32(b + NEW_USED_AT);
        x->slot_count = read_le32(b + NEW_SLOTS_AT);
    } else {
        return fail("not a thumbnail cache index (no IMMM signature)");
    }
    *layout = slot_layout(x->version);
    // The signature's place and the version must agree.
    if (!*layout || (x->signature_offset == 0) != (x->version <= 21))
        return fail("unknown thumbnail cache index version");
    x->slot_bytes = (*layout)->slot_bytes;
    x->type_count = (*layout)->type_count;
    if (x->signature_offset == 0)
        return 0;
    // sizes[N], counts[N] and a zero word follow the slot count.
    const uint32_t with_table = uint32_t(NEW_FILE_TABLE_AT + 8 * x->type_count + 4);
    if (x->version == 32) {
        x->header_bytes = V32_HEADER_BYTES;
    } else {
        // Windows 8 headers are known only to their first 28 bytes: take
        // what the file holds before the table, if it is believable.
        const uint64_t table = uint64_t(x->slot_count) * x->slot_bytes;
        const uint64_t derived = table <= x->size ? x->size - table : 0;
        x->header_bytes = derived >= NEW_FILE_TABLE_AT && derived <= INDEX_MAX_HEADER_BYTES ? uint32_t(derived) : with_table;
    }
    if (x->header_bytes >= with_table && view_has(v, 0, with_table)) {
        x->has_file_table = 1;
        for (uint32_t t = 0; t < x->type_count; ++t) {
            x->file_sizes[t] = read_le32(b + NEW_FILE_TABLE_AT + 4 * t);
            x->file_counts[t] = read_le32(b + NEW_FILE_TABLE_AT + 4 * (x->type_count + t));
        }
    }
    return 0;
}

} // namespace

namespace {

// Takes over the bytes and reads the index in them; -1 (bytes freed) when
// they are no index this reader knows.
int read_index_image(const SourceBytes& held, const Source& pages, ThumbcacheIndex* out)
{
    out->held = held;
    out->pages = pages;
    out->bytes = held.data;
    out->size = held.size;
    const SlotLayout* layout = nullptr;
    if (read_header(out, &layout) != 0) {
        thumbcache_index_free(out);
        return -1;
    }
    const ByteView v{out->bytes, out->size};
    int32_t capacity = 0;
    uint64_t released = 0;
    for (uint64_t i = 0; i < out->slot_count; ++i) {
        const uint64_t at = out->header_bytes + i * layout->slot_bytes;
        // The slots are copied out: pages read are given back as the table
        // is walked, so a large table stays out of memory.
        if (at >= released + INDEX_RELEASE_STEP) {
            source_release(out->pages, released, at - released);
            released = at;
        }
        if (!view_has(v, size_t(at), layout->slot_bytes) || out->count >= THUMBCACHE_MAX_INDEX_SLOTS) {
            out->slots_truncated = 1;
            break;
        }
        const uint8_t* p = out->bytes + at;
        const uint64_t hash = read_le64(p);
        if (hash == 0)  // empty; older versions leave stale offsets behind
            continue;
        if (out->count == capacity) {
            const int32_t grown = std::min(capacity ? capacity * 2 : 64, THUMBCACHE_MAX_INDEX_SLOTS);
            void* q = std::realloc(out->slots, size_t(grown) * sizeof(ThumbcacheIndexSlot));
            if (!q) {
                out->slots_truncated = 1;
                break;
            }
            out->slots = static_cast<ThumbcacheIndexSlot*>(q);
            capacity = grown;
        }
        ThumbcacheIndexSlot& s = out->slots[out->count++];
        s = ThumbcacheIndexSlot{};
        s.slot = int32_t(i);
        s.hash = hash;
        s.flags = layout->flags_bytes == 8 ? read_le64(p + layout->flags_at) : read_le32(p + layout->flags_at);
        if (layout->modified_at >= 0)
            s.modified = read_le64(p + layout->modified_at);
        for (uint32_t t = 0; t < THUMBCACHE_MAX_TYPES; ++t)
            s.offsets[t] = t < layout->type_count ? read_le32(p + layout->offsets_at + 4 * t) : THUMBCACHE_NO_OFFSET;
        decode_flags(out->version, &s);
    }
    source_release(out->pages, 0, out->size);
    failure_clear();
    return 0;
}

} // namespace

namespace {

} // namespace

int thumbcache_index_read(ByteView view, ThumbcacheIndex* out)
{
    // A copy: the caller's bytes may go before the index does.
    *out = ThumbcacheIndex{};
    if (uint64_t(view.length) > THUMBCACHE_MAX_FILE_BYTES)
        return fail("%s", THUMBCACHE_TOO_LARGE);
    SourceBytes held{};
    held.copy = static_cast<uint8_t*>(std::malloc(view.length ? view.length : 1));
    if (!held.copy)
        return fail("%s", source_whole_text(SOURCE_WHOLE_NO_MEMORY));
    if (view.length)
        std::memcpy(held.copy, view.data, view.length);
    held.data = held.copy;
    held.size = view.length;
    return read_index_image(held, Source{}, out);
}

int thumbcache_index_read_source(const Source& source, ThumbcacheIndex* out)
{
    *out = ThumbcacheIndex{};
    SourceBytes held;
    Source pages;
    if (thumbcache_hold_source(source, &held, &pages) != 0)
        return -1;
    return read_index_image(held, pages, out);
}

int thumbcache_index_load(const char* path, ThumbcacheIndex* out)
{
    failure_clear();
    *out = ThumbcacheIndex{};
    SourceBytes held;
    Source pages;
    if (thumbcache_hold_file(path, &held, &pages) != 0 || read_index_image(held, pages, out) != 0)
        return failure_concerns(path);
    return 0;
}

void thumbcache_index_free(ThumbcacheIndex* index)
{
    source_whole_free(&index->held);
    std::free(index->slots);
    *index = ThumbcacheIndex{};
}

int thumbcache_link(const ThumbcacheIndex* index, const ThumbcacheFile* const* files, int32_t file_count,
                    ThumbcacheLinks* out)
{
    *out = ThumbcacheLinks{};
    // Slots by hash, for lookups of each entry.
    std::vector<int32_t> by_hash(size_t(index->count));
    for (int32_t i = 0; i < index->count; ++i)
        by_hash[size_t(i)] = i;
    std::stable_sort(by_hash.begin(), by_hash.end(),
                     [&](int32_t a, int32_t b) { return index->slots[a].hash < index->slots[b].hash; });
    auto find_slot = [&](uint64_t hash) -> int32_t {
        auto it = std::lower_bound(by_hash.begin(), by_hash.end(), hash,
                                   [&](int32_t s, uint64_t h) { return index->slots[s].hash < h; });
        return it != by_hash.end() && index->slots[*it].hash == hash ? *it : -1;
    };
    // The file that stands for each cache type of the index's version.
    int32_t file_of_type[THUMBCACHE_MAX_TYPES];
    std::fill(file_of_type, file_of_type + THUMBCACHE_MAX_TYPES, -1);
    int64_t total = 0;
    for (int32_t f = 0; f < file_count; ++f) {
        total += files[f]->count;
        const uint32_t t = files[f]->cache_type;
        if (files[f]->version == index->version && t < index->type_count && file_of_type[t] < 0)
            file_of_type[t] = f;
    }

    std::vector<ThumbcacheEntryLink> links;
    std::vector<int32_t> unknown;
    std::vector<ThumbcacheDangling> dangling;
    try {
        links.reserve(size_t(total));
        for (int32_t f = 0; f < file_count; ++f)
            for (int32_t e = 0; e < files[f]->count; ++e) {
                const ThumbcacheEntry& entry = files[f]->entries[e];
                ThumbcacheEntryLink link{f, e, find_slot(entry.hash), 0, 0};
                if (link.slot < 0) {
                    unknown.push_back(int32_t(links.size()));
                } else {
                    const ThumbcacheIndexSlot& s = index->slots[link.slot];
                    for (uint32_t t = 0; t < index->type_count; ++t)
                        if (s.offsets[t] != 0 && s.offsets[t] != THUMBCACHE_NO_OFFSET)
                            link.buckets |= 1u << t;
                    const uint32_t t = files[f]->cache_type;
                    link.at_indexed_offset = files[f]->version == index->version && t < index->type_count &&
                                             s.offsets[t] == entry.offset;
                }
                links.push_back(link);
            }
        for (int32_t i = 0; i < index->count; ++i) {
            const ThumbcacheIndexSlot& s = index->slots[i];
            for (uint32_t t = 0; t < index->type_count; ++t) {
                const int32_t f = file_of_type[t];
                if (f < 0 || s.offsets[t] == 0 || s.offsets[t] == THUMBCACHE_NO_OFFSET)
                    continue;
                // Entries are in offset order.
                const ThumbcacheFile& file = *files[f];
                const ThumbcacheEntry* end = file.entries + file.count;
                const ThumbcacheEntry* hit = std::lower_bound(
                    static_cast<const ThumbcacheEntry*>(file.entries), end, s.offsets[t],
                    [](const ThumbcacheEntry& e, uint32_t offset) { return e.offset < offset; });
                if (hit != end && hit->offset == s.offsets[t] && hit->hash == s.hash)
                    continue;
                const bool nothing = hit == end || hit->offset != s.offsets[t];
                dangling.push_back(ThumbcacheDangling{
                    i, t, s.offsets[t], f, nothing ? THUMBCACHE_NOTHING_AT_OFFSET : THUMBCACHE_OTHER_HASH_AT_OFFSET});
            }
        }
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    }
    auto copy_out = [](const auto& from, auto** to, int32_t* count) {
        using T = typename std::decay_t<decltype(from)>::value_type;
        *count = int32_t(from.size());
        *to = static_cast<T*>(std::malloc(from.size() ? from.size() * sizeof(T) : 1));
        if (*to && !from.empty())
            std::memcpy(*to, from.data(), from.size() * sizeof(T));
        return *to != nullptr;
    };
    if (!copy_out(links, &out->entries, &out->entry_count) || !copy_out(unknown, &out->unknown, &out->unknown_count) ||
        !copy_out(dangling, &out->dangling, &out->dangling_count)) {
        thumbcache_links_free(out);
        return fail("out of memory");
    }
    return 0;
}

void thumbcache_links_free(ThumbcacheLinks* links)
{
    std::free(links->entries);
    std::free(links->unknown);
    std::free(links->dangling);
    *links = ThumbcacheLinks{};
}
