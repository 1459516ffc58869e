// Files as sources on Windows: a read-only view of a file mapping, or reads
// at a position where a file cannot be mapped (an empty file).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <io.h>

#include <cstdint>
#include <cstdio>

#include "platform/source.h"
#include "platform/system.h"

namespace {

struct FileState {
    std::FILE* file;
    HANDLE mapping;
    const void* view;
};

int64_t file_read(const Source* s, uint64_t offset, void* out, size_t length)
{
    const FileState* f = static_cast<const FileState*>(s->state);
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f->file)));
    OVERLAPPED at{};
    at.Offset = DWORD(offset & 0xFFFFFFFFu);
    at.OffsetHigh = DWORD(offset >> 32);
    const DWORD ask = length > 0x40000000u ? 0x40000000u : DWORD(length);
    DWORD got = 0;
    if (!ReadFile(h, out, ask, &got, &at))
        return -1;
    return int64_t(got);
}

void file_release(const Source* s, uint64_t offset, uint64_t length)
{
    const FileState* f = static_cast<const FileState*>(s->state);
    if (f->view)
        sys_release_mapped(f->view, size_t(s->size), offset, length);
}

void file_close(Source* s)
{
    FileState* f = static_cast<FileState*>(s->state);
    if (!f)
        return;
    if (f->view)
        UnmapViewOfFile(f->view);
    if (f->mapping)
        CloseHandle(f->mapping);
    std::fclose(f->file);
    delete f;
}

constexpr SourceKind FILE_SOURCE = {file_read, file_release, file_close};

} // namespace

void sys_release_mapped(const void* map, size_t map_length, uint64_t offset, uint64_t length)
{
    static const uint64_t page = [] {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return uint64_t(info.dwPageSize ? info.dwPageSize : 4096);
    }();
    const uint64_t mapped_end = (uint64_t(map_length) + page - 1) & ~(page - 1);
    const uint64_t from = offset > SOURCE_FAULT_AROUND_BYTES ? (offset - SOURCE_FAULT_AROUND_BYTES) & ~(page - 1) : 0;
    uint64_t to = (offset + length + SOURCE_FAULT_AROUND_BYTES + page - 1) & ~(page - 1);
    if (to > mapped_end)
        to = mapped_end;
    // Unlocking pages that were never locked takes them out of the working
    // set (and fails with ERROR_NOT_LOCKED, which is the expected answer); the
    // view stays mapped and a page comes back from the file when touched.
    if (from < to)
        VirtualUnlock(static_cast<uint8_t*>(const_cast<void*>(map)) + from, SIZE_T(to - from));
}

int sys_source_open_file(const char* path, SourceAccess access, Source* out)
{
    if (sys_is_directory(path))
        return -1;
    std::FILE* file = sys_fopen(path, "rb");
    if (!file)
        return -1;
    const int64_t size = sys_stream_size(file);
    if (size < 0) {
        std::fclose(file);
        return -1;
    }
    FileState* f = new FileState{file, nullptr, nullptr};
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (access == SOURCE_MAPPED_IF_POSSIBLE && size > 0 && uint64_t(size) <= SIZE_MAX) {
        f->mapping = CreateFileMappingA(h, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (f->mapping)
            f->view = MapViewOfFile(f->mapping, FILE_MAP_READ, 0, 0, 0);
    }
    *out = Source{&FILE_SOURCE, uint64_t(size), static_cast<const uint8_t*>(f->view), f, nullptr, 0};
    return 0;
}
