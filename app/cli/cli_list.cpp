// glimmerdex-cli list: the file list as the viewer builds it, as TSV.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/cli/cli.h"
#include "host/system.h"
#include "store/file_list.h"

namespace {

const char help[] =
    "Usage: glimmerdex-cli list [--flags N] PATH\n"
    "\n"
    "Builds the list of entries exactly as the viewer does and prints it as\n"
    "tab-separated lines: name, width, height, filetime, utc.\n"
    "PATH is a folder holding Thumbs.db (any letter case) or a cache file.\n"
    "Entries without a thumbnail print '-' in the last four columns; the\n"
    "thumbnail streams of caches without a Catalog are listed under their\n"
    "stream names, with '-' for the time.\n"
    "\n"
    "  --flags N   1 = the folder's files, 2 = the catalog's names (default),\n"
    "              3 = both\n"
    "\n"
    "Exit codes: 0 the cache loaded, 1 it could not be loaded, 2 usage error.\n";

} // namespace

int cli_list(int argc, char** argv)
{
    int32_t flags = 2;
    const char* path = nullptr;
    for (int i = 0; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::fputs(help, stdout);
            return CLI_OK;
        }
        if (std::strcmp(a, "--flags") == 0 || std::strncmp(a, "--flags=", 8) == 0) {
            const char* value = a[7] == '=' ? a + 8 : (i + 1 < argc ? argv[++i] : nullptr);
            char* end = nullptr;
            long v = value ? std::strtol(value, &end, 10) : -1;
            if (!value || *end || v < 0 || v > 3) {
                cli_error("list: --flags takes 0 to 3");
                return CLI_USAGE;
            }
            flags = int32_t(v);
        } else if (a[0] == '-' && a[1]) {
            cli_error("list: unknown option '%s'", a);
            return CLI_USAGE;
        } else if (path) {
            cli_error("list: one PATH only");
            return CLI_USAGE;
        } else {
            path = a;
        }
    }
    if (!path) {
        std::fputs(help, stderr);
        return CLI_USAGE;
    }

    std::string folder = path, cache;
    if (!sys_is_directory(path)) {
        size_t cut = folder.find_last_of('/');
        cache = cut == std::string::npos ? folder : folder.substr(cut + 1);
        folder = cut == std::string::npos ? "." : cut == 0 ? "/" : folder.substr(0, cut);
    }
    int loaded = cache.empty() ? file_list_build(folder.c_str(), flags)
                               : file_list_build_from(folder.c_str(), cache.c_str(), flags);
    if (loaded != 0) {
        std::fputs("Thumbs.db not found\n", stderr);
        file_list_release();
        return CLI_FAILED;
    }
    std::fputs("name\twidth\theight\tfiletime\tutc\n", stdout);
    for (int32_t i = 0; i < file_list.count; ++i) {
        std::fputs(file_list_name(i), stdout);
        if (!file_list_has_thumbnail(i)) {
            std::fputs("\t-\t-\t-\t-\n", stdout);
            continue;
        }
        const Picture& p = file_list.pictures[i];
        if (file_list_source_slot(i) >= 0) {  // a stream of a cache without a Catalog: no time
            std::printf("\t%d\t%d\t-\t-\n", p.width, p.height);
            continue;
        }
        SystemTime t;
        file_time_to_system_time(file_list.times[i], &t);
        std::printf("\t%d\t%d\t%llu\t%04d-%02d-%02dT%02d:%02d:%02dZ\n", p.width, p.height,
                    static_cast<unsigned long long>(file_list.times[i]), t.year, t.month, t.day, t.hour,
                    t.minute, t.second);
    }
    file_list_release();
    return CLI_OK;
}
