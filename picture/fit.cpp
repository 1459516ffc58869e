// Area-filter fitting. Each output pixel is the exact average of the source
// area it covers: source pixel i spans [i * out, (i + 1) * out) and output
// pixel x spans [x * in, (x + 1) * in) on a common integer axis, so every
// weight is an integer and the sums are exact; one rounding at the end.
#include "picture/fit.h"

#include <cstdlib>

namespace {

// The size a width x height picture takes in the box.
void fitted_size(int64_t width, int64_t height, int64_t box_width, int64_t box_height, int32_t* out_width,
                 int32_t* out_height)
{
    if (width <= box_width && height <= box_height) {
        *out_width = int32_t(width);
        *out_height = int32_t(height);
        return;
    }
    int64_t w, h;
    if (width * box_height >= height * box_width) {
        // Wider than the box's shape: the width fills the box.
        w = box_width;
        h = (height * box_width * 2 + width) / (width * 2);
    } else {
        h = box_height;
        w = (width * box_height * 2 + height) / (height * 2);
    }
    *out_width = int32_t(w < 1 ? 1 : w > box_width ? box_width : w);
    *out_height = int32_t(h < 1 ? 1 : h > box_height ? box_height : h);
}

// One direction of a fit: `in` pixels of the full picture onto `out`; each
// source pixel stands for 2^step of them (the last one clipped at `in`).
struct FitAxis {
    int64_t in, out;
    int32_t step;
};

// Overlap of source pixel i with output pixel x on the common axis, where a
// full-size pixel is `out` units wide and an output pixel `in`.
inline int64_t overlap(int64_t i, int64_t x, const FitAxis& a)
{
    const int64_t end = ((i + 1) << a.step) < a.in ? (i + 1) << a.step : a.in;
    const int64_t lo = (i << a.step) * a.out > x * a.in ? (i << a.step) * a.out : x * a.in;
    const int64_t hi = end * a.out < (x + 1) * a.in ? end * a.out : (x + 1) * a.in;
    return hi > lo ? hi - lo : 0;
}

// The first source pixel under output pixel x.
inline int64_t first_source(int64_t x, const FitAxis& a) { return (x * a.in / a.out) >> a.step; }

bool alpha_all_zero(const Picture& p)
{
    for (int32_t y = 0; y < p.height; ++y) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(
            reinterpret_cast<const uint8_t*>(p.pixels) + int64_t(y) * p.pitch);
        for (int32_t x = 0; x < p.width; ++x)
            if (row[x] >> 24)
                return false;
    }
    return true;
}


