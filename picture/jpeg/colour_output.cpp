// JPEG block outputs. The default: YCbCr (or grey) samples to 0xFFRRGGBB
// pixels through lookup tables, chroma repeated over the luma pixels it
// covers, clipped against the right and bottom bounds of the output window.
// The other takes the planes of old thumbnail caches as blue, green and red.
//
// On x86-64 whole rows of 8 pixels are packed with SSE2, and with AVX2 the
// chroma terms are multiplied out instead of looked up, whole MCUs of the
// common layouts at once: all compute what the tables hold (a table entry is
// the clamped chroma times its factor, and the pixel tables clamp the signed
// top 10 bits of the sum), so the pixels are the same on every path.
#include <algorithm>
#include <cstring>

#include "picture/jpeg/jpeg_internal.h"
#include "picture/raster_window.h"

#if JPEG_X86_64
#include <immintrin.h>
#endif

namespace {

// round(factor x 2^20) for +1.402, -0.71414, -0.34414, +1.772
constexpr int32_t JPEG_CR_RED = 1470104, JPEG_CR_GREEN = -748830, JPEG_CB_GREEN = -360857, JPEG_CB_BLUE = 1858077;

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
alignas(32) SYS_THREAD_LOCAL uint32_t chroma_red[64], chroma_green[64], chroma_blue[64];

#if JPEG_X86_64

// The chroma terms of 8 samples: each clamped to quarter steps of
// -256..255.75 and multiplied by its factors, as the tables hold them.
struct ChromaTerms {
    __m256i red, green, blue;
};

[[gnu::target("avx2")]] inline __m256i chroma_steps(const int32_t* p)
{
    const __m256i m = _mm256_srai_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), 20);
    return _mm256_min_epi32(_mm256_max_epi32(m, _mm256_set1_epi32(-1024)), _mm256_set1_epi32(1023));
}

[[gnu::target("avx2")]] inline ChromaTerms chroma_terms(const int32_t* cb, const int32_t* cr)
{
    const __m256i mb = chroma_steps(cb), mr = chroma_steps(cr);
    return {_mm256_mullo_epi32(mr, _mm256_set1_epi32(JPEG_CR_RED)),
            _mm256_add_epi32(_mm256_mullo_epi32(mr, _mm256_set1_epi32(JPEG_CR_GREEN)),
                             _mm256_mullo_epi32(mb, _mm256_set1_epi32(JPEG_CB_GREEN))),
            _mm256_mullo_epi32(mb, _mm256_set1_epi32(JPEG_CB_BLUE))};
}

[[gnu::target("avx2")]] void convert_chroma_avx2(const int32_t* cb, const int32_t* cr)
{
    for (int n = 0; n < 64; n += 8) {
        const ChromaTerms t = chroma_terms(cb + n, cr + n);
        _mm256_store_si256(reinterpret_cast<__m256i*>(chroma_red + n), t.red);
        _mm256_store_si256(reinterpret_cast<__m256i*>(chroma_green + n), t.green);
        _mm256_store_si256(reinterpret_cast<__m256i*>(chroma_blue + n), t.blue);
    }
}

// One channel of 8 pixels: the signed top 10 bits of luma + term, as 16 bits.
inline __m128i channel_8(__m128i y0, __m128i y1, __m128i t0, __m128i t1)
{
    return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(y0, t0), 22), _mm_srai_epi32(_mm_add_epi32(y1, t1), 22));
}

// 8 pixels from 8 luma samples and the chroma terms of each pixel: level
// shift by 128, clamping to 0..255 by unsigned saturation, then B G R A bytes.
inline void store_8_sse2(uint32_t* out, const int32_t* Y, __m128i r0, __m128i r1, __m128i g0, __m128i g1, __m128i b0,
                         __m128i b1)
{
    const __m128i y0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Y));
    const __m128i y1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Y + 4));
    const __m128i bias = _mm_set1_epi16(128);
    const __m128i red = _mm_add_epi16(channel_8(y0, y1, r0, r1), bias);
    const __m128i green = _mm_add_epi16(channel_8(y0, y1, g0, g1), bias);
    const __m128i blue = _mm_add_epi16(channel_8(y0, y1, b0, b1), bias);
    const __m128i blue_red = _mm_packus_epi16(blue, red);
    const __m128i green_alpha = _mm_packus_epi16(green, _mm_set1_epi16(255));
    const __m128i bg = _mm_unpacklo_epi8(blue_red, green_alpha);
    const __m128i ra = _mm_unpackhi_epi8(blue_red, green_alpha);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(bg, ra));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4), _mm_unpackhi_epi16(bg, ra));
}

