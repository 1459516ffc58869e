// Decoding a picture only to show it fitted into a box: a JPEG much larger
// than the box is decoded at a fraction of its size (means of pixel blocks,
// worked out before the transform), then fitted as the full picture would be.
#include <cstdlib>

#include "picture/bytes.h"
#include "picture/fit.h"
#include "picture/formats.h"

int32_t picture_box_scale_log2(int32_t width, int32_t height, int32_t box_width, int32_t box_height)
{
    if (width <= 0 || height <= 0 || box_width <= 0 || box_height <= 0)
        return 0;
    int32_t fit_w, fit_h;
    picture_fitted_size(width, height, box_width, box_height, &fit_w, &fit_h);
    int32_t scale = 3;
    while (scale > 0 && (width < (int64_t(fit_w) * PICTURE_BOX_MARGIN << scale) ||
                         height < (int64_t(fit_h) * PICTURE_BOX_MARGIN << scale)))
        --scale;
    return scale;
}

int picture_decode_for_box(const uint8_t* source, int32_t length, const PictureBox& box, Picture* fitted)
{
    int32_t width, height;
    picture_probe(source, length, &width, &height);
    if (height < 0 && height != INT32_MIN)
        height = -height;  // a top-down BMP
    if (width <= 0 || height <= 0) {
        *fitted = Picture{nullptr, 0, 0, 0};  // an empty cell, as the catalog gives for such bytes
        return 0;
    }
    if (int64_t(width) * height > box.max_pixels)
        return fail("%d x %d pixels is past the ceiling", width, height);
    const bool jpeg = source && length > 0 && jpeg_sniff(ByteView{source, size_t(length)});
    const int32_t scale = jpeg ? picture_box_scale_log2(width, height, box.width, box.height) : 0;
    const int32_t round = (1 << scale) - 1;
    const int32_t w = int32_t((int64_t(width) + round) >> scale), h = int32_t((int64_t(height) + round) >> scale);
    // Cleared, so that a decoder stopping part-way leaves black, not garbage.
    uint32_t* pixels = static_cast<uint32_t*>(std::calloc(size_t(w) * size_t(h), 4));
    if (!pixels)
        return fail("out of memory for %d x %d pixels", w, h);
    uint8_t* bytes = reinterpret_cast<uint8_t*>(pixels);
    if (scale > 0)
        jpeg_decode(source, length, bytes, w * 4, w, h, 0, 0, JpegOptions{ycbcr_block_output, scale});
    else
        picture_decode(source, length, bytes, w * 4, w, h, 0, 0);
    const Picture decoded{pixels, w * 4, w, h};
    const int result =
        picture_fit_reduced(decoded, width, height, scale, box.width, box.height, box.background, fitted);
    std::free(pixels);
    return result == 0 ? 0 : fail("the picture could not be fitted");
}
