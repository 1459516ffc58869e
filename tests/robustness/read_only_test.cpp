// The cache file is never written: every corpus cache read through the
// viewer's load path and the command-line tool keeps its bytes and its time.
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "app/cli/digests/digests.h"
#include "store/file_list.h"
#include "tests/support/test_support.h"

namespace {

struct Stamp {
    std::string sha;
    int64_t mtime_ns;
    int64_t size;
    bool operator==(const Stamp& o) const { return sha == o.sha && mtime_ns == o.mtime_ns && size == o.size; }
};

Stamp stamp(const std::string& path)
{
    std::vector<uint8_t> bytes = read_file(path);
    char hex[65];
    sha256_hex(bytes.data(), bytes.size(), hex);
    struct stat st {};
    stat(path.c_str(), &st);
    return {hex, int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, int64_t(st.st_size)};
}

} // namespace

TEST(ReadOnly, CorpusCachesAreNeverWritten)
{
    REQUIRE_CORPUS();
    std::string real = corpus_dir() + "/real";
    std::vector<std::string> files;
    for (auto& row : read_tsv(real + "/manifest.tsv", nullptr))
        if (row.size() > 1)
            files.push_back(row[1]);
    ASSERT_GT(files.size(), 600u);
    std::map<std::string, Stamp> before;
    for (const std::string& f : files)
        before[f] = stamp(real + "/" + f);

    for (const std::string& f : files) {
        file_list_build_from(real.c_str(), f.c_str(), 3);
    }
    file_list_release();
    std::string all;
    for (const std::string& f : files)
        all += " " + real + "/" + f;
    TempDir out;
    run_command(cli_command() + " list --catalog" + all + " >/dev/null 2>&1");
    run_command(cli_command() + " extract" + all.substr(0, 2000) + " " + out.path() +
                " >/dev/null 2>&1");

    for (const std::string& f : files)
        EXPECT_TRUE(stamp(real + "/" + f) == before[f]) << f;
}
