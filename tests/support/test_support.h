#pragma once
// Helpers shared by the test programs.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <direct.h>
// POSIX's mkdir, for the tests that make folders: Windows folders have no mode.
inline int mkdir(const char* path, unsigned /*mode*/) { return _mkdir(path); }
#endif

// The shared corpus folder (GLIMMERDEX_CORPUS overrides the configured one);
// empty when it does not exist here.
std::string corpus_dir();

// Skips the running test with a clear message when the corpus is absent.
#define REQUIRE_CORPUS()                                                                        \
    do {                                                                                        \
        if (corpus_dir().empty())                                                               \
            GTEST_SKIP() << "shared corpus not found (set GLIMMERDEX_CORPUS); test skipped";    \
    } while (0)

std::vector<uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<uint8_t>& bytes);
bool file_exists(const std::string& path);
// Makes the folder and those above it (as mkdir -p); true when it is there.
bool make_folders(const std::string& path);
// The names in a folder (no "." and ".."), sorted; empty when it cannot be read.
std::vector<std::string> list_folder(const std::string& path);

// The tab-separated cells of one line ("a\t" is two cells, the second empty).
std::vector<std::string> tsv_cells(const std::string& line);
// Every line of text as its cells.
std::vector<std::vector<std::string>> tsv_lines(const std::string& text);

// Rows of a tab-separated manifest with a header line, as column -> value.
std::vector<std::vector<std::string>> read_tsv(const std::string& path, std::vector<std::string>* header);

// A fresh folder below the system's temporary folder, removed with its
// contents when the object goes. Restores the working directory it found.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
    std::string previous_cwd_;
};

// Runs a shell command, returns its exit status and (optionally) its stdout.
int run_command(const std::string& command, std::string* output = nullptr);

// The command that runs glimmerdex-cli: $GLIMMERDEX_CLI when set (for
// example "wine .../glimmerdex-cli.exe"), else the tool of this build.
std::string cli_command();

// The 16 hex digits a ThumbnailCacheId is written with ("2a9845460850edaf").
std::string hash_hex(uint64_t hash);

// Copies the corpus's Windows 11 search index (Windows.db and its log) into
// folder and gives the hash and path of an item it names; false where the
// corpus lacks it or this build cannot read it (the test then skips).
bool copy_corpus_search_index(const std::string& folder, uint64_t* hash, std::string* path);

// A cache without a Catalog whose "256_<hex>" streams (one small JPEG each)
// are named after the hashes given.
void write_hashed_cache(const std::string& path, const std::vector<uint64_t>& hashes);
