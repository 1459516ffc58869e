#include "tests/support/test_support.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

std::string corpus_dir()
{
    const char* env = std::getenv("GLIMMERDEX_CORPUS");
    std::string dir = env && *env ? env : GLIMMERDEX_CORPUS_DIR;
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

std::vector<std::vector<std::string>> read_tsv(const std::string& path, std::vector<std::string>* header)
{
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path);
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, '\t'))
            cells.push_back(cell);
        if (!line.empty() && line.back() == '\t')
            cells.emplace_back();
        if (first) {
            if (header)
                *header = cells;
            first = false;
        } else {
            rows.push_back(cells);
        }
    }
    return rows;
}

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

std::string cli_command()
{
    const char* other = std::getenv("GLIMMERDEX_CLI");
    return other && other[0] ? other : GLIMMERDEX_BINARY_DIR "/glimmerdex-cli";
}

int run_command(const std::string& command, std::string* output)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        if (output)
            output->append(buf, n);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
