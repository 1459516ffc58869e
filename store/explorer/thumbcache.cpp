#include "store/explorer/thumbcache.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/failure.h"
#include "platform/system.h"
#include "store/explorer/crc64.h"

namespace {

constexpr uint8_t CACHE_MAGIC[4] = {'C', 'M', 'M', 'M'};
constexpr uint8_t INDEX_MAGIC[4] = {'I', 'M', 'M', 'M'};

// File header, 24 bytes in every version.
constexpr size_t CACHE_HEADER_BYTES = 24;
constexpr size_t CACHE_VERSION_AT = 4;
constexpr size_t CACHE_TYPE_AT = 8;
// Versions 20 and 21.
constexpr size_t OLD_FIRST_ENTRY_AT = 12;
constexpr size_t OLD_FIRST_AVAILABLE_AT = 16;
constexpr size_t OLD_COUNT_AT = 20;
// Windows 8 and later put an unknown word at 12 and dropped the count.
constexpr size_t NEW_FIRST_ENTRY_AT = 16;
constexpr size_t NEW_FIRST_AVAILABLE_AT = 20;

// Every record starts with the magic, its size and the hash.
constexpr size_t ENTRY_SIZE_AT = 4;
constexpr size_t ENTRY_HASH_AT = 8;

struct EntryLayout {
    uint32_t fixed;  // bytes before the identifier
    uint32_t id_size_at, padding_at, data_size_at;
    int32_t width_at, height_at;  // -1: no such field
    uint32_t data_checksum_at, header_checksum_at;  // the header checksum covers the bytes before it
};

// Vista (20): a UTF-16 file extension at 16..23 moves the sizes back by 8.
// No Vista file has been seen; this layout rests on the published
// description alone.
constexpr EntryLayout LAYOUT_V20 = {56, 24, 28, 32, -1, -1, 40, 48};
// Windows 7 (21), checked against real files.
constexpr EntryLayout LAYOUT_V21 = {48, 16, 20, 24, -1, -1, 32, 40};
// Windows 8 and later. Width and height at 28 and 32 are checked on version
// 32 files only; for 26 to 31 they rest on the documents.
constexpr EntryLayout LAYOUT_V30 = {56, 16, 20, 24, 28, 32, 40, 48};

constexpr const char* BUCKETS_V21[] = {"32", "96", "256", "1024", "sr"};
// 26 and 28 are named only by one template: taken as the 8.0 family.
constexpr const char* BUCKETS_V30[] = {"16", "32", "48", "96", "256", "1024", "sr", "wide", "exif"};
constexpr const char* BUCKETS_V31[] = {"16", "32", "48", "96", "256", "1024", "1600", "sr", "wide", "exif", "wide_alternate"};
// sr = 9 and wide = 10 as real files name them (one published pattern swaps them).
constexpr const char* BUCKETS_V32[] = {"16", "32", "48", "96", "256", "768", "1280", "1920", "2560", "sr", "wide", "exif",
                                       "wide_alternate", "custom_stream"};
static_assert(sizeof BUCKETS_V32 / sizeof *BUCKETS_V32 == THUMBCACHE_MAX_TYPES, "index offsets follow the v32 table");

bool is_old_version(uint32_t version) { return version == 20 || version == 21; }

bool is_known_version(uint32_t version)
{
    // Any version from 30 on keeps the Windows 8 record layout so far.
    return is_old_version(version) || version == 26 || version == 28 || version >= 30;
}

const EntryLayout& layout_for(uint32_t version)
{
    return version == 20 ? LAYOUT_V20 : version == 21 ? LAYOUT_V21 : LAYOUT_V30;
}

struct Walk {
    ThumbcacheFile* file;
    ByteView view;
    const EntryLayout* layout;
    int32_t capacity;
    size_t released;  // pages before this offset have been given back
};

// The walk gives back the pages behind it in steps of this many bytes: what
// stays resident of a file of gigabytes is a few steps, not the file.
constexpr size_t RELEASE_STEP = size_t(8) << 20;

// The resynchronising scan looks for a record's magic this far at a time.
constexpr size_t SCAN_STEP = size_t(1) << 20;

void release_behind(Walk* w, size_t at)
{
    if (at < w->released + RELEASE_STEP)
        return;
    source_release(w->file->pages, w->released, at - w->released);
    w->released = at;
}

// One record as read at an offset: every field checked against the file
// and against the record's own size before it is used.
struct Record {
    uint32_t size;
    uint64_t hash;
    uint32_t id_size, padding, data_size;
    uint64_t checksum_stored, checksum_computed;
};

int read_record(const Walk& w, size_t at, Record* r)
{
    const EntryLayout& l = *w.layout;
    if (!view_has(w.view, at, l.fixed))
        return -1;
    const uint8_t* p = w.view.data + at;
    if (std::memcmp(p, CACHE_MAGIC, 4) != 0)
        return -1;
    r->size = read_le32(p + ENTRY_SIZE_AT);
    if (r->size < l.fixed || !view_has(w.view, at, r->size))
        return -1;
    r->hash = read_le64(p + ENTRY_HASH_AT);
    r->id_size = read_le32(p + l.id_size_at);
    r->padding = read_le32(p + l.padding_at);
    r->data_size = read_le32(p + l.data_size_at);
    // 64-bit sum: three 32-bit sizes cannot wrap it.
    if (uint64_t(r->id_size) + r->padding + r->data_size > r->size - l.fixed)
        return -1;
    r->checksum_stored = read_le64(p + l.header_checksum_at);
    r->checksum_computed = crc64_ms(p, l.header_checksum_at, CRC64_MS_HEADER_INIT);
    return 0;
}

// The free-space record: no hash, no identifier, no data; its size runs to
// the end of the file, so it must not be stepped over by its size.
bool is_free_record(const Record& r) { return r.hash == 0 && r.id_size == 0 && r.padding == 0 && r.data_size == 0; }

// The next offset in [from, stop) holding a well-formed record whose header
// checksum verifies; stop when there is none. It reads a step at a time and
// gives back what it has passed.
size_t next_verified(Walk* w, size_t from, size_t stop)
{
    if (stop > w->view.length)
        stop = w->view.length;
    for (size_t at = from; at < stop;) {
        const size_t step = stop - at < SCAN_STEP ? stop - at : SCAN_STEP;
        const void* hit = std::memchr(w->view.data + at, 'C', step);
        if (!hit) {
            at += step;
            release_behind(w, at);
            continue;
        }
        at = size_t(static_cast<const uint8_t*>(hit) - w->view.data);
        Record r;
        if (read_record(*w, at, &r) == 0 && r.checksum_stored == r.checksum_computed)
            return at;
        ++at;
    }
    return stop;
}

// The identifier in the file's name blocks, else the view itself.
ByteView copy_identifier(ThumbcacheFile* f, ByteView id)
{
    if (id.length == 0 || id.length > THUMBCACHE_COPIED_IDENTIFIER_BYTES)
        return id;
    if (f->name_blocks == 0 || f->name_used + id.length > THUMBCACHE_NAME_BLOCK_BYTES) {
        if (f->name_blocks == THUMBCACHE_NAME_BLOCKS)
            return id;
        uint8_t* block = static_cast<uint8_t*>(std::malloc(THUMBCACHE_NAME_BLOCK_BYTES));
        if (!block)
            return id;
        f->names[f->name_blocks++] = block;
        f->name_used = 0;
    }
    uint8_t* to = f->names[f->name_blocks - 1] + f->name_used;
    std::memcpy(to, id.data, id.length);
    f->name_used += id.length;
    return ByteView{to, id.length};
}

int add_entry(Walk* w, size_t at, const Record& r, int recovered)
{
    ThumbcacheFile* f = w->file;
    if (f->count >= THUMBCACHE_MAX_ENTRIES) {
        f->entries_truncated = 1;
        return -1;
    }
    if (f->count == w->capacity) {
        int32_t grown = w->capacity ? w->capacity * 2 : 64;
        if (grown > THUMBCACHE_MAX_ENTRIES)
            grown = THUMBCACHE_MAX_ENTRIES;
        void* p = std::realloc(f->entries, size_t(grown) * sizeof(ThumbcacheEntry));
        if (!p) {
            f->entries_truncated = 1;
            return -1;
        }
        f->entries = static_cast<ThumbcacheEntry*>(p);
        w->capacity = grown;
    }
    const EntryLayout& l = *w->layout;
    const uint8_t* p = w->view.data + at;
    ThumbcacheEntry& e = f->entries[f->count++];
    e = ThumbcacheEntry{};
    e.offset = at;
    e.entry_size = r.size;
    e.hash = r.hash;
    e.identifier = copy_identifier(f, ByteView{p + l.fixed, r.id_size});
    e.padding_size = r.padding;
    e.data_size = r.data_size;
    // The data follows identifier and padding; the record may end in up to
    // seven zero bytes after it, so it is never taken from the record's end.
    ByteView data{p + l.fixed + r.id_size + r.padding, r.data_size};
    e.payload = r.data_size > THUMBCACHE_MAX_PAYLOAD_BYTES ? ByteView{data.data, 0} : data;
    if (l.width_at >= 0) {
        e.has_dimensions = 1;
        e.width = read_le32(p + l.width_at);
        e.height = read_le32(p + l.height_at);
    }
    e.data_checksum = read_le64(p + l.data_checksum_at);
    e.header_checksum_stored = r.checksum_stored;
    e.header_checksum_computed = r.checksum_computed;
    e.header_checksum_ok = r.checksum_stored == r.checksum_computed;
    e.recovered = recovered;
    return 0;
}

// Walks [from, stop). On the chain each record leads to the next by its
// size; once the chain fails (or off the chain from the start) only records
// whose header checksum verifies are trusted as a new starting point, and
// what follows them is recovered. Offsets only grow, so the walk ends.
// Returns where it stopped.
size_t walk(Walk* w, size_t at, size_t stop, bool on_chain)
{
    ThumbcacheFile* f = w->file;
    bool intact = on_chain;
    if (!on_chain)
        at = next_verified(w, at, stop);
    while (at < stop) {
        release_behind(w, at);
        Record r;
        if (read_record(*w, at, &r) == 0) {
            if (is_free_record(r)) {
                if (at == f->first_available_offset && f->free_record_offset < 0)
                    f->free_record_offset = int64_t(at);
                intact = false;
                at = next_verified(w, at + w->layout->fixed, stop);
                continue;
            }
            if (add_entry(w, at, r, !intact) != 0)
                return stop;
            at += r.size;
            continue;
        }
        if (intact && f->chain_break_offset < 0)
            f->chain_break_offset = int64_t(at);
        intact = false;
        at = next_verified(w, at + 1, stop);
    }
    return at;
}

} // namespace

