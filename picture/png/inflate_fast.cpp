// The inflater's fast path: Huffman symbols decoded out of 8-byte loads while
// the bit cursor is far from the end of the chunk, so that no read needs the
// bit reader's chunk crossing.
//
// Keep in step with careful_symbol in inflate.cpp: both must accept and
// reject the same streams (the same symbol and distance checks, the same
// results) and produce the same bytes; the tests decode every stream both in
// one chunk and split into small chunks, which takes the careful path.
#include "picture/png/inflate_internal.h"

InflateResult inflate_codes_fast(Bits* bits, uint64_t* out_io)
{
    Bits b = *bits;
    uint64_t out = *out_io;
    InflateResult result = INFLATE_OK;
    while (b.position < INFLATE_FAST_POSITION_LIMIT && out < b.limit) {
        // The load holds at least 57 stream bits, and a literal pair (30) or a
        // match (15 + 5 + 15 + 13 = 48) cannot reach the base.
        uint64_t word = load_le64(b.base + (b.position >> 3)) >> (b.position & 7);
        uint32_t index = uint32_t(word) & INFLATE_BIT_MASK[INFLATE_LITLEN_LOOKUP_BITS];
        int n = inflate_litlen_length[index];
        int32_t symbol;
        if (n != 0) [[likely]] {
            symbol = int32_t(inflate_litlen_symbol[index]);
        } else {
            symbol = decode_slow_word(word, inflate_litlen_code, &n);
            if (symbol < 0) {
                result = INFLATE_BAD_CODE;
                break;
            }
        }
        word >>= n;
        int used = n;
        if (symbol < 256) {
            inflate_window[out & INFLATE_WINDOW_MASK] = uint8_t(symbol);
            ++out;
            b.position += take_literals(word, used, INFLATE_FAST_WORD_BITS, &out, b.limit);
            continue;
        }
        if (symbol == 256) {
            b.position += used;
            result = INFLATE_BLOCK_END;
            break;
        }
        if (symbol > 285) {
            result = INFLATE_BAD_CODE;
            break;
        }
        const InflateLengthEntry& le = inflate_length_table[symbol - 257];
        uint32_t length = le.base + (uint32_t(word) & INFLATE_BIT_MASK[le.extra]);
        word >>= le.extra;
        used += le.extra;
        index = uint32_t(word) & INFLATE_BIT_MASK[INFLATE_DIST_LOOKUP_BITS];
        n = inflate_dist_length[index];
        int32_t dcode;
        if (n != 0) [[likely]] {
            dcode = int32_t(inflate_dist_symbol[index]);
        } else {
            dcode = decode_slow_word(word, inflate_dist_code, &n);
            if (dcode < 0) {
                result = INFLATE_BAD_CODE;
                break;
            }
        }
        if (dcode >= 30) {
            result = INFLATE_BAD_CODE;
            break;
        }
        word >>= n;
        used += n;
        const InflateLengthEntry& de = inflate_distance_table[dcode];
        uint32_t distance = de.base + (uint32_t(word) & INFLATE_BIT_MASK[de.extra]);
        word >>= de.extra;
        used += de.extra;
        if (distance > out) {
            result = INFLATE_BAD_DISTANCE;
            break;
        }
        copy_match(out, length, distance);
        out += length;
        b.position += take_literals(word, used, INFLATE_FAST_WORD_BITS, &out, b.limit);
    }
    *bits = b;
    *out_io = out;
    return result;
}
