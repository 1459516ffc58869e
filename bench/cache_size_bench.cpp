// Explorer caches of real size: thumbcache_2560.db-like files written with
// the fixture writer (valid records around 2000 x 1500 JPEGs), then
//  - the reader's walk (what every command does first: record headers and
//    names), in a child process, its time and peak memory;
//  - `glimmerdex-cli list` and `extract`, their time and peak memory;
//  - the reference: OpenSSL's MD5, SHA-1 and SHA-256 over the same file in
//    one pass, measured in the same run; extract is reported as a ratio to it.
// Never part of the test run.
//
//     cache_size_bench [--cli PATH] [--dir DIR] [--keep] [MEGABYTES]...
//
// Sizes default to 618 and 3500 MB. The caches and the extract folders go
// into DIR (default /tmp) and are removed afterwards unless --keep.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "store/explorer/thumbcache.h"
#include "tools/fixture/thumbcache_writer.h"
#include "tools/fixture/thumbsdb_writer.h"

namespace {

using fixture::Bytes;

constexpr int PICTURES = 8;        // distinct JPEGs, repeated under distinct hashes
constexpr uint32_t CACHE_2560 = 8; // cache type of thumbcache_2560.db (version 32)
constexpr double MB = 1e6;

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A photograph-like picture: the test gradients with grain, so that it
// compresses as a camera picture does (about a megabyte at quality 90).
Bytes photo_jpeg(uint32_t seed)
{
    fixture::RgbImage image = fixture::make_test_image(2000, 1500, seed);
    uint32_t state = 0x9E3779B9u * (seed + 1);
    for (uint32_t& p : image.pixels) {
        state = state * 1664525u + 1013904223u;
        const int grain = int(state >> 28) - 8;
        uint32_t out = 0;
        for (int shift = 0; shift < 24; shift += 8) {
            int c = int(p >> shift & 0xFF) + grain;
            c = c < 0 ? 0 : c > 255 ? 255 : c;
            out |= uint32_t(c) << shift;
        }
        p = out;
    }
    return fixture::encode_jpeg(image, 90);
}

// Writes a version-32 2560 cache of at least target bytes, record by record
// (never the whole file in memory), ending in a free-space record that fills
// the last MiB as Windows' files do. Returns the record count, -1 on failure.
long write_cache(const std::string& path, double target, const Bytes (&jpegs)[PICTURES])
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return -1;
    std::fseek(f, 24, SEEK_SET);
    uint64_t at = 24;
    long count = 0;
    while (double(at) < target) {
        fixture::ThumbcacheSpec one;
        one.cache_type = CACHE_2560;
        one.free_record = false;
        one.records.resize(1);
        fixture::ThumbcacheRecord& r = one.records[0];
        r.hash = 0x5a17c0de00000000ull + uint64_t(count) + 1;
        r.data = jpegs[count % PICTURES];
        r.width = 2000, r.height = 1500;
        const Bytes file = fixture::write_thumbcache(one);
        std::fwrite(file.data() + 24, 1, file.size() - 24, f);
        at += file.size() - 24;
        ++count;
    }
    // The free record fills the file to the next MiB (with room for its header).
    const uint64_t end = (at + 56 + (1u << 20) - 1) / (1u << 20) * (1u << 20);
    fixture::ThumbcacheSpec free_only;
    free_only.cache_type = CACHE_2560;
    free_only.file_size = size_t(24 + end - at);
    const Bytes tail = fixture::write_thumbcache(free_only);
    std::fwrite(tail.data() + 24, 1, tail.size() - 24, f);
    // The header, with the chain's end as the first available offset.
    fixture::ThumbcacheSpec header;
    header.cache_type = CACHE_2560;
    header.free_record = false;
    header.first_available = int64_t(at);
    const Bytes head = fixture::write_thumbcache(header);
    std::fseek(f, 0, SEEK_SET);
    std::fwrite(head.data(), 1, 24, f);
    return std::fclose(f) == 0 ? count : -1;
}

// OpenSSL's three digests over the file, each byte read once.
double openssl_digests(const std::string& path)
{
    const auto start = std::chrono::steady_clock::now();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return -1;
    EVP_MD_CTX* ctx[3] = {EVP_MD_CTX_new(), EVP_MD_CTX_new(), EVP_MD_CTX_new()};
    EVP_DigestInit_ex(ctx[0], EVP_md5(), nullptr);
    EVP_DigestInit_ex(ctx[1], EVP_sha1(), nullptr);
    EVP_DigestInit_ex(ctx[2], EVP_sha256(), nullptr);
    std::vector<unsigned char> buffer(size_t(1) << 20);
    size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), f)) > 0)
        for (EVP_MD_CTX* c : ctx)
            EVP_DigestUpdate(c, buffer.data(), got);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length;
    for (EVP_MD_CTX* c : ctx) {
        EVP_DigestFinal_ex(c, out, &length);
        EVP_MD_CTX_free(c);
    }
    std::fclose(f);
    return seconds_since(start);
}

struct Run {
    int status;
    double seconds;
    double peak_mib;
};

Run finish(pid_t pid, std::chrono::steady_clock::time_point start)
{
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), seconds_since(start),
            double(usage.ru_maxrss) / 1024.0};
}