ThumbcacheKind thumbcache_kind(ByteView bytes)
{
    if (view_has(bytes, 0, CACHE_HEADER_BYTES) && std::memcmp(bytes.data, CACHE_MAGIC, 4) == 0)
        return THUMBCACHE_CACHE;
    // Windows 8 and later write the index signature at 4, older ones at 0.
    if (view_has(bytes, 0, CACHE_HEADER_BYTES) &&
        (std::memcmp(bytes.data, INDEX_MAGIC, 4) == 0 || std::memcmp(bytes.data + 4, INDEX_MAGIC, 4) == 0))
        return THUMBCACHE_INDEX;
    return THUMBCACHE_NEITHER;
}

ThumbcacheKind thumbcache_source_kind(const Source& source)
{
    uint8_t head[64] = {};
    const size_t n = source.size < sizeof head ? size_t(source.size) : sizeof head;
    if (source_read(source, 0, head, n) != 0)
        return THUMBCACHE_NEITHER;
    return thumbcache_kind(ByteView{head, n});
}

ThumbcacheKind thumbcache_file_kind(const char* path)
{
    Source file;
    if (source_open_file(path, &file) != 0)
        return THUMBCACHE_NEITHER;
    const ThumbcacheKind kind = thumbcache_source_kind(file);
    source_close(&file);
    return kind;
}

