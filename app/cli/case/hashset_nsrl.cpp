// NSRL RDSv3 databases: SQLite files whose FILE table lists md5, sha1 and
// sha256 (upper-case hex) of known files. Queried in place: a full RDS holds
// tens of millions of rows, so every look-up goes through an index, with
// statements prepared once when the set is opened.
#include <cstdio>
#include <string>

#include "app/cli/case/hashset.h"
#include "app/cli/cli.h"

#ifdef GLIMMERDEX_HAVE_SQLITE
#include <sqlite3.h>

namespace {

// In the order they are looked up. RDSv3's primary key starts with sha256,
// so every published set answers by it; md5 and sha1 only where an index
// starts with them, since without one each look-up reads the whole table.
constexpr const char* NSRL_COLUMNS[3] = {"sha256", "sha1", "md5"};

struct NsrlSet {
    sqlite3* db = nullptr;
    sqlite3_stmt* lookup[3] = {};  // by NSRL_COLUMNS; null where that column is not looked up
    std::string label;
    bool failed = false;  // a look-up failed, and that was said
};

// Both spellings are looked up: RDSv3 publishes upper case, text sets made by
// other tools often hold lower case, and the column's collation is the set's.
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

// The collation of a whole-table index of FILE whose first column is column,
// or "" when there is none. The look-up compares in that collation, or the
// planner could not use the index; only SQLite's own collations are known to
// this connection.
std::string leading_index_collation(sqlite3* db, const char* column)
{
    static const char SQL[] =
        "SELECT x.coll FROM pragma_index_list('FILE') AS l, pragma_index_xinfo(l.name) AS x "
        "WHERE l.partial = 0 AND x.seqno = 0 AND x.name = ?1 COLLATE NOCASE "
        "AND x.coll COLLATE NOCASE IN ('BINARY', 'NOCASE', 'RTRIM') LIMIT 1";
    sqlite3_stmt* q = nullptr;
    std::string collation;
    if (sqlite3_prepare_v2(db, SQL, -1, &q, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(q, 1, column, -1, SQLITE_STATIC);
        if (sqlite3_step(q) == SQLITE_ROW)
            collation = reinterpret_cast<const char*>(sqlite3_column_text(q, 0));
    }
    sqlite3_finalize(q);
    return collation;
}

// The set's VERSION row (RDSv3: version, build_set, build_date,
// release_date, description) as it stands: it names the release in the
// manifest. Bounded, since the file is as untrusted as any input.
void read_version(sqlite3* db, HashSet* set)
{
    constexpr int MAX_COLUMNS = 16;
    constexpr size_t MAX_TEXT = 256;
    sqlite3_stmt* q = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT * FROM VERSION LIMIT 1", -1, &q, nullptr) == SQLITE_OK &&
        sqlite3_step(q) == SQLITE_ROW) {
        for (int c = 0; c < sqlite3_column_count(q) && c < MAX_COLUMNS; ++c) {
            const char* name = sqlite3_column_name(q, c);
            const unsigned char* value = sqlite3_column_text(q, c);
            std::string text = value ? reinterpret_cast<const char*>(value) : "";
            if (text.size() > MAX_TEXT)
                text.resize(MAX_TEXT);
            set->version.emplace_back(std::string(name ? name : "").substr(0, MAX_TEXT), text);
        }
    }
    sqlite3_finalize(q);
}

void release(NsrlSet* set)
{
    for (sqlite3_stmt* q : set->lookup)
        sqlite3_finalize(q);
    sqlite3_close(set->db);
    delete set;
}

} // namespace

