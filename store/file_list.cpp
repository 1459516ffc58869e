// The file list: folder files and catalog names, each with its thumbnail or
// the shared placeholder, a red X on black.
#include "store/file_list.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "picture/fit.h"
#include "platform/work_pool.h"
#include "store/thumbsdb/catalog.h"
#include "store/thumbsdb/compound_file.h"
#include "platform/dir_find.h"
#include "store/explorer/explorer_folder.h"
#include "store/thumbsdb/hashed_streams.h"
#include "store/name_index.h"
#include "store/resolve.h"
#include "store/stream_names.h"
#include "store/explorer/thumbcache_index.h"

FileList file_list;

namespace {

constexpr int32_t offsets_floor = 1024;
constexpr int32_t pool_floor = 65536;

// Names already in the list, and the first catalog record of each name.
NameIndex listed_names;
NameIndex record_names;

struct RecordRef {
    size_t position;  // in the catalog stream
    char name[CATALOG_NAME_BYTES];
};
RecordRef* records;
int32_t record_count;
int32_t record_capacity;

// The options the list was built with, and the pixels its pictures may
// still take (given back as pictures are fitted or let go of).
FileListOptions options;
int64_t pixel_budget;
// Of catalog entries: the record in records[] (else -1), and the catalog's
// version, so that a picture can be decoded after the build.
std::vector<int32_t> entry_record;
int16_t loaded_version;
// Pictures with pixels of their own in a list decoded on view.
int32_t decoded_count;
// The sources of caches read through FileListSources, open while the list is.
std::vector<Source> held_sources;

// The cache at path through the list's sources; 0, or -1 where it is a file.
int open_sourced(const std::string& path, Source* out)
{
    *out = Source{};
    const FileListSources* s = options.sources;
    if (!s || !s->open || s->open(s->context, path, out) != 0)
        return -1;
    held_sources.push_back(*out);
    return 0;
}

// The index of the sourced cache at path; 0 or -1.
int read_sourced_index(const std::string& path, ThumbcacheIndex* out)
{
    Source source;
    std::string key;
    if (options.sources->open_index(options.sources->context, path, &source, &key) != 0)
        return -1;
    held_sources.push_back(source);
    return thumbcache_index_read_source(source, out);
}

// Marks an index key that came from the list's sources, not a path.
const std::string SOURCED_INDEX = "\x01";

void close_sources()
{
    for (Source& s : held_sources)
        source_close(&s);
    held_sources.clear();
}

const char* listed_name(int32_t i, const void*) { return file_list_name(i); }
const char* record_name(int32_t i, const void*) { return records[i].name; }

void release_pictures()
{
    for (int32_t i = file_list.count - 1; i >= 0; --i) {
        uint32_t* pixels = file_list.pictures ? file_list.pictures[i].pixels : nullptr;
        if (pixels && pixels != file_list.placeholder.pixels)
            std::free(pixels);
    }
    file_list.count = 0;
    file_list.pool_used = 0;
    decoded_count = 0;
}

bool append_name(const char* name)
{
    int32_t length = int32_t(std::strlen(name));
    if (file_list.count >= file_list.offsets_capacity) {
        int32_t capacity = file_list.offsets_capacity * 2;
        if (capacity < offsets_floor)
            capacity = offsets_floor;
        void* grown = std::realloc(file_list.name_offset, sizeof(int32_t) * size_t(capacity));
        if (!grown)
            return false;
        file_list.name_offset = static_cast<int32_t*>(grown);
        file_list.offsets_capacity = capacity;
    }
    if (file_list.pool_used + length + 1 >= file_list.pool_capacity) {
        int64_t capacity = int64_t(file_list.pool_capacity) * 2;
        if (capacity < pool_floor)
            capacity = pool_floor;
        if (capacity > INT32_MAX)
            return false;
        void* grown = std::realloc(file_list.name_pool, size_t(capacity));
        if (!grown)
            return false;
        file_list.name_pool = static_cast<char*>(grown);
        file_list.pool_capacity = int32_t(capacity);
    }
    file_list.name_offset[file_list.count] = file_list.pool_used;
    std::memcpy(file_list.name_pool + file_list.pool_used, name, size_t(length) + 1);
    file_list.pool_used += length + 1;
    ++file_list.count;
    return true;
}

// Appends name unless the list holds it already (ASCII case ignored).
void append_unique(const char* name)
{
    if (name_index_find(&listed_names, name, listed_name, nullptr) >= 0)
        return;
    if (append_name(name))
        name_index_insert(&listed_names, name, file_list.count - 1, listed_name, nullptr);
}

// Pictures of caches without a catalog may be larger than a cell (and hold
// alpha): fitted, they stay in their cells, and the pixel budget counts what
// is kept. A picture that cannot be fitted stays as decoded. A size alone
// becomes the size it would be fitted to.
void fit_into_cell(Picture* picture)
{
    Picture fitted{nullptr, 0, 0, 0};
    if (!picture->pixels) {
        if (picture->width <= 0 || picture->height <= 0)
            return;
        picture_fitted_size(picture->width, picture->height, PICTURE_FIT_BOX_WIDTH, PICTURE_FIT_BOX_HEIGHT,
                            &fitted.width, &fitted.height);
    } else if (picture_fit(*picture, PICTURE_FIT_BOX_WIDTH, PICTURE_FIT_BOX_HEIGHT, options.background, &fitted) != 0) {
        return;
    }
    pixel_budget += int64_t(picture->width) * picture->height - int64_t(fitted.width) * fitted.height;
    std::free(picture->pixels);
    *picture = fitted;
}

// The picture of entry i decoded under the ceilings and the list's budget
// (its size alone for lists of sizes), fitted to a cell for streams and
// Explorer records; -1 without one. The one place a list decodes.
int decode_entry(int32_t i, Picture* picture)
{
    const StoreEntry& entry = file_list.entries[i];
    const CatalogDecodeOptions how{&pixel_budget, options.decode == FILE_LIST_DECODE_SIZES};
    if (entry.kind == STORE_ENTRY_STREAM || entry.kind == STORE_ENTRY_EXPLORER) {
        const ByteView p = entry.payload;
        if (p.length == 0 || p.length > size_t(INT32_MAX))
            return -1;
        int result;
        if (options.decode == FILE_LIST_DECODE_SIZES) {
            result = catalog_decode_bytes(p.data, int32_t(p.length), picture, how);
            if (result == 0)
                fit_into_cell(picture);
        } else {
            // A JPEG is decoded no larger than the cell needs.
            const PictureBox cell{PICTURE_FIT_BOX_WIDTH, PICTURE_FIT_BOX_HEIGHT, options.background,
                                  std::min(CATALOG_MAX_PICTURE_PIXELS, pixel_budget)};
            result = picture_decode_for_box(p.data, int32_t(p.length), cell, picture);
            if (result == 0)
                pixel_budget -= int64_t(picture->width) * picture->height;
        }
        // A mapped cache's pages go back once the picture is made from them.
        store_entry_release(entry);
        return result;
    }
    const int32_t r = size_t(i) < entry_record.size() ? entry_record[size_t(i)] : -1;
    CatalogEntry record;
    if (r < 0 || !catalog_entry_at(records[r].position, &record))
        return -1;
    return catalog_decode_entry(record, loaded_version, picture, how);
}

bool owns_pixels(const Picture& p) { return p.pixels && p.pixels != file_list.placeholder.pixels; }

// Decodes pending entry i: its picture, or the placeholder.
void decode_pending(int32_t i)
{
    Picture& picture = file_list.pictures[i];
    if (decode_entry(i, &picture) != 0)
        picture = file_list.placeholder;
    file_list.pending[i] = 0;
    decoded_count += owns_pixels(picture);
}

// Lets go of the decoded picture farthest from [first, end) that lies
// outside [keep_first, keep_end); false when there is none.
bool evict_one(int32_t first, int32_t end, int32_t keep_first, int32_t keep_end)
{
    int32_t low = 0, high = file_list.count - 1;
    while (low < keep_first && (file_list.pending[low] || !owns_pixels(file_list.pictures[low])))
        ++low;
    while (high >= keep_end && (file_list.pending[high] || !owns_pixels(file_list.pictures[high])))
        --high;
    const bool low_ok = low < keep_first, high_ok = high >= keep_end;
    if (!low_ok && !high_ok)
        return false;
    const int32_t victim = !high_ok ? low : !low_ok ? high : first - low >= high - end ? low : high;
    Picture& p = file_list.pictures[victim];
    pixel_budget += int64_t(p.width) * p.height;
    std::free(p.pixels);
    p = Picture{nullptr, 0, 0, 0};
    file_list.pending[victim] = 1;
    --decoded_count;
    return true;
}

// The pictures of FILE_LIST_DECODE_ALL on options.jobs threads, the list the
// same whatever their number. Which stored pictures (Explorer records,
// streams) the budget admits is settled first, in entry order, from their
// headers: each takes what it will keep fitted into its cell. Catalog
// thumbnails, small and read through the store's shared buffers, are decoded
// in that walk. The admitted pictures are then decoded and fitted on all
// threads, each into its own slot.
void decode_all()
{
    std::vector<int32_t> admitted;
    std::vector<int64_t> reserved;
    for (int32_t i = 0; i < file_list.count; ++i) {
        file_list.pending[i] = 0;
        Picture& picture = file_list.pictures[i];
        const StoreEntry& entry = file_list.entries[i];
        const bool keyed = file_list_keyed(i);
        if (entry.kind == STORE_ENTRY_NONE || (keyed && entry.payload.length == 0)) {
            picture = file_list.placeholder;
            continue;
        }
        if (!keyed || entry.payload.length > size_t(INT32_MAX)) {
            if (decode_entry(i, &picture) != 0)
                picture = file_list.placeholder;
            continue;
        }
        // The ceilings picture_decode_for_box applies, against the budget as it stands here.
        int32_t width = 0, height = 0;
        picture_probe(entry.payload.data, int32_t(entry.payload.length), &width, &height);
        if (height < 0 && height != INT32_MIN)
            height = -height;  // a top-down BMP
        int64_t keeps = 0;
        if (width > 0 && height > 0) {
            if (int64_t(width) * height > std::min(CATALOG_MAX_PICTURE_PIXELS, pixel_budget)) {
                picture = file_list.placeholder;
                continue;
            }
            int32_t fit_width, fit_height;
            picture_fitted_size(width, height, PICTURE_FIT_BOX_WIDTH, PICTURE_FIT_BOX_HEIGHT, &fit_width, &fit_height);
            keeps = int64_t(fit_width) * fit_height;
        }
        picture = Picture{nullptr, 0, 0, 0};
        admitted.push_back(i);
        reserved.push_back(keeps);
        pixel_budget -= keeps;
    }
    struct Work {
        const std::vector<int32_t>* admitted;
        std::vector<int> results;
    } work{&admitted, std::vector<int>(admitted.size(), -1)};
    picture_prepare_threads();
    sys_run_tasks(options.jobs, int64_t(admitted.size()), [](void* context, int64_t n) {
        Work& w = *static_cast<Work*>(context);
        const int32_t i = (*w.admitted)[size_t(n)];
        const StoreEntry& entry = file_list.entries[i];
        // The budget was taken above; a picture is held to the ceiling alone.
        const PictureBox cell{PICTURE_FIT_BOX_WIDTH, PICTURE_FIT_BOX_HEIGHT, options.background,
                              CATALOG_MAX_PICTURE_PIXELS};
        w.results[size_t(n)] = picture_decode_for_box(entry.payload.data, int32_t(entry.payload.length), cell,
                                                      &file_list.pictures[i]);
        // A mapped cache's pages go back once the picture is made from them.
        store_entry_release(entry);
    }, &work);
    // What a picture keeps is what it was admitted for, but for one that
    // could not be made: its share goes back, too late to admit another.
    for (size_t n = 0; n < admitted.size(); ++n) {
        Picture& picture = file_list.pictures[admitted[n]];
        if (work.results[n] != 0) {
            picture = file_list.placeholder;
            pixel_budget += reserved[n];
        } else {
            pixel_budget += reserved[n] - int64_t(picture.width) * picture.height;
        }
    }
}

// Every entry's picture as the options ask: decoded now, pending, or the
// placeholder for an entry without stored bytes.
void set_pictures()
{
    pixel_budget = options.max_total_pixels;
    decoded_count = 0;
    if (options.decode == FILE_LIST_DECODE_ALL) {
        decode_all();
        return;
    }
    for (int32_t i = 0; i < file_list.count; ++i) {
        file_list.pending[i] = 0;
        Picture& picture = file_list.pictures[i];
        // Without stored bytes a keyed entry has nothing to decode.
        const StoreEntry& entry = file_list.entries[i];
        if (entry.kind == STORE_ENTRY_NONE || (file_list_keyed(i) && entry.payload.length == 0)) {
            picture = file_list.placeholder;
        } else if (options.decode == FILE_LIST_DECODE_ON_VIEW) {
            picture = Picture{nullptr, 0, 0, 0};
            file_list.pending[i] = 1;
        } else if (decode_entry(i, &picture) != 0) {
            picture = file_list.placeholder;
        }
    }
}

void make_placeholder()
{
    if (file_list.placeholder.pixels)
        return;
    uint32_t* pixels = static_cast<uint32_t*>(std::malloc(4096));
    if (!pixels)
        return;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            int a = x > y ? x - y : y - x;
            int b = 31 - x - y < 0 ? x + y - 31 : 31 - x - y;
            pixels[y * 32 + x] = (a < b ? a : b) < 4 ? 0x00FF0000 : 0;
        }
    file_list.placeholder = Picture{pixels, 128, 32, 32};
}

