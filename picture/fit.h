#pragma once
// Fitting a decoded picture into a box: scaled down with an area filter when
// it is larger, composited over a background colour.
#include <cstdint>

#include "picture/picture.h"

// The box the file list fits the pictures of catalog-less streams into: a
// grid cell's picture area (104 x 96 below the name line), less a 4-pixel gap
// between neighbouring columns. 96 high, as the catalogs' own thumbnails.
constexpr int32_t PICTURE_FIT_BOX_WIDTH = 100;
constexpr int32_t PICTURE_FIT_BOX_HEIGHT = 96;

// Pictures whose width times height exceeds this are refused: the exact
// integer sums of the area filter stay within 64 bits below it.
constexpr int64_t FIT_MAX_SOURCE_PIXELS = int64_t(1) << 40;

// Writes into *fitted a newly allocated picture (pixels from std::malloc, to
// be released with std::free; pitch = width * 4). A source larger than the
// box in either dimension is scaled down to fit it, keeping its aspect ratio
// (each side at least 1 pixel), every source pixel weighing with the area it
// covers; a smaller one keeps its size. Each pixel's alpha composites it over
// background (0x00RRGGBB); a source whose alpha is 0 in every pixel counts as
// opaque, since decoders and bitmaps without alpha leave it so. The result is
// opaque (alpha 0xFF). -1, with *fitted untouched and nothing allocated, for an
// empty or oversized source, an empty box, or a failed allocation.
int picture_fit(const Picture& source, int32_t box_width, int32_t box_height, uint32_t background, Picture* fitted);

// The size a width x height picture takes in the box (picture_fit's).
void picture_fitted_size(int64_t width, int64_t height, int32_t box_width, int32_t box_height, int32_t* out_width,
                         int32_t* out_height);

// picture_fit of a picture decoded at 1/2^scale_log2 of its full size
// (scale_log2 0 to 3; reduced is the full size divided and rounded up): the
// result has the size and the area weights of the full picture's fit, each
// reduced pixel standing for the block it is the mean of, clipped at the
// full picture's edges. -1 as picture_fit, or for sizes that do not match.
int picture_fit_reduced(const Picture& reduced, int32_t full_width, int32_t full_height, int32_t scale_log2,
                        int32_t box_width, int32_t box_height, uint32_t background, Picture* fitted);

// What a picture is decoded for when it is only shown fitted into a box.
struct PictureBox {
    int32_t width, height;
    uint32_t background;     // 0x00RRGGBB, under pixels with alpha
    int64_t max_pixels;      // larger pictures (width x height as stored) are refused
};

// The reduction picture_decode_for_box takes for a JPEG of this size: the
// largest of 1/2, 1/4 and 1/8 (as scale_log2 1 to 3) that leaves the picture
// at least PICTURE_BOX_MARGIN times its fitted size each way, else 0. The
// fit then still averages two or more reduced pixels each way into every
// pixel it makes; with only one or a little more, the reduced pixels that an
// output pixel's edge cuts weigh their halves alike, which on sharp real
// thumbnails costs up to 12 dB against fitting the full decode.
constexpr int32_t PICTURE_BOX_MARGIN = 2;
int32_t picture_box_scale_log2(int32_t width, int32_t height, int32_t box_width, int32_t box_height);

// Decodes the picture and fits it into the box, as picture_decode into a
// cleared buffer of its size and then picture_fit would; a JPEG is decoded
// at the reduction above, which spares the transform, colour conversion and
// fitting of the pixels it averages. *fitted as picture_fit's (std::free it).
// A damaged picture gives damaged pixels, as picture_decode's; bytes the
// probe finds no size in give an empty picture (null pixels, 0 x 0), the
// probe's reason in failure_last(). -1 through fail when the picture is past
// box.max_pixels or memory runs out; *fitted is then untouched.
int picture_decode_for_box(const uint8_t* source, int32_t length, const PictureBox& box, Picture* fitted);
