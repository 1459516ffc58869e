// The real Explorer caches of the shared corpus, against an independent
// reader (tests/support/thumbcache_oracle.py), the corpus manifest and the
// pictures themselves.
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "picture/picture.h"
#include "store/explorer/thumbcache.h"
#include "store/explorer/thumbcache_index.h"
#include "tests/support/test_support.h"

namespace {

struct Row {
    std::string file, group, signature, notes;
};

struct Corpus {
    std::vector<Row> rows;
    std::map<std::string, std::vector<std::vector<std::string>>> oracle;  // file -> its lines
    std::string skip_reason;
};

const Corpus& corpus()
{
    static Corpus c = [] {
        Corpus c;
        const std::string dir = corpus_dir() + "/thumbcache/";
        for (auto& row : read_tsv(dir + "manifest.tsv", nullptr)) {
            if (row.size() < 11)
                continue;
            // Files of one profile: same repository, commit and folder.
            // Files Windows set aside belong to the profile of the folder above.
            std::string folder = row[4].substr(0, row[4].rfind('/'));
            const std::string aside = "/ThumbCacheToDelete";
            if (folder.size() > aside.size() && folder.compare(folder.size() - aside.size(), aside.size(), aside) == 0)
                folder.erase(folder.size() - aside.size());
            c.rows.push_back({row[0], row[3] + "@" + row[5] + ":" + folder, row[6], row[10]});
        }
#ifdef _WIN32
        c.skip_reason = "the oracle is a Linux python3; the Linux suite compares with it";
        return c;
#endif
        if (run_command("/usr/bin/python3 -c 'import hashlib, struct' 2>/dev/null") != 0) {
            c.skip_reason = "python3 is not installed";
            return c;
        }
        std::string command = "/usr/bin/python3 " GLIMMERDEX_SOURCE_DIR "/tests/support/thumbcache_oracle.py";
        for (auto& row : c.rows)
            command += " " + dir + row.file;
        std::string out;
        run_command(command, &out);
        for (std::vector<std::string>& f : tsv_lines(out))
            if (f.size() >= 2)
                c.oracle[f[0]].push_back(std::move(f));
        return c;
    }();
    return c;
}

std::string path_of(const Row& row) { return corpus_dir() + "/thumbcache/" + row.file; }

// "walked=N entries" of the manifest notes, -1 where it says nothing.
int manifest_walked(const std::string& notes)
{
    const size_t at = notes.find("walked=");
    return at == std::string::npos ? -1 : std::atoi(notes.c_str() + at + 7);
}

std::string hex64(uint64_t v)
{
    char text[17];
    thumbcache_hash_text(v, text);
    return text;
}

#define REQUIRE_THUMBCACHE_CORPUS()                                                  \
    REQUIRE_CORPUS();                                                                \
    if (corpus().rows.empty())                                                       \
        GTEST_SKIP() << "no thumbcache folder in the shared corpus; test skipped";    \
    if (!corpus().skip_reason.empty())                                               \
        GTEST_SKIP() << corpus().skip_reason

} // namespace

