// Compound file reader (MS-CFB): header, FAT through the DIFAT, mini FAT,
// directory and mini stream; every stream is copied into one pool.
//
// The file is untrusted. Every sector reached is checked against the file
// image, every FAT index against its array, every chain walk is bounded by
// the number of entries it can visit (so a cycle ends), and every write is
// bounded by its array. A sector that lies wholly beyond the end of the file
// ends its chain, as if the chain stopped there; one cut short by the end of
// the file is read as far as it goes. So a truncated cache yields what it
// still holds instead of nothing.
#include "store/thumbsdb/compound_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/failure.h"
#include "platform/system.h"
#include "picture/bytes.h"

StreamTable stream_table = {nullptr, nullptr, nullptr, nullptr, 0, -1, 0, 0};

namespace {

constexpr uint8_t STORE_CFB_SIGNATURE[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr int32_t STORE_FREE_SECTOR = -1;

// Header (MS-CFB 2.2), 512 bytes; sector 0 follows it (or the first whole
// sector, when sectors are larger).
constexpr int64_t CFB_HEADER_BYTES = 512;
constexpr size_t SECTOR_SHIFT_AT = 30;
constexpr size_t MINI_SECTOR_SHIFT_AT = 32;
constexpr size_t FAT_SECTOR_COUNT_AT = 44;
constexpr size_t FIRST_DIRECTORY_SECTOR_AT = 48;
constexpr size_t MINI_STREAM_CUTOFF_AT = 56;
constexpr size_t FIRST_MINI_FAT_SECTOR_AT = 60;
constexpr size_t MINI_FAT_SECTOR_COUNT_AT = 64;
constexpr size_t FIRST_DIFAT_SECTOR_AT = 68;
// The header's own DIFAT: the first 109 FAT sector numbers, to the header's end.
constexpr int64_t HEADER_DIFAT_AT = 76;
// Sectors of 128 bytes to 64 KiB.
constexpr int MIN_SECTOR_SHIFT = 7;
constexpr int MAX_SECTOR_SHIFT = 16;

// Directory entry (MS-CFB 2.6), 128 bytes.
constexpr int64_t DIRECTORY_ENTRY_BYTES = 128;
constexpr size_t ENTRY_NAME_AT = 0;  // UTF-16LE, NUL-terminated, 64 bytes
constexpr size_t ENTRY_TYPE_AT = 66;  // 0: unused entry
constexpr size_t ENTRY_CREATED_AT = 100;
constexpr size_t ENTRY_MODIFIED_AT = 108;
constexpr size_t ENTRY_START_SECTOR_AT = 116;
constexpr size_t ENTRY_SIZE_AT = 120;  // low 32 bits of the stream size

// Room in the root chain beyond the sectors the root entry's size fills: the
// size rounds down, and a chain longer than the size says is still followed.
constexpr int64_t ROOT_CHAIN_SLACK = 64;

struct Reader {
    const uint8_t* image;
    int64_t size;
    int shift;
    int mini_shift;
    int64_t sector_size;
    int64_t mini_size;
    int64_t header_bytes;
    int64_t sectors_in_file;  // sectors that begin inside the file
    int32_t cutoff;
    int32_t* fat;
    int64_t fat_entries;
    int32_t* minifat;
    int64_t minifat_entries;
    int32_t* root_chain;
    int64_t root_capacity;
    int64_t root_length;
    int64_t pool_capacity;
    int64_t pool_used;
};

// Bytes of sector n that lie inside the file (0 for a sector beyond it or a
// special value); *at receives its file offset.
int64_t sector_bytes(const Reader& r, int64_t n, int64_t* at)
{
    if (n < 0 || n >= r.sectors_in_file)
        return 0;
    int64_t offset = r.header_bytes + (n << r.shift);
    *at = offset;
    int64_t left = r.size - offset;
    return left < r.sector_size ? left : r.sector_size;
}

// The FAT entry after sector n, or a negative value to end the chain.
int32_t fat_next(const Reader& r, int64_t n)
{
    return n >= 0 && n < r.fat_entries ? r.fat[n] : STORE_FREE_SECTOR;
}

int32_t minifat_next(const Reader& r, int64_t m)
{
    return m >= 0 && m < r.minifat_entries ? r.minifat[m] : STORE_FREE_SECTOR;
}

bool name_equals(const uint8_t* field, const char* ascii)
{
    // The name and its terminating NUL, UTF-16LE, ASCII letters in any case.
    size_t n = std::strlen(ascii) + 1;
    for (size_t i = 0; i < n; ++i) {
        uint8_t lo = field[2 * i], hi = field[2 * i + 1];
        uint8_t want = uint8_t(ascii[i]);
        if (hi != 0)
            return false;
        uint8_t a = lo >= 'A' && lo <= 'Z' ? lo + 32 : lo;
        uint8_t b = want >= 'A' && want <= 'Z' ? want + 32 : want;
        if (a != b)
            return false;
    }
    return true;
}

void release_table()
{
    std::free(stream_table.pool);
    std::free(stream_table.offset);
    std::free(stream_table.slot_name);
    std::free(stream_table.slot_times);
    const uint32_t loads = stream_table.load_count;
    stream_table = StreamTable{nullptr, nullptr, nullptr, nullptr, 0, -1, 0, loads + 1};
}

// A table of sectors x (sector size / 4) entries, all free; null when it
// cannot be had.
int32_t* new_fat_table(const Reader& r, int64_t sectors, int64_t* entries)
{
    *entries = sectors * (r.sector_size / 4);
    int32_t* table = static_cast<int32_t*>(std::malloc(size_t(*entries > 0 ? *entries : 1) * 4));
    if (!table)
        *entries = 0;
    for (int64_t i = 0; i < *entries; ++i)
        table[i] = STORE_FREE_SECTOR;
    return table;
}

void build_fat(Reader& r)
{
    const uint8_t* p = r.image;
    int64_t fat_sectors = read_le32(p + FAT_SECTOR_COUNT_AT);
    // A FAT sector lies inside the file, so more of them than the file has
    // sectors cannot exist; the cap keeps a hostile count from sizing memory.
    if (fat_sectors > r.sectors_in_file)
        fat_sectors = r.sectors_in_file;
    int64_t per_sector = r.sector_size / 4;
    r.fat = new_fat_table(r, fat_sectors, &r.fat_entries);
    if (!r.fat)
        return;

    int64_t cursor = HEADER_DIFAT_AT;
    int64_t left = CFB_HEADER_BYTES - HEADER_DIFAT_AT;
    bool difat_ended = false;
    for (int64_t i = 0; i < fat_sectors; ++i) {
        int64_t m = difat_ended ? -1 : int32_t(read_le32(p + cursor));
        int64_t at = 0;
        int64_t bytes = sector_bytes(r, m, &at);
        for (int64_t k = 0; k + 4 <= bytes; k += 4)
            r.fat[i * per_sector + k / 4] = int32_t(read_le32(p + at + k));
        cursor += 4;
        left -= 4;
        if (left == 0 && !difat_ended) {
            // The header's DIFAT names the first DIFAT sector in its own field;
            // each DIFAT sector names the next in its last word.
            int64_t next = cursor == CFB_HEADER_BYTES ? int32_t(read_le32(p + FIRST_DIFAT_SECTOR_AT))
                                                      : int32_t(read_le32(p + cursor));
            int64_t next_at = 0;
            // A DIFAT sector must be whole; one missing or cut short ends the
            // DIFAT and the remaining FAT sectors stay free.
            if (sector_bytes(r, next, &next_at) == r.sector_size) {
                cursor = next_at;
                left = r.sector_size - 4;
            } else {
                difat_ended = true;
            }
        }
    }
}

void build_minifat(Reader& r)
{
    const uint8_t* p = r.image;
    int64_t count = read_le32(p + MINI_FAT_SECTOR_COUNT_AT);
    if (count > r.sectors_in_file)
        count = r.sectors_in_file;
    int64_t per_sector = r.sector_size / 4;
    r.minifat = new_fat_table(r, count, &r.minifat_entries);
    if (!r.minifat)
        return;
    int64_t sector = int32_t(read_le32(p + FIRST_MINI_FAT_SECTOR_AT));
    for (int64_t k = 0; k < count && sector >= 0; ++k) {
        int64_t at = 0;
        int64_t bytes = sector_bytes(r, sector, &at);
        if (bytes == 0)
            break;
        for (int64_t b = 0; b + 4 <= bytes; b += 4)
            r.minifat[k * per_sector + b / 4] = int32_t(read_le32(p + at + b));
        sector = fat_next(r, sector);
    }
}

// Copies up to `want` bytes of a FAT chain into the pool.
void copy_fat_chain(Reader& r, int64_t sector, int64_t want)
{
    uint8_t* pool = stream_table.pool;
    for (int64_t steps = 0; want > 0 && steps <= r.fat_entries; ++steps) {
        int64_t at = 0;
        int64_t bytes = sector_bytes(r, sector, &at);
        if (bytes == 0)
            return;
        int64_t n = bytes < want ? bytes : want;
        int64_t room = r.pool_capacity - r.pool_used;
        if (n > room)
            n = room;
        std::memcpy(pool + r.pool_used, r.image + at, size_t(n));
        r.pool_used += n;
        want -= n;
        if (bytes < r.sector_size || r.pool_used == r.pool_capacity)
            return;
        sector = fat_next(r, sector);
    }
}

// The same through the mini FAT, locating mini sectors through the root chain.
void copy_mini_chain(Reader& r, int64_t mini, int64_t want)
{
    uint8_t* pool = stream_table.pool;
    int per_sector_shift = r.shift - r.mini_shift;
    int64_t mask = (int64_t(1) << per_sector_shift) - 1;
    for (int64_t steps = 0; want > 0 && mini >= 0 && steps <= r.minifat_entries; ++steps) {
        int64_t j = mini >> per_sector_shift;
        if (j >= r.root_length)
            return;
        int64_t at = 0;
        int64_t bytes = sector_bytes(r, r.root_chain[j], &at);
        int64_t within = (mini & mask) << r.mini_shift;
        bytes -= within;
        if (bytes <= 0)
            return;
        if (bytes > r.mini_size)
            bytes = r.mini_size;
        int64_t n = bytes < want ? bytes : want;
        int64_t room = r.pool_capacity - r.pool_used;
        if (n > room)
            n = room;
        std::memcpy(pool + r.pool_used, r.image + at + within, size_t(n));
        r.pool_used += n;
        want -= n;
        if (bytes < r.mini_size || r.pool_used == r.pool_capacity)
            return;
        mini = minifat_next(r, mini);
    }
}

void read_root_chain(Reader& r, int64_t sector, int32_t size)
{
    if (!r.root_chain) {
        int64_t capacity = (size > 0 ? int64_t(size) >> r.shift : 0) + ROOT_CHAIN_SLACK;
        // The mini stream lives in the file's own sectors.
        if (capacity > r.sectors_in_file + ROOT_CHAIN_SLACK)
            capacity = r.sectors_in_file + ROOT_CHAIN_SLACK;
        r.root_capacity = capacity;
        r.root_chain = static_cast<int32_t*>(std::malloc(size_t(capacity) * 4));
        if (!r.root_chain)
            r.root_capacity = 0;
    }
    r.root_length = 0;
    for (int64_t steps = 0; sector >= 0 && r.root_length < r.root_capacity && steps <= r.fat_entries; ++steps) {
        r.root_chain[r.root_length++] = int32_t(sector);
        sector = fat_next(r, sector);
    }
}

int walk_directory(Reader& r)
{
    const uint8_t* p = r.image;
    int64_t first = int32_t(read_le32(p + FIRST_DIRECTORY_SECTOR_AT));
    int64_t dir_sectors = 0;
    for (int64_t s = first; s >= 0 && dir_sectors <= r.fat_entries; s = fat_next(r, s)) {
        int64_t at = 0;
        if (sector_bytes(r, s, &at) == 0)
            break;
        ++dir_sectors;
    }
    int64_t per_sector = r.sector_size / DIRECTORY_ENTRY_BYTES;
    int64_t capacity = dir_sectors * per_sector + 1;  // + 1: room for the closing offset without a root
    stream_table.offset = static_cast<int32_t*>(std::malloc(size_t(capacity) * 4));
    stream_table.slot_name = static_cast<char(*)[STORE_SLOT_NAME_BYTES]>(std::calloc(size_t(capacity), STORE_SLOT_NAME_BYTES));
    stream_table.slot_times = static_cast<uint64_t(*)[2]>(std::calloc(size_t(capacity), sizeof(uint64_t[2])));
    if (!stream_table.offset || !stream_table.slot_name || !stream_table.slot_times)
        return -1;
    stream_table.offset[0] = 0;
    stream_table.count = 0;

    int64_t s = first;
    for (int64_t d = 0; d < dir_sectors; ++d, s = fat_next(r, s)) {
        int64_t at = 0;
        int64_t bytes = sector_bytes(r, s, &at);
        for (int64_t e = 0; e + DIRECTORY_ENTRY_BYTES <= bytes; e += DIRECTORY_ENTRY_BYTES) {
            const uint8_t* entry = p + at + e;
            if (entry[ENTRY_TYPE_AT] == 0)
                continue;
            int64_t start = int32_t(read_le32(entry + ENTRY_START_SECTOR_AT));
            int32_t size = int32_t(read_le32(entry + ENTRY_SIZE_AT));
            if (name_equals(entry + ENTRY_NAME_AT, "Root Entry")) {
                read_root_chain(r, start, size);
                continue;
            }
            int32_t slot = stream_table.count;
            if (slot + 1 >= capacity)
                return -1;  // cannot happen: one slot per entry, plus one
            if (name_equals(entry + ENTRY_NAME_AT, "Catalog"))
                stream_table.catalog_slot = slot;
            stream_table.slot_times[slot][0] = read_le64(entry + ENTRY_CREATED_AT);
            stream_table.slot_times[slot][1] = read_le64(entry + ENTRY_MODIFIED_AT);
            char* name = stream_table.slot_name[slot];
            for (int i = 0; i < STORE_SLOT_NAME_BYTES - 1; ++i) {
                uint16_t c = read_le16(entry + ENTRY_NAME_AT + 2 * i);
                if (c == 0)
                    break;
                name[i] = char(c & 0xFF);
            }
            if (size > 0) {
                if (size < r.cutoff)
                    copy_mini_chain(r, start, size);
                else
                    copy_fat_chain(r, start, size);
            }
            stream_table.offset[slot + 1] = int32_t(r.pool_used);
            stream_table.count = slot + 1;
        }
    }
    return 0;
}

} // namespace

namespace {

// Parses a file image (the caller's, only read) into the table.
int load_image(const uint8_t* image, int64_t size)
{
    if (size < CFB_HEADER_BYTES || std::memcmp(image, STORE_CFB_SIGNATURE, 8) != 0)
        return fail(STORE_NOT_COMPOUND);
    Reader r{};
    r.image = image;
    r.size = size;
    r.shift = int16_t(read_le16(image + SECTOR_SHIFT_AT));
    r.mini_shift = int16_t(read_le16(image + MINI_SECTOR_SHIFT_AT));
    // Mini sectors no larger than sectors.
    if (r.shift < MIN_SECTOR_SHIFT || r.shift > MAX_SECTOR_SHIFT || r.mini_shift < 1 || r.mini_shift > r.shift)
        return fail(STORE_NOT_COMPOUND);
    r.sector_size = int64_t(1) << r.shift;
    r.mini_size = int64_t(1) << r.mini_shift;
    // The header takes 512 bytes, padded to a whole sector when sectors are
    // larger (4096-byte sectors of version 4 files); for 512-byte sectors
    // sector N starts at 512 + N * 512.
    r.header_bytes = r.sector_size > CFB_HEADER_BYTES ? r.sector_size : CFB_HEADER_BYTES;
    r.sectors_in_file = size > r.header_bytes ? (size - r.header_bytes + r.sector_size - 1) >> r.shift : 0;
    r.cutoff = int32_t(read_le32(image + MINI_STREAM_CUTOFF_AT));
    r.pool_capacity = size;

    stream_table.file_bytes = size;
    stream_table.pool = static_cast<uint8_t*>(std::malloc(size_t(size)));
    int ok = -1;
    if (stream_table.pool) {
        build_fat(r);
        build_minifat(r);
        if (r.fat && r.minifat)
            ok = walk_directory(r);
    }

    std::free(r.root_chain);
    std::free(r.minifat);
    std::free(r.fat);
    if (ok != 0) {
        const bool held = stream_table.pool != nullptr;
        release_table();
        return fail(held ? STORE_NOT_COMPOUND : "out of memory");
    }
    return stream_table.catalog_slot >= 0 ? 0 : fail("no catalog");
}

} // namespace

int store_load_source(const Source& source)
{
    release_table();
    failure_clear();
    // At least the header; at most what we agree to hold in memory.
    if (source.size > uint64_t(STORE_MAX_FILE_BYTES))
        return fail(STORE_TOO_LARGE);
    if (source.size < uint64_t(CFB_HEADER_BYTES))
        return fail(STORE_NOT_COMPOUND);
    // A mapped file is read where it lies; other sources once into memory.
    SourceBytes held;
    if (source_whole(source, uint64_t(STORE_MAX_FILE_BYTES), &held) != SOURCE_WHOLE_OK)
        return fail(STORE_CANNOT_OPEN);
    const int result = load_image(held.data, int64_t(held.size));
    source_whole_free(&held);
    return result;
}

int store_load(const char* path)
{
    release_table();
    failure_clear();
    Source file;
    if (source_open_file(path, &file) != 0) {
        fail(STORE_CANNOT_OPEN);
        return failure_concerns(path);
    }
    const int result = store_load_source(file);
    source_close(&file);
    if (result != 0)
        failure_concerns(path);
    return result;
}

int store_load_memory(const uint8_t* data, size_t size)
{
    Source memory;
    source_from_memory(data, size, &memory);
    return store_load_source(memory);
}

void store_release()
{
    release_table();
}

int32_t store_slot_length(int32_t slot)
{
    if (slot < 0 || slot >= stream_table.count)
        return 0;
    return stream_table.offset[slot + 1] - stream_table.offset[slot];
}
