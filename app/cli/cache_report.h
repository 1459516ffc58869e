#pragma once
// What a cache holds, record by record, for `list --catalog` and `extract`.
#include <cstdint>
#include <string>
#include <vector>

enum class RowKind {
    current,  // catalog version 7 and above: the stored bytes are a picture file
    old,      // below 7: a stripped JPEG, decoded and written as PNG
    hashed,   // a "<size>_<hex>" stream of a cache without a Catalog
};

struct ReportRow {
    std::string cache;
    RowKind kind = RowKind::current;
    int32_t record = -1;     // catalog record index, -1 for hashed streams
    std::string stream;      // the record's stream number, or the stream's name
    int32_t slot = -1;       // -1: the record's stream is missing
    std::string name;        // the full name in UTF-8 (the stream name for hashed streams)
    bool has_time = false;
    uint64_t filetime = 0;
    std::string header;      // the stream header's fields, '/'-separated
    int64_t length = -1;     // stored thumbnail bytes, -1 when there are none
    std::string format;      // of the stored bytes: jpeg, png, ..., "jpeg-tableless", unknown
    int32_t width = 0, height = 0;
    std::string sha256;      // of the stored bytes
    std::string file;        // the file extract wrote, if any
    std::string path;        // the item's path from the Windows Search index, if known
    std::string name_source; // "search-index", "identifier", or empty (a catalog name)
    const uint8_t* stored = nullptr;  // into the loaded pool: valid until the next load
};

// Loads the cache and describes every catalog record (duplicates and
// records without a thumbnail included) and every hashed stream. 0 when the
// cache was read, -1 when it is not a cache we can read.
int report_cache(const std::string& path, std::vector<ReportRow>* rows);

// The columns of `list --catalog` (and of the extract report, without "file").
std::vector<std::string> report_columns();
std::vector<std::string> report_cells(const ReportRow& row);

std::string utc_text(uint64_t filetime);
std::string utf16_to_utf8(const uint8_t* utf16le, int32_t chars);
