#pragma once
// Which catalog entries of a Thumbs.db have no file of their name left in the
// cache's folder: the pictures that now exist only as thumbnails.
#include <set>
#include <string>
#include <vector>

#include "app/cli/cache_report.h"
#include "app/cli/case/case_record.h"

// The names of the files (not folders) in folder, ASCII lower-cased; -1 when
// the folder cannot be listed.
int folder_file_names(const std::string& folder, std::set<std::string>* names);

// The 8-bit name the store compares: the low byte of each UTF-16 unit.
std::string narrowed_name(const std::string& utf8);

// "yes" / "no" for every catalog record (current and old catalogs) of rows;
// other rows keep "-". A name is present when its 8-bit form, or its UTF-8
// form (the folder of a Linux copy holds UTF-8 names), equals a file name
// ignoring ASCII case.
void mark_missing(const std::set<std::string>& names, const std::vector<ReportRow>& rows, std::vector<CaseRow>* cases);

// The caches of find_caches that were found by naming their folder (only
// for those does "missing from the folder" mean anything).
std::set<std::string> caches_opened_from_folders(const std::vector<std::string>& arguments, bool recursive);
