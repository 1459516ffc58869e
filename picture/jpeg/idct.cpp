// 8x8 inverse DCT, Arai-Agui-Nakajima factorisation in 32-bit fixed point.
// The quantisation tables carry the AAN scale factors and 2^19, so the output
// is (level - 128) x 2^22 with no final division.
//
// Sums wrap in 32 bits (unsigned arithmetic keeps that defined); damaged
// coefficients give damaged samples, never undefined behaviour.
//
// On x86-64 the same arithmetic runs on SSE2 (4 lanes) or AVX2 (8 lanes,
// chosen once at start-up): every lane computes exactly what the scalar step
// computes, so all three give the same samples. A zero row transforms to
// zeros and a row of DC alone to its DC, whichever path runs, so the row
// mask only saves work.
#include "picture/jpeg/jpeg_internal.h"

#include <cmath>

#if JPEG_X86_64
#include <immintrin.h>
#endif

int32_t jpeg_simd = JPEG_SIMD_SCALAR;
int32_t jpeg_box_matrix[4][8][8];

namespace {

// The four products of the step: the constant, and the left shift after
// taking the high 32 bits of the signed 64-bit product.
constexpr int32_t JPEG_IDCT_SQRT2 = 1518500224;  // 1.4142135, shift 2
constexpr int32_t JPEG_IDCT_Z5 = 1984016192;     // 1.8477591, shift 2
constexpr int32_t JPEG_IDCT_ODD6 = 1402911296;   // 2.6131259, shift 3
constexpr int32_t JPEG_IDCT_ODD4 = 1162209792;   // 1.0823922, shift 2

// High 32 bits of the signed 64-bit product, shifted left by s.
template <int s>
inline uint32_t mul_high(uint32_t x, int64_t K)
{
    return uint32_t(int64_t(int32_t(x)) * K >> 32) << s;
}

inline void idct_1d(uint32_t* v, int stride)
{
    const uint32_t i0 = v[0], i1 = v[stride], i2 = v[2 * stride], i3 = v[3 * stride];
    const uint32_t i4 = v[4 * stride], i5 = v[5 * stride], i6 = v[6 * stride], i7 = v[7 * stride];
    if ((i1 | i2 | i3 | i4 | i5 | i6 | i7) == 0) {
        // Every product below is 0, so all eight outputs are i0.
        for (int k = 1; k < 8; ++k)
            v[k * stride] = i0;
        return;
    }

    const uint32_t t10 = i0 + i4;
    const uint32_t t11 = i0 - i4;
    const uint32_t t13 = i2 + i6;
    const uint32_t t12 = mul_high<2>(i2 - i6, JPEG_IDCT_SQRT2) - t13;
    const uint32_t e0 = t10 + t13, e3 = t10 - t13;
    const uint32_t e1 = t11 + t12, e2 = t11 - t12;

    const uint32_t o7 = i1 + i3 + i5 + i7;
    const uint32_t z5 = mul_high<2>(i1 + i5 - i3 - i7, JPEG_IDCT_Z5);
    const uint32_t o6 = mul_high<3>(i3 - i5, JPEG_IDCT_ODD6) + z5 - o7;
    const uint32_t o5 = mul_high<2>(i1 + i7 - i3 - i5, JPEG_IDCT_SQRT2) - o6;
    const uint32_t o4 = mul_high<2>(i1 - i7, JPEG_IDCT_ODD4) - z5 + o5;

    v[0] = e0 + o7;
    v[7 * stride] = e0 - o7;
    v[stride] = e1 + o6;
    v[6 * stride] = e1 - o6;
    v[2 * stride] = e2 + o5;
    v[5 * stride] = e2 - o5;
    v[4 * stride] = e3 + o4;
    v[3 * stride] = e3 - o4;
}

void idct_8x8_scalar(uint32_t* v, uint32_t row_mask)
{
    // Rows whose bit is clear are all zero and stay so.
    for (int r = 0; r < 8; ++r, row_mask >>= 1)
        if (row_mask & 1)
            idct_1d(v + 8 * r, 1);
    for (int c = 0; c < 8; ++c)
        idct_1d(v + c, 8);
}

#if JPEG_X86_64

// SSE2 has only the unsigned 32 x 32 -> 64 multiply; the constants are
// positive, so the signed high half is the unsigned one less K where x < 0.
template <int s>
inline __m128i mul_high_sse2(__m128i x, int32_t K)
{
    const __m128i k = _mm_set1_epi32(K);
    const __m128i even = _mm_mul_epu32(x, k);
    const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(x, 32), k);
    const __m128i high = _mm_or_si128(_mm_srli_epi64(even, 32), _mm_and_si128(odd, _mm_set_epi32(-1, 0, -1, 0)));
    return _mm_slli_epi32(_mm_sub_epi32(high, _mm_and_si128(_mm_srai_epi32(x, 31), k)), s);
}

