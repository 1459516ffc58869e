// Explorer cache files (CMMM): fixtures of every version, damaged files, and
// the small helpers around the reader.
#include <cstring>
#include <string>
#include <vector>

#include "picture/picture.h"
#include "store/explorer/crc64.h"
#include "store/explorer/thumbcache.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbcache_writer.h"

namespace {

using fixture::Bytes;
using fixture::ThumbcacheRecord;
using fixture::ThumbcacheSpec;

struct Read {
    ThumbcacheFile f{};
    int result;
    explicit Read(const Bytes& b) : result(thumbcache_read(ByteView{b.data(), b.size()}, &f)) {}
    ~Read() { thumbcache_free(&f); }
};

Bytes bytes_of(ByteView v) { return Bytes(v.data, v.data + v.length); }

std::string utf8(ByteView id)
{
    char out[512];
    thumbcache_identifier_utf8(id, out, sizeof out);
    return out;
}

// Four records as Windows writes them: a BMP icon, a JPEG, a PNG and an
// entry without data (a folder), in the payload style of the version.
std::vector<ThumbcacheRecord> typical_records(uint32_t version)
{
    const fixture::RgbImage small = fixture::make_test_image(20, 16, 1);
    const fixture::RgbImage wide = fixture::make_test_image(64, 40, 2);
    const fixture::RgbImage png = fixture::make_test_image(30, 32, 3);
    std::vector<ThumbcacheRecord> r(4);
    r[0].hash = 0x710b8c3677c6ac5aull;
    r[0].data = fixture::encode_bmp32(small, version >= 26);
    r[0].width = 20, r[0].height = 16;
    r[0].padding = 2;
    r[1].hash = 0x00f1e2d3c4b5a697ull;
    r[1].data = fixture::encode_jpeg(wide);
    r[1].width = 64, r[1].height = 40;
    r[1].slack = version >= 26 ? 5 : 0;  // Windows 10 leaves up to 7 zero bytes
    r[2].hash = 0x8000000000000001ull;
    r[2].data = fixture::encode_png_rgba(png);
    r[2].width = 30, r[2].height = 32;
    r[3].hash = 0x3c95a8a5d4b5f2e1ull;
    r[3].identifier = "::{645FF040-5081-101B-9F08-00AA002F954E}";
    return r;
}

constexpr uint32_t ALL_VERSIONS[] = {20, 21, 26, 28, 30, 31, 32};

} // namespace

TEST(Crc64, CheckValuesOfTheHeaderAndDataChecksums)
{
    const Bytes digits = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(crc64_ms(digits.data(), digits.size(), CRC64_MS_HEADER_INIT), 0x75D4B74F024ECEEAull);
    EXPECT_EQ(fixture::crc64_ms_bitwise(digits.data(), digits.size()), 0x75D4B74F024ECEEAull);
    Bytes ramp;
    for (int k = 0; k < 8; ++k)
        for (int b = 0; b < 256; ++b)
            ramp.push_back(uint8_t(b));
    struct Case {
        const char* what;
        Bytes data;
        uint64_t checksum;
    };
    const Case cases[] = {
        {"no data", {}, 0},
        {"123456789", digits, 0x6CAEADE7CBA7E80Eull},
        {"0..255 eight times", ramp, 0x66AA2247C888BA06ull},
        {"5000 bytes of 0xAB", Bytes(5000, 0xAB), 0xE8D0C0F16CE7C927ull},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(thumbcache_data_checksum(ByteView{c.data.data(), c.data.size()}), c.checksum) << c.what;
        EXPECT_EQ(fixture::data_checksum_bitwise(c.data), c.checksum) << c.what;
    }
    Bytes noise(300);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = uint8_t(i * 37 + (i >> 3));
    for (size_t n : {size_t(0), size_t(1), size_t(47), size_t(300)})
        EXPECT_EQ(crc64_ms(noise.data(), n, CRC64_MS_HEADER_INIT), fixture::crc64_ms_bitwise(noise.data(), n)) << n;
}

