#pragma once
// Sets of known pictures, by digest: a hashdeep file, a plain list of MD5 /
// SHA-1 / SHA-256 digests, or an NSRL RDSv3 database (SQLite), queried in
// place. A set in "alert" mode flags its matches; in "ignore" mode (known
// harmless pictures) its matches are left out of the case.
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/cli/digests/digests.h"
#include "platform/system.h"
#include "platform/thread.h"

// Text sets are read whole and kept as a set of strings (some 100 bytes of
// memory per digest): a larger file is refused rather than filling memory.
constexpr int64_t HASHSET_MAX_TEXT_BYTES = int64_t(64) << 20;

struct HashSet {
    std::string path;
    std::string label;  // the file's name, as the flags show it
    bool ignore = false;
    const char* kind = "";  // "hashdeep", "digests", "nsrl-rdsv3"
    std::set<std::string> digests;  // lower-case hex, for the text sets
    int64_t entries = 0;
    void* database = nullptr;  // the open NSRL database
    // What names the set's file in the case manifest: its size and time, and
    // for an NSRL set what it says of itself (its VERSION row, column and
    // value). A full NSRL set is tens of gigabytes, too much to read on every
    // run: its digests are taken only when asked (--hashset-digests).
    int64_t bytes = -1;
    bool has_time = false;
    FileTime modified = 0;
    std::vector<std::pair<std::string, std::string>> version;
    // The digests of the set's file for the case manifest, taken on a thread
    // of their own while the caches are read.
    SysThread* digesting = nullptr;
    Digests file_digests;
    int64_t file_size = -1;
    int file_read = -1;  // what digests_of_file returned
};

// 0, or -1 with the reason in *error.
int hashset_load(const std::string& path, bool ignore, HashSet* set, std::string* error);
void hashset_release(HashSet* set);

// Whether the set holds any of the three digests.
bool hashset_holds(const HashSet& set, const Digests& d);

// The labels of the sets holding d, ';'-separated; *hidden when only sets in
// ignore mode hold it (an alert set always wins).
void hashset_match(const std::vector<HashSet>& sets, const Digests& d, std::string* labels, bool* hidden);

// Whether the manifest takes the digests of the set's file: always for the
// text sets (at most HASHSET_MAX_TEXT_BYTES), for an NSRL set when asked.
bool hashset_digests_taken(const HashSet& set, bool nsrl_digests);
// Starts taking the digests of those sets' files (hashset_file_digests waits
// for them); the sets must not move until they are released.
void hashsets_digest_in_background(std::vector<HashSet>* sets, bool nsrl_digests);
// The digests and size of the set's file: 0, or -1 where it could not be read.
int hashset_file_digests(HashSet* set, Digests* digests, int64_t* size);

// The sets of one command, released when it ends.
struct HashSetList {
    std::vector<HashSet> sets;
    HashSetList() = default;
    HashSetList(const HashSetList&) = delete;
    HashSetList& operator=(const HashSetList&) = delete;
    ~HashSetList()
    {
        for (HashSet& s : sets)
            hashset_release(&s);
    }
};

// The sets of "--hashset FILE" / "--hashset-mode alert|ignore" in the order
// given: a mode applies to the sets named after it. 0, or -1 (reported).
int hashsets_from_options(const char* command, const std::vector<std::pair<std::string, std::string>>& options,
                          std::vector<HashSet>* sets);

// The NSRL part (hashset_nsrl.cpp): -1 with a reason where SQLite is missing.
// A look-up that fails is said once per set (cli_error) and counts as no match.
// nsrl_open fills set->version from the set's VERSION table, where it has one.
int nsrl_open(const std::string& path, HashSet* set, std::string* error);
bool nsrl_holds(void* database, const Digests& d);
void nsrl_close(void* database);
// SQLite's plan of each look-up the open set prepared, one "column: detail"
// line each, in the order they run.
std::string nsrl_query_plan(void* database);
