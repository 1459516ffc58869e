// JPEG decode speed: our decoder against libjpeg-turbo's TurboJPEG API on the
// same in-memory pictures, in the same process: every JPEG thumbnail of the
// real caches of the shared corpus, synthetic pictures of 96, 128 and 256
// pixels in each sampling and progressive, and 2000 x 1500 pictures.
//
// TurboJPEG decodes with box chroma upsampling (TJFLAG_FASTUPSAMPLE) into
// BGRA, the same output as ours; its handle is made once and reused, so only
// per-picture work is measured on both sides. Times are thread CPU time
// (waiting for other programs on a shared machine is left out); the two
// decoders alternate pass by pass, and the table gives the best pass of each
// and the median of the per-pass ratios.
//
// Usage: jpeg_bench [--passes N] [--filter TEXT]
// (--filter runs the sets whose names hold TEXT; a TEXT ending in $ names one
// set exactly.)
#include <dirent.h>
#include <time.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "picture/bytes.h"
#include "picture/picture.h"
#include "store/thumbsdb/catalog.h"
#include "store/thumbsdb/compound_file.h"
#include "store/thumbsdb/hashed_streams.h"

// The shared corpus, as seen from the repository; GLIMMERDEX_CORPUS overrides it.
#define GLIMMERDEX_BENCH_CORPUS "../shared/corpus"

namespace {

struct BenchPicture {
    std::vector<uint8_t> bytes;
    int32_t width, height;
};

struct Set {
    std::string name;
    std::vector<BenchPicture> pictures;
    int64_t max_pixels = 0;
};

struct Synthetic {
    const char* name;
    int width, height;
    int subsampling;  // TJSAMP_*
    bool progressive;
};

constexpr Synthetic BENCH_SYNTHETIC[] = {
    {"96x96 4:2:0", 96, 96, TJSAMP_420, false},
    {"96x96 4:2:2", 96, 96, TJSAMP_422, false},
    {"96x96 4:4:4", 96, 96, TJSAMP_444, false},
    {"96x96 grey", 96, 96, TJSAMP_GRAY, false},
    {"96x96 4:2:0 prog", 96, 96, TJSAMP_420, true},
    {"128x128 4:2:0", 128, 128, TJSAMP_420, false},
    {"128x128 4:2:2", 128, 128, TJSAMP_422, false},
    {"128x128 4:4:4", 128, 128, TJSAMP_444, false},
    {"128x128 grey", 128, 128, TJSAMP_GRAY, false},
    {"128x128 4:2:0 prog", 128, 128, TJSAMP_420, true},
    {"256x256 4:2:0", 256, 256, TJSAMP_420, false},
    {"256x256 4:2:2", 256, 256, TJSAMP_422, false},
    {"256x256 4:4:4", 256, 256, TJSAMP_444, false},
    {"256x256 grey", 256, 256, TJSAMP_GRAY, false},
    {"256x256 4:2:0 prog", 256, 256, TJSAMP_420, true},
    {"2000x1500 4:2:0", 2000, 1500, TJSAMP_420, false},
    {"2000x1500 4:4:4", 2000, 1500, TJSAMP_444, false},
    {"2000x1500 4:2:0 prog", 2000, 1500, TJSAMP_420, true},
};

double thread_seconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// A photograph-like picture: gradients, texture and edges, so that the
// entropy-coded data has a realistic density.
std::vector<uint8_t> make_rgb(int w, int h)
{
    std::vector<uint8_t> rgb(size_t(w) * h * 3);
    uint32_t state = 99;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = int(state >> 27) - 16;
            const int ring = ((x - w / 2) * (x - w / 2) + (y - h / 3) * (y - h / 3)) / (w / 8 + 1) % 64;
            uint8_t* p = &rgb[(size_t(y) * w + x) * 3];
            p[0] = uint8_t(std::max(0, std::min(255, x * 255 / w + noise)));
            p[1] = uint8_t(std::max(0, std::min(255, y * 200 / h + ring + noise)));
            p[2] = uint8_t(std::max(0, std::min(255, 128 + ring * 2 - 64 + noise)));
        }
    return rgb;
}

Set synthetic_set(const Synthetic& c)
{
    // A new handle per encode: a reused compress handle has been seen to write
    // a corrupt baseline stream after a progressive one.
    tjhandle tj = tjInitCompress();
    const std::vector<uint8_t> rgb = make_rgb(c.width, c.height);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int flags = c.progressive ? TJFLAG_PROGRESSIVE : 0;
    if (tjCompress2(tj, rgb.data(), c.width, 0, c.height, TJPF_RGB, &out, &size, c.subsampling, 85, flags) != 0) {
        std::fprintf(stderr, "tjCompress2: %s\n", tjGetErrorStr2(tj));
        std::exit(1);
    }
    Set set;
    set.name = c.name;
    set.pictures.push_back({std::vector<uint8_t>(out, out + size), c.width, c.height});
    set.max_pixels = int64_t(c.width) * c.height;
    tjFree(out);
    tjDestroy(tj);
    return set;
}

void add_picture(Set* set, const uint8_t* data, int32_t length)
{
    if (length < 2 || data[0] != 0xFF || data[1] != 0xD8)
        return;
    int32_t w = 0, h = 0;
    picture_probe(data, length, &w, &h);
    if (w <= 0 || h <= 0 || int64_t(w) * h > CATALOG_MAX_PICTURE_PIXELS)
        return;
    set->pictures.push_back({std::vector<uint8_t>(data, data + length), w, h});
    set->max_pixels = std::max(set->max_pixels, int64_t(w) * h);
}