// Walks the catalog once: every record's position, and the first record of
// each name, so that each entry finds its record without a walk of its own.
void index_records()
{
    record_count = 0;
    name_index_clear(&record_names);
    CatalogCursor cursor;
    int16_t version;
    if (catalog_begin(&cursor, &version) != 0)
        return;
    for (;;) {
        size_t position = cursor.position;
        CatalogEntry entry;
        if (!catalog_next(&cursor, &entry))
            break;
        if (record_count >= record_capacity) {
            int32_t capacity = record_capacity ? record_capacity * 2 : 1024;
            void* grown = std::realloc(records, sizeof(RecordRef) * size_t(capacity));
            if (!grown)
                break;
            records = static_cast<RecordRef*>(grown);
            record_capacity = capacity;
        }
        RecordRef& r = records[record_count];
        r.position = position;
        std::memcpy(r.name, entry.name, sizeof r.name);
        name_index_insert(&record_names, r.name, record_count, record_name, nullptr);
        ++record_count;
    }
}

// The per-entry arrays, sized to the names listed.
bool grow_entry_arrays()
{
    size_t n = size_t(file_list.count);
    void* pictures = std::realloc(file_list.pictures, sizeof(Picture) * n);
    if (pictures)
        file_list.pictures = static_cast<Picture*>(pictures);
    void* times = std::realloc(file_list.times, sizeof(FileTime) * n);
    if (times)
        file_list.times = static_cast<FileTime*>(times);
    void* entries = std::realloc(file_list.entries, sizeof(StoreEntry) * n);
    if (entries)
        file_list.entries = static_cast<StoreEntry*>(entries);
    void* buckets = std::realloc(file_list.index_buckets, sizeof(int64_t) * n);
    if (buckets)
        file_list.index_buckets = static_cast<int64_t*>(buckets);
    void* pending = std::realloc(file_list.pending, n);
    if (pending)
        file_list.pending = static_cast<uint8_t*>(pending);
    entry_record.assign(n, -1);
    return pictures && times && entries && buckets && pending;
}

