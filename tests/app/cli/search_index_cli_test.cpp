// glimmerdex-cli with a Windows Search index: names from it in list, list
// --catalog and extract; found by itself below a mounted disk with
// --recursive; an unreadable one reported once while the listing goes on.
#include <sstream>
#include <string>
#include <vector>

#include "store/search/search_index.h"
#include "tests/support/test_support.h"

namespace {

const std::string cli = cli_command();

std::string win11_index() { return corpus_dir() + "/search_index/win11-rathbunvm2-prebrowsing"; }

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::stringstream ss(text);
    for (std::string line; std::getline(ss, line);)
        lines.push_back(line);
    return lines;
}

TEST(CliSearchIndex, AnUnreadableIndexIsReportedOnceAndTheListingGoesOn)
{
    TempDir dir;
    write_hashed_cache(dir.file("Thumbs.db"), {0x2a9845460850edafull});
    write_file(dir.file("Windows.edb"), std::vector<uint8_t>(4096, 0x55));
    std::string out;
    const int status = run_command(cli + " list --search-index '" + dir.file("Windows.edb") + "' '" +
                                       dir.file("Thumbs.db") + "' 2>" + dir.file("err"),
                                   &out);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("256_2a9845460850edaf\t20\t10"), std::string::npos) << out;
    const std::vector<uint8_t> err = read_file(dir.file("err"));
    const std::string text(err.begin(), err.end());
    EXPECT_EQ(lines_of(text).size(), 1u) << text;
    EXPECT_NE(text.find("search index not read: "), std::string::npos) << text;
}

TEST(CliSearchIndex, RealWindows11IndexNamesStreamsInListCatalogAndExtract)
{
    REQUIRE_CORPUS();
    if (!file_exists(win11_index() + "/Windows.db"))
        GTEST_SKIP() << "the Windows 11 search index is not in the corpus; test skipped";
    // A mounted disk of our own: the real index at its usual place (letter
    // case changed), a profile's cache with two hashes from it and one not.
    TempDir disk;
    const std::string index_dir = disk.path() + "/programdata/Microsoft/Search/Data/Applications/Windows";
    ASSERT_EQ(run_command("mkdir -p '" + index_dir + "' '" + disk.path() + "/Users/x/Pictures' && cp '" +
                          win11_index() + "'/* '" + index_dir + "'/ && chmod u+w '" + index_dir + "'/*"),
              0);
    SearchIndex index;
    ASSERT_EQ(search_index_load((index_dir + "/Windows.db").c_str(), &index), 0) << failure_last().reason;
    uint64_t known[2] = {};
    std::string paths[2];
    for (int k = 0, i = 0; k < 2 && i < index.count; i++) {
        const char* p = index.text + index.items[i].path;
        if (std::string(p).find('.') != std::string::npos && (k == 0 || index.items[i].hash != known[0]))
            known[k] = index.items[i].hash, paths[k++] = p;
    }
    ASSERT_FALSE(paths[1].empty());
    const uint64_t unknown = 0x0123456789abcdefull;
    ASSERT_EQ(search_index_lookup(&index, unknown), nullptr);
    search_index_free(&index);
    const std::string cache = disk.path() + "/Users/x/Pictures/Thumbs.db";
    write_hashed_cache(cache, {known[0], unknown, known[1]});

    // list: the path as the name; found by itself with --recursive, and said so.
    std::string out;
    ASSERT_EQ(run_command(cli + " list --recursive '" + disk.path() + "' 2>" + disk.file("err"), &out), 0);
    auto rows = lines_of(out);
    ASSERT_EQ(rows.size(), 4u) << out;
    EXPECT_EQ(rows[1].substr(0, rows[1].find('\t', rows[1].find('\t') + 1)), cache + "\t" + paths[0]);
    EXPECT_NE(rows[2].find("\t256_" + hash_hex(unknown) + "\t"), std::string::npos);
    EXPECT_NE(rows[3].find("\t" + paths[1] + "\t"), std::string::npos);
    const std::vector<uint8_t> err = read_file(disk.file("err"));
    EXPECT_NE(std::string(err.begin(), err.end()).find("search index " + index_dir + "/Windows.db"), std::string::npos);

    // Without --recursive and the option, no names.
    out.clear();
    ASSERT_EQ(run_command(cli + " list '" + cache + "' 2>/dev/null", &out), 0);
    EXPECT_EQ(out.find(paths[0]), std::string::npos);

    // --catalog: the stream name stays; path and name_source join.
    out.clear();
    ASSERT_EQ(run_command(cli + " list --catalog --search-index '" + index_dir + "/Windows.db' '" + cache +
                              "' 2>/dev/null",
                          &out),
              0);
    rows = lines_of(out);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].substr(rows[0].size() - 24), "\tpath\tname_source\tlinked");
    EXPECT_NE(rows[1].find("\t256_" + hash_hex(known[0]) + "\t"), std::string::npos);
    EXPECT_EQ(rows[1].substr(rows[1].size() - paths[0].size() - 15), "\t" + paths[0] + "\tsearch-index\t");
    EXPECT_EQ(rows[2].substr(rows[2].size() - 13), "\t\tidentifier\t");

    // extract: files after the path's last component, the full path reported.
    const std::string leaf = search_index_leaf(paths[0].c_str());
    ASSERT_EQ(run_command(cli + " extract --search-index '" + index_dir + "/Windows.db' '" + cache + "' '" +
                          disk.file("out") + "' >/dev/null 2>&1"),
              0);
    const std::string leaf_file = disk.file("out") + "/" + leaf + (leaf.size() > 4 && leaf.substr(leaf.size() - 4) == ".jpg" ? "" : ".jpg");
    EXPECT_TRUE(file_exists(leaf_file)) << leaf_file;
    EXPECT_TRUE(file_exists(disk.file("out") + "/256_" + hash_hex(unknown) + ".jpg"));
    const std::vector<uint8_t> report = read_file(disk.file("out") + "/report.csv");
    EXPECT_NE(std::string(report.begin(), report.end()).find(paths[1]), std::string::npos);

    // sheet: the cells show other names with the index; an unreadable one
    // fails the run but draws the sheet as without it.
    const std::string sheet = cli + " sheet '" + cache + "' ";
    ASSERT_EQ(run_command(sheet + "'" + disk.file("plain.png") + "' 2>/dev/null"), 0);
    ASSERT_EQ(run_command(sheet + "--search-index '" + index_dir + "/Windows.db' '" + disk.file("named.png") +
                          "' 2>/dev/null"),
              0);
    write_file(disk.file("broken.edb"), std::vector<uint8_t>(64, 0));
    EXPECT_EQ(run_command(sheet + "--search-index '" + disk.file("broken.edb") + "' '" + disk.file("broken.png") +
                          "' 2>/dev/null"),
              1);
    EXPECT_NE(read_file(disk.file("plain.png")), read_file(disk.file("named.png")));
    EXPECT_EQ(read_file(disk.file("plain.png")), read_file(disk.file("broken.png")));
}

