#pragma once
// index.html: the report as a page to read. Self-contained (inline style and
// script, no request leaves the folder). Each cache is a section headed by its
// path and digests, with a table of one row per entry: its thumbnail from the
// extracted file and the report columns that hold a value for some entry of
// that cache. Sortable by each column and filterable by text where JavaScript
// runs (one order and one filter for every table), and complete where it does
// not. "#sort=COLUMN" (or "#sort=-COLUMN", descending) and "#filter=TEXT" in
// the address sort and filter on load.
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli/cache_report.h"
#include "app/cli/case/case_manifest.h"
#include "app/cli/case/case_record.h"
#include "app/cli/table.h"

struct HtmlOptions {
    bool blur_flagged = false;  // thumbnails of entries in a hash set blurred until clicked
    std::string title = "Thumbnail cache report";
    std::vector<std::string> summary;  // lines shown after the list of caches
};

// table.rows[i] is the report line of rows[i] and cases[i]; caches are the
// run's inputs, in order, with the digests taken before it.
void write_html_report(std::FILE* out, const Table& table, const std::vector<ReportRow>& rows,
                       const std::vector<CaseRow>& cases, const std::vector<CaseInput>& caches,
                       const HtmlOptions& options);

// Text for HTML element content and quoted attributes.
std::string html_text(const std::string& text);