// Records written with the right data checksum, then their data changed in
// the file: the checksum covers the first KiB and a word every 400 bytes
// after it, and says nothing where the last word is cut short.
TEST(ThumbcacheDataChecksum, VerdictsFollowTheRule)
{
    struct Case {
        const char* what;
        size_t length;
        int64_t changed_at;  // the data byte flipped, -1 none
        bool bad_stored;     // written with a wrong checksum
        ThumbcacheCheck check;
    };
    const Case cases[] = {
        {"as written", 3000, -1, false, THUMBCACHE_CHECK_OK},
        {"a byte of the first KiB changed", 3000, 700, false, THUMBCACHE_CHECK_BAD},
        {"a sampled word changed", 3000, 1424 + 3, false, THUMBCACHE_CHECK_BAD},
        {"a byte between sampled words changed", 3000, 1300, false, THUMBCACHE_CHECK_OK},
        {"the last byte of exactly 1 KiB changed", 1024, 1023, false, THUMBCACHE_CHECK_BAD},
        {"a last word whole", 1024 + 400 + 4, -1, false, THUMBCACHE_CHECK_OK},
        {"a last word cut short", 1024 + 400 + 2, -1, false, THUMBCACHE_CHECK_UNVERIFIED},
        {"a last word cut short, the first KiB changed", 1024 + 3, 5, false, THUMBCACHE_CHECK_UNVERIFIED},
        {"no data", 0, -1, false, THUMBCACHE_CHECK_OK},
        {"no data with a checksum", 0, -1, true, THUMBCACHE_CHECK_BAD},
        {"a wrong checksum", 3000, -1, true, THUMBCACHE_CHECK_BAD},
    };
    for (uint32_t version : {21u, 32u})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", version " + std::to_string(version));
            ThumbcacheSpec spec;
            spec.version = version;
            spec.records.resize(1);
            spec.records[0].hash = 0x5eed;
            spec.records[0].bad_data_checksum = c.bad_stored;
            for (size_t i = 0; i < c.length; ++i)
                spec.records[0].data.push_back(uint8_t(i * 131 + (i >> 5)));
            Bytes file = fixture::write_thumbcache(spec);
            if (c.changed_at >= 0) {
                Read written(file);
                ASSERT_EQ(written.f.count, 1);
                file[size_t(written.f.entries[0].payload.data - written.f.bytes) + size_t(c.changed_at)] ^= 0x10;
            }
            Read r(file);
            ASSERT_EQ(r.f.count, 1);
            EXPECT_EQ(thumbcache_entry_data_check(r.f, 0), c.check);
            EXPECT_TRUE(r.f.entries[0].header_checksum_ok) << "the data is not part of the header";
        }
    EXPECT_STREQ(thumbcache_check_name(THUMBCACHE_CHECK_UNVERIFIED), "unverified");
}

TEST(ThumbcacheFixtures, EveryVersionReadsEveryRecord)
{
    for (uint32_t version : ALL_VERSIONS) {
        SCOPED_TRACE("version " + std::to_string(version));
        ThumbcacheSpec spec;
        spec.version = version;
        spec.cache_type = version <= 21 ? 2 : 4;  // "256" in every table
        spec.records = typical_records(version);
        std::vector<uint32_t> offsets;
        const Bytes file = fixture::write_thumbcache(spec, &offsets);
        Read r(file);
        ASSERT_EQ(r.result, 0) << failure_last().reason;
        EXPECT_EQ(r.f.version, version);
        EXPECT_STREQ(r.f.bucket, "256");
        EXPECT_EQ(r.f.first_entry_offset, 24u);
        EXPECT_EQ(r.f.has_header_count, version <= 21);
        EXPECT_EQ(r.f.header_count, version <= 21 ? 4u : 0u);
        EXPECT_EQ(r.f.free_record_offset, int64_t(r.f.first_available_offset));
        EXPECT_EQ(r.f.chain_break_offset, -1);
        ASSERT_EQ(r.f.count, 4);
        const char* const formats[] = {"bmp", "jpeg", "png", "unknown"};  // the last holds no data
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(i);
            const ThumbcacheEntry& e = r.f.entries[i];
            const ThumbcacheRecord& w = spec.records[size_t(i)];
            EXPECT_EQ(e.offset, offsets[size_t(i)]);
            EXPECT_EQ(e.hash, w.hash);
            char hex[17], expected[32];
            thumbcache_hash_text(e.hash, hex);
            std::snprintf(expected, sizeof expected, "%016llx", static_cast<unsigned long long>(w.hash));
            EXPECT_STREQ(hex, expected);
            char bare[17];  // Windows writes the hash without leading zeros
            std::snprintf(bare, sizeof bare, "%llx", static_cast<unsigned long long>(w.hash));
            EXPECT_EQ(utf8(e.identifier), w.identifier.empty() ? std::string(bare) : w.identifier);
            EXPECT_EQ(e.padding_size, w.padding);
            EXPECT_EQ(bytes_of(e.payload), w.data);
            EXPECT_STREQ(picture_format_name(e.payload.data, int32_t(e.payload.length)), formats[i]);
            EXPECT_EQ(e.data_checksum, fixture::data_checksum_bitwise(w.data));
            EXPECT_EQ(thumbcache_entry_data_check(r.f, i), THUMBCACHE_CHECK_OK);
            EXPECT_TRUE(e.header_checksum_ok);
            EXPECT_EQ(e.recovered, 0);
            EXPECT_EQ(e.has_dimensions, version >= 26);
            if (e.has_dimensions) {
                EXPECT_EQ(e.width, w.width);
                EXPECT_EQ(e.height, w.height);
            }
            if (!w.data.empty()) {
                int32_t pw = 0, ph = 0;
                picture_probe(e.payload.data, int32_t(e.payload.length), &pw, &ph);
                EXPECT_EQ(uint32_t(pw), w.width);
                EXPECT_EQ(uint32_t(ph), w.height);
            }
        }
    }
}

