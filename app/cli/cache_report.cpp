#include "app/cli/cache_report.h"

#include <cstdio>
#include <cstring>

#include "app/cli/cli_images.h"
#include "app/cli/digests/digests.h"
#include "platform/failure.h"
#include "platform/system.h"
#include "picture/bytes.h"
#include "picture/picture.h"
#include "store/thumbsdb/catalog.h"
#include "store/thumbsdb/compound_file.h"
#include "store/explorer/explorer_folder.h"
#include "store/thumbsdb/hashed_streams.h"
#include "store/explorer/thumbcache.h"
#include "store/explorer/thumbcache_index.h"
#include "store/stream_names.h"

namespace {

void copy_stream_times(ReportRow& row)
{
    const int32_t slot = row.entry.slot;
    if (slot >= 0 && slot < stream_table.count && stream_table.slot_times) {
        row.stream_times[0] = stream_table.slot_times[slot][0];
        row.stream_times[1] = stream_table.slot_times[slot][1];
    }
}

std::string join_fields(const uint8_t* p, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i) {
        if (i)
            out += '/';
        out += std::to_string(read_le32(p + 4 * i));
    }
    return out;
}

// The facts of the entry's stored bytes, where it has any.
void describe_bytes(ReportRow& row, bool digest)
{
    const uint8_t* data = row.entry.payload.data;
    const int64_t length = int64_t(row.entry.payload.length);
    if (length <= 0 || length > INT32_MAX)
        return;
    row.length = length;
    char hex[65];
    if (digest && sha256_hex(data, size_t(length), hex) == 0)
        row.sha256 = hex;
    row.format = picture_format_name(data, int32_t(length));
    store_entry_stored_size(row.entry, &row.width, &row.height);
}

// Explorer files whose bytes rows point into, until report_release.
std::vector<ThumbcacheFile*> kept_files;
std::vector<ThumbcacheIndex*> kept_indexes;

std::string hex16(uint64_t v)
{
    char text[17];
    thumbcache_hash_text(v, text);
    return text;
}

uint32_t slot_buckets(const ThumbcacheIndex& index, const ThumbcacheIndexSlot& s)
{
    uint32_t types = 0;
    for (uint32_t t = 0; t < index.type_count && t < uint32_t(THUMBCACHE_MAX_TYPES); ++t)
        if (s.offsets[t] != THUMBCACHE_NO_OFFSET && s.offsets[t] != 0)
            types |= 1u << t;
    return types;
}

void report_index(const std::string& path, ThumbcacheIndex* index, std::vector<ReportRow>* rows)
{
    for (int32_t i = 0; i < index->count; ++i) {
        const ThumbcacheIndexSlot& s = index->slots[i];
        ReportRow row;
        row.cache = path;
        row.record = s.slot;
        row.stream.assign(1, '-');  // assign(): mingw g++ 12 warns falsely (-Wrestrict) on = "-"
        row.name = hex16(s.hash);
        if (s.flags_decoded && !s.no_image) {
            row.width = int32_t(s.width);
            row.height = int32_t(s.height);
        }
        ThumbcacheFacts& f = row.thumbcache;
        f.version = index->version;
        f.bucket = "index";
        f.hash = s.hash;
        f.index = "slot " + std::to_string(s.slot) + (s.no_image ? " no-image" : "");
        f.index_buckets = explorer_bucket_list(index->version, slot_buckets(*index, s));
        rows->push_back(std::move(row));
    }
}

// The cache's bytes: the file at path, or where a disk image holds it (its
// index then too, where it has one beside it).
struct CacheBytes {
    Source file{}, index{};
    bool in_image = false;
    ~CacheBytes()
    {
        source_close(&file);
        source_close(&index);
    }
};

