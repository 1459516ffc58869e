// What a path names, as both programs see it: one folder's families in
// their order, a walk folder by folder, the viewer's one list.
#include <string>
#include <vector>

#include "platform/system.h"
#include "store/resolve.h"
#include "tests/support/test_support.h"

namespace {

std::vector<std::string> tails(const std::vector<std::string>& paths, size_t cut)
{
    std::vector<std::string> out;
    for (const std::string& p : paths)
        out.push_back(p.substr(cut));
    return out;
}

} // namespace

TEST(Resolve, FoldersFilesAndWalks)
{
    TempDir dir;
    const std::string root = dir.path();
    ASSERT_EQ(sys_make_directory((root + "/a").c_str()), 0);
    ASSERT_EQ(sys_make_directory((root + "/a/sub").c_str()), 0);
    ASSERT_EQ(sys_make_directory((root + "/b").c_str()), 0);
    ASSERT_EQ(sys_make_directory((root + "/empty").c_str()), 0);
    for (const char* name : {"a/ehthumbs.db", "a/iconcache_16.db", "a/thumbcache_256.db", "a/thumbcache_32.db",
                             "a/Thumbs.db", "a/sub/Thumbs.db", "b/thumbcache_idx.db", "b/ehthumbs_vista.db",
                             "b/thumbcache_1024.db", "b/thumbcache_96.db"})
        write_file(root + "/" + name, std::vector<uint8_t>{0});

    struct Case {
        std::string path;
        bool recursive;
        int result;
        std::vector<std::string> tool, viewer;
    };
    const std::vector<Case> cases = {
        {"/a", false, 0, {"/a/Thumbs.db"}, {"/a/Thumbs.db"}},
        {"/b", false, 0,
         {"/b/ehthumbs_vista.db", "/b/thumbcache_96.db", "/b/thumbcache_1024.db"},
         {"/b/thumbcache_96.db", "/b/thumbcache_1024.db"}},
        {"", true, 0,
         {"/a/Thumbs.db", "/a/ehthumbs.db", "/a/thumbcache_32.db", "/a/thumbcache_256.db", "/a/iconcache_16.db",
          "/a/sub/Thumbs.db", "/b/ehthumbs_vista.db", "/b/thumbcache_96.db", "/b/thumbcache_1024.db"},
         {"/a/Thumbs.db"}},
        {"/b/thumbcache_idx.db", false, 0, {"/b/thumbcache_idx.db"}, {"/b/thumbcache_idx.db"}},
        {"/absent.db", false, 0, {"/absent.db"}, {"/absent.db"}},
        {"/empty", true, -1, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ResolvedCaches resolved;
        EXPECT_EQ(store_resolve(root + c.path, c.recursive, &resolved), c.result);
        EXPECT_EQ(tails(store_resolved_for_tool(resolved), root.size()), c.tool);
        std::vector<std::string> viewer;
        for (const ResolvedCache& r : store_resolved_for_viewer(resolved))
            viewer.push_back(r.path);
        EXPECT_EQ(tails(viewer, root.size()), c.viewer);
    }
}
