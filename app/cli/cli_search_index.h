#pragma once
// The Windows Search index the commands name thumbcache entries from: the
// one --search-index names, or with --recursive the ones found at their
// usual place below the folders given. Loaded once per run.
#include <cstdint>
#include <string>
#include <vector>

#include "app/cli/cache_report.h"
#include "store/search/search_index.h"

// Loads the index named (option, may be null) or, with recursive, those
// found below each folder argument (reported on standard error). 0 when
// there is none or all were read; -1 when one could not be read: reported
// once ("search index not read: REASON"), and the run goes on without it.
int cli_index_open(const char* option, const std::vector<std::string>& arguments, bool recursive);
void cli_index_close();

// The index that names the entries of a cache: the one of the option, else
// the one found below the folder that holds the cache; null when none.
const SearchIndex* cli_index_for(const std::string& cache);

// Sets the row's path and name source from the index for its hash: the
// path and "search-index" when known (the index outranks every other
// source), else "identifier" unless another source named the row.
void cli_index_name_row(const SearchIndex* index, uint64_t hash, ReportRow* row);

// The same for every row keyed by a ThumbnailCacheId (Explorer cache
// records and index slots, the streams of a cache without a Catalog), when
// an index applies to its cache.
void cli_index_name_rows(std::vector<ReportRow>* rows);