inline __m128i load4(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// A whole-width row with one chroma sample per pixel (H0 = 1) or per pixel
// pair (H0 = 2), n0 its first chroma sample.
inline void row_sse2(uint32_t* out, const int32_t* Y, int32_t n0, int32_t H0)
{
    if (H0 == 1) {
        store_8_sse2(out, Y, load4(chroma_red + n0), load4(chroma_red + n0 + 4), load4(chroma_green + n0),
                     load4(chroma_green + n0 + 4), load4(chroma_blue + n0), load4(chroma_blue + n0 + 4));
    } else {
        const __m128i r = load4(chroma_red + n0), g = load4(chroma_green + n0), b = load4(chroma_blue + n0);
        store_8_sse2(out, Y, _mm_unpacklo_epi32(r, r), _mm_unpackhi_epi32(r, r), _mm_unpacklo_epi32(g, g),
                     _mm_unpackhi_epi32(g, g), _mm_unpacklo_epi32(b, b), _mm_unpackhi_epi32(b, b));
    }
}

// Whole MCUs of the common layouts in AVX2 (luma H0 x V0 blocks with H0, V0
// of 1 or 2 but not 1 x 2, chroma 1 x 1 or none): the chroma terms are
// computed row by row (chroma_terms) and go straight into the pixels, packed
// as store_8_sse2 packs them; each 128-bit half of a vector holds four pixels.

// The terms of chroma samples 0 to 7 each taken twice: twice_low gives those
// of samples 0, 0, 1, 1 | 4, 4, 5, 5, twice_high of 2, 2, 3, 3 | 6, 6, 7, 7.
[[gnu::target("avx2")]] inline ChromaTerms twice_low(const ChromaTerms& t)
{
    return {_mm256_unpacklo_epi32(t.red, t.red), _mm256_unpacklo_epi32(t.green, t.green),
            _mm256_unpacklo_epi32(t.blue, t.blue)};
}

[[gnu::target("avx2")]] inline ChromaTerms twice_high(const ChromaTerms& t)
{
    return {_mm256_unpackhi_epi32(t.red, t.red), _mm256_unpackhi_epi32(t.green, t.green),
            _mm256_unpackhi_epi32(t.blue, t.blue)};
}

// Eight pixels, B G R A, from luma and the terms of each pixel: the signed
// top 10 bits of each sum, level shift by 128, unsigned saturation to 0..255.
[[gnu::target("avx2")]] inline __m256i pack_pixels(__m256i y, const ChromaTerms& t)
{
    const __m256i red = _mm256_srai_epi32(_mm256_add_epi32(y, t.red), 22);
    const __m256i green = _mm256_srai_epi32(_mm256_add_epi32(y, t.green), 22);
    const __m256i blue = _mm256_srai_epi32(_mm256_add_epi32(y, t.blue), 22);
    const __m256i bias = _mm256_set1_epi16(128);
    // 127 + 128 saturates to the alpha of 255.
    const __m256i blue_green = _mm256_add_epi16(_mm256_packs_epi32(blue, green), bias);
    const __m256i red_alpha = _mm256_add_epi16(_mm256_packs_epi32(red, _mm256_set1_epi32(127)), bias);
    // Each half: b0-3 g0-3 r0-3 a0-3, to b0 g0 r0 a0 b1 ...
    const __m256i order = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 0, 4, 8, 12, 1, 5, 9,
                                           13, 2, 6, 10, 14, 3, 7, 11, 15);
    return _mm256_shuffle_epi8(_mm256_packus_epi16(blue_green, red_alpha), order);
}

[[gnu::target("avx2")]] inline __m256i two_halves(const int32_t* low, const int32_t* high)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

inline void store_4(uint8_t* out, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v); }

// 16 pixels of a row whose luma comes from blocks rows L and R, each chroma
// sample covering two pixels across.
[[gnu::target("avx2")]] inline void row_16(uint8_t* out, const int32_t* L, const int32_t* R, const ChromaTerms& low,
                                           const ChromaTerms& high)
{
    const __m256i a = pack_pixels(two_halves(L, R), low);           // L0-3 | R0-3
    const __m256i b = pack_pixels(two_halves(L + 4, R + 4), high);  // L4-7 | R4-7
    store_4(out, _mm256_castsi256_si128(a));
    store_4(out + 16, _mm256_castsi256_si128(b));
    store_4(out + 32, _mm256_extracti128_si256(a, 1));
    store_4(out + 48, _mm256_extracti128_si256(b, 1));
}

