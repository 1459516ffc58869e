#pragma once
// Names for the "<size>_<hex>" streams of a Thumbs.db, from the evidence
// itself: a stream is keyed by a hash of its file's name (hashed_streams.h),
// so hashing the names the cache's folder has known, with both seeds, gives
// each matching stream its name back. The name is as certain as a 64-bit
// match; that the file now bearing it holds the same picture is not.
#include <cstdint>
#include <string>
#include <vector>

// Where a name came from, weakest first: where several give one hash, the
// stronger one is reported. The search index, stronger still, is applied by
// the callers over these (file_list_name_keyed, the report's rows).
enum NameSource : int32_t {
    NAME_SOURCE_NONE,
    NAME_SOURCE_FOLDER_DELETED,  // a deleted name of the cache's directory (a disk image's)
    NAME_SOURCE_FOLDER,          // a file in the cache's folder now
    NAME_SOURCE_CATALOG,         // a name the cache's own Catalog holds
};

// "folder-deleted", "folder", "catalog"; "" for none.
const char* name_source_text(NameSource source);

// A name from elsewhere (a disk image's deleted directory entries), in the
// encoding of the folder listing (sys_name_to_utf16).
struct ExtraName {
    std::string name;
    NameSource source;
};

struct HashedName {
    uint64_t hash;
    NameSource source;
    int32_t record;        // the catalog record holding the name; -1 for other sources
    bool windows_7;        // the hash is of the Vista/7 seed
    std::string name;      // as the list shows it: the listing's bytes, a catalog name narrowed to 8 bits
    std::vector<uint16_t> utf16;  // as hashed
};

// The names whose hash is a stream's, sorted by hash once all are added.
// Only names of the wanted hashes are kept, so that a hostile catalog of
// millions of names costs no more memory than the streams it names.
struct StreamNames {
    std::vector<uint64_t> wanted;  // sorted
    std::vector<HashedName> names;
};

// Wants the hashes of the "<size>_<hex>" streams of the loaded table.
void stream_names_want_loaded(StreamNames* names);

// Adds the name under each seed whose hash is wanted.
void stream_names_add(StreamNames* names, const uint16_t* utf16, size_t units, const std::string& shown,
                      NameSource source, int32_t record);

// The entries of folder (sys_list_folder); -1 when it cannot be listed.
// Names that are no valid text of the listing's encoding are skipped.
int stream_names_add_folder(StreamNames* names, const std::string& folder);

// The names of the loaded catalog, each with its record.
void stream_names_add_catalog(StreamNames* names);

// Names from elsewhere, each with its source; names that are no valid text
// are skipped.
void stream_names_add_list(StreamNames* names, const std::vector<ExtraName>& extra);

// Sorts the names for stream_names_find, after the last one is added.
void stream_names_finish(StreamNames* names);

// Everything that names the streams of the loaded cache read from
// cache_path: its catalog, the files of its folder, and extra (may be
// null), for the hashes of its streams; finished.
void stream_names_gather(const std::string& cache_path, const std::vector<ExtraName>* extra, StreamNames* names);

// The strongest name of this hash (of its sources, the first catalog
// record), or null; a binary search of the finished names.
const HashedName* stream_names_find(const StreamNames* names, uint64_t hash);

// The same as a look-up for file_list_name_keyed: the shown name, or null.
const char* stream_names_lookup(const void* names, uint64_t hash);
