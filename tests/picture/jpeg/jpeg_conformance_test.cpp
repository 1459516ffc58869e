// Every JPEG of the shared conformance corpus: the expected outcome of its
// manifest line, no write outside the window, and pixels close to djpeg's.
// Also the named regression files found by fuzzing.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/picture/jpeg/jpeg_test_util.h"
#include "tests/support/test_support.h"

namespace {

// Against djpeg -dct int -nosmooth. The transform's truncation costs a few
// levels (PSNR about 49 dB). Saturated colours cost more: we convert from the
// unclamped luma and chroma sums where libjpeg clamps the samples first, which
// moves strongly saturated pixels (hopper_orientation_6: 16 levels). A handful
// of files made of such colours get wider bounds below; with luma clamped first
// hopper_16bit_qtables drops from 34 to 2 levels, which is how this was checked.
constexpr double kMinPsnr = 44.0;
constexpr int kMaxDiff = 16;
constexpr double kSaturatedMinPsnr = 35.0;
constexpr int kSaturatedMaxDiff = 70;

bool saturated_file(const std::string& path)
{
    return path == "jpeg/imagers/test.jpg" || path == "jpeg/pillow/hopper_16bit_qtables.jpg" ||
           path.find("32x32x8_ycbcr_quantization.jpg") != std::string::npos;
}

// CMYK, YCCK and RGB-coded files: three components are always taken as
// YCbCr and a fourth is dropped, so their pixels are not libjpeg's.
bool other_colour_space(const std::string& path, const std::string& description)
{
    return path.find("cmyk") != std::string::npos || path.find("_rgb") != std::string::npos ||
           description.find("YCCK") != std::string::npos || description.find("RGB colour space") != std::string::npos;
}

TEST(JpegConformance, ManifestOutcomesAndPixels)
{
    REQUIRE_CORPUS();
    const std::string root = corpus_dir() + "/conformance/";
    std::vector<std::string> header;
    const auto rows = read_tsv(root + "manifest.tsv", &header);
    int col_path = -1, col_expected = -1, col_compare = -1, col_description = -1;
    for (int i = 0; i < int(header.size()); ++i) {
        if (header[i] == "path")
            col_path = i;
        if (header[i] == "expected")
            col_expected = i;
        if (header[i] == "compare")
            col_compare = i;
        if (header[i] == "description")
            col_description = i;
    }
    ASSERT_GE(col_path, 0);
    ASSERT_GE(col_expected, 0);
    ASSERT_GE(col_compare, 0);
    ASSERT_GE(col_description, 0);
    int files = 0, compared = 0;
    for (const auto& row : rows) {
        if (row.size() <= size_t(col_compare) || row[col_path].rfind("jpeg/", 0) != 0)
            continue;
        const std::string& path = row[col_path];
        const std::string& expected = row[col_expected];
        SCOPED_TRACE(path);
        const Decoded d = decode_guarded(read_file(root + path));
        ++files;
        EXPECT_TRUE(d.guard_intact);
        if (expected == "reject") {
            EXPECT_EQ(d.rc, -1);
            continue;
        }
        if (expected == "decode") {
            EXPECT_EQ(d.rc, 0);
        }
        if (d.rc != 0 || row[col_compare].empty() || row[col_compare] == "none" ||
            other_colour_space(path, row[col_description]) ||
            !file_exists(root + path + ".djpeg.ppm"))
            continue;
        const Rgb ref = read_pnm(read_file(root + path + ".djpeg.ppm"));
        if (ref.width != d.width || ref.height != d.height) {
            ADD_FAILURE() << "size " << d.width << "x" << d.height << ", reference " << ref.width << "x" << ref.height;
            continue;
        }
        const Fidelity f = compare_rgb(d, ref);
        ++compared;
        std::printf("  %-72s PSNR %6.2f dB  max diff %d\n", path.c_str(), f.psnr, f.max_diff);
        // Damaged files decode in their own way; only their safety is required.
        if (expected == "decode") {
            const bool saturated = saturated_file(path);
            EXPECT_GE(f.psnr, saturated ? kSaturatedMinPsnr : kMinPsnr);
            EXPECT_LE(f.max_diff, saturated ? kSaturatedMaxDiff : kMaxDiff);
        }
    }
    std::printf("  %d JPEG files, %d compared with djpeg\n", files, compared);
    EXPECT_GT(files, 300);
}

int64_t mcus_handed_out;
void count_mcu(int32_t, int32_t, int32_t*) { ++mcus_handed_out; }

// A 6 KB file whose first frame is 8 x 11784 and whose second frame header,
// before any scan, claims 8968 x 11784: the decode keeps the probed frame
// (737 MCU rows of one MCU), instead of decoding 413,000 MCUs from zero bits.
TEST(JpegRegress, ALaterFrameHeaderIsPassedOver)
{
    const std::vector<uint8_t> bytes =
        read_file(std::string(GLIMMERDEX_SOURCE_DIR) + "/tests/regress/jpeg/second-frame-header-claims-a-huge-frame.jpg");
    ASSERT_FALSE(bytes.empty());
    int32_t width = 0, height = 0;
    picture_probe(bytes.data(), int32_t(bytes.size()), &width, &height);
    EXPECT_EQ(width, 8);
    EXPECT_EQ(height, 11784);
    std::vector<uint32_t> pixels(size_t(width) * size_t(height));
    mcus_handed_out = 0;
    const int rc = jpeg_decode(bytes.data(), int32_t(bytes.size()), reinterpret_cast<uint8_t*>(pixels.data()),
                               width * 4, width, height, 0, 0, JpegOptions{count_mcu});
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(mcus_handed_out, (11784 + 15) / 16);
}

}  // namespace