// out: the MCU's top left pixel. H0 x V0: 1 x 1, 2 x 1 or 2 x 2.
template <int H0, int V0>
[[gnu::target("avx2")]] void whole_mcu_avx2(uint8_t* out, int64_t pitch, const int32_t* samples, const int32_t* cb,
                                            const int32_t* cr)
{
    if (H0 == 1) {
        for (int i = 0; i < 8; ++i, out += pitch) {
            const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples + 8 * i));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), pack_pixels(y, chroma_terms(cb + 8 * i, cr + 8 * i)));
        }
        return;
    }
    for (int c = 0; c < 8; ++c) {
        const ChromaTerms t = chroma_terms(cb + 8 * c, cr + 8 * c);
        const ChromaTerms low = twice_low(t), high = twice_high(t);
        for (int v = 0; v < V0; ++v, out += pitch) {
            // Luma row yy of the MCU: block row yy / 8, row yy % 8 of it.
            const int yy = c * V0 + v;
            const int32_t* L = samples + 128 * (yy >> 3) + 8 * (yy & 7);
            row_16(out, L, L + 64, low, high);
        }
    }
}

// Outputs the MCU and returns true where it is whole inside the window and
// of a layout whole_mcu_avx2 takes.
bool whole_mcu(int32_t x, int32_t y, int32_t* samples)
{
    const int32_t H0 = jpeg.out_H[0], V0 = jpeg.out_V[0];
    const int32_t n = jpeg.out_components;
    if (n != 1 && n != 3)
        return false;
    if (n == 3 && (jpeg.out_H[1] != 1 || jpeg.out_V[1] != 1 || jpeg.out_H[2] != 1 || jpeg.out_V[2] != 1))
        return false;
    const int64_t c0 = int64_t(jpeg.window.x_offset) + x, r0 = int64_t(jpeg.window.y_offset) + y;
    if (c0 < 0 || r0 < 0 || c0 + 8 * H0 > jpeg.right_bound || r0 + 8 * V0 > jpeg.bottom_bound)
        return false;
    // Grey takes its chroma from the two zero blocks after the buffer's ten.
    const int32_t* cb = n == 3 ? samples + 64 * H0 * V0 : samples + JPEG_MAX_MCU_BLOCKS * 64;
    const int32_t* cr = cb + 64;
    uint8_t* out = jpeg.window.destination + r0 * jpeg.window.pitch + 4 * c0;
    const int64_t pitch = jpeg.window.pitch;
    if (H0 == 1 && V0 == 1)
        whole_mcu_avx2<1, 1>(out, pitch, samples, cb, cr);
    else if (H0 == 2 && V0 == 1)
        whole_mcu_avx2<2, 1>(out, pitch, samples, cb, cr);
    else if (H0 == 2 && V0 == 2)
        whole_mcu_avx2<2, 2>(out, pitch, samples, cb, cr);
    else
        return false;
    return true;
}

#endif

void convert_chroma(const int32_t* cb, const int32_t* cr)
{
#if JPEG_X86_64
    if (jpeg_simd == JPEG_SIMD_AVX2) {
        convert_chroma_avx2(cb, cr);
        return;
    }
#endif
    for (int n = 0; n < 64; ++n) {
        const int32_t* b = cb_table[chroma_index(cb[n])];
        const int32_t* r = cr_table[chroma_index(cr[n])];
        chroma_red[n] = uint32_t(r[0]);
        chroma_green[n] = uint32_t(r[1]) + uint32_t(b[0]);
        chroma_blue[n] = uint32_t(b[1]);
    }
}

// The luma sampling of an MCU and where its chroma blocks lie, with their
// sampling; grey output reads the two zero blocks after the buffer's ten.
struct McuLayout {
    int32_t H0, V0, log2H0, log2V0;
    const int32_t* cb;
    const int32_t* cr;
    int32_t Hb, Vb, log2Hb, log2Vb;
    int32_t Hr, Vr, log2Hr, log2Vr;
    bool simple_chroma;  // both chroma components sampled 1 x 1
};

