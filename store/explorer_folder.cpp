#include "store/explorer_folder.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "platform/system.h"

namespace {

constexpr const char* EXPLORER_BUCKET_ORDER[] = {"16",   "32",   "48",   "96", "256",  "768",  "1024",
                                                 "1280", "1600", "1920", "2560", "sr", "wide", "exif",
                                                 "wide_alternate", "custom_stream"};

} // namespace

int explorer_cache_rank(const char* name)
{
    std::string lower;
    for (const char* c = name; *c; ++c)
        lower += char(*c >= 'A' && *c <= 'Z' ? *c + 32 : *c);
    if (lower.size() < 4 || lower.compare(lower.size() - 3, 3, ".db") != 0)
        return -1;
    const char* prefixes[] = {"thumbcache_", "iconcache_"};
    for (int p = 0; p < 2; ++p) {
        size_t at = lower.rfind(prefixes[p]);
        if (at == std::string::npos)
            continue;
        size_t from = at + std::strlen(prefixes[p]);
        if (from > lower.size() - 3)
            continue;
        std::string bucket = lower.substr(from, lower.size() - 3 - from);
        if (bucket == "idx")
            return -1;
        int b = int(std::size(EXPLORER_BUCKET_ORDER));
        for (int k = 0; k < int(std::size(EXPLORER_BUCKET_ORDER)); ++k)
            if (bucket == EXPLORER_BUCKET_ORDER[k])
                b = k;
        return p * 100 + b;
    }
    return -1;
}

std::vector<std::string> explorer_cache_files(const std::string& folder)
{
    std::vector<std::pair<int, std::string>> found;
    SysFindData d;
    SysFind* find = sys_find_first_file((folder + "/*").c_str(), &d);
    for (int more = find ? 1 : 0; more; more = sys_find_next_file(find, &d))
        if (!(d.attributes & SYS_ATTR_DIRECTORY))
            if (int rank = explorer_cache_rank(d.name); rank >= 0)
                found.emplace_back(rank, d.name);
    sys_find_close(find);
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (const auto& f : found)
        paths.push_back(folder + "/" + f.second);
    return paths;
}
