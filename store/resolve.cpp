#include "store/resolve.h"

#include <algorithm>

#include "platform/system.h"
#include "store/explorer/explorer_folder.h"

namespace {

bool ehthumbs_name(const char* name)
{
    return ascii_stricmp(name, "ehthumbs.db") == 0 || ascii_stricmp(name, "ehthumbs_vista.db") == 0;
}

// The caches of one folder, appended; its subfolders too when asked for.
void folder_caches(const std::string& folder, std::vector<ResolvedCache>* out, std::vector<std::string>* subfolders)
{
    std::vector<SysFindData> entries;
    sys_list_folder(folder, &entries);
    std::vector<std::string> spellings, others;
    for (const SysFindData& d : entries) {
        const std::string path = folder + "/" + d.name;
        if (d.attributes & SYS_ATTR_DIRECTORY) {
            if (subfolders)
                subfolders->push_back(path);
        } else if (ascii_stricmp(d.name, "Thumbs.db") == 0) {
            if (std::string(d.name) == "Thumbs.db")
                spellings.insert(spellings.begin(), path);
            else
                spellings.push_back(path);
        } else if (ehthumbs_name(d.name)) {
            others.push_back(path);
        }
    }
    std::sort(others.begin(), others.end());
    for (const std::string& p : spellings)
        out->push_back({p, CACHE_THUMBS_DB});
    for (const std::string& p : others)
        out->push_back({p, CACHE_EHTHUMBS});
    for (const std::string& p : explorer_cache_files(folder))
        out->push_back({p, CACHE_EXPLORER});
}

void walk(const std::string& folder, int depth, std::vector<ResolvedCache>* out)
{
    if (depth > STORE_MAX_FOLDER_DEPTH)
        return;
    std::vector<std::string> subfolders;
    folder_caches(folder, out, &subfolders);
    std::sort(subfolders.begin(), subfolders.end());
    for (const std::string& sub : subfolders)
        walk(sub, depth + 1, out);
}

} // namespace

int store_resolve(const std::string& path, bool recursive, ResolvedCaches* out)
{
    *out = ResolvedCaches{};
    if (!sys_is_directory(path.c_str())) {
        out->caches.push_back({path, CACHE_THUMBS_DB});
        return 0;
    }
    out->named_by_folder = true;
    out->walked = recursive;
    if (recursive)
        walk(path, 0, &out->caches);
    else
        folder_caches(path, &out->caches, nullptr);
    return out->caches.empty() ? -1 : 0;
}

std::vector<std::string> store_resolved_for_tool(const ResolvedCaches& resolved)
{
    std::vector<std::string> paths;
    if (resolved.named_by_folder && !resolved.walked && !resolved.caches.empty() &&
        resolved.caches[0].family == CACHE_THUMBS_DB)
        return {resolved.caches[0].path};
    for (const ResolvedCache& c : resolved.caches)
        paths.push_back(c.path);
    return paths;
}

std::vector<ResolvedCache> store_resolved_for_viewer(const ResolvedCaches& resolved)
{
    std::vector<ResolvedCache> explorer;
    for (const ResolvedCache& c : resolved.caches) {
        if (c.family == CACHE_THUMBS_DB)
            return {c};
        if (c.family == CACHE_EXPLORER)
            explorer.push_back(c);
    }
    if (!explorer.empty())
        return explorer;
    if (!resolved.caches.empty())
        return {resolved.caches[0]};
    return {};
}

namespace {

// A folder's caches as the viewer chooses them.
ViewerSources viewer_folder(const std::string& folder)
{
    ViewerSources sources{folder, {}};
    ResolvedCaches resolved;
    store_resolve(folder.empty() ? "." : folder, false, &resolved);
    sources.caches = store_resolved_for_viewer(resolved);
    return sources;
}

} // namespace

ViewerSources store_resolve_for_viewer(const char* path)
{
    if (sys_is_directory(path))
        return viewer_folder(path);
    const char* slash = sys_last_separator(path);
    if (slash && slash[1]) {
        const std::string folder(path, slash == path ? 1 : size_t(slash - path));  // the root keeps its slash
        if (sys_is_directory(folder.c_str())) {
            if (ascii_stricmp(slash + 1, "Thumbs.db") == 0)
                return viewer_folder(folder);
            return ViewerSources{folder, {{path, CACHE_THUMBS_DB}}};
        }
    } else if (!slash && path[0]) {
        if (ascii_stricmp(path, "Thumbs.db") == 0)
            return viewer_folder("");
        char found[SYS_MAX_PATH];
        if (sys_find_name_nocase(nullptr, path, found) == 0)
            return ViewerSources{"", {{found, CACHE_THUMBS_DB}}};
    }
    return viewer_folder("");
}
