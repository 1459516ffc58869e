#pragma once
// The names the browser shows, each with its picture and catalog time.
#include <cstdint>

#include <string>

#include "platform/source.h"
#include "platform/system.h"
#include "picture/picture.h"
#include "store/store_entry.h"
#include "store/explorer/thumbcache.h"
#include "store/resolve.h"
#include "store/stream_names.h"

// All decoded pictures of one list together may take at most this many
// pixels (1 GiB); further entries get the placeholder, so a hostile cache
// cannot exhaust memory through many large thumbnails.
constexpr int64_t FILE_LIST_MAX_TOTAL_PIXELS = int64_t(256) << 20;

// A list decoded on view keeps at most this many pictures decoded; those
// farthest from the view are let go of first, so scrolling through a cache of
// any size holds the same memory.
constexpr int32_t FILE_LIST_MAX_DECODED = 256;

enum FileListDecode : int32_t {
    FILE_LIST_DECODE_ALL,      // every picture while the list is built
    FILE_LIST_DECODE_ON_VIEW,  // none at first: file_list_decode_view decodes what is shown
    FILE_LIST_DECODE_SIZES,    // none: each picture's size from its header, pixels null
};

// How a list is built. flags bit 0: the folder's own files; bit 1: the
// catalog's names, then the thumbnail streams of caches without a Catalog.
// Caches whose bytes are no file of this machine (those of a disk image):
// the list asks for them by the cache's path as the resolver gave it.
struct FileListSources {
    const void* context = nullptr;
    // The cache's bytes; 0, or -1 where the path is no such cache (it is then read as a file).
    int (*open)(const void* context, const std::string& path, Source* out) = nullptr;
    // Its index's bytes and a key the files sharing that index share; 0, or -1 where it has none.
    int (*open_index)(const void* context, const std::string& path, Source* out, std::string* key) = nullptr;
    // Names for the streams of a Thumbs.db from where it lies, finished.
    void (*stream_names)(const void* context, const std::string& path, StreamNames* names) = nullptr;
};

struct FileListOptions {
    int32_t flags = 0;
    uint32_t background = 0;  // 0x00RRGGBB, under the pictures fitted into cells
    int64_t max_total_pixels = FILE_LIST_MAX_TOTAL_PIXELS;  // of all decoded pictures at once
    FileListDecode decode = FILE_LIST_DECODE_ALL;
    // Threads that decode the stored pictures of FILE_LIST_DECODE_ALL; the
    // list comes out the same whatever their number.
    int32_t jobs = 1;
    // Null: every cache is a file. With sources, no folder of this machine is listed.
    const FileListSources* sources = nullptr;
};

// What file_list_index_buckets gives where the index beside the file does
// not know the item, and where there is no index.
constexpr int64_t FILE_LIST_NOT_INDEXED = -2;
constexpr int64_t FILE_LIST_NO_INDEX = -1;

struct FileList {
    char* name_pool;
    int32_t pool_used;
    int32_t pool_capacity;
    int32_t* name_offset;
    int32_t offsets_capacity;
    int32_t count;
    Picture* pictures;
    FileTime* times;
    // What each entry was listed from and its stored bytes: a catalog
    // record, a thumbnail stream of a cache without a Catalog, an Explorer
    // record, or nothing (a folder file the catalog does not know).
    StoreEntry* entries;
    // Explorer cache files listed instead of a Thumbs.db; each owns its
    // bytes, which their entries point into.
    ThumbcacheFile* thumbcache_files;
    int32_t thumbcache_file_count;
    // Explorer records with an index beside their file: bit t set when the
    // index lists the item in cache type t (the sizes it exists in), or
    // FILE_LIST_NOT_INDEXED; meaningful for Explorer records alone.
    int64_t* index_buckets;
    // 1 where the entry's picture is still to be decoded (lists decoded on
    // view); its Picture is then empty.
    uint8_t* pending;
    Picture placeholder;
};

extern FileList file_list;