int report_thumbcache(const std::string& path, const CacheBytes& bytes, std::vector<ReportRow>* rows, bool digest)
{
    ThumbcacheFile* file = new ThumbcacheFile{};
    if ((bytes.in_image ? thumbcache_read_source(bytes.file, file) : thumbcache_load(path.c_str(), file)) != 0) {
        delete file;
        return -1;
    }
    kept_files.push_back(file);
    ThumbcacheIndex index{};
    ThumbcacheLinks links{};
    bool linked;
    if (bytes.in_image) {
        linked = bytes.index.kind && thumbcache_index_read_source(bytes.index, &index) == 0;
    } else {
        std::string index_path = explorer_index_beside(path);
        linked = !index_path.empty() && thumbcache_index_load(index_path.c_str(), &index) == 0;
    }
    const ThumbcacheFile* files[] = {file};
    if (linked && thumbcache_link(&index, files, 1, &links) != 0) {
        thumbcache_index_free(&index);
        linked = false;
    }
    for (int32_t i = 0; i < file->count; ++i) {
        const ThumbcacheEntry& e = file->entries[i];
        ReportRow row;
        row.cache = path;
        row.record = i;
        row.stream.assign(1, '-');
        row.name = thumbcache_row_name(e);
        row.entry = store_entry_explorer(file, i);
        describe_bytes(row, digest);
        ThumbcacheFacts& f = row.thumbcache;
        f.version = file->version;
        f.bucket = file->bucket;
        f.offset = e.offset;
        f.hash = e.hash;
        f.data_size = e.data_size;
        f.header_checksum_ok = e.header_checksum_ok != 0;
        f.data_checksum = e.data_checksum;
        f.data_check = thumbcache_entry_data_check(*file, i);
        thumbcache_entry_release(*file, i);  // read again, a page at a time, when written
        f.recovered = e.recovered != 0;
        if (linked) {
            const ThumbcacheEntryLink& l = links.entries[i];
            if (l.slot < 0) {
                f.index = "unknown";
            } else {
                f.index = "slot " + std::to_string(index.slots[l.slot].slot);
                if (!l.at_indexed_offset)
                    f.index += " elsewhere";
                f.index_buckets = explorer_bucket_list(index.version, l.buckets);
            }
        }
        rows->push_back(std::move(row));
    }
    if (linked) {
        for (int32_t k = 0; k < links.dangling_count; ++k) {
            const ThumbcacheDangling& d = links.dangling[k];
            const ThumbcacheIndexSlot& s = index.slots[d.slot];
            ReportRow row;
            row.cache = path;
            row.stream.assign(1, '-');
            row.name = hex16(s.hash);
            ThumbcacheFacts& f = row.thumbcache;
            f.version = file->version;
            f.bucket = file->bucket;
            f.offset = d.offset;
            f.hash = s.hash;
            f.index = std::string("dangling slot ") + std::to_string(s.slot) +
                      (d.reason == THUMBCACHE_NOTHING_AT_OFFSET ? ": no record at offset" : ": another item at offset");
            f.index_buckets = explorer_bucket_list(index.version, slot_buckets(index, s));
            rows->push_back(std::move(row));
        }
        thumbcache_links_free(&links);
        thumbcache_index_free(&index);
    }
    return 0;
}

// Names the streams (rows from first on, the records' from first_record) after the file names they are the
// hashes of, and links each with the catalog records of that name: in a
// cache Windows 7 and later wrote over an older one, the newer thumbnail of
// the same file.
void name_stream_rows(const std::string& path, size_t first_record, size_t first, std::vector<ReportRow>* rows)
{
    if (first == rows->size())
        return;
    StreamNames names;
    if (cli_image_cache(path))
        cli_image_stream_names(path, &names);  // the image's directory, not a folder here that looks like it
    else
        stream_names_gather(path, nullptr, &names);
    std::vector<size_t> row_of_record;
    for (size_t i = first_record; i < first; ++i) {
        const int32_t record = (*rows)[i].record;
        if (record >= 0 && size_t(record) >= row_of_record.size())
            row_of_record.resize(size_t(record) + 1, SIZE_MAX);
        if (record >= 0)
            row_of_record[size_t(record)] = i;
    }
    for (size_t i = first; i < rows->size(); ++i) {
        ReportRow& row = (*rows)[i];
        const HashedName* n = row.entry.has_hash ? stream_names_find(&names, row.entry.hash) : nullptr;
        if (!n)
            continue;
        std::vector<uint8_t> le;
        for (const uint16_t u : n->utf16)
            le.push_back(uint8_t(u & 0xFF)), le.push_back(uint8_t(u >> 8));
        row.path = utf16_to_utf8(le.data(), int32_t(n->utf16.size()));
        row.name_source = name_source_text(n->source);
        if (n->source != NAME_SOURCE_CATALOG)
            continue;
        row.linked = "record " + std::to_string(n->record);
        // Every record of that name (a catalog may repeat one) links back.
        for (const HashedName* m = n; m < names.names.data() + names.names.size() && m->hash == n->hash; ++m) {
            if (m->source != NAME_SOURCE_CATALOG || m->record < 0 || size_t(m->record) >= row_of_record.size() ||
                row_of_record[size_t(m->record)] == SIZE_MAX)
                continue;
            std::string& back = (*rows)[row_of_record[size_t(m->record)]].linked;
            back += (back.empty() ? "stream " : ";stream ") + row.stream;
        }
    }
}

int report_cache_rows(const std::string& path, std::vector<ReportRow>* rows, std::string* failure, bool digest);

} // namespace