void release_explorer()
{
    for (int32_t k = 0; k < file_list.thumbcache_file_count; ++k)
        thumbcache_free(&file_list.thumbcache_files[k]);
    std::free(file_list.thumbcache_files);
    file_list.thumbcache_files = nullptr;
    file_list.thumbcache_file_count = 0;
}

// Links each listed file with the index beside it, one load per index for
// all the files that share it: which sizes each item exists in.
void link_indexes(const std::vector<std::string>& loaded, const std::vector<bool>& sourced)
{
    const int32_t files = file_list.thumbcache_file_count;
    std::vector<int32_t> first(size_t(files), int32_t(-1));  // list position of each file's record 0
    for (int32_t i = 0; i < file_list.count; ++i) {
        file_list.index_buckets[i] = FILE_LIST_NO_INDEX;
        const StoreEntry& e = file_list.entries[i];
        if (e.kind == STORE_ENTRY_EXPLORER && e.record == 0)
            first[size_t(e.file - file_list.thumbcache_files)] = i;
    }
    // A file's index: beside it, or the one its source names, keyed so that
    // the files sharing it are linked together.
    const FileListSources* s = options.sources;
    std::vector<std::string> index_path(static_cast<size_t>(files));
    for (int32_t k = 0; k < files; ++k) {
        std::string key;
        Source probe;
        if (!sourced[size_t(k)])
            index_path[size_t(k)] = explorer_index_beside(loaded[size_t(k)]);
        else if (s->open_index && s->open_index(s->context, loaded[size_t(k)], &probe, &key) == 0) {
            source_close(&probe);
            index_path[size_t(k)] = SOURCED_INDEX + key;
        }
    }
    for (int32_t k = 0; k < files; ++k) {
        const std::string path = index_path[size_t(k)];
        if (path.empty())
            continue;
        std::vector<int32_t> group;
        std::vector<const ThumbcacheFile*> linked;
        for (int32_t j = k; j < files; ++j)
            if (index_path[size_t(j)] == path) {
                group.push_back(j);
                linked.push_back(&file_list.thumbcache_files[j]);
                index_path[size_t(j)].clear();
            }
        ThumbcacheIndex index{};
        ThumbcacheLinks links{};
        if (sourced[size_t(k)] ? read_sourced_index(loaded[size_t(k)], &index) != 0
                               : thumbcache_index_load(path.c_str(), &index) != 0)
            continue;
        if (thumbcache_link(&index, linked.data(), int32_t(linked.size()), &links) == 0) {
            for (int32_t n = 0; n < links.entry_count; ++n) {
                const ThumbcacheEntryLink& l = links.entries[n];
                const int32_t start = first[size_t(group[size_t(l.file)])];
                const int64_t i = int64_t(start) + l.entry;
                if (start < 0 || i >= file_list.count || file_list.entries[i].record != l.entry)
                    continue;  // beyond a list cut short
                file_list.index_buckets[i] = l.slot < 0 ? FILE_LIST_NOT_INDEXED : int64_t(l.buckets);
            }
            thumbcache_links_free(&links);
        }
        thumbcache_index_free(&index);
    }
}

