// Default JPEG block output: YCbCr (or grey) samples to 0xFFRRGGBB pixels
// through lookup tables, chroma repeated over the luma pixels it covers,
// clipped against the right and bottom bounds of the output window.
#include <cstring>

#include "picture/jpeg/jpeg_internal.h"

namespace {

// Index: a signed 10-bit level - 128 (the top 10 bits of a 32-bit sample).
int32_t clamp_table[1024];
uint32_t green_table[1024];
uint32_t red_table[1024];  // also supplies the 0xFF top byte

// Pair e stands for the chroma value (e - 1024) / 4, in the 2^22 sample scale.
int32_t cr_table[2048][2];  // Cr to red, Cr to green
int32_t cb_table[2048][2];  // Cb to green, Cb to blue

// Chroma value in quarter steps, kept inside the tables: only extreme
// coefficients reach beyond +-256.
inline int32_t chroma_index(int32_t sample)
{
    int32_t m = sample >> 20;
    if (m < -1024)
        m = -1024;
    if (m > 1023)
        m = 1023;
    return m + 1024;
}

inline uint32_t make_pixel(uint32_t Y, uint32_t r_term, uint32_t g_term, uint32_t b_term)
{
    return red_table[(Y + r_term) >> 22] + green_table[(Y + g_term) >> 22] +
           uint32_t(clamp_table[(Y + b_term) >> 22]);
}

// Chroma terms of one MCU whose chroma blocks are sampled 1 x 1.
uint32_t chroma_red[64], chroma_green[64], chroma_blue[64];

void convert_chroma(const int32_t* cb, const int32_t* cr)
{
    for (int n = 0; n < 64; ++n) {
        const int32_t* b = cb_table[chroma_index(cb[n])];
        const int32_t* r = cr_table[chroma_index(cr[n])];
        chroma_red[n] = uint32_t(r[0]);
        chroma_green[n] = uint32_t(r[1]) + uint32_t(b[0]);
        chroma_blue[n] = uint32_t(b[1]);
    }
}

}  // namespace

void jpeg_init_colour_tables()
{
    for (int i = 0; i < 1024; ++i) {
        int v = i < 512 ? i : i - 1024;
        int c = v + 128;
        c = c < 0 ? 0 : c > 255 ? 255 : c;
        clamp_table[i] = c;
        green_table[i] = uint32_t(c) << 8;
        red_table[i] = uint32_t(c - 256) << 16;
    }
    // round(factor x 2^20) for +1.402, -0.71414, -0.34414, +1.772
    const int32_t cr_red = 1470104, cr_green = -748830, cb_green = -360857, cb_blue = 1858077;
    int32_t r = -1024 * cr_red, g = -1024 * cr_green, gb = -1024 * cb_green, b = -1024 * cb_blue;
    for (int e = 0; e < 2048; ++e) {
        cr_table[e][0] = r;
        cr_table[e][1] = g;
        cb_table[e][0] = gb;
        cb_table[e][1] = b;
        r += cr_red;
        g += cr_green;
        gb += cb_green;
        b += cb_blue;
    }
    std::memset(jpeg.mcu_samples + JPEG_MAX_MCU_BLOCKS * 64, 0, 2 * 64 * sizeof(int32_t));
}

