#include "app/cli/case/timeline.h"

#include <algorithm>
#include <cstring>

#include "platform/system.h"

namespace {

// FILETIME ticks of 1970-01-01, and ticks per second.
constexpr int64_t TIMELINE_UNIX_EPOCH_TICKS = 116444736000000000;
constexpr int64_t TIMELINE_TICKS_PER_SECOND = 10000000;

// One moment of an entry: the catalog's time (the original file's last
// write, as Explorer saw it), or the thumbnail stream's own directory times.
enum class TimeSource { catalog, stream_created, stream_modified };

struct Event {
    size_t row;
    TimeSource source;
    uint64_t filetime;
};

const char* meaning(TimeSource source)
{
    switch (source) {
    case TimeSource::catalog: return "Content Modification Time";
    case TimeSource::stream_created: return "Thumbnail Stream Creation Time";
    case TimeSource::stream_modified: return "Thumbnail Stream Modification Time";
    }
    return "";
}

const char* macb(TimeSource source) { return source == TimeSource::stream_created ? "...B" : "M..."; }

int64_t unix_seconds(uint64_t filetime)
{
    int64_t ticks = int64_t(filetime) - TIMELINE_UNIX_EPOCH_TICKS;
    int64_t seconds = ticks / TIMELINE_TICKS_PER_SECOND;
    return ticks % TIMELINE_TICKS_PER_SECOND < 0 ? seconds - 1 : seconds;  // floor, before 1970 too
}

// The name an entry is known by: the path or file name found for a stream or
// Explorer record (its source is in the name_source column), else its own.
const std::string& shown_name(const ReportRow& row) { return row.path.empty() ? row.name : row.path; }

std::string message(const ReportRow& row, TimeSource source)
{
    std::string text = source == TimeSource::catalog ? "Thumbnail of " : "Thumbnail stream of ";
    text += shown_name(row) + " in " + row.cache;
    if (!row.stream.empty())
        text += " (stream " + row.stream + ")";
    return text;
}

void body_line(std::FILE* out, const Table&, const Event& e, const ReportRow& row, const CaseRow& c)
{
    std::string md5 = c.payload.md5.empty() ? "0" : c.payload.md5;
    std::string name = body_field(row.cache + ":" + shown_name(row));
    std::string inode = row.record >= 0 ? std::to_string(row.record) : body_field(row.stream);
    long long size = row.length > 0 ? static_cast<long long>(row.length) : 0;
    if (e.source != TimeSource::catalog)
        name += body_field(" (stream)");
    long long when = static_cast<long long>(unix_seconds(e.filetime));
    bool created = e.source == TimeSource::stream_created;
    std::fprintf(out, "%s|%s|%s|r/r---------|0|0|%lld|0|%lld|0|%lld\n", md5.c_str(), name.c_str(), inode.c_str(), size,
                 created ? 0LL : when, created ? when : 0LL);
}

void l2tcsv_line(std::FILE* out, const Table& table, const Event& e, const ReportRow& row, const CaseRow& c)
{
    const size_t i = e.row;
    SystemTime t;
    file_time_to_system_time(e.filetime, &t);
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
    const std::string fields[17] = {date, time, "UTC", macb(e.source), "THUMB", "Thumbnail cache", meaning(e.source),
                                    "-", "-", shown_name(row), message(row, e.source), "2", row.cache,
                                    row.record >= 0 ? std::to_string(row.record) : "-", notes, "glimmerdex-cli",
                                    extra};
    for (int k = 0; k < 17; ++k) {
        if (k)
            std::fputc(',', out);
        std::fputs(csv_field(fields[k]).c_str(), out);
    }
    std::fputc('\n', out);
}

void jsonl_line(std::FILE* out, const Table& table, const Event& e, const ReportRow& row, const CaseRow&)
{
    const size_t i = e.row;
    SystemTime t;
    file_time_to_system_time(e.filetime, &t);
    char when[48];
    std::snprintf(when, sizeof when, "%04d-%02d-%02dT%02d:%02d:%02d+00:00", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    long long micro = static_cast<long long>((int64_t(e.filetime) - TIMELINE_UNIX_EPOCH_TICKS) / 10);
    std::fprintf(out, "{\"message\": %s, \"datetime\": \"%s\", \"timestamp\": %lld, \"timestamp_desc\": \"%s\"",
                 json_string(message(row, e.source)).c_str(), when, micro, meaning(e.source));
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
    std::vector<Event> events;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].has_time && rows[i].filetime != 0)
            events.push_back(Event{i, TimeSource::catalog, rows[i].filetime});
        if (rows[i].stream_times[0] != 0)
            events.push_back(Event{i, TimeSource::stream_created, rows[i].stream_times[0]});
        if (rows[i].stream_times[1] != 0)
            events.push_back(Event{i, TimeSource::stream_modified, rows[i].stream_times[1]});
    }
    // Oldest first; events of the same moment keep the report's order.
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.filetime < b.filetime; });
    if (format == TimelineFormat::l2tcsv)
        std::fputs("date,time,timezone,MACB,source,sourcetype,type,user,host,short,desc,version,filename,inode,notes,"
                   "format,extra\n",
                   out);
    for (const Event& e : events) {
        if (format == TimelineFormat::bodyfile)
            body_line(out, table, e, rows[e.row], cases[e.row]);
        else if (format == TimelineFormat::l2tcsv)
            l2tcsv_line(out, table, e, rows[e.row], cases[e.row]);
        else
            jsonl_line(out, table, e, rows[e.row], cases[e.row]);
    }
}