uint64_t thumbcache_data_checksum(ByteView data)
{
    const size_t head = data.length < THUMBCACHE_DATA_HEAD_BYTES ? data.length : THUMBCACHE_DATA_HEAD_BYTES;
    uint64_t sampled = 0;
    for (size_t at = THUMBCACHE_DATA_HEAD_BYTES; view_has(data, at, 4); at += THUMBCACHE_DATA_SAMPLE_STEP)
        sampled = crc64_ms(data.data + at, 4, sampled);
    return crc64_ms(data.data, head, 0) ^ sampled;
}

ThumbcacheCheck thumbcache_data_check(ByteView data, uint64_t stored)
{
    if (data.length > THUMBCACHE_DATA_HEAD_BYTES) {
        const size_t cut = (data.length - THUMBCACHE_DATA_HEAD_BYTES) % THUMBCACHE_DATA_SAMPLE_STEP;
        if (cut >= 1 && cut <= 3)
            return THUMBCACHE_CHECK_UNVERIFIED;
    }
    return thumbcache_data_checksum(data) == stored ? THUMBCACHE_CHECK_OK : THUMBCACHE_CHECK_BAD;
}

const char* thumbcache_check_name(ThumbcacheCheck check)
{
    switch (check) {
    case THUMBCACHE_CHECK_OK: return "ok";
    case THUMBCACHE_CHECK_BAD: return "bad";
    case THUMBCACHE_CHECK_UNVERIFIED: break;
    }
    return "unverified";
}

