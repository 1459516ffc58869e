// Carving a volume's unallocated space against dd reading the same number of
// bytes of it: time per GB of unallocated space. Not a test; run by hand.
//
//   carve_bench [IMAGE [MAKE_GB]]
//
// Without an existing IMAGE, one of MAKE_GB GiB (default 1) is made there
// (default /tmp/carve_bench.img): random bytes, then a FAT32 file system
// written over them by mformat, so that its free clusters hold the random
// bytes (with the odd "CMMM") a used disk leaves; a few Explorer caches are
// then copied in and deleted, for the scanner to find.
#include <sys/resource.h>
#include <tsk/libtsk.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/carve_volume.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

int make_image(const std::string& path, int gib, const std::string& caches)
{
    std::string command = "set -e; head -c " + std::to_string(gib) + "G /dev/urandom > " + path +
                          "; mformat -F -i " + path + " ::";
    for (int i = 0; i < 3; ++i)
        command += "; MTOOLS_SKIP_CHECK=1 mcopy -i " + path + " " + caches + " ::/c" + std::to_string(i) +
                   ".db; MTOOLS_SKIP_CHECK=1 mdel -i " + path + " ::/c" + std::to_string(i) + ".db";
    return std::system(command.c_str());
}

// CPU seconds (user and system) of this process or of its waited children.
double cpu_seconds(int who)
{
    rusage u;
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

TSK_WALK_RET_ENUM count_block(const TSK_FS_BLOCK*, void* context)
{
    ++*static_cast<uint64_t*>(context);
    return TSK_WALK_CONT;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string path = argc > 1 ? argv[1] : "/tmp/carve_bench.img";
    const int gib = argc > 2 ? std::atoi(argv[2]) : 1;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fclose(f);
    } else {
        const std::string folder = std::string(GLIMMERDEX_BINARY_DIR) + "/carve_bench_caches";
        const std::string tool = std::string(GLIMMERDEX_BINARY_DIR) + "/tools/make-thumbcache";
        if (std::system(("mkdir -p " + folder + " && " + tool + " " + folder).c_str()) != 0 ||
            make_image(path, gib, folder + "/thumbcache_256.db") != 0) {
            std::fprintf(stderr, "carve_bench: cannot make %s (needs mtools and tools/make-thumbcache)\n", path.c_str());
            return 1;
        }
    }
    TSK_IMG_INFO* img = tsk_img_open_utf8_sing(path.c_str(), TSK_IMG_TYPE_RAW, 0);
    TSK_FS_INFO* fs = img ? tsk_fs_open_img(img, 0, TSK_FS_TYPE_DETECT) : nullptr;
    if (!fs) {
        std::fprintf(stderr, "carve_bench: %s holds no file system sleuthkit reads\n", path.c_str());
        return 1;
    }
    uint64_t blocks = 0;
    tsk_fs_block_walk(fs, fs->first_block, fs->last_block,
                      TSK_FS_BLOCK_WALK_FLAG_ENUM(TSK_FS_BLOCK_WALK_FLAG_UNALLOC | TSK_FS_BLOCK_WALK_FLAG_AONLY),
                      count_block, &blocks);
    const uint64_t unallocated = blocks * fs->block_size;
    const double gb = double(unallocated) / 1e9;
    // dd reads as many bytes of the volume in the same 4 MiB reads.
    const std::string dd = "dd if=" + path + " of=/dev/null bs=4M iflag=count_bytes count=" +
                           std::to_string(unallocated) + " status=none";
    std::system(dd.c_str());  // both start from the page cache
    double best_carve = 1e30, best_dd = 1e30, cpu_carve = 1e30, cpu_dd = 1e30;
    size_t found = 0;
    for (int round = 0; round < 3; ++round) {
        std::vector<CarveHit> hits;
        std::string problem;
        double cpu = cpu_seconds(RUSAGE_SELF);
        auto t = std::chrono::steady_clock::now();
        carve_volume(fs, &hits, &problem);
        const double carve_s = seconds_since(t);
        cpu_carve = std::min(cpu_carve, cpu_seconds(RUSAGE_SELF) - cpu);
        cpu = cpu_seconds(RUSAGE_CHILDREN);
        t = std::chrono::steady_clock::now();
        if (std::system(dd.c_str()) != 0)
            return 1;
        const double dd_s = seconds_since(t);
        cpu_dd = std::min(cpu_dd, cpu_seconds(RUSAGE_CHILDREN) - cpu);
        best_carve = carve_s < best_carve ? carve_s : best_carve;
        best_dd = dd_s < best_dd ? dd_s : best_dd;
        found = hits.size();
    }
    std::printf("unallocated: %.3f GB in %llu blocks of %u bytes; finds: %zu\n", gb,
                static_cast<unsigned long long>(blocks), fs->block_size, found);
    std::printf("wall: carve %.3f s per GB, dd %.3f s per GB, ratio dd/carve %.2f\n", best_carve / gb, best_dd / gb,
                best_dd / best_carve);
    std::printf("cpu:  carve %.3f s per GB, dd %.3f s per GB, ratio dd/carve %.2f\n", cpu_carve / gb, cpu_dd / gb,
                cpu_dd / cpu_carve);
    // The scanner alone, on 64 MiB of the volume's bytes already in memory.
    std::vector<uint8_t> bytes(size_t(64) << 20);
    const ssize_t got = tsk_fs_read(fs, TSK_OFF_T(fs->block_count * fs->block_size / 2),
                                    reinterpret_cast<char*>(bytes.data()), bytes.size());
    if (got == ssize_t(bytes.size())) {
        double best_scan = 1e30;
        for (int round = 0; round < 3; ++round) {
            CarveScanner s;
            carve_scan_begin(&s, uint64_t(1) << 40);
            std::vector<CarveHit> hits;
            const auto t = std::chrono::steady_clock::now();
            for (uint64_t at = 0; at < (uint64_t(1) << 30); at += bytes.size())
                carve_scan_feed(&s, at, ByteView{bytes.data(), bytes.size()}, true, &hits);
            carve_scan_end(&s, &hits);
            best_scan = std::min(best_scan, seconds_since(t) / (double(uint64_t(1) << 30) / 1e9));
        }
        std::printf("scanner alone (bytes in memory): %.3f s per GB\n", best_scan);
    }
    tsk_fs_close(fs);
    tsk_img_close(img);
    return 0;
}
