#include "app/cli/cli_paths.h"

#include "app/cli/cli_images.h"
#include "platform/system.h"
#include "store/resolve.h"

namespace {

std::string absolute(const std::string& path)
{
    char out[4096];
    return sys_absolute_path(path.c_str(), out, sizeof out) == 0 ? std::string(out) : path;
}

} // namespace

int find_caches(const std::vector<std::string>& arguments, bool recursive, std::vector<std::string>* caches,
                std::vector<std::string>* missing, bool carve)
{
    int result = 0;
    for (const std::string& argument : arguments) {
        switch (cli_images_add(absolute(argument), caches, carve)) {
        case CLI_IMAGE_NOT_ONE: break;
        case CLI_IMAGE_READ: continue;
        case CLI_IMAGE_PARTLY_READ:
        case CLI_IMAGE_UNREADABLE:
        case CLI_IMAGE_UNSUPPORTED: result = -1; continue;
        }
        ResolvedCaches resolved;
        if (store_resolve(absolute(argument), recursive, &resolved) != 0) {
            missing->push_back(argument);
            continue;
        }
        for (const std::string& path : store_resolved_for_tool(resolved))
            caches->push_back(path);
    }
    return result;
}

void split_cache_path(const std::string& path, std::string* folder, std::string* file)
{
    size_t cut = path.find_last_of(SYS_PATH_SEPARATORS);
    *folder = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
    *file = cut == std::string::npos ? path : path.substr(cut + 1);
}
