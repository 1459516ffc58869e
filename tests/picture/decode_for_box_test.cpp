// Decoding for a box: a JPEG decoded at a fraction of its size and fitted
// gives the cell that the full decode and the fit give, to within rounding;
// other pictures give exactly that cell.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "picture/bytes.h"
#include "picture/fit.h"
#include "store/explorer/thumbcache.h"
#include "store/thumbsdb/catalog.h"
#include "store/thumbsdb/compound_file.h"
#include "store/thumbsdb/hashed_streams.h"
#include "tests/picture/jpeg/jpeg_test_util.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbcache_writer.h"

namespace {

constexpr PictureBox CELL{PICTURE_FIT_BOX_WIDTH, PICTURE_FIT_BOX_HEIGHT, 0x204060, CATALOG_MAX_PICTURE_PIXELS};

// The cell the long way: the whole picture decoded into a cleared buffer, then fitted.
bool full_then_fit(const std::vector<uint8_t>& bytes, const PictureBox& box, Picture* fitted)
{
    int32_t w, h;
    picture_probe(bytes.data(), int32_t(bytes.size()), &w, &h);
    if (w <= 0 || h <= 0)
        return false;
    std::vector<uint32_t> pixels(size_t(w) * size_t(h), 0);
    picture_decode(bytes.data(), int32_t(bytes.size()), reinterpret_cast<uint8_t*>(pixels.data()), w * 4, w, h, 0,
                   0);
    return picture_fit(Picture{pixels.data(), w * 4, w, h}, box.width, box.height, box.background, fitted) == 0;
}

struct CellComparison {
    bool same_size = false;
    double psnr = 0;  // 99 when identical
    int max_diff = 0;
};

CellComparison compare_cells(const std::vector<uint8_t>& bytes, const PictureBox& box = CELL)
{
    CellComparison c;
    Picture reference{}, ours{};
    if (!full_then_fit(bytes, box, &reference))
        return c;
    if (picture_decode_for_box(bytes.data(), int32_t(bytes.size()), box, &ours) != 0) {
        std::free(reference.pixels);
        return c;
    }
    c.same_size = ours.width == reference.width && ours.height == reference.height;
    double sum = 0;
    const size_t n = size_t(ours.width) * size_t(ours.height);
    for (size_t i = 0; c.same_size && i < n; ++i)
        for (int shift = 0; shift < 32; shift += 8) {
            const int d = std::abs(int(ours.pixels[i] >> shift & 255) - int(reference.pixels[i] >> shift & 255));
            sum += double(d) * d;
            c.max_diff = std::max(c.max_diff, d);
        }
    const double mse = sum / (3.0 * double(n));
    c.psnr = mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
    std::free(reference.pixels);
    std::free(ours.pixels);
    return c;
}

// Larger than the smallest box below, so fitted down in it.
bool is_large_jpeg(const uint8_t* data, size_t length)
{
    if (length < 16 || data[0] != 0xFF || data[1] != 0xD8)
        return false;
    int32_t w, h;
    picture_probe(data, int32_t(length), &w, &h);
    return w > 0 && h > 0 && int64_t(w) * h <= CATALOG_MAX_PICTURE_PIXELS && (w > 32 || h > 32);
}

bool ends_with(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Every JPEG of the corpus that a cell shows reduced: the thumbnail streams of
// the real Thumbs.db files, the records of the real Explorer caches and the
// conformance pictures that are meant to decode.
std::vector<std::vector<uint8_t>> large_corpus_jpegs()
{
    std::vector<std::vector<uint8_t>> found;
    const auto take = [&](const uint8_t* data, size_t length) {
        if (is_large_jpeg(data, length))
            found.emplace_back(data, data + length);
    };
    const std::string real = corpus_dir() + "/real";
    for (const std::string& name : list_folder(real)) {
        if (!ends_with(name, ".db") || store_load((real + "/" + name).c_str()) != 0)
            continue;
        for (int32_t slot = 0; slot < stream_table.count; ++slot) {
            const uint8_t* data = nullptr;
            int32_t length = 0;
            if (hashed_stream_payload(slot, &data, &length) == 0)
                take(data, size_t(length));
            // Catalog streams: the picture after the 12-byte stream header.
            const ByteView v{stream_table.pool + stream_table.offset[slot], size_t(store_slot_length(slot))};
            if (view_has(v, 8, 4) && view_has(v, 12, read_le32(v.data + 8)))
                take(v.data + 12, read_le32(v.data + 8));
        }
    }
    store_release();
    const std::string explorer = corpus_dir() + "/thumbcache";
    for (const std::string& name : list_folder(explorer)) {
        ThumbcacheFile file{};
        if (!ends_with(name, ".db") || thumbcache_load((explorer + "/" + name).c_str(), &file) != 0)
            continue;
        for (int32_t i = 0; i < file.count; ++i)
            take(file.entries[i].payload.data, file.entries[i].payload.length);
        thumbcache_free(&file);
    }
    std::vector<std::string> header;
    for (const std::vector<std::string>& row : read_tsv(corpus_dir() + "/conformance/manifest.tsv", &header))
        if (row.size() > 6 && row[1] == "jpeg" && row[6] == "decode") {
            const std::vector<uint8_t> bytes = read_file(corpus_dir() + "/conformance/" + row[0]);
            take(bytes.data(), bytes.size());
        }
    return found;
}

} // namespace

TEST(PictureDecodeForBox, LargeCorpusJpegsGiveTheCellsOfTheFullDecode)
{
    REQUIRE_CORPUS();
    const std::vector<std::vector<uint8_t>> jpegs = large_corpus_jpegs();
    double worst = 99;
    int32_t fitted = 0, by_scale[4] = {};
    for (size_t k = 0; k < jpegs.size(); ++k) {
        int32_t w, h;
        picture_probe(jpegs[k].data(), int32_t(jpegs[k].size()), &w, &h);
        if (w <= CELL.width && h <= CELL.height)
            continue;
        SCOPED_TRACE("picture " + std::to_string(k) + ", " + std::to_string(w) + " x " + std::to_string(h));
        ++fitted;
        ++by_scale[picture_box_scale_log2(w, h, CELL.width, CELL.height)];
        const CellComparison c = compare_cells(jpegs[k]);
        ASSERT_TRUE(c.same_size);
        EXPECT_GE(c.psnr, 40.0);
        worst = std::min(worst, c.psnr);
    }
    std::printf("  %d real JPEGs larger than the cell: %d decoded whole, %d at 1/2, %d at 1/4, %d at 1/8; lowest "
                "PSNR %.2f dB\n",
                fitted, by_scale[0], by_scale[1], by_scale[2], by_scale[3], worst);
    EXPECT_GT(fitted, 50);
}

// The reduced decode itself on real pictures (every fifth), at every reduction.
TEST(PictureDecodeForBox, ReducedRealJpegsAreTheMeansOfTheFullDecode)
{
    REQUIRE_CORPUS();
    const std::vector<std::vector<uint8_t>> jpegs = large_corpus_jpegs();
    double worst[4] = {99, 99, 99, 99};
    int32_t compared = 0;
    for (size_t k = 0; k < jpegs.size(); k += 5) {
        int32_t w, h;
        picture_probe(jpegs[k].data(), int32_t(jpegs[k].size()), &w, &h);
        if (w < 64 || h < 64)
            continue;
        ++compared;
        for (int32_t scale = 1; scale <= 3; ++scale) {
            SCOPED_TRACE("picture " + std::to_string(k) + " at 1/" + std::to_string(1 << scale));
            const ReducedComparison r = compare_reduced(jpegs[k], scale);
            ASSERT_EQ(r.rc, 0);
            EXPECT_TRUE(r.guard_intact);
            EXPECT_GE(r.psnr, 45.0);
            worst[scale] = std::min(worst[scale], r.psnr);
        }
    }
    std::printf("  %d real JPEGs: lowest PSNR against the block means %.2f dB at 1/2, %.2f at 1/4, %.2f at 1/8\n",
                compared, worst[1], worst[2], worst[3]);
    EXPECT_GT(compared, 50);
}

TEST(PictureDecodeForBox, FixturePicturesOfEverySize)
{
    // Photograph sizes down to just over twice the cell, odd sizes whose last
    // block row and column are partial, and a strip.
    const int32_t sizes[][2] = {{2000, 1500}, {1500, 2000}, {1001, 757}, {403, 301}, {217, 199}, {1600, 90}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(std::to_string(s[0]) + " x " + std::to_string(s[1]));
        const fixture::Bytes jpeg = fixture::encode_jpeg(fixture::make_test_image(s[0], s[1], 7), 90);
        const CellComparison c = compare_cells(jpeg);
        ASSERT_TRUE(c.same_size);
        EXPECT_GE(c.psnr, 40.0);
    }
}

TEST(PictureDecodeForBox, OtherPicturesGiveExactlyTheFittedCell)
{
    fixture::RgbImage image = fixture::make_test_image(300, 250, 3);
    const CellComparison png = compare_cells(fixture::encode_png_rgba(image));
    EXPECT_TRUE(png.same_size);
    EXPECT_EQ(png.max_diff, 0);
    // A JPEG under twice the cell is decoded whole: the same cell exactly.
    const CellComparison small = compare_cells(fixture::encode_jpeg(fixture::make_test_image(150, 120, 3), 90));
    EXPECT_TRUE(small.same_size);
    EXPECT_EQ(small.max_diff, 0);
}

TEST(PictureDecodeForBox, RefusesWhatItCannotShow)
{
    const fixture::Bytes jpeg = fixture::encode_jpeg(fixture::make_test_image(400, 300, 1), 90);
    Picture fitted{reinterpret_cast<uint32_t*>(8), 0, 0, 0};
    PictureBox box = CELL;
    box.max_pixels = 400 * 300 - 1;
    EXPECT_EQ(picture_decode_for_box(jpeg.data(), int32_t(jpeg.size()), box, &fitted), -1);
    EXPECT_NE(std::string(failure_last().reason).find("ceiling"), std::string::npos);
    EXPECT_EQ(fitted.pixels, reinterpret_cast<uint32_t*>(8));  // untouched
    // Bytes without a size: an empty picture, as the catalog gives.
    const uint8_t garbage[32] = {1, 2, 3};
    EXPECT_EQ(picture_decode_for_box(garbage, int32_t(sizeof garbage), CELL, &fitted), 0);
    EXPECT_EQ(fitted.pixels, nullptr);
    EXPECT_EQ(fitted.width, 0);
    // 2000 x 1500 fits as 100 x 75: at 1/8, 250 x 187.5 is over twice that.
    EXPECT_EQ(picture_box_scale_log2(2000, 1500, 100, 96), 3);
    EXPECT_EQ(picture_box_scale_log2(1599, 1200, 100, 96), 2);
    EXPECT_EQ(picture_box_scale_log2(384, 384, 100, 96), 1);
    EXPECT_EQ(picture_box_scale_log2(383, 383, 100, 96), 0);
}
