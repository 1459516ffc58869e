#include "image/carve_volume.h"

#include <cstring>

#include "picture/bytes.h"
#include "platform/failure.h"
#include "store/thumbsdb/compound_file.h"

namespace {

struct Carve {
    TSK_FS_INFO* fs;
    CarveScanner scanner;
    std::vector<CarveHit>* hits;
    std::vector<uint8_t> buffer;
    TSK_DADDR_T run_start = 0, run_blocks = 0;  // the run not yet read
    bool read_failed = false;
};

void put_le32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

uint64_t fs_bytes(const TSK_FS_INFO* fs) { return uint64_t(fs->block_count) * fs->block_size; }

// Reads [offset, offset + length) of the volume into the scanner.
void read_into(Carve* c, uint64_t offset, size_t length, bool starts)
{
    const ssize_t got = tsk_fs_read(c->fs, TSK_OFF_T(offset), reinterpret_cast<char*>(c->buffer.data()), length);
    if (got <= 0) {
        tsk_error_reset();
        c->read_failed = true;
        // What was carried cannot be continued across the gap.
        carve_scan_feed(&c->scanner, offset, ByteView{c->buffer.data(), 0}, false, c->hits);
        return;
    }
    carve_scan_feed(&c->scanner, offset, ByteView{c->buffer.data(), size_t(got)}, starts, c->hits);
}

// Reads the run gathered so far, then the few bytes after it that a header
// starting at its end would need (they are not unallocated: no record
// starts there).
void flush_run(Carve* c, bool run_ends)
{
    const uint64_t block = c->fs->block_size;
    uint64_t at = uint64_t(c->run_start) * block;
    const uint64_t end = at + uint64_t(c->run_blocks) * block;
    for (; at < end; at += CARVE_READ_BYTES)
        read_into(c, at, size_t(end - at < CARVE_READ_BYTES ? end - at : CARVE_READ_BYTES), true);
    if (run_ends && end < fs_bytes(c->fs)) {
        const uint64_t rest = fs_bytes(c->fs) - end;
        read_into(c, end, size_t(rest < CARVE_HEADER_BYTES ? rest : CARVE_HEADER_BYTES), false);
    }
    c->run_start += c->run_blocks;
    c->run_blocks = 0;
}

TSK_WALK_RET_ENUM on_block(const TSK_FS_BLOCK* block, void* context)
{
    Carve* c = static_cast<Carve*>(context);
    const uint64_t per_read = CARVE_READ_BYTES / c->fs->block_size;
    if (c->run_blocks && block->addr == c->run_start + c->run_blocks) {
        ++c->run_blocks;
        if (c->run_blocks >= per_read)
            flush_run(c, false);  // the run goes on
    } else {
        if (c->run_blocks)
            flush_run(c, true);
        c->run_start = block->addr;
        c->run_blocks = 1;
    }
    return c->scanner.truncated ? TSK_WALK_STOP : TSK_WALK_CONT;
}

struct OwnedBytes {
    std::vector<uint8_t> bytes;
};

int64_t owned_read(const Source* s, uint64_t offset, void* out, size_t length)
{
    std::memcpy(out, static_cast<OwnedBytes*>(s->state)->bytes.data() + offset, length);
    return int64_t(length);
}

void owned_keep(const Source*, uint64_t, uint64_t) {}

void owned_close(Source* s) { delete static_cast<OwnedBytes*>(s->state); }

constexpr SourceKind OWNED_SOURCE = {owned_read, owned_keep, owned_close};

struct Region {
    TSK_FS_INFO* fs;
    std::mutex* lock;
    uint64_t offset;
};

int64_t region_read(const Source* s, uint64_t offset, void* out, size_t length)
{
    const Region* r = static_cast<const Region*>(s->state);
    std::lock_guard<std::mutex> hold(*r->lock);
    const ssize_t got = tsk_fs_read(r->fs, TSK_OFF_T(r->offset + offset), static_cast<char*>(out), length);
    if (got < 0)
        tsk_error_reset();
    return got <= 0 ? -1 : int64_t(got);
}

void region_close(Source* s) { delete static_cast<Region*>(s->state); }

constexpr SourceKind FS_REGION_SOURCE = {region_read, owned_keep, region_close};

} // namespace

