#pragma once
// manifest.json: how an extract run came about (tool, version, revision,
// command line, times, system), what it read, with the digests of every
// input taken before and after the run, what it wrote and what it warned.
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/cli/digests/digests.h"

struct InputPrint {
    bool read = false;  // false: the file could not be read
    int64_t size = -1;
    Digests digests;
};

struct CaseInput {
    std::string path;
    InputPrint before, after;
};

// An image checked with --verify-image against the MD5 it stores.
struct CaseImageCheck {
    std::string path;    // the image as an input names it
    std::string result;  // "match", "mismatch", "none stored", "unreadable", "not an E01"
    std::string stored_md5, media_md5;
};

struct CaseHashset {
    std::string path;
    std::string mode;  // "alert" or "ignore"
    std::string kind;  // "hashdeep", "digests", "nsrl-rdsv3"
    int64_t entries = -1;  // -1 where the set is queried in place
    // What identifies the file without reading it whole: its size, its
    // modification time (empty when unknown) and, for an NSRL set, its own
    // VERSION row.
    int64_t size = -1;
    std::string modified_utc;
    std::vector<std::pair<std::string, std::string>> version;
    bool digests_taken = true;  // false: an NSRL set without --hashset-digests
    Digests digests;
};

struct CaseCounts {
    int64_t caches = 0, caches_failed = 0;
    int64_t entries_read = 0;  // records and streams read from the caches
    int64_t recovered = 0;     // of those, entries with a thumbnail
    int64_t written = 0;       // thumbnail files written
    int64_t failed = 0;        // thumbnails that could not be written
    int64_t hidden = 0;        // matched by a set in ignore mode: not extracted
};

struct CaseManifest {
    std::string started_utc, finished_utc;
    std::vector<CaseInput> inputs;
    std::vector<CaseImageCheck> image_checks;  // shown with the input of the same path
    std::vector<CaseHashset> hashsets;
    CaseCounts counts;
    std::vector<std::string> outputs;  // names in the output folder, in the order written
    std::vector<std::string> warnings;
};

// The version and source revision built in, as "0.1.0 (revision abc123)".
std::string case_tool_version();

// The current time as "YYYY-MM-DDTHH:MM:SSZ".
std::string utc_now();

// Size and digests of an input file, read-only. With jobs above 1, MD5 (the
// slowest of the three) is taken on a thread of its own while SHA-1 and
// SHA-256 are taken on this one.
void input_print(const std::string& path, InputPrint* out, int jobs = 1);

// Where this program runs, as far as the tool can tell without asking the
// system beyond reading files: distribution, kernel, machine.
std::string case_system_name();

// A few lines for a reader of the page, which shows each cache with its
// digests itself: the hash sets, the counts, and where the rest is.
std::vector<std::string> case_summary(const CaseManifest& m);

void write_manifest(std::FILE* out, const CaseManifest& m, const std::vector<std::string>& command);
