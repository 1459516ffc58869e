// The index of Explorer's caches (IMMM): fixtures of every version, damaged
// tables, and linking an index to the cache files beside it.
#include <string>
#include <vector>

#include "store/explorer/thumbcache.h"
#include "store/explorer/thumbcache_index.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbcache_writer.h"

namespace {

using fixture::Bytes;

struct ReadIndex {
    ThumbcacheIndex x{};
    int result;
    explicit ReadIndex(const Bytes& b) : result(thumbcache_index_read(ByteView{b.data(), b.size()}, &x)) {}
    ~ReadIndex() { thumbcache_index_free(&x); }
};

struct ReadCache {
    ThumbcacheFile f{};
    explicit ReadCache(const Bytes& b) { EXPECT_EQ(thumbcache_read(ByteView{b.data(), b.size()}, &f), 0); }
    ~ReadCache() { thumbcache_free(&f); }
};

struct VersionRow {
    uint32_t version;
    uint32_t signature_offset, header_bytes, types;
    uint64_t flags;  // an item of 185 x 256 as the version writes it
    bool decoded;
};

constexpr VersionRow VERSIONS[] = {
    {20, 0, 24, 5, 0x05C88002, false},
    {21, 0, 24, 5, 0x05C88002, true},
    {30, 4, 104, 9, 0x1000B9, false},  // 28 + 8 x 9 + 4, derived from the file size
    {31, 4, 120, 11, 0x1000B9, false},
    {32, 4, 144, 14, 0x1000B9, true},
};

} // namespace

TEST(ThumbcacheIndex, EveryVersionReadsItsSlots)
{
    for (const VersionRow& v : VERSIONS) {
        SCOPED_TRACE("version " + std::to_string(v.version));
        fixture::ThumbcacheIndexSpec spec;
        spec.version = v.version;
        const uint64_t home = 0x1234567890abcdefull;
        spec.items.push_back({home, v.flags, 0x01d2000000000000ull, {24, 0xFFFFFFFF, 24}});
        spec.items.push_back({home + 101, 0, 0, {0xFFFFFFFF, 0x400}});  // same home slot: probes on
        spec.items.push_back({0x8000000000000000ull | 7, v.version <= 21 ? 0x80000002u : 0x8000000000000000ull, 0, {}});
        spec.stale_slots = {3};  // hash 0, offsets left behind: not a slot in use
        for (uint32_t t = 0; t < v.types; ++t)
            spec.file_sizes.push_back(0x100000 * (t + 1)), spec.file_counts.push_back(t);
        std::vector<uint32_t> placed;
        ReadIndex r(fixture::write_thumbcache_index(spec, &placed));
        ASSERT_EQ(r.result, 0) << failure_last().reason;
        EXPECT_EQ(r.x.version, v.version);
        EXPECT_EQ(r.x.signature_offset, v.signature_offset);
        EXPECT_EQ(r.x.header_bytes, v.header_bytes);
        EXPECT_EQ(r.x.type_count, v.types);
        EXPECT_EQ(r.x.slot_count, 101u);
        EXPECT_EQ(r.x.used_count, 3u);
        EXPECT_FALSE(r.x.slots_truncated);
        EXPECT_EQ(r.x.has_file_table, v.version >= 30);
        if (r.x.has_file_table) {
            EXPECT_EQ(r.x.file_sizes[v.types - 1], 0x100000 * v.types);
            EXPECT_EQ(r.x.file_counts[v.types - 1], v.types - 1);
        }
        ASSERT_EQ(r.x.count, 3);
        // Table order: the three items sorted by where they landed.
        for (int i = 0; i < 3; ++i) {
            int k = 0;
            while (int32_t(placed[size_t(k)]) != r.x.slots[i].slot)
                ++k;
            const fixture::ThumbcacheIndexItem& item = spec.items[size_t(k)];
            SCOPED_TRACE(k);
            const ThumbcacheIndexSlot& s = r.x.slots[i];
            EXPECT_EQ(s.hash, item.hash);
            EXPECT_EQ(s.flags, item.flags);
            EXPECT_EQ(s.modified, v.version == 20 ? item.modified : 0);
            for (uint32_t t = 0; t < THUMBCACHE_MAX_TYPES; ++t)
                EXPECT_EQ(s.offsets[t], t < item.offsets.size() ? item.offsets[t] : THUMBCACHE_NO_OFFSET) << t;
            EXPECT_EQ(s.flags_decoded, v.decoded);
            if (v.decoded && k == 0) {
                EXPECT_EQ(s.width, 185u);
                EXPECT_EQ(s.height, 256u);
                EXPECT_EQ(s.no_image, 0);
            }
            if (v.decoded && k == 2) {
                EXPECT_EQ(s.no_image, 1);
            }
        }
        EXPECT_EQ(placed[1], placed[0] + 1);  // linear probing from the same home
    }
}