TEST(ThumbcacheFixtures, EmptyCacheOfTwentyFourBytes)
{
    for (uint32_t version : {21u, 32u}) {
        ThumbcacheSpec spec;
        spec.version = version;
        spec.free_record = false;
        Read r(fixture::write_thumbcache(spec));
        ASSERT_EQ(r.result, 0);
        EXPECT_EQ(r.f.size, 24u);
        EXPECT_EQ(r.f.count, 0);
        EXPECT_EQ(r.f.free_record_offset, -1);
    }
}

TEST(ThumbcacheFixtures, BucketNamesPerVersion)
{
    struct Row {
        uint32_t version, type;
        const char* name;
    };
    constexpr Row rows[] = {
        {20, 0, "32"}, {21, 4, "sr"}, {21, 5, nullptr}, {26, 8, "exif"}, {30, 6, "sr"},
        {31, 6, "1600"}, {31, 10, "wide_alternate"}, {32, 5, "768"}, {32, 9, "sr"}, {32, 10, "wide"},
        {32, 13, "custom_stream"}, {32, 14, nullptr}, {33, 0, nullptr},
    };
    for (const Row& row : rows) {
        const char* got = thumbcache_bucket_name(row.version, row.type);
        EXPECT_STREQ(got ? got : "(none)", row.name ? row.name : "(none)") << row.version << "/" << row.type;
    }
}

TEST(ThumbcacheFixtures, KindByContent)
{
    ThumbcacheSpec spec;
    const Bytes cache = fixture::write_thumbcache(spec);
    fixture::ThumbcacheIndexSpec old_index;
    old_index.version = 21;
    fixture::ThumbcacheIndexSpec new_index;
    const Bytes idx21 = fixture::write_thumbcache_index(old_index);
    const Bytes idx32 = fixture::write_thumbcache_index(new_index);
    const Bytes thumbs = fixture::write_thumbs_db(fixture::CacheSpec{});
    const Bytes shortish(cache.begin(), cache.begin() + 20);
    struct Row {
        const Bytes* bytes;
        ThumbcacheKind kind;
    };
    const Row rows[] = {{&cache, THUMBCACHE_CACHE}, {&idx21, THUMBCACHE_INDEX}, {&idx32, THUMBCACHE_INDEX},
                        {&thumbs, THUMBCACHE_NEITHER}, {&shortish, THUMBCACHE_NEITHER}};
    for (const Row& row : rows)
        EXPECT_EQ(thumbcache_kind(ByteView{row.bytes->data(), row.bytes->size()}), row.kind);
    EXPECT_EQ(thumbcache_kind(ByteView{nullptr, 0}), THUMBCACHE_NEITHER);
}

TEST(ThumbcacheFixtures, RefusedFilesSayWhy)
{
    Bytes file = fixture::write_thumbcache(ThumbcacheSpec{});
    file[4] = 22;  // no such version
    Read unknown(file);
    EXPECT_EQ(unknown.result, -1);
    EXPECT_STREQ(failure_last().reason, "unknown thumbnail cache version");
    file[0] = 'X';
    Read wrong(file);
    EXPECT_EQ(wrong.result, -1);
    EXPECT_STREQ(failure_last().reason, "not a thumbnail cache (no CMMM header)");
}