McuLayout mcu_layout(int32_t* samples)
{
    McuLayout m = {jpeg.out_H[0], jpeg.out_V[0], jpeg.out_log2H[0], jpeg.out_log2V[0],
                   samples + JPEG_MAX_MCU_BLOCKS * 64, samples + JPEG_MAX_MCU_BLOCKS * 64 + 64,
                   1, 1, 0, 0, 1, 1, 0, 0, false};
    if (jpeg.out_components > 1) {
        m.cb = samples + 64 * m.H0 * m.V0;
        m.Hb = jpeg.out_H[1];
        m.Vb = jpeg.out_V[1];
        m.log2Hb = jpeg.out_log2H[1];
        m.log2Vb = jpeg.out_log2V[1];
        if (jpeg.out_components > 2) {
            m.cr = m.cb + 64 * m.Hb * m.Vb;
            m.Hr = jpeg.out_H[2];
            m.Vr = jpeg.out_V[2];
            m.log2Hr = jpeg.out_log2H[2];
            m.log2Vr = jpeg.out_log2V[2];
        }
    }
    m.simple_chroma = m.Hb == 1 && m.Vb == 1 && m.Hr == 1 && m.Vr == 1;
    return m;
}

// Chroma of H x V blocks: the sample under luma pixel (yy, bx + j) of the
// MCU, scaled by the factor ratio.
[[gnu::always_inline]] inline void scaled_chroma_row(uint32_t* out, const int32_t* Y, uint32_t w, int32_t yy,
                                                     int32_t bx, const McuLayout& m)
{
    const int32_t cyb = (yy << m.log2Vb) >> m.log2V0;
    const int32_t cyr = (yy << m.log2Vr) >> m.log2V0;
    for (uint32_t j = 0; j < w; ++j) {
        const int32_t cxb = ((bx + int32_t(j)) << m.log2Hb) >> m.log2H0;
        const int32_t cxr = ((bx + int32_t(j)) << m.log2Hr) >> m.log2H0;
        const int32_t nb = ((cyb >> 3) * m.Hb + (cxb >> 3)) * 64 + (cyb & 7) * 8 + (cxb & 7);
        const int32_t nr = ((cyr >> 3) * m.Hr + (cxr >> 3)) * 64 + (cyr & 7) * 8 + (cxr & 7);
        const int32_t* b = cb_table[chroma_index(m.cb[nb])];
        const int32_t* r = cr_table[chroma_index(m.cr[nr])];
        out[j] = make_pixel(uint32_t(Y[j]), uint32_t(r[0]), uint32_t(r[1]) + uint32_t(b[0]), uint32_t(b[1]));
    }
}

