#pragma once
// Explorer's thumbnail and icon caches (thumbcache_*.db, iconcache_*.db):
// a 24-byte header, then CMMM records one after the other, each with an
// identifier, padding and the stored picture. One ThumbcacheFile holds the
// bytes of one file (where the system maps it, else a copy); several can be
// open at once. A file of gigabytes costs memory only for the records
// touched: the walk reads record headers, the data is read when asked for,
// and pages read can be given back (thumbcache_entry_release).
#include <cstddef>
#include <cstdint>

#include "picture/bytes.h"
#include "platform/failure.h"
#include "platform/source.h"
#include "store/store_limits.h"

// Bucket names of all versions fit in this many bytes, NUL included.
constexpr int THUMBCACHE_BUCKET_NAME_BYTES = 16;

// Cache types of the largest table (version 32); the index keeps one offset
// per type.
constexpr int THUMBCACHE_MAX_TYPES = 14;

// Identifiers of up to this many bytes are copied (real ones are 32; a path
// is at most a few hundred), into blocks of THUMBCACHE_NAME_BLOCK_BYTES, at
// most THUMBCACHE_NAME_BLOCKS of them (64 MiB).
constexpr uint32_t THUMBCACHE_COPIED_IDENTIFIER_BYTES = 4096;
constexpr size_t THUMBCACHE_NAME_BLOCK_BYTES = size_t(256) << 10;
constexpr int THUMBCACHE_NAME_BLOCKS = 256;

enum ThumbcacheKind {
    THUMBCACHE_NEITHER,
    THUMBCACHE_CACHE,  // CMMM at 0
    THUMBCACHE_INDEX,  // IMMM at 0 or 4
};

// What the bytes are, by content alone.
ThumbcacheKind thumbcache_kind(ByteView bytes);
// The same for a source or a file, from its first bytes; THUMBCACHE_NEITHER
// when they cannot be read.
ThumbcacheKind thumbcache_source_kind(const Source& source);
ThumbcacheKind thumbcache_file_kind(const char* path);

// The data checksum of a record: a CRC-64/MS from 0 over the first KiB of
// the data, XOR a CRC-64/MS from 0 over the 32-bit words at 1024, 1424,
// 1824, ... that fit whole (0 for no data). It covers the first KiB and about
// 1 % of the rest: it says the data belongs to its record, not that every
// byte is intact.
constexpr size_t THUMBCACHE_DATA_HEAD_BYTES = 1024;
constexpr size_t THUMBCACHE_DATA_SAMPLE_STEP = 400;

enum ThumbcacheCheck {
    THUMBCACHE_CHECK_OK,
    THUMBCACHE_CHECK_BAD,
    // Where the rule is not known: the last sampled word cut short by the
    // end of the data ((size - 1024) mod 400 in 1..3). No real file shows
    // one, so such data is neither passed nor failed.
    THUMBCACHE_CHECK_UNVERIFIED,
};

// "ok", "bad", "unverified".
const char* thumbcache_check_name(ThumbcacheCheck check);

uint64_t thumbcache_data_checksum(ByteView data);
ThumbcacheCheck thumbcache_data_check(ByteView data, uint64_t stored);

struct ThumbcacheEntry {
    uint64_t offset;       // of the record in the file
    uint32_t entry_size;   // as stored (the record may end in a few zero bytes)
    uint64_t hash;         // ThumbnailCacheId
    ByteView identifier;   // UTF-16LE as stored, no NUL; a copy (see ThumbcacheFile::names)
    uint32_t padding_size;
    uint32_t data_size;    // as stored
    // The data (where it starts, and data_size bytes); length 0 beyond
    // THUMBCACHE_MAX_PAYLOAD_BYTES.
    ByteView payload;
    int has_dimensions;    // width and height are fields of this layout
    uint32_t width, height;
    uint64_t data_checksum;  // as stored; thumbcache_entry_data_check checks it
    uint64_t header_checksum_stored;
    uint64_t header_checksum_computed;
    int header_checksum_ok;
    int recovered;  // 0 on the chain from the first-entry offset; 1 found by resynchronising
};