inline const char* file_list_name(int32_t i) { return file_list.name_pool + file_list.name_offset[i]; }
// Lists put together without entries (by tests, say) hold folder files.
inline const StoreEntry& file_list_entry(int32_t i)
{
    static const StoreEntry none = store_entry_none();
    return file_list.entries ? file_list.entries[i] : none;
}
// Entries keyed by a ThumbnailCacheId (thumbnail streams, Explorer records)
// have no file of their own, and no catalog time.
inline bool file_list_keyed(int32_t i)
{
    const StoreEntryKind kind = file_list_entry(i).kind;
    return kind == STORE_ENTRY_STREAM || kind == STORE_ENTRY_EXPLORER;
}
inline int64_t file_list_index_buckets(int32_t i)
{
    return file_list_entry(i).kind == STORE_ENTRY_EXPLORER && file_list.index_buckets ? file_list.index_buckets[i]
                                                                                       : FILE_LIST_NO_INDEX;
}
// True for a picture still to be decoded too: its entry has stored bytes.
inline bool file_list_has_thumbnail(int32_t i) { return file_list.pictures[i].pixels != file_list.placeholder.pixels; }
inline bool file_list_pending(int32_t i) { return file_list.pending && file_list.pending[i]; }

// The folder's files are named by the folder (one that is not a folder: the
// current directory); the current directory is never changed.
// flags bit 0: the folder's own files; bit 1: the catalog's names, then the
// thumbnail streams of caches without a Catalog ("256_..." streams, listed in
// directory order under the name of their file where the catalog or the
// cache's folder holds it, else under their stream names). 0 when the folder's Thumbs.db was
// loaded (with a Catalog or with such streams), -1 otherwise (the list is empty).
// A folder without a Thumbs.db but with Explorer's cache files lists all of
// them, thumbcache before iconcache, each in size-bucket order, each file
// linked with the index of its kind beside it.
int file_list_build(const char* folder, const FileListOptions& options);

// The same for a cache file of any name: cache_file (relative to folder, or
// absolute) is read, and folder is the one whose files are listed. An
// Explorer cache file (known by its content) lists its records in file
// order under their identifiers, without times or folder files.
int file_list_build_from(const char* folder, const char* cache_file, const FileListOptions& options);

// The same for the caches a resolver chose (store_resolve_for_viewer): all
// of them when they are Explorer cache files (known by their content), else
// the first; none reads the folder's Thumbs.db, reported as not found.
int file_list_build_caches(const char* folder, const std::vector<ResolvedCache>& caches,
                           const FileListOptions& options);

// The same, every picture decoded, fitted over black.
inline int file_list_build(const char* folder, int32_t flags) { return file_list_build(folder, FileListOptions{flags}); }
inline int file_list_build_from(const char* folder, const char* cache_file, int32_t flags)
{
    return file_list_build_from(folder, cache_file, FileListOptions{flags});
}

// Decodes the pending pictures of entries [first, end) (those on screen),
// then of [ahead_first, ahead_end) nearest the view first, for at most
// budget_ms milliseconds (one picture at least, so the view always moves
// on). Beyond FILE_LIST_MAX_DECODED the pictures farthest from the view
// outside [ahead_first, ahead_end) are let go of. The number still pending in
// [ahead_first, ahead_end).
int32_t file_list_decode_view(int32_t first, int32_t end, int32_t ahead_first, int32_t ahead_end, int32_t budget_ms);

// Entry i's picture, decoded now if it is pending.
const Picture& file_list_picture(int32_t i);

// Decodes and fits the pictures of streams and Explorer records again, over
// a new background (the viewer's colour command); a picture that cannot be
// made again keeps the one it has.
void file_list_refit(uint32_t background);

// Gives entry i another name (the old one stays in the pool); 0 or -1.
int file_list_rename(int32_t i, const char* name);

// A look-up of names by ThumbnailCacheId: the path it knows, or null.
using FileListNameLookup = const char* (*)(const void* context, uint64_t hash);

// Renames the entries keyed by a ThumbnailCacheId (Explorer records,
// thumbnail streams) that the look-up knows to their path; returns how many.
int32_t file_list_name_keyed(FileListNameLookup lookup, const void* context);

// What a grid cell shows: for an entry keyed by a ThumbnailCacheId (a
// thumbnail stream, an Explorer record) named from the search index, the
// last component of its path; else the name itself.
inline const char* file_list_cell_name(int32_t i)
{
    const char* name = file_list_name(i);
    if (!file_list_keyed(i))
        return name;
    const char* leaf = name;
    for (const char* p = name; *p; ++p)
        if (*p == '\\' && p[1])
            leaf = p + 1;
    return leaf;
}

// The name the grid shows for an Explorer record: its identifier narrowed
// to 8 bits as catalog names are. The one place that decides it.
void file_list_thumbcache_name(const ThumbcacheEntry& entry, char* out, int32_t out_size);

// Frees everything, the placeholder included (program exit).
void file_list_release();
