// The whole file list on a fuzzed cache: the bytes become the Thumbs.db of a
// folder in memory-backed storage, then file_list_build reads it with the
// folder's files and the catalog's names (flags 3), as the viewer does.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "store/file_list.h"

namespace {

std::string folder()
{
    static std::string path = [] {
        char templ[] = "/dev/shm/glimmerdex-fuzz-XXXXXX";
        char* made = mkdtemp(templ);
        if (!made) {
            char fallback[] = "/tmp/glimmerdex-fuzz-XXXXXX";
            made = mkdtemp(fallback);
        }
        std::string p = made ? made : "/tmp";
        FILE* f = std::fopen((p + "/picture.jpg").c_str(), "wb");
        if (f)
            std::fclose(f);
        return p;
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string dir = folder();
    FILE* f = std::fopen((dir + "/Thumbs.db").c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    file_list_build(dir.c_str(), 3);
    for (int32_t i = 0; i < file_list.count; ++i) {
        const Picture& p = file_list.pictures[i];
        // Touch the first and last pixel: the pictures must be as large as they claim.
        if (p.pixels && p.width > 0 && p.height > 0) {
            volatile uint32_t first = p.pixels[0];
            volatile uint32_t last = p.pixels[size_t(p.height - 1) * size_t(p.pitch / 4) + size_t(p.width - 1)];
            (void)first;
            (void)last;
        }
    }
    return 0;
}
