// The folder listing: one order on every volume (Windows volumes hold no
// two names equal but for case, so that tie is not tried here), "." and ".." left out,
// folders marked, and a folder that cannot be listed told from an empty one.
#include <string>
#include <vector>

#include "platform/system.h"
#include "tests/support/test_support.h"

TEST(FolderList, OrderIgnoresCaseAndLeavesOutDots)
{
    TempDir dir;
    for (const char* name : {"b.db", "Thumbs.db", "C.jpg", "a.jpg", "thumbcache_32.db"})
        write_file(dir.file(name), std::vector<uint8_t>{1});
    ASSERT_EQ(sys_make_directory(dir.file("Sub").c_str()), 0);
    std::vector<SysFindData> entries;
    ASSERT_EQ(sys_list_folder(dir.path(), &entries), 0);
    std::vector<std::string> names;
    for (const SysFindData& d : entries)
        names.push_back(std::string(d.name) + ((d.attributes & SYS_ATTR_DIRECTORY) ? "/" : ""));
    EXPECT_EQ(names, (std::vector<std::string>{"a.jpg", "b.db", "C.jpg", "Sub/", "thumbcache_32.db", "Thumbs.db"}));

    ASSERT_EQ(sys_list_folder(dir.file("Sub"), &entries), 0);
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(sys_list_folder(dir.file("absent"), &entries), -1);
    EXPECT_EQ(sys_list_folder(dir.file("b.db"), &entries), -1);
}
