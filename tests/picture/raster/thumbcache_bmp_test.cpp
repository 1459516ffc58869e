// The 32-bit bitmaps Explorer's caches hold (40-byte headers with BI_RGB,
// V5 headers with BI_BITFIELDS and an alpha mask; bottom-up, real alpha),
// decoded pixel for pixel as Pillow decodes them.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifndef _WIN32
#include <dirent.h>
#endif

#include "picture/picture.h"
#include "store/explorer/thumbcache.h"
#include "tests/support/guarded_window.h"
#include "tests/support/test_support.h"

namespace {

#ifndef _WIN32
// Writes <n>.rgba (RGBA rows, top-down) for every <n>.bmp of the folder.
// Pillow reads the top byte of a 40-byte header's 32-bit pixels as padding;
// there the expected alpha is that byte as Pillow's own BGRA unpacker reads
// it from the same rows, unless it is 0 in every pixel (a bitmap without
// alpha, opaque).
const char* const PILLOW_RGBA = R"(import struct, sys
from PIL import Image
folder, count = sys.argv[1], int(sys.argv[2])
for n in range(count):
    name = '%s/%d.bmp' % (folder, n)
    data = open(name, 'rb').read()
    out = bytearray(Image.open(name).convert('RGBA').tobytes())
    header, width, height, planes, bits = struct.unpack_from('<IiiHH', data, 14)
    if header == 40 and bits == 32:
        start = struct.unpack_from('<I', data, 10)[0]
        rows = Image.frombuffer('RGBA', (width, abs(height)), data[start:start + width * abs(height) * 4],
                                'raw', 'BGRA', 0, -1 if height > 0 else 1)
        alpha = rows.tobytes()[3::4]
        if any(alpha):
            out[3::4] = alpha
    open('%s/%d.rgba' % (folder, n), 'wb').write(out)
print('done', count)
)";

std::vector<std::string> cache_files(const std::string& folder)
{
    std::vector<std::string> out;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 3 && (name.compare(name.size() - 3, 3, ".db") == 0 ||
                                    name.compare(name.size() - 4, 4, ".tmp") == 0))
                out.push_back(folder + "/" + name);
        }
        closedir(d);
    }
    return out;
}
#endif

} // namespace

TEST(ThumbcacheBmp, EveryPixelAsPillowDecodesIt)
{
    REQUIRE_CORPUS();
#ifdef _WIN32
    GTEST_SKIP() << "the Pillow oracle is a Linux python3; the Linux suite compares with it";
#else
    if (run_command("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3 with Pillow not found; the Pillow comparison is skipped";
    TempDir dir;
    int files = 0;
    std::vector<std::string> origin;  // file and offset of each bitmap, for messages
    for (const std::string& path : cache_files(corpus_dir() + "/thumbcache")) {
        ThumbcacheFile cache{};
        if (thumbcache_load(path.c_str(), &cache) != 0)
            continue;  // an index
        bool any = false;
        for (int32_t i = 0; i < cache.count; ++i) {
            const ThumbcacheEntry& e = cache.entries[i];
            if (std::strcmp(picture_format_name(e.payload.data, int32_t(e.payload.length)), "bmp") != 0)
                continue;
            write_file(dir.file(std::to_string(origin.size()) + ".bmp"),
                       std::vector<uint8_t>(e.payload.data, e.payload.data + e.payload.length));
            origin.push_back(path.substr(path.rfind('/') + 1) + " @" + std::to_string(e.offset));
            any = true;
        }
        files += any;
        thumbcache_free(&cache);
    }
    ASSERT_FALSE(origin.empty()) << "the corpus's caches hold bitmaps";
    const std::string script = dir.file("pillow_rgba.py");
    write_file(script, std::vector<uint8_t>(PILLOW_RGBA, PILLOW_RGBA + std::strlen(PILLOW_RGBA)));
    std::string out;
    ASSERT_EQ(run_command("/usr/bin/python3 " + script + " " + dir.path() + " " + std::to_string(origin.size()) +
                              " 2>&1",
                          &out),
              0)
        << out;

    int64_t pixels = 0, differences = 0;
    for (size_t n = 0; n < origin.size(); ++n) {
        SCOPED_TRACE(origin[n]);
        Decoded ours = decode_guarded(read_file(dir.file(std::to_string(n) + ".bmp")));
        std::vector<uint8_t> pillow = read_file(dir.file(std::to_string(n) + ".rgba"));
        ASSERT_EQ(ours.rc, 0);
        ASSERT_TRUE(ours.guard_intact);
        ASSERT_EQ(pillow.size(), ours.pixels.size() * 4);
        int64_t here = 0;
        for (size_t k = 0; k < ours.pixels.size(); ++k) {
            const uint8_t* q = &pillow[k * 4];
            uint32_t expected = uint32_t(q[3]) << 24 | uint32_t(q[0]) << 16 | uint32_t(q[1]) << 8 | q[2];
            if (ours.pixels[k] != expected && here++ == 0)
                ADD_FAILURE() << "pixel " << k % size_t(ours.width) << "," << k / size_t(ours.width) << ": ours "
                              << std::hex << ours.pixels[k] << ", Pillow " << expected;
        }
        pixels += int64_t(ours.pixels.size());
        differences += here;
    }
    EXPECT_EQ(differences, 0);
    std::printf("%d cache files, %zu bitmaps, %lld pixels compared, %lld differ\n", files, origin.size(),
                (long long)pixels, (long long)differences);
#endif
}