const char* thumbcache_bucket_name(uint32_t version, uint32_t cache_type)
{
    const char* const* table = nullptr;
    size_t count = 0;
    auto use = [&](const auto& t) {
        table = t;
        count = sizeof t / sizeof *t;
    };
    if (is_old_version(version))
        use(BUCKETS_V21);
    else if (version == 26 || version == 28 || version == 30)
        use(BUCKETS_V30);
    else if (version == 31)
        use(BUCKETS_V31);
    else if (version == 32)
        use(BUCKETS_V32);
    return table && cache_type < count ? table[cache_type] : nullptr;
}

namespace {

// 0 when the bytes start like a cache file this reader knows.
int check_header(ByteView view)
{
    if (uint64_t(view.length) > THUMBCACHE_MAX_FILE_BYTES)
        return fail("%s", THUMBCACHE_TOO_LARGE);
    if (!view_has(view, 0, CACHE_HEADER_BYTES) || std::memcmp(view.data, CACHE_MAGIC, 4) != 0)
        return fail("not a thumbnail cache (no CMMM header)");
    if (!is_known_version(read_le32(view.data + CACHE_VERSION_AT)))
        return fail("unknown thumbnail cache version");
    return 0;
}

// Takes over the bytes (checked by check_header) and walks them.
void read_image(const SourceBytes& held, const Source& pages, ThumbcacheFile* out)
{
    out->held = held;
    out->pages = pages;
    out->bytes = held.data;
    out->size = held.size;
    const uint8_t* h = out->bytes;
    const uint32_t version = read_le32(h + CACHE_VERSION_AT);
    out->version = version;
    out->cache_type = read_le32(h + CACHE_TYPE_AT);
    const char* bucket = thumbcache_bucket_name(version, out->cache_type);
    std::snprintf(out->bucket, sizeof out->bucket, "%s", bucket ? bucket : "?");
    if (is_old_version(version)) {
        out->first_entry_offset = read_le32(h + OLD_FIRST_ENTRY_AT);
        out->first_available_offset = read_le32(h + OLD_FIRST_AVAILABLE_AT);
        out->has_header_count = 1;
        out->header_count = read_le32(h + OLD_COUNT_AT);
    } else {
        out->first_entry_offset = read_le32(h + NEW_FIRST_ENTRY_AT);
        out->first_available_offset = read_le32(h + NEW_FIRST_AVAILABLE_AT);
    }

    Walk w{out, ByteView{out->bytes, out->size}, &layout_for(version), 0, 0};
    // The chain runs from the first entry to the first available offset. A
    // first entry outside the file ("0 if not set") leaves no chain: every
    // record is then found by scanning.
    const size_t first = out->first_entry_offset;
    size_t scan_from = CACHE_HEADER_BYTES;
    if (first >= CACHE_HEADER_BYTES && first <= out->size) {
        // Records before a first entry other than 24 are no longer on the chain.
        walk(&w, CACHE_HEADER_BYTES, first, false);
        size_t stop = out->first_available_offset;
        if (stop > out->size)
            stop = out->size;  // the chain runs to the end of the file
        if (stop < first)
            stop = first;  // no chain: everything is scanned
        const size_t reached = walk(&w, first, stop, true);
        scan_from = reached > stop ? reached : stop;
    }
    // The free-space record and everything after it: stale records there
    // are listed as recovered.
    if (!out->entries_truncated)
        walk(&w, scan_from, out->size, false);
    source_release(out->pages, w.released, out->size - w.released);
}

} // namespace