// The fit of a source whose pixels each stand for 2^step x 2^step pixels of a
// full_w x full_h picture, to out_w x out_h.
int fit_area(const Picture& source, int64_t full_w, int64_t full_h, int32_t step, int32_t out_w, int32_t out_h,
             uint32_t background, Picture* fitted)
{
    const int64_t in_w = full_w, in_h = full_h;
    const FitAxis across{in_w, out_w, step}, down{in_h, out_h, step};

    uint32_t* pixels = static_cast<uint32_t*>(std::malloc(size_t(out_w) * size_t(out_h) * 4));
    // Per output column: the three channel sums of one source row, and of the
    // output row being gathered.
    uint64_t* row_sums = static_cast<uint64_t*>(std::malloc(size_t(out_w) * 3 * sizeof(uint64_t)));
    uint64_t* sums = static_cast<uint64_t*>(std::malloc(size_t(out_w) * 3 * sizeof(uint64_t)));
    // Per output column its first source column and where its weights start
    // in `weights`, the same for every row. Neighbouring output columns share
    // at most one source column, and where the output is the wider one a
    // column spans at most two: fewer weights than the source's width and
    // twice the output's.
    int64_t* column_first = static_cast<int64_t*>(std::malloc(size_t(out_w + 1) * sizeof(int64_t)));
    int64_t* weight_start = static_cast<int64_t*>(std::malloc(size_t(out_w + 1) * sizeof(int64_t)));
    int64_t* weights = static_cast<int64_t*>(std::malloc((size_t(source.width) + 2 * size_t(out_w)) * sizeof(int64_t)));
    if (!pixels || !row_sums || !sums || !column_first || !weight_start || !weights) {
        std::free(pixels);
        std::free(row_sums);
        std::free(sums);
        std::free(column_first);
        std::free(weight_start);
        std::free(weights);
        return -1;
    }
    int64_t used = 0;
    for (int32_t x = 0; x < out_w; ++x) {
        column_first[x] = first_source(x, across);
        weight_start[x] = used;
        for (int64_t i = column_first[x]; i < source.width && used < int64_t(source.width) + 2 * int64_t(out_w); ++i) {
            const int64_t wx = overlap(i, x, across);
            if (wx == 0)
                break;
            weights[used++] = wx;
        }
    }
    weight_start[out_w] = used;

    const bool opaque = alpha_all_zero(source);
    const int64_t back[3] = {background >> 16 & 0xFF, background >> 8 & 0xFF, background & 0xFF};
    // Channel values are scaled by 255 (composited exactly), the weights of one
    // output pixel add up to in_w * in_h.
    const uint64_t total = uint64_t(255) * uint64_t(in_w) * uint64_t(in_h);

    for (int32_t y = 0; y < out_h; ++y) {
        for (int32_t k = 0; k < out_w * 3; ++k)
            sums[k] = 0;
        for (int64_t j = first_source(y, down); j < source.height; ++j) {
            int64_t wy = overlap(j, y, down);
            if (wy == 0)
                break;
            const uint32_t* row = reinterpret_cast<const uint32_t*>(
                reinterpret_cast<const uint8_t*>(source.pixels) + j * source.pitch);
            for (int32_t x = 0; x < out_w; ++x) {
                uint64_t r = 0, g = 0, b = 0;
                const uint32_t* from = row + column_first[x];
                const int64_t* w = weights + weight_start[x];
                const int64_t count = weight_start[x + 1] - weight_start[x];
                if (opaque) {
                    // Every pixel at full weight: the factor 255 once, after the sums.
                    for (int64_t n = 0; n < count; ++n) {
                        const uint32_t p = from[n];
                        r += uint64_t(int64_t(p >> 16 & 0xFF) * w[n]);
                        g += uint64_t(int64_t(p >> 8 & 0xFF) * w[n]);
                        b += uint64_t(int64_t(p & 0xFF) * w[n]);
                    }
                    r *= 255;
                    g *= 255;
                    b *= 255;
                } else {
                    for (int64_t n = 0; n < count; ++n) {
                        const uint32_t p = from[n];
                        const int64_t a = p >> 24;
                        r += uint64_t((a * (p >> 16 & 0xFF) + (255 - a) * back[0]) * w[n]);
                        g += uint64_t((a * (p >> 8 & 0xFF) + (255 - a) * back[1]) * w[n]);
                        b += uint64_t((a * (p & 0xFF) + (255 - a) * back[2]) * w[n]);
                    }
                }
                row_sums[x * 3] = r;
                row_sums[x * 3 + 1] = g;
                row_sums[x * 3 + 2] = b;
            }
            for (int32_t k = 0; k < out_w * 3; ++k)
                sums[k] += row_sums[k] * uint64_t(wy);
        }
        uint32_t* out = pixels + int64_t(y) * out_w;
        for (int32_t x = 0; x < out_w; ++x) {
            uint32_t r = uint32_t((sums[x * 3] + total / 2) / total);
            uint32_t g = uint32_t((sums[x * 3 + 1] + total / 2) / total);
            uint32_t b = uint32_t((sums[x * 3 + 2] + total / 2) / total);
            out[x] = 0xFF000000u | r << 16 | g << 8 | b;
        }
    }
    std::free(row_sums);
    std::free(sums);
    std::free(column_first);
    std::free(weight_start);
    std::free(weights);
    *fitted = Picture{pixels, out_w * 4, out_w, out_h};
    return 0;
}

} // namespace

void picture_fitted_size(int64_t width, int64_t height, int32_t box_width, int32_t box_height, int32_t* out_width,
                         int32_t* out_height)
{
    fitted_size(width, height, box_width, box_height, out_width, out_height);
}

int picture_fit(const Picture& source, int32_t box_width, int32_t box_height, uint32_t background, Picture* fitted)
{
    if (!source.pixels || source.width <= 0 || source.height <= 0 || box_width <= 0 || box_height <= 0)
        return -1;
    if (int64_t(source.width) * source.height > FIT_MAX_SOURCE_PIXELS)
        return -1;
    int32_t out_w, out_h;
    fitted_size(source.width, source.height, box_width, box_height, &out_w, &out_h);
    return fit_area(source, source.width, source.height, 0, out_w, out_h, background, fitted);
}

int picture_fit_reduced(const Picture& reduced, int32_t full_width, int32_t full_height, int32_t scale_log2,
                        int32_t box_width, int32_t box_height, uint32_t background, Picture* fitted)
{
    if (scale_log2 < 0 || scale_log2 > 3 || full_width <= 0 || full_height <= 0 || !reduced.pixels ||
        box_width <= 0 || box_height <= 0)
        return -1;
    const int32_t round = (1 << scale_log2) - 1;
    if (reduced.width != (int64_t(full_width) + round) >> scale_log2 ||
        reduced.height != (int64_t(full_height) + round) >> scale_log2 ||
        int64_t(full_width) * full_height > FIT_MAX_SOURCE_PIXELS)
        return -1;
    int32_t out_w, out_h;
    fitted_size(full_width, full_height, box_width, box_height, &out_w, &out_h);
    return fit_area(reduced, full_width, full_height, scale_log2, out_w, out_h, background, fitted);
}