// What a forked child holds before it does anything (the bench's own
// pictures and buffers, shared with it): taken off the walk's peak.
double idle_child_mib()
{
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    return finish(pid, start).peak_mib;
}

// The reader alone, in a child: the walk and every record's name. Its peak
// is given beyond an idle child's.
Run walk(const std::string& path, long* records)
{
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0)
        return {-1, 0, 0};
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipe_fds[0]);
        ThumbcacheFile file;
        if (thumbcache_load(path.c_str(), &file) != 0)
            _exit(1);
        long names = 0;
        for (int32_t i = 0; i < file.count; ++i) {
            char name[128];
            names += thumbcache_identifier_utf8(file.entries[i].identifier, name, sizeof name) > 0;
        }
        const long count = file.count;
        thumbcache_free(&file);
        _exit(write(pipe_fds[1], &count, sizeof count) == sizeof count && names == count ? 0 : 2);
    }
    close(pipe_fds[1]);
    Run run = finish(pid, start);
    run.peak_mib -= idle_child_mib();
    if (read(pipe_fds[0], records, sizeof *records) != sizeof *records)
        *records = -1;
    close(pipe_fds[0]);
    return run;
}

// The command-line tool, its output thrown away.
Run tool(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return finish(pid, start);
}

std::string beside_self(const char* argv0, const char* name)
{
    std::string self = argv0;
    const size_t slash = self.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : self.substr(0, slash);
    for (const char* up : {"/", "/../"})
        if (access((dir + up + name).c_str(), X_OK) == 0)
            return dir + up + name;
    return name;
}

} // namespace

int main(int argc, char** argv)
{
    std::string cli = beside_self(argv[0], "glimmerdex-cli");
    std::string dir = "/tmp";
    bool keep = false;
    std::vector<double> sizes;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--cli") && i + 1 < argc)
            cli = argv[++i];
        else if (!std::strcmp(argv[i], "--dir") && i + 1 < argc)
            dir = argv[++i];
        else if (!std::strcmp(argv[i], "--keep"))
            keep = true;
        else
            sizes.push_back(std::atof(argv[i]) * MB);
    }
    if (sizes.empty())
        sizes = {618 * MB, 3500 * MB};
    if (access(cli.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "cache_size_bench: no glimmerdex-cli at %s (--cli PATH)\n", cli.c_str());
        return 2;
    }
    Bytes jpegs[PICTURES];
    double jpeg_bytes = 0;
    for (int k = 0; k < PICTURES; ++k) {
        jpegs[k] = photo_jpeg(uint32_t(k));
        jpeg_bytes += double(jpegs[k].size());
    }
    std::printf("tool: %s\npictures: 2000 x 1500 JPEG, %.0f KB on average\n\n", cli.c_str(),
                jpeg_bytes / PICTURES / 1e3);
    std::printf("| cache | records | step | time (s) | peak RSS (MiB) | peak RSS per GB (MiB) | ratio to OpenSSL's digests |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    int failures = 0;
    for (double target : sizes) {
        const std::string path = dir + "/glimmerdex-bench-" + std::to_string(long(target / MB)) + "/thumbcache_2560.db";
        const std::string folder = path.substr(0, path.rfind('/'));
        const std::string out = folder + "-extract";
        mkdir(folder.c_str(), 0755);
        const long written = write_cache(path, target, jpegs);
        struct stat st{};
        if (written < 0 || stat(path.c_str(), &st) != 0) {
            std::fprintf(stderr, "cache_size_bench: cannot write %s\n", path.c_str());
            return 1;
        }
        const double gb = double(st.st_size) / 1e9;
        const std::string label = std::to_string(long(double(st.st_size) / MB + 0.5)) + " MB";
        // The reference first, which also brings the file into the page
        // cache for every step after it.
        openssl_digests(path);
        const double reference = openssl_digests(path);
        std::printf("| %s | %ld | OpenSSL MD5+SHA-1+SHA-256 | %.2f | - | - | 1 |\n", label.c_str(), written, reference);
        long records = -1;
        const Run w = walk(path, &records);
        failures += w.status != 0 || records != written;
        std::printf("| %s | %ld | reader walk | %.3f | %.1f | %.1f | %.2f |\n", label.c_str(), records, w.seconds,
                    w.peak_mib, w.peak_mib / gb, w.seconds / reference);
        const Run l = tool({cli, "list", path});
        failures += l.status != 0;
        std::printf("| %s | %ld | `list`%s | %.2f | %.1f | %.1f | %.2f |\n", label.c_str(), written,
                    l.status ? " (failed)" : "", l.seconds, l.peak_mib, l.peak_mib / gb, l.seconds / reference);
        std::system(("rm -rf '" + out + "'").c_str());
        const Run x = tool({cli, "extract", path, out});
        failures += x.status != 0;
        std::printf("| %s | %ld | `extract`%s | %.2f | %.1f | %.1f | %.2f |\n", label.c_str(), written,
                    x.status ? " (failed)" : "", x.seconds, x.peak_mib, x.peak_mib / gb, x.seconds / reference);
        std::fflush(stdout);
        if (!keep)
            std::system(("rm -rf '" + out + "' '" + folder + "'").c_str());
    }
    return failures ? 1 : 0;
}
