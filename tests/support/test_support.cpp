#include "tests/support/test_support.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "store/search/search_index.h"
#include "tools/fixture/thumbsdb_writer.h"

#ifdef _WIN32
namespace {
// The drive the program started on (Wine's Z: for the Unix root), taken
// before any test changes folder: "/work/..." names a folder there, not on
// the drive of the temporary folder.
const std::string start_drive = std::filesystem::current_path().root_name().string();
} // namespace
#endif

std::string corpus_dir()
{
    const char* env = std::getenv("GLIMMERDEX_CORPUS");
    std::string dir = env && *env ? env : GLIMMERDEX_CORPUS_DIR;
#ifdef _WIN32
    if (!dir.empty() && (dir[0] == '/' || dir[0] == '\\') && (dir.size() < 2 || (dir[1] != '/' && dir[1] != '\\')))
        dir = start_drive + dir;
#endif
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return "";
    return dir;
}

std::vector<uint8_t> read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

bool file_exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool make_folders(const std::string& path)
{
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

std::vector<std::string> list_folder(const std::string& path)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& e : std::filesystem::directory_iterator(path, error))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> tsv_cells(const std::string& line)
{
    std::vector<std::string> cells;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, '\t'))
        cells.push_back(cell);
    if (!line.empty() && line.back() == '\t')
        cells.emplace_back();
    return cells;
}

std::vector<std::vector<std::string>> tsv_lines(const std::string& text)
{
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(tsv_cells(line));
    return lines;
}

std::vector<std::vector<std::string>> read_tsv(const std::string& path, std::vector<std::string>* header)
{
    const std::vector<uint8_t> bytes = read_file(path);  // the same bytes as on Linux
    std::vector<std::vector<std::string>> rows = tsv_lines(std::string(bytes.begin(), bytes.end()));
    if (rows.empty())
        return rows;
    if (header)
        *header = rows.front();
    rows.erase(rows.begin());
    return rows;
}

#ifdef _WIN32

TempDir::TempDir()
{
    char cwd[4096];
    if (_getcwd(cwd, sizeof cwd))
        previous_cwd_ = cwd;
    // No mkdtemp here: a name from the process id and a counter, taken only
    // when the folder did not exist yet.
    static unsigned counter = 0;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 1000 && path_.empty(); ++attempt) {
        std::filesystem::path candidate =
            base / ("glimmerdex-test-" + std::to_string(_getpid()) + "-" + std::to_string(counter++));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec))
            path_ = candidate.string();
    }
    if (path_.empty())
        ADD_FAILURE() << "cannot create a temporary folder below " << base.string();
}

TempDir::~TempDir()
{
    if (!previous_cwd_.empty() && _chdir(previous_cwd_.c_str()) != 0)
        std::perror("chdir");
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

#else

TempDir::TempDir()
{
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd))
        previous_cwd_ = cwd;
    std::string templ = (std::filesystem::temp_directory_path() / "glimmerdex-test-XXXXXX").string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        ADD_FAILURE() << "mkdtemp failed";
    path_ = buf.data();
}

TempDir::~TempDir()
{
    if (!previous_cwd_.empty() && chdir(previous_cwd_.c_str()) != 0)
        std::perror("chdir");
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

#endif

std::string cli_command()
{
    const char* other = std::getenv("GLIMMERDEX_CLI");
    return other && other[0] ? other : GLIMMERDEX_BINARY_DIR "/glimmerdex-cli";
}

int run_command(const std::string& command, std::string* output)
{
#ifdef _WIN32
    // cmd.exe runs the command; binary mode keeps its output's bytes as they are.
    FILE* pipe = _popen(command.c_str(), "rb");
#else
    FILE* pipe = popen(command.c_str(), "r");
#endif
    if (!pipe)
        return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        if (output)
            output->append(buf, n);
#ifdef _WIN32
    // _pclose gives the exit code itself.
    return _pclose(pipe);
#else
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

std::string hash_hex(uint64_t hash)
{
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(hash));
    return out;
}

bool copy_corpus_search_index(const std::string& folder, uint64_t* hash, std::string* path)
{
    const std::string from = corpus_dir() + "/search_index/win11-rathbunvm2-prebrowsing/Windows.db";
    if (corpus_dir().empty() || !file_exists(from))
        return false;
    for (const char* suffix : {"", "-wal", "-shm"})
        if (file_exists(from + suffix))
            write_file(folder + "/Windows.db" + suffix, read_file(from + suffix));
    SearchIndex index;
    if (search_index_load((folder + "/Windows.db").c_str(), &index) != 0)
        return false;
    for (int32_t i = 0; i < index.count && path->empty(); i++)
        if (index.text[index.items[i].path]) {
            *hash = index.items[i].hash;
            *path = index.text + index.items[i].path;
        }
    search_index_free(&index);
    return !path->empty();
}

void write_hashed_cache(const std::string& path, const std::vector<uint64_t>& hashes)
{
    std::vector<fixture::CompoundEntry> streams;
    const fixture::Bytes jpeg = fixture::encode_jpeg(fixture::make_test_image(20, 10, 1));
    for (uint64_t h : hashes)
        streams.push_back({"256_" + hash_hex(h), fixture::hashed_stream(jpeg)});
    write_file(path, fixture::write_compound(streams));
}