int nsrl_open(const std::string& path, HashSet* set, std::string* error)
{
    auto* nsrl = new NsrlSet;
    nsrl->label = set->label;
    // immutable: never a journal, lock or -wal file beside the set.
    std::string uri = file_uri(path) + "?immutable=1";
    if (sqlite3_open_v2(uri.c_str(), &nsrl->db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK) {
        *error = std::string("not a readable SQLite database: ") +
                 (nsrl->db ? sqlite3_errmsg(nsrl->db) : "out of memory");
        release(nsrl);
        return -1;
    }
    sqlite3_stmt* probe = nullptr;
    int shape = sqlite3_prepare_v2(nsrl->db, "SELECT sha256, sha1, md5 FROM FILE", -1, &probe, nullptr);
    sqlite3_finalize(probe);
    if (shape != SQLITE_OK) {
        *error = "not an NSRL RDSv3 database (no FILE table with md5, sha1 and sha256)";
        release(nsrl);
        return -1;
    }
    for (int c = 0; c < 3; ++c) {
        std::string collation = leading_index_collation(nsrl->db, NSRL_COLUMNS[c]);
        if (collation.empty() && c > 0)
            continue;
        // A FILE without an index on sha256 is not as published; it is still
        // answered, one whole-table read per look-up.
        std::string sql = std::string("SELECT 1 FROM FILE WHERE ") + NSRL_COLUMNS[c] +
                          (collation.empty() ? "" : " COLLATE " + collation) + " IN (?1, ?2) LIMIT 1";
        if (sqlite3_prepare_v2(nsrl->db, sql.c_str(), -1, &nsrl->lookup[c], nullptr) != SQLITE_OK) {
            *error = std::string("cannot query it: ") + sqlite3_errmsg(nsrl->db);
            release(nsrl);
            return -1;
        }
    }
    read_version(nsrl->db, set);
    set->database = nsrl;
    set->entries = -1;
    return 0;
}

bool nsrl_holds(void* database, const Digests& d)
{
    auto* set = static_cast<NsrlSet*>(database);
    const std::string* digests[3] = {&d.sha256, &d.sha1, &d.md5};
    for (int c = 0; c < 3; ++c) {
        sqlite3_stmt* q = set->lookup[c];
        if (!q || digests[c]->empty())  // an empty digest would find rows that lack one
            continue;
        const std::string spelled[2] = {upper(*digests[c]), *digests[c]};
        for (int i = 0; i < 2; ++i)
            sqlite3_bind_text(q, i + 1, spelled[i].c_str(), int(spelled[i].size()), SQLITE_STATIC);
        int step = sqlite3_step(q);
        if (step != SQLITE_ROW && step != SQLITE_DONE && !set->failed) {
            set->failed = true;
            cli_error("hash set %s: a look-up failed (%s): pictures in it may go unmatched", set->label.c_str(),
                      sqlite3_errmsg(set->db));
        }
        sqlite3_reset(q);
        if (step == SQLITE_ROW)
            return true;
    }
    return false;
}

std::string nsrl_query_plan(void* database)
{
    auto* set = static_cast<NsrlSet*>(database);
    std::string plan;
    for (int c = 0; c < 3; ++c) {
        if (!set->lookup[c])
            continue;
        sqlite3_stmt* q = nullptr;
        std::string sql = std::string("EXPLAIN QUERY PLAN ") + sqlite3_sql(set->lookup[c]);
        if (sqlite3_prepare_v2(set->db, sql.c_str(), -1, &q, nullptr) == SQLITE_OK)
            while (sqlite3_step(q) == SQLITE_ROW)
                plan += std::string(NSRL_COLUMNS[c]) + ": " +
                        reinterpret_cast<const char*>(sqlite3_column_text(q, 3)) + "\n";
        sqlite3_finalize(q);
    }
    return plan;
}

void nsrl_close(void* database) { release(static_cast<NsrlSet*>(database)); }

#else

int nsrl_open(const std::string&, HashSet*, std::string* error)
{
    *error = "NSRL databases need SQLite, which this build of the tool lacks (hashdeep files and digest lists work)";
    return -1;
}

bool nsrl_holds(void*, const Digests&) { return false; }
std::string nsrl_query_plan(void*) { return ""; }
void nsrl_close(void*) {}

#endif
