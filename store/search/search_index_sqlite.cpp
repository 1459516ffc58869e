// Windows.db through SQLite: one row per (item, property) in
// SystemIndex_1_PropertyStore, the properties' column ids in its _Metadata
// table.
#include "store/search/search_index.h"

#ifndef GLIMMERDEX_HAVE_SQLITE

int search_index_load_sqlite(const char*, SearchIndex*)
{
    return fail("search index support not built (an SQLite database needs SQLite)");
}

#else

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sqlite3.h>

#include "platform/system.h"

// 0 copied, 1 the source does not exist, -1 failed.
static int copy_file(const std::string& from, const std::string& to)
{
    std::FILE* in = sys_fopen(from.c_str(), "rb");
    if (!in)
        return sys_path_exists(from.c_str()) ? -1 : 1;
    std::FILE* out = sys_fopen(to.c_str(), "wb");
    int result = out ? 0 : -1;
    static char buffer[1 << 20];
    while (result == 0) {
        const size_t got = std::fread(buffer, 1, sizeof buffer, in);
        if (got && std::fwrite(buffer, 1, got, out) != got)
            result = -1;
        if (got < sizeof buffer) {
            if (std::ferror(in))
                result = -1;
            break;
        }
    }
    std::fclose(in);
    if (out && std::fclose(out) != 0)
        result = -1;
    return result;
}

static int sqlite_fail(const char* what, sqlite3* db)
{
    return fail("%s: %s", what, db ? sqlite3_errmsg(db) : "out of memory");
}

// The column ids of the four properties, by name; 0 when missing.
struct SqliteColumns {
    sqlite3_int64 hash = 0, path = 0, name = 0, time = 0, volume = 0;
    bool has_hash = false, has_path = false, has_name = false, has_time = false, has_volume = false;
};

static int find_columns(sqlite3* db, SqliteColumns* out)
{
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT Id, UniqueKey, Name FROM SystemIndex_1_PropertyStore_Metadata", -1, &stmt,
                           nullptr) != SQLITE_OK)
        return sqlite_fail("no property list", db);
    int step;
    while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
        const sqlite3_int64 id = sqlite3_column_int64(stmt, 0);
        const char* key = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
        const char* name = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 2));
        auto is = [&](const char* key_name, const char* display) {
            return (key && search_index_name_matches(key, key_name)) || (name && std::strcmp(name, display) == 0);
        };
        if (is("System_ThumbnailCacheId", "System.ThumbnailCacheId"))
            out->hash = id, out->has_hash = true;
        else if (is("System_ItemPathDisplay", "System.ItemPathDisplay"))
            out->path = id, out->has_path = true;
        else if (is("System_FileName", "System.FileName"))
            out->name = id, out->has_name = true;
        else if (is("System_DateModified", "System.DateModified"))
            out->time = id, out->has_time = true;
        else if (is("System_VolumeId", "System.VolumeId"))
            out->volume = id, out->has_volume = true;
    }
    sqlite3_finalize(stmt);
    if (step != SQLITE_DONE)
        return sqlite_fail("cannot read the property list", db);
    if (!out->has_hash || !out->has_path)
        return fail("the property list has no %s",
                    !out->has_hash ? "System.ThumbnailCacheId" : "System.ItemPathDisplay");
    return 0;
}

// A text value: UTF-8 when stored as text, UTF-16LE when stored as a blob.
struct SqliteText {
    const void* bytes;
    size_t size;
    bool utf16;
};

static SqliteText column_text(sqlite3_stmt* stmt, int column)
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_TEXT: {
        const void* bytes = sqlite3_column_text(stmt, column);
        return {bytes, size_t(sqlite3_column_bytes(stmt, column)), false};
    }
    case SQLITE_BLOB: {
        const void* bytes = sqlite3_column_blob(stmt, column);
        return {bytes, size_t(sqlite3_column_bytes(stmt, column)), true};
    }
    default:
        return {nullptr, 0, false};
    }
}

