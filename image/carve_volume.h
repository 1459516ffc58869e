#pragma once
// Carving a volume's unallocated space through sleuthkit: the unallocated
// blocks are walked by address only and read in long contiguous runs for the
// scanner, so that the space is read once, a run at a time, never whole.
#include <mutex>
#include <string>
#include <vector>

#include <tsk/libtsk.h>

#include "image/carve_scan.h"
#include "image/disk_image.h"
#include "platform/source.h"

// Bytes read per call while a run is carved.
constexpr size_t CARVE_READ_BYTES = size_t(4) << 20;

// A carved compound file is read up to this length (the reader holds it
// whole to check it), and at most CARVE_COMPOUND_BUDGET bytes of them per
// volume: headers crafted on every sector cost bounded time.
constexpr uint64_t CARVE_MAX_COMPOUND_BYTES = uint64_t(64) << 20;
constexpr uint64_t CARVE_COMPOUND_BUDGET = uint64_t(4) << 30;

// Every record and compound header in the unallocated blocks of fs, with
// offsets in the volume (the file system's bytes). 0, or -1 with *problem
// set where the walk stopped early or the finds were cut at CARVE_MAX_HITS
// (the finds up to there are kept).
int carve_volume(TSK_FS_INFO* fs, std::vector<CarveHit>* hits, std::string* problem);

// A carved record as a cache file of its own: a file header of the record's
// layout (cache type unknown) followed by the record's bytes as the volume
// holds them now. 0, or -1 where they cannot be read.
int carve_record_source(TSK_FS_INFO* fs, const CarveHit& hit, Source* out);

// length bytes of the volume from offset, read through fs under lock (held
// by the caller's other users of fs); fs and lock outlive the source.
int carve_region_source(TSK_FS_INFO* fs, std::mutex* lock, uint64_t offset, uint64_t length, Source* out);

// The length a compound file claims from its header at offset: every sector
// its allocation table can address, cut at the volume's end. 0 where the
// header cannot be read.
uint64_t carve_compound_length(TSK_FS_INFO* fs, uint64_t offset);

// The finds of carve_volume as cache files like the one given (its image,
// volume and partition filled in), state "carved": records, and compound
// files that read as a Thumbs.db with a Catalog; a compound file that fails
// the reader's checks is recorded in *problems as a partial find, and the
// walk's own problem too. lock guards fs (taken here).
void carve_volume_finds(TSK_FS_INFO* fs, std::mutex* lock, const ImageCacheFile& like,
                        std::vector<ImageCacheFile>* out, std::vector<std::string>* problems);

// A find's bytes: a record as a cache file of its own, a compound file as
// the stretch of the volume its header claims. 0, or -1.
int carve_open_find(TSK_FS_INFO* fs, std::mutex* lock, const ImageCacheFile& file, Source* out);