TEST(RealThumbcaches, EveryCacheWalksLikeTheOracleAndTheManifest)
{
    REQUIRE_THUMBCACHE_CORPUS();
    int files = 0, entries = 0, verified = 0, recovered = 0, frees = 0, with_data = 0, data_verified = 0;
    for (const Row& row : corpus().rows) {
        if (row.signature != "CMMM")
            continue;
        SCOPED_TRACE(row.file);
        ThumbcacheFile f;
        ASSERT_EQ(thumbcache_load(path_of(row).c_str(), &f), 0) << failure_last().reason;
        ++files;
        std::vector<std::vector<std::string>> expected;
        int64_t free_at = -1;
        auto found = corpus().oracle.find(row.file);
        if (found != corpus().oracle.end())
            for (auto& line : found->second) {
                if (line[1] == "entry" && line.size() >= 9)
                    expected.push_back(line);
                else if (line[1] == "free")
                    free_at = std::stoll(line[2]);
            }
        ASSERT_EQ(size_t(f.count), expected.size());
        if (manifest_walked(row.notes) >= 0) {
            EXPECT_EQ(f.count, manifest_walked(row.notes)) << "count of the manifest";
        }
        EXPECT_EQ(f.free_record_offset, free_at);
        if (f.free_record_offset >= 0)
            ++frees;
        EXPECT_EQ(f.chain_break_offset, -1);
        for (int32_t i = 0; i < f.count; ++i) {
            const ThumbcacheEntry& e = f.entries[i];
            const std::vector<std::string>& o = expected[size_t(i)];
            SCOPED_TRACE(i);
            EXPECT_EQ(std::to_string(e.offset), o[2]);
            EXPECT_EQ(hex64(e.hash), o[3]);
            // The same bytes of the same file: where the data starts and how
            // long it is (the oracle's SHA-256 is of those bytes).
            EXPECT_EQ(std::to_string(e.payload.data - f.bytes), o[4]);
            EXPECT_EQ(std::to_string(e.payload.length), o[5]);
            EXPECT_EQ(e.header_checksum_ok, 1);
            EXPECT_EQ(o[7], "1");
            EXPECT_EQ(e.data_size == 0, e.data_checksum == 0);
            // Every record's data checksum verifies, here and in the oracle's own reckoning.
            EXPECT_EQ(thumbcache_entry_data_check(f, i), THUMBCACHE_CHECK_OK);
            EXPECT_EQ(o[8], "1");
            with_data += e.data_size > 0;
            data_verified += e.data_size > 0 && thumbcache_entry_data_check(f, i) == THUMBCACHE_CHECK_OK;
            verified += e.header_checksum_ok;
            recovered += e.recovered;
        }
        entries += f.count;
        thumbcache_free(&f);
    }
    EXPECT_EQ(files, 42);
    EXPECT_EQ(entries, 505);
    EXPECT_EQ(verified, entries);
    EXPECT_EQ(recovered, 0);
    EXPECT_EQ(with_data, 261);
    EXPECT_EQ(data_verified, with_data);
    std::printf("thumbcache corpus: %d cache files, %d entries, %d header checksums verified, %d recovered, "
                "%d free-space records, %d of %d records with data verify their data checksum\n", files, entries,
                verified, recovered, frees, data_verified, with_data);
}

TEST(RealThumbcaches, StoredSizesEqualThePictures)
{
    REQUIRE_THUMBCACHE_CORPUS();
    int probed = 0;
    for (const Row& row : corpus().rows) {
        if (row.signature != "CMMM")
            continue;
        SCOPED_TRACE(row.file);
        ThumbcacheFile f;
        ASSERT_EQ(thumbcache_load(path_of(row).c_str(), &f), 0);
        for (int32_t i = 0; i < f.count; ++i) {
            const ThumbcacheEntry& e = f.entries[i];
            if (e.data_size == 0)
                continue;
            EXPECT_STRNE(picture_format_name(e.payload.data, int32_t(e.payload.length)), "unknown") << "entry " << i;
            int32_t w = 0, h = 0;
            picture_probe(e.payload.data, int32_t(e.payload.length), &w, &h);
            EXPECT_GT(w, 0);
            EXPECT_GT(h, 0);
            if (e.has_dimensions) {
                EXPECT_EQ(uint32_t(w), e.width) << "entry " << i;
                EXPECT_EQ(uint32_t(h), e.height) << "entry " << i;
            }
            ++probed;
        }
        thumbcache_free(&f);
    }
    EXPECT_GT(probed, 0);
}

