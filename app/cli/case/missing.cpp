#include "app/cli/case/missing.h"

#include "app/cli/cli_paths.h"
#include "platform/system.h"

namespace {

std::string ascii_lowered(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        c = char(ascii_lower(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

int folder_file_names(const std::string& folder, std::set<std::string>* names)
{
    std::vector<SysFindData> entries;
    if (sys_list_folder(folder, &entries) != 0)
        return -1;
    for (const SysFindData& d : entries)
        if (!(d.attributes & SYS_ATTR_DIRECTORY))
            names->insert(ascii_lowered(d.name));
    return 0;
}

std::string narrowed_name(const std::string& utf8)
{
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char b = static_cast<unsigned char>(utf8[i]);
        int extra = b < 0x80 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
        uint32_t cp = extra == 0 ? b : b & (0x3F >> extra);
        size_t j = i + 1;
        for (int k = 0; k < extra && j < utf8.size(); ++k, ++j)
            cp = cp << 6 | (static_cast<unsigned char>(utf8[j]) & 0x3F);
        i = j;
        if (cp >= 0x10000) {  // a surrogate pair: two units, two low bytes
            cp -= 0x10000;
            out += char((0xD800 + (cp >> 10)) & 0xFF);
            out += char((0xDC00 + (cp & 0x3FF)) & 0xFF);
        } else {
            out += char(cp & 0xFF);
        }
    }
    return out;
}

void mark_missing(const std::set<std::string>& names, const std::vector<ReportRow>& rows, std::vector<CaseRow>* cases)
{
    for (size_t i = 0; i < rows.size() && i < cases->size(); ++i) {
        const ReportRow& r = rows[i];
        if (r.entry.kind != STORE_ENTRY_CATALOG && r.entry.kind != STORE_ENTRY_CATALOG_OLD)
            continue;
        bool present = names.count(ascii_lowered(narrowed_name(r.name))) || names.count(ascii_lowered(r.name));
        (*cases)[i].missing = present ? "no" : "yes";
    }
}

std::set<std::string> caches_opened_from_folders(const std::vector<std::string>& arguments, bool recursive)
{
    std::set<std::string> out;
    for (const std::string& a : arguments) {
        if (!sys_is_directory(a.c_str()))
            continue;
        std::vector<std::string> caches, missing;
        find_caches({a}, recursive, &caches, &missing);
        out.insert(caches.begin(), caches.end());
    }
    return out;
}
