#pragma once
// Every ceiling the cache readers put on untrusted input, in one place: what
// is bounded, and why. The README's limits table lists them for users.
#include <cstddef>
#include <cstdint>

// ---- Thumbs.db (a compound file) ----

// The compound-file reader holds the whole file and a pool of its streams in
// memory, so the file is bounded. Real caches stay below 4 MB; 20,000
// thumbnails are about 100 MB; version 3 compound files (512-byte sectors)
// cannot exceed 2 GB by their own format.
constexpr int64_t STORE_MAX_FILE_BYTES = int64_t(512) << 20;

// The largest picture a thumbnail may claim (pixels); beyond it the entry
// gets the placeholder. 4096 x 4096 is sixteen times a Windows thumbnail.
constexpr int64_t CATALOG_MAX_PICTURE_PIXELS = int64_t(4096) * 4096;

// ---- Explorer's caches (thumbcache_*.db, iconcache_*.db, their index) ----

// What the format can address: its offsets and sizes are 32-bit. A cache
// file is read where the system maps it, record by record, so its size costs
// address space, not memory.
constexpr uint64_t THUMBCACHE_MAX_FILE_BYTES = uint64_t(1) << 32;
constexpr const char* THUMBCACHE_TOO_LARGE = "larger than an Explorer cache file can be (4 GiB)";

// A cache or index file the system will not map (a special file, a source
// without a mapping) is read into memory instead, up to this.
constexpr uint64_t THUMBCACHE_MAX_UNMAPPED_BYTES = uint64_t(512) << 20;

// Records we list per file: each costs a record in memory. A 4 GiB file of
// the smallest records would hold 60 million; real caches hold a few
// thousand.
constexpr int32_t THUMBCACHE_MAX_ENTRIES = 1 << 20;

// Larger data is kept as an entry but without a payload view: Windows'
// largest bucket (2560 px) stores JPEGs of well under 4 MiB, and a payload is
// decoded and hashed in memory.
constexpr uint32_t THUMBCACHE_MAX_PAYLOAD_BYTES = uint32_t(64) << 20;

// Used slots we list per index. Real indexes have at most a few thousand.
constexpr int32_t THUMBCACHE_MAX_INDEX_SLOTS = 1 << 20;

// ---- the Windows Search index ----

// Windows' longest path, in UTF-16 units. A longer stored path is not a
// path Windows could have shown: the item is skipped (and counted) rather
// than cut, so no name is ever a truncated one.
constexpr int32_t SEARCH_INDEX_MAX_PATH_UNITS = 32767;

// Items kept; real indexes hold some hundred thousand. Reaching it stops the
// read with what was gathered (truncated is set).
constexpr int32_t SEARCH_INDEX_MAX_ITEMS = 1 << 23;

// Bytes of UTF-8 text kept for all paths and names together.
constexpr size_t SEARCH_INDEX_MAX_TEXT_BYTES = size_t(512) << 20;
