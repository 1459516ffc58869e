// JPEG decode speed: our decoder against libjpeg-turbo's TurboJPEG API on the
// same in-memory pictures (thumbnail sizes and one large picture), pixels per
// second for both and the ratio. TurboJPEG decodes with box chroma upsampling
// (TJFLAG_FASTUPSAMPLE) into BGRA, the same output as ours; its handle is made
// once and reused, so only per-picture work is measured on both sides.
#include <turbojpeg.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "picture/bytes.h"
#include "picture/picture.h"
#include "store/catalog.h"
#include "store/compound_file.h"

// The shared corpus, as seen from the repository; GLIMMERDEX_CORPUS overrides it.
#define GLIMMERDEX_BENCH_CORPUS "../shared/corpus"

namespace {

struct Case {
    const char* name;
    int width, height;
    int subsampling;  // TJSAMP_*
    bool progressive;
};

const Case kCases[] = {
    {"96x96_420", 96, 96, TJSAMP_420, false},
    {"96x96_444", 96, 96, TJSAMP_444, false},
    {"96x96_420_prog", 96, 96, TJSAMP_420, true},
    {"128x128_420", 128, 128, TJSAMP_420, false},
    {"128x128_444", 128, 128, TJSAMP_444, false},
    {"128x128_420_prog", 128, 128, TJSAMP_420, true},
    {"256x256_420", 256, 256, TJSAMP_420, false},
    {"256x256_444", 256, 256, TJSAMP_444, false},
    {"256x256_420_prog", 256, 256, TJSAMP_420, true},
    {"2000x1500_420", 2000, 1500, TJSAMP_420, false},
};

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

std::vector<uint8_t> encode(const Case& c)
{
    tjhandle tj = tjInitCompress();
    const std::vector<uint8_t> rgb = make_rgb(c.width, c.height);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int flags = c.progressive ? TJFLAG_PROGRESSIVE : 0;
    if (tjCompress2(tj, rgb.data(), c.width, 0, c.height, TJPF_RGB, &out, &size, c.subsampling, 85, flags) != 0) {
        std::fprintf(stderr, "tjCompress2: %s\n", tjGetErrorStr2(tj));
        std::exit(1);
    }
    std::vector<uint8_t> jpeg(out, out + size);
    tjFree(out);
    tjDestroy(tj);
    return jpeg;
}

void bench_ours(benchmark::State& state, const Case* c)
{
    const std::vector<uint8_t> jpeg = encode(*c);
    std::vector<uint32_t> pixels(size_t(c->width) * c->height);
    for (auto _ : state) {
        int rc = picture_decode(jpeg.data(), int32_t(jpeg.size()), reinterpret_cast<uint8_t*>(pixels.data()),
                                c->width * 4, c->width, c->height, 0, 0);
        if (rc != 0)
            state.SkipWithError("picture_decode failed");
        benchmark::DoNotOptimize(pixels.data());
        benchmark::ClobberMemory();
    }
    state.counters["pixels/s"] =
        benchmark::Counter(double(c->width) * c->height, benchmark::Counter::kIsIterationInvariantRate);
}

void bench_turbo(benchmark::State& state, const Case* c)
{
    const std::vector<uint8_t> jpeg = encode(*c);
    std::vector<uint32_t> pixels(size_t(c->width) * c->height);
    tjhandle tj = tjInitDecompress();
    for (auto _ : state) {
        int rc = tjDecompress2(tj, jpeg.data(), jpeg.size(), reinterpret_cast<unsigned char*>(pixels.data()),
                               c->width, c->width * 4, c->height, TJPF_BGRA, TJFLAG_FASTUPSAMPLE);
        if (rc != 0)
            state.SkipWithError("tjDecompress2 failed");
        benchmark::DoNotOptimize(pixels.data());
        benchmark::ClobberMemory();
    }
    tjDestroy(tj);
    state.counters["pixels/s"] =
        benchmark::Counter(double(c->width) * c->height, benchmark::Counter::kIsIterationInvariantRate);
}

// Thumbnails of one real cache of the shared corpus (read at run time, never
// copied): the pictures the program decodes most.
struct RealSet {
    std::vector<std::vector<uint8_t>> jpegs;
    std::vector<std::pair<int32_t, int32_t>> sizes;
    double pixels = 0;
};

RealSet load_real_set()
{
    RealSet set;
    const char* corpus = std::getenv("GLIMMERDEX_CORPUS");
    const std::string path = std::string(corpus && *corpus ? corpus : GLIMMERDEX_BENCH_CORPUS) +
                             "/real/01e63c5ca431f206.db";
    if (store_load(path.c_str()) != 0)
        return set;
    CatalogCursor cursor;
    int16_t version = 0;
    CatalogEntry entry;
    if (catalog_begin(&cursor, &version) != 0 || version < 7)
        return set;
    while (catalog_next(&cursor, &entry)) {
        const int32_t slot = catalog_stream_slot(entry.stream_number);
        if (slot < 0)
            continue;
        const ByteView v{stream_table.pool + stream_table.offset[slot], size_t(store_slot_length(slot))};
        if (!view_has(v, 8, 4))
            continue;
        const int32_t L = int32_t(read_le32(v.data + 8));
        if (L <= 0 || !view_has(v, 12, size_t(L)))
            continue;
        std::vector<uint8_t> jpeg(v.data + 12, v.data + 12 + L);
        int32_t w = 0, h = 0;
        picture_probe(jpeg.data(), L, &w, &h);
        if (w <= 0 || h <= 0)
            continue;
        set.jpegs.push_back(std::move(jpeg));
        set.sizes.push_back({w, h});
        set.pixels += double(w) * h;
    }
    return set;
}

const RealSet& real_set()
{
    static const RealSet set = load_real_set();
    return set;
}

void bench_ours_real(benchmark::State& state)
{
    const RealSet& set = real_set();
    if (set.jpegs.empty()) {
        state.SkipWithError("corpus cache not found");
        return;
    }
    std::vector<uint32_t> pixels(256 * 256);
    for (auto _ : state) {
        for (size_t i = 0; i < set.jpegs.size(); ++i) {
            const auto [w, h] = set.sizes[i];
            picture_decode(set.jpegs[i].data(), int32_t(set.jpegs[i].size()), reinterpret_cast<uint8_t*>(pixels.data()),
                           w * 4, std::min(w, 256), std::min(h, 256), 0, 0);
        }
        benchmark::DoNotOptimize(pixels.data());
        benchmark::ClobberMemory();
    }
    state.counters["pixels/s"] = benchmark::Counter(set.pixels, benchmark::Counter::kIsIterationInvariantRate);
}

void bench_turbo_real(benchmark::State& state)
{
    const RealSet& set = real_set();
    if (set.jpegs.empty()) {
        state.SkipWithError("corpus cache not found");
        return;
    }
    std::vector<uint32_t> pixels(size_t(4096) * 4096 / 64);
    tjhandle tj = tjInitDecompress();
    for (auto _ : state) {
        for (size_t i = 0; i < set.jpegs.size(); ++i) {
            const auto [w, h] = set.sizes[i];
            if (int64_t(w) * h > int64_t(pixels.size()))
                continue;
            tjDecompress2(tj, set.jpegs[i].data(), set.jpegs[i].size(), reinterpret_cast<unsigned char*>(pixels.data()),
                          w, w * 4, h, TJPF_BGRA, TJFLAG_FASTUPSAMPLE);
        }
        benchmark::DoNotOptimize(pixels.data());
        benchmark::ClobberMemory();
    }
    tjDestroy(tj);
    state.counters["pixels/s"] = benchmark::Counter(set.pixels, benchmark::Counter::kIsIterationInvariantRate);
}

// Collects pixels/s per run so that the ratio can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            auto it = r.counters.find("pixels/s");
            if (it != r.counters.end() && !r.error_occurred)
                rates[r.benchmark_name()] = it->second.value;
        }
    }
    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv)
{
    for (const Case& c : kCases) {
        benchmark::RegisterBenchmark((std::string("ours/") + c.name).c_str(), bench_ours, &c);
        benchmark::RegisterBenchmark((std::string("turbojpeg/") + c.name).c_str(), bench_turbo, &c);
    }
    benchmark::RegisterBenchmark("ours/real_cache_thumbnails", bench_ours_real);
    benchmark::RegisterBenchmark("turbojpeg/real_cache_thumbnails", bench_turbo_real);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-20s %14s %14s %8s\n", "picture", "ours Mpx/s", "turbo Mpx/s", "ratio");
    for (const Case& c : kCases) {
        auto a = reporter.rates.find(std::string("ours/") + c.name);
        auto b = reporter.rates.find(std::string("turbojpeg/") + c.name);
        if (a == reporter.rates.end() || b == reporter.rates.end())
            continue;
        std::printf("%-20s %14.1f %14.1f %8.2f\n", c.name, a->second / 1e6, b->second / 1e6, a->second / b->second);
    }
    auto a = reporter.rates.find("ours/real_cache_thumbnails");
    auto b = reporter.rates.find("turbojpeg/real_cache_thumbnails");
    if (a != reporter.rates.end() && b != reporter.rates.end())
        std::printf("%-20s %14.1f %14.1f %8.2f   (%zu thumbnails of one real cache)\n", "real thumbnails",
                    a->second / 1e6, b->second / 1e6, a->second / b->second, real_set().jpegs.size());
    benchmark::Shutdown();
    return 0;
}
