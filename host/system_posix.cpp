// File and folder services on POSIX systems.
#include "host/system.h"

#include <dirent.h>
#include <fnmatch.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {


int compare_nocase(const std::string& a, const std::string& b)
{
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        int d = ascii_lower(uint8_t(a[i])) - ascii_lower(uint8_t(b[i]));
        if (d)
            return d;
    }
    return int(a.size()) - int(b.size());
}

} // namespace

struct SysFind {
    std::vector<SysFindData> entries;
    size_t next;
};

SysFind* sys_find_first_file(const char* pattern, SysFindData* out)
{
    std::string p = pattern ? pattern : "";
    size_t cut = p.find_last_of("/\\");
    std::string folder = cut == std::string::npos ? "." : p.substr(0, cut + 1);
    std::string glob = cut == std::string::npos ? p : p.substr(cut + 1);
    if (glob.empty())
        return nullptr;
    if (folder != "." && folder.size() > 1)
        for (char& c : folder)
            if (c == '\\')
                c = '/';
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return nullptr;
    std::vector<std::string> names;
    while (dirent* e = readdir(dir)) {
        if (std::strlen(e->d_name) >= size_t(SYS_MAX_PATH))
            continue;  // no Windows program could name it either
        if (fnmatch(glob.c_str(), e->d_name, FNM_CASEFOLD) == 0)
            names.emplace_back(e->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        int d = compare_nocase(a, b);
        return d ? d < 0 : a < b;
    });

    SysFind* find = new SysFind{{}, 0};
    for (const std::string& name : names) {
        SysFindData d{};
        std::string full = folder == "." ? name : folder + name;
        struct stat st;
        if (stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            d.attributes |= SYS_ATTR_DIRECTORY;
        if (name[0] == '.' && name != "." && name != "..")
            d.attributes |= SYS_ATTR_HIDDEN;
        std::memcpy(d.name, name.c_str(), name.size() + 1);
        find->entries.push_back(d);
    }
    if (find->entries.empty()) {
        delete find;
        return nullptr;
    }
    *out = find->entries[0];
    find->next = 1;
    return find;
}

int sys_find_next_file(SysFind* find, SysFindData* out)
{
    if (!find || find->next >= find->entries.size())
        return 0;
    *out = find->entries[find->next++];
    return 1;
}

void sys_find_close(SysFind* find) { delete find; }

int sys_set_current_directory(const char* path)
{
    return path && chdir(path) == 0 ? 0 : -1;
}

int sys_find_name_nocase(const char* name, char out[SYS_MAX_PATH])
{
    size_t length = std::strlen(name);
    if (length >= size_t(SYS_MAX_PATH))
        return -1;
    struct stat st;
    if (stat(name, &st) == 0 && !S_ISDIR(st.st_mode)) {
        std::memcpy(out, name, length + 1);
        return 0;
    }
    SysFindData d;
    SysFind* find = sys_find_first_file("*", &d);
    int found = -1;
    for (int more = find ? 1 : 0; more; more = sys_find_next_file(find, &d)) {
        if (!(d.attributes & SYS_ATTR_DIRECTORY) && compare_nocase(d.name, name) == 0) {
            std::memcpy(out, d.name, std::strlen(d.name) + 1);
            found = 0;
            break;
        }
    }
    sys_find_close(find);
    return found;
}

int sys_is_directory(const char* path)
{
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISDIR(st.st_mode) ? 1 : 0;
}

int sys_set_file_time(const char* path, FileTime time)
{
    // FILETIME ticks from 1601-01-01 to 1970-01-01; times beyond int64 are cut.
    constexpr int64_t unix_epoch_ticks = 116444736000000000LL;
    constexpr int64_t ticks_per_second = 10000000;
    int64_t ticks = time > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(time);
    int64_t since = ticks - unix_epoch_ticks;
    int64_t seconds = since / ticks_per_second;
    int64_t rest = since % ticks_per_second;
    if (rest < 0) {
        rest += ticks_per_second;
        --seconds;
    }
    timespec t;
    t.tv_sec = time_t(seconds);
    t.tv_nsec = long(rest * 100);
    timespec times[2] = {t, t};
    return utimensat(AT_FDCWD, path, times, 0) == 0 ? 0 : -1;
}

int sys_make_directory(const char* path)
{
    if (mkdir(path, 0755) == 0)
        return 0;
    return sys_is_directory(path) ? 0 : -1;
}

int sys_stderr_is_terminal() { return isatty(2) ? 1 : 0; }

int sys_absolute_path(const char* path, char* out, int size)
{
    std::string result;
    if (path[0] == '/') {
        result = path;
    } else {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd))
            return -1;
        result = std::string(cwd) + "/" + path;
    }
    if (result.size() + 1 > size_t(size))
        return -1;
    std::memcpy(out, result.c_str(), result.size() + 1);
    return 0;
}

int sys_path_exists(const char* path)
{
    struct stat st;
    return path && stat(path, &st) == 0 ? 1 : 0;
}

std::FILE* sys_fopen(const char* path, const char* mode) { return std::fopen(path, mode); }

std::FILE* sys_create_new_file(const char* path, bool* exists)
{
    *exists = false;
    std::FILE* f = std::fopen(path, "wbx");
    if (!f && errno == EEXIST)
        *exists = true;
    return f;
}

void sys_binary_stdout() {}

int64_t sys_stream_size(std::FILE* file)
{
    if (fseeko(file, 0, SEEK_END) != 0)
        return -1;
    off_t size = ftello(file);
    if (size < 0 || fseeko(file, 0, SEEK_SET) != 0)
        return -1;
    return int64_t(size);
}