// w pixels of luma row Y, which is row yy of the MCU from its column bx on.
[[gnu::always_inline]] inline void ycbcr_row(uint32_t* out, const int32_t* Y, uint32_t w, int32_t yy, int32_t bx,
                                             const McuLayout& m)
{
    if (!m.simple_chroma) {
        scaled_chroma_row(out, Y, w, yy, bx, m);
    } else if (w == 8 && m.H0 <= 2) {
        // Whole-width rows: one chroma sample per pixel (H0 = 1) or per pixel
        // pair (H0 = 2), fetched without a counter.
        const int32_t n0 = (yy >> m.log2V0) * 8 + (bx >> m.log2H0);
#if JPEG_X86_64
        if (jpeg_simd != JPEG_SIMD_SCALAR) {
            row_sse2(out, Y, n0, m.H0);
            return;
        }
#endif
        if (m.H0 == 1) {
            for (int32_t j = 0; j < 8; ++j)
                out[j] = make_pixel(uint32_t(Y[j]), chroma_red[n0 + j], chroma_green[n0 + j], chroma_blue[n0 + j]);
        } else {
            for (int32_t j = 0; j < 4; ++j) {
                const uint32_t r = chroma_red[n0 + j], g = chroma_green[n0 + j], b = chroma_blue[n0 + j];
                out[2 * j] = make_pixel(uint32_t(Y[2 * j]), r, g, b);
                out[2 * j + 1] = make_pixel(uint32_t(Y[2 * j + 1]), r, g, b);
            }
        }
    } else {
        const int32_t crow = (yy >> m.log2V0) * 8;
        for (uint32_t j = 0; j < w; ++j) {
            const int32_t n = crow + ((bx + int32_t(j)) >> m.log2H0);
            out[j] = make_pixel(uint32_t(Y[j]), chroma_red[n], chroma_green[n], chroma_blue[n]);
        }
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
    const int32_t cr_red = JPEG_CR_RED, cr_green = JPEG_CR_GREEN, cb_green = JPEG_CB_GREEN, cb_blue = JPEG_CB_BLUE;
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
#if JPEG_X86_64
    if (jpeg_simd == JPEG_SIMD_AVX2 && whole_mcu(x, y, samples))
        return;
#endif
    const McuLayout m = mcu_layout(samples);
    if (m.simple_chroma)
        convert_chroma(m.cb, m.cr);
    const uint32_t right = uint32_t(jpeg.right_bound), bottom = uint32_t(jpeg.bottom_bound);
    const int64_t pitch = jpeg.window.pitch;
    const int32_t* Yblock = samples;
    for (int32_t by = 0; by < m.V0 * 8; by += 8) {
        const uint32_t r0 = uint32_t(jpeg.window.y_offset) + uint32_t(y) + uint32_t(by);
        if (r0 >= bottom) {
            Yblock += 64 * m.H0;
            continue;
        }
        const uint32_t h = bottom - r0 < 8 ? bottom - r0 : 8;
        for (int32_t bx = 0; bx < m.H0 * 8; bx += 8, Yblock += 64) {
            const uint32_t c0 = uint32_t(jpeg.window.x_offset) + uint32_t(x) + uint32_t(bx);
            if (c0 >= right)
                continue;
            const uint32_t w = right - c0 < 8 ? right - c0 : 8;
            uint8_t* row = jpeg.window.destination + pitch * int64_t(int32_t(r0)) + 4 * int64_t(c0);
            for (uint32_t i = 0; i < h; ++i, row += pitch)
                ycbcr_row(reinterpret_cast<uint32_t*>(row), Yblock + 8 * i, w, by + int32_t(i), bx, m);
        }
    }
}

// Old thumbnail caches store their planes as blue, green and red (and an
// unused fourth); the block is placed by the window's rule, clipped to its
// width and height.
void bgr_block_output(int32_t x, int32_t y, int32_t* samples)
{
    // Blocks past the MCU's own (a damaged frame of fewer components) read as
    // the zero blocks, level 128, not as what an earlier picture left there.
    int32_t blocks = 0;
    for (int32_t n = 0; n < jpeg.out_components; ++n)
        blocks += jpeg.out_H[n] * jpeg.out_V[n];
    const int32_t* zero = samples + JPEG_MAX_MCU_BLOCKS * 64;
    const int32_t* green_block = blocks > 1 ? samples + 64 : zero;
    const int32_t* red_block = blocks > 2 ? samples + 128 : zero;
    const OutputWindow& w = jpeg.window;
    const int64_t column0 = int64_t(w.x_offset) + x, row0 = int64_t(w.y_offset) + y;
    const VisibleSpan columns = visible_span(8, column0, w.clip_width);
    const VisibleSpan rows = visible_span(8, row0, w.clip_height);
    for (int64_t r = rows.first; r < rows.end; ++r) {
        uint8_t* out = w.destination + (row0 + r) * int64_t(w.pitch) + column0 * 4;
        for (int64_t c = columns.first; c < columns.end; ++c) {
            const int64_t i = r * 8 + c;
            const int32_t blue = std::clamp((samples[i] >> 22) + 128, 0, 255);
            const int32_t green = std::clamp((green_block[i] >> 22) + 128, 0, 255);
            const int32_t red = std::clamp((red_block[i] >> 22) + 128, 0, 255);
            store_pixel(out + c * 4, uint32_t(red) << 16 | uint32_t(green) << 8 | uint32_t(blue));
        }
    }
}

// Reduced output: slot j's block (bx, by) covers 2^cover output pixels across
// and down from the MCU's corner, and holds 2^box samples each way, each
// repeated over 2^(cover - box) pixels. Not a hot path: the pictures it
// serves have a quarter of the pixels or fewer.
namespace {

// The reduction where a luma block gives one pixel (1/8 for most pictures)
// and each chroma component one block of one sample per pixel of the MCU:
// an MCU of H0 x V0 pixels whole inside the window, as the general path
// below outputs it, without its per-pixel choices. False for anything else.
bool luma_sample_mcu(int32_t x, int32_t y, const int32_t* samples)
{
    if (jpeg.out_components != 3 || jpeg.out_cover_log2h[0] != 0 || jpeg.out_cover_log2v[0] != 0)
        return false;
    const int32_t H0 = jpeg.out_H[0], V0 = jpeg.out_V[0];
    for (int32_t j = 1; j < 3; ++j)
        if (jpeg.out_H[j] != 1 || jpeg.out_V[j] != 1 || jpeg.out_cover_log2h[j] != jpeg.out_log2H[0] ||
            jpeg.out_cover_log2v[j] != jpeg.out_log2V[0] || jpeg.out_box_log2h[j] != jpeg.out_cover_log2h[j] ||
            jpeg.out_box_log2v[j] != jpeg.out_cover_log2v[j])
            return false;
    const int64_t c0 = int64_t(jpeg.window.x_offset) + (x >> jpeg.scale_log2);
    const int64_t r0 = int64_t(jpeg.window.y_offset) + (y >> jpeg.scale_log2);
    if (c0 < 0 || r0 < 0 || c0 + H0 > jpeg.right_bound || r0 + V0 > jpeg.bottom_bound)
        return false;
    const int32_t* cb = samples + 64 * H0 * V0;
    const int32_t* cr = cb + 64;
    for (int32_t i = 0; i < V0; ++i) {
        uint32_t* row = reinterpret_cast<uint32_t*>(jpeg.window.destination + (r0 + i) * jpeg.window.pitch) + c0;
        for (int32_t k = 0; k < H0; ++k) {
            const int32_t* b = cb_table[chroma_index(cb[8 * i + k])];
            const int32_t* r = cr_table[chroma_index(cr[8 * i + k])];
            row[k] = make_pixel(uint32_t(samples[64 * (i * H0 + k)]), uint32_t(r[0]), uint32_t(r[1]) + uint32_t(b[0]),
                                uint32_t(b[1]));
        }
    }
    return true;
}

}  // namespace

void box_block_output(int32_t x, int32_t y, int32_t* samples)
{
    if (luma_sample_mcu(x, y, samples))
        return;
    const int32_t scale = jpeg.scale_log2;
    const int32_t* block_of[3];
    int32_t sh[3], sv[3], ch[3], cv[3], columns[3], rows[3];
    const int32_t* base = samples;
    for (int32_t j = 0; j < 3; ++j) {
        if (j < jpeg.out_components) {
            block_of[j] = base;
            base += 64 * jpeg.out_H[j] * jpeg.out_V[j];
            ch[j] = jpeg.out_cover_log2h[j];
            cv[j] = jpeg.out_cover_log2v[j];
            sh[j] = ch[j] - jpeg.out_box_log2h[j];
            sv[j] = cv[j] - jpeg.out_box_log2v[j];
            columns[j] = jpeg.out_H[j];
            rows[j] = jpeg.out_V[j];
        } else {
            // Grey output: Cb and Cr from the zero blocks after the buffer's ten.
            block_of[j] = samples + JPEG_MAX_MCU_BLOCKS * 64 + 64 * (j - 1);
            ch[j] = cv[j] = 3;
            sh[j] = sv[j] = 0;
            columns[j] = rows[j] = 1;
        }
    }
    // The MCU's extent in output pixels: the luma blocks' cover.
    const int32_t width = jpeg.out_H[0] << ch[0], height = jpeg.out_V[0] << cv[0];
    const uint32_t right = uint32_t(jpeg.right_bound), bottom = uint32_t(jpeg.bottom_bound);
    const uint32_t c0 = uint32_t(jpeg.window.x_offset) + uint32_t(x >> scale);
    const uint32_t r0 = uint32_t(jpeg.window.y_offset) + uint32_t(y >> scale);
    const int64_t pitch = jpeg.window.pitch;
    for (int32_t i = 0; i < height; ++i) {
        const uint32_t r = r0 + uint32_t(i);
        if (r >= bottom)
            continue;
        uint32_t* row = reinterpret_cast<uint32_t*>(jpeg.window.destination + pitch * int64_t(int32_t(r)));
        for (int32_t k = 0; k < width; ++k) {
            const uint32_t c = c0 + uint32_t(k);
            if (c >= right)
                continue;
            int32_t value[3];
            for (int32_t j = 0; j < 3; ++j) {
                // Pixels past a component's blocks (odd layouts) take its last block.
                int32_t bx = k >> ch[j], by = i >> cv[j];
                if (bx >= columns[j])
                    bx = columns[j] - 1;
                if (by >= rows[j])
                    by = rows[j] - 1;
                const int32_t* block = block_of[j] + 64 * (by * columns[j] + bx);
                value[j] = block[8 * ((i & ((1 << cv[j]) - 1)) >> sv[j]) + ((k & ((1 << ch[j]) - 1)) >> sh[j])];
            }
            const int32_t* b = cb_table[chroma_index(value[1])];
            const int32_t* rr = cr_table[chroma_index(value[2])];
            row[c] = make_pixel(uint32_t(value[0]), uint32_t(rr[0]), uint32_t(rr[1]) + uint32_t(b[0]), uint32_t(b[1]));
        }
    }
}
