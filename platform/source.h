#pragma once
// Where evidence bytes come from. A source has a size and answers bounded
// reads at an offset; it is made from a file (memory-mapped where the system
// allows, positioned reads otherwise), from bytes already in memory, or from
// a region of another source. The cache readers take a source, never a path:
// a file inside a disk image or a stretch of unallocated space is one more
// kind of source, and no reader changes for it.
//
// Sources only read. Nothing here opens a file for writing, so evidence
// cannot be changed through one.
#include <cstddef>
#include <cstdint>
#include <vector>

struct Source;

// What a kind of source does. read copies up to length bytes at offset
// (offset + length lies inside the source) and returns the count copied,
// -1 on a read error; release tells the system that the mapped pages of a
// range inside the source are not needed for now; close lets go of the
// kind's state.
struct SourceKind {
    int64_t (*read)(const Source* source, uint64_t offset, void* out, size_t length);
    void (*release)(const Source* source, uint64_t offset, uint64_t length);
    void (*close)(Source* source);
};

struct Source {
    const SourceKind* kind;
    uint64_t size;
    // All of the source's bytes in memory (a mapped file, a memory source, or
    // a region of either), else null: readers may then point into them
    // instead of copying.
    const uint8_t* mapped;
    void* state;            // the kind's own
    const Source* parent;   // a region's source, which must outlive it
    uint64_t base;          // a region's offset in its parent
};

enum SourceAccess {
    SOURCE_MAPPED_IF_POSSIBLE,
    SOURCE_POSITIONED_READS,  // never mapped: the reads themselves go to the file
};

// A file opened for reading. 0, or -1 when it cannot be opened (or is a
// folder).
int source_open_file(const char* path, Source* out, SourceAccess access = SOURCE_MAPPED_IF_POSSIBLE);

// Bytes the caller keeps alive for as long as the source is used.
void source_from_memory(const uint8_t* data, size_t size, Source* out);

// length bytes from offset of parent; -1 when they do not lie inside it.
int source_region(const Source* parent, uint64_t offset, uint64_t length, Source* out);

// Exactly length bytes at offset into out: 0, or -1 when any of them lies
// beyond the source or cannot be read.
int source_read(const Source& source, uint64_t offset, void* out, size_t length);

// length bytes at offset, pointing into the source where it is mapped, else
// read into scratch; null under source_read's conditions.
const uint8_t* source_bytes(const Source& source, uint64_t offset, size_t length, std::vector<uint8_t>* scratch);

// Lets the system drop the pages of a mapped source that hold [offset,
// offset + length) from memory: a reader walking a file of gigabytes calls
// it behind itself, so what stays resident is what it is working on, not all
// it has read. The bytes stay readable (a page comes back from the file when
// touched again); a source without a mapping, or of bytes in memory, ignores
// it. Pages are whole, so a neighbour sharing a page at either end is dropped
// too and comes back as well.
void source_release(const Source& source, uint64_t offset, uint64_t length);

// All of a source's bytes at hand: its mapping where it has one (the source
// must then stay open while they are used), else a copy.
struct SourceBytes {
    const uint8_t* data;
    size_t size;
    uint8_t* copy;  // owned where the bytes were read
    Source own;     // a file the holder opened for these bytes, closed when they are freed
};

enum SourceWholeResult {
    SOURCE_WHOLE_OK = 0,
    SOURCE_WHOLE_CANNOT_OPEN = -1,
    SOURCE_WHOLE_CANNOT_READ = -2,
    SOURCE_WHOLE_TOO_LARGE = -3,  // more than the ceiling the caller gave
    SOURCE_WHOLE_NO_MEMORY = -4,
};

SourceWholeResult source_whole(const Source& source, uint64_t ceiling, SourceBytes* out);
// "cannot open the file", "larger than the ceiling on cache files", ...
const char* source_whole_text(SourceWholeResult result);
void source_whole_free(SourceBytes* bytes);

// Lets go of the source (a region leaves its parent open). Safe on a source
// that was never opened or is closed already.
void source_close(Source* source);

// Per system: the file behind a source_open_file, mapped or with positioned
// reads. 0, or -1.
int sys_source_open_file(const char* path, SourceAccess access, Source* out);
// Per system: drops the pages around [offset, offset + length) of a
// read-only file mapping of map_length bytes at map from the process's
// memory, never a byte outside the mapping.
void sys_release_mapped(const void* map, size_t map_length, uint64_t offset, uint64_t length);

// A fault on a mapped file maps the pages around the one touched as well
// (Linux: 64 KiB by default; Windows reads clusters of pages): a release
// takes this much on either side too, or touching the next record would
// leave the end of the last one mapped.
constexpr uint64_t SOURCE_FAULT_AROUND_BYTES = uint64_t(64) << 10;