namespace {

void clear_file(ThumbcacheFile* out)
{
    *out = ThumbcacheFile{};
    out->free_record_offset = -1;
    out->chain_break_offset = -1;
}

// Checks the header and walks the bytes, which the file takes over; they
// are freed here when they are no cache.
int read_held(SourceBytes* held, const Source& pages, ThumbcacheFile* out)
{
    clear_file(out);
    if (check_header(ByteView{held->data, held->size}) != 0) {
        source_whole_free(held);
        return -1;
    }
    read_image(*held, pages, out);
    failure_clear();
    return 0;
}

} // namespace

int thumbcache_hold_source(const Source& source, SourceBytes* held, Source* pages)
{
    *held = SourceBytes{};
    *pages = Source{};
    if (!source.kind)
        return fail("%s", source_whole_text(SOURCE_WHOLE_CANNOT_OPEN));
    if (source.size > THUMBCACHE_MAX_FILE_BYTES)
        return fail("%s", THUMBCACHE_TOO_LARGE);
    if (source.mapped) {
        held->data = source.mapped;
        held->size = size_t(source.size);
        *pages = source;
        return 0;
    }
    const SourceWholeResult result = source_whole(source, THUMBCACHE_MAX_UNMAPPED_BYTES, held);
    if (result == SOURCE_WHOLE_TOO_LARGE)
        return fail("cannot be mapped, and larger than the 512 MiB read into memory instead");
    return result == SOURCE_WHOLE_OK ? 0 : fail("%s", source_whole_text(result));
}

int thumbcache_read(ByteView view, ThumbcacheFile* out)
{
    // A copy: the caller's bytes may go before the file does.
    clear_file(out);
    if (uint64_t(view.length) > THUMBCACHE_MAX_FILE_BYTES)
        return fail("%s", THUMBCACHE_TOO_LARGE);
    SourceBytes held{};
    held.copy = static_cast<uint8_t*>(std::malloc(view.length + 1));
    if (!held.copy)
        return fail("%s", source_whole_text(SOURCE_WHOLE_NO_MEMORY));
    if (view.length)
        std::memcpy(held.copy, view.data, view.length);
    held.data = held.copy;
    held.size = view.length;
    return read_held(&held, Source{}, out);
}

int thumbcache_read_source(const Source& source, ThumbcacheFile* out)
{
    clear_file(out);
    SourceBytes held;
    Source pages;
    if (thumbcache_hold_source(source, &held, &pages) != 0)
        return -1;
    return read_held(&held, pages, out);
}

