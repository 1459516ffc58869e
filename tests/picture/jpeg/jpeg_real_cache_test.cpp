// The thumbnails of the real caches: every one decodes, a handful match
// djpeg, and old-format thumbnails (colour planes, bottom-up) match the raw
// component planes that Pillow reads from the same rebuilt JPEG.
#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "picture/bytes.h"
#include "picture/jpeg/jpeg_internal.h"
#include "store/thumbsdb/catalog.h"
#include "store/thumbsdb/compound_file.h"
#include "tests/picture/jpeg/jpeg_test_util.h"
#include "tests/support/test_support.h"

namespace {

std::vector<std::string> real_caches()
{
    std::vector<std::string> files;
    const std::string dir = corpus_dir() + "/real";
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 3 && name.compare(name.size() - 3, 3, ".db") == 0)
                files.push_back(dir + "/" + name);
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The picture file held by a current-format thumbnail stream, or nothing.
std::vector<uint8_t> stream_picture(int32_t stream_number)
{
    const int32_t slot = catalog_stream_slot(stream_number);
    if (slot < 0)
        return {};
    const ByteView v{stream_table.pool + stream_table.offset[slot], size_t(store_slot_length(slot))};
    if (!view_has(v, 8, 4))
        return {};
    const int32_t L = int32_t(read_le32(v.data + 8));
    if (L <= 0 || !view_has(v, 12, size_t(L)))
        return {};
    return std::vector<uint8_t>(v.data + 12, v.data + 12 + L);
}

void ignore_mcu(int32_t, int32_t, int32_t*) {}

// Component planes of a JPEG as Pillow reads them, interleaved, rows
// top-down. Pillow takes a 4-component file without an Adobe marker as
// inverted CMYK, so each value it gives is 255 - the stored sample.
bool pillow_planes(const std::string& jpg, std::vector<uint8_t>* planes, int* components)
{
    std::string out;
    const std::string script = "import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                               "sys.stdout.write(str(len(im.getbands())) + '\\n'); sys.stdout.flush(); "
                               "sys.stdout.buffer.write(im.tobytes())";
    if (run_command("/usr/bin/python3 -c \"" + script + "\" " + jpg + " 2>/dev/null", &out) != 0)
        return false;
    const size_t nl = out.find('\n');
    if (nl == std::string::npos)
        return false;
    *components = std::atoi(out.substr(0, nl).c_str());
    planes->assign(out.begin() + long(nl) + 1, out.end());
    return true;
}

TEST(JpegRealCaches, EveryThumbnailDecodes)
{
    REQUIRE_CORPUS();
    const bool have_djpeg = run_command("command -v djpeg >/dev/null 2>&1") == 0;
    const bool have_pillow = run_command("/usr/bin/python3 -c 'import PIL' 2>/dev/null") == 0;
    TempDir dir;
    int caches = 0, thumbnails = 0, compared = 0, old_caches = 0, old_thumbnails = 0, old_compared = 0;
    for (const std::string& path : real_caches()) {
        if (store_load(path.c_str()) != 0)
            continue;  // no catalog
        CatalogCursor cursor;
        int16_t version = 0;
        if (catalog_begin(&cursor, &version) != 0)
            continue;
        SCOPED_TRACE(path);
        ++caches;
        old_caches += version < 7;
        CatalogEntry entry;
        int index = 0;
        while (catalog_next(&cursor, &entry)) {
            SCOPED_TRACE(entry.name);
            if (version >= 7) {
                const std::vector<uint8_t> bytes = stream_picture(entry.stream_number);
                if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8)
                    continue;
                const Decoded d = decode_guarded(bytes);
                ++thumbnails;
                EXPECT_EQ(d.rc, 0);
                EXPECT_TRUE(d.guard_intact);
                // A handful against djpeg: the first thumbnail of every 40th cache.
                if (have_djpeg && index == 0 && caches % 40 == 1 && d.rc == 0) {
                    const std::string jpg = dir.file("t.jpg");
                    write_file(jpg, bytes);
                    std::string out;
                    run_command("djpeg -nosmooth -dct int " + jpg + " 2>/dev/null", &out);
                    const Rgb ref = read_pnm(std::vector<uint8_t>(out.begin(), out.end()));
                    ASSERT_EQ(ref.width, d.width);
                    ASSERT_EQ(ref.height, d.height);
                    const Fidelity f = compare_rgb(d, ref);
                    std::printf("  %s %s %dx%d PSNR %.2f dB max diff %d\n", path.substr(path.rfind('/') + 1).c_str(),
                                entry.name, d.width, d.height, f.psnr, f.max_diff);
                    EXPECT_GE(f.psnr, 44.0);
                    EXPECT_LE(f.max_diff, 16);
                    ++compared;
                }
            } else {
                Picture picture{};
                ASSERT_EQ(catalog_decode_entry(entry, version, &picture), 0);
                // The rebuilt JPEG the store just handed to the decoder.
                const std::vector<uint8_t> rebuilt(jpeg.source, jpeg.source + jpeg.source_length);
                ++old_thumbnails;
                ASSERT_GT(picture.width, 0);
                const int rc = jpeg_decode(rebuilt.data(), int32_t(rebuilt.size()), nullptr, 0, 0, 0, 0, 0,
                                           JpegOptions{ignore_mcu});
                EXPECT_EQ(rc, 0);
                if (have_pillow && index < 2) {
                    const std::string jpg = dir.file("old.jpg");
                    write_file(jpg, rebuilt);
                    std::vector<uint8_t> planes;
                    int n = 0;
                    ASSERT_TRUE(pillow_planes(jpg, &planes, &n));
                    ASSERT_GE(n, 3);
                    ASSERT_EQ(planes.size(), size_t(picture.width) * picture.height * n);
                    // Component 0 is blue, 1 green, 2 red; the first JPEG row is the last picture row.
                    int max_diff = 0;
                    for (int32_t r = 0; r < picture.height; ++r)
                        for (int32_t c = 0; c < picture.width; ++c) {
                            const uint32_t p = picture.pixels[size_t(picture.height - 1 - r) * picture.width + c];
                            const uint8_t* ref = &planes[(size_t(r) * picture.width + c) * n];
                            EXPECT_EQ(p >> 24, 0u);
                            max_diff = std::max({max_diff, std::abs(int(p & 255) - (255 - ref[0])),
                                                 std::abs(int(p >> 8 & 255) - (255 - ref[1])),
                                                 std::abs(int(p >> 16 & 255) - (255 - ref[2]))});
                        }
                    std::printf("  old format v%d %s %s %dx%d max diff against Pillow's planes %d\n", version,
                                path.substr(path.rfind('/') + 1).c_str(), entry.name, picture.width, picture.height,
                                max_diff);
                    EXPECT_LE(max_diff, 4);
                    ++old_compared;
                }
                std::free(picture.pixels);
            }
            ++index;
        }
    }
    std::printf("  %d caches with a catalog: %d current thumbnails (%d compared with djpeg), %d old-format caches "
                "with %d thumbnails (%d compared with Pillow)\n",
                caches, thumbnails, compared, old_caches, old_thumbnails, old_compared);
    EXPECT_GT(thumbnails, 1000);
    store_release();
}

}  // namespace