// The 1-D step on four lanes; v[k] holds input k of each lane.
inline void idct_1d_sse2(__m128i* v)
{
    const __m128i i0 = v[0], i1 = v[1], i2 = v[2], i3 = v[3], i4 = v[4], i5 = v[5], i6 = v[6], i7 = v[7];
    const __m128i t10 = _mm_add_epi32(i0, i4);
    const __m128i t11 = _mm_sub_epi32(i0, i4);
    const __m128i t13 = _mm_add_epi32(i2, i6);
    const __m128i t12 = _mm_sub_epi32(mul_high_sse2<2>(_mm_sub_epi32(i2, i6), JPEG_IDCT_SQRT2), t13);
    const __m128i e0 = _mm_add_epi32(t10, t13), e3 = _mm_sub_epi32(t10, t13);
    const __m128i e1 = _mm_add_epi32(t11, t12), e2 = _mm_sub_epi32(t11, t12);

    const __m128i s15 = _mm_add_epi32(i1, i5), s37 = _mm_add_epi32(i3, i7);
    const __m128i o7 = _mm_add_epi32(s15, s37);
    const __m128i z5 = mul_high_sse2<2>(_mm_sub_epi32(s15, s37), JPEG_IDCT_Z5);
    const __m128i o6 = _mm_sub_epi32(_mm_add_epi32(mul_high_sse2<3>(_mm_sub_epi32(i3, i5), JPEG_IDCT_ODD6), z5), o7);
    const __m128i o5 = _mm_sub_epi32(
        mul_high_sse2<2>(_mm_sub_epi32(_mm_add_epi32(i1, i7), _mm_add_epi32(i3, i5)), JPEG_IDCT_SQRT2), o6);
    const __m128i o4 = _mm_add_epi32(_mm_sub_epi32(mul_high_sse2<2>(_mm_sub_epi32(i1, i7), JPEG_IDCT_ODD4), z5), o5);

    v[0] = _mm_add_epi32(e0, o7);
    v[7] = _mm_sub_epi32(e0, o7);
    v[1] = _mm_add_epi32(e1, o6);
    v[6] = _mm_sub_epi32(e1, o6);
    v[2] = _mm_add_epi32(e2, o5);
    v[5] = _mm_sub_epi32(e2, o5);
    v[4] = _mm_add_epi32(e3, o4);
    v[3] = _mm_sub_epi32(e3, o4);
}

inline void transpose_4x4(__m128i& a, __m128i& b, __m128i& c, __m128i& d)
{
    const __m128i t0 = _mm_unpacklo_epi32(a, b), t1 = _mm_unpacklo_epi32(c, d);
    const __m128i t2 = _mm_unpackhi_epi32(a, b), t3 = _mm_unpackhi_epi32(c, d);
    a = _mm_unpacklo_epi64(t0, t1);
    b = _mm_unpackhi_epi64(t0, t1);
    c = _mm_unpacklo_epi64(t2, t3);
    d = _mm_unpackhi_epi64(t2, t3);
}