TEST(ThumbcacheIdentifiers, NarrowingAndUtf8)
{
    struct Row {
        std::vector<uint16_t> units;
        const char* narrow;
        const char* utf8;
    };
    const Row rows[] = {
        {{'C', ':', '\\'}, "C:\\", "C:\\"},
        {{'G', 'r', 0xFC, 0xDF, 'e'}, "Gr\xFC\xDF" "e", "Gr\xC3\xBC\xC3\x9F" "e"},
        {{0xD83D, 0xDE00}, "=", "\xF0\x9F\x98\x80"},  // a pair; narrowing keeps low bytes up to a 0
        {{'a', 0xDC00, 'b'}, "a", "a\xEF\xBF\xBD" "b"},   // unpaired surrogate
        {{0x0100, 'x'}, "", "\xC4\x80x"},                 // low byte 0 ends the narrow name
    };
    for (const Row& row : rows) {
        Bytes b;
        for (uint16_t u : row.units)
            b.push_back(uint8_t(u)), b.push_back(uint8_t(u >> 8));
        char out[64];
        thumbcache_identifier_narrow(ByteView{b.data(), b.size()}, out, sizeof out);
        EXPECT_STREQ(out, row.narrow);
        thumbcache_identifier_utf8(ByteView{b.data(), b.size()}, out, sizeof out);
        EXPECT_STREQ(out, row.utf8);
    }
    // Cut at a character boundary, never inside one.
    const Bytes euro = {0xAC, 0x20, 0xAC, 0x20};
    char out[5];
    EXPECT_EQ(thumbcache_identifier_utf8(ByteView{euro.data(), euro.size()}, out, sizeof out), 3);
    EXPECT_STREQ(out, "\xE2\x82\xAC");
}

// Damaged records: what is listed, what is recovered, where the chain broke.
TEST(ThumbcacheDamage, HostileSizesAreSkippedAndTheRestRecovered)
{
    enum Damage { CHECKSUM, SIZE_ZERO, SIZE_PAST_END, ID_PAST_RECORD, DATA_PAST_RECORD, MAGIC };
    struct Row {
        const char* what;
        Damage damage;
        int listed;      // entries listed
        int recovered;   // of them, recovered
        bool broken;     // chain_break_offset at record 1
    };
    constexpr Row rows[] = {
        {"bad header checksum: listed, flagged", CHECKSUM, 4, 0, false},
        {"entry size 0", SIZE_ZERO, 3, 2, true},
        {"entry size past the end of the file", SIZE_PAST_END, 3, 2, true},
        {"identifier size past the record", ID_PAST_RECORD, 3, 2, true},
        {"data size past the record", DATA_PAST_RECORD, 3, 2, true},
        {"wrong signature", MAGIC, 3, 2, true},
    };
    for (uint32_t version : {21u, 32u})
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.what) + ", version " + std::to_string(version));
            ThumbcacheSpec spec;
            spec.version = version;
            spec.records = typical_records(version);
            ThumbcacheRecord& bad = spec.records[1];
            switch (row.damage) {
            case CHECKSUM: bad.bad_header_checksum = true; break;
            case SIZE_ZERO: bad.entry_size = 0; break;
            case SIZE_PAST_END: bad.entry_size = 0x7FFFFFF0; break;
            case ID_PAST_RECORD: bad.id_size = 0x10000; break;
            case DATA_PAST_RECORD: bad.data_size = 0xFFFFFFFF; break;
            case MAGIC: bad.bad_magic = true; break;
            }
            std::vector<uint32_t> offsets;
            Read r(fixture::write_thumbcache(spec, &offsets));
            ASSERT_EQ(r.result, 0);
            ASSERT_EQ(r.f.count, row.listed);
            int recovered = 0;
            for (int i = 0; i < r.f.count; ++i)
                recovered += r.f.entries[i].recovered;
            EXPECT_EQ(recovered, row.recovered);
            EXPECT_EQ(r.f.chain_break_offset, row.broken ? int64_t(offsets[1]) : -1);
            EXPECT_EQ(r.f.entries[0].offset, offsets[0]);
            EXPECT_EQ(r.f.entries[r.f.count - 1].offset, offsets[3]);
            if (row.damage == CHECKSUM)
                EXPECT_FALSE(r.f.entries[1].header_checksum_ok);
            else
                EXPECT_EQ(r.f.entries[1].offset, offsets[2]);
        }
}

