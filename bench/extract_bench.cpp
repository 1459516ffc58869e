// extract of a large Explorer cache against OpenSSL's MD5, SHA-1 and SHA-256
// over the same file, in the same process and the same run. Goal: extract at
// most 3 times as long as the three digests.
//
// The cache is made here with the fixture writer, in a temporary folder: a
// thumbcache_2560.db of valid records (header and data checksums) around
// --pictures JPEGs of --width x --height pixels (default 150 of 2000 x 1500,
// some 150 MB, as a heavy user's cache holds). The reference reads the file
// in 1 MiB slices and feeds each slice to the three digests of libcrypto's
// EVP interface, one after the other, as a careful script would. extract
// runs in this process (cli_extract) into a fresh folder, at --jobs 1 and at
// the default (one thread per processor); it reads the cache's digests before
// and after, hashes every payload and reads every written file back.
//
// Usage: extract_bench [--pictures N] [--width W] [--height H] [--passes N]
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "bench/bench_clock.h"
#include "platform/work_pool.h"
#include "tools/fixture/thumbcache_writer.h"

namespace {

struct Settings {
    long pictures = 150, width = 2000, height = 1500, passes = 3;
};

[[noreturn]] void fail(const char* what, const char* detail)
{
    std::fprintf(stderr, "extract_bench: %s: %s\n", what, detail);
    std::exit(1);
}

// Photographs compress worse than the fixture's smooth test pictures: noise
// over the test picture brings a 2000 x 1500 JPEG near the size of a real one.
fixture::RgbImage noisy_picture(long width, long height, uint32_t seed)
{
    fixture::RgbImage image = fixture::make_test_image(int32_t(width), int32_t(height), seed);
    uint32_t state = seed * 2654435761u + 1;
    for (uint32_t& pixel : image.pixels) {
        state = state * 1664525u + 1013904223u;
        uint32_t noisy = 0;
        for (int shift = 0; shift < 24; shift += 8) {
            int v = int(pixel >> shift & 0xFF) + int(state >> (shift + 4) & 15) - 8;
            noisy |= uint32_t(std::clamp(v, 0, 255)) << shift;
        }
        pixel = noisy;
    }
    return image;
}

std::string make_cache(const std::string& dir, const Settings& s)
{
    fixture::ThumbcacheSpec spec;
    for (long i = 0; i < s.pictures; ++i) {
        fixture::ThumbcacheRecord r;
        r.hash = 0x5eed000000000000ull + uint64_t(i);
        r.data = fixture::encode_jpeg(noisy_picture(s.width, s.height, uint32_t(i)), 90);
        r.width = uint32_t(s.width);
        r.height = uint32_t(s.height);
        spec.records.push_back(std::move(r));
    }
    fixture::Bytes file = fixture::write_thumbcache(spec);
    const std::string path = dir + "/thumbcache_2560.db";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(file.data(), 1, file.size(), f) != file.size() || std::fclose(f) != 0)
        fail(path.c_str(), "cannot write it");
    return path;
}

// OpenSSL's three digests over the file, read once in slices.
BenchClock openssl_digests(const std::string& path)
{
    BenchClock start = bench_now();
    const EVP_MD* kinds[3] = {EVP_md5(), EVP_sha1(), EVP_sha256()};
    EVP_MD_CTX* context[3];
    for (int k = 0; k < 3; ++k) {
        context[k] = EVP_MD_CTX_new();
        if (!context[k] || EVP_DigestInit_ex(context[k], kinds[k], nullptr) != 1)
            fail("OpenSSL", "cannot start a digest");
    }
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        fail(path.c_str(), "cannot read it");
    std::vector<unsigned char> slice(1 << 20);
    for (size_t n; (n = std::fread(slice.data(), 1, slice.size(), f)) > 0;)
        for (int k = 0; k < 3; ++k)
            EVP_DigestUpdate(context[k], slice.data(), n);
    std::fclose(f);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length;
    for (int k = 0; k < 3; ++k) {
        EVP_DigestFinal_ex(context[k], digest, &length);
        EVP_MD_CTX_free(context[k]);
    }
    BenchClock end = bench_now();
    return {end.wall - start.wall, end.cpu - start.cpu};
}

