// JPEG entropy-coded data: bit reader, Huffman decoding, baseline and
// progressive block decoding, restart intervals, and the final pass that
// turns the coefficient store into samples.
#include <cstring>

#include "picture/jpeg/jpeg_internal.h"

namespace {

// Local copies of the source keep it in registers: block stores could
// otherwise alias the globals.
struct BitReader {
    int64_t pos;
    uint32_t buffer;
    int32_t n;  // valid bits at the low end of buffer, never above 23
    const uint8_t* source;
    int64_t length;
};

// Past the end of the source the reader supplies zero bytes.
inline void read_byte(BitReader& b)
{
    uint32_t byte = b.pos < b.length ? b.source[b.pos] : 0;
    b.pos += 1;
    // The byte after 0xFF is either stuffing or a marker code: skipped either way.
    if (byte == 0xFF)
        b.pos += 1;
    b.buffer = (b.buffer << 8) | byte;
    b.n += 8;
}

// ((15 - n) >> 3) + 1 bytes when n < 16: the fewest that reach 16 bits.
inline void refill_16(BitReader& b)
{
    if (b.n < 16) {
        read_byte(b);
        if (b.n < 16)
            read_byte(b);
    }
}

inline int32_t take_bits(BitReader& b, int32_t s)
{
    // ((s - n - 1) >> 3) + 1 bytes when n < s: the fewest that reach s bits.
    while (b.n < s)
        read_byte(b);
    int32_t v = int32_t((b.buffer >> (b.n - s)) & uint32_t(jpeg_mask[s]));
    b.n -= s;
    return v;
}

inline int32_t take_bit(BitReader& b)
{
    if (b.n < 8)
        read_byte(b);
    int32_t v = int32_t((b.buffer >> (b.n - 1)) & 1);
    b.n -= 1;
    return v;
}

// T.81 F.2.2.1 EXTEND.
inline int32_t extend(int32_t v, int32_t s)
{
    return v < (1 << (s - 1)) ? v - ((1 << s) - 1) : v;
}

inline int32_t huff_decode(BitReader& b, int32_t index)
{
    const JpegHuffmanTable& t = jpeg_huffman[index];
    uint32_t peek = (b.buffer >> (b.n - 10)) & 1023;
    if (int32_t(peek) < t.fast_fill) {
        b.n -= t.fast_length[peek];
        return t.fast_symbol[peek];
    }
    int32_t symbol, length;
    jpeg_huff_decode_slow(index, b.n, b.buffer, &symbol, &length);
    b.n -= length;
    return symbol;
}

int32_t eob_run;

// Direct mode: the scan is complete (Ss 0, Se 63, no approximation), so
// coefficients go straight into the natural-order sample block.
void decode_block_direct(BitReader& b, int32_t j, int32_t* block)
{
    const JpegScanSlot& slot = jpeg_slots[j];
    refill_16(b);
    int32_t s = huff_decode(b, slot.Td);
    if (s != 0) {
        // A DC size above 16 bits is outside any code; it is read as 16.
        if (s > 16)
            s = 16;
        int32_t v = extend(take_bits(b, s), s);
        jpeg_predictor[j] = int32_t(uint32_t(jpeg_predictor[j]) + uint32_t(v));
    }
    for (int32_t n = 0; n < 64; ++n)
        block[n] = 0;
    block[0] = jpeg_predictor[j];
    uint32_t row_mask = 1;
    if (eob_run > 0) {
        eob_run -= 1;
    } else {
        const int32_t ac = slot.Ta + 4;
        const JpegHuffmanTable& t = jpeg_huffman[ac];
        int32_t k = 1;
        while (k <= 63) {
            refill_16(b);
            const uint32_t peek = (b.buffer >> (b.n - 10)) & 1023;
            const int32_t e = int32_t(peek) < t.fast_fill ? t.fast_ac[peek] : 0;
            if (e != 0) {
                // The same steps as below, with code and extra bits read at once.
                k += (e >> 8) & 15;
                if (k > 63) {
                    b.n -= e & 15;
                    break;
                }
                b.n -= (e & 15) + ((e >> 4) & 15);
                row_mask |= jpeg_row_bit[k];
                block[jpeg_zigzag[k]] = e >> 16;
                k += 1;
                continue;
            }
            int32_t symbol = huff_decode(b, ac);
            int32_t r = symbol >> 4, size = symbol & 15;
            if (size != 0) {
                k += r;
                if (k > 63)
                    break;
                int32_t v = extend(take_bits(b, size), size);
                row_mask |= jpeg_row_bit[k];
                block[jpeg_zigzag[k]] = v;
                k += 1;
            } else if (r < 15) {
                eob_run = 1 << r;
                if (r > 0)
                    eob_run += take_bits(b, r);
                eob_run -= 1;
                break;
            } else {
                k += 15;
                if (k > 63)
                    break;
                row_mask |= jpeg_row_bit[k];
                block[jpeg_zigzag[k]] = 0;
                k += 1;
            }
        }
    }
    const int32_t* q = jpeg_quant[slot.Tq];
    for (int32_t row = 0; row < 8; ++row) {
        if (!(row_mask & (1u << row)))
            continue;
        for (int32_t c = row * 8; c < row * 8 + 8; ++c)
            block[c] = int32_t(uint32_t(block[c]) * uint32_t(q[c]));
    }
    idct_8x8(block, row_mask);
}

void refine_band(BitReader& b, int16_t* c, int32_t k, int16_t p1, int16_t m1)
{
    for (; k <= jpeg_Se; ++k) {
        if (c[k] != 0 && take_bit(b))
            c[k] = int16_t(c[k] + (c[k] < 0 ? m1 : p1));
    }
}

// Coefficient mode: any band, any approximation; coefficients are stored in
// zigzag order, already shifted left by Al.
void decode_block_coefficients(BitReader& b, int32_t j, int16_t* c)
{
    const JpegScanSlot& slot = jpeg_slots[j];
    const int32_t Se = jpeg_Se;
    const int16_t p1 = int16_t(1 << jpeg_Al);
    const int16_t m1 = int16_t(-(1 << jpeg_Al));
    if (jpeg_Ss == 0) {
        refill_16(b);
        if (jpeg_Ah != 0) {
            if (take_bit(b))
                c[0] = int16_t(c[0] | p1);
        } else {
            int32_t s = huff_decode(b, slot.Td);
            if (s != 0) {
                if (s > 16)
                    s = 16;
                int32_t v = extend(take_bits(b, s), s);
                jpeg_predictor[j] = int32_t(uint32_t(jpeg_predictor[j]) + uint32_t(v));
            }
            c[0] = int16_t(uint32_t(jpeg_predictor[j]) << jpeg_Al);
        }
    }
    int32_t k = jpeg_Ss > 1 ? jpeg_Ss : 1;
    if (eob_run > 0) {
        if (jpeg_Ah != 0)
            refine_band(b, c, k, p1, m1);
        eob_run -= 1;
        return;
    }
    const int32_t ac = slot.Ta + 4;
    while (k <= Se) {
        refill_16(b);
        int32_t symbol = huff_decode(b, ac);
        int32_t r = symbol >> 4, s = symbol & 15;
        int16_t val = 0;
        if (s != 0 && jpeg_Ah == 0) {
            k += r;
            if (k > Se)
                return;
            int32_t v = extend(take_bits(b, s), s);
            c[k] = int16_t(uint32_t(v) << jpeg_Al);
            k += 1;
            continue;
        }
        if (s == 0 && r < 15) {
            eob_run = 1 << r;
            if (r > 0)
                eob_run += take_bits(b, r);
            if (jpeg_Ah != 0)
                refine_band(b, c, k, p1, m1);
            eob_run -= 1;
            return;
        }
        if (s == 0 && jpeg_Ah == 0) {
            k += 15;
            if (k > Se)
                return;
            c[k] = 0;
            k += 1;
            continue;
        }
        // Refinement: skip r zero-history coefficients, correcting the nonzero
        // ones passed on the way, then place the new one.
        if (s != 0)
            val = take_bit(b) ? p1 : m1;
        while (k <= Se) {
            if (c[k] != 0) {
                if (take_bit(b))
                    c[k] = int16_t(c[k] + (c[k] < 0 ? m1 : p1));
            } else {
                r -= 1;
                if (r < 0)
                    break;
            }
            k += 1;
        }
        if (val != 0 && k <= Se)
            c[k] = val;
        k += 1;
    }
}

// Keeps a block address inside its plane; exact layouts never need it, odd
// sampling layouts would otherwise address past the plane.
inline int16_t* store_block(int16_t* plane, int32_t width, int32_t height, int32_t row, int32_t column)
{
    if (row >= height)
        row = height - 1;
    if (column >= width)
        column = width - 1;
    return plane + 64 * (int64_t(row) * width + column);
}

void restart_boundary(BitReader& b, int32_t* expected)
{
    int64_t nb = b.n >> 3;
    b.n = 0;
    const int64_t length = jpeg_source_length;
    const uint8_t* src = jpeg_source;
    if (nb > 0) {
        int64_t at = b.pos - nb - 1;
        if (at >= 0 && at + 1 < length && src[at] == 0xFF && src[at + 1] == *expected)
            b.pos = b.pos - nb + 1;
        else
            b.pos -= nb;
    } else if (b.pos >= 0 && b.pos + 1 < length && src[b.pos] == 0xFF && src[b.pos + 1] == *expected) {
        b.pos += 2;
    }
    *expected = *expected == 0xD7 ? 0xD0 : *expected + 1;
    for (int32_t j = 0; j < kJpegMaxComponents; ++j)
        jpeg_predictor[j] = 0;
    eob_run = 0;
}

}  // namespace

