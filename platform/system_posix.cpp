// File and folder services on POSIX systems.
#include "platform/find_list.h"

#include <dirent.h>
#include <fnmatch.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int sys_collect_entries(const char* pattern, std::vector<SysFindData>* entries)
{
    std::string p = pattern;
    size_t cut = p.find_last_of("/\\");
    std::string folder = cut == std::string::npos ? "." : p.substr(0, cut + 1);
    std::string glob = cut == std::string::npos ? p : p.substr(cut + 1);
    if (glob.empty())
        return -1;
    if (folder != "." && folder.size() > 1)
        for (char& c : folder)
            if (c == '\\')
                c = '/';
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return -1;
    while (dirent* e = readdir(dir)) {
        const size_t length = std::strlen(e->d_name);
        if (length >= size_t(SYS_MAX_PATH))
            continue;  // no Windows program could name it either
        if (fnmatch(glob.c_str(), e->d_name, FNM_CASEFOLD) != 0)
            continue;
        SysFindData d{};
        const std::string name = e->d_name;
        const std::string full = folder == "." ? name : folder + name;
        struct stat st;
        if (stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            d.attributes |= SYS_ATTR_DIRECTORY;
        if (name[0] == '.' && name != "." && name != "..")
            d.attributes |= SYS_ATTR_HIDDEN;
        std::memcpy(d.name, e->d_name, length + 1);
        entries->push_back(d);
    }
    closedir(dir);
    return 0;
}

namespace {

// The code point of the UTF-8 sequence at p and its length, or length 0 for
// bytes that are no text: bad leads and continuations, overlong forms,
// surrogates, code points beyond Unicode.
uint32_t utf8_decode(const unsigned char* p, int* length)
{
    static constexpr uint32_t least[4] = {0, 0x80, 0x800, 0x10000};
    const unsigned lead = p[0];
    int more = -1;
    if (lead < 0x80)
        more = 0;
    else if (lead >= 0xC2 && lead < 0xE0)
        more = 1;
    else if (lead >= 0xE0 && lead < 0xF0)
        more = 2;
    else if (lead >= 0xF0 && lead < 0xF5)
        more = 3;
    *length = 0;
    if (more < 0)
        return 0;
    uint32_t c = more == 0 ? lead : lead & (0x3Fu >> more);
    for (int k = 1; k <= more; ++k) {
        if ((p[k] & 0xC0) != 0x80)
            return 0;
        c = c << 6 | (p[k] & 0x3Fu);
    }
    if (c < least[more] || (c >= 0xD800 && c < 0xE000) || c > 0x10FFFF)
        return 0;
    *length = 1 + more;
    return c;
}

} // namespace

int sys_name_to_utf16(const char* name, std::vector<uint16_t>* out)
{
    out->clear();
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p;) {
        int length;
        const uint32_t c = utf8_decode(p, &length);
        if (length == 0) {
            out->clear();
            return -1;
        }
        if (c >= 0x10000) {
            out->push_back(uint16_t(0xD800 + ((c - 0x10000) >> 10)));
            out->push_back(uint16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out->push_back(uint16_t(c));
        }
        p += length;
    }
    return 0;
}

int sys_set_current_directory(const char* path)
{
    return path && chdir(path) == 0 ? 0 : -1;
}

int sys_find_name_nocase(const char* folder, const char* name, char out[SYS_MAX_PATH])
{
    size_t length = std::strlen(name);
    if (length == 0 || length >= size_t(SYS_MAX_PATH) || std::strchr(name, '/'))
        return -1;
    struct stat st;
    if (stat(sys_join_path(folder, name).c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        std::memcpy(out, name, length + 1);
        return 0;
    }
    return sys_find_listed_nocase(sys_join_path(folder, "*").c_str(), name, out);
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

int sys_get_file_time(const char* path, FileTime* modified)
{
    constexpr int64_t unix_epoch_ticks = 116444736000000000LL;
    struct stat st;
    if (stat(path, &st) != 0)
        return -1;
    int64_t seconds = int64_t(st.st_mtim.tv_sec);
    // Before 1601 or past what FILETIME holds: no time rather than a wrong one.
    if (seconds < -unix_epoch_ticks / 10000000 || seconds > (INT64_MAX - unix_epoch_ticks) / 10000000 - 1)
        return -1;
    *modified = FileTime(unix_epoch_ticks + seconds * 10000000 + int64_t(st.st_mtim.tv_nsec) / 100);
    return 0;
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

std::FILE* sys_replace_file(const char* path)
{
    struct stat st;
    if (lstat(path, &st) == 0) {
        if (S_ISDIR(st.st_mode) || unlink(path) != 0)
            return nullptr;
    }
    bool exists;
    return sys_create_new_file(path, &exists);
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

int sys_make_temp_folder(const char* prefix, std::string* path)
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    if (!mkdtemp(&pattern[0]))
        return -1;
    *path = pattern;
    return 0;
}

int sys_remove_file(const char* path) { return unlink(path) == 0 ? 0 : -1; }

int sys_remove_folder(const char* path) { return rmdir(path) == 0 ? 0 : -1; }

namespace {

// The first line of a small system file, or the value after key on the first
// line that starts with it, quotes taken off; "" when there is none.
std::string system_file_line(const char* path, const char* key)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return "";
    char line[512];
    std::string found;
    const size_t key_length = key ? std::strlen(key) : 0;
    while (std::fgets(line, sizeof line, f)) {
        std::string s = line;
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
            s.pop_back();
        if (!key) {
            found = s;
            break;
        }
        if (s.compare(0, key_length, key) == 0) {
            found = s.substr(key_length);
            if (found.size() >= 2 && found.front() == '"' && found.back() == '"')
                found = found.substr(1, found.size() - 2);
            break;
        }
    }
    std::fclose(f);
    return found;
}

}  // namespace

std::string sys_os_description()
{
    const std::string system = system_file_line("/etc/os-release", "PRETTY_NAME=");
    const std::string kernel = system_file_line("/proc/sys/kernel/osrelease", nullptr);
    std::string name = system.empty() ? "Linux" : system;
    if (!kernel.empty())
        name += "; kernel " + kernel;
    return name;
}