// One extract in this process, its output out of the way afterwards.
BenchClock extract(const std::vector<std::string>& words)
{
    std::vector<std::string> copy = words;
    std::vector<char*> argv;
    for (std::string& w : copy)
        argv.push_back(w.data());
    std::fflush(stdout);
    std::fflush(stderr);
    int saved_out = dup(1), saved_err = dup(2), null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    BenchClock start = bench_now();
    int result = cli_extract(int(argv.size()), argv.data());
    BenchClock end = bench_now();
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    close(null);
    if (result != CLI_OK)
        fail("extract failed", words.back().c_str());
    std::filesystem::remove_all(words.back());
    return {end.wall - start.wall, end.cpu - start.cpu};
}

} // namespace

int main(int argc, char** argv)
{
    Settings s;
    for (int i = 1; i + 1 < argc; i += 2) {
        long* target = std::strcmp(argv[i], "--pictures") == 0 ? &s.pictures
                       : std::strcmp(argv[i], "--width") == 0  ? &s.width
                       : std::strcmp(argv[i], "--height") == 0 ? &s.height
                       : std::strcmp(argv[i], "--passes") == 0 ? &s.passes
                                                               : nullptr;
        if (!target)
            fail("unknown option", argv[i]);
        *target = std::max(1L, std::atol(argv[i + 1]));
    }
    char templ[] = "/tmp/glimmerdex-extract-bench-XXXXXX";
    if (!mkdtemp(templ))
        fail("mkdtemp", std::strerror(errno));
    const std::string dir = templ;
    BenchClock start = bench_now();
    const std::string cache = make_cache(dir, s);
    struct stat st;
    stat(cache.c_str(), &st);
    std::printf("cache: %ld pictures of %ld x %ld, %.1f MiB, made in %.1f s; %d processors\n\n", s.pictures, s.width,
                s.height, double(st.st_size) / (1 << 20), bench_now().wall - start.wall, sys_default_jobs());
    openssl_digests(cache);  // the file in the page cache for both

    const std::string jobs_default = std::to_string(sys_default_jobs());
    std::vector<double> reference_wall, reference_cpu, wall[2], cpu[2], ratio[2], cpu_ratio[2];
    for (long p = 0; p < s.passes; ++p) {
        BenchClock reference = openssl_digests(cache);
        reference_wall.push_back(reference.wall);
        reference_cpu.push_back(reference.cpu);
        for (int j = 0; j < 2; ++j) {
            BenchClock spent = extract({"--jobs", j ? jobs_default : "1", cache, dir + "/out"});
            wall[j].push_back(spent.wall);
            cpu[j].push_back(spent.cpu);
            ratio[j].push_back(spent.wall / reference.wall);
            cpu_ratio[j].push_back(spent.cpu / reference.cpu);
        }
    }
    std::printf("| run | wall ms | CPU ms | ratio (wall) | ratio (CPU) |\n|---|---:|---:|---:|---:|\n");
    std::printf("| OpenSSL MD5 + SHA-1 + SHA-256 of the file | %.0f | %.0f | 1 | 1 |\n", bench_median(reference_wall) * 1e3,
                bench_median(reference_cpu) * 1e3);
    for (int j = 0; j < 2; ++j)
        std::printf("| extract --jobs %s | %.0f | %.0f | %.2f | %.2f |\n", j ? jobs_default.c_str() : "1",
                    bench_median(wall[j]) * 1e3, bench_median(cpu[j]) * 1e3, bench_median(ratio[j]), bench_median(cpu_ratio[j]));
    std::filesystem::remove_all(dir);
    return 0;
}
