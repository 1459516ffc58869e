// Coefficient mode: the store that gathers every scan of a picture, and the
// final pass that dequantises, transforms and outputs it.
#include <cstdlib>

#include "picture/jpeg/jpeg_internal.h"

int jpeg_allocate_store()
{
    const int64_t mcux = (int64_t(jpeg.width) + 8 * jpeg.maxH - 1) / (8 * jpeg.maxH);
    const int64_t mcuy = (int64_t(jpeg.height) + 8 * jpeg.maxV - 1) / (8 * jpeg.maxV);
    int64_t blocks = 0;
    int64_t start[JPEG_MAX_COMPONENTS];
    for (int32_t c = 0; c < jpeg.Nf; ++c) {
        start[c] = blocks;
        jpeg.plane_width[c] = int32_t(mcux << jpeg.components[c].log2H);
        jpeg.plane_height[c] = int32_t(mcuy << jpeg.components[c].log2V);
        blocks += (mcux << jpeg.components[c].log2H) * (mcuy << jpeg.components[c].log2V);
    }
    if (blocks * 128 > JPEG_MAX_COEFFICIENT_BYTES)
        return -1;
    jpeg.coefficients = static_cast<int16_t*>(std::calloc(size_t(blocks), 128));
    if (!jpeg.coefficients)
        return -1;
    for (int32_t c = 0; c < jpeg.Nf; ++c)
        jpeg.plane_start[c] = jpeg.coefficients + start[c] * 64;
    return 0;
}

void jpeg_free_store()
{
    std::free(jpeg.coefficients);
    jpeg.coefficients = nullptr;
}

void jpeg_final_pass()
{
    const int32_t all[JPEG_MAX_COMPONENTS] = {0, 1, 2, 3};
    jpeg_setup_component_slots(all, jpeg.Nf);
    const int32_t step_x = jpeg.components[0].H * 8, step_y = jpeg.components[0].V * 8;
    // The AVX2 transform reads blocks transposed, which saves it a transpose.
    const bool transposed = jpeg_simd == JPEG_SIMD_AVX2 && jpeg.scale_log2 == 0;
    const int32_t* zz = transposed ? JPEG_ZIGZAG_TRANSPOSED.data() : JPEG_ZIGZAG.data();
    for (int32_t y = 0; y < jpeg.height; y += step_y) {
        for (int32_t x = 0; x < jpeg.width; x += step_x) {
            int32_t* block = jpeg.mcu_samples;
            for (int32_t i = 0; i < jpeg.Nf; ++i) {
                const JpegScanSlot& s = jpeg.slots[i];
                for (int32_t by = 0; by < s.V; ++by) {
                    for (int32_t bx = 0; bx < s.H; ++bx, block += 64) {
                        const int16_t* c = jpeg_store_block(s, (y >> s.yshift) + by, (x >> s.xshift) + bx);
                        // Only the nonzero coefficients: progressive blocks are sparse,
                        // and their row mask lets the transform take its shortcuts.
                        jpeg_clear_block(block);
                        uint32_t row_mask = 1;
                        for (uint64_t m = jpeg_nonzero_mask(c); m != 0; m &= m - 1) {
                            const int32_t k = __builtin_ctzll(m);
                            block[zz[k]] = int32_t(uint32_t(int32_t(c[k])) * uint32_t(s.quant_zz[k]));
                            row_mask |= JPEG_ROW_BIT[size_t(k)];
                        }
                        if (transposed)
                            idct_8x8_from_transposed(block, row_mask);
                        else if (s.box)
                            idct_box(block, row_mask, s.box_log2h, s.box_log2v);
                        else
                            idct_8x8(block, row_mask);
                    }
                }
            }
            jpeg.block_output(x, y, jpeg.mcu_samples);
        }
    }
}
