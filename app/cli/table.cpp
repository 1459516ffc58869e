#include "app/cli/table.h"

#include <cstdint>
#include <cstring>

int parse_table_format(const char* text, TableFormat* format)
{
    if (std::strcmp(text, "tsv") == 0)
        *format = TableFormat::tsv;
    else if (std::strcmp(text, "csv") == 0)
        *format = TableFormat::csv;
    else if (std::strcmp(text, "json") == 0)
        *format = TableFormat::json;
    else
        return -1;
    return 0;
}

std::string csv_field(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

namespace {

// Bytes of the well-formed UTF-8 sequence at s[i], or 0.
size_t utf8_sequence(const std::string& s, size_t i)
{
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size())
        return 0;
    uint32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        unsigned char t = static_cast<unsigned char>(s[i + k]);
        if ((t & 0xC0) != 0x80)
            return 0;
        cp = cp << 6 | (t & 0x3F);
    }
    static const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000))
        return 0;
    return n;
}

} // namespace

std::string json_string(const std::string& utf8)
{
    std::string out = "\"";
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x80) {
            // JSON is UTF-8: a byte that is not (a path from a Latin-1 disk) becomes U+FFFD.
            size_t n = utf8_sequence(utf8, i);
            if (n == 0) {
                out += "\xEF\xBF\xBD";
            } else {
                out.append(utf8, i, n);
                i += n - 1;
            }
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

namespace {

std::string latin1_to_utf8(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

} // namespace

void write_table(FILE* out, const Table& t, TableFormat format)
{
    if (format == TableFormat::json) {
        std::fputs("[", out);
        for (size_t r = 0; r < t.rows.size(); ++r) {
            std::fputs(r ? ",\n {" : "\n {", out);
            for (size_t c = 0; c < t.columns.size(); ++c) {
                const std::string& v = t.rows[r][c];
                std::string value;
                ColumnKind kind = c < t.kinds.size() ? t.kinds[c] : ColumnKind::text;
                if (kind == ColumnKind::number)
                    value = v.empty() || v == "-" ? "null" : v;
                else if (kind == ColumnKind::bytes)
                    value = json_string(latin1_to_utf8(v));
                else
                    value = json_string(v);
                std::fprintf(out, "%s%s: %s", c ? ", " : "", json_string(t.columns[c]).c_str(), value.c_str());
            }
            std::fputs("}", out);
        }
        std::fputs(t.rows.empty() ? "]\n" : "\n]\n", out);
        return;
    }
    char separator = format == TableFormat::csv ? ',' : '\t';
    auto line = [&](const std::vector<std::string>& cells) {
        for (size_t c = 0; c < cells.size(); ++c) {
            if (c)
                std::fputc(separator, out);
            std::fputs(format == TableFormat::csv ? csv_field(cells[c]).c_str() : cells[c].c_str(), out);
        }
        std::fputc(format == TableFormat::csv ? '\r' : '\n', out);
        if (format == TableFormat::csv)
            std::fputc('\n', out);
    };
    line(t.columns);
    for (const auto& row : t.rows)
        line(row);
}