// The block as [half][row]: half h holds columns 4h to 4h + 3. Transposing
// quarter (g, h) gives [g][column] with rows 4g to 4g + 3 in the lanes.
inline void transpose_8x8_sse2(__m128i (*m)[8], __m128i (*t)[8])
{
    for (int g = 0; g < 2; ++g)
        for (int h = 0; h < 2; ++h) {
            __m128i a = m[h][4 * g], b = m[h][4 * g + 1], c = m[h][4 * g + 2], d = m[h][4 * g + 3];
            transpose_4x4(a, b, c, d);
            t[g][4 * h] = a;
            t[g][4 * h + 1] = b;
            t[g][4 * h + 2] = c;
            t[g][4 * h + 3] = d;
        }
}

void idct_8x8_sse2(int32_t* block)
{
    __m128i m[2][8], t[2][8];
    for (int r = 0; r < 8; ++r) {
        m[0][r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r));
        m[1][r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r + 4));
    }
    // Rows: the transposed block has one row per lane.
    transpose_8x8_sse2(m, t);
    idct_1d_sse2(t[0]);
    idct_1d_sse2(t[1]);
    // Columns: back to one column per lane.
    transpose_8x8_sse2(t, m);
    idct_1d_sse2(m[0]);
    idct_1d_sse2(m[1]);
    for (int r = 0; r < 8; ++r) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * r), m[0][r]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * r + 4), m[1][r]);
    }
}

template <int s>
[[gnu::target("avx2")]] inline __m256i mul_high_avx2(__m256i x, int32_t K)
{
    const __m256i k = _mm256_set1_epi32(K);
    const __m256i even = _mm256_mul_epi32(x, k);
    const __m256i odd = _mm256_mul_epi32(_mm256_srli_epi64(x, 32), k);
    return _mm256_slli_epi32(_mm256_blend_epi32(_mm256_srli_epi64(even, 32), odd, 0xAA), s);
}

template <bool aligned>
[[gnu::target("avx2")]] inline __m256i load_row(const int32_t* in, int k)
{
    const __m256i* p = reinterpret_cast<const __m256i*>(in + 8 * k);
    return aligned ? _mm256_load_si256(p) : _mm256_loadu_si256(p);
}

template <bool aligned>
[[gnu::target("avx2")]] inline void store_row(int32_t* out, int k, __m256i v)
{
    __m256i* p = reinterpret_cast<__m256i*>(out + 8 * k);
    if (aligned)
        _mm256_store_si256(p, v);
    else
        _mm256_storeu_si256(p, v);
}

// The 1-D step on eight lanes, from memory to memory: input k of each lane
// at in + 8k, output k at out + 8k. Loading each input when it is first
// needed and storing each output when it is ready keeps the step within the
// sixteen vector registers; held in registers throughout, the block and the
// step's terms spill to the stack. With low_only, inputs 4 to 7 are zero and
// not read: the same sums without their terms.
template <bool aligned_in, bool aligned_out, bool low_only = false>
[[gnu::target("avx2")]] inline void idct_pass_avx2(const int32_t* in, int32_t* out)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i i0 = load_row<aligned_in>(in, 0), i4 = low_only ? zero : load_row<aligned_in>(in, 4);
    const __m256i i2 = load_row<aligned_in>(in, 2), i6 = low_only ? zero : load_row<aligned_in>(in, 6);
    const __m256i t10 = _mm256_add_epi32(i0, i4);
    const __m256i t11 = _mm256_sub_epi32(i0, i4);
    const __m256i t13 = _mm256_add_epi32(i2, i6);
    const __m256i t12 = _mm256_sub_epi32(mul_high_avx2<2>(_mm256_sub_epi32(i2, i6), JPEG_IDCT_SQRT2), t13);
    const __m256i e0 = _mm256_add_epi32(t10, t13), e3 = _mm256_sub_epi32(t10, t13);
    const __m256i e1 = _mm256_add_epi32(t11, t12), e2 = _mm256_sub_epi32(t11, t12);

    const __m256i i1 = load_row<aligned_in>(in, 1), i3 = load_row<aligned_in>(in, 3);
    const __m256i i5 = low_only ? zero : load_row<aligned_in>(in, 5);
    const __m256i i7 = low_only ? zero : load_row<aligned_in>(in, 7);
    const __m256i s15 = _mm256_add_epi32(i1, i5), s37 = _mm256_add_epi32(i3, i7);
    const __m256i o7 = _mm256_add_epi32(s15, s37);
    const __m256i z5 = mul_high_avx2<2>(_mm256_sub_epi32(s15, s37), JPEG_IDCT_Z5);
    const __m256i o6 =
        _mm256_sub_epi32(_mm256_add_epi32(mul_high_avx2<3>(_mm256_sub_epi32(i3, i5), JPEG_IDCT_ODD6), z5), o7);
    const __m256i o5 = _mm256_sub_epi32(
        mul_high_avx2<2>(_mm256_sub_epi32(_mm256_add_epi32(i1, i7), _mm256_add_epi32(i3, i5)), JPEG_IDCT_SQRT2), o6);
    const __m256i o4 =
        _mm256_add_epi32(_mm256_sub_epi32(mul_high_avx2<2>(_mm256_sub_epi32(i1, i7), JPEG_IDCT_ODD4), z5), o5);

    store_row<aligned_out>(out, 0, _mm256_add_epi32(e0, o7));
    store_row<aligned_out>(out, 7, _mm256_sub_epi32(e0, o7));
    store_row<aligned_out>(out, 1, _mm256_add_epi32(e1, o6));
    store_row<aligned_out>(out, 6, _mm256_sub_epi32(e1, o6));
    store_row<aligned_out>(out, 2, _mm256_add_epi32(e2, o5));
    store_row<aligned_out>(out, 5, _mm256_sub_epi32(e2, o5));
    store_row<aligned_out>(out, 4, _mm256_add_epi32(e3, o4));
    store_row<aligned_out>(out, 3, _mm256_sub_epi32(e3, o4));
}

