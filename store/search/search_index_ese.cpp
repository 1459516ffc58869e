// Windows.edb through libesedb: one record per item in the property table,
// one column per property, named after it.
#include "store/search/search_index.h"

#ifndef GLIMMERDEX_HAVE_ESEDB

int search_index_load_ese(const char*, SearchIndex*)
{
    return fail("search index support not built (an ESE database needs libesedb)");
}

#else

#include <cstring>
#include <string>

// The file-handle layer of libesedb (libbfio) is not used, and its headers
// are not always installed with libesedb's.
#include <libesedb/features.h>
#undef LIBESEDB_HAVE_BFIO
#include <libesedb.h>

// Bytes of UTF-8 a path within SEARCH_INDEX_MAX_PATH_UNITS can take, NUL included.
constexpr size_t ESE_MAX_TEXT_BYTES = size_t(SEARCH_INDEX_MAX_PATH_UNITS) * 3 + 1;

static int esedb_fail(const char* what, libesedb_error_t** error)
{
    char reason[256] = "";
    if (*error) {
        libesedb_error_sprint(*error, reason, sizeof reason);
        libesedb_error_free(error);
        // libesedb's reason is a chain of lines, innermost last: keep the first.
        if (char* end = std::strchr(reason, '\n'))
            *end = 0;
    }
    return fail("%s%s%s", what, reason[0] ? ": " : "", reason);
}

struct EseColumns {
    int hash = -1, path = -1, name = -1, time = -1, work_id = -1, volume = -1;
};

static int find_columns(libesedb_table_t* table, EseColumns* out, libesedb_error_t** error)
{
    int count = 0;
    if (libesedb_table_get_number_of_columns(table, &count, 0, error) != 1)
        return -1;
    for (int i = 0; i < count; i++) {
        libesedb_column_t* column = nullptr;
        if (libesedb_table_get_column(table, i, &column, 0, error) != 1)
            return -1;
        uint8_t name[256];
        size_t size = 0;
        const int got = libesedb_column_get_utf8_name_size(column, &size, error) == 1 && size <= sizeof name &&
                        libesedb_column_get_utf8_name(column, name, sizeof name, error) == 1;
        libesedb_column_free(&column, nullptr);
        if (*error)
            libesedb_error_free(error);
        if (!got)
            continue;
        const char* text = reinterpret_cast<const char*>(name);
        if (std::strcmp(text, "WorkID") == 0)
            out->work_id = i;
        else if (search_index_name_matches(text, "System_ThumbnailCacheId"))
            out->hash = i;
        else if (search_index_name_matches(text, "System_ItemPathDisplay"))
            out->path = i;
        else if (search_index_name_matches(text, "System_FileName"))
            out->name = i;
        else if (search_index_name_matches(text, "System_DateModified"))
            out->time = i;
        else if (search_index_name_matches(text, "System_VolumeId"))
            out->volume = i;
    }
    return 0;
}

// The value of a text column as UTF-8 in out (size ESE_MAX_TEXT_BYTES):
// its length, 0 when empty or unreadable, -1 when longer than the ceiling.
static long read_text(libesedb_record_t* record, int column, uint8_t* out)
{
    libesedb_error_t* error = nullptr;
    uint8_t flags = 0;
    if (column < 0 || libesedb_record_get_value_data_flags(record, column, &flags, &error) != 1) {
        libesedb_error_free(&error);
        return 0;
    }
    // Sizes come first, so nothing past the ceiling is ever converted.
    size_t size = 0;
    long result = 0;
    if (flags & LIBESEDB_VALUE_FLAG_LONG_VALUE) {
        libesedb_long_value_t* value = nullptr;
        if (libesedb_record_get_long_value(record, column, &value, &error) == 1) {
            if (libesedb_long_value_get_utf8_string_size(value, &size, &error) == 1) {
                if (size > ESE_MAX_TEXT_BYTES)
                    result = -1;
                else if (libesedb_long_value_get_utf8_string(value, out, size, &error) == 1)
                    result = long(size);
            }
            libesedb_long_value_free(&value, nullptr);
        }
    } else if (libesedb_record_get_value_utf8_string_size(record, column, &size, &error) == 1) {
        if (size > ESE_MAX_TEXT_BYTES)
            result = -1;
        else if (libesedb_record_get_value_utf8_string(record, column, out, size, &error) == 1)
            result = long(size);
    }
    libesedb_error_free(&error);
    return result;
}

// Raw UTF-16LE of a plain (not compressed, not long) text value, for the
// strings libesedb will not convert (unpaired surrogates): its size, 0 when
// not available, -1 when too long.
static long read_raw(libesedb_record_t* record, int column, uint8_t* out, size_t capacity)
{
    libesedb_error_t* error = nullptr;
    uint8_t flags = 0;
    size_t size = 0;
    long result = 0;
    if (libesedb_record_get_value_data_flags(record, column, &flags, &error) == 1 &&
        !(flags & (LIBESEDB_VALUE_FLAG_COMPRESSED | LIBESEDB_VALUE_FLAG_LONG_VALUE | LIBESEDB_VALUE_FLAG_MULTI_VALUE)) &&
        libesedb_record_get_value_data_size(record, column, &size, &error) == 1) {
        if (size > capacity)
            result = -1;
        else if (size && libesedb_record_get_value_data(record, column, out, size, &error) == 1)
            result = long(size);
    }
    libesedb_error_free(&error);
    return result;
}

