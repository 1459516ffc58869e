// `sheet` of a large Explorer cache against TurboJPEG decoding the same
// pictures at full size once. The cache is made in the run by the fixture
// writer: a thumbcache_2560.db of valid records (CRC-64 header checksums)
// around 2000 x 1500 JPEGs (4:2:0, quality 90), as heavy users' caches hold.
//
// Times are process CPU time (all threads; waiting for other programs on a
// shared machine is left out) and wall time; the sheet on one thread, the
// sheet on --jobs threads (default one per processor, as the tool) and the
// reference alternate pass by pass, and the table gives the best pass of
// each and the median of the per-pass ratios. With several threads the wall
// time is what a user waits; the CPU time is the work done. A second table breaks one
// picture's cell down: our full decode then the fit, our decode for the box,
// and TurboJPEG's full decode alone.
//
// Usage: sheet_bench [--pictures N] [--passes N] [--jobs N]
#include <fcntl.h>
#include <time.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "picture/fit.h"
#include "platform/work_pool.h"
#include "tools/fixture/thumbcache_writer.h"

namespace {

double cpu_seconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double wall_seconds()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

struct Times {
    double cpu, wall;
};

constexpr int32_t BENCH_WIDTH = 2000, BENCH_HEIGHT = 1500;
constexpr int32_t BENCH_DISTINCT = 10;  // distinct pictures, repeated through the cache

std::vector<fixture::Bytes> make_pictures()
{
    std::vector<fixture::Bytes> pictures;
    for (int32_t k = 0; k < BENCH_DISTINCT; ++k)
        pictures.push_back(fixture::encode_jpeg(fixture::make_test_image(BENCH_WIDTH, BENCH_HEIGHT, uint32_t(k)), 90));
    return pictures;
}

std::string make_cache(const std::string& folder, const std::vector<fixture::Bytes>& pictures, int32_t count)
{
    fixture::ThumbcacheSpec spec;
    spec.version = 32;
    spec.cache_type = 8;  // the 2560 bucket of version 32
    for (int32_t i = 0; i < count; ++i) {
        fixture::ThumbcacheRecord r;
        r.hash = 0x1000 + uint64_t(i);
        r.data = pictures[size_t(i) % pictures.size()];
        r.width = BENCH_WIDTH;
        r.height = BENCH_HEIGHT;
        spec.records.push_back(r);
    }
    const fixture::Bytes file = fixture::write_thumbcache(spec);
    const std::string path = folder + "/thumbcache_2560.db";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(file.data(), 1, file.size(), f) != file.size()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::fclose(f);
    return path;
}

// One sheet in this process, its messages out of the way.
Times sheet(const std::string& cache, const std::string& out, int jobs)
{
    std::vector<std::string> words = {"--jobs", std::to_string(jobs), cache, out};
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    std::fflush(stdout);
    const int saved = dup(2), null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    const double c0 = cpu_seconds(), w0 = wall_seconds();
    const int result = cli_sheet(int(argv.size()), argv.data());
    const Times t{cpu_seconds() - c0, wall_seconds() - w0};
    dup2(saved, 2);
    close(saved);
    close(null);
    if (result != 0) {
        std::fprintf(stderr, "sheet failed (%d)\n", result);
        std::exit(1);
    }
    return t;
}

// TurboJPEG's full-size decode of every picture the cache holds, once.
Times turbo_all(tjhandle tj, const std::vector<fixture::Bytes>& pictures, int32_t count)
{
    std::vector<uint8_t> pixels(size_t(BENCH_WIDTH) * BENCH_HEIGHT * 4);
    const double c0 = cpu_seconds(), w0 = wall_seconds();
    for (int32_t i = 0; i < count; ++i) {
        const fixture::Bytes& p = pictures[size_t(i) % pictures.size()];
        tjDecompress2(tj, p.data(), p.size(), pixels.data(), BENCH_WIDTH, BENCH_WIDTH * 4, BENCH_HEIGHT, TJPF_BGRA,
                      TJFLAG_FASTUPSAMPLE);
    }
    return Times{cpu_seconds() - c0, wall_seconds() - w0};
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// CPU seconds per call of f over the distinct pictures, best of a few rounds.
template <typename F>
double per_picture(const std::vector<fixture::Bytes>& pictures, F f)
{
    double best = 1e30;
    for (int round = 0; round < 3; ++round) {
        const double c0 = cpu_seconds();
        for (const fixture::Bytes& p : pictures)
            f(p);
        best = std::min(best, (cpu_seconds() - c0) / double(pictures.size()));
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    int32_t count = 150;
    int passes = 5;
    int jobs = sys_default_jobs();
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--pictures") == 0)
            count = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--passes") == 0)
            passes = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--jobs") == 0)
            jobs = std::max(1, std::atoi(argv[i + 1]));
    }
    char templ[] = "/tmp/glimmerdex-sheet-bench-XXXXXX";
    if (!mkdtemp(templ)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = templ;
    const std::vector<fixture::Bytes> pictures = make_pictures();
    const std::string cache = make_cache(folder, pictures, count);
    const std::string out = folder + "/sheet.png";
    tjhandle tj = tjInitDecompress();

    sheet(cache, out, jobs);  // warm
    turbo_all(tj, pictures, count);
    // [0]: one thread, [1]: `jobs` threads.
    std::vector<double> cpu_ratios[2], wall_ratios[2];
    Times best_sheet[2] = {{1e30, 1e30}, {1e30, 1e30}}, best_turbo{1e30, 1e30};
    for (int pass = 0; pass < passes; ++pass) {
        Times s[2], t;
        if (pass % 2 == 0) {
            s[0] = sheet(cache, out, 1);
            s[1] = sheet(cache, out, jobs);
            t = turbo_all(tj, pictures, count);
        } else {
            t = turbo_all(tj, pictures, count);
            s[1] = sheet(cache, out, jobs);
            s[0] = sheet(cache, out, 1);
        }
        best_turbo = {std::min(best_turbo.cpu, t.cpu), std::min(best_turbo.wall, t.wall)};
        for (int k = 0; k < 2; ++k) {
            best_sheet[k] = {std::min(best_sheet[k].cpu, s[k].cpu), std::min(best_sheet[k].wall, s[k].wall)};
            cpu_ratios[k].push_back(s[k].cpu / t.cpu);
            wall_ratios[k].push_back(s[k].wall / t.wall);
        }
    }
    long cache_bytes = 0;
    if (FILE* f = std::fopen(cache.c_str(), "rb")) {
        std::fseek(f, 0, SEEK_END);
        cache_bytes = std::ftell(f);
        std::fclose(f);
    }
    std::printf("cache: %d records of %dx%d JPEG (%d distinct), %.1f MB\n", count, BENCH_WIDTH, BENCH_HEIGHT,
                BENCH_DISTINCT, double(cache_bytes) / 1e6);
    std::printf("%-34s %10s %10s\n", "", "CPU ms", "wall ms");
    for (int k = 0; k < 2; ++k) {
        const std::string name = "sheet --jobs " + std::to_string(k == 0 ? 1 : jobs);
        std::printf("%-34s %10.1f %10.1f\n", name.c_str(), best_sheet[k].cpu * 1e3, best_sheet[k].wall * 1e3);
    }
    std::printf("%-34s %10.1f %10.1f\n", "TurboJPEG, every picture once", best_turbo.cpu * 1e3, best_turbo.wall * 1e3);
    for (int k = 0; k < 2; ++k)
        std::printf("ratio sheet --jobs %d / TurboJPEG (goal <= 0.5): CPU best %.3f, median %.3f; wall best %.3f, "
                    "median %.3f\n",
                    k == 0 ? 1 : jobs, best_sheet[k].cpu / best_turbo.cpu, median(cpu_ratios[k]),
                    best_sheet[k].wall / best_turbo.wall, median(wall_ratios[k]));

    // One cell, by parts.
    std::vector<uint32_t> pixels(size_t(BENCH_WIDTH) * BENCH_HEIGHT);
    const PictureBox cell{PICTURE_FIT_BOX_WIDTH, PICTURE_FIT_BOX_HEIGHT, 0, int64_t(1) << 40};
    const double full_fit = per_picture(pictures, [&](const fixture::Bytes& p) {
        std::fill(pixels.begin(), pixels.end(), 0u);
        picture_decode(p.data(), int32_t(p.size()), reinterpret_cast<uint8_t*>(pixels.data()), BENCH_WIDTH * 4,
                       BENCH_WIDTH, BENCH_HEIGHT, 0, 0);
        Picture fitted;
        if (picture_fit(Picture{pixels.data(), BENCH_WIDTH * 4, BENCH_WIDTH, BENCH_HEIGHT}, cell.width, cell.height,
                        0, &fitted) == 0)
            std::free(fitted.pixels);
    });
    const double for_box = per_picture(pictures, [&](const fixture::Bytes& p) {
        Picture fitted;
        if (picture_decode_for_box(p.data(), int32_t(p.size()), cell, &fitted) == 0)
            std::free(fitted.pixels);
    });
    const double turbo = per_picture(pictures, [&](const fixture::Bytes& p) {
        tjDecompress2(tj, p.data(), p.size(), reinterpret_cast<uint8_t*>(pixels.data()), BENCH_WIDTH, BENCH_WIDTH * 4,
                      BENCH_HEIGHT, TJPF_BGRA, TJFLAG_FASTUPSAMPLE);
    });
    std::printf("one %dx%d picture into a %dx%d cell, CPU ms: full decode + fit %.2f, decode for the box %.2f "
                "(1/%d), TurboJPEG full decode %.2f\n",
                BENCH_WIDTH, BENCH_HEIGHT, cell.width, cell.height, full_fit * 1e3, for_box * 1e3,
                1 << picture_box_scale_log2(BENCH_WIDTH, BENCH_HEIGHT, cell.width, cell.height), turbo * 1e3);
    tjDestroy(tj);
    std::remove(cache.c_str());
    std::remove(out.c_str());
    rmdir(folder.c_str());
    return 0;
}
