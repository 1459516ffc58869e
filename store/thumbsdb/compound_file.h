#pragma once
// Reads a Thumbs.db compound file into the StreamTable: every stream copied
// back to back into one pool, slot k at pool[offset[k] .. offset[k + 1]).
#include <cstddef>
#include <cstdint>

#include "platform/source.h"
#include "store/store_limits.h"

// Stream names are kept narrowed to 8 bits, at most 31 characters + NUL.
constexpr int STORE_SLOT_NAME_BYTES = 32;

struct StreamTable {
    uint8_t* pool;
    int32_t* offset;  // count + 1 entries in use
    char (*slot_name)[STORE_SLOT_NAME_BYTES];  // directory name of each slot
    // The directory entry's own creation and modification FILETIMEs of each
    // slot, 0 where the writer left them unset (as Explorer mostly does).
    uint64_t (*slot_times)[2];
    int32_t count;
    int32_t catalog_slot;  // -1 when the directory has no Catalog
    int64_t file_bytes;    // size of the file the table was read from
    // Raised by every load and release. What others derive from a table
    // (the catalog's slot map) remembers the count it was built for, so it
    // is never reused for another file.
    uint32_t load_count;
};

extern StreamTable stream_table;

// Why store_load returned -1 (platform/failure.h), in the words a user reads
// after "Thumbs.db not found".
constexpr const char* STORE_CANNOT_OPEN = "cannot be opened";
constexpr const char* STORE_TOO_LARGE = "larger than the 512 MiB we read";
constexpr const char* STORE_NOT_COMPOUND = "not a thumbnail cache";

// 0 when the file was read and has a Catalog stream; -1 otherwise. Without a
// Catalog the table stays filled when the file itself was readable. The
// streams are copied into the table: the source may close afterwards.
int store_load_source(const Source& source);
int store_load(const char* path);

// The same for a file image already in memory (tests, fuzzing).
int store_load_memory(const uint8_t* data, size_t size);

// Frees the table (the catalog frees its own buffers: catalog_release).
void store_release();

// Bytes of slot k inside the pool, 0 for a slot outside the table.
int32_t store_slot_length(int32_t slot);