TEST(ThumbcacheDamage, StaleRecordsInTheFreeRegionAreRecoveredWithTheirOffsets)
{
    for (uint32_t version : {20u, 21u, 32u}) {
        SCOPED_TRACE(version);
        ThumbcacheSpec spec;
        spec.version = version;
        spec.records = typical_records(version);
        spec.records.resize(1);
        spec.stale = typical_records(version);
        spec.stale[1].bad_header_checksum = true;  // a stale record that no longer verifies is not trusted
        spec.stale_gap = {0, 13, 100, 7};
        std::vector<uint32_t> stale_offsets;
        Read r(fixture::write_thumbcache(spec, nullptr, &stale_offsets));
        ASSERT_EQ(r.result, 0);
        ASSERT_EQ(r.f.count, 4);
        EXPECT_EQ(r.f.entries[0].recovered, 0);
        // Record 1 did not verify, so record 2 behind it is found by scanning on.
        const uint32_t expected[] = {stale_offsets[0], stale_offsets[2], stale_offsets[3]};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(r.f.entries[i + 1].offset, expected[i]);
            EXPECT_EQ(r.f.entries[i + 1].recovered, 1);
        }
        EXPECT_EQ(r.f.free_record_offset, int64_t(r.f.first_available_offset));
        EXPECT_EQ(r.f.chain_break_offset, -1);
    }
}

TEST(ThumbcacheDamage, HeaderOffsetsOutsideTheFile)
{
    struct Row {
        const char* what;
        int64_t first_entry, first_available;
        int on_chain, recovered;
    };
    constexpr Row rows[] = {
        {"first available past the end: the chain runs to the end", -1, 0x7FFFFFFF, 4, 0},
        {"first entry unset: every record is found by scanning", 0, -1, 0, 4},
        {"first entry past the end", 0x7FFFFFFF, -1, 0, 4},
        {"first available before the first entry", -1, 8, 0, 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ThumbcacheSpec spec;
        spec.records = typical_records(32);
        spec.first_entry = row.first_entry;
        spec.first_available = row.first_available;
        Read r(fixture::write_thumbcache(spec));
        ASSERT_EQ(r.result, 0);
        int recovered = 0;
        for (int i = 0; i < r.f.count; ++i)
            recovered += r.f.entries[i].recovered;
        EXPECT_EQ(r.f.count - recovered, row.on_chain);
        EXPECT_EQ(recovered, row.recovered);
    }
}

TEST(ThumbcacheDamage, RecordsBeforeTheFirstEntryAreRecovered)
{
    ThumbcacheSpec spec;
    spec.records = typical_records(21);
    spec.version = 21;
    std::vector<uint32_t> offsets;
    fixture::write_thumbcache(spec, &offsets);
    spec.first_entry = offsets[2];
    Read r(fixture::write_thumbcache(spec));
    ASSERT_EQ(r.result, 0);
    ASSERT_EQ(r.f.count, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(r.f.entries[i].offset, offsets[size_t(i)]);
        EXPECT_EQ(r.f.entries[i].recovered, i < 2);
    }
}

// Every cut and every single-byte change of a small cache reads without a
// read outside the file (the sanitizer build checks the reads themselves).
TEST(ThumbcacheDamage, EveryTruncationAndByteFlipStaysInside)
{
    ThumbcacheSpec spec;
    spec.records = typical_records(32);
    spec.records[0].data.resize(40);
    spec.records[1].data.resize(40);
    spec.records[2].data.resize(40);
    spec.file_size = 1;  // no rounding up: the free record is 56 bytes
    const Bytes file = fixture::write_thumbcache(spec);
    auto check = [](const Bytes& b) {
        Read r(b);
        if (r.result != 0)
            return;
        for (int i = 0; i < r.f.count; ++i) {
            const ThumbcacheEntry& e = r.f.entries[i];
            ASSERT_LE(e.offset + e.entry_size, r.f.size);
            ASSERT_GE(e.payload.data, r.f.bytes);
            ASSERT_LE(e.payload.data + e.payload.length, r.f.bytes + r.f.size);
            // The identifier (copied out) is the bytes before padding and data.
            const uint8_t* stored = e.payload.data - e.padding_size - e.identifier.length;
            ASSERT_GE(stored, r.f.bytes + e.offset);
            ASSERT_EQ(std::memcmp(e.identifier.data, stored, e.identifier.length), 0);
        }
    };
    for (size_t n = 0; n <= file.size(); ++n)
        check(Bytes(file.begin(), file.begin() + long(n)));
    for (size_t i = 0; i < file.size(); ++i)
        for (uint8_t v : {uint8_t(0x00), uint8_t(0xFF), uint8_t(0x80)}) {
            Bytes b = file;
            b[i] = v;
            check(b);
        }
}
