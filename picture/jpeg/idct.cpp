// 8x8 inverse DCT, Arai-Agui-Nakajima factorisation in 32-bit fixed point.
// The quantisation tables carry the AAN scale factors and 2^19, so the output
// is (level - 128) x 2^22 with no final division.
//
// Sums wrap in 32 bits (unsigned arithmetic keeps that defined); damaged
// coefficients give damaged samples, never undefined behaviour.
#include "picture/jpeg/jpeg_internal.h"

namespace {

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
    const uint32_t t12 = mul_high<2>(i2 - i6, 1518500224) - t13;
    const uint32_t e0 = t10 + t13, e3 = t10 - t13;
    const uint32_t e1 = t11 + t12, e2 = t11 - t12;

    const uint32_t o7 = i1 + i3 + i5 + i7;
    const uint32_t z5 = mul_high<2>(i1 + i5 - i3 - i7, 1984016192);
    const uint32_t o6 = mul_high<3>(i3 - i5, 1402911296) + z5 - o7;
    const uint32_t o5 = mul_high<2>(i1 + i7 - i3 - i5, 1518500224) - o6;
    const uint32_t o4 = mul_high<2>(i1 - i7, 1162209792) - z5 + o5;

    v[0] = e0 + o7;
    v[7 * stride] = e0 - o7;
    v[stride] = e1 + o6;
    v[6 * stride] = e1 - o6;
    v[2 * stride] = e2 + o5;
    v[5 * stride] = e2 - o5;
    v[4 * stride] = e3 + o4;
    v[3 * stride] = e3 - o4;
}

}  // namespace

void idct_8x8(int32_t* block, uint32_t row_mask)
{
    uint32_t* v = reinterpret_cast<uint32_t*>(block);
    const bool only_row_0 = (row_mask & 0xFF) == 1;
    // Rows whose bit is clear are all zero and stay so.
    for (int r = 0; r < 8; ++r, row_mask >>= 1)
        if (row_mask & 1)
            idct_1d(v + 8 * r, 1);
    if (only_row_0) {
        // A column whose only nonzero input is i0 transforms to i0 everywhere:
        // the same result as the column pass, without its multiplications.
        for (int r = 1; r < 8; ++r)
            for (int c = 0; c < 8; ++c)
                v[8 * r + c] = v[c];
        return;
    }
    for (int c = 0; c < 8; ++c)
        idct_1d(v + c, 8);
}