int carve_volume(TSK_FS_INFO* fs, std::vector<CarveHit>* hits, std::string* problem)
{
    if (fs->block_size == 0 || fs->block_size > CARVE_READ_BYTES) {
        *problem = "blocks of an unusable size";
        return -1;
    }
    Carve c{fs, {}, hits, std::vector<uint8_t>(CARVE_READ_BYTES)};
    carve_scan_begin(&c.scanner, fs_bytes(fs));
    const uint8_t walked = tsk_fs_block_walk(fs, fs->first_block, fs->last_block,
                                             TSK_FS_BLOCK_WALK_FLAG_ENUM(TSK_FS_BLOCK_WALK_FLAG_UNALLOC |
                                                                         TSK_FS_BLOCK_WALK_FLAG_AONLY),
                                             on_block, &c);
    std::string reason;
    if (walked != 0) {
        const char* e = tsk_error_get();
        reason = e ? e : "unknown error";
        tsk_error_reset();
    }
    if (c.run_blocks)
        flush_run(&c, true);
    carve_scan_end(&c.scanner, hits);
    if (walked != 0)
        *problem = "the walk of its unallocated blocks stopped early (" + reason + ")";
    else if (c.scanner.truncated)
        *problem = "carving stopped after " + std::to_string(CARVE_MAX_HITS) + " finds";
    else if (c.read_failed)
        *problem = "some unallocated blocks could not be read";
    return problem->empty() ? 0 : -1;
}

int carve_record_source(TSK_FS_INFO* fs, const CarveHit& hit, Source* out)
{
    *out = Source{};
    constexpr size_t FILE_HEADER = 24;
    OwnedBytes* owned = new OwnedBytes;
    std::vector<uint8_t>& b = owned->bytes;
    b.assign(FILE_HEADER + hit.size, 0);
    const ssize_t got = tsk_fs_read(fs, TSK_OFF_T(hit.offset), reinterpret_cast<char*>(b.data() + FILE_HEADER), hit.size);
    if (got != ssize_t(hit.size)) {
        tsk_error_reset();
        delete owned;
        return -1;
    }
    // The record alone on its chain: first entry at 24, free space after it;
    // a cache type beyond every table, as the bucket is not known.
    std::memcpy(b.data(), "CMMM", 4);
    put_le32(b.data() + 4, hit.version);
    put_le32(b.data() + 8, 0xFFFFFFFFu);
    const bool old = hit.version <= 21;
    put_le32(b.data() + (old ? 12 : 16), FILE_HEADER);
    put_le32(b.data() + (old ? 16 : 20), uint32_t(FILE_HEADER + hit.size));
    if (old)
        put_le32(b.data() + 20, 1);
    // Not offered as mapped: the readers copy it, as the rows they make
    // outlive the source.
    *out = Source{&OWNED_SOURCE, b.size(), nullptr, owned, nullptr, 0};
    return 0;
}

int carve_region_source(TSK_FS_INFO* fs, std::mutex* lock, uint64_t offset, uint64_t length, Source* out)
{
    *out = Source{};
    if (offset > fs_bytes(fs) || length > fs_bytes(fs) - offset)
        return -1;
    *out = Source{&FS_REGION_SOURCE, length, nullptr, new Region{fs, lock, offset}, nullptr, 0};
    return 0;
}

