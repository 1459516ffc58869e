#pragma once
// The report's timed entries as the timeline tools read them: a mactime body
// file, plaso's 17-field l2tcsv and Timesketch's JSON lines. Entries without
// a time (or with a zero FILETIME, which means none was stored) are left out;
// a stream whose directory entry carries its own times adds events of them;
// every other column of the report comes along.
#include <cstdio>
#include <vector>

#include "app/cli/cache_report.h"
#include "app/cli/case/case_record.h"
#include "app/cli/table.h"

enum class TimelineFormat { bodyfile, l2tcsv, jsonl };

int parse_timeline_format(const char* text, TimelineFormat* format);  // 0 or -1
const char* timeline_file_name(TimelineFormat format);

// table.rows[i] is the report line of rows[i] and cases[i].
void write_timeline(std::FILE* out, TimelineFormat format, const Table& table, const std::vector<ReportRow>& rows,
                    const std::vector<CaseRow>& cases);

// A name for one '|'-separated field of a body file: '%' and '|' as %25 and
// %7C (mactime decodes %XX), control characters as \xNN (mactime drops a name
// with a line break), so that every line splits into its eleven fields.
std::string body_field(const std::string& text);
