#pragma once
// Finds Explorer cache records and compound files in raw bytes (the
// unallocated space of a volume), fed as runs of any length in any order.
// Pure: no file system, no reads of its own, so it can be tested and fuzzed
// on bytes alone. A record counts only where its header checksum matches
// (a "CMMM" and a size alone prove nothing); a compound file only by its
// header, to be checked by the reader it is given to.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture/bytes.h"

// The longest fixed record part checked (Vista and Windows 8 onwards); a
// header that straddles two fed runs needs this many bytes to be checked.
constexpr size_t CARVE_HEADER_BYTES = 56;

// A record larger than this is not believed (Explorer's largest bucket
// holds pictures of a few MiB).
constexpr uint32_t CARVE_MAX_RECORD_BYTES = uint32_t(64) << 20;

// At most this many finds per volume: each becomes a cache of its own for
// the run, so a volume filled with crafted records costs bounded memory
// (about 1 KiB a find).
constexpr size_t CARVE_MAX_HITS = size_t(1) << 18;

// Compound files begin on a sector of the volume.
constexpr uint64_t CARVE_COMPOUND_ALIGN = 512;

enum CarveKind {
    CARVE_RECORD,    // a CMMM record whose header checksum matches
    CARVE_COMPOUND,  // a compound file's header
};

struct CarveHit {
    CarveKind kind;
    uint64_t offset;   // in the scanned space
    uint32_t size;     // a record's entry size; 0 for a compound file
    // A record's layout as the cache-file version that writes it: 20 (Vista),
    // 21 (Windows 7) or 32 (Windows 8 onwards, one layout).
    uint32_t version;
    uint64_t hash;
};

struct CarveScanner {
    uint64_t space_size;  // a record must end inside the space
    // The last bytes of the previous run, whose headers the next run may
    // complete: carry[0] lies at carry_at.
    uint8_t carry[CARVE_HEADER_BYTES - 1];
    size_t carried;
    uint64_t carry_at;
    bool truncated;  // CARVE_MAX_HITS reached
};

void carve_scan_begin(CarveScanner* s, uint64_t space_size);

// Scans bytes that lie at offset in the space. Records may start in any run
// fed with starts set; a run fed without only completes the headers that
// the run before it began (the bytes just after a stretch of unallocated
// space, which are not scanned for starts themselves). A run that does not
// continue the previous one ends it.
void carve_scan_feed(CarveScanner* s, uint64_t offset, ByteView bytes, bool starts, std::vector<CarveHit>* hits);

// Checks what the last run left pending; call once after the last feed.
void carve_scan_end(CarveScanner* s, std::vector<CarveHit>* hits);

// The one check: whether a record or compound header starts at p (avail
// bytes readable there, at offset in the space); appends it. For tests and
// the fuzzer as much as for the scan.
void carve_check_at(const CarveScanner& s, const uint8_t* p, size_t avail, uint64_t offset, std::vector<CarveHit>* hits);
