#include "app/cli/case/hashset.h"

#include <cstdio>
#include <cstring>

#include "app/cli/cli.h"
#include "platform/system.h"

namespace {

bool hex_digest(std::string* token)
{
    if (token->size() != 32 && token->size() != 40 && token->size() != 64)
        return false;
    for (char& c : *token) {
        c = char(ascii_lower(static_cast<unsigned char>(c)));
        if (!std::strchr("0123456789abcdef", c) || c == 0)
            return false;
    }
    return true;
}

int read_text(const std::string& path, std::string* text, std::string* error)
{
    std::FILE* f = sys_fopen(path.c_str(), "rb");
    if (!f) {
        *error = "cannot open it";
        return -1;
    }
    int64_t size = sys_stream_size(f);
    if (size < 0 || size > HASHSET_MAX_TEXT_BYTES) {
        std::fclose(f);
        *error = size < 0 ? "cannot read it" : "larger than 64 MB (put large sets in an SQLite database shaped as NSRL RDSv3)";
        return -1;
    }
    text->resize(size_t(size));
    bool ok = std::fread(text->data(), 1, text->size(), f) == text->size();
    std::fclose(f);
    if (!ok)
        *error = "cannot read it";
    return ok ? 0 : -1;
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;  // a byte-order mark
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> split_commas(const std::string& line, size_t fields)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (out.size() + 1 < fields) {
        size_t comma = line.find(',', start);
        if (comma == std::string::npos)
            break;
        out.push_back(line.substr(start, comma - start));
        start = comma + 1;
    }
    out.push_back(line.substr(start));  // the file name may hold commas
    return out;
}

int load_hashdeep(const std::vector<std::string>& lines, HashSet* set, std::string* error)
{
    if (lines.size() < 2 || lines[1].compare(0, 5, "%%%% ") != 0) {
        *error = "a hashdeep file without its column line";
        return -1;
    }
    std::vector<std::string> columns = split_commas(lines[1].substr(5), size_t(-1));
    for (size_t n = 2; n < lines.size(); ++n) {
        const std::string& line = lines[n];
        if (line.empty() || line[0] == '#' || line.compare(0, 4, "%%%%") == 0)
            continue;
        std::vector<std::string> fields = split_commas(line, columns.size());
        if (fields.size() != columns.size()) {
            *error = "line " + std::to_string(n + 1) + " has too few fields";
            return -1;
        }
        for (size_t c = 0; c < columns.size(); ++c) {
            if (columns[c] != "md5" && columns[c] != "sha1" && columns[c] != "sha256")
                continue;
            if (!hex_digest(&fields[c])) {
                *error = "line " + std::to_string(n + 1) + ": not a " + columns[c] + " digest";
                return -1;
            }
            set->digests.insert(fields[c]);
        }
        ++set->entries;
    }
    return 0;
}

int load_digests(const std::vector<std::string>& lines, HashSet* set, std::string* error)
{
    for (size_t n = 0; n < lines.size(); ++n) {
        std::string line = lines[n];
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        // "digest" alone, or md5sum's "digest  name" / "digest *name".
        std::string token = line.substr(start, line.find_first_of(" \t", start) - start);
        if (!hex_digest(&token)) {
            *error = "line " + std::to_string(n + 1) + ": not an MD5, SHA-1 or SHA-256 digest";
            return -1;
        }
        set->digests.insert(token);
        ++set->entries;
    }
    return 0;
}

std::string base_name(const std::string& path)
{
    const char* last = sys_last_separator(path.c_str());
    return last ? std::string(last + 1) : path;
}

} // namespace

int hashset_load(const std::string& path, bool ignore, HashSet* set, std::string* error)
{
    set->path = path;
    set->label = base_name(path);
    set->ignore = ignore;
    char head[16] = {};
    if (std::FILE* f = sys_fopen(path.c_str(), "rb")) {
        size_t n = std::fread(head, 1, sizeof head, f);
        (void)n;
        set->bytes = sys_stream_size(f);
        std::fclose(f);
        set->has_time = sys_get_file_time(path.c_str(), &set->modified) == 0;
    } else {
        *error = "cannot open it";
        return -1;
    }
    if (std::memcmp(head, "SQLite format 3", 16) == 0) {
        set->kind = "nsrl-rdsv3";
        return nsrl_open(path, set, error);
    }
    std::string text;
    if (read_text(path, &text, error) != 0)
        return -1;
    std::vector<std::string> lines = lines_of(text);
    text.clear();
    if (!lines.empty() && lines[0] == "%%%% HASHDEEP-1.0") {
        set->kind = "hashdeep";
        return load_hashdeep(lines, set, error);
    }
    set->kind = "digests";
    return load_digests(lines, set, error);
}

namespace {

void digest_set_file(void* argument)
{
    HashSet* set = static_cast<HashSet*>(argument);
    set->file_read = digests_of_file(set->path, &set->file_digests, &set->file_size);
}

} // namespace

bool hashset_digests_taken(const HashSet& set, bool nsrl_digests) { return !set.database || nsrl_digests; }

void hashsets_digest_in_background(std::vector<HashSet>* sets, bool nsrl_digests)
{
    for (HashSet& s : *sets)
        if (hashset_digests_taken(s, nsrl_digests) && !s.digesting && s.file_read < 0)
            s.digesting = sys_thread_start(digest_set_file, &s);
}

int hashset_file_digests(HashSet* set, Digests* digests, int64_t* size)
{
    sys_thread_join(set->digesting);
    if (!set->digesting && set->file_read < 0)
        digest_set_file(set);  // no thread could be started, or none was asked for
    set->digesting = nullptr;
    *digests = set->file_digests;
    *size = set->file_size;
    return set->file_read;
}

void hashset_release(HashSet* set)
{
    sys_thread_join(set->digesting);
    set->digesting = nullptr;
    if (set->database)
        nsrl_close(set->database);
    set->database = nullptr;
    set->digests.clear();
}

bool hashset_holds(const HashSet& set, const Digests& d)
{
    if (d.sha256.empty())
        return false;
    if (set.database)
        return nsrl_holds(set.database, d);
    return set.digests.count(d.md5) || set.digests.count(d.sha1) || set.digests.count(d.sha256);
}

void hashset_match(const std::vector<HashSet>& sets, const Digests& d, std::string* labels, bool* hidden)
{
    bool alert = false, ignore = false;
    labels->clear();
    for (const HashSet& s : sets) {
        if (!hashset_holds(s, d))
            continue;
        if (!labels->empty())
            *labels += ';';
        *labels += s.label;
        (s.ignore ? ignore : alert) = true;
    }
    *hidden = ignore && !alert;
}

int hashsets_from_options(const char* command, const std::vector<std::pair<std::string, std::string>>& options,
                          std::vector<HashSet>* sets)
{
    bool ignore = false;
    for (const auto& [name, value] : options) {
        if (name == "--hashset-mode") {
            if (value != "alert" && value != "ignore") {
                cli_error("%s: --hashset-mode takes alert or ignore, not '%s'", command, value.c_str());
                return -1;
            }
            ignore = value == "ignore";
        } else if (name == "--hashset") {
            HashSet set;
            std::string error;
            if (hashset_load(value, ignore, &set, &error) != 0) {
                cli_error("%s: hash set %s: %s", command, value.c_str(), error.c_str());
                hashset_release(&set);
                return -1;
            }
            sets->push_back(std::move(set));
        }
    }
    return 0;
}
