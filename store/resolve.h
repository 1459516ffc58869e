#pragma once
// What a path names: the one place that decides it, for the viewer and the
// command-line tool alike. A cache file of any name is itself; a folder holds
// a Thumbs.db (any letter case), the other caches of its kind (ehthumbs.db,
// ehthumbs_vista.db) and Explorer's cache files; a walk finds all of them
// below a folder.
#include <string>
#include <vector>

enum CacheFamily {
    CACHE_THUMBS_DB,  // a Thumbs.db spelling, or a file named by its own path
    CACHE_EHTHUMBS,   // ehthumbs.db, ehthumbs_vista.db
    CACHE_EXPLORER,   // thumbcache_*.db, iconcache_*.db
};

struct ResolvedCache {
    std::string path;
    CacheFamily family;
};

struct ResolvedCaches {
    bool named_by_folder = false;  // the path named a folder, not a file
    bool walked = false;           // ... and it was walked
    // Folder by folder (a walk visits subfolders in name order), and in each
    // folder the Thumbs.db spellings (the exact one first), the ehthumbs
    // files, then Explorer's cache files (thumbcache before iconcache, each
    // in size-bucket order).
    std::vector<ResolvedCache> caches;
};

// Deep enough for any real tree; bounds a walk through looping links.
constexpr int STORE_MAX_FOLDER_DEPTH = 64;

// path as given: no folder is made current and no name is looked up
// anywhere but where path says. A path that is no folder names the file
// itself, whatever its name (its content tells later what it is). A folder
// is listed, or walked when recursive (at most STORE_MAX_FOLDER_DEPTH deep).
// 0, or -1 for a folder that holds no cache.
int store_resolve(const std::string& path, bool recursive, ResolvedCaches* out);

// The caches the command-line tool reads: all of them, except that a folder
// named without a walk gives its Thumbs.db alone when it has one.
std::vector<std::string> store_resolved_for_tool(const ResolvedCaches& resolved);

// The caches the viewer shows as one list: the first Thumbs.db, else all of
// Explorer's cache files, else the first ehthumbs file.
std::vector<ResolvedCache> store_resolved_for_viewer(const ResolvedCaches& resolved);

// What the viewer reads for the path it is given, and the folder whose files
// its list names ("" for the current one).
struct ViewerSources {
    std::string folder;
    std::vector<ResolvedCache> caches;  // empty when the folder holds none
};

// A folder: its caches as store_resolved_for_viewer chooses them. A path
// naming a file: that file, except that "Thumbs.db" in any letter case stands
// for its folder's caches and a bare name is looked up in the current folder
// in any letter case. A path that names nothing: the current folder.
ViewerSources store_resolve_for_viewer(const char* path);