// Lists the records of the files in the order given; files that cannot be
// read are left out. 0 when at least one was read.
int build_explorer(const std::vector<std::string>& paths)
{
    file_list.thumbcache_files = static_cast<ThumbcacheFile*>(std::calloc(paths.size() + 1, sizeof(ThumbcacheFile)));
    if (!file_list.thumbcache_files)
        return -1;
    std::vector<std::string> loaded;
    std::vector<bool> sourced;
    for (const std::string& path : paths) {
        ThumbcacheFile* tc = &file_list.thumbcache_files[file_list.thumbcache_file_count];
        Source source;
        const bool from_source = open_sourced(path, &source) == 0;
        if ((from_source ? thumbcache_read_source(source, tc) : thumbcache_load(path.c_str(), tc)) == 0) {
            ++file_list.thumbcache_file_count;
            loaded.push_back(path);
            sourced.push_back(from_source);
        }
    }
    if (file_list.thumbcache_file_count == 0)
        return -1;
    // Every record of every file, up to what the offsets can hold.
    for (int32_t k = 0; k < file_list.thumbcache_file_count; ++k) {
        const ThumbcacheFile& tc = file_list.thumbcache_files[k];
        for (int32_t i = 0; i < tc.count; ++i) {
            char name[CATALOG_NAME_BYTES];
            file_list_thumbcache_name(tc.entries[i], name, int32_t(sizeof name));
            if (file_list.count >= INT32_MAX / 2 || !append_name(name))
                break;
        }
    }
    make_placeholder();
    if (file_list.count > 0 && !grow_entry_arrays()) {
        file_list.count = 0;
        return 0;
    }
    int32_t k = 0, e = 0;
    for (int32_t i = 0; i < file_list.count; ++i, ++e) {
        while (e >= file_list.thumbcache_files[k].count)
            ++k, e = 0;
        file_list.times[i] = 0;
        file_list.entries[i] = store_entry_explorer(&file_list.thumbcache_files[k], e);
    }
    set_pictures();
    link_indexes(loaded, sourced);
    return 0;
}

