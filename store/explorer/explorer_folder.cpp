#include "store/explorer/explorer_folder.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "platform/system.h"
#include "store/explorer/thumbcache.h"

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
    std::vector<SysFindData> entries;
    sys_list_folder(folder, &entries);
    for (const SysFindData& d : entries)
        if (!(d.attributes & SYS_ATTR_DIRECTORY))
            if (int rank = explorer_cache_rank(d.name); rank >= 0)
                found.emplace_back(rank, d.name);
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (const auto& f : found)
        paths.push_back(folder + "/" + f.second);
    return paths;
}

// The index beside a cache file: "...thumbcache_idx.db" for
// "...thumbcache_<bucket>.db", the same for iconcache (any letter case).
// Empty when the name has no such form or none is there.
std::string explorer_index_beside(const std::string& path)
{
    size_t cut = path.find_last_of(SYS_PATH_SEPARATORS);
    std::string folder = cut == std::string::npos ? "." : path.substr(0, cut);
    std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    std::string lower;
    for (char c : name)
        lower += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
    size_t bar = std::string::npos;
    for (const char* kind : {"thumbcache_", "iconcache_"})
        if (size_t at = lower.rfind(kind); at != std::string::npos)
            bar = at + std::strlen(kind) - 1;
    if (bar == std::string::npos)
        return {};
    std::string want = name.substr(0, bar) + "_idx.db";
    std::vector<SysFindData> entries;
    sys_list_folder(folder, &entries);
    for (const SysFindData& d : entries)
        if (!(d.attributes & SYS_ATTR_DIRECTORY) && ascii_stricmp(d.name, want.c_str()) == 0)
            return folder + "/" + d.name;
    return {};
}

// Bucket names of the cache types whose bit is set, '/'-separated.
std::string explorer_bucket_list(uint32_t version, uint32_t types)
{
    std::string out;
    for (uint32_t t = 0; t < uint32_t(THUMBCACHE_MAX_TYPES); ++t) {
        if (!(types >> t & 1))
            continue;
        const char* name = thumbcache_bucket_name(version, t);
        if (!out.empty())
            out += '/';
        out += name ? name : std::to_string(t);
    }
    return out;
}