void jpeg_huff_decode_slow(int32_t table, int32_t n, uint32_t buffer, int32_t* symbol, int32_t* length)
{
    const JpegHuffmanTable& t = jpeg_huffman[table];
    int32_t code = int32_t((buffer >> (n - 1)) & 1);
    for (int32_t L = 1; L <= 16; ++L) {
        if (code < t.limit[L - 1]) {
            *length = L;
            *symbol = t.symbols[(t.value_offset[L - 1] + code) & 255];
            return;
        }
        if (L < 16)
            code = 2 * code + int32_t((buffer >> (n - 1 - L)) & 1);
    }
    *length = 16;
    *symbol = 0;
}

int64_t jpeg_decode_scan(int64_t position)
{
    BitReader b = {position, 0, 0, jpeg_source, jpeg_source_length};
    eob_run = 0;
    int32_t left = jpeg_Ri;
    int32_t expected = 0xD0;
    const bool direct = jpeg_coefficients == nullptr;
    for (int32_t y = 0; y < jpeg_height; y += jpeg_mcu_height) {
        for (int32_t x = 0; x < jpeg_width; x += jpeg_mcu_width) {
            if (b.pos - 4 >= b.length)
                goto end;
            if (direct) {
                int32_t* block = jpeg_mcu_samples;
                for (int32_t j = 0; j < jpeg_Ns; ++j) {
                    const int32_t blocks = jpeg_slots[j].H * jpeg_slots[j].V;
                    for (int32_t i = 0; i < blocks; ++i, block += 64)
                        decode_block_direct(b, j, block);
                }
                jpeg_block_output(x, y, jpeg_mcu_samples);
            } else {
                for (int32_t j = 0; j < jpeg_Ns; ++j) {
                    const JpegScanSlot& s = jpeg_slots[j];
                    for (int32_t by = 0; by < s.V; ++by)
                        for (int32_t bx = 0; bx < s.H; ++bx)
                            decode_block_coefficients(b, j,
                                                      store_block(s.plane, s.plane_width, s.plane_height,
                                                                  (y >> s.yshift) + by, (x >> s.xshift) + bx));
                }
            }
            if (jpeg_Ri != 0 && --left == 0) {
                restart_boundary(b, &expected);
                left = jpeg_Ri;
            }
        }
    }
end:
    // Back to one byte before the first read-ahead byte, so that a marker whose
    // 0xFF went into the buffer is found again.
    return b.pos - (b.n >> 3) - 1;
}

