#include "image/carve_scan.h"

#include <cstring>

#include "store/explorer/crc64.h"

namespace {

constexpr uint8_t RECORD_MAGIC[4] = {'C', 'M', 'M', 'M'};
constexpr uint8_t COMPOUND_MAGIC[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
// Compound header: byte order mark, then the sector shift (512 or 4096).
constexpr size_t COMPOUND_ORDER_AT = 0x1C;
constexpr size_t COMPOUND_SHIFT_AT = 0x1E;
constexpr size_t COMPOUND_CHECKED_BYTES = 0x20;

// The record layouts, by where their fields lie (see the cache reader).
struct Layout {
    uint32_t version;
    uint32_t fixed;
    uint32_t id_size_at, padding_at, data_size_at;
    uint32_t header_checksum_at;  // the checksum covers the bytes before it
};
constexpr Layout LAYOUTS[] = {
    {21, 48, 16, 20, 24, 40},
    {32, 56, 16, 20, 24, 48},
    {20, 56, 24, 28, 32, 48},
};

// Vista and Windows 8 onwards share the checked bytes: where both layouts
// fit, the one that leaves the fewest bytes unaccounted for is the record's
// (Windows 7 and Vista leave none, later versions a few).
bool record_at(const CarveScanner& s, const uint8_t* p, size_t avail, uint64_t offset, CarveHit* hit)
{
    const uint32_t size = read_le32(p + 4);
    const uint64_t hash = read_le64(p + 8);
    if (size > CARVE_MAX_RECORD_BYTES || offset > s.space_size || size > s.space_size - offset)
        return false;
    uint64_t best_slack = UINT64_MAX;
    for (const Layout& l : LAYOUTS) {
        if (avail < l.fixed || size < l.fixed)
            continue;
        const uint64_t parts = uint64_t(read_le32(p + l.id_size_at)) + read_le32(p + l.padding_at) +
                               read_le32(p + l.data_size_at);
        if (parts > size - l.fixed || size - l.fixed - parts >= best_slack)
            continue;
        if (crc64_ms(p, l.header_checksum_at, CRC64_MS_HEADER_INIT) != read_le64(p + l.header_checksum_at))
            continue;
        // The free-space record describes no item.
        if (hash == 0 && parts == 0)
            return false;
        best_slack = size - l.fixed - parts;
        *hit = CarveHit{CARVE_RECORD, offset, size, l.version, hash};
    }
    return best_slack != UINT64_MAX;
}

void check(CarveScanner* s, const uint8_t* p, size_t avail, uint64_t offset, std::vector<CarveHit>* hits)
{
    if (hits->size() >= CARVE_MAX_HITS) {
        s->truncated = true;
        return;
    }
    carve_check_at(*s, p, avail, offset, hits);
}

// Checks the starts [0, starts) of bytes lying at offset; each may read to
// the end of the bytes.
void scan(CarveScanner* s, const uint8_t* data, size_t length, size_t starts, uint64_t offset,
          std::vector<CarveHit>* hits)
{
    for (size_t at = 0; at < starts;) {
        const void* c = std::memchr(data + at, RECORD_MAGIC[0], starts - at);
        const size_t next = c ? size_t(static_cast<const uint8_t*>(c) - data) : starts;
        // Compound headers on the sectors passed over.
        uint64_t sector = (offset + at + CARVE_COMPOUND_ALIGN - 1) / CARVE_COMPOUND_ALIGN * CARVE_COMPOUND_ALIGN;
        for (; sector < offset + next; sector += CARVE_COMPOUND_ALIGN)
            if (data[sector - offset] == COMPOUND_MAGIC[0])
                check(s, data + (sector - offset), length - size_t(sector - offset), sector, hits);
        if (!c)
            break;
        check(s, data + next, length - next, offset + next, hits);
        at = next + 1;
    }
}

// Checks what is carried with no more bytes to come.
void flush(CarveScanner* s, std::vector<CarveHit>* hits)
{
    scan(s, s->carry, s->carried, s->carried, s->carry_at, hits);
    s->carried = 0;
}

} // namespace

void carve_check_at(const CarveScanner& s, const uint8_t* p, size_t avail, uint64_t offset, std::vector<CarveHit>* hits)
{
    CarveHit hit;
    if (avail >= 4 && std::memcmp(p, RECORD_MAGIC, 4) == 0) {
        if (avail >= LAYOUTS[0].fixed && record_at(s, p, avail, offset, &hit))
            hits->push_back(hit);
        return;
    }
    if (offset % CARVE_COMPOUND_ALIGN == 0 && avail >= COMPOUND_CHECKED_BYTES &&
        std::memcmp(p, COMPOUND_MAGIC, 8) == 0 && read_le16(p + COMPOUND_ORDER_AT) == 0xFFFE) {
        const uint16_t shift = read_le16(p + COMPOUND_SHIFT_AT);
        if (shift == 9 || shift == 12)
            hits->push_back(CarveHit{CARVE_COMPOUND, offset, 0, 0, 0});
    }
}

void carve_scan_begin(CarveScanner* s, uint64_t space_size)
{
    *s = CarveScanner{};
    s->space_size = space_size;
}

void carve_scan_feed(CarveScanner* s, uint64_t offset, ByteView bytes, bool starts, std::vector<CarveHit>* hits)
{
    constexpr size_t KEEP = CARVE_HEADER_BYTES - 1;
    if (s->carried && offset != s->carry_at + s->carried)
        flush(s, hits);
    if (s->carried) {
        // The carried starts, completed by the run's first bytes.
        uint8_t joint[2 * CARVE_HEADER_BYTES];
        const size_t take = bytes.length < CARVE_HEADER_BYTES ? bytes.length : CARVE_HEADER_BYTES;
        std::memcpy(joint, s->carry, s->carried);
        std::memcpy(joint + s->carried, bytes.data, take);
        const size_t joint_length = s->carried + take;
        if (!starts || take == CARVE_HEADER_BYTES) {
            scan(s, joint, joint_length, s->carried, s->carry_at, hits);
            s->carried = 0;
        } else {
            // A run shorter than a header: the carried bytes and it wait
            // together for the next.
            const size_t complete = joint_length > KEEP ? joint_length - KEEP : 0;
            scan(s, joint, joint_length, complete, s->carry_at, hits);
            std::memmove(s->carry, joint + complete, joint_length - complete);
            s->carry_at += complete;
            s->carried = joint_length - complete;
            return;
        }
    }
    if (!starts)
        return;
    const size_t complete = bytes.length > KEEP ? bytes.length - KEEP : 0;
    scan(s, bytes.data, bytes.length, complete, offset, hits);
    s->carried = bytes.length - complete;
    s->carry_at = offset + complete;
    std::memcpy(s->carry, bytes.data + complete, s->carried);
}

void carve_scan_end(CarveScanner* s, std::vector<CarveHit>* hits) { flush(s, hits); }
