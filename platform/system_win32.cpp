// File and folder services on Windows (KERNEL32).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/find_list.h"

namespace {

FILETIME to_filetime(FileTime time)
{
    FILETIME f;
    f.dwLowDateTime = DWORD(time & 0xFFFFFFFFu);
    f.dwHighDateTime = DWORD(time >> 32);
    return f;
}

// The UTF-16 form of a path that is valid UTF-8 with at least one byte
// above 127; empty for every other path, which stays in the ANSI code page.
std::wstring utf8_path(const char* path)
{
    bool wide = false;
    for (const char* p = path; *p; ++p)
        wide |= (static_cast<unsigned char>(*p) & 0x80) != 0;
    if (!wide)
        return {};
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
    if (n <= 0)
        return {};
    std::wstring w(size_t(n), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, &w[0], n) != n)
        return {};
    w.resize(size_t(n - 1));
    return w;
}

} // namespace

int sys_collect_entries(const char* pattern, std::vector<SysFindData>* entries)
{
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirstFileA(pattern, &data);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    do {
        size_t length = std::strlen(data.cFileName);
        if (length >= size_t(SYS_MAX_PATH))
            continue;
        SysFindData d{};
        d.attributes = data.dwFileAttributes & (SYS_ATTR_HIDDEN | SYS_ATTR_DIRECTORY);
        std::memcpy(d.name, data.cFileName, length + 1);
        entries->push_back(d);
    } while (FindNextFileA(handle, &data));
    FindClose(handle);
    return 0;
}

int sys_name_to_utf16(const char* name, std::vector<uint16_t>* out)
{
    out->clear();
    if (!*name)
        return 0;
    // The listing's names are in the ANSI code page (FindFirstFileA).
    const int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
    if (n <= 1)
        return -1;
    std::wstring w(size_t(n), L'\0');
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, &w[0], n) != n)
        return -1;
    out->assign(w.begin(), w.end() - 1);
    return 0;
}

int sys_set_current_directory(const char* path)
{
    return path && SetCurrentDirectoryA(path) ? 0 : -1;
}

int sys_find_name_nocase(const char* folder, const char* name, char out[SYS_MAX_PATH])
{
    size_t length = std::strlen(name);
    if (length == 0 || length >= size_t(SYS_MAX_PATH) || std::strpbrk(name, "*?/\\"))
        return -1;
    // Windows volumes ignore case already; the listing gives the stored spelling.
    return sys_find_listed_nocase(sys_join_path(folder, name).c_str(), name, out);
}

