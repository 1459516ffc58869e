// The temporary folder the search index copies its database into (made new
// and unique each time, removed only through the calls for files and for
// empty folders, UTF-8 names included) and the system named in the manifest.
#include <cstdio>
#include <string>

#include "platform/system.h"
#include "tests/support/test_support.h"

namespace {

std::string leaf_of(const std::string& path)
{
    const char* separator = sys_last_separator(path.c_str());
    return separator ? separator + 1 : path;
}

bool make_file(const std::string& path)
{
    std::FILE* f = sys_fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::fputs("x", f);
    return std::fclose(f) == 0;
}

}  // namespace

TEST(PlatformSystem, TempFolderUniqueAndRemovedOnlyWhenEmpty)
{
    std::string first, second;
    ASSERT_EQ(sys_make_temp_folder("gdx-platform-test", &first), 0);
    ASSERT_EQ(sys_make_temp_folder("gdx-platform-test", &second), 0);
    EXPECT_NE(first, second);
    for (const std::string& folder : {first, second}) {
        EXPECT_TRUE(sys_is_directory(folder.c_str())) << folder;
        EXPECT_EQ(leaf_of(folder).rfind("gdx-platform-test-", 0), 0u) << folder;
    }

    const std::string plain = first + "/index.db";
    const std::string wide = first + "/Bild \xC3\xA4\xE2\x82\xAC.db";  // "Bild ä€.db"
    ASSERT_TRUE(make_file(plain));
    ASSERT_TRUE(make_file(wide));
    struct Step {
        const char* what;
        int (*remove)(const char*);
        std::string path;
        int result;
        bool exists_after;
    };
    const Step steps[] = {
        {"a folder that holds files stays", sys_remove_folder, first, -1, true},
        {"a folder is not removed as a file", sys_remove_file, first, -1, true},
        {"a file", sys_remove_file, plain, 0, false},
        {"a file already gone", sys_remove_file, plain, -1, false},
        {"a file named in UTF-8", sys_remove_file, wide, 0, false},
        {"the folder once empty", sys_remove_folder, first, 0, false},
        {"a folder already gone", sys_remove_folder, first, -1, false},
        {"the other folder", sys_remove_folder, second, 0, false},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        EXPECT_EQ(s.remove(s.path.c_str()), s.result);
        EXPECT_EQ(sys_path_exists(s.path.c_str()) != 0, s.exists_after);
    }
}

TEST(PlatformSystem, OperatingSystemIsNamed)
{
    const std::string system = sys_os_description();
    EXPECT_FALSE(system.empty());
    EXPECT_EQ(system.find_first_of("\r\n"), std::string::npos) << system;
#ifdef _WIN32
    EXPECT_EQ(system.rfind("Windows", 0), 0u) << system;
#endif
}