std::string thumbcache_row_name(const ThumbcacheEntry& entry)
{
    return utf16_to_utf8(entry.identifier.data, int32_t(entry.identifier.length / 2));
}

bool report_row_explorer(const ReportRow& row)
{
    return row.entry.kind == STORE_ENTRY_EXPLORER || !row.thumbcache.bucket.empty();
}

bool report_explorer_file(const std::string& path)
{
    return thumbcache_file_kind(path.c_str()) != THUMBCACHE_NEITHER;
}

std::string report_failure(const std::string& path, ThumbcacheKind kind)
{
    switch (kind) {
    case THUMBCACHE_CACHE: return path + ": Explorer cache file cannot be read (" + failure_last().reason + ")";
    case THUMBCACHE_INDEX: return path + ": Explorer cache index cannot be read (" + failure_last().reason + ")";
    case THUMBCACHE_NEITHER: break;
    }
    return path + ": Thumbs.db not found (" + failure_last().reason + ")";
}

void report_release()
{
    for (ThumbcacheFile* f : kept_files) {
        thumbcache_free(f);
        delete f;
    }
    for (ThumbcacheIndex* x : kept_indexes) {
        thumbcache_index_free(x);
        delete x;
    }
    kept_files.clear();
    kept_indexes.clear();
}

std::string utf16_to_utf8(const uint8_t* p, int32_t chars)
{
    std::string out;
    for (int32_t i = 0; i < chars; ++i) {
        uint32_t c = read_le16(p + 2 * i);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < chars) {
            uint32_t low = read_le16(p + 2 * (i + 1));
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;  // a lone surrogate
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | c >> 12);
            out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | c >> 18);
            out += char(0x80 | (c >> 12 & 0x3F));
            out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string utc_text(uint64_t filetime)
{
    SystemTime t;
    file_time_to_system_time(filetime, &t);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return buf;
}

int report_cache(const std::string& path, std::vector<ReportRow>* rows, std::string* failure, bool digest)
{
    const size_t first_row = rows->size();
    const int result = report_cache_rows(path, rows, failure, digest);
    if (const ImageCacheFile* in_image = cli_image_cache(path))
        for (size_t i = first_row; i < rows->size(); ++i) {
            (*rows)[i].origin = in_image->origin;
            // A carved record's file is the volume it was found in.
            if (in_image->origin.carved_at >= 0 && in_image->kind == IMAGE_CACHE_EXPLORER)
                (*rows)[i].thumbcache.offset = uint64_t(in_image->origin.carved_at);
        }
    return result;
}

std::vector<std::string> report_origin_columns()
{
    return {"image", "partition_offset", "partition_type", "store", "fs_type", "fs_path", "inode", "state",
            "image_offset", "volume_offset"};
}

std::vector<std::string> report_origin_cells(const ReportRow& r)
{
    const ImageOrigin& o = r.origin;
    if (o.image.empty())
        return std::vector<std::string>(report_origin_columns().size(), "-");
    const bool carved = o.carved_at >= 0;
    return {o.image, std::to_string(o.partition_offset), o.partition_type, o.store, o.fs_type, o.fs_path, o.inode,
            o.state, carved ? std::to_string(o.partition_offset + uint64_t(o.carved_at)) : "-",
            carved ? std::to_string(o.carved_at) : "-"};
}

