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
        sys_release_mapped(f->map, f->map_length, offset, length);
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

void sys_release_mapped(const void* map, size_t map_length, uint64_t offset, uint64_t length)
{
    static const uint64_t page = uint64_t(sysconf(_SC_PAGESIZE) > 0 ? sysconf(_SC_PAGESIZE) : 4096);
    const uint64_t mapped_end = (uint64_t(map_length) + page - 1) & ~(page - 1);
    const uint64_t from = offset > SOURCE_FAULT_AROUND_BYTES ? (offset - SOURCE_FAULT_AROUND_BYTES) & ~(page - 1) : 0;
    uint64_t to = (offset + length + SOURCE_FAULT_AROUND_BYTES + page - 1) & ~(page - 1);
    if (to > mapped_end)
        to = mapped_end;
    // The mapping is private, read-only and never written: a dropped page is
    // read from the file again when touched, unchanged. The range stays
    // inside the mapping (which starts on a page and ends in its last one):
    // beside it may lie memory this advice would wipe.
    if (from < to)
        madvise(static_cast<uint8_t*>(const_cast<void*>(map)) + from, size_t(to - from), MADV_DONTNEED);
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
