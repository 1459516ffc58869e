#pragma once
// The Catalog stream: which thumbnail belongs to which file name.
#include <cstddef>
#include <cstdint>

#include "picture/bytes.h"
#include "platform/system.h"
#include "picture/picture.h"
#include "store/store_limits.h"

// Names are narrowed into a 260-byte buffer: at most 259 characters.
constexpr int CATALOG_NAME_BYTES = 260;

struct CatalogEntry {
    int32_t record_index;
    int32_t stream_number;
    FileTime time;
    char name[CATALOG_NAME_BYTES];  // low bytes of the UTF-16 name
    const uint8_t* name_utf16;      // the stored name
    int32_t name_chars;             // characters up to the first with low byte 0
    int32_t name_full_chars;        // characters up to the UTF-16 terminator
};

// A thumbnail stream begins with a header: its own length, a value 1, and
// the stored length at +8.
constexpr int32_t STORE_STREAM_HEADER_BYTES = 12;

// From this catalog version on the stored bytes are a picture file; below
// it they are a stripped JPEG that must be rebuilt.
constexpr int16_t STORE_FILE_CATALOG_VERSION = 7;

// The stored bytes of the thumbnail stream in slot of the loaded table: the
// length at +8, cut to what the stream holds (a truncated cache still gives
// what it has); a length of 2 GiB or more is no thumbnail. The one place of
// this rule: the list, the save command and the tool's rows all ask here.
// 0 with view set, -1 without a stream or without bytes.
int store_slot_bytes(int32_t slot, ByteView* view);

// Walks the records of the loaded catalog in order. Reads stay inside the
// catalog stream; a record that does not fit ends the walk.
struct CatalogCursor {
    const uint8_t* base;  // the catalog stream
    size_t length;
    size_t position;      // of the next record
    int32_t remaining;    // records the header still promises
    int32_t index;
};

// The version at byte 2 of the loaded catalog; 0 without a catalog or
// when it is too short to hold one (it counts as an old one).
int16_t catalog_version();

// 0 and the cursor at the first record; -1 without a catalog or records.
int catalog_begin(CatalogCursor* cursor, int16_t* version);
// 1 with the next record, 0 at the end.
int catalog_next(CatalogCursor* cursor, CatalogEntry* entry);

// The slot that holds the thumbnail of stream number k, -1 when the cache has
// no stream for it.
int32_t catalog_stream_slot(int32_t stream_number);

// How a thumbnail is decoded. pixel_budget, when given, is the pixels that
// decodes may still allocate (a list's bound on all its pictures together):
// a picture beyond it is refused, and each one decoded is taken from it.
// size_only: the picture's size from its header under the same ceilings and
// budget, with no pixels allocated or decoded (pixels null, pitch 0).
struct CatalogDecodeOptions {
    int64_t* pixel_budget = nullptr;
    bool size_only = false;
};

// Decodes the thumbnail of one record into newly allocated pixels; -1 when
// the cache holds no usable thumbnail for it.
int catalog_decode_entry(const CatalogEntry& entry, int16_t version, Picture* picture,
                         const CatalogDecodeOptions& options = {});

// Probes and decodes picture bytes into newly allocated pixels, under the
// same ceilings as catalog thumbnails; -1 beyond them.
int catalog_decode_bytes(const uint8_t* data, int32_t length, Picture* picture,
                         const CatalogDecodeOptions& options = {});

// The record at a cursor position taken earlier (CatalogCursor::position
// before catalog_next); 1 with the record, 0 when none is there.
int catalog_entry_at(size_t position, CatalogEntry* entry);

// Finds name (8-bit, any ASCII case) in the catalog, decodes its thumbnail
// into newly allocated pixels and hands back the record's time.
int catalog_lookup(const char* name, Picture* picture, FileTime* time);

// Frees the rebuild buffer alone (catalog_release frees it with the map).
void catalog_decode_release();

// Frees the rebuild buffer and the stream-number map. A new load needs no
// call: the map is rebuilt for a table of another load_count.
void catalog_release();
