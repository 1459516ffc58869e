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

// The size picture_fit gives a width x height source in the box, without
// fitting it.
void picture_fitted_size(int64_t width, int64_t height, int32_t box_width, int32_t box_height, int32_t* out_width,
                         int32_t* out_height);
