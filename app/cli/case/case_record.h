#pragma once
// What extract adds to each row of its report so that the output folder is a
// case record others can check: the digests of the stored bytes and of the
// file written, the original that is gone, known-set matches and groups of
// equal payloads; and hashes.txt, the folder's checksums in hashdeep's format.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli/cache_report.h"
#include "app/cli/digests/digests.h"
#include "app/cli/table.h"

struct CaseRow {
    Digests payload;      // of the stored bytes; empty without a thumbnail
    Digests file;         // of the file as written (a decoded PNG differs from its stored bytes)
    int64_t file_bytes = -1;
    std::string missing = "-";  // "yes" / "no" for catalog names of a cache opened from its folder
    std::string hashset;  // file names of the hash sets holding the payload, ';'-separated
    bool hidden = false;  // matched by a set whose matches are hidden
    std::string same_as;  // the group of rows with this payload, when more than one has it
};

// The digests of the stored bytes, while row.entry still points at them.
void case_digest_payload(const ReportRow& row, CaseRow* c);

// Numbers the groups of rows whose payloads are equal (by SHA-256) 1, 2, ...
// in the order their first member appears; rows alone keep an empty same_as.
void case_group_duplicates(const std::vector<ReportRow>& rows, std::vector<CaseRow>* cases);

// The report's columns after the listing's own.
std::vector<std::string> case_columns();
std::vector<ColumnKind> case_column_kinds();
std::vector<std::string> case_cells(const ReportRow& row, const CaseRow& c);

// One line of hashes.txt: a file of the folder by its name in the folder.
struct HashedFile {
    std::string name;
    int64_t size;
    Digests digests;
};

// hashes.txt as hashdeep writes it for `hashdeep -c md5,sha256 -l NAMES...`
// run in the output folder, so that `hashdeep -a -k hashes.txt -l NAMES...`
// there audits the folder.
void write_hashdeep(std::FILE* out, const std::string& folder, const std::vector<std::string>& command,
                    const std::vector<HashedFile>& files);