TEST(ThumbcacheIndex, DamagedHeadersAndTables)
{
    fixture::ThumbcacheIndexSpec spec;
    spec.items.push_back({5, 0, 0, {24}});
    spec.stored_slots = 0x7FFFFFFF;  // more slots than the file holds
    ReadIndex longer(fixture::write_thumbcache_index(spec));
    ASSERT_EQ(longer.result, 0);
    EXPECT_TRUE(longer.x.slots_truncated);
    EXPECT_EQ(longer.x.count, 1);

    Bytes wrong_place = fixture::write_thumbcache_index(spec);
    wrong_place[8] = 21;  // a Windows 7 version behind a Windows 8 signature
    ReadIndex mismatch(wrong_place);
    EXPECT_EQ(mismatch.result, -1);
    EXPECT_STREQ(failure_last().reason, "unknown thumbnail cache index version");

    const Bytes tiny = {'I', 'M', 'M', 'M', 21, 0, 0, 0};
    ReadIndex too_short(tiny);
    EXPECT_EQ(too_short.result, -1);

    // Every cut of a small index reads inside the file.
    spec.stored_slots = -1;
    spec.slot_count = 4;
    spec.version = 31;
    const Bytes file = fixture::write_thumbcache_index(spec);
    for (size_t n = 0; n <= file.size(); ++n) {
        ReadIndex r(Bytes(file.begin(), file.begin() + long(n)));
        if (r.result == 0 && r.x.count > 0) {
            EXPECT_LE(uint64_t(r.x.header_bytes) + uint64_t(r.x.count) * r.x.slot_bytes, n);
        }
    }
}

TEST(ThumbcacheIndex, LinkingFindsSizesUnknownEntriesAndDanglingSlots)
{
    const uint64_t both = 0xaaaa000000000001ull, folder = 0xbbbb000000000002ull, orphan = 0xcccc000000000003ull;
    const uint64_t gone = 0xdddd000000000004ull, moved = 0xeeee000000000005ull;
    fixture::ThumbcacheSpec small;  // type 1: "32"
    small.records.resize(2);
    small.records[0].hash = both;
    small.records[0].data = {'B', 'M', 0, 0};
    small.records[1].hash = orphan;  // the index does not know it
    fixture::ThumbcacheSpec large;  // type 4: "256"
    large.cache_type = 4;
    large.records.resize(2);
    large.records[0].hash = both;
    large.records[1].hash = folder;
    std::vector<uint32_t> at_small, at_large;
    ReadCache c32(fixture::write_thumbcache(small, &at_small));
    ReadCache c256(fixture::write_thumbcache(large, &at_large));

    fixture::ThumbcacheIndexSpec spec;
    const uint32_t none = THUMBCACHE_NO_OFFSET;
    spec.items.push_back({both, 0, 0, {none, at_small[0], none, none, at_large[0]}});
    spec.items.push_back({folder, 0x8000000000000000ull, 0, {none, none, none, none, at_large[1]}});
    spec.items.push_back({gone, 0, 0, {none, at_small[1] + 3}});       // nothing starts there
    spec.items.push_back({moved, 0, 0, {none, none, none, none, at_large[0]}});  // another item's record
    spec.items.push_back({0x42, 0, 0, {none, none, none, 0x18}});  // type 3 ("96") is not loaded: not checked
    ReadIndex index(fixture::write_thumbcache_index(spec));
    ASSERT_EQ(index.result, 0);

    const ThumbcacheFile* files[] = {&c32.f, &c256.f};
    ThumbcacheLinks links;
    ASSERT_EQ(thumbcache_link(&index.x, files, 2, &links), 0);
    ASSERT_EQ(links.entry_count, 4);
    auto slot_hash = [&](const ThumbcacheEntryLink& l) { return l.slot < 0 ? 0 : index.x.slots[l.slot].hash; };
    struct Expect {
        int32_t file, entry;
        uint64_t hash;  // of the linked slot, 0: unknown
        uint32_t buckets;
        int at_offset;
    };
    const Expect expect[] = {
        {0, 0, both, 1u << 1 | 1u << 4, 1},
        {0, 1, 0, 0, 0},
        {1, 0, both, 1u << 1 | 1u << 4, 1},
        {1, 1, folder, 1u << 4, 1},
    };
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(links.entries[i].file, expect[i].file);
        EXPECT_EQ(links.entries[i].entry, expect[i].entry);
        EXPECT_EQ(slot_hash(links.entries[i]), expect[i].hash);
        EXPECT_EQ(links.entries[i].buckets, expect[i].buckets);
        EXPECT_EQ(links.entries[i].at_indexed_offset, expect[i].at_offset);
    }
    ASSERT_EQ(links.unknown_count, 1);
    EXPECT_EQ(links.unknown[0], 1);
    ASSERT_EQ(links.dangling_count, 2);
    for (int i = 0; i < 2; ++i) {
        const ThumbcacheDangling& d = links.dangling[i];
        const uint64_t hash = index.x.slots[d.slot].hash;
        if (hash == gone) {
            EXPECT_EQ(d.reason, THUMBCACHE_NOTHING_AT_OFFSET);
            EXPECT_EQ(d.cache_type, 1u);
            EXPECT_EQ(d.file, 0);
            EXPECT_EQ(d.offset, at_small[1] + 3);
        } else {
            EXPECT_EQ(hash, moved);
            EXPECT_EQ(d.reason, THUMBCACHE_OTHER_HASH_AT_OFFSET);
            EXPECT_EQ(d.file, 1);
        }
    }
    thumbcache_links_free(&links);
}
