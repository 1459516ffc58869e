// JPEG entropy-coded data: the bit reader, Huffman decoding, baseline and
// progressive block decoding, restart intervals.
//
// The reader keeps 64 bits, refilled from 8 bytes loaded at once: the bytes
// before the first 0xFF among them go in together, a 0xFF goes in with them
// and the byte after it (stuffing or a marker code) is stepped over; near
// the end it reads byte by byte, checking every byte. So the block decoders
// need no bound checks: at least 32 bits are there for every symbol, and one
// symbol takes at most 32 (a 16-bit code and 16 extra bits).
#include <cstring>

#include "picture/jpeg/jpeg_internal.h"

namespace {

// Local copies keep the reader in registers: it is passed by value to the
// careful refill, so its address never escapes and block stores cannot
// alias it.
struct BitReader {
    uint64_t bits;       // the next bit is bit 63; below count: zero or the data that follows
    int64_t pos;         // next source byte to load
    int64_t end;         // the source's length
    const uint8_t* source;
    int32_t count;       // valid bits
};

// Source positions of the last 0xFF bytes loaded (each took its next byte
// with it); the buffer holds at most 8 bytes, so 8 are enough to find where
// the unread bytes begin.
SYS_THREAD_LOCAL int64_t ff_at[8];
SYS_THREAD_LOCAL uint32_t ff_loaded;

SYS_THREAD_LOCAL int32_t eob_run;

inline uint64_t load_le64(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Byte by byte: past the end of the source zero bytes; a 0xFF is a data byte
// and the byte after it, stuffing or a marker code, is skipped either way.
[[gnu::noinline]] BitReader refill_careful(BitReader b)
{
    const int64_t length = jpeg.source_length;
    while (b.count <= 56) {
        const uint32_t byte = b.pos < length ? b.source[b.pos] : 0;
        if (byte == 0xFF) {
            ff_at[ff_loaded++ & 7] = b.pos;
            b.pos += 2;
        } else {
            b.pos += 1;
        }
        b.bits |= uint64_t(byte) << (56 - b.count);
        b.count += 8;
    }
    return b;
}

// Brings count above 56; called with count below 32.
inline void refill(BitReader& b)
{
    constexpr uint64_t ones = 0x0101010101010101, high = 0x8080808080808080;
    while (b.count <= 56) {
        if (b.pos + 8 > b.end) {
            b = refill_careful(b);
            return;
        }
        const uint64_t le = load_le64(b.source + b.pos);
        // High bit of each byte that is 0xFF; exact for the first (in
        // source order, the lowest), which is all that is read.
        const uint64_t ff = (~le - ones) & le & high;
        const int32_t fit = (63 - b.count) >> 3;  // whole bytes that fit
        const int32_t first = ff != 0 ? __builtin_ctzll(ff) >> 3 : 8;
        const uint64_t be = __builtin_bswap64(le);
        if (first >= fit) {
            // Bits below the new count may hold what follows: never read.
            b.bits |= be >> b.count;
            b.pos += fit;
            b.count += 8 * fit;
            return;
        }
        // Bytes up to the 0xFF, the byte after it stepped over.
        const int32_t n = first + 1;
        b.bits |= (be & ~(~uint64_t(0) >> (8 * n))) >> b.count;
        ff_at[ff_loaded++ & 7] = b.pos + first;
        b.pos += n + 1;
        b.count += 8 * n;
    }
}

inline void need(BitReader& b, int32_t n)
{
    if (b.count < n)
        refill(b);
}

inline void skip(BitReader& b, int32_t n)
{
    b.bits <<= n;
    b.count -= n;
}

// s bits (0 to 16) as a number; count >= s.
inline int32_t take_bits(BitReader& b, int32_t s)
{
    if (s == 0)
        return 0;
    const int32_t v = int32_t(b.bits >> (64 - s));
    skip(b, s);
    return v;
}

inline int32_t take_bit(BitReader& b)
{
    need(b, 1);
    const int32_t v = int32_t(b.bits >> 63);
    skip(b, 1);
    return v;
}

// T.81 F.2.2.1 EXTEND.
inline int32_t extend(int32_t v, int32_t s)
{
    return v < (1 << (s - 1)) ? v - ((1 << s) - 1) : v;
}

// count >= 16.
inline int32_t decode_symbol(BitReader& b, const JpegHuffmanTable& t)
{
    const uint32_t e = t.fast[b.bits >> 54];
    if (e != 0) {
        skip(b, int32_t(e >> 8));
        return int32_t(e & 255);
    }
    int32_t length;
    const int32_t symbol = jpeg_huff_decode_slow(t, uint32_t(b.bits >> 48), &length);
    skip(b, length);
    return symbol;
}

// The DC difference of slot j added to its predictor; count >= 32.
inline int32_t decode_dc(BitReader& b, const JpegHuffmanTable& t, int32_t j)
{
    int32_t s = decode_symbol(b, t);
    if (s != 0) {
        // A DC size above 16 bits is outside any code; it is read as 16.
        if (s > 16)
            s = 16;
        const int32_t v = extend(take_bits(b, s), s);
        jpeg.predictor[j] = int32_t(uint32_t(jpeg.predictor[j]) + uint32_t(v));
    }
    return jpeg.predictor[j];
}

// An EOB run of 2^r plus r more bits, this block included; count >= 14.
inline void start_eob_run(BitReader& b, int32_t r)
{
    eob_run = 1 << r;
    if (r > 0)
        eob_run += take_bits(b, r);
    eob_run -= 1;
}

// The AC codes of a block read and dropped: a reduced output of one sample
// per block needs its DC value alone.
inline void skip_ac(BitReader& b, const JpegHuffmanTable& t)
{
    int32_t k = 1;
    while (k <= 63) {
        need(b, 32);
        int32_t e = t.fast_ac[b.bits >> 54];
        if (e != 0) {
            for (int32_t steps = 3; e != 0; e = t.fast_ac[b.bits >> 54]) {
                k += (e >> 8) & 127;
                if (k > 63) {
                    skip(b, (e >> 4) & 15);
                    break;
                }
                skip(b, e & 15);
                k += 1;
                if (--steps == 0 || k > 63)
                    break;
            }
            continue;
        }
        const int32_t symbol = decode_symbol(b, t);
        const int32_t r = symbol >> 4, size = symbol & 15;
        if (size != 0) {
            k += r;
            if (k > 63)
                break;
            skip(b, size);
            k += 1;
        } else if (r < 15) {
            start_eob_run(b, r);
            break;
        } else {
            k += 16;
        }
    }
}

// Direct mode: the scan is complete (Ss 0, Se 63, no approximation), so
// coefficients go dequantised straight into the natural-order sample block.
inline void decode_block_direct(BitReader& b, int32_t j, int32_t* block, bool transposed)
{
    if (jpeg.slots[j].box && jpeg.slots[j].box_log2h == 0 && jpeg.slots[j].box_log2v == 0) {
        // One sample per block: the block's mean, its DC value (idct_box reads block[0] alone).
        const JpegScanSlot& slot = jpeg.slots[j];
        need(b, 32);
        block[0] = int32_t(uint32_t(decode_dc(b, *slot.dc, j)) * uint32_t(slot.quant_zz[0]));
        if (eob_run > 0)
            eob_run -= 1;
        else
            skip_ac(b, *slot.ac);
        return;
    }
    // The AVX2 transform reads the block transposed: storing it so saves a transpose.
    const int32_t* zz = transposed ? JPEG_ZIGZAG_TRANSPOSED.data() : JPEG_ZIGZAG.data();
    const JpegScanSlot& slot = jpeg.slots[j];
    const int32_t* q = slot.quant_zz;
    need(b, 32);
    const int32_t dc = decode_dc(b, *slot.dc, j);
    jpeg_clear_block(block);
    block[0] = int32_t(uint32_t(dc) * uint32_t(q[0]));
    uint32_t row_mask = 1;
    if (eob_run > 0) {
        eob_run -= 1;
    } else {
        const JpegHuffmanTable& t = *slot.ac;
        int32_t k = 1;
        while (k <= 63) {
            need(b, 32);
            int32_t e = t.fast_ac[b.bits >> 54];
            if (e != 0) {
                // Code and extra bits read at once; the same steps as below.
                // Each takes at most 10 of the 32 bits, so three fit one refill.
                for (int32_t steps = 3; e != 0; e = t.fast_ac[b.bits >> 54]) {
                    k += (e >> 8) & 127;
                    if (k > 63) {
                        skip(b, (e >> 4) & 15);
                        break;
                    }
                    skip(b, e & 15);
                    row_mask |= JPEG_ROW_BIT[size_t(k)];
                    block[zz[k]] = int32_t(uint32_t(e >> 16) * uint32_t(q[k]));
                    k += 1;
                    if (--steps == 0 || k > 63)
                        break;
                }
                continue;
            }
            const int32_t symbol = decode_symbol(b, t);
            const int32_t r = symbol >> 4, size = symbol & 15;
            if (size != 0) {
                // A run past the last coefficient ends the block; its extra
                // bits are left to the next one.
                k += r;
                if (k > 63)
                    break;
                const int32_t v = extend(take_bits(b, size), size);
                row_mask |= JPEG_ROW_BIT[size_t(k)];
                block[zz[k]] = int32_t(uint32_t(v) * uint32_t(q[k]));
                k += 1;
            } else if (r < 15) {
                start_eob_run(b, r);
                break;
            } else {
                k += 16;
            }
        }
    }
    if (transposed)
        idct_8x8_from_transposed(block, row_mask);
    else if (slot.box)
        idct_box(block, row_mask, slot.box_log2h, slot.box_log2v);
    else
        idct_8x8(block, row_mask);
}

// Bits k to Se.
inline uint64_t band_from(int32_t k, int32_t Se)
{
    if (k > Se)
        return 0;
    const uint64_t to_Se = Se == 63 ? ~uint64_t(0) : (uint64_t(2) << Se) - 1;
    return to_Se & ~((uint64_t(1) << k) - 1);
}

// One correction bit for each nonzero coefficient of mask, in order.
inline void correct(BitReader& b, int16_t* c, uint64_t mask, int32_t p1)
{
    while (mask != 0) {
        // 32 bits at least after need: as many corrections without a check each.
        need(b, 32);
        for (int32_t n = 0; n < 32 && mask != 0; ++n) {
            const int32_t k = __builtin_ctzll(mask);
            mask &= mask - 1;
            // Without a branch on the bit or on the sign, each as likely
            // one way as the other: p1 or its negation, by the sign.
            const int32_t bit = int32_t(b.bits >> 63);
            skip(b, 1);
            const int32_t sign = c[k] >> 15;
            c[k] = int16_t(c[k] + ((((p1 ^ sign) - sign)) & -bit));
        }
    }
}

// Coefficient mode, first scan of a band (Ah 0, T.81 G.1.2.2): coefficients
// k to Se, stored in zigzag order shifted left by Al.
inline void decode_ac_first(BitReader& b, const JpegHuffmanTable& t, int16_t* c, int32_t k)
{
    const int32_t Se = jpeg.Se, Al = jpeg.Al;
    if (eob_run > 0) {
        eob_run -= 1;
        return;
    }
    while (k <= Se) {
        need(b, 32);
        int32_t e = t.fast_ac[b.bits >> 54];
        if (e != 0) {
            // As in direct mode: up to three table-decoded steps per refill.
            for (int32_t steps = 3; e != 0; e = t.fast_ac[b.bits >> 54]) {
                k += (e >> 8) & 127;
                if (k > Se) {
                    skip(b, (e >> 4) & 15);
                    return;
                }
                skip(b, e & 15);
                c[k] = int16_t(uint32_t(e >> 16) << Al);
                k += 1;
                if (--steps == 0 || k > Se)
                    break;
            }
            continue;
        }
        const int32_t symbol = decode_symbol(b, t);
        const int32_t r = symbol >> 4, s = symbol & 15;
        if (s != 0) {
            k += r;
            if (k > Se)
                return;
            const int32_t v = extend(take_bits(b, s), s);
            c[k] = int16_t(uint32_t(v) << Al);
            k += 1;
        } else if (r < 15) {
            start_eob_run(b, r);
            return;
        } else {
            k += 15;
            if (k > Se)
                return;
            c[k] = 0;
            k += 1;
        }
    }
}

// Coefficient mode, refinement of a band (Ah not 0, T.81 G.1.2.3): a
// correction bit for every coefficient already nonzero, and new coefficients
// of magnitude 1 << Al in the zero-history positions.
inline void decode_ac_refine(BitReader& b, const JpegHuffmanTable& t, int16_t* c, int32_t k)
{
    const int32_t Se = jpeg.Se, Al = jpeg.Al;
    const int16_t p1 = int16_t(1 << Al);
    uint64_t nonzero = jpeg_nonzero_mask(c);
    const uint64_t scan_band = band_from(k, Se);
    if (eob_run > 0) {
        correct(b, c, nonzero & scan_band, p1);
        eob_run -= 1;
        return;
    }
    while (k <= Se) {
        need(b, 32);
        const int32_t symbol = decode_symbol(b, t);
        const int32_t r = symbol >> 4, s = symbol & 15;
        if (s == 0 && r < 15) {
            start_eob_run(b, r);
            correct(b, c, nonzero & band_from(k, Se), p1);
            return;
        }
        // Skip r zero-history coefficients, correcting the nonzero ones
        // passed on the way, then place the new one.
        int16_t val = 0;
        if (s != 0) {
            // The symbol took at most 16 of the 32 bits; p1 for a 1, else its negation.
            const int32_t minus = int32_t(b.bits >> 63) - 1;
            val = int16_t((p1 ^ minus) - minus);
            skip(b, 1);
        }
        // k <= Se here, so the band from k on is the scan's band above k.
        const uint64_t band = scan_band & (~uint64_t(0) << k);
        uint64_t zeros = ~nonzero & band;
        // Mostly a few: a loop beats counting bits without one.
        for (int32_t i = 0; i < r && zeros != 0; ++i)
            zeros &= zeros - 1;
        // The lowest zero left is where the new coefficient goes; without
        // one, every nonzero coefficient to the end of the band is passed.
        const uint64_t place = zeros & (0 - zeros);
        correct(b, c, nonzero & band & (place - 1), p1);
        if (place == 0)
            return;
        const int32_t stop = __builtin_ctzll(place);
        if (val != 0) {
            c[stop] = val;
            nonzero |= place;
        }
        k = stop + 1;
    }
}

// Coefficient mode: any band, any approximation; coefficients are stored in
// zigzag order, already shifted left by Al.
void decode_block_coefficients(BitReader& b, int32_t j, int16_t* c)
{
    const JpegScanSlot& slot = jpeg.slots[j];
    const int32_t Al = jpeg.Al;
    if (jpeg.Ss == 0) {
        if (jpeg.Ah != 0) {
            if (take_bit(b))
                c[0] = int16_t(c[0] | (1 << Al));
        } else {
            need(b, 32);
            c[0] = int16_t(uint32_t(decode_dc(b, *slot.dc, j)) << Al);
        }
    }
    const int32_t k = jpeg.Ss > 1 ? jpeg.Ss : 1;
    if (jpeg.Ah == 0)
        decode_ac_first(b, *slot.ac, c, k);
    else
        decode_ac_refine(b, *slot.ac, c, k);
}

// Where the first of the buffer's last `bytes` loaded bytes lies in the source.
int64_t unread_position(const BitReader& b, int32_t bytes)
{
    int64_t p = b.pos;
    uint32_t n = ff_loaded;
    for (int32_t i = 0; i < bytes; ++i) {
        if (n > 0 && ff_at[(n - 1) & 7] == p - 2) {
            p -= 2;
            n -= 1;
        } else {
            p -= 1;
        }
    }
    return p;
}

// Restart marker: the rest of the interval's last byte is dropped, the
// expected RSTn is stepped over where it stands (a wrong or missing one
// only shifts where decoding goes on), predictors and EOB run start again.
void restart_boundary(BitReader& b, int32_t* expected)
{
    int64_t p = unread_position(b, b.count >> 3);
    const int64_t length = jpeg.source_length;
    if (p >= 0 && p + 1 < length && b.source[p] == 0xFF && b.source[p + 1] == *expected)
        p += 2;
    b.bits = 0;
    b.count = 0;
    b.pos = p;
    ff_loaded = 0;
    *expected = *expected == 0xD7 ? 0xD0 : *expected + 1;
    for (int32_t j = 0; j < JPEG_MAX_COMPONENTS; ++j)
        jpeg.predictor[j] = 0;
    eob_run = 0;
}

}  // namespace

int32_t jpeg_huff_decode_slow(const JpegHuffmanTable& t, uint32_t top16, int32_t* length)
{
    for (int32_t L = 1; L <= 16; ++L) {
        const int32_t code = int32_t(top16 >> (16 - L));
        if (code < t.limit[L - 1]) {
            *length = L;
            return t.symbols[(t.value_offset[L - 1] + code) & 255];
        }
    }
    *length = 16;
    return 0;
}

int64_t jpeg_decode_scan(int64_t position)
{
    BitReader b = {0, position, jpeg.source_length, jpeg.source, 0};
    ff_loaded = 0;
    eob_run = 0;
    int32_t left = jpeg.Ri;
    int32_t expected = 0xD0;
    const int64_t length = jpeg.source_length;
    const bool direct = jpeg.coefficients == nullptr;
    const bool transposed = jpeg_simd == JPEG_SIMD_AVX2 && jpeg.scale_log2 == 0;
    for (int32_t y = 0; y < jpeg.height; y += jpeg.mcu_height) {
        for (int32_t x = 0; x < jpeg.width; x += jpeg.mcu_width) {
            // An MCU is begun only while its data starts less than 4 bytes past
            // the end: a truncated scan stops soon after its data runs out.
            if (b.pos - 4 >= length && unread_position(b, b.count >> 3) - 4 >= length)
                goto end;
            if (direct) {
                int32_t* block = jpeg.mcu_samples;
                for (int32_t j = 0; j < jpeg.Ns; ++j) {
                    const int32_t blocks = jpeg.slots[j].H * jpeg.slots[j].V;
                    for (int32_t i = 0; i < blocks; ++i, block += 64)
                        decode_block_direct(b, j, block, transposed);
                }
                jpeg.block_output(x, y, jpeg.mcu_samples);
            } else {
                for (int32_t j = 0; j < jpeg.Ns; ++j) {
                    const JpegScanSlot& s = jpeg.slots[j];
                    for (int32_t by = 0; by < s.V; ++by)
                        for (int32_t bx = 0; bx < s.H; ++bx)
                            decode_block_coefficients(
                                b, j, jpeg_store_block(s, (y >> s.yshift) + by, (x >> s.xshift) + bx));
                }
            }
            if (jpeg.Ri != 0 && --left == 0) {
                restart_boundary(b, &expected);
                left = jpeg.Ri;
            }
        }
    }
end:
    // The byte that holds the next unread bit: a marker whose 0xFF went into
    // the buffer is found again by the marker loop. A last byte that was a
    // stuffed 0xFF is passed, else the loop would take its zero for a marker.
    int64_t p = unread_position(b, (b.count + 7) >> 3);
    if (p >= 0 && p + 1 < length && b.source[p] == 0xFF && b.source[p + 1] == 0)
        p += 2;
    return p;
}