// The 4 x 4 quarter of an 8 x 8 block at src, transposed into dst (both with
// rows of 8). Whole 8 x 8 transposes in 256-bit registers need lane-crossing
// permutes, which some processors split into many micro-operations (eight
// on the first Zen cores); four 128-bit quarters through memory need none.
[[gnu::target("avx2")]] inline void transpose_4x4_avx2(const int32_t* src, int32_t* dst)
{
    __m128i q[4];
    for (int r = 0; r < 4; ++r)
        q[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 8 * r));
    transpose_4x4(q[0], q[1], q[2], q[3]);
    for (int r = 0; r < 4; ++r)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 8 * r), q[r]);
}

[[gnu::target("avx2")]] inline void transpose_8x8_avx2(const int32_t* src, int32_t* dst)
{
    transpose_4x4_avx2(src, dst);
    transpose_4x4_avx2(src + 4, dst + 32);
    transpose_4x4_avx2(src + 32, dst + 4);
    transpose_4x4_avx2(src + 36, dst + 36);
}

// Blocks of the decoder's sample buffer are aligned; others (tests) may not be.
inline bool aligned_32(const int32_t* p) { return (reinterpret_cast<uintptr_t>(p) & 31) == 0; }

[[gnu::target("avx2")]] void idct_8x8_avx2(int32_t* block)
{
    // Rows: transposed, one row per lane; then back, one column per lane.
    alignas(32) int32_t a[64], t[64];
    transpose_8x8_avx2(block, t);
    idct_pass_avx2<true, true>(t, a);
    transpose_8x8_avx2(a, t);
    if (aligned_32(block))
        idct_pass_avx2<true, true>(t, block);
    else
        idct_pass_avx2<true, false>(t, block);
}

[[gnu::target("avx2")]] void idct_8x8_avx2_from_transposed(int32_t* block, uint32_t row_mask)
{
    alignas(32) int32_t a[64], t[64];
    const bool aligned = aligned_32(block);
    if (aligned)
        idct_pass_avx2<true, true>(block, a);
    else
        idct_pass_avx2<false, true>(block, a);
    if ((row_mask & 0xF0) == 0) {
        // Rows 4 to 7 were zero and stay so through the row step: their
        // quarters need no transposing, and the column step no reading.
        transpose_4x4_avx2(a, t);
        transpose_4x4_avx2(a + 32, t + 4);
        if (aligned)
            idct_pass_avx2<true, true, true>(t, block);
        else
            idct_pass_avx2<true, false, true>(t, block);
        return;
    }
    transpose_8x8_avx2(a, t);
    if (aligned)
        idct_pass_avx2<true, true>(t, block);
    else
        idct_pass_avx2<true, false>(t, block);
}

