// The file the save command writes, on Windows: CreateFileA, WriteFile,
// SetFileTime with the catalog time as all three times, CloseHandle.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>

#include "host/desktop.h"

int desktop_write_copy(const char* path, const uint8_t* data, int64_t length, bool set_time, uint64_t time)
{
    if (!path || !path[0])
        return -1;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    int result = 0;
    while (length > 0 && data) {
        DWORD chunk = length > 0x40000000 ? 0x40000000 : DWORD(length);
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) {
            result = -1;
            break;
        }
        data += written;
        length -= written;
    }
    if (set_time && result == 0) {
        FILETIME t;
        t.dwLowDateTime = DWORD(time & 0xFFFFFFFFu);
        t.dwHighDateTime = DWORD(time >> 32);
        SetFileTime(file, &t, &t, &t);
    }
    if (!CloseHandle(file))
        result = -1;
    return result;
}