TEST(RealThumbcaches, IndexesDecodeAndLinkToTheirCaches)
{
    REQUIRE_THUMBCACHE_CORPUS();
    int indexes = 0, slots = 0, linked = 0, unknown = 0, dangling_live = 0, dangling_stale = 0;
    for (const Row& row : corpus().rows) {
        if (row.signature.compare(0, 4, "IMMM") != 0)
            continue;
        SCOPED_TRACE(row.file);
        ThumbcacheIndex x;
        ASSERT_EQ(thumbcache_index_load(path_of(row).c_str(), &x), 0) << failure_last().reason;
        ++indexes;
        std::vector<std::vector<std::string>> expected;
        auto found = corpus().oracle.find(row.file);
        if (found != corpus().oracle.end())
            expected = found->second;
        ASSERT_EQ(size_t(x.count), expected.size());
        EXPECT_EQ(uint32_t(x.count), x.used_count);
        EXPECT_FALSE(x.slots_truncated);
        for (int32_t i = 0; i < x.count; ++i) {
            const ThumbcacheIndexSlot& s = x.slots[i];
            const std::vector<std::string>& o = expected[size_t(i)];
            EXPECT_EQ(std::to_string(s.slot), o[2]);
            EXPECT_EQ(hex64(s.hash), o[3]);
            char text[200];
            std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(s.flags));
            EXPECT_EQ(text, o[4]);
            std::string offsets;
            for (uint32_t t = 0; t < x.type_count; ++t) {
                std::snprintf(text, sizeof text, "%s%x", t ? "," : "", s.offsets[t]);
                offsets += text;
            }
            EXPECT_EQ(offsets, o[5]);
            EXPECT_TRUE(s.flags_decoded);
            if (s.no_image) {  // folders, drives, networks: only a no-data record in the 256 cache
                for (uint32_t t = 0; t < x.type_count; ++t)
                    if (s.offsets[t] != 0 && s.offsets[t] != THUMBCACHE_NO_OFFSET) {
                        EXPECT_STREQ(thumbcache_bucket_name(x.version, t), "256");
                    }
            }
        }
        slots += x.count;

        // The caches of the same profile.
        std::vector<ThumbcacheFile> caches;
        const std::string prefix = row.file.find("iconcache") != std::string::npos ? "iconcache" : "thumbcache";
        for (const Row& other : corpus().rows) {
            const size_t name_at = other.file.find('_') + 1;
            if (other.group != row.group || other.signature != "CMMM" || other.file.compare(name_at, prefix.size(), prefix) != 0)
                continue;
            caches.emplace_back();
            ASSERT_EQ(thumbcache_load(path_of(other).c_str(), &caches.back()), 0);
        }
        std::vector<const ThumbcacheFile*> pointers;
        for (const ThumbcacheFile& c : caches) {
            pointers.push_back(&c);
            if (x.has_file_table) {  // the index's view of each file
                EXPECT_EQ(x.file_sizes[c.cache_type], c.size) << c.bucket;
                EXPECT_EQ(x.file_counts[c.cache_type], uint32_t(c.count)) << c.bucket;
            }
        }
        ThumbcacheLinks links;
        ASSERT_EQ(thumbcache_link(&x, pointers.data(), int32_t(pointers.size()), &links), 0);
        const bool stale = row.file.find(".tmp") != std::string::npos;
        if (stale) {
            EXPECT_GT(links.dangling_count, 0) << "a set-aside index no longer matches the live caches";
        } else {
            EXPECT_EQ(links.dangling_count, 0);
        }
        (stale ? dangling_stale : dangling_live) += links.dangling_count;
        linked += links.entry_count - links.unknown_count;
        unknown += links.unknown_count;
        thumbcache_links_free(&links);
        for (ThumbcacheFile& c : caches)
            thumbcache_free(&c);
        thumbcache_index_free(&x);
    }
    EXPECT_EQ(indexes, 12);
    std::printf("thumbcache corpus: %d index files, %d used slots; %d cache entries linked, %d unknown to their "
                "index; %d dangling offsets in live indexes, %d in the stale thm*.tmp\n",
                indexes, slots, linked, unknown, dangling_live, dangling_stale);
}