namespace {

int report_cache_rows(const std::string& path, std::vector<ReportRow>* rows, std::string* failure, bool digest)
{
    CacheBytes bytes;
    if (cli_image_cache(path)) {
        bytes.in_image = true;
        if (cli_image_source(path, &bytes.file) != 0) {
            *failure = path + ": cannot be read from the image";
            return -1;
        }
        cli_image_index_source(path, &bytes.index);
    }
    failure_clear();
    const ThumbcacheKind kind = bytes.in_image ? thumbcache_source_kind(bytes.file) : thumbcache_file_kind(path.c_str());
    switch (kind) {
    case THUMBCACHE_CACHE:
        if (report_thumbcache(path, bytes, rows, digest) == 0)
            return 0;
        *failure = report_failure(path, kind);
        return -1;
    case THUMBCACHE_INDEX: {
        ThumbcacheIndex* index = new ThumbcacheIndex{};
        if ((bytes.in_image ? thumbcache_index_read_source(bytes.file, index) : thumbcache_index_load(path.c_str(), index)) != 0) {
            delete index;
            *failure = report_failure(path, kind);
            return -1;
        }
        kept_indexes.push_back(index);
        report_index(path, index, rows);
        return 0;
    }
    case THUMBCACHE_NEITHER: break;
    }
    if ((bytes.in_image ? store_load_source(bytes.file) : store_load(path.c_str())) != 0 && hashed_stream_count() == 0) {
        *failure = report_failure(path, kind);
        return -1;
    }
    const size_t first_record = rows->size();
    CatalogCursor cursor;
    int16_t version = 0;
    CatalogEntry entry;
    if (catalog_begin(&cursor, &version) == 0) {
        while (catalog_next(&cursor, &entry)) {
            ReportRow row;
            row.cache = path;
            row.record = entry.record_index;
            row.stream = std::to_string(entry.stream_number);
            row.name = utf16_to_utf8(entry.name_utf16, entry.name_full_chars);
            row.has_time = true;
            row.filetime = entry.time;
            row.entry = store_entry_catalog(entry, version);
            copy_stream_times(row);
            int32_t available = store_slot_length(row.entry.slot);
            if (row.entry.payload.length > 0) {
                const uint8_t* t = row.entry.payload.data - STORE_STREAM_HEADER_BYTES;
                const bool old = row.entry.kind == STORE_ENTRY_CATALOG_OLD;
                bool sub_header = old && available >= 28;
                row.header = join_fields(t, sub_header ? 7 : 3);
                describe_bytes(row, digest);
                if (old)
                    row.format = "jpeg-tableless";
            }
            rows->push_back(std::move(row));
        }
    }
    const size_t first_stream = rows->size();
    for (int32_t k = 0; k < stream_table.count; ++k) {
        if (k == stream_table.catalog_slot || !hashed_stream_name(stream_table.slot_name[k]))
            continue;
        ReportRow row;
        row.cache = path;
        row.stream = stream_table.slot_name[k];
        row.name = row.stream;
        row.entry = store_entry_stream(k);
        copy_stream_times(row);
        int32_t available = store_slot_length(k);
        const uint8_t* s = stream_table.pool + stream_table.offset[k];
        if (available >= HASHED_HEADER_BYTES) {
            char tail[32];
            std::snprintf(tail, sizeof tail, "/%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x", s[12], s[13], s[14],
                          s[15], s[16], s[17], s[18], s[19], s[20], s[21], s[22], s[23]);
            row.header = join_fields(s, 3) + tail;
        }
        describe_bytes(row, digest);
        rows->push_back(std::move(row));
    }
    name_stream_rows(path, first_record, first_stream, rows);
    return 0;
}

} // namespace

std::vector<std::string> report_columns()
{
    return {"cache", "record", "stream", "slot", "name", "filetime", "utc", "header", "length", "format", "width",
            "height", "sha256", "path", "name_source", "linked"};
}

std::vector<std::string> report_cells(const ReportRow& r)
{
    auto number_or_dash = [](int64_t v, bool present) { return present ? std::to_string(v) : std::string("-"); };
    bool stored = r.length >= 0;
    return {r.cache,
            number_or_dash(r.record, r.record >= 0),
            r.stream,
            number_or_dash(r.entry.slot, r.entry.slot >= 0),
            r.name,
            r.has_time ? std::to_string(r.filetime) : "-",
            r.has_time ? utc_text(r.filetime) : "-",
            r.header.empty() ? "-" : r.header,
            number_or_dash(r.length, stored),
            stored ? r.format : "-",
            number_or_dash(r.width, stored && r.width > 0),
            number_or_dash(r.height, stored && r.height > 0),
            stored ? r.sha256 : "-",
            r.path,
            r.name_source,
            r.linked};
}

std::vector<std::string> report_thumbcache_columns()
{
    return {"version", "bucket", "offset", "hash", "data_size", "header_checksum", "data_checksum", "recovered",
            "index", "index_buckets"};
}

std::vector<std::string> report_thumbcache_cells(const ReportRow& r)
{
    if (!report_row_explorer(r))
        return std::vector<std::string>(report_thumbcache_columns().size(), "-");
    const ThumbcacheFacts& f = r.thumbcache;
    bool record = f.bucket != "index" && f.index.rfind("dangling", 0) != 0;
    return {std::to_string(f.version),
            f.bucket,
            record || f.offset ? std::to_string(f.offset) : "-",
            hex16(f.hash),
            f.data_size >= 0 ? std::to_string(f.data_size) : "-",
            record ? (f.header_checksum_ok ? "ok" : "bad") : "-",
            record ? thumbcache_check_name(f.data_check) + (" " + hex16(f.data_checksum)) : "-",
            record ? (f.recovered ? "yes" : "no") : "-",
            f.index,
            f.index_buckets.empty() ? "-" : f.index_buckets};
}