struct ThumbcacheFile {
    const uint8_t* bytes;  // the whole file: held (mapped or copied) until thumbcache_free
    size_t size;           // at most THUMBCACHE_MAX_FILE_BYTES
    SourceBytes held;
    Source pages;  // the mapped source bytes lie in, to give pages back; kind null for a copy
    uint32_t version;
    uint32_t cache_type;
    char bucket[THUMBCACHE_BUCKET_NAME_BYTES];  // "32", "256", "sr", ...; "?" beyond the table
    uint32_t first_entry_offset;
    uint32_t first_available_offset;
    int has_header_count;  // versions 20 and 21 only
    uint32_t header_count;  // as stored; Windows 7 does not always keep it right
    int64_t free_record_offset;  // the free-space record, -1 when absent
    int64_t chain_break_offset;  // where the chain first failed, -1 when intact
    int entries_truncated;  // THUMBCACHE_MAX_ENTRIES reached
    ThumbcacheEntry* entries;  // in file order
    int32_t count;
    // Identifiers copied out as the file is walked, so that naming every
    // record touches no page of the file again. Identifiers above
    // THUMBCACHE_COPIED_IDENTIFIER_BYTES, and all once the blocks are full,
    // stay views into the file.
    uint8_t* names[THUMBCACHE_NAME_BLOCKS];
    int32_t name_blocks;
    size_t name_used;  // of the last block
};

// Walks a cache file of at most THUMBCACHE_MAX_FILE_BYTES; 0, or -1 with the
// reason in failure_last(). Any file with a known header reads: damaged
// records are skipped, and the records behind them are found again. A mapped
// source's bytes are used where they lie, whatever their size (keep the
// source open while the file is); others are read into a copy of at most
// THUMBCACHE_MAX_UNMAPPED_BYTES, as thumbcache_read copies its bytes.
// thumbcache_load maps the file it opens and keeps it.
int thumbcache_read_source(const Source& source, ThumbcacheFile* out);
int thumbcache_read(ByteView file, ThumbcacheFile* out);
int thumbcache_load(const char* path, ThumbcacheFile* out);
void thumbcache_free(ThumbcacheFile* file);

// The data checksum of record i over all its data (also beyond
// THUMBCACHE_MAX_PAYLOAD_BYTES). It reads the data, so it is computed only
// where a column or command needs it.
ThumbcacheCheck thumbcache_entry_data_check(const ThumbcacheFile& file, int32_t entry);

// Lets the system drop the pages of record i from memory once its bytes have
// been used (decoded, hashed, written); they stay readable. Nothing for a
// copy.
void thumbcache_entry_release(const ThumbcacheFile& file, int32_t entry);

// The bytes of an Explorer file's source, for this reader and the index's:
// the source's mapping at any size up to THUMBCACHE_MAX_FILE_BYTES (*pages is
// then the source, to give pages back through), else a copy of at most
// THUMBCACHE_MAX_UNMAPPED_BYTES (*pages has no kind). 0, or -1 with the
// reason.
int thumbcache_hold_source(const Source& source, SourceBytes* held, Source* pages);
// The same for the file at path, which then closes with *held; -1 with the
// reason (the path not yet named).
int thumbcache_hold_file(const char* path, SourceBytes* held, Source* pages);

// "32" for cache type 1 of version 32, nullptr outside the version's table.
const char* thumbcache_bucket_name(uint32_t version, uint32_t cache_type);

// The hash as 16 lowercase hex digits and a NUL.
void thumbcache_hash_text(uint64_t hash, char out[17]);

// The identifier narrowed as catalog names are: the low byte of each UTF-16
// unit up to the first that is 0, cut to out_size - 1 bytes. Returns the
// bytes written (NUL excluded).
int32_t thumbcache_identifier_narrow(ByteView identifier, char* out, int32_t out_size);

// The identifier as UTF-8 (unpaired surrogates become U+FFFD), cut at a
// character boundary to fit out_size - 1 bytes. Returns the bytes written.
int32_t thumbcache_identifier_utf8(ByteView identifier, char* out, int32_t out_size);
