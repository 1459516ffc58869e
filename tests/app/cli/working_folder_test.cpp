// Every command started in a folder of its own with relative paths: what it
// writes lands where it was named from that folder, the files it reads are
// found from there, and the evidence folder stays as it was.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/fixture/thumbsdb_writer.h"

namespace {

const std::string cli = cli_command();

std::map<std::string, std::vector<uint8_t>> folder_bytes(const std::string& folder)
{
    std::map<std::string, std::vector<uint8_t>> bytes;
    for (const std::string& name : list_folder(folder))
        bytes[name] = read_file(folder + "/" + name);
    return bytes;
}

} // namespace

TEST(CliWorkingFolder, RelativePathsAreTakenFromTheStartFolder)
{
    TempDir root;
    const std::string evidence = root.file("evidence"), work = root.file("work");
    ASSERT_TRUE(make_folders(evidence) && make_folders(work + "/idx"));
    uint64_t known = 0x2a9845460850edafull;
    std::string known_path;
    const bool have_index = copy_corpus_search_index(work + "/idx", &known, &known_path);
    write_hashed_cache(evidence + "/Thumbs.db", {known, 0x0123456789abcdefull});
    write_file(evidence + "/picture.jpg", fixture::encode_jpeg(fixture::make_test_image(20, 10, 1)));
    write_file(work + "/only-here.jpg", fixture::encode_jpeg(fixture::make_test_image(8, 8, 2)));
    const auto evidence_before = folder_bytes(evidence);

    struct Case {
        std::string args;
        std::vector<std::string> outputs;  // below the start folder
        std::string printed;               // a text the standard output holds
        bool needs_index;
    };
    const std::string index = " --search-index idx/Windows.db";
    const Case cases[] = {
        {"list --flags 3 ../evidence", {}, "\npicture.jpg\t", false},
        {"list --catalog ../evidence", {}, "256_0123456789abcdef", false},
        {"extract ../evidence case", {"case/report.csv", "case/manifest.json", "case/hashes.txt"}, "", false},
        {"sheet --flags 3 ../evidence sheet.png", {"sheet.png"}, "", false},
        {"decode ../evidence/picture.jpg picture.png", {"picture.png"}, "", false},
        {"list" + index + " ../evidence", {}, known_path, true},
        {"list --catalog" + index + " ../evidence", {}, known_path, true},
        {"extract" + index + " ../evidence named", {"named/report.csv"}, "", true},
        {"sheet" + index + " ../evidence named.png", {"named.png"}, "", true},
    };
    std::set<std::string> work_names{"idx", "only-here.jpg"};
    for (const Case& c : cases) {
        if (c.needs_index && !have_index)
            continue;
        std::string out;
        EXPECT_EQ(run_command("cd '" + work + "' && " + cli + " " + c.args + " 2>/dev/null", &out), 0) << c.args;
        for (const std::string& o : c.outputs) {
            EXPECT_TRUE(file_exists(work + "/" + o)) << c.args << ": " << o;
            work_names.insert(o.substr(0, o.find('/')));
        }
        if (!c.printed.empty()) {
            EXPECT_NE(out.find(c.printed), std::string::npos) << c.args << "\n" << out;
        }
        EXPECT_EQ(out.find("only-here.jpg"), std::string::npos) << c.args << ": the start folder is not the cache's";
    }
    EXPECT_EQ(list_folder(work), std::vector<std::string>(work_names.begin(), work_names.end()));
    EXPECT_EQ(folder_bytes(evidence), evidence_before) << "the evidence folder's names and bytes are unchanged";
    if (!have_index)
        GTEST_SKIP() << "the corpus's Windows 11 search index is absent or not readable here: the --search-index cases "
                        "were skipped";
}
