#pragma once
// One entry of a loaded cache with its stored bytes, whichever kind of cache
// holds it: a Catalog record, a thumbnail stream of a cache without a
// Catalog, a record of an Explorer cache file. The viewer's list, its save
// command and the command-line tool's rows all take an entry's bytes, key
// and kind from this record, so a rule about stored bytes lives below it,
// once.
#include <cstdint>

#include "picture/bytes.h"

struct CatalogEntry;
struct ThumbcacheEntry;
struct ThumbcacheFile;

enum StoreEntryKind : int32_t {
    STORE_ENTRY_NONE,         // a folder file the catalog does not know
    STORE_ENTRY_CATALOG,      // a Catalog record whose stored bytes are a picture file
    STORE_ENTRY_CATALOG_OLD,  // a record of a catalog below version 7: a stripped JPEG
    STORE_ENTRY_STREAM,       // a "<size>_<hex>" stream of a cache without a Catalog
    STORE_ENTRY_EXPLORER,     // a record of an Explorer cache file
};

struct StoreEntry {
    StoreEntryKind kind;
    int32_t record;  // the catalog record index, or the record's index in file; -1 without
    int32_t slot;    // the stream of the loaded table holding the bytes, -1 without
    const ThumbcacheFile* file;  // Explorer entries: the file, owned by whoever loaded it
    ByteView payload;  // the stored bytes; empty when there are none
    int has_hash;      // hash is the item's ThumbnailCacheId (streams, Explorer records)
    uint64_t hash;
};

StoreEntry store_entry_none();
// A record of the loaded catalog of the given version; its bytes are those
// of the stream its number maps to (store_slot_bytes).
StoreEntry store_entry_catalog(const CatalogEntry& record, int16_t version);
// A thumbnail stream of the loaded table (hashed_stream_payload).
StoreEntry store_entry_stream(int32_t slot);
// Record i of an Explorer file, which must outlive the entry.
StoreEntry store_entry_explorer(const ThumbcacheFile* file, int32_t record);

// Drops the references into loaded bytes (before they are freed); the
// kind, record, slot and hash stay as facts.
void store_entry_forget_bytes(StoreEntry* entry);

// Lets the system drop the pages that hold the entry's stored bytes once
// they have been used, where they lie in a mapped file (Explorer records);
// they stay readable. Nothing for other kinds.
void store_entry_release(const StoreEntry& entry);

// The Explorer record of an entry, null for other kinds and forgotten bytes.
const ThumbcacheEntry* store_entry_record(const StoreEntry& entry);

// The width and height of the stored picture, from its own header: the
// stripped JPEG's frame header for old catalogs, the picture file's header
// otherwise, an Explorer record's fields where its bytes give none. What a
// list or report prints, whatever size the viewer draws it at. 0, or -1
// (width and height left as they are) when the bytes say nothing.
int store_entry_stored_size(const StoreEntry& entry, int32_t* width, int32_t* height);

// The extension (without the dot) a picture of this format name is saved
// under: "jpg" for "jpeg", "bin" for "unknown", else the name itself.
const char* store_format_extension(const char* format_name);

// The extension of the entry's stored bytes, chosen by their content.
const char* store_entry_extension(const StoreEntry& entry);
