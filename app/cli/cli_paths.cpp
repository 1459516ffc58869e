#include "app/cli/cli_paths.h"

#include <algorithm>
#include <cstring>

#include "platform/system.h"
#include "store/explorer/explorer_folder.h"

namespace {

// Deep enough for any real tree; bounds a walk through looping links.
constexpr int CLI_MAX_FOLDER_DEPTH = 64;

// The other names Windows gives caches of the Thumbs.db kind.
bool thumbs_db_name(const char* name)
{
    return ascii_stricmp(name, "Thumbs.db") == 0 || ascii_stricmp(name, "ehthumbs.db") == 0 ||
           ascii_stricmp(name, "ehthumbs_vista.db") == 0;
}

// The caches of one folder. A folder named on the command line opens its
// Thumbs.db alone when it has one (the exact spelling first); otherwise, and
// in a walk (subfolders set), every Thumbs.db spelling, the ehthumbs files
// and Explorer's cache files in bucket order.
void folder_caches(const std::string& folder, std::vector<std::string>* caches,
                   std::vector<std::string>* subfolders)
{
    SysFindData d;
    SysFind* find = sys_find_first_file((folder + "/*").c_str(), &d);
    std::string thumbs;
    std::vector<std::string> spellings;
    std::vector<std::string> others;
    for (int more = find ? 1 : 0; more; more = sys_find_next_file(find, &d)) {
        std::string name = d.name;
        if (d.attributes & SYS_ATTR_DIRECTORY) {
            if (subfolders && name != "." && name != "..")
                subfolders->push_back(folder + "/" + name);
        } else if (ascii_stricmp(d.name, "Thumbs.db") == 0) {
            spellings.push_back(name);
            if (thumbs.empty() || name == "Thumbs.db")
                thumbs = name;
        } else if (thumbs_db_name(d.name)) {
            others.push_back(name);
        }
    }
    sys_find_close(find);
    std::sort(others.begin(), others.end());
    if (!subfolders && !thumbs.empty()) {
        caches->push_back(folder + "/" + thumbs);
        return;
    }
    for (const std::string& t : spellings)
        caches->push_back(folder + "/" + t);
    for (const std::string& o : others)
        caches->push_back(folder + "/" + o);
    for (const std::string& e : explorer_cache_files(folder))
        caches->push_back(e);
}

std::string absolute(const std::string& path)
{
    char out[4096];
    return sys_absolute_path(path.c_str(), out, sizeof out) == 0 ? std::string(out) : path;
}

void walk(const std::string& folder, int depth, std::vector<std::string>* caches)
{
    if (depth > CLI_MAX_FOLDER_DEPTH)
        return;
    std::vector<std::string> subfolders;
    folder_caches(folder, caches, &subfolders);
    std::sort(subfolders.begin(), subfolders.end());
    for (const std::string& sub : subfolders)
        walk(sub, depth + 1, caches);
}

} // namespace

void find_caches(const std::vector<std::string>& arguments, bool recursive, std::vector<std::string>* caches,
                 std::vector<std::string>* missing)
{
    for (const std::string& argument : arguments) {
        std::string path = absolute(argument);
        if (!sys_is_directory(path.c_str())) {
            caches->push_back(path);
            continue;
        }
        size_t before = caches->size();
        if (recursive) {
            walk(path, 0, caches);
        } else {
            folder_caches(path, caches, nullptr);
        }
        if (caches->size() == before)
            missing->push_back(argument);
    }
}

void split_cache_path(const std::string& path, std::string* folder, std::string* file)
{
    size_t cut = path.find_last_of(SYS_PATH_SEPARATORS);
    *folder = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
    *file = cut == std::string::npos ? path : path.substr(cut + 1);
}