int sys_is_directory(const char* path)
{
    if (!path)
        return 0;
    DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

int sys_path_exists(const char* path)
{
    return path && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

int sys_set_file_time(const char* path, FileTime time)
{
    std::wstring w = utf8_path(path);
    HANDLE file = w.empty() ? CreateFileA(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                            : CreateFileW(w.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    FILETIME t = to_filetime(time);
    BOOL ok = SetFileTime(file, &t, &t, &t);
    CloseHandle(file);
    return ok ? 0 : -1;
}

int sys_get_file_time(const char* path, FileTime* modified)
{
    std::wstring w = utf8_path(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    BOOL ok = w.empty() ? GetFileAttributesExA(path, GetFileExInfoStandard, &data)
                        : GetFileAttributesExW(w.c_str(), GetFileExInfoStandard, &data);
    if (!ok)
        return -1;
    *modified = (FileTime(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return 0;
}

int sys_make_directory(const char* path)
{
    if (CreateDirectoryA(path, nullptr))
        return 0;
    return sys_is_directory(path) ? 0 : -1;
}

int sys_stderr_is_terminal()
{
    DWORD mode;
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    return err != INVALID_HANDLE_VALUE && err && GetConsoleMode(err, &mode) ? 1 : 0;
}

int sys_absolute_path(const char* path, char* out, int size)
{
    if (size <= 0)
        return -1;
    DWORD n = GetFullPathNameA(path, DWORD(size), out, nullptr);
    return n > 0 && n < DWORD(size) ? 0 : -1;
}

std::FILE* sys_fopen(const char* path, const char* mode)
{
    std::wstring w = utf8_path(path);
    if (w.empty())
        return std::fopen(path, mode);
    std::wstring wmode(mode, mode + std::strlen(mode));
    return _wfopen(w.c_str(), wmode.c_str());
}

std::FILE* sys_create_new_file(const char* path, bool* exists)
{
    *exists = false;
    // msvcrt's fopen knows no "x": the exclusive create goes through _open.
    std::wstring w = utf8_path(path);
    int flags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY;
    int fd = w.empty() ? _open(path, flags, _S_IREAD | _S_IWRITE) : _wopen(w.c_str(), flags, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        *exists = errno == EEXIST;
        return nullptr;
    }
    std::FILE* f = _fdopen(fd, "wb");
    if (!f)
        _close(fd);
    return f;
}

std::FILE* sys_replace_file(const char* path)
{
    // DeleteFile removes a symbolic link itself, not its target.
    std::wstring w = utf8_path(path);
    DWORD attributes = w.empty() ? GetFileAttributesA(path) : GetFileAttributesW(w.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return nullptr;
        if (attributes & FILE_ATTRIBUTE_READONLY)
            w.empty() ? SetFileAttributesA(path, attributes & ~DWORD(FILE_ATTRIBUTE_READONLY))
                      : SetFileAttributesW(w.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
        if (!(w.empty() ? DeleteFileA(path) : DeleteFileW(w.c_str())))
            return nullptr;
    }
    bool exists;
    return sys_create_new_file(path, &exists);
}

void sys_binary_stdout()
{
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

int64_t sys_stream_size(std::FILE* file)
{
    if (_fseeki64(file, 0, SEEK_END) != 0)
        return -1;
    int64_t size = _ftelli64(file);
    if (size < 0 || _fseeki64(file, 0, SEEK_SET) != 0)
        return -1;
    return size;
}

namespace {

// The UTF-8 form of a wide path; empty when it has none.
std::string utf8_of(const wchar_t* wide)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return {};
    std::string s(size_t(n), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, &s[0], n, nullptr, nullptr) != n)
        return {};
    s.resize(size_t(n - 1));
    return s;
}

}  // namespace

int sys_make_temp_folder(const char* prefix, std::string* path)
{
    wchar_t base[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, base);
    if (length == 0 || length > MAX_PATH)
        return -1;
    const int prefix_units = MultiByteToWideChar(CP_UTF8, 0, prefix, -1, nullptr, 0);
    if (prefix_units <= 0)
        return -1;
    std::wstring wide_prefix(size_t(prefix_units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, prefix, -1, &wide_prefix[0], prefix_units);
    wide_prefix.resize(size_t(prefix_units - 1));
    // CreateDirectoryW fails on a name that exists, so a name taken by anyone
    // else is never shared: another is tried.
    static unsigned counter;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char ending[32];
        std::snprintf(ending, sizeof ending, "-%08lx%08lx%04x", static_cast<unsigned long>(GetCurrentProcessId()),
                      static_cast<unsigned long>(GetTickCount()), ++counter & 0xFFFFu);
        const std::wstring folder = std::wstring(base) + wide_prefix + std::wstring(ending, ending + std::strlen(ending));
        if (CreateDirectoryW(folder.c_str(), nullptr)) {
            *path = utf8_of(folder.c_str());
            if (!path->empty())
                return 0;
            RemoveDirectoryW(folder.c_str());
            return -1;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return -1;
    }
    return -1;
}

int sys_remove_file(const char* path)
{
    const std::wstring w = utf8_path(path);
    return (w.empty() ? DeleteFileA(path) : DeleteFileW(w.c_str())) ? 0 : -1;
}

int sys_remove_folder(const char* path)
{
    const std::wstring w = utf8_path(path);
    return (w.empty() ? RemoveDirectoryA(path) : RemoveDirectoryW(w.c_str())) ? 0 : -1;
}

std::string sys_os_description()
{
    // RtlGetVersion tells the true version; GetVersionEx answers what the
    // program's manifest claims to support.
    using GetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto get_version = ntdll ? reinterpret_cast<GetVersionFunction>(
                                         reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
                                   : nullptr;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!get_version || get_version(&info) != 0)
        return "Windows";
    char text[64];
    std::snprintf(text, sizeof text, "Windows %lu.%lu.%lu", static_cast<unsigned long>(info.dwMajorVersion),
                  static_cast<unsigned long>(info.dwMinorVersion), static_cast<unsigned long>(info.dwBuildNumber));
    return text;
}
