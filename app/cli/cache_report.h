#pragma once
// What a cache holds, record by record, for `list --catalog` and `extract`.
#include <cstdint>
#include <string>
#include <vector>

#include "image/disk_image.h"
#include "store/store_entry.h"
#include "store/explorer/thumbcache.h"

// What only Explorer's cache files have. Plain values, so that every output
// written from rows can carry them.
struct ThumbcacheFacts {
    uint32_t version = 0;
    std::string bucket;        // "32", "256", "sr", ...; "index" for index slots; never empty
    uint64_t offset = 0;       // of the record in its file
    uint64_t hash = 0;
    int64_t data_size = -1;    // as stored
    bool header_checksum_ok = false;
    uint64_t data_checksum = 0;  // as stored
    ThumbcacheCheck data_check = THUMBCACHE_CHECK_UNVERIFIED;
    bool recovered = false;
    // The index beside the file: "slot N", "unknown" (not in the index),
    // "dangling: ..." (an index slot that finds no record), "-" without an index.
    std::string index = "-";
    std::string index_buckets;  // buckets the index lists for the item, '/'-separated
};

struct ReportRow {
    std::string cache;
    int32_t record = -1;     // catalog record index, -1 for hashed streams
    std::string stream;      // the record's stream number, or the stream's name
    std::string name;        // the full name in UTF-8 (the stream name for hashed streams)
    bool has_time = false;
    uint64_t filetime = 0;
    // The stream's own directory times (created, modified), 0 where unset.
    uint64_t stream_times[2] = {0, 0};
    std::string header;      // the stream header's fields, '/'-separated
    int64_t length = -1;     // stored thumbnail bytes, -1 when there are none
    std::string format;      // of the stored bytes: jpeg, png, ..., "jpeg-tableless", unknown
    int32_t width = 0, height = 0;
    std::string sha256;      // of the stored bytes
    std::string file;        // the file extract wrote, if any
    // The item's path from the Windows Search index, or for a stream the name
    // of its file in the cache's folder, where either is known.
    std::string path;
    // "search-index", "catalog", "folder", "folder-deleted", "identifier", or
    // empty (a catalog record's own name, a stream nothing names).
    std::string name_source;
    // A stream and the catalog record of its file's name: "record N" on the
    // stream's row, "stream NAME" (';'-separated) on the record's; else empty.
    std::string linked;
    // The entry and its stored bytes (into the loaded pool or an Explorer
    // file: valid until the next load or report_release); its kind says what
    // the row is. Index slots and dangling slots have no entry of their own
    // (STORE_ENTRY_NONE): report_row_explorer tells them.
    StoreEntry entry = store_entry_none();
    ThumbcacheFacts thumbcache;       // rows of Explorer files only
    ImageOrigin origin;               // rows of caches inside a disk image only (image set)
};

// Whether the row comes from an Explorer cache file or index: a record, an
// index slot or a dangling slot.
bool report_row_explorer(const ReportRow& row);

// The name a thumbcache row is shown under: its identifier as UTF-8. The one
// place that decides it, so a name found elsewhere is one change here.
std::string thumbcache_row_name(const ThumbcacheEntry& entry);

// Loads the cache and describes every catalog record (duplicates and
// records without a thumbnail included) and every hashed stream; for an
// Explorer cache file every record, linked with the index beside it, and for
// an index every used slot. Rows of Explorer files point into bytes kept
// until report_release. 0 when the cache was read, -1 when it is not a cache
// we can read, with *failure set to its error line (report_failure).
// Without digest the rows' sha256 is left empty, for a caller that takes the
// digests itself (extract, on all cores).
int report_cache(const std::string& path, std::vector<ReportRow>* rows, std::string* failure, bool digest = true);

// The columns of `list --catalog` (and of the extract report, without "file").
std::vector<std::string> report_columns();
std::vector<std::string> report_cells(const ReportRow& row);
// The columns added when an input is a disk image: where the row's cache
// lies in it; "-" on rows of other caches.
std::vector<std::string> report_origin_columns();
std::vector<std::string> report_origin_cells(const ReportRow& row);
// The columns added when Explorer cache files are listed; "-" on other rows.
std::vector<std::string> report_thumbcache_columns();
std::vector<std::string> report_thumbcache_cells(const ReportRow& row);

// Whether the file is an Explorer cache file or index, by its first bytes.
bool report_explorer_file(const std::string& path);

// The error line of a cache whose load has just failed: the file, what it
// was read as ("Thumbs.db not found", "Explorer cache file cannot be read",
// "Explorer cache index cannot be read", by kind) and the reason that load
// gave. Only the failed load itself sets the reason, so take the line before
// anything else is loaded.
std::string report_failure(const std::string& path, ThumbcacheKind kind);

// Frees the Explorer files the last report_cache calls kept.
void report_release();

std::string utc_text(uint64_t filetime);
std::string utf16_to_utf8(const uint8_t* utf16le, int32_t chars);
