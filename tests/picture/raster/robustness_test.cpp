// The corpus files whose outcome is ours to choose (manifest `either`):
// damaged, truncated, oversized and zero-sized pictures. Each must end
// safely; the table pins what each yields, as result and pixels written.
#include <string>
#include <vector>

#include "picture/bytes.h"
#include "picture/picture.h"
#include "tests/support/test_support.h"

namespace {

constexpr uint32_t sentinel = 0x5A3C1E0Fu;

struct Outcome {
    const char* path;
    int result;
    int written;  // pixels of the window that changed
    const char* yields;
};

// Windows are the reference size where there is one, else 256 x 256.
const Outcome outcomes[] = {
    {"bmp/bmpsuite/b/reallybig.bmp", 0, 0, "3000000 x 2000000, bottom-up: the visible top rows lie beyond the file"},
    {"bmp/bmpsuite/b/shortfile.bmp", 0, 1675, "truncated: the rows present, from the bottom, and part of the next"},
    {"bmp/bmpsuite/q/pal1huffmsb.bmp", 0, 8128, "compression 3 below 16 bits: read as uncompressed palette data"},
    {"bmp/bmpsuite/q/pal8offs.bmp", 0, 8128, "palette gap of 277 entries: the first 256 are used"},
    {"bmp/bmpsuite/q/pal8oversizepal.bmp", 0, 8128, "palette gap of 300 entries: the first 256 are used"},
    {"bmp/generated/photo_64x48_bmp3_565_nomasks.bmp", 0, 3072, "no mask words: the first pixel bytes serve as masks"},
    {"bmp/imagers/bad/Bad_height.bmp", 0, 0, "6 x 2147483647, bottom-up: the visible rows lie beyond the file"},
    {"bmp/imagers/bad/Bad_width.bmp", 0, 50, "2147483647 x 6: the pixels inside the file"},
    {"cel/generated/truncated.cel", 0, 700, "the 700 pixels before the end of the file"},
    {"dds/generated/dxt1_truncated.dds", 0, 336, "the 21 whole blocks present"},
    {"gif/generated/oversized_image_10x10_on_6x6.gif", 0, 120, "6 x 6 screen plus the 10 x 10 image at 2,2"},
    {"gif/generated/photo_250x3_interlaced.gif", 0, 750, "pass 2 would start below the 3 rows and is skipped"},
    {"gif/pillow/decompression_bomb.gif", 0, 1024, "image below the 32 x 32 screen: background only"},
    {"gif/pillow/no_palette.gif", 0, 1, "no colour table: indices as a grey ramp"},
    {"gif/pillow/zero_width.gif", 0, 0, "zero-width screen and image: nothing to paint"},
    {"gif/pygif/image-zero-height.gif", -1, 0, "local colour table cut off by the trailer"},
    {"gif/pygif/image-zero-size.gif", -1, 0, "local colour table cut off by the trailer"},
    {"gif/pygif/image-zero-width.gif", 0, 1, "zero-width image: background on the 1 x 1 screen"},
    {"gif/pygif/invalid-code.gif", 0, 0, "first code refers to an entry not yet made: decoding stops"},
    {"gif/pygif/overflow-codes-max.gif", 0, 0, "minimum code size 255: nothing decoded"},
    {"gif/pygif/overflow-codes.gif", 0, 0, "minimum code size 12: nothing decoded"},
    {"pcx/generated/planes2_8x6.pcx", 0, 0, "2 planes: result 0, nothing written"},
    {"pcx/pillow/01r_00.pcx", 0, 2647, "palette from the last 768 bytes (overlapping the header), runs to the end"},
    {"tga/pillow/cross_scan_line_truncated.tga", 0, 4032, "packets decoded up to the end of the file"},
};

TEST(FormatRobustness, ChosenOutcomesOfDamagedFiles)
{
    REQUIRE_CORPUS();
    for (const Outcome& o : outcomes) {
        std::string base = corpus_dir() + "/conformance/" + o.path;
        std::vector<uint8_t> file = read_file(base);
        ASSERT_FALSE(file.empty()) << o.path;
        int32_t width = 256, height = 256;
        if (file_exists(base + ".ref.rgba")) {
            std::vector<uint8_t> ref = read_file(base + ".ref.rgba");
            width = int32_t(read_le32(ref.data()));
            height = int32_t(read_le32(ref.data() + 4));
        }
        std::vector<uint32_t> window(size_t(width) * size_t(height), sentinel);
        int rc = picture_decode(file.data(), int32_t(file.size()), reinterpret_cast<uint8_t*>(window.data()),
                                width * 4, width, height, 0, 0);
        int written = 0;
        for (uint32_t p : window)
            written += p != sentinel;
        EXPECT_EQ(rc, o.result) << o.path << ": " << o.yields;
        EXPECT_EQ(written, o.written) << o.path << ": " << o.yields;
    }
}

} // namespace