#endif

}  // namespace

void jpeg_choose_simd()
{
    jpeg_simd = JPEG_SIMD_SCALAR;
#if JPEG_X86_64
    jpeg_simd = JPEG_SIMD_SSE2;
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        jpeg_simd = JPEG_SIMD_AVX2;
#endif
}

void idct_8x8(int32_t* block, uint32_t row_mask)
{
    uint32_t* v = reinterpret_cast<uint32_t*>(block);
    if ((row_mask & 0xFF) == 1) {
        // Only row 0: each column then holds its row-0 value alone, which the
        // column step passes to all eight outputs.
        idct_1d(v, 1);
        for (int r = 1; r < 8; ++r)
            for (int c = 0; c < 8; ++c)
                v[8 * r + c] = v[c];
        return;
    }
#if JPEG_X86_64
    if (jpeg_simd == JPEG_SIMD_AVX2) {
        idct_8x8_avx2(block);
        return;
    }
    if (jpeg_simd == JPEG_SIMD_SSE2) {
        idct_8x8_sse2(block);
        return;
    }
#endif
    idct_8x8_scalar(v, row_mask);
}

void idct_8x8_from_transposed(int32_t* block, uint32_t row_mask)
{
    uint32_t* v = reinterpret_cast<uint32_t*>(block);
    if ((row_mask & 0xFF) == 1) {
        // Row 0 stands in column 0 here; its transform becomes every row.
        idct_1d(v, 8);
        uint32_t row[8];
        for (int c = 0; c < 8; ++c)
            row[c] = v[8 * c];
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c)
                v[8 * r + c] = row[c];
        return;
    }
#if JPEG_X86_64
    if (jpeg_simd == JPEG_SIMD_AVX2) {
        idct_8x8_avx2_from_transposed(block, row_mask);
        return;
    }
#endif
    // Only the AVX2 path is given transposed blocks; any other transposes back.
    for (int r = 0; r < 8; ++r)
        for (int c = r + 1; c < 8; ++c) {
            const uint32_t t = v[8 * r + c];
            v[8 * r + c] = v[8 * c + r];
            v[8 * c + r] = t;
        }
    idct_8x8_scalar(v, 0xFF);
}

namespace {

// Means of four outputs: the rows of that matrix hold 1 at input 0 and zero
// at inputs 2, 4 and 6 (the even cosines cancel over each half), checked
// when the matrices are made.
bool box_two_sparse;

// first and last of the pair for two means: in[0] and the odd inputs.
inline void pair_of_two(const int32_t* m, int32_t in0, int32_t in1, int32_t in3, int32_t in5, int32_t in7,
                        int32_t* first, int32_t* last)
{
    const uint64_t even = uint64_t(int64_t(in0) * m[0]);
    const uint64_t odd = uint64_t(int64_t(in1) * m[1]) + uint64_t(int64_t(in3) * m[3]) +
                         uint64_t(int64_t(in5) * m[5]) + uint64_t(int64_t(in7) * m[7]);
    *last = int32_t(uint32_t(uint64_t(int64_t(even - odd) >> JPEG_BOX_FRACTION_BITS)));
    *first = int32_t(uint32_t(uint64_t(int64_t(even + odd) >> JPEG_BOX_FRACTION_BITS)));
}

// 2 x 2 means (4:2:0 chroma at 1/8, every block at 1/4): what the general
// path below computes, without its zero products and its loops.
void idct_box_two(int32_t* block, uint32_t row_mask)
{
    const int32_t* m = jpeg_box_matrix[1][0];
    // Rows 2, 4 and 6 weigh nothing in the columns either.
    int32_t left[8], right[8];
    for (int32_t r : {0, 1, 3, 5, 7}) {
        const int32_t* in = block + 8 * r;
        if (row_mask >> r & 1)
            pair_of_two(m, in[0], in[1], in[3], in[5], in[7], &left[r], &right[r]);
        else
            left[r] = right[r] = 0;
    }
    pair_of_two(m, left[0], left[1], left[3], left[5], left[7], &block[0], &block[8]);
    pair_of_two(m, right[0], right[1], right[3], right[5], right[7], &block[1], &block[9]);
}

}  // namespace

