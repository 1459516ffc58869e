#pragma once
// The index of Explorer's caches (thumbcache_idx.db, iconcache_idx.db, and
// the thm*.tmp files Windows sets aside): an open-addressing table of slots,
// each holding an item's hash, flags and its record offset in each cache
// file. Reading it is optional; it adds which sizes of one item exist.
#include <cstddef>
#include <cstdint>

#include "picture/bytes.h"
#include "store/explorer/thumbcache.h"

// An offset meaning "no record in this size".
constexpr uint32_t THUMBCACHE_NO_OFFSET = 0xFFFFFFFF;

struct ThumbcacheIndexSlot {
    int32_t slot;    // position in the table
    uint64_t hash;
    uint64_t flags;  // as stored (32 bits in versions 20 and 21)
    int flags_decoded;  // width, height and no_image read from the flags (versions 21 and 32)
    uint32_t width, height;  // of the item's largest thumbnail
    int no_image;
    uint64_t modified;  // FILETIME, version 20 only
    // Record offset per cache type; THUMBCACHE_NO_OFFSET none, 0 unset.
    // Types beyond the version's table hold THUMBCACHE_NO_OFFSET.
    uint32_t offsets[THUMBCACHE_MAX_TYPES];
};

struct ThumbcacheIndex {
    const uint8_t* bytes;  // the whole file: held (mapped or copied) until thumbcache_index_free
    size_t size;           // at most THUMBCACHE_MAX_FILE_BYTES
    SourceBytes held;
    Source pages;  // the mapped source bytes lie in, to give pages back; kind null for a copy
    uint32_t signature_offset;  // 0 (versions 20, 21) or 4
    uint32_t version;
    uint32_t header_bytes;
    uint32_t slot_bytes;
    uint32_t type_count;  // offsets per slot
    uint32_t used_count;  // as stored
    uint32_t slot_count;  // as stored
    // Version 32 (and 30/31 where the header has the room): size and record
    // count of each cache file, by cache type, as the index last saw them.
    int has_file_table;
    uint32_t file_sizes[THUMBCACHE_MAX_TYPES];
    uint32_t file_counts[THUMBCACHE_MAX_TYPES];
    int slots_truncated;  // the file ends before the table does, or THUMBCACHE_MAX_INDEX_SLOTS
    ThumbcacheIndexSlot* slots;  // used slots (hash not 0), in table order
    int32_t count;
};

// Reads an index as thumbcache_read_source reads a cache file (a mapped
// source's bytes used where they lie, others read or copied); 0, or -1 with
// failure_last().
int thumbcache_index_read_source(const Source& source, ThumbcacheIndex* out);
int thumbcache_index_read(ByteView file, ThumbcacheIndex* out);
int thumbcache_index_load(const char* path, ThumbcacheIndex* out);
void thumbcache_index_free(ThumbcacheIndex* index);

// ---- an index and the cache files beside it ----

struct ThumbcacheEntryLink {
    int32_t file, entry;    // which of the given files, which of its entries
    int32_t slot;           // into ThumbcacheIndex::slots; -1 when the index does not know the hash
    int at_indexed_offset;  // the slot points at this very record
    uint32_t buckets;       // bit t: the index lists a record of the item in cache type t
};

enum ThumbcacheDanglingReason {
    THUMBCACHE_NOTHING_AT_OFFSET,     // no record starts there
    THUMBCACHE_OTHER_HASH_AT_OFFSET,  // a record of another item starts there
};

// A slot's offset into a loaded file of its cache type that finds nothing.
struct ThumbcacheDangling {
    int32_t slot;  // into ThumbcacheIndex::slots
    uint32_t cache_type;
    uint32_t offset;
    int32_t file;
    ThumbcacheDanglingReason reason;
};

struct ThumbcacheLinks {
    ThumbcacheEntryLink* entries;  // one per entry of every file, files in the order given
    int32_t entry_count;
    int32_t* unknown;  // into entries: those the index does not know
    int32_t unknown_count;
    ThumbcacheDangling* dangling;
    int32_t dangling_count;
};

// Pure: reads index and files, fills out. Offsets are checked only against
// files of the index's version; where several files have one cache type the
// first is used. 0, or -1 when memory runs out.
int thumbcache_link(const ThumbcacheIndex* index, const ThumbcacheFile* const* files, int32_t file_count,
                    ThumbcacheLinks* out);
void thumbcache_links_free(ThumbcacheLinks* links);
