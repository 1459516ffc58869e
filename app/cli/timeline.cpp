#include "app/cli/timeline.h"

#include <algorithm>
#include <cstring>

#include "platform/system.h"

namespace {

// FILETIME ticks of 1970-01-01, and ticks per second.
constexpr int64_t TIMELINE_UNIX_EPOCH_TICKS = 116444736000000000;
constexpr int64_t TIMELINE_TICKS_PER_SECOND = 10000000;

// What the catalog's time is: the original file's last write, as Explorer saw it.
const char TIMELINE_TIME_MEANING[] = "Content Modification Time";

int64_t unix_seconds(uint64_t filetime)
{
    int64_t ticks = int64_t(filetime) - TIMELINE_UNIX_EPOCH_TICKS;
    int64_t seconds = ticks / TIMELINE_TICKS_PER_SECOND;
    return ticks % TIMELINE_TICKS_PER_SECOND < 0 ? seconds - 1 : seconds;  // floor, before 1970 too
}

std::string message(const ReportRow& row)
{
    std::string text = "Thumbnail of " + row.name + " in " + row.cache;
    if (!row.stream.empty())
        text += " (stream " + row.stream + ")";
    return text;
}

void body_line(std::FILE* out, const Table&, size_t, const ReportRow& row, const CaseRow& c)
{
    std::string md5 = c.payload.md5.empty() ? "0" : c.payload.md5;
    std::string name = body_field(row.cache + ":" + row.name);
    std::string inode = row.record >= 0 ? std::to_string(row.record) : body_field(row.stream);
    long long size = row.length > 0 ? static_cast<long long>(row.length) : 0;
    std::fprintf(out, "%s|%s|%s|r/r---------|0|0|%lld|0|%lld|0|0\n", md5.c_str(), name.c_str(), inode.c_str(), size,
                 static_cast<long long>(unix_seconds(row.filetime)));
}

void l2tcsv_line(std::FILE* out, const Table& table, size_t i, const ReportRow& row, const CaseRow& c)
{
    SystemTime t;
    file_time_to_system_time(row.filetime, &t);
    char date[16], time[16];
    std::snprintf(date, sizeof date, "%02d/%02d/%04d", t.month, t.day, t.year);
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    std::string extra;
    for (size_t k = 0; k < table.columns.size(); ++k) {
        if (k)
            extra += "; ";
        extra += table.columns[k] + ": " + table.rows[i][k];
    }
    std::string notes = c.hashset.empty() ? "-" : "in hash set " + c.hashset;
    const std::string fields[17] = {date, time, "UTC", "M...", "THUMB", "Thumbnail cache", TIMELINE_TIME_MEANING,
                                    "-", "-", row.name, message(row), "2", row.cache,
                                    row.record >= 0 ? std::to_string(row.record) : "-", notes, "glimmerdex-cli",
                                    extra};
    for (int k = 0; k < 17; ++k) {
        if (k)
            std::fputc(',', out);
        std::fputs(csv_field(fields[k]).c_str(), out);
    }
    std::fputc('\n', out);
}

void jsonl_line(std::FILE* out, const Table& table, size_t i, const ReportRow& row, const CaseRow&)
{
    SystemTime t;
    file_time_to_system_time(row.filetime, &t);
    char when[48];
    std::snprintf(when, sizeof when, "%04d-%02d-%02dT%02d:%02d:%02d+00:00", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    long long micro = static_cast<long long>((int64_t(row.filetime) - TIMELINE_UNIX_EPOCH_TICKS) / 10);
    std::fprintf(out, "{\"message\": %s, \"datetime\": \"%s\", \"timestamp\": %lld, \"timestamp_desc\": \"%s\"",
                 json_string(message(row)).c_str(), when, micro, TIMELINE_TIME_MEANING);
    for (size_t k = 0; k < table.columns.size(); ++k)
        std::fprintf(out, ", %s: %s", json_string(table.columns[k]).c_str(), json_string(table.rows[i][k]).c_str());
    std::fputs("}\n", out);
}

} // namespace

int parse_timeline_format(const char* text, TimelineFormat* format)
{
    if (std::strcmp(text, "bodyfile") == 0)
        *format = TimelineFormat::bodyfile;
    else if (std::strcmp(text, "l2tcsv") == 0)
        *format = TimelineFormat::l2tcsv;
    else if (std::strcmp(text, "jsonl") == 0)
        *format = TimelineFormat::jsonl;
    else
        return -1;
    return 0;
}

const char* timeline_file_name(TimelineFormat format)
{
    switch (format) {
    case TimelineFormat::bodyfile: return "timeline.body";
    case TimelineFormat::l2tcsv: return "timeline.l2tcsv.csv";
    case TimelineFormat::jsonl: return "timeline.jsonl";
    }
    return "timeline";
}

std::string body_field(const std::string& text)
{
    std::string out;
    for (unsigned char ch : text) {
        char escaped[8];
        if (ch == '%' || ch == '|') {
            std::snprintf(escaped, sizeof escaped, "%%%02X", ch);
            out += escaped;
        } else if (ch < 0x20 || ch == 0x7F) {
            // mactime decodes %XX, and drops a name holding a line break.
            std::snprintf(escaped, sizeof escaped, "\\x%02X", ch);
            out += escaped;
        } else {
            out += char(ch);
        }
    }
    return out;
}

void write_timeline(std::FILE* out, TimelineFormat format, const Table& table, const std::vector<ReportRow>& rows,
                    const std::vector<CaseRow>& cases)
{
    std::vector<size_t> timed;
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].has_time && rows[i].filetime != 0)
            timed.push_back(i);
    // Oldest first; entries of the same moment keep the report's order.
    std::stable_sort(timed.begin(), timed.end(),
                     [&](size_t a, size_t b) { return rows[a].filetime < rows[b].filetime; });
    if (format == TimelineFormat::l2tcsv)
        std::fputs("date,time,timezone,MACB,source,sourcetype,type,user,host,short,desc,version,filename,inode,notes,"
                   "format,extra\n",
                   out);
    for (size_t i : timed) {
        if (format == TimelineFormat::bodyfile)
            body_line(out, table, i, rows[i], cases[i]);
        else if (format == TimelineFormat::l2tcsv)
            l2tcsv_line(out, table, i, rows[i], cases[i]);
        else
            jsonl_line(out, table, i, rows[i], cases[i]);
    }
}