// Streams are keyed by a hash of their file's name: those whose name the
// catalog or the cache's folder still holds are listed under it.
void name_streams(const std::string& cache_path, bool sourced)
{
    StreamNames names;
    if (sourced && options.sources->stream_names)
        options.sources->stream_names(options.sources->context, cache_path, &names);
    else if (!sourced)
        stream_names_gather(cache_path, nullptr, &names);
    file_list_name_keyed(stream_names_lookup, &names);
}

int build(const char* folder, const std::vector<ResolvedCache>& caches, const FileListOptions& how)
{
    release_pictures();
    options = how;
    const int32_t flags = how.flags;
    // Names are taken in the folder, never by moving the current directory;
    // a path that is no folder means the current one.
    if (!folder || !*folder || !sys_is_directory(folder))
        folder = ".";

    release_explorer();
    close_sources();
    // Explorer's files are known by their content, whatever their names.
    std::vector<std::string> explorer;
    for (const ResolvedCache& c : caches) {
        Source source;
        ThumbcacheKind kind;
        if (open_sourced(c.path, &source) == 0)
            kind = thumbcache_source_kind(source);
        else
            kind = c.family == CACHE_EXPLORER ? THUMBCACHE_CACHE : thumbcache_file_kind(c.path.c_str());
        if (kind == THUMBCACHE_CACHE)
            explorer.push_back(c.path);
    }
    close_sources();
    if (!explorer.empty()) {
        store_release();
        name_index_clear(&listed_names);
        record_count = 0;
        return build_explorer(explorer);
    }
    const std::string cache_path = caches.empty() ? sys_join_path(folder, "Thumbs.db") : caches[0].path;
    // Without a Catalog, a cache of hashed thumbnail streams still loads.
    Source source;
    const bool sourced = open_sourced(cache_path, &source) == 0;
    const int loaded = sourced ? store_load_source(source) : store_load(cache_path.c_str());
    close_sources();  // the streams are copied
    if (loaded != 0 && hashed_stream_count() == 0)
        return -1;

    name_index_clear(&listed_names);
    index_records();
    if ((flags & 1) && !how.sources) {
        char name[SYS_MAX_PATH];
        dir_find_start(folder, "*");
        while (dir_find_next(name)) {
            size_t n = std::strlen(name);
            if (n == 0 || name[n - 1] == '\\')
                continue;
            append_unique(name);
        }
    }
    int32_t first_stream_entry = INT32_MAX;
    if (flags & 2) {
        for (int32_t i = 0; i < record_count; ++i)
            append_unique(records[i].name);
        // Hashed streams are listed as they stand, so that none stays hidden.
        first_stream_entry = file_list.count;
        for (int32_t k = 0; k < stream_table.count; ++k)
            if (k != stream_table.catalog_slot && hashed_stream_name(stream_table.slot_name[k]))
                append_name(stream_table.slot_name[k]);
    }

    make_placeholder();
    if (file_list.count > 0 && !grow_entry_arrays()) {
        file_list.count = 0;
        return 0;
    }

    loaded_version = 0;
    CatalogCursor cursor;
    bool has_records = catalog_begin(&cursor, &loaded_version) == 0;
    int32_t next_slot = 0;
    for (int32_t i = 0; i < file_list.count; ++i) {
        file_list.times[i] = 0;
        file_list.entries[i] = store_entry_none();
        if (i >= first_stream_entry) {
            // The entries from here on are the hashed streams, in slot order.
            while (next_slot == stream_table.catalog_slot || !hashed_stream_name(stream_table.slot_name[next_slot]))
                ++next_slot;
            file_list.entries[i] = store_entry_stream(next_slot++);
            continue;
        }
        int32_t record = has_records ? name_index_find(&record_names, file_list_name(i), record_name, nullptr) : -1;
        CatalogEntry entry;
        if (record >= 0 && catalog_entry_at(records[record].position, &entry)) {
            file_list.times[i] = entry.time;
            file_list.entries[i] = store_entry_catalog(entry, loaded_version);
            entry_record[size_t(i)] = record;
        }
    }
    if (first_stream_entry < file_list.count)
        name_streams(cache_path, sourced);
    set_pictures();
    return 0;
}

} // namespace

