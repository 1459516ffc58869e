// The viewer scrolling through a 600-picture Explorer cache of 1024 x 768
// JPEGs, top to bottom: peak memory and the longest frame, with every picture
// decoded at load (as the viewer did before) against pictures decoded as they
// come into view. Each way runs in a child process of its own, so that each
// peak is its own; the ratio of the two is the figure.
// Run: build/bench/bench/viewer_memory [pictures [pixels scrolled a frame]]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/grid_view.h"
#include "host/headless/host_headless.h"
#include "store/file_list.h"
#include "tools/fixture/thumbcache_writer.h"
#include "tools/fixture/thumbsdb_writer.h"

namespace {

constexpr int W = 1024;
constexpr int H = 768;
constexpr int DISTINCT = 24;  // pictures encoded; repeated to the count asked

std::string make_cache(const std::string& folder, int pictures)
{
    std::filesystem::create_directories(folder);
    std::vector<fixture::Bytes> jpegs;
    for (int s = 0; s < DISTINCT; ++s)
        jpegs.push_back(fixture::encode_jpeg(fixture::make_test_image(1024, 768, uint32_t(s + 1))));
    fixture::ThumbcacheSpec spec;
    spec.cache_type = 5;  // thumbcache_1024
    spec.records.resize(size_t(pictures));
    for (int i = 0; i < pictures; ++i) {
        spec.records[size_t(i)].hash = 0x5000 + uint64_t(i);
        spec.records[size_t(i)].data = jpegs[size_t(i % DISTINCT)];
    }
    const fixture::Bytes bytes = fixture::write_thumbcache(spec);
    const std::string path = folder + "/thumbcache_1024.db";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

// Resident memory now, in KiB: anonymous (the heap) and file-backed (mapped evidence).
void resident(long* anon, long* file)
{
    std::FILE* f = std::fopen("/proc/self/status", "r");
    char line[256];
    while (f && std::fgets(line, sizeof line, f)) {
        std::sscanf(line, "RssAnon: %ld", anon);
        std::sscanf(line, "RssFile: %ld", file);
    }
    if (f)
        std::fclose(f);
}

double seconds_since(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// One way, in this (child) process: load, then scroll `step` pixels a frame
// to the end, drawing each frame as the viewer does. Prints one line.
void run(const std::string& folder, FileListDecode decode, int32_t step)
{
    const auto start = std::chrono::steady_clock::now();
    if (file_list_build(folder.c_str(), {.flags = 2, .decode = decode}) != 0) {
        std::printf("load failed\n");
        return;
    }
    const double load = seconds_since(start);
    std::vector<uint32_t> pixels(size_t(W) * H);
    const Framebuffer frame{pixels.data(), W * 4, W, H};
    GridState grid{};
    grid.columns = grid_columns_for(W);
    grid_count_rows(&grid);
    long anon = 0, file = 0, peak_anon = 0, peak_file = 0;
    double worst = 0, total = 0;
    int frames = 0, incomplete = 0;
    int64_t blank = 0;
    for (int32_t offset = 0; offset <= grid.total_height - H; offset += step, ++frames) {
        grid.scroll_offset = offset;
        const auto t = std::chrono::steady_clock::now();
        grid_decode_in_view(grid, H, GRID_DECODE_MS);
        grid_draw(grid, frame);
        // Cells drawn without their picture yet (drawn in a later frame).
        const int32_t top = offset / GRID_CELL_PITCH * grid.columns;
        const int32_t bottom = std::min(file_list.count, (offset + H + GRID_CELL_PITCH - 1) / GRID_CELL_PITCH * grid.columns);
        int32_t pending = 0;
        for (int32_t i = top; i < bottom; ++i)
            pending += file_list_pending(i);
        blank += pending;
        const double s = seconds_since(t);
        worst = s > worst ? s : worst;
        total += s;
        incomplete += pending > 0;
        resident(&anon, &file);
        peak_anon = anon > peak_anon ? anon : peak_anon;
        peak_file = file > peak_file ? file : peak_file;
    }
    std::printf("%-10s load %7.3f s  frames %4d  worst frame %6.1f ms  mean %5.1f ms  frames with blank cells %4d (%.1f cells each)  "
                "peak anon %7.1f MiB  peak file %7.1f MiB",
                decode == FILE_LIST_DECODE_ALL ? "at load" : "on view", load, frames, worst * 1e3,
                frames ? total * 1e3 / frames : 0.0, incomplete, incomplete ? double(blank) / incomplete : 0.0, double(peak_anon) / 1024, double(peak_file) / 1024);
    std::fflush(stdout);
    file_list_release();
}

// The peak resident set of a child running one way, in MiB.
double in_child(const std::string& folder, FileListDecode decode, int32_t step)
{
    std::fflush(stdout);  // or the child prints it again
    const pid_t pid = fork();
    if (pid == 0) {
        run(folder, decode, step);
        _exit(0);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double peak = double(usage.ru_maxrss) / 1024;
    std::printf("  peak resident %7.1f MiB\n", peak);
    return peak;
}

} // namespace

int main(int argc, char** argv)
{
    const int pictures = argc > 1 ? std::atoi(argv[1]) : 600;
    const int32_t step = argc > 2 ? std::atoi(argv[2]) : 8;  // about a screen a second at 60 frames a second
    const std::string folder =
        (std::filesystem::temp_directory_path() / ("glimmerdex-viewer-memory-" + std::to_string(getpid()))).string();
    const std::string path = make_cache(folder, pictures);
    headless_reset(W, H);
    std::printf("%d pictures of 1024 x 768, cache %.1f MiB, frame %d x %d scrolled %d px a frame, %d ms of decoding "
                "a frame, at most %d kept\n",
                pictures, double(std::filesystem::file_size(path)) / (1 << 20), W, H, step, GRID_DECODE_MS,
                FILE_LIST_MAX_DECODED);
    const double before = in_child(folder, FILE_LIST_DECODE_ALL, step);
    const double after = in_child(folder, FILE_LIST_DECODE_ON_VIEW, step);
    std::printf("peak resident, on view / at load: %.2f\n", after / before);
    std::filesystem::remove_all(folder);
    return 0;
}
