#pragma once
// index.html: the report as a page to read. Self-contained (inline style and
// script, no request leaves the folder), one row per entry with its thumbnail
// from the extracted file and every report column; sortable by each column
// and filterable by text where JavaScript runs, and complete where it does
// not. "#sort=COLUMN" (or "#sort=-COLUMN", descending) and "#filter=TEXT" in
// the address sort and filter on load.
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli/cache_report.h"
#include "app/cli/case_record.h"
#include "app/cli/table.h"

struct HtmlOptions {
    bool blur_flagged = false;  // thumbnails of entries in a hash set blurred until clicked
    std::string title = "Thumbnail cache report";
    std::vector<std::string> summary;  // lines shown above the table
};

// table.rows[i] is the report line of rows[i] and cases[i].
void write_html_report(std::FILE* out, const Table& table, const std::vector<ReportRow>& rows,
                       const std::vector<CaseRow>& cases, const HtmlOptions& options);

// Text for HTML element content and quoted attributes.
std::string html_text(const std::string& text);