int file_list_build(const char* folder, const FileListOptions& options)
{
    ResolvedCaches resolved;
    store_resolve(folder && *folder && sys_is_directory(folder) ? folder : ".", false, &resolved);
    return build(folder, store_resolved_for_viewer(resolved), options);
}

int file_list_build_from(const char* folder, const char* cache_file, const FileListOptions& options)
{
    const char* in = folder && *folder && sys_is_directory(folder) ? folder : nullptr;
    return build(folder, {{sys_join_path(in, cache_file), CACHE_THUMBS_DB}}, options);
}

int file_list_build_caches(const char* folder, const std::vector<ResolvedCache>& caches,
                           const FileListOptions& options)
{
    return build(folder, caches, options);
}

int32_t file_list_decode_view(int32_t first, int32_t end, int32_t ahead_first, int32_t ahead_end, int32_t budget_ms)
{
    const int32_t count = file_list.count;
    if (!file_list.pending || count <= 0)
        return 0;
    auto clamp = [count](int32_t v) { return v < 0 ? 0 : v > count ? count : v; };
    first = clamp(first), end = clamp(end);
    ahead_first = clamp(ahead_first < first ? ahead_first : first);
    ahead_end = clamp(ahead_end > end ? ahead_end : end);
    const auto start = std::chrono::steady_clock::now();
    int32_t decoded = 0;
    // One entry: false when the time is spent or no room is left.
    auto decode = [&](int32_t i, bool on_screen) {
        if (!file_list.pending[i])
            return true;
        if (decoded > 0 && std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(budget_ms))
            return false;
        // The screen itself is always drawn, however many cells it holds.
        if (decoded_count >= FILE_LIST_MAX_DECODED &&
            !evict_one(first, end, on_screen ? first : ahead_first, on_screen ? end : ahead_end) && !on_screen)
            return false;
        decode_pending(i);
        ++decoded;
        return true;
    };
    bool going = true;
    for (int32_t i = first; going && i < end; ++i)
        going = decode(i, true);
    // Ahead, nearest the screen first: below it, then above it.
    for (int32_t d = 0; going && (end + d < ahead_end || first - 1 - d >= ahead_first); ++d) {
        if (end + d < ahead_end)
            going = decode(end + d, false);
        if (going && first - 1 - d >= ahead_first)
            going = decode(first - 1 - d, false);
    }
    int32_t pending = 0;
    for (int32_t i = ahead_first; i < ahead_end; ++i)
        pending += file_list.pending[i];
    return pending;
}