void jpeg_final_pass()
{
    jpeg_out_components = jpeg_Nf;
    JpegScanSlot slots[kJpegMaxComponents];
    for (int32_t i = 0; i < jpeg_Nf; ++i) {
        const JpegComponent& c = jpeg_components[i];
        slots[i].H = c.H;
        slots[i].V = c.V;
        slots[i].Tq = c.Tq;
        slots[i].plane = jpeg_plane_start[i];
        slots[i].plane_width = jpeg_plane_width[i];
        slots[i].plane_height = jpeg_plane_height[i];
        slots[i].xshift = jpeg_log2maxH - c.log2H + 3;
        slots[i].yshift = jpeg_log2maxV - c.log2V + 3;
        jpeg_out_H[i] = c.H;
        jpeg_out_V[i] = c.V;
        jpeg_out_log2H[i] = c.log2H;
        jpeg_out_log2V[i] = c.log2V;
    }
    const int32_t step_x = jpeg_components[0].H * 8, step_y = jpeg_components[0].V * 8;
    for (int32_t y = 0; y < jpeg_height; y += step_y) {
        for (int32_t x = 0; x < jpeg_width; x += step_x) {
            int32_t* block = jpeg_mcu_samples;
            for (int32_t i = 0; i < jpeg_Nf; ++i) {
                const JpegScanSlot& s = slots[i];
                const int32_t* q = jpeg_quant[s.Tq];
                for (int32_t by = 0; by < s.V; ++by) {
                    for (int32_t bx = 0; bx < s.H; ++bx, block += 64) {
                        const int16_t* c = store_block(s.plane, s.plane_width, s.plane_height,
                                                       (y >> s.yshift) + by, (x >> s.xshift) + bx);
                        for (int32_t n = 0; n < 64; ++n)
                            block[n] = int32_t(uint32_t(int32_t(c[jpeg_natural_to_zigzag[n]])) * uint32_t(q[n]));
                        idct_8x8(block, 0xFF);
                    }
                }
            }
            jpeg_block_output(x, y, jpeg_mcu_samples);
        }
    }
}
