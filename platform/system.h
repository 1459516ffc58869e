#pragma once
// The file and folder services the store and the commands need from the
// operating system. This header is the only door to them: nothing above the
// platform layer includes a POSIX or Windows header.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// 100-nanosecond ticks since 1601-01-01 00:00 UTC, as Windows stamps files.
using FileTime = uint64_t;

struct SystemTime {
    int year;
    int month;        // 1..12
    int day_of_week;  // 0 = Sunday
    int day;          // 1..31
    int hour;
    int minute;
    int second;
    int milliseconds;
};

// Civil UTC date and time of a FileTime; no time-zone conversion.
void file_time_to_system_time(FileTime time, SystemTime* out);

constexpr uint32_t SYS_ATTR_HIDDEN = 0x2;
constexpr uint32_t SYS_ATTR_DIRECTORY = 0x10;
constexpr int SYS_MAX_PATH = 260;

struct SysFindData {
    uint32_t attributes;
    char name[SYS_MAX_PATH];
};

struct SysFind;  // an open folder listing

// Lists the entries that match pattern ("*", "dir/*", "dir\\*.jpg"), in the
// order Windows lists an NTFS folder: ASCII case-insensitive alphabetical.
// "." and ".." are listed as directories. Null when nothing can be listed.
SysFind* sys_find_first_file(const char* pattern, SysFindData* out);
int sys_find_next_file(SysFind* find, SysFindData* out);  // 1, or 0 at the end
void sys_find_close(SysFind* find);

// The entries of a folder in the same order, "." and ".." left out: the one
// listing every walk of folders uses. -1 when the folder cannot be listed.
int sys_list_folder(const std::string& folder, std::vector<SysFindData>* entries);

// A name as the listing gives it (UTF-8 here, the ANSI code page on Windows)
// as the UTF-16 units the file system holds; -1, out empty, when it is not
// valid text of that encoding.
int sys_name_to_utf16(const char* name, std::vector<uint16_t>* out);

// Only the viewer moves the current directory (its documented start-up and
// load do); everything else names files by their folder.
int sys_set_current_directory(const char* path);  // 0 or -1

// The name under which `name` exists in folder (null or empty: the current
// directory): the exact name, else the first entry equal to it ignoring
// ASCII case (caches copied from Windows are often "thumbs.db"). 0 with out
// filled, -1 when none exists.
int sys_find_name_nocase(const char* folder, const char* name, char out[SYS_MAX_PATH]);

// Gives the file time as its modification and access time, and on Windows
// as its creation time too (Linux keeps no creation time); 0 or -1. Paths as
// sys_fopen takes them.
int sys_set_file_time(const char* path, FileTime time);

// The file's modification time; 0 or -1 (no such file, or a time before
// 1601). Read-only: the file's own times are not touched.
int sys_get_file_time(const char* path, FileTime* modified);

// Creates a folder (its parent must exist); 0 when it exists afterwards.
int sys_make_directory(const char* path);

// The absolute form of path (the current directory prepended when it is
// relative); 0, or -1 when it does not fit in size bytes.
int sys_absolute_path(const char* path, char* out, int size);

// fopen. On Windows a path that is valid UTF-8 and not plain ASCII is taken
// as UTF-8 (the command-line tool makes file names from catalog names that
// way), any other path in the ANSI code page, as the ...A services do.
std::FILE* sys_fopen(const char* path, const char* mode);

// Opens path for binary writing only if no such file exists yet; null
// otherwise, with *exists set when an existing file was the reason. Paths
// as sys_fopen takes them.
std::FILE* sys_create_new_file(const char* path, bool* exists);

// Opens path for binary writing as a new file in place of whatever file or
// link the name holds (the link itself goes, never what it points to, so
// nothing is written outside the folder path names); null where the name
// is a folder, cannot be removed, or is taken again before the create.
std::FILE* sys_replace_file(const char* path);

// The length of an open file in bytes, 64-bit on every platform (Windows'
// ftell is 32-bit), with the position put back at the start; -1 when it
// cannot be told.
int64_t sys_stream_size(std::FILE* file);

// Makes standard output carry bytes unchanged (Windows' text mode would
// write "\r\n" for "\n").
void sys_binary_stdout();

// 1 when standard error is a terminal (progress lines go there only then).
int sys_stderr_is_terminal();

// 1 when path names an existing file or directory, 0 otherwise.
int sys_path_exists(const char* path);

// 1 when path names an existing directory, 0 otherwise.
int sys_is_directory(const char* path);

// The characters that separate folders in a path: Windows takes both
// slashes, POSIX only the forward one (a backslash is part of a name there).
#ifdef _WIN32
constexpr const char* SYS_PATH_SEPARATORS = "/\\";
#else
constexpr const char* SYS_PATH_SEPARATORS = "/";
#endif

inline bool sys_is_separator(char c)
{
    for (const char* s = SYS_PATH_SEPARATORS; *s; ++s)
        if (c == *s)
            return true;
    return false;
}

// The last separator in path, or null when it has none.
inline const char* sys_last_separator(const char* path)
{
    const char* last = nullptr;
    for (const char* p = path; *p; ++p)
        if (sys_is_separator(*p))
            last = p;
    return last;
}

// 1 when path does not depend on the current directory: it begins with a
// separator, or on Windows with a drive letter ("C:").
inline int sys_path_is_absolute(const char* path)
{
#ifdef _WIN32
    if (path[0] && path[1] == ':')
        return 1;
#endif
    return path[0] && sys_is_separator(path[0]) ? 1 : 0;
}

// name in folder: name itself when it is absolute or folder is null or
// empty, else folder and name with one separator between them.
inline std::string sys_join_path(const char* folder, const char* name)
{
    if (!folder || !folder[0] || sys_path_is_absolute(name))
        return name;
    std::string joined = folder;
    if (!sys_is_separator(joined.back()))
        joined += '/';
    return joined + name;
}

// ASCII-only case-insensitive compares, never locale-dependent.
inline int ascii_lower(int c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

// A hexadecimal digit's value in either case, -1 for any other character.
constexpr int ascii_hex_value(int c)
{
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}
inline int ascii_stricmp(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        int d = ascii_lower(static_cast<unsigned char>(*a)) - ascii_lower(static_cast<unsigned char>(*b));
        if (d || !*a)
            return d;
    }
}

// Makes a new, empty folder of this user's own in the system's temporary
// folder, named prefix and a unique ending; its path (UTF-8 on Windows, as
// sys_fopen takes it) in *path. 0, or -1 when none can be made.
int sys_make_temp_folder(const char* prefix, std::string* path);

// Removes a file, or a folder that is empty; 0, or -1 when it is not gone.
// Paths as sys_fopen takes them.
int sys_remove_file(const char* path);
int sys_remove_folder(const char* path);

// The operating system this runs on, for the record of a run: its name and
// version as the system gives them ("Debian GNU/Linux 12 (bookworm); kernel
// 6.1.0", "Windows 10.0.19045"); never empty.
std::string sys_os_description();