// What the transform above computes, as a matrix: output x of a row whose
// only input is u (scaled by the AAN factor the table folded in) is
// cos((2x + 1) u pi / 16) / cos(u pi / 16), and 1 for u = 0. Row m of the
// matrix for n outputs is the average of rows 8m/n to 8(m + 1)/n - 1 of that,
// in units of 2^-JPEG_BOX_FRACTION_BITS.
void jpeg_init_box_matrices()
{
    const double pi = 3.14159265358979323846;
    for (int32_t log2n = 0; log2n < 4; ++log2n) {
        const int32_t n = 1 << log2n, group = 8 / n;
        for (int32_t m = 0; m < 8; ++m)
            for (int32_t u = 0; u < 8; ++u) {
                double sum = 0;
                for (int32_t x = m * group; m < n && x < (m + 1) * group; ++x)
                    sum += u == 0 ? 1.0 : std::cos((2 * x + 1) * u * pi / 16) / std::cos(u * pi / 16);
                jpeg_box_matrix[log2n][m][u] = int32_t(std::lround(sum / group * (1 << JPEG_BOX_FRACTION_BITS)));
            }
    }
    const int32_t* two = jpeg_box_matrix[1][0];
    box_two_sparse = two[0] == 1 << JPEG_BOX_FRACTION_BITS && two[2] == 0 && two[4] == 0 && two[6] == 0;
}

void idct_box(int32_t* block, uint32_t row_mask, int32_t log2n_h, int32_t log2n_v)
{
    const int32_t n_h = 1 << log2n_h, n_v = 1 << log2n_v;
    if (n_h == 1 && n_v == 1)
        return;  // the block's mean is its DC value, which stands at block[0] already
    if (n_h == 2 && n_v == 2 && box_two_sparse) {
        idct_box_two(block, row_mask);
        return;
    }
    const int32_t(*mh)[8] = jpeg_box_matrix[log2n_h];
    const int32_t(*mv)[8] = jpeg_box_matrix[log2n_v];
    // Only the rows that may hold coefficients. Output n - 1 - m takes the
    // inputs of output m with odd ones negated (the transform's symmetry),
    // so each pair costs one pass over the inputs. Sums wrap in 64 bits
    // (unsigned, so defined); a real block stays far inside.
    int32_t used[8], count = 0;
    for (int32_t r = 0; r < 8; ++r)
        if (row_mask >> r & 1)
            used[count++] = r;
    // With one output, first and last are the same place, and the sum is what stays.
    const auto pair = [](const int32_t* m, const int32_t* in, int32_t* first, int32_t* last) {
        uint64_t even = 0, odd = 0;
        for (int32_t u = 0; u < 8; u += 2) {
            even += uint64_t(int64_t(in[u]) * m[u]);
            odd += uint64_t(int64_t(in[u + 1]) * m[u + 1]);
        }
        *last = int32_t(uint32_t(uint64_t(int64_t(even - odd) >> JPEG_BOX_FRACTION_BITS)));
        *first = int32_t(uint32_t(uint64_t(int64_t(even + odd) >> JPEG_BOX_FRACTION_BITS)));
    };
    int32_t rows[8][8];
    for (int32_t n = 0; n < count; ++n)
        for (int32_t j = 0; j < (n_h + 1) / 2; ++j)
            pair(mh[j], block + 8 * used[n], &rows[n][j], &rows[n][n_h - 1 - j]);
    // Columns: the zero rows left out weigh nothing.
    int32_t column[8] = {};
    for (int32_t j = 0; j < n_h; ++j) {
        for (int32_t n = 0; n < count; ++n)
            column[used[n]] = rows[n][j];
        for (int32_t i = 0; i < (n_v + 1) / 2; ++i)
            pair(mv[i], column, &block[8 * i + j], &block[8 * (n_v - 1 - i) + j]);
    }
}