int thumbcache_load(const char* path, ThumbcacheFile* out)
{
    failure_clear();
    clear_file(out);
    SourceBytes held;
    Source pages;
    if (thumbcache_hold_file(path, &held, &pages) != 0 || read_held(&held, pages, out) != 0)
        return failure_concerns(path);
    return 0;
}

int thumbcache_hold_file(const char* path, SourceBytes* held, Source* pages)
{
    Source file;
    if (source_open_file(path, &file) != 0)
        return fail("%s", source_whole_text(SOURCE_WHOLE_CANNOT_OPEN));
    if (thumbcache_hold_source(file, held, pages) != 0) {
        source_close(&file);
        return -1;
    }
    held->own = file;  // closed with the bytes
    return 0;
}

void thumbcache_free(ThumbcacheFile* file)
{
    source_whole_free(&file->held);
    std::free(file->entries);
    for (int32_t k = 0; k < file->name_blocks; ++k)
        std::free(file->names[k]);
    clear_file(file);
}

ThumbcacheCheck thumbcache_entry_data_check(const ThumbcacheFile& file, int32_t entry)
{
    if (entry < 0 || entry >= file.count)
        return THUMBCACHE_CHECK_UNVERIFIED;
    const ThumbcacheEntry& e = file.entries[entry];
    // The walk checked that all the data lies inside the record and file.
    return thumbcache_data_check(ByteView{e.payload.data, e.data_size}, e.data_checksum);
}

void thumbcache_entry_release(const ThumbcacheFile& file, int32_t entry)
{
    if (entry >= 0 && entry < file.count)
        source_release(file.pages, file.entries[entry].offset, file.entries[entry].entry_size);
}

void thumbcache_hash_text(uint64_t hash, char out[17])
{
    static constexpr char HEX[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i)
        out[i] = HEX[hash >> (60 - 4 * i) & 0xF];
    out[16] = 0;
}

int32_t thumbcache_identifier_narrow(ByteView identifier, char* out, int32_t out_size)
{
    if (out_size <= 0)
        return 0;
    int32_t n = 0;
    for (size_t i = 0; i + 1 < identifier.length && n < out_size - 1; i += 2) {
        if (identifier.data[i] == 0)
            break;
        out[n++] = char(identifier.data[i]);
    }
    out[n] = 0;
    return n;
}

int32_t thumbcache_identifier_utf8(ByteView identifier, char* out, int32_t out_size)
{
    if (out_size <= 0)
        return 0;
    int32_t n = 0;
    for (size_t i = 0; i + 1 < identifier.length;) {
        uint32_t c = read_le16(identifier.data + i);
        i += 2;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < identifier.length) {
            const uint32_t low = read_le16(identifier.data + i);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;
        uint8_t bytes[4];
        int len;
        if (c < 0x80) {
            bytes[0] = uint8_t(c);
            len = 1;
        } else if (c < 0x800) {
            bytes[0] = uint8_t(0xC0 | c >> 6);
            bytes[1] = uint8_t(0x80 | (c & 0x3F));
            len = 2;
        } else if (c < 0x10000) {
            bytes[0] = uint8_t(0xE0 | c >> 12);
            bytes[1] = uint8_t(0x80 | (c >> 6 & 0x3F));
            bytes[2] = uint8_t(0x80 | (c & 0x3F));
            len = 3;
        } else {
            bytes[0] = uint8_t(0xF0 | c >> 18);
            bytes[1] = uint8_t(0x80 | (c >> 12 & 0x3F));
            bytes[2] = uint8_t(0x80 | (c >> 6 & 0x3F));
            bytes[3] = uint8_t(0x80 | (c & 0x3F));
            len = 4;
        }
        if (n + len > out_size - 1)
            break;
        std::memcpy(out + n, bytes, size_t(len));
        n += len;
    }
    out[n] = 0;
    return n;
}
