#include "app/cli/cli_paths.h"

#include "platform/system.h"

namespace {

// Deep enough for any real tree; bounds a walk through looping links.
constexpr int CLI_MAX_FOLDER_DEPTH = 64;

std::string absolute(const std::string& path)
{
    char out[4096];
    return sys_absolute_path(path.c_str(), out, sizeof out) == 0 ? std::string(out) : path;
}

void walk(const std::string& folder, int depth, std::vector<std::string>* caches)
{
    if (depth > CLI_MAX_FOLDER_DEPTH)
        return;
    SysFindData d;
    SysFind* find = sys_find_first_file((folder + "/*").c_str(), &d);
    std::vector<std::string> subfolders;
    for (int more = find ? 1 : 0; more; more = sys_find_next_file(find, &d)) {
        std::string name = d.name;
        if (d.attributes & SYS_ATTR_DIRECTORY) {
            if (name != "." && name != "..")
                subfolders.push_back(folder + "/" + name);
        } else if (ascii_stricmp(d.name, "Thumbs.db") == 0) {
            caches->push_back(folder + "/" + name);
        }
    }
    sys_find_close(find);
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
            SysFindData d;
            SysFind* find = sys_find_first_file((path + "/*").c_str(), &d);
            std::string exact;
            for (int more = find ? 1 : 0; more; more = sys_find_next_file(find, &d))
                if (!(d.attributes & SYS_ATTR_DIRECTORY) && ascii_stricmp(d.name, "Thumbs.db") == 0 &&
                    (exact.empty() || std::string(d.name) == "Thumbs.db"))
                    exact = d.name;
            sys_find_close(find);
            if (!exact.empty())
                caches->push_back(path + "/" + exact);
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