const Picture& file_list_picture(int32_t i)
{
    if (file_list_pending(i)) {
        if (decoded_count >= FILE_LIST_MAX_DECODED)
            evict_one(i, i + 1, i, i + 1);
        decode_pending(i);
    }
    return file_list.pictures[i];
}

void file_list_refit(uint32_t background)
{
    options.background = background;
    for (int32_t i = 0; i < file_list.count; ++i) {
        if (!file_list_keyed(i) || file_list_pending(i) || !owns_pixels(file_list.pictures[i]))
            continue;
        // What the old picture takes is given back for the new one.
        Picture& old = file_list.pictures[i];
        pixel_budget += int64_t(old.width) * old.height;
        Picture picture;
        if (decode_entry(i, &picture) != 0) {
            pixel_budget -= int64_t(old.width) * old.height;
            continue;  // keeps the picture it has
        }
        std::free(old.pixels);
        old = picture;
        decoded_count -= !owns_pixels(old);
    }
}

int file_list_rename(int32_t i, const char* name)
{
    if (i < 0 || i >= file_list.count)
        return -1;
    // append_name adds an entry: take its name and give the count back.
    const int32_t count = file_list.count;
    file_list.count = i;
    const int32_t saved = file_list.name_offset[i];
    if (!append_name(name)) {
        file_list.name_offset[i] = saved;
        file_list.count = count;
        return -1;
    }
    file_list.count = count;
    return 0;
}

int32_t file_list_name_keyed(FileListNameLookup lookup, const void* context)
{
    int32_t named = 0;
    for (int32_t i = 0; i < file_list.count; i++) {
        const StoreEntry& entry = file_list_entry(i);
        if (!entry.has_hash)
            continue;
        if (const char* path = lookup(context, entry.hash))
            named += file_list_rename(i, path) == 0;
    }
    return named;
}

void file_list_thumbcache_name(const ThumbcacheEntry& entry, char* out, int32_t out_size)
{
    thumbcache_identifier_narrow(entry.identifier, out, out_size);
    if (!out[0] && out_size >= 17)
        thumbcache_hash_text(entry.hash, out);  // an empty identifier still needs a name
}

void file_list_release()
{
    release_pictures();
    release_explorer();
    close_sources();
    std::free(file_list.name_pool);
    std::free(file_list.name_offset);
    std::free(file_list.pictures);
    std::free(file_list.times);
    std::free(file_list.entries);
    std::free(file_list.index_buckets);
    std::free(file_list.pending);
    std::free(file_list.placeholder.pixels);
    file_list = FileList{};
    entry_record = std::vector<int32_t>();
    std::free(records);
    records = nullptr;
    record_count = record_capacity = 0;
    name_index_free(&listed_names);
    name_index_free(&record_names);
    catalog_release();
    store_release();
}
