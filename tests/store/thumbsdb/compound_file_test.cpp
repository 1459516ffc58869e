// The compound file reader on files written by the fixture writer, and on
// damaged and hostile variants of them.
#include <cstring>
#include <random>
#include <string>

#include "store/thumbsdb/catalog.h"
#include "store/thumbsdb/compound_file.h"
#include "tests/support/bytes.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbsdb_writer.h"

using fixture::Bytes;
using fixture::CompoundEntry;

namespace {

Bytes filled(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(seed + i * 7 + i / 251);
    return b;
}

std::string slot_bytes(int32_t slot)
{
    const uint8_t* p = stream_table.pool + stream_table.offset[slot];
    return std::string(reinterpret_cast<const char*>(p), size_t(store_slot_length(slot)));
}

std::string as_string(const Bytes& b) { return std::string(b.begin(), b.end()); }

int load(const Bytes& file) { return store_load_memory(file.data(), file.size()); }

uint32_t le32(const Bytes& b, size_t at) { return le32_at(b, at); }
void set32(Bytes& b, size_t at, uint32_t v) { set_le32(b, at, v); }

// File offset of directory entry i (0 = root) for small directories.
size_t dir_entry(const Bytes& file, int i) { return 512 * (size_t(le32(file, 48)) + 1) + 128 * size_t(i); }

// File offset of FAT entry n (first FAT sector only).
size_t fat_entry(const Bytes& file, uint32_t n) { return 512 * (size_t(le32(file, 76)) + 1) + 4 * n; }

} // namespace

TEST(CompoundFile, SlotsFollowDirectoryOrderAndFindTheCatalog)
{
    Bytes one = filled(100, 1), two = filled(5000, 2), cat = filled(40, 3), three = filled(10, 4);
    Bytes file = fixture::write_compound({{"1", one}, {"2", two}, {"Catalog", cat}, {"3", three}});
    ASSERT_EQ(load(file), 0);
    EXPECT_EQ(stream_table.count, 4);
    EXPECT_EQ(stream_table.catalog_slot, 2);
    EXPECT_EQ(slot_bytes(0), as_string(one));
    EXPECT_EQ(slot_bytes(1), as_string(two));
    EXPECT_EQ(slot_bytes(2), as_string(cat));
    EXPECT_EQ(slot_bytes(3), as_string(three));
    EXPECT_STREQ(stream_table.slot_name[1], "2");
    EXPECT_STREQ(stream_table.slot_name[2], "Catalog");
    EXPECT_EQ(stream_table.offset[0], 0);
}

TEST(CompoundFile, CatalogNameIgnoresCaseButNotTheTerminator)
{
    ASSERT_EQ(load(fixture::write_compound({{"x", filled(8, 0)}, {"CATALOG", filled(8, 1)}})), 0);
    EXPECT_EQ(stream_table.catalog_slot, 1);
    EXPECT_EQ(load(fixture::write_compound({{"Catalog1", filled(8, 1)}})), -1);
    EXPECT_EQ(stream_table.catalog_slot, -1);
    EXPECT_EQ(stream_table.count, 1) << "a file without a Catalog keeps its streams";
    EXPECT_EQ(slot_bytes(0), as_string(filled(8, 1)));
}

TEST(CompoundFile, CutoffSeparatesMiniAndRegularStreams)
{
    Bytes big = filled(4096, 5), small = filled(4095, 6);
    Bytes file = fixture::write_compound({{"Catalog", filled(20, 1)}, {"big", big}, {"small", small}});
    ASSERT_EQ(load(file), 0);
    EXPECT_EQ(slot_bytes(1), as_string(big));
    EXPECT_EQ(slot_bytes(2), as_string(small));
    // The small one lives in the mini stream: its start is a mini sector number.
    EXPECT_EQ(le32(file, dir_entry(file, 3) + 116), 1u) << "after the 20-byte Catalog's mini sector";
}

