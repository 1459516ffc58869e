#include "app/cli/cache_report.h"

#include <cstdio>

#include "app/cli/sha256.h"
#include "platform/system.h"
#include "picture/bytes.h"
#include "picture/picture.h"
#include "store/catalog.h"
#include "store/compound_file.h"
#include "store/hashed_streams.h"

namespace {

std::string join_fields(const uint8_t* p, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i) {
        if (i)
            out += '/';
        out += std::to_string(read_le32(p + 4 * i));
    }
    return out;
}

void describe_bytes(ReportRow& row, const uint8_t* data, int64_t length)
{
    row.stored = data;
    row.length = length;
    char hex[65];
    sha256_hex(data, size_t(length), hex);
    row.sha256 = hex;
    row.format = picture_format_name(data, int32_t(length));
    picture_probe(data, int32_t(length), &row.width, &row.height);
}

} // namespace

std::string utf16_to_utf8(const uint8_t* p, int32_t chars)
{
    std::string out;
    for (int32_t i = 0; i < chars; ++i) {
        uint32_t c = read_le16(p + 2 * i);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < chars) {
            uint32_t low = read_le16(p + 2 * (i + 1));
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;  // a lone surrogate
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | c >> 12);
            out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | c >> 18);
            out += char(0x80 | (c >> 12 & 0x3F));
            out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string utc_text(uint64_t filetime)
{
    SystemTime t;
    file_time_to_system_time(filetime, &t);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return buf;
}

int report_cache(const std::string& path, std::vector<ReportRow>* rows)
{
    if (store_load(path.c_str()) != 0 && hashed_stream_count() == 0)
        return -1;
    CatalogCursor cursor;
    int16_t version = 0;
    CatalogEntry entry;
    if (catalog_begin(&cursor, &version) == 0) {
        while (catalog_next(&cursor, &entry)) {
            ReportRow row;
            row.cache = path;
            row.kind = version >= 7 ? RowKind::current : RowKind::old;
            row.record = entry.record_index;
            row.stream = std::to_string(entry.stream_number);
            row.name = utf16_to_utf8(entry.name_utf16, entry.name_full_chars);
            row.has_time = true;
            row.filetime = entry.time;
            row.slot = catalog_stream_slot(entry.stream_number);
            int32_t available = store_slot_length(row.slot);
            if (row.slot >= 0 && available >= 12) {
                const uint8_t* t = stream_table.pool + stream_table.offset[row.slot];
                int64_t length = int32_t(read_le32(t + 8));
                if (length > available - 12)
                    length = available - 12;
                if (length > 0) {
                    bool sub_header = row.kind == RowKind::old && available >= 28;
                    row.header = join_fields(t, sub_header ? 7 : 3);
                    describe_bytes(row, t + 12, length);
                    if (row.kind == RowKind::old) {
                        // The stripped JPEG's frame header at stream byte 30 gives the size.
                        row.format = "jpeg-tableless";
                        row.width = row.height = 0;
                        if (available >= 39 && t[30] == 0xFF && t[31] == 0xC0) {
                            row.height = read_be16(t + 35);
                            row.width = read_be16(t + 37);
                        }
                    }
                }
            }
            rows->push_back(std::move(row));
        }
    }
    for (int32_t k = 0; k < stream_table.count; ++k) {
        if (k == stream_table.catalog_slot || !hashed_stream_name(stream_table.slot_name[k]))
            continue;
        ReportRow row;
        row.cache = path;
        row.kind = RowKind::hashed;
        row.stream = stream_table.slot_name[k];
        row.name = row.stream;
        row.slot = k;
        int32_t available = store_slot_length(k);
        const uint8_t* s = stream_table.pool + stream_table.offset[k];
        if (available >= HASHED_HEADER_BYTES) {
            char tail[32];
            std::snprintf(tail, sizeof tail, "/%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x", s[12], s[13], s[14],
                          s[15], s[16], s[17], s[18], s[19], s[20], s[21], s[22], s[23]);
            row.header = join_fields(s, 3) + tail;
        }
        const uint8_t* data;
        int32_t length;
        if (hashed_stream_payload(k, &data, &length) == 0)
            describe_bytes(row, data, length);
        rows->push_back(std::move(row));
    }
    return 0;
}

std::vector<std::string> report_columns()
{
    return {"cache", "record", "stream", "slot", "name", "filetime", "utc", "header", "length", "format", "width",
            "height", "sha256", "path", "name_source"};
}

std::vector<std::string> report_cells(const ReportRow& r)
{
    auto number_or_dash = [](int64_t v, bool present) { return present ? std::to_string(v) : std::string("-"); };
    bool stored = r.length >= 0;
    return {r.cache,
            number_or_dash(r.record, r.record >= 0),
            r.stream,
            number_or_dash(r.slot, r.slot >= 0),
            r.name,
            r.has_time ? std::to_string(r.filetime) : "-",
            r.has_time ? utc_text(r.filetime) : "-",
            r.header.empty() ? "-" : r.header,
            number_or_dash(r.length, stored),
            stored ? r.format : "-",
            number_or_dash(r.width, stored && r.width > 0),
            number_or_dash(r.height, stored && r.height > 0),
            stored ? r.sha256 : "-",
            r.path,
            r.name_source};
}
