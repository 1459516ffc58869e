#include "app/cli/cli_search_index.h"

#include <cstdio>
#include <cstring>

#include "app/cli/cli.h"
#include "app/cli/cli_images.h"
#include "platform/system.h"

namespace {

struct FoundIndex {
    std::string root;  // the volume root it was found below; empty for --search-index
    SearchIndex index;
};

std::vector<FoundIndex> g_indexes;

std::string absolute(const std::string& path)
{
    char out[4096];
    return sys_absolute_path(path.c_str(), out, sizeof out) == 0 ? std::string(out) : path;
}

int load(const std::string& root, const std::string& path)
{
    FoundIndex found{root, {}};
    if (search_index_load(path.c_str(), &found.index) != 0) {
        cli_error("%s: search index not read: %s", path.c_str(), failure_last().reason);
        return -1;
    }
    const SearchIndex& x = found.index;
    std::fprintf(stderr, "glimmerdex-cli: search index %s: %d items with a ThumbnailCacheId", path.c_str(), x.count);
    if (x.bad_hashes)
        std::fprintf(stderr, ", %d ids not 8 bytes skipped", x.bad_hashes);
    if (x.long_paths)
        std::fprintf(stderr, ", %d paths over %d characters skipped", x.long_paths, SEARCH_INDEX_MAX_PATH_UNITS);
    if (x.truncated)
        std::fprintf(stderr, ", more items than read (ceiling reached)");
    std::fputc('\n', stderr);
    g_indexes.push_back(found);
    return 0;
}

} // namespace

int cli_index_open(const char* option, const std::vector<std::string>& arguments, bool recursive)
{
    cli_index_close();
    if (option)
        return load("", option);
    // Disk images name their caches from their volumes' own indexes.
    int result = cli_images_read_search_indexes();
    if (!recursive)
        return result;
    for (const std::string& argument : arguments) {
        const std::string root = absolute(argument);
        if (!sys_is_directory(root.c_str()))
            continue;
        // The root itself is a volume, or a collection of volumes one level down.
        std::vector<std::string> roots{root};
        std::vector<SysFindData> entries;
        sys_list_folder(root, &entries);
        for (const SysFindData& d : entries)
            if (d.attributes & SYS_ATTR_DIRECTORY)
                roots.push_back(root + "/" + d.name);
        for (const std::string& r : roots) {
            char path[SYS_MAX_PATH];
            if (search_index_path_below(r.c_str(), path, sizeof path) == 0 && load(r, path) != 0)
                result = -1;
        }
    }
    return result;
}

void cli_index_close()
{
    for (FoundIndex& f : g_indexes)
        search_index_free(&f.index);
    g_indexes.clear();
}

const SearchIndex* cli_index_for(const std::string& cache)
{
    // A cache in a disk image: the index given by hand, else its volume's own.
    if (cli_image_cache(cache)) {
        for (const FoundIndex& f : g_indexes)
            if (f.root.empty())
                return &f.index;
        return cli_image_search_index(cache);
    }
    const FoundIndex* best = nullptr;
    for (const FoundIndex& f : g_indexes) {
        const bool below = f.root.empty() || (cache.size() > f.root.size() &&
                                              cache.compare(0, f.root.size(), f.root) == 0 &&
                                              std::strchr(SYS_PATH_SEPARATORS, cache[f.root.size()]));
        if (below && (!best || f.root.size() > best->root.size()))
            best = &f;
    }
    return best ? &best->index : nullptr;
}

void cli_index_name_row(const SearchIndex* index, uint64_t hash, ReportRow* row)
{
    if (const char* path = search_index_lookup(index, hash)) {
        row->path = path;
        row->name_source = "search-index";
    } else if (row->name_source.empty()) {
        row->name_source = "identifier";  // a name the folder gave stays
    }
}

void cli_index_name_rows(std::vector<ReportRow>* rows)
{
    for (ReportRow& row : *rows) {
        const SearchIndex* index = cli_index_for(row.cache);
        if (!index)
            continue;
        // Index slots without a record keep their hash in the facts alone.
        if (row.entry.has_hash)
            cli_index_name_row(index, row.entry.hash, &row);
        else if (report_row_explorer(row))
            cli_index_name_row(index, row.thumbcache.hash, &row);
    }
}
