// Files as sources on POSIX systems: mapped read-only, or read with pread
// where a file cannot be mapped (an empty file, a special file).
#include "platform/source.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "platform/system.h"

namespace {

struct FileState {
    std::FILE* file;
    void* map;
    size_t map_length;
};

int64_t file_read(const Source* s, uint64_t offset, void* out, size_t length)
{
    const FileState* f = static_cast<const FileState*>(s->state);
    const ssize_t got = pread(fileno(f->file), out, length, off_t(offset));
    return got < 0 ? -1 : int64_t(got);
}

void file_release(const Source* s, uint64_t offset, uint64_t length)
{
    const FileState* f = static_cast<const FileState*>(s->state);
    if (f->map)
        sys_release_mapped(static_cast<const uint8_t*>(f->map) + offset, size_t(length));
}

void file_close(Source* s)
{
    FileState* f = static_cast<FileState*>(s->state);
    if (!f)
        return;
    if (f->map)
        munmap(f->map, f->map_length);
    std::fclose(f->file);
    delete f;
}

constexpr SourceKind FILE_SOURCE = {file_read, file_release, file_close};

} // namespace

void sys_release_mapped(const void* at, size_t length)
{
    static const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE) > 0 ? sysconf(_SC_PAGESIZE) : 4096);
    const uintptr_t from = uintptr_t(at) & ~(page - 1);
    const uintptr_t to = (uintptr_t(at) + length + page - 1) & ~(page - 1);
    // The mapping is private, read-only and never written: a dropped page is
    // read from the file again when touched, unchanged. Page rounding stays
    // inside the mapping, which starts on a page and ends in its last page.
    madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
}

int sys_source_open_file(const char* path, SourceAccess access, Source* out)
{
    std::FILE* file = sys_fopen(path, "rb");
    if (!file)
        return -1;
    struct stat st;
    if (fstat(fileno(file), &st) != 0 || S_ISDIR(st.st_mode) || st.st_size < 0) {
        std::fclose(file);
        return -1;
    }
    FileState* f = new FileState{file, nullptr, 0};
    const uint64_t size = uint64_t(st.st_size);
    if (S_ISREG(st.st_mode) && access == SOURCE_MAPPED_IF_POSSIBLE && size > 0 && size <= SIZE_MAX) {
        void* map = mmap(nullptr, size_t(size), PROT_READ, MAP_PRIVATE, fileno(file), 0);
        if (map != MAP_FAILED) {
            f->map = map;
            f->map_length = size_t(size);
        }
    }
    *out = Source{&FILE_SOURCE, size, static_cast<const uint8_t*>(f->map), f, nullptr, 0};
    return 0;
}
