#pragma once
// Windows Search keeps, for every indexed item, the ThumbnailCacheId its
// thumbnails are filed under beside the item's path. Reading that pair from
// Windows.edb (ESE) or Windows.db (SQLite) names the thumbcache entries.
// Only the id, the path, the file name and the modification time are read,
// into one table sorted by hash.
#include <cstddef>
#include <cstdint>

#include "platform/failure.h"
#include "store/store_limits.h"

enum SearchIndexKind {
    SEARCH_INDEX_NEITHER,
    SEARCH_INDEX_ESE,     // Windows.edb
    SEARCH_INDEX_SQLITE,  // Windows.db
};

struct SearchIndexItem {
    uint64_t hash;      // ThumbnailCacheId
    uint64_t work_id;   // the item's number in the index
    uint32_t path;      // offsets into SearchIndex::text, NUL-terminated UTF-8
    uint32_t name;      // the file name; 0 when not stored (text[0] is "")
    int has_time;
    uint64_t filetime;  // modification time, UTC, when has_time
};

// The volumes System.VolumeId places items on: a GUID's 16 bytes as stored
// (in the byte order of its text, not of the struct) and how many items
// carry it. An index may hold items of several volumes.
constexpr int32_t SEARCH_INDEX_MAX_VOLUME_IDS = 16;
struct SearchIndexVolumeId {
    uint8_t guid[16];
    int32_t items;
};

struct SearchIndex {
    SearchIndexKind kind;
    SearchIndexItem* items;  // sorted by hash, then work id
    int32_t count;
    int32_t capacity;
    char* text;
    size_t text_size;
    size_t text_capacity;
    // What was passed over, for the report on standard error.
    int32_t bad_hashes;    // id values that are not exactly 8 bytes
    int32_t long_paths;    // paths beyond SEARCH_INDEX_MAX_PATH_UNITS, skipped
    int32_t without_path;  // items with an id but no path
    int truncated;         // a ceiling above was reached
    SearchIndexVolumeId volume_ids[SEARCH_INDEX_MAX_VOLUME_IDS];
    int32_t volume_id_count;
    int32_t volume_ids_passed_over;  // values not of 16 bytes, or beyond the table
};

// What the bytes at the start of a file are: the ESE header signature or
// "SQLite format 3".
SearchIndexKind search_index_kind(const uint8_t* head, size_t size);

// Reads the file into *out (cleared first). The file and its folder are never
// written: an SQLite index is copied, with its write-ahead log, into a private
// temporary folder that is removed afterwards. 0, or -1 with the
// reason in failure_last() (nothing to free then).
int search_index_load(const char* path, SearchIndex* out);
void search_index_free(SearchIndex* index);

// The first item filed under the hash, or null.
const SearchIndexItem* search_index_find(const SearchIndex* index, uint64_t hash);
// Its path, or null.
const char* search_index_lookup(const SearchIndex* index, uint64_t hash);
// The path's last component (after the last '\' or '/'), inside the path.
const char* search_index_leaf(const char* path);

// Where Windows keeps the index below a volume root, one name per kind.
constexpr const char* SEARCH_INDEX_FOLDER = "ProgramData/Microsoft/Search/Data/Applications/Windows";

// For the readers of each kind.

// Adds one item; the text is UTF-8 (invalid bytes become U+FFFD). Paths past
// the ceiling are counted and skipped. 0, or -1 once a ceiling is reached.
int search_index_add(SearchIndex* index, uint64_t hash, uint64_t work_id, const char* path, size_t path_bytes,
                     const char* name, size_t name_bytes, int has_time, uint64_t filetime);
// The same with the path in UTF-16LE (a trailing NUL is dropped; unpaired
// surrogates become U+FFFD).
int search_index_add_utf16(SearchIndex* index, uint64_t hash, uint64_t work_id, const uint8_t* path,
                           size_t path_bytes, const char* name, size_t name_bytes, int has_time, uint64_t filetime);
// UTF-16LE text of at most SEARCH_INDEX_MAX_PATH_UNITS units (a NUL may
// follow) as UTF-8 into out, 3 bytes per unit and a NUL: the bytes written,
// or -1 when the text is longer.
long search_index_utf16_to_utf8(const uint8_t* text, size_t bytes, char* out);
// Counts one System.VolumeId value (count items carry it).
void search_index_count_volume_id(SearchIndex* index, const void* value, size_t size, int32_t count);
// A column or property name is the one asked for: "System_ThumbnailCacheId"
// matches itself and "4678-System_ThumbnailCacheId" (any hex prefix).
int search_index_name_matches(const char* stored, const char* property);

int search_index_load_ese(const char* path, SearchIndex* out);
int search_index_load_sqlite(const char* path, SearchIndex* out);

// Where the names go.

// The index at its usual place below a volume root (folder names in any
// letter case; Windows.db before Windows.edb, as an upgraded system may keep
// the old one behind): 0 with its path in out, or -1.
int search_index_path_below(const char* root, char* out, int out_size);

// The volume root above a profile's Explorer folder
// (<root>/Users/<name>/AppData/Local/Microsoft/Windows/Explorer, any letter
// case): 0 with the root in out, or -1 for other folders.
int search_index_volume_root(const char* folder, char* out, int out_size);

// search_index_lookup in the shape of a name look-up the file list is given.
inline const char* search_index_name_of(const void* index, uint64_t hash)
{
    return search_index_lookup(static_cast<const SearchIndex*>(index), hash);
}
