// PNG thumbnails of real Thumbs.db caches (stream payload at offset 24),
// against Pillow's decode of the same bytes. olefile extracts the streams.
#include <cstdint>
#include <string>
#include <vector>

#include "picture/picture.h"
#include "tests/picture/png/png_test_util.h"
#include "tests/support/test_support.h"

namespace {

// Writes <n>.png and <n>.rgba (u32 w, u32 h, RGBA) for the PNG payloads of
// the caches named on the command line; prints the count.
const char* kExtract = R"PY(
import sys, struct, olefile, io
from PIL import Image
out, files = sys.argv[1], sys.argv[2:]
n = 0
for f in files:
    ole = olefile.OleFileIO(f)
    for entry in ole.listdir(streams=True, storages=False):
        data = ole.openstream(entry).read()
        if data[24:28] != b'\x89PNG':
            continue
        payload = data[24:]
        img = Image.open(io.BytesIO(payload)).convert('RGBA')
        open('%s/%d.png' % (out, n), 'wb').write(payload)
        open('%s/%d.rgba' % (out, n), 'wb').write(struct.pack('<II', *img.size) + img.tobytes())
        n += 1
print(n)
)PY";

TEST(PngRealCache, ThumbnailsMatchPillow)
{
    REQUIRE_CORPUS();
#ifdef _WIN32
    GTEST_SKIP() << "the olefile and Pillow oracle is a Linux python3; the Linux suite runs this test";
#endif
    const std::string real = corpus_dir() + "/real";
    std::vector<std::string> header;
    std::vector<std::string> caches;
    for (const auto& row : read_tsv(real + "/manifest.tsv", &header))
        if (row.size() > 18 && !row[18].empty() && caches.size() < 12)
            caches.push_back(real + "/" + row[1]);
    if (caches.empty())
        GTEST_SKIP() << "no cache with PNG thumbnails in the corpus";
    TempDir dir;
    write_file(dir.file("extract.py"), std::vector<uint8_t>(kExtract, kExtract + std::string(kExtract).size()));
    std::string command = "/usr/bin/python3 " + dir.file("extract.py") + " " + dir.path();
    for (const auto& c : caches)
        command += " " + c;
    std::string output;
    if (run_command(command + " 2>&1", &output) != 0)
        GTEST_SKIP() << "python3 with olefile and Pillow is needed: " << output;
    const int count = std::stoi(output);
    ASSERT_GT(count, 0);
    RecordProperty("thumbnails", count);
    for (int i = 0; i < count; ++i) {
        std::vector<uint8_t> png = read_file(dir.file(std::to_string(i) + ".png"));
        std::vector<uint8_t> ref = read_file(dir.file(std::to_string(i) + ".rgba"));
        int32_t w = 0, h = 0;
        picture_probe(png.data(), int32_t(png.size()), &w, &h);
        ASSERT_EQ(ref[0] | ref[1] << 8, w) << i;
        ASSERT_EQ(ref[4] | ref[5] << 8, h) << i;
        GuardedWindow win(w, h);
        ASSERT_EQ(0, win.decode(png)) << i;
        EXPECT_EQ(0, win.count_differences(ref)) << "thumbnail " << i << ", first at " << win.first_difference(ref);
        EXPECT_TRUE(win.margins_intact()) << i;
    }
}

}  // namespace