TEST(CompoundFile, EmptyEntriesTakeNoSlotStoragesAnEmptyOne)
{
    Bytes file = fixture::write_compound({{"a", filled(10, 1), fixture::entry_stream},
                                          {"", {}, fixture::entry_empty},
                                          {"dir", {}, fixture::entry_storage},
                                          {"Catalog", filled(30, 2)}});
    ASSERT_EQ(load(file), 0);
    EXPECT_EQ(stream_table.count, 3);
    EXPECT_EQ(store_slot_length(1), 0);
    EXPECT_STREQ(stream_table.slot_name[1], "dir");
    EXPECT_EQ(stream_table.catalog_slot, 2);
}

TEST(CompoundFile, MoreThan109FatSectorsGoThroughDifatSectors)
{
    fixture::CompoundOptions options;
    options.padding_sectors = 30000;  // about 236 FAT sectors: two DIFAT sectors
    Bytes tail = filled(9000, 9);
    Bytes file = fixture::write_compound({{"Catalog", filled(64, 1)}, {"tail", tail}}, options);
    ASSERT_GT(le32(file, 44), 109u + 127u) << "the fixture needs a second DIFAT sector";
    ASSERT_EQ(le32(file, 72), 2u);
    ASSERT_EQ(load(file), 0);
    EXPECT_EQ(slot_bytes(1), as_string(tail)) << "the stream's sectors are described by late FAT sectors";
}

TEST(CompoundFile, NotACompoundFileLeavesTheTableEmpty)
{
    Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0};
    jpeg.resize(2048, 0x11);
    ASSERT_EQ(load(fixture::write_compound({{"Catalog", filled(8, 1)}})), 0);
    EXPECT_EQ(load(jpeg), -1);
    EXPECT_EQ(stream_table.count, 0);
    EXPECT_EQ(stream_table.pool, nullptr);
    Bytes tiny(511, 0);
    std::memcpy(tiny.data(), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    EXPECT_EQ(load(tiny), -1) << "shorter than a header";
}

TEST(CompoundFile, ImpossibleSectorShiftsAreRejected)
{
    Bytes file = fixture::write_compound({{"Catalog", filled(8, 1)}});
    for (uint16_t shift : {0, 6, 17, 0xFFFF}) {
        Bytes bad = file;
        bad[30] = uint8_t(shift), bad[31] = uint8_t(shift >> 8);
        EXPECT_EQ(load(bad), -1) << shift;
    }
    Bytes bad = file;
    bad[32] = 10;  // mini sectors larger than sectors
    EXPECT_EQ(load(bad), -1);
}

TEST(CompoundFile, ShortFinalSectorIsReadAsFarAsItGoes)
{
    Bytes data = filled(5000, 3);  // regular sectors, the last one 392 bytes used
    Bytes file = fixture::write_compound({{"x", filled(10, 1)}, {"Catalog", data}});
    size_t cut = file.size() - (512 - (5000 % 512));
    file.resize(cut);
    ASSERT_EQ(load(file), 0);
    EXPECT_EQ(slot_bytes(1), as_string(data));
    file.resize(cut - 100);
    ASSERT_EQ(load(file), 0);
    EXPECT_EQ(slot_bytes(1), as_string(data).substr(0, 5000 - 100)) << "only bytes beyond the file are missing";
}

TEST(CompoundFile, ChainCyclesEndAndOutOfRangeIndicesStop)
{
    Bytes data = filled(3 * 512 * 4, 4);
    Bytes file = fixture::write_compound({{"Catalog", filled(30, 1)}, {"big", data}});
    uint32_t first = le32(file, dir_entry(file, 2) + 116);
    // Make the stream's third sector point back to its first.
    Bytes cyclic = file;
    set32(cyclic, fat_entry(cyclic, first + 2), first);
    ASSERT_EQ(load(cyclic), 0);
    std::string expected = as_string(data).substr(0, 3 * 512);
    EXPECT_EQ(slot_bytes(1).substr(0, 3 * 512), expected);
    EXPECT_LE(store_slot_length(1), int32_t(data.size()));

    // A self-loop on the directory's own sector.
    Bytes self = file;
    set32(self, fat_entry(self, le32(self, 48)), le32(self, 48));
    EXPECT_EQ(load(self), 0);

    Bytes wild = file;
    set32(wild, fat_entry(wild, first), 0x7FFFFFF0);
    ASSERT_EQ(load(wild), 0);
    EXPECT_EQ(store_slot_length(1), 512) << "the chain ends at an index outside the FAT";
}