static int read_items(sqlite3* db, const SqliteColumns& columns, SearchIndex* out)
{
    // One pass over the id rows; the other properties come through the
    // (WorkId, ColumnId) key.
    sqlite3_stmt* stmt = nullptr;
    const char* sql =
        "SELECT t.WorkId, t.Value, p.Value, n.Value, m.Value FROM SystemIndex_1_PropertyStore t"
        " LEFT JOIN SystemIndex_1_PropertyStore p ON p.WorkId = t.WorkId AND p.ColumnId = ?2"
        " LEFT JOIN SystemIndex_1_PropertyStore n ON n.WorkId = t.WorkId AND n.ColumnId = ?3"
        " LEFT JOIN SystemIndex_1_PropertyStore m ON m.WorkId = t.WorkId AND m.ColumnId = ?4"
        " WHERE t.ColumnId = ?1";
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
        return sqlite_fail("cannot read the property store", db);
    sqlite3_bind_int64(stmt, 1, columns.hash);
    sqlite3_bind_int64(stmt, 2, columns.path);
    // A missing property is asked for under an id no row has.
    sqlite3_bind_int64(stmt, 3, columns.has_name ? columns.name : -1);
    sqlite3_bind_int64(stmt, 4, columns.has_time ? columns.time : -1);
    int step;
    while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
        const uint64_t work_id = uint64_t(sqlite3_column_int64(stmt, 0));
        // The id is 8 bytes, little-endian; anything else is not one.
        const void* id = sqlite3_column_blob(stmt, 1);
        if (sqlite3_column_type(stmt, 1) != SQLITE_BLOB || sqlite3_column_bytes(stmt, 1) != 8 || !id) {
            out->bad_hashes++;
            continue;
        }
        const uint8_t* b = static_cast<const uint8_t*>(id);
        uint64_t hash = 0;
        for (int i = 7; i >= 0; i--)
            hash = hash << 8 | b[i];
        uint64_t filetime = 0;
        int has_time = 0;
        if (sqlite3_column_type(stmt, 4) == SQLITE_BLOB && sqlite3_column_bytes(stmt, 4) == 8) {
            const uint8_t* t = static_cast<const uint8_t*>(sqlite3_column_blob(stmt, 4));
            for (int i = 7; t && i >= 0; i--)
                filetime = filetime << 8 | t[i];
            has_time = t != nullptr;
        }
        const SqliteText path = column_text(stmt, 2);
        SqliteText name = column_text(stmt, 3);
        if (name.utf16) {
            static char name_utf8[size_t(SEARCH_INDEX_MAX_PATH_UNITS) * 3 + 1];
            const long len = search_index_utf16_to_utf8(static_cast<const uint8_t*>(name.bytes), name.size, name_utf8);
            name = {name_utf8, len > 0 ? size_t(len) : 0, false};
        }
        const int added =
            path.utf16 ? search_index_add_utf16(out, hash, work_id, static_cast<const uint8_t*>(path.bytes), path.size,
                                                static_cast<const char*>(name.bytes), name.size, has_time, filetime)
                       : search_index_add(out, hash, work_id, static_cast<const char*>(path.bytes), path.size,
                                          static_cast<const char*>(name.bytes), name.size, has_time, filetime);
        if (added != 0)
            break;  // a ceiling: keep what was read
    }
    const int done = step == SQLITE_DONE || step == SQLITE_ROW;
    sqlite3_finalize(stmt);
    return done ? 0 : sqlite_fail("cannot read the property store", db);
}

// The volumes the items lie on, one row per distinct value.
static int read_volume_ids(sqlite3* db, const SqliteColumns& columns, SearchIndex* out)
{
    if (!columns.has_volume)
        return 0;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT Value, COUNT(*) FROM SystemIndex_1_PropertyStore WHERE ColumnId = ?1 GROUP BY Value",
                           -1, &stmt, nullptr) != SQLITE_OK)
        return sqlite_fail("cannot read the volume ids", db);
    sqlite3_bind_int64(stmt, 1, columns.volume);
    int step;
    while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
        const bool blob = sqlite3_column_type(stmt, 0) == SQLITE_BLOB;
        search_index_count_volume_id(out, blob ? sqlite3_column_blob(stmt, 0) : nullptr,
                                     blob ? size_t(sqlite3_column_bytes(stmt, 0)) : 0,
                                     int32_t(std::min<sqlite3_int64>(sqlite3_column_int64(stmt, 1), INT32_MAX)));
    }
    sqlite3_finalize(stmt);
    return step == SQLITE_DONE ? 0 : sqlite_fail("cannot read the volume ids", db);
}

int search_index_load_sqlite(const char* path, SearchIndex* out)
{
    // SQLite writes beside the database it opens (it checkpoints the log into
    // it and deletes the log on close), so it only ever opens a private copy.
    std::string folder;
    if (sys_make_temp_folder("glimmerdex-index", &folder) != 0)
        return fail("cannot make a temporary folder for a copy of the database");
    const std::string copy = folder + "/index.db";
    int result = 0;
    // The log holds the latest changes; the shared-memory index is not copied:
    // SQLite rebuilds it from the log, where a stale one could hide frames.
    if (copy_file(path, copy) != 0 || copy_file(std::string(path) + "-wal", copy + "-wal") < 0)
        result = fail("cannot copy the database to %s", folder.c_str());
    sqlite3* db = nullptr;
    if (result == 0) {
        // Read-write on the copy only, so SQLite can build the log's index.
        if (sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            result = sqlite_fail("SQLite cannot open the database", db);
        else
            sqlite3_exec(db, "PRAGMA query_only = 1", nullptr, nullptr, nullptr);
    }
    SqliteColumns columns;
    if (result == 0)
        result = find_columns(db, &columns);
    if (result == 0)
        result = read_items(db, columns, out);
    if (result == 0)
        result = read_volume_ids(db, columns, out);
    sqlite3_close(db);
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        sys_remove_file((copy + suffix).c_str());
    sys_remove_folder(folder.c_str());
    return result;
}

#endif
