// Loading a cache of 20,000 thumbnails (the whole file list, every thumbnail
// decoded) against reading the same file into memory as cat would.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "store/file_list.h"
#include "tools/fixture/thumbsdb_writer.h"

namespace {

const std::string& cache_folder()
{
    static std::string folder = [] {
        char templ[] = "/tmp/glimmerdex-bench-XXXXXX";
        std::string dir = mkdtemp(templ);
        fixture::CacheSpec spec;
        fixture::Bytes pictures[8];
        for (int k = 0; k < 8; ++k)
            pictures[k] = fixture::encode_jpeg(fixture::make_test_image(96, 72, uint32_t(k)), 85);
        for (int i = 0; i < 20000; ++i) {
            fixture::CacheEntry e;
            e.name = "photo_" + std::to_string(i) + ".jpg";
            e.time = 128980119090000000ull + uint64_t(i);
            e.picture = pictures[i % 8];
            spec.entries.push_back(e);
        }
        fixture::Bytes db = fixture::write_thumbs_db(spec);
        FILE* f = std::fopen((dir + "/Thumbs.db").c_str(), "wb");
        std::fwrite(db.data(), 1, db.size(), f);
        std::fclose(f);
        return dir;
    }();
    return folder;
}

long peak_kib()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

void BM_ReadFileLikeCat(benchmark::State& state)
{
    std::string path = cache_folder() + "/Thumbs.db";
    std::vector<char> buffer;
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "rb");
        std::fseek(f, 0, SEEK_END);
        long size = std::ftell(f);
        std::fseek(f, 0, SEEK_SET);
        buffer.resize(size_t(size));
        benchmark::DoNotOptimize(std::fread(buffer.data(), 1, buffer.size(), f));
        std::fclose(f);
    }
    state.counters["file_MiB"] = double(buffer.size()) / (1 << 20);
}

// Arg 0: every thumbnail decoded (the sheet); 1: none, as the viewer loads
// (it decodes what comes into view); 2: sizes alone, as the tool's list.
void BM_LoadTwentyThousandThumbnails(benchmark::State& state)
{
    const std::string& folder = cache_folder();
    const FileListOptions options{.flags = 2, .decode = FileListDecode(state.range(0))};
    for (auto _ : state) {
        if (file_list_build(folder.c_str(), options) != 0 || file_list.count != 20000)
            state.SkipWithError("the cache did not load");
        benchmark::ClobberMemory();
    }
    state.counters["entries"] = file_list.count;
    state.counters["peak_MiB"] = double(peak_kib()) / 1024;
    file_list_release();
}

} // namespace

BENCHMARK(BM_ReadFileLikeCat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadTwentyThousandThumbnails)
    ->Arg(FILE_LIST_DECODE_ALL)
    ->Arg(FILE_LIST_DECODE_ON_VIEW)
    ->Arg(FILE_LIST_DECODE_SIZES)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_MAIN();
