// NSRL RDSv3 databases: SQLite files whose FILE table lists md5, sha1 and
// sha256 (upper-case hex) of known files. Queried in place: a full RDS is
// far larger than memory.
#include <cstdio>
#include <string>

#include "app/cli/case/hashset.h"

#ifdef GLIMMERDEX_HAVE_SQLITE
#include <sqlite3.h>

namespace {

const char NSRL_QUERY[] =
    "SELECT 1 FROM FILE WHERE sha256 IN (?1, ?2) OR sha1 IN (?3, ?4) OR md5 IN (?5, ?6) LIMIT 1";

std::string upper(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = char(c - 32);
    return out;
}

// A file: URI names the file exactly, whatever characters its path holds.
std::string file_uri(const std::string& path)
{
    std::string out = "file:";
    for (unsigned char c : path) {
        if (c == '%' || c == '?' || c == '#' || c < 0x21 || c >= 0x7F) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            out += escaped;
        } else {
            out += char(c == '\\' ? '/' : c);
        }
    }
    return out;
}

} // namespace

int nsrl_open(const std::string& path, HashSet* set, std::string* error)
{
    sqlite3* db = nullptr;
    // immutable: never a journal, lock or -wal file beside the set.
    std::string uri = file_uri(path) + "?immutable=1";
    if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK) {
        *error = std::string("not a readable SQLite database: ") + (db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return -1;
    }
    sqlite3_stmt* probe = nullptr;
    if (sqlite3_prepare_v2(db, NSRL_QUERY, -1, &probe, nullptr) != SQLITE_OK) {
        *error = "not an NSRL RDSv3 database (no FILE table with md5, sha1 and sha256)";
        sqlite3_close(db);
        return -1;
    }
    sqlite3_finalize(probe);
    set->database = db;
    set->entries = -1;
    return 0;
}

bool nsrl_holds(void* database, const Digests& d)
{
    auto* db = static_cast<sqlite3*>(database);
    sqlite3_stmt* q = nullptr;
    if (sqlite3_prepare_v2(db, NSRL_QUERY, -1, &q, nullptr) != SQLITE_OK)
        return false;
    const std::string values[6] = {upper(d.sha256), d.sha256, upper(d.sha1), d.sha1, upper(d.md5), d.md5};
    for (int i = 0; i < 6; ++i)
        sqlite3_bind_text(q, i + 1, values[i].c_str(), int(values[i].size()), SQLITE_TRANSIENT);
    bool found = sqlite3_step(q) == SQLITE_ROW;
    sqlite3_finalize(q);
    return found;
}

void nsrl_close(void* database) { sqlite3_close(static_cast<sqlite3*>(database)); }

#else

int nsrl_open(const std::string&, HashSet*, std::string* error)
{
    *error = "NSRL databases need SQLite, which this build of the tool lacks (hashdeep files and digest lists work)";
    return -1;
}

bool nsrl_holds(void*, const Digests&) { return false; }
void nsrl_close(void*) {}

#endif