// Every JPEG thumbnail the store yields from the real caches of the corpus
// (read at run time, never copied): catalog streams of the current format and
// the hashed streams of caches without a catalog.
Set real_set()
{
    Set set;
    set.name = "real thumbnails";
    const char* corpus = std::getenv("GLIMMERDEX_CORPUS");
    const std::string dir = std::string(corpus && *corpus ? corpus : GLIMMERDEX_BENCH_CORPUS) + "/real";
    std::vector<std::string> files;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() > 3 && name.compare(name.size() - 3, 3, ".db") == 0)
                files.push_back(dir + "/" + name);
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    for (const std::string& path : files) {
        if (store_load(path.c_str()) != 0)
            continue;
        CatalogCursor cursor;
        int16_t version = 0;
        CatalogEntry entry;
        if (catalog_begin(&cursor, &version) == 0 && version >= 7) {
            while (catalog_next(&cursor, &entry)) {
                const int32_t slot = catalog_stream_slot(entry.stream_number);
                if (slot < 0)
                    continue;
                const ByteView v{stream_table.pool + stream_table.offset[slot], size_t(store_slot_length(slot))};
                if (!view_has(v, 8, 4))
                    continue;
                const int32_t L = int32_t(read_le32(v.data + 8));
                if (L > 0 && view_has(v, 12, size_t(L)))
                    add_picture(&set, v.data + 12, L);
            }
        }
        for (int32_t slot = 0; slot < stream_table.count; ++slot) {
            const uint8_t* data = nullptr;
            int32_t length = 0;
            if (hashed_stream_payload(slot, &data, &length) == 0)
                add_picture(&set, data, length);
        }
    }
    store_release();
    return set;
}

std::vector<uint32_t> pixels;
tjhandle turbo;

void decode_ours(const Set& set)
{
    for (const BenchPicture& p : set.pictures)
        picture_decode(p.bytes.data(), int32_t(p.bytes.size()), reinterpret_cast<uint8_t*>(pixels.data()), p.width * 4,
                       p.width, p.height, 0, 0);
}

void decode_turbo(const Set& set)
{
    for (const BenchPicture& p : set.pictures)
        tjDecompress2(turbo, p.bytes.data(), p.bytes.size(), reinterpret_cast<unsigned char*>(pixels.data()), p.width,
                      p.width * 4, p.height, TJPF_BGRA, TJFLAG_FASTUPSAMPLE);
}

// Seconds per decode of the whole set, over enough repetitions for a
// measurable span.
double timed(void (*decode)(const Set&), const Set& set, int repetitions)
{
    const double start = thread_seconds();
    for (int i = 0; i < repetitions; ++i)
        decode(set);
    return (thread_seconds() - start) / repetitions;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void run(const Set& set, int passes)
{
    if (set.pictures.empty()) {
        std::printf("%-22s (no pictures: corpus not found)\n", set.name.c_str());
        return;
    }
    pixels.assign(size_t(set.max_pixels), 0);
    // Warm both, and size the repetitions so that a pass takes about 50 ms.
    decode_ours(set);
    decode_turbo(set);
    const double once = std::max(timed(decode_ours, set, 1), 1e-7);
    const int repetitions = std::max(1, int(0.05 / once));
    double best_ours = 1e30, best_turbo = 1e30;
    std::vector<double> ratios;
    for (int pass = 0; pass < passes; ++pass) {
        // Alternate which goes first, so that neither always follows the other.
        double ours, theirs;
        if (pass % 2 == 0) {
            ours = timed(decode_ours, set, repetitions);
            theirs = timed(decode_turbo, set, repetitions);
        } else {
            theirs = timed(decode_turbo, set, repetitions);
            ours = timed(decode_ours, set, repetitions);
        }
        best_ours = std::min(best_ours, ours);
        best_turbo = std::min(best_turbo, theirs);
        ratios.push_back(theirs / ours);
    }
    const double n = double(set.pictures.size());
    std::printf("%-22s %7zu %12.2f %12.2f %8.2f %8.2f\n", set.name.c_str(), set.pictures.size(), best_ours / n * 1e6,
                best_turbo / n * 1e6, best_turbo / best_ours, median(ratios));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    int passes = 7;
    const char* filter = "";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--passes") == 0)
            passes = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--filter") == 0)
            filter = argv[i + 1];
    }
    turbo = tjInitDecompress();
    std::printf("%-22s %7s %12s %12s %8s %8s\n", "pictures", "count", "ours us/pic", "turbo us/pic", "best", "median");
    const auto chosen = [&](const char* name) {
        const size_t n = std::strlen(filter);
        if (n > 0 && filter[n - 1] == '$')
            return std::strlen(name) == n - 1 && std::strncmp(name, filter, n - 1) == 0;
        return std::strstr(name, filter) != nullptr;
    };
    if (chosen("real thumbnails"))
        run(real_set(), passes);
    for (const Synthetic& c : BENCH_SYNTHETIC)
        if (chosen(c.name))
            run(synthetic_set(c), passes);
    std::printf("ratio = TurboJPEG time / our time (above 1: ours is faster); best of %d passes and median\n", passes);
    tjDestroy(turbo);
    return 0;
}