uint64_t carve_compound_length(TSK_FS_INFO* fs, uint64_t offset)
{
    uint8_t head[512];
    if (tsk_fs_read(fs, TSK_OFF_T(offset), reinterpret_cast<char*>(head), sizeof head) != ssize_t(sizeof head)) {
        tsk_error_reset();
        return 0;
    }
    const uint16_t shift = read_le16(head + 0x1E);
    if (shift != 9 && shift != 12)
        return 0;
    const uint64_t sector = uint64_t(1) << shift;
    const uint64_t fat_sectors = read_le32(head + 0x2C);
    // The header's sector, then every sector the allocation table numbers.
    uint64_t length = sector * (1 + fat_sectors * (sector / 4));
    if (length > CARVE_MAX_COMPOUND_BYTES)
        length = CARVE_MAX_COMPOUND_BYTES;
    const uint64_t rest = fs_bytes(fs) - offset;
    return length < rest ? length : rest;
}

namespace {

// 1 where a carved compound file reads as a Thumbs.db with a Catalog, 0 a
// compound file of another kind, -1 one that fails the reader's checks
// (*reason says why).
int compound_is_cache(const Source& s, std::string* reason)
{
    failure_clear();
    const int loaded = store_load_source(s);
    const bool compound = stream_table.count > 0;
    *reason = failure_last().reason;
    store_release();
    return loaded == 0 ? 1 : compound ? 0 : -1;
}

} // namespace

void carve_volume_finds(TSK_FS_INFO* fs, std::mutex* lock, const ImageCacheFile& like,
                        std::vector<ImageCacheFile>* out, std::vector<std::string>* problems)
{
    const std::string where = like.origin.image + ": partition at " + std::to_string(like.origin.partition_offset);
    std::vector<CarveHit> hits;
    std::string problem;
    {
        std::lock_guard<std::mutex> hold(*lock);
        if (carve_volume(fs, &hits, &problem) != 0)
            problems->push_back(where + ": " + problem);
    }
    uint64_t budget = CARVE_COMPOUND_BUDGET;
    size_t unchecked = 0;
    for (const CarveHit& hit : hits) {
        ImageCacheFile c = like;
        c.kind = hit.kind == CARVE_RECORD ? IMAGE_CACHE_EXPLORER : IMAGE_CACHE_THUMBS_DB;
        c.size = hit.size;
        c.meta = 0;
        c.index = -1;
        c.carved_version = hit.version;
        c.origin.fs_path = "-";
        c.origin.inode = "-";
        c.origin.state = "carved";
        c.origin.carved_at = int64_t(hit.offset);
        if (hit.kind == CARVE_COMPOUND) {
            {
                std::lock_guard<std::mutex> hold(*lock);
                c.size = carve_compound_length(fs, hit.offset);
            }
            if (c.size > budget) {
                ++unchecked;
                continue;
            }
            budget -= c.size;
            Source s;
            std::string reason = "its header cannot be read";
            int is_cache = -1;
            if (c.size && carve_region_source(fs, lock, hit.offset, c.size, &s) == 0) {
                is_cache = compound_is_cache(s, &reason);
                source_close(&s);
            }
            if (is_cache < 0)
                problems->push_back(where + ": compound file at volume offset " + std::to_string(hit.offset) +
                                    " (image offset " + std::to_string(like.origin.partition_offset + hit.offset) +
                                    "): a partial find, not a cache (" + reason + ")");
            if (is_cache != 1)
                continue;
        }
        out->push_back(std::move(c));
    }
    if (unchecked)
        problems->push_back(where + ": " + std::to_string(unchecked) + " compound file headers not checked (" +
                            std::to_string(CARVE_COMPOUND_BUDGET >> 30) + " GiB of them read already)");
}

int carve_open_find(TSK_FS_INFO* fs, std::mutex* lock, const ImageCacheFile& file, Source* out)
{
    if (file.kind == IMAGE_CACHE_THUMBS_DB)
        return carve_region_source(fs, lock, uint64_t(file.origin.carved_at), file.size, out);
    std::lock_guard<std::mutex> hold(*lock);
    const CarveHit hit{CARVE_RECORD, uint64_t(file.origin.carved_at), uint32_t(file.size), file.carved_version, 0};
    return carve_record_source(fs, hit, out);
}
