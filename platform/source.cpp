// The parts of a source every system shares: memory, regions, bounded reads.
#include "platform/source.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

int64_t memory_read(const Source* s, uint64_t offset, void* out, size_t length)
{
    std::memcpy(out, s->mapped + offset, length);
    return int64_t(length);
}

void no_state(Source*) {}

// Bytes in memory belong to the caller: never given back from here.
void keep_pages(const Source*, uint64_t, uint64_t) {}

constexpr SourceKind MEMORY_SOURCE = {memory_read, keep_pages, no_state};

int64_t region_read(const Source* s, uint64_t offset, void* out, size_t length)
{
    return source_read(*s->parent, s->base + offset, out, length) == 0 ? int64_t(length) : -1;
}

void region_release(const Source* s, uint64_t offset, uint64_t length)
{
    source_release(*s->parent, s->base + offset, length);
}

constexpr SourceKind REGION_SOURCE = {region_read, region_release, no_state};

bool inside(const Source& s, uint64_t offset, uint64_t length)
{
    return offset <= s.size && length <= s.size - offset;
}

} // namespace

int source_open_file(const char* path, Source* out, SourceAccess access)
{
    *out = Source{};
    if (!path || !*path)
        return -1;
    return sys_source_open_file(path, access, out);
}

void source_from_memory(const uint8_t* data, size_t size, Source* out)
{
    *out = Source{&MEMORY_SOURCE, size, data, nullptr, nullptr, 0};
}

int source_region(const Source* parent, uint64_t offset, uint64_t length, Source* out)
{
    *out = Source{};
    if (!parent || !parent->kind || !inside(*parent, offset, length))
        return -1;
    *out = Source{&REGION_SOURCE, length, parent->mapped ? parent->mapped + offset : nullptr, nullptr, parent, offset};
    return 0;
}

int source_read(const Source& source, uint64_t offset, void* out, size_t length)
{
    if (!source.kind || !inside(source, offset, length))
        return -1;
    if (length == 0)
        return 0;
    if (source.mapped) {
        std::memcpy(out, source.mapped + offset, length);
        return 0;
    }
    // A read may come back short (a pipe, a network drive): ask again for the rest.
    uint8_t* to = static_cast<uint8_t*>(out);
    while (length > 0) {
        const int64_t got = source.kind->read(&source, offset, to, length);
        if (got <= 0)
            return -1;
        to += got;
        offset += uint64_t(got);
        length -= size_t(got);
    }
    return 0;
}

const uint8_t* source_bytes(const Source& source, uint64_t offset, size_t length, std::vector<uint8_t>* scratch)
{
    if (!source.kind || !inside(source, offset, length))
        return nullptr;
    if (source.mapped)
        return source.mapped + offset;
    scratch->resize(length);
    return source_read(source, offset, scratch->data(), length) == 0 ? scratch->data() : nullptr;
}

void source_release(const Source& source, uint64_t offset, uint64_t length)
{
    if (!source.kind || offset >= source.size || length == 0)
        return;
    if (length > source.size - offset)
        length = source.size - offset;
    source.kind->release(&source, offset, length);
}

SourceWholeResult source_whole(const Source& source, uint64_t ceiling, SourceBytes* out)
{
    *out = SourceBytes{};
    if (!source.kind)
        return SOURCE_WHOLE_CANNOT_OPEN;
    if (source.size > ceiling || source.size > SIZE_MAX - 1)
        return SOURCE_WHOLE_TOO_LARGE;
    out->size = size_t(source.size);
    if (source.mapped) {
        out->data = source.mapped;
        return SOURCE_WHOLE_OK;
    }
    // One spare byte: readers may take a view one past the end of empty bytes.
    out->copy = static_cast<uint8_t*>(std::malloc(out->size + 1));
    if (!out->copy)
        return SOURCE_WHOLE_NO_MEMORY;
    if (source_read(source, 0, out->copy, out->size) != 0) {
        source_whole_free(out);
        return SOURCE_WHOLE_CANNOT_READ;
    }
    out->data = out->copy;
    return SOURCE_WHOLE_OK;
}

const char* source_whole_text(SourceWholeResult result)
{
    switch (result) {
    case SOURCE_WHOLE_OK: return "";
    case SOURCE_WHOLE_CANNOT_OPEN: return "cannot open the file";
    case SOURCE_WHOLE_CANNOT_READ: return "cannot read the file";
    case SOURCE_WHOLE_TOO_LARGE: return "larger than the ceiling on cache files";
    case SOURCE_WHOLE_NO_MEMORY: return "out of memory";
    }
    return "cannot read the file";
}

void source_whole_free(SourceBytes* bytes)
{
    std::free(bytes->copy);
    source_close(&bytes->own);
    *bytes = SourceBytes{};
}

void source_close(Source* source)
{
    if (source->kind)
        source->kind->close(source);
    *source = Source{};
}
