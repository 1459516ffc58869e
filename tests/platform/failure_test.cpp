// Why something failed, in one shape: each loader names the file it was given
// and its own reason, and a thread keeps its own failure.
#include <gtest/gtest.h>

#include <string>

#include "picture/picture.h"
#include "platform/failure.h"
#include "platform/thread.h"
#include "store/explorer/thumbcache.h"
#include "store/explorer/thumbcache_index.h"
#include "store/search/search_index.h"
#include "store/thumbsdb/compound_file.h"
#include "tests/support/test_support.h"

TEST(Failure, EachLoaderNamesItsFileAndItsOwnReason)
{
    TempDir dir;
    const std::string junk = dir.file("junk.db");
    write_file(junk, std::vector<uint8_t>(600, 0x41));
    const std::string absent = dir.file("absent.db");
    struct Case {
        const char* what;
        const std::string& path;
        int (*load)(const char* path);
        const char* reason;
    };
    const Case cases[] = {
        {"Thumbs.db, not one", junk, [](const char* p) { return store_load(p); }, STORE_NOT_COMPOUND},
        {"Thumbs.db, absent", absent, [](const char* p) { return store_load(p); }, STORE_CANNOT_OPEN},
        {"thumbcache, not one", junk,
         [](const char* p) {
             ThumbcacheFile f;
             const int r = thumbcache_load(p, &f);
             thumbcache_free(&f);
             return r;
         },
         "not a thumbnail cache (no CMMM header)"},
        {"index, not one", junk,
         [](const char* p) {
             ThumbcacheIndex x;
             const int r = thumbcache_index_load(p, &x);
             thumbcache_index_free(&x);
             return r;
         },
         "not a thumbnail cache index (no IMMM signature)"},
        {"search index, not one", junk,
         [](const char* p) {
             SearchIndex x;
             return search_index_load(p, &x);
         },
         "neither an ESE nor an SQLite database"},
    };
    for (const Case& c : cases) {
        failure_concerns("an earlier file");
        fail("an earlier reason");
        EXPECT_EQ(c.load(c.path.c_str()), -1) << c.what;
        EXPECT_EQ(c.path, failure_last().file) << c.what;
        EXPECT_STREQ(c.reason, failure_last().reason) << c.what;
        EXPECT_EQ(c.path + ": " + c.reason, failure_text()) << c.what;
    }
    store_release();
}

TEST(Failure, AThreadKeepsItsOwn)
{
    failure_clear();
    fail("this thread's");
    std::string seen_there;
    SysThread* t = sys_thread_start(
        [](void* out) {
            const uint8_t bytes[4] = {1, 2, 3, 4};
            uint32_t pixel = 0;
            picture_decode(bytes, 4, reinterpret_cast<uint8_t*>(&pixel), 4, 1, 1, 0, 0);
            *static_cast<std::string*>(out) = failure_last().reason;
        },
        &seen_there);
    ASSERT_NE(t, nullptr);
    sys_thread_join(t);
    EXPECT_EQ("unknown format", seen_there);
    EXPECT_STREQ("this thread's", failure_last().reason);
    failure_clear();
}
