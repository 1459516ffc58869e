// The viewer with a Windows Search index: /index=FILE, the index of a
// mounted disk found from its profile's Explorer folder, names in the list
// and cells, and the volume-root walk itself.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/app_index.h"
#include "app/app_load.h"
#include "app/command_line.h"
#include "store/file_list.h"
#include "store/search/search_index.h"
#include "tests/support/test_support.h"

namespace {

const char* EXPLORER = "Users/x/AppData/Local/Microsoft/Windows/Explorer";

struct Reset {
    ~Reset()
    {
        file_list_release();
        app_index_release();
        reset_start_settings();
    }
};

} // namespace

TEST(SearchIndexView, VolumeRootAboveAProfileExplorerFolder)
{
    struct Case {
        const char* folder;
        const char* root;  // null: not a profile's Explorer folder
    } cases[] = {
        {"/mnt/disk/Users/x/AppData/Local/Microsoft/Windows/Explorer", "/mnt/disk"},
        {"/mnt/disk/users/X/appdata/local/microsoft/windows/explorer/", "/mnt/disk"},
        {"/mnt/disk/Users/x/AppData/Local/Microsoft/Windows/Explorer/./", "/mnt/disk"},
        {"/Users/x/AppData/Local/Microsoft/Windows/Explorer", "/"},
        {"/mnt/disk/Users/x/AppData/Local/Microsoft/Windows", nullptr},
        {"/mnt/disk/Users/x/AppData/Roaming/Microsoft/Windows/Explorer", nullptr},
        {"Users/x/AppData/Local/Microsoft/Windows/Explorer", nullptr},
        {"/mnt/disk/Users//AppData/Local/Microsoft/Windows/Explorer", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        char root[64] = "unchanged";
        EXPECT_EQ(search_index_volume_root(c.folder, root, sizeof root), c.root ? 0 : -1) << c.folder;
        if (c.root) {
            EXPECT_STREQ(root, c.root) << c.folder;
        }
    }
    char tiny[4];
    EXPECT_EQ(search_index_volume_root(cases[0].folder, tiny, sizeof tiny), -1) << "the root does not fit";
}

TEST(SearchIndexView, OptionAndIndexOfTheMountedDisk)
{
    Reset reset;
    std::vector<char> line;
    const char* text = "exe C:\\x /INDEX=D:\\a b\\Windows.edb";
    line.assign(text, text + std::strlen(text) + 1);
    reset_start_settings();
    ASSERT_EQ(parse_command_line(line.data()), COMMAND_LINE_SETTINGS);
    EXPECT_STREQ(start_index_path, "D:\\a");
    reset_start_settings();

#ifndef GLIMMERDEX_HAVE_SQLITE
    GTEST_SKIP() << "this build reads no Windows.db (no SQLite)";
#endif
    REQUIRE_CORPUS();
    const std::string win11 = corpus_dir() + "/search_index/win11-rathbunvm2-prebrowsing";
    if (!file_exists(win11 + "/Windows.db"))
        GTEST_SKIP() << "the Windows 11 search index is not in the corpus; test skipped";
    TempDir disk;
    const std::string index_dir = disk.path() + "/ProgramData/Microsoft/Search/Data/Applications/windows";
    const std::string explorer = disk.path() + "/" + EXPLORER;
    ASSERT_TRUE(make_folders(index_dir) && make_folders(explorer) && make_folders(disk.path() + "/elsewhere"));
    for (const std::string& name : list_folder(win11))
        write_file(index_dir + "/" + name, read_file(win11 + "/" + name));
    SearchIndex index;
    ASSERT_EQ(search_index_load((index_dir + "/Windows.db").c_str(), &index), 0) << failure_last().reason;
    const uint64_t known = index.items[index.count / 2].hash;
    const std::string path = search_index_lookup(&index, known);
    search_index_free(&index);
    const uint64_t unknown = 0x0123456789abcdefull;
    write_hashed_cache(explorer + "/Thumbs.db", {unknown, known});
    write_hashed_cache(disk.path() + "/elsewhere/Thumbs.db", {known});

    // Found by itself from the Explorer folder: the full path in the list
    // (the information line), its last component in the cell.
    ASSERT_EQ(app_load(explorer.c_str()), 0);
    ASSERT_EQ(file_list.count, 2);
    EXPECT_EQ(std::string(file_list_name(0)), "256_" + hash_hex(unknown));
    EXPECT_EQ(std::string(file_list_cell_name(0)), "256_" + hash_hex(unknown));
    EXPECT_EQ(std::string(file_list_name(1)), path);
    EXPECT_EQ(std::string(file_list_cell_name(1)), search_index_leaf(path.c_str()));

    // Elsewhere only with the option.
    ASSERT_EQ(app_load((disk.path() + "/elsewhere").c_str()), 0);
    EXPECT_EQ(std::string(file_list_name(0)), "256_" + hash_hex(known));
    const std::string option = index_dir + "/Windows.db";
    start_index_path = option.c_str();
    ASSERT_EQ(app_load((disk.path() + "/elsewhere").c_str()), 0);
    EXPECT_EQ(std::string(file_list_name(0)), path);

    // An index that cannot be read leaves the names, not the list.
    write_file(disk.file("broken.db"), std::vector<uint8_t>(100, 1));
    const std::string broken = disk.file("broken.db");
    start_index_path = broken.c_str();
    ASSERT_EQ(app_load((disk.path() + "/elsewhere").c_str()), 0);
    EXPECT_EQ(std::string(file_list_name(0)), "256_" + hash_hex(known));
}

TEST(SearchIndexView, ExplorerRecordsOfTheRealWindows10PairShowTheirFileNames)
{
    Reset reset;
#ifndef GLIMMERDEX_HAVE_ESEDB
    GTEST_SKIP() << "this build reads no Windows.edb (no libesedb)";
#endif
    REQUIRE_CORPUS();
    const std::string edb = corpus_dir() + "/search_index/win10-rathbunvm/Windows.edb";
    if (!file_exists(edb))
        GTEST_SKIP() << "the Windows 10 search index is not in the corpus; test skipped";
    std::string cache;
    for (auto& row : read_tsv(corpus_dir() + "/thumbcache/manifest.tsv", nullptr))
        if (row.size() > 4 && row[4].find("Win10/RathbunVM/thumbcache_48.db") != std::string::npos)
            cache = corpus_dir() + "/thumbcache/" + row[0];
    ASSERT_FALSE(cache.empty());
    TempDir disk;
    const std::string index_dir = disk.path() + "/ProgramData/Microsoft/Search/Data/Applications/Windows";
    const std::string explorer = disk.path() + "/" + EXPLORER;
    ASSERT_TRUE(make_folders(index_dir) && make_folders(explorer));
    write_file(index_dir + "/Windows.edb", read_file(edb));
    write_file(explorer + "/thumbcache_48.db", read_file(cache));

    ASSERT_EQ(app_load((explorer + "/thumbcache_48.db").c_str()), 0);
    std::vector<std::string> names, cells;
    for (int32_t i = 0; i < file_list.count; i++)
        if (std::strchr(file_list_name(i), '\\'))
            names.push_back(file_list_name(i)), cells.push_back(file_list_cell_name(i));
    EXPECT_EQ(names, (std::vector<std::string>{"C:\\Users\\AndrewRathbun\\Desktop\\Targets",
                                               "C:\\Users\\AndrewRathbun\\Desktop\\Modules"}));
    EXPECT_EQ(cells, (std::vector<std::string>{"Targets", "Modules"}));
}