TEST(CompoundFile, DifatLoopsAndHugeCountsStayBounded)
{
    fixture::CompoundOptions options;
    options.padding_sectors = 15000;
    Bytes file = fixture::write_compound({{"Catalog", filled(64, 1)}}, options);
    ASSERT_EQ(le32(file, 72), 1u);
    Bytes loop = file;
    uint32_t difat = le32(loop, 68);
    set32(loop, 512 * (size_t(difat) + 1) + 508, difat);  // the DIFAT sector names itself as the next
    set32(loop, 44, 0xFFFFFFFF);                          // and claims 4 billion FAT sectors
    EXPECT_EQ(load(loop), 0);

    Bytes huge = file;
    set32(huge, 64, 0xFFFFFFF0);  // mini FAT sector count
    set32(huge, dir_entry(huge, 0) + 120, 0x7FFFFFFF);  // root stream size
    EXPECT_EQ(load(huge), 0);
}

TEST(CompoundFile, SecondLoadReplacesTheFirst)
{
    ASSERT_EQ(load(fixture::write_compound({{"a", filled(10, 1)}, {"b", filled(10, 2)}, {"Catalog", filled(8, 3)}})), 0);
    ASSERT_EQ(stream_table.count, 3);
    ASSERT_EQ(load(fixture::write_compound({{"Catalog", filled(9, 4)}})), 0);
    EXPECT_EQ(stream_table.count, 1);
    EXPECT_EQ(stream_table.catalog_slot, 0);
    EXPECT_EQ(slot_bytes(0), as_string(filled(9, 4)));
}

TEST(CompoundFile, ReadsFromAFileByPath)
{
    TempDir dir;
    Bytes file = fixture::write_compound({{"Catalog", filled(77, 8)}});
    write_file(dir.file("Thumbs.db"), file);
    ASSERT_EQ(store_load(dir.file("Thumbs.db").c_str()), 0);
    EXPECT_EQ(slot_bytes(0), as_string(filled(77, 8)));
    EXPECT_EQ(store_load(dir.file("missing.db").c_str()), -1);
    write_file(dir.file("empty.db"), {});
    EXPECT_EQ(store_load(dir.file("empty.db").c_str()), -1);
}

// Random damage to a valid cache: every result is a clean 0 or -1 with the
// pool inside its bounds (the sanitizer build checks the reads).
TEST(CompoundFile, RandomDamageNeverBreaksTheBounds)
{
    fixture::CacheSpec spec;
    for (int i = 0; i < 12; ++i) {
        fixture::CacheEntry e;
        e.name = "pic" + std::to_string(i) + ".jpg";
        e.picture = filled(size_t(300 + 700 * i), uint8_t(i));
        spec.entries.push_back(e);
    }
    Bytes file = fixture::write_thumbs_db(spec);
    std::mt19937 rng(1234);
    for (int round = 0; round < 400; ++round) {
        Bytes damaged = file;
        int hits = 1 + int(rng() % 16);
        for (int h = 0; h < hits; ++h) {
            size_t at = rng() % damaged.size();
            damaged[at] = uint8_t(rng());
        }
        if (round % 5 == 0)
            damaged.resize(512 + rng() % (damaged.size() - 512));
        int result = load(damaged);
        ASSERT_TRUE(result == 0 || result == -1);
        if (stream_table.count > 0) {
            ASSERT_LE(stream_table.offset[stream_table.count], stream_table.file_bytes);
            for (int32_t k = 0; k < stream_table.count; ++k)
                ASSERT_LE(stream_table.offset[k], stream_table.offset[k + 1]);
        }
        Picture picture{};
        FileTime time;
        for (int i = 0; i < 3; ++i)
            if (catalog_lookup(("pic" + std::to_string(i) + ".jpg").c_str(), &picture, &time) == 0)
                std::free(picture.pixels);
    }
    store_release();
}