TEST(CliSearchIndex, RealWindows10PairNamesEightEntriesAndTheirFiles)
{
    REQUIRE_CORPUS();
    const std::string edb = corpus_dir() + "/search_index/win10-rathbunvm/Windows.edb";
    if (!file_exists(edb))
        GTEST_SKIP() << "the Windows 10 search index is not in the corpus; test skipped";
    // The machine's Explorer folder, rebuilt from the corpus rows of that machine.
    TempDir dir;
    const std::string explorer = dir.path() + "/Explorer";
    ASSERT_EQ(run_command("mkdir '" + explorer + "'"), 0);
    int files = 0;
    for (auto& row : read_tsv(corpus_dir() + "/thumbcache/manifest.tsv", nullptr))
        if (row.size() > 4 && row[4].find("Win10/RathbunVM/thumbcache_") != std::string::npos) {
            const std::string name = row[4].substr(row[4].rfind('/') + 1);
            write_file(explorer + "/" + name, read_file(corpus_dir() + "/thumbcache/" + row[0]));
            files++;
        }
    ASSERT_EQ(files, 6);
    std::string out;
    ASSERT_EQ(run_command(cli + " list --catalog --format csv --search-index '" + edb + "' '" + explorer +
                              "' 2>/dev/null",
                          &out),
              0);
    int named = 0;
    for (const std::string& line : lines_of(out))
        named += line.find(",search-index,") != std::string::npos;
    EXPECT_EQ(named, 8) << out;
    const size_t targets = out.find(",C:\\Users\\AndrewRathbun\\Desktop\\Targets,search-index,");
    ASSERT_NE(targets, std::string::npos);
    EXPECT_LT(out.find(",14689f01a6e63900,", targets), out.find('\n', targets)) << "hash 14689f01a6e63900 is the Targets folder";

    // The two with pictures are written under their names.
    ASSERT_EQ(run_command(cli + " extract --search-index '" + edb + "' '" + explorer + "' '" + dir.file("out") +
                          "' >/dev/null 2>&1"),
              0);
    EXPECT_TRUE(file_exists(dir.file("out") + "/Targets.bmp"));
    EXPECT_TRUE(file_exists(dir.file("out") + "/Modules.bmp"));
}

} // namespace