static int read_items(libesedb_table_t* table, const EseColumns& columns, SearchIndex* out,
                      libesedb_error_t** error)
{
    int records = 0;
    if (libesedb_table_get_number_of_records(table, &records, error) != 1)
        return esedb_fail("cannot count the items", error);
    static uint8_t path[ESE_MAX_TEXT_BYTES], name[ESE_MAX_TEXT_BYTES];
    for (int r = 0; r < records; r++) {
        libesedb_record_t* record = nullptr;
        if (libesedb_table_get_record(table, r, &record, error) != 1) {
            libesedb_error_free(error);  // one damaged record: the others still name their entries
            continue;
        }
        size_t size = 0;
        uint8_t id[8];
        int kept = 0;
        uint8_t volume[16];
        if (columns.volume >= 0 && libesedb_record_get_value_data_size(record, columns.volume, &size, error) == 1 &&
            size > 0)
            search_index_count_volume_id(out, size == 16 && libesedb_record_get_value_data(record, columns.volume, volume,
                                                                                           16, error) == 1
                                                  ? volume
                                                  : nullptr,
                                         size, 1);
        libesedb_error_free(error);
        if (libesedb_record_get_value_data_size(record, columns.hash, &size, error) != 1 || size == 0) {
            libesedb_error_free(error);  // no id: an item Explorer never drew
        } else if (size != 8 || libesedb_record_get_value_data(record, columns.hash, id, 8, error) != 1) {
            libesedb_error_free(error);
            out->bad_hashes++;
        } else {
            kept = 1;
        }
        if (kept) {
            uint64_t hash = 0;
            for (int i = 7; i >= 0; i--)  // little-endian, as in Windows.db
                hash = hash << 8 | id[i];
            uint32_t work_id = uint32_t(r);
            if (columns.work_id >= 0)
                libesedb_record_get_value_32bit(record, columns.work_id, &work_id, error);
            libesedb_error_free(error);
            uint64_t filetime = 0;
            uint8_t time[8];
            int has_time = 0;
            if (columns.time >= 0 && libesedb_record_get_value_data_size(record, columns.time, &size, error) == 1 &&
                size == 8 && libesedb_record_get_value_data(record, columns.time, time, 8, error) == 1) {
                for (int i = 7; i >= 0; i--)
                    filetime = filetime << 8 | time[i];
                has_time = 1;
            }
            libesedb_error_free(error);
            long name_len = read_text(record, columns.name, name);
            if (name_len < 0)
                name_len = 0;
            long path_len = read_text(record, columns.path, path);
            const char* name_text = reinterpret_cast<const char*>(name);
            int added = 0;
            if (path_len < 0) {
                out->long_paths++;
            } else if (path_len == 0) {
                const long raw = read_raw(record, columns.path, path, sizeof path);
                if (raw < 0)
                    out->long_paths++;
                else if (raw == 0)
                    out->without_path++;
                else
                    added = search_index_add_utf16(out, hash, work_id, path, size_t(raw), name_text, size_t(name_len),
                                                   has_time, filetime);
            } else {
                added = search_index_add(out, hash, work_id, reinterpret_cast<const char*>(path), size_t(path_len),
                                         name_text, size_t(name_len), has_time, filetime);
            }
            if (added < 0) {
                libesedb_record_free(&record, nullptr);
                return 0;  // a ceiling: keep what was read
            }
        }
        libesedb_record_free(&record, nullptr);
    }
    return 0;
}

int search_index_load_ese(const char* path, SearchIndex* out)
{
    libesedb_error_t* error = nullptr;
    libesedb_file_t* file = nullptr;
    if (libesedb_file_initialize(&file, &error) != 1)
        return esedb_fail("libesedb", &error);
#ifdef _WIN32
    // libesedb opens "\\?\" + the full path, where '/' is no separator.
    std::string native(path);
    for (char& c : native)
        if (c == '/')
            c = '\\';
    path = native.c_str();
#endif
    // LIBESEDB_OPEN_READ: libesedb never writes, and replays no log.
    if (libesedb_file_open(file, path, LIBESEDB_OPEN_READ, &error) != 1) {
        libesedb_file_free(&file, nullptr);
        return esedb_fail("libesedb cannot open the database", &error);
    }
    libesedb_table_t* table = nullptr;
    static constexpr const char* TABLES[] = {"SystemIndex_PropertyStore", "SystemIndex_0A"};
    for (const char* name : TABLES) {
        if (libesedb_file_get_table_by_utf8_name(file, reinterpret_cast<const uint8_t*>(name), std::strlen(name),
                                                 &table, &error) == 1)
            break;
        libesedb_error_free(&error);
        table = nullptr;
    }
    int result;
    EseColumns columns;
    if (!table) {
        result = fail("no table SystemIndex_PropertyStore or SystemIndex_0A");
    } else if (find_columns(table, &columns, &error) != 0) {
        result = esedb_fail("cannot read the columns", &error);
    } else if (columns.hash < 0 || columns.path < 0) {
        result = fail("the property table has no %s column",
                      columns.hash < 0 ? "System_ThumbnailCacheId" : "System_ItemPathDisplay");
    } else {
        result = read_items(table, columns, out, &error);
    }
    if (table)
        libesedb_table_free(&table, nullptr);
    libesedb_file_close(file, nullptr);
    libesedb_file_free(&file, nullptr);
    return result;
}

#endif