void ycbcr_block_output(int32_t x, int32_t y, int32_t* samples)
{
    const int32_t H0 = jpeg.out_H[0], V0 = jpeg.out_V[0];
    const int32_t log2H0 = jpeg.out_log2H[0], log2V0 = jpeg.out_log2V[0];
    const int32_t* cb = samples + JPEG_MAX_MCU_BLOCKS * 64;  // zero blocks for grey output
    const int32_t* cr = cb + 64;
    int32_t Hb = 1, Vb = 1, log2Hb = 0, log2Vb = 0;
    int32_t Hr = 1, Vr = 1, log2Hr = 0, log2Vr = 0;
    if (jpeg.out_components > 1) {
        cb = samples + 64 * H0 * V0;
        Hb = jpeg.out_H[1];
        Vb = jpeg.out_V[1];
        log2Hb = jpeg.out_log2H[1];
        log2Vb = jpeg.out_log2V[1];
        if (jpeg.out_components > 2) {
            cr = cb + 64 * Hb * Vb;
            Hr = jpeg.out_H[2];
            Vr = jpeg.out_V[2];
            log2Hr = jpeg.out_log2H[2];
            log2Vr = jpeg.out_log2V[2];
        }
    }
    const bool simple_chroma = Hb == 1 && Vb == 1 && Hr == 1 && Vr == 1;
    if (simple_chroma)
        convert_chroma(cb, cr);

    const uint32_t right = uint32_t(jpeg.right_bound), bottom = uint32_t(jpeg.bottom_bound);
    const int64_t pitch = jpeg.window.pitch;
    const int32_t* Yblock = samples;
    for (int32_t by = 0; by < V0 * 8; by += 8) {
        const uint32_t r0 = uint32_t(jpeg.window.y_offset) + uint32_t(y) + uint32_t(by);
        if (r0 >= bottom) {
            Yblock += 64 * H0;
            continue;
        }
        const uint32_t h = bottom - r0 < 8 ? bottom - r0 : 8;
        for (int32_t bx = 0; bx < H0 * 8; bx += 8, Yblock += 64) {
            const uint32_t c0 = uint32_t(jpeg.window.x_offset) + uint32_t(x) + uint32_t(bx);
            if (c0 >= right)
                continue;
            const uint32_t w = right - c0 < 8 ? right - c0 : 8;
            uint8_t* row = jpeg.window.destination + pitch * int64_t(int32_t(r0)) + 4 * int64_t(c0);
            for (uint32_t i = 0; i < h; ++i, row += pitch) {
                uint32_t* out = reinterpret_cast<uint32_t*>(row);
                const int32_t* Y = Yblock + 8 * i;
                if (simple_chroma && w == 8 && H0 <= 2) {
                    // Whole-width rows: one chroma sample per pixel (H0 = 1)
                    // or per pixel pair (H0 = 2), fetched without a counter.
                    const int32_t n0 = ((by + int32_t(i)) >> log2V0) * 8 + (bx >> log2H0);
                    if (H0 == 1) {
                        for (int32_t j = 0; j < 8; ++j)
                            out[j] = make_pixel(uint32_t(Y[j]), chroma_red[n0 + j], chroma_green[n0 + j],
                                                chroma_blue[n0 + j]);
                    } else {
                        for (int32_t j = 0; j < 4; ++j) {
                            const uint32_t r = chroma_red[n0 + j], g = chroma_green[n0 + j], b = chroma_blue[n0 + j];
                            out[2 * j] = make_pixel(uint32_t(Y[2 * j]), r, g, b);
                            out[2 * j + 1] = make_pixel(uint32_t(Y[2 * j + 1]), r, g, b);
                        }
                    }
                } else if (simple_chroma) {
                    const int32_t crow = ((by + int32_t(i)) >> log2V0) * 8;
                    for (uint32_t j = 0; j < w; ++j) {
                        const int32_t n = crow + ((bx + int32_t(j)) >> log2H0);
                        out[j] = make_pixel(uint32_t(Y[j]), chroma_red[n], chroma_green[n], chroma_blue[n]);
                    }
                } else {
                    // Chroma of H x V blocks: the sample under luma pixel
                    // (by + i, bx + j) of the MCU, scaled by the factor ratio.
                    const int32_t cyb = ((by + int32_t(i)) << log2Vb) >> log2V0;
                    const int32_t cyr = ((by + int32_t(i)) << log2Vr) >> log2V0;
                    for (uint32_t j = 0; j < w; ++j) {
                        const int32_t cxb = ((bx + int32_t(j)) << log2Hb) >> log2H0;
                        const int32_t cxr = ((bx + int32_t(j)) << log2Hr) >> log2H0;
                        const int32_t nb = ((cyb >> 3) * Hb + (cxb >> 3)) * 64 + (cyb & 7) * 8 + (cxb & 7);
                        const int32_t nr = ((cyr >> 3) * Hr + (cxr >> 3)) * 64 + (cyr & 7) * 8 + (cxr & 7);
                        const int32_t* b = cb_table[chroma_index(cb[nb])];
                        const int32_t* r = cr_table[chroma_index(cr[nr])];
                        out[j] = make_pixel(uint32_t(Y[j]), uint32_t(r[0]), uint32_t(r[1]) + uint32_t(b[0]),
                                            uint32_t(b[1]));
                    }
                }
            }
        }
    }
}
