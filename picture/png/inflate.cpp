// Zlib stream decompression (RFC 1950 / 1951) read in place out of the IDAT
// chunks, handed to the PNG row stage in 16 KiB slices.
#include <bit>
#include <cstring>

#include "picture/png/png_internal.h"

InflateSink inflate_sink = png_filter_rows;

namespace {

constexpr uint32_t INFLATE_WINDOW_SIZE = 32768;
constexpr uint32_t INFLATE_WINDOW_MASK = INFLATE_WINDOW_SIZE - 1;
constexpr int INFLATE_LITLEN_LOOKUP_BITS = 9;
constexpr int INFLATE_DIST_LOOKUP_BITS = 6;
constexpr int INFLATE_MAX_CODE_BITS = 15;                 // deflate codes are at most 15 bits long
constexpr int32_t INFLATE_MAX_CODE_LENGTHS = 288 + 32;    // HLIT + HDIST at their largest
// Below this bit position an 8-byte load and a whole match stay before the base.
constexpr int64_t INFLATE_FAST_POSITION_LIMIT = -64;
constexpr int INFLATE_FAST_WORD_BITS = 57;  // stream bits an 8-byte load holds at least (64 - 7)

struct LengthEntry {
    uint8_t extra;
    uint16_t base;
};

LengthEntry length_table[29];    // symbols 257..285
LengthEntry distance_table[30];  // distance codes 0..29

constexpr uint8_t code_length_order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr uint32_t bit_mask[17] = {0x0,    0x1,    0x3,    0x7,    0xF,    0x1F,   0x3F,   0x7F,   0xFF,
                                   0x1FF,  0x3FF,  0x7FF,  0xFFF,  0x1FFF, 0x3FFF, 0x7FFF, 0xFFFF};

int32_t code_lengths[INFLATE_MAX_CODE_LENGTHS];

struct HuffmanCode {
    uint16_t sorted[288];  // symbols with a length, by (length, symbol)
    int32_t end[32];       // end[L]: symbols with a length of at most L
};

HuffmanCode code_length_code;
HuffmanCode litlen_code;
HuffmanCode dist_code;
uint32_t litlen_symbol[1 << INFLATE_LITLEN_LOOKUP_BITS];
uint8_t litlen_length[1 << INFLATE_LITLEN_LOOKUP_BITS];
uint32_t dist_symbol[1 << INFLATE_DIST_LOOKUP_BITS];
uint8_t dist_length[1 << INFLATE_DIST_LOOKUP_BITS];

uint8_t window[INFLATE_WINDOW_SIZE];
uint64_t flush_mark;

// Bits are read from base + position / 8; position is negative while the
// reader is before the base (the last 4 bytes of a chunk, or the stitch
// buffer's second word), so a 32-bit load there never leaves the bytes.
// The run keeps this record in registers and passes it by value, so that
// window stores cannot alias it.
struct Bits {
    const uint8_t* base;
    int64_t position;
    uint64_t limit;  // output position at which the symbol loop must look: the flush mark, 0 once out of data
};

struct ReaderState {
    bool in_stitch;
    PngChunkRef chunk;   // the chunk whose last 4 bytes are the base
    PngChunkRef gather;  // the chunk the next stitch bytes come from
    size_t gathered;     // bytes of `gather` already copied
    bool gather_single;  // the stitch's second word came whole from `gather`
    int32_t real_bytes;  // stream bytes in the second word; the rest is zero fill
    bool exhausted;      // the reader has run past the last IDAT byte
    uint8_t stitch[8];
};

ReaderState reader;
const uint8_t zero_fill[8] = {};

inline uint32_t load_le32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap32(v);
    return v;
}

inline uint64_t load_le64(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap64(v);
    return v;
}

// Copies the next 4 stream bytes into `out`, crossing as many IDAT chunks as
// needed (short and empty ones included); zero fill past the last one.
void stitch_gather(uint8_t* out)
{
    int32_t n = 0;
    int32_t from_current = 0;
    while (n < 4) {
        if (reader.gathered < reader.gather.length) {
            out[n++] = png.source[reader.gather.data + reader.gathered++];
            ++from_current;
            continue;
        }
        PngChunkRef next;
        if (!png_next_idat(reader.gather, &next))
            break;
        reader.gather = next;
        reader.gathered = 0;
        from_current = 0;
    }
    reader.real_bytes = n;
    reader.gather_single = from_current == 4;
    while (n < 4)
        out[n++] = 0;
}

// Called once the position has reached the base: moves the reader on into
// the stitch buffer, out of it into the next chunk, or onto the zero fill.
[[gnu::noinline]] Bits bits_advance(Bits b)
{
    while (b.position >= 0) {
        if (reader.exhausted) {
            b.base = zero_fill + 4;
            b.position -= 32;
        } else if (!reader.in_stitch) {
            std::memcpy(reader.stitch, b.base, 4);
            reader.gather = reader.chunk;
            reader.gathered = reader.chunk.length;
            stitch_gather(reader.stitch + 4);
            b.base = reader.stitch + 4;
            b.position -= 32;
            reader.in_stitch = true;
        } else if (reader.gather_single) {
            // The second word is 4 bytes of one chunk: continue in that chunk itself.
            reader.chunk = reader.gather;
            b.base = png.source + reader.chunk.data + reader.chunk.length - 4;
            b.position -= 8 * int64_t(reader.chunk.length - reader.gathered);
            reader.in_stitch = false;
        } else if (reader.real_bytes == 0) {
            reader.exhausted = true;
            b.limit = 0;
        } else {
            // Short chunks: slide the stitch buffer along by one word.
            std::memcpy(reader.stitch, reader.stitch + 4, 4);
            stitch_gather(reader.stitch + 4);
            b.position -= 32;
        }
    }
    return b;
}

[[gnu::always_inline]] inline uint32_t bits_peek(const Bits& b, int n)
{
    return (load_le32(b.base + (b.position >> 3)) >> (b.position & 7)) & bit_mask[n];
}

[[gnu::always_inline]] inline void bits_skip(Bits& b, int n)
{
    b.position += n;
    if (b.position >= 0) [[unlikely]]
        b = bits_advance(b);
}

[[gnu::always_inline]] inline uint32_t bits_read(Bits& b, int n)
{
    uint32_t v = bits_peek(b, n);
    bits_skip(b, n);
    return v;
}

Bits bits_start(PngChunkRef first)
{
    Bits b;
    b.limit = flush_mark;
    reader.exhausted = false;
    if (first.length >= 4) {
        reader.chunk = first;
        reader.in_stitch = false;
        b.base = png.source + first.data + first.length - 4;
        b.position = 32 - 8 * int64_t(first.length);
    } else {
        // A first chunk too short to hold a base: start inside the stitch buffer.
        reader.gather = first;
        reader.gathered = 0;
        stitch_gather(reader.stitch);
        stitch_gather(reader.stitch + 4);
        reader.in_stitch = true;
        b.base = reader.stitch + 4;
        b.position = -32;
    }
    if (b.position >= 0)
        b = bits_advance(b);
    return b;
}

void huff_sort_lengths(const int32_t* lengths, int32_t count, HuffmanCode* code)
{
    int32_t counts[32] = {};
    for (int32_t s = 0; s < count; ++s)
        counts[lengths[s]]++;
    code->end[0] = 0;
    code->end[1] = 0;
    for (int L = 1; L < 31; ++L)
        code->end[L + 1] = code->end[L] + counts[L];
    for (int32_t s = 0; s < count; ++s)
        if (lengths[s] != 0)
            code->sorted[code->end[lengths[s]]++] = uint16_t(s);
}

// More codes of some length than the code space holds: no canonical code exists.
bool huff_oversubscribed(const HuffmanCode& code)
{
    int32_t left = 1;
    for (int L = 1; L <= INFLATE_MAX_CODE_BITS; ++L) {
        left = 2 * left - (code.end[L] - code.end[L - 1]);
        if (left < 0)
            return true;
    }
    return false;
}

inline uint32_t bit_reverse(uint32_t v, int width)
{
    uint32_t r = 0;
    for (int i = 0; i < width; ++i)
        r |= ((v >> i) & 1) << (width - 1 - i);
    return r;
}

void huff_fill_lookup(const HuffmanCode& code, uint32_t* symbols, uint8_t* lengths, int width)
{
    const uint32_t size = 1u << width;
    uint32_t c = 0;
    for (int L = 1; L <= width; ++L) {
        for (int32_t i = code.end[L - 1]; i < code.end[L]; ++i) {
            for (uint32_t r = 0; r < (1u << (width - L)) && c < size; ++r, ++c) {
                uint32_t index = bit_reverse(c, width);
                symbols[index] = code.sorted[i];
                lengths[index] = uint8_t(L);
            }
        }
    }
    for (; c < size; ++c)
        lengths[bit_reverse(c, width)] = 0;
}

// Bit-at-a-time canonical decode; *symbol = -1 when no code of up to 15 bits matches.
[[gnu::noinline]] Bits decode_slow(Bits b, const HuffmanCode& code, int32_t* symbol)
{
    int32_t value = 0;
    for (int L = 1; L <= INFLATE_MAX_CODE_BITS; ++L) {
        value = 2 * value + int32_t(bits_read(b, 1)) - (code.end[L] - code.end[L - 1]);
        if (value < 0) {
            *symbol = code.sorted[code.end[L] + value];
            return b;
        }
    }
    *symbol = -1;
    return b;
}

// The same bit-at-a-time decode over bits already loaded into `word` (at
// least 15 of them). *used = the code's length.
template <typename Word>
[[gnu::always_inline]] inline int32_t decode_slow_word(Word word, const HuffmanCode& code, int* used)
{
    int32_t value = 0;
    for (int L = 1; L <= INFLATE_MAX_CODE_BITS; ++L) {
        value = 2 * value + int32_t((word >> (L - 1)) & 1) - (code.end[L] - code.end[L - 1]);
        if (value < 0) {
            *used = L;
            return code.sorted[code.end[L] + value];
        }
    }
    return -1;
}

// Builds the literal/length and distance codes from code_lengths; -1 when
// either is over-subscribed.
int build_block_codes(int32_t HLIT, int32_t HDIST)
{
    huff_sort_lengths(code_lengths, HLIT, &litlen_code);
    huff_sort_lengths(code_lengths + HLIT, HDIST, &dist_code);
    if (huff_oversubscribed(litlen_code) || huff_oversubscribed(dist_code))
        return -1;
    huff_fill_lookup(litlen_code, litlen_symbol, litlen_length, INFLATE_LITLEN_LOOKUP_BITS);
    huff_fill_lookup(dist_code, dist_symbol, dist_length, INFLATE_DIST_LOOKUP_BITS);
    return 0;
}

void build_fixed_lengths()
{
    int32_t i = 0;
    for (; i < 144; ++i)
        code_lengths[i] = 8;
    for (; i < 256; ++i)
        code_lengths[i] = 9;
    for (; i < 280; ++i)
        code_lengths[i] = 7;
    for (; i < 288; ++i)
        code_lengths[i] = 8;
    for (; i < 288 + 32; ++i)
        code_lengths[i] = 5;
}

// *result = 0 with the code lengths in code_lengths, or -1.
[[gnu::noinline]] Bits read_dynamic_lengths(Bits b, int32_t* HLIT_out, int32_t* HDIST_out, int* result)
{
    *result = -1;
    int32_t HLIT = int32_t(bits_read(b, 5)) + 257;
    int32_t HDIST = int32_t(bits_read(b, 5)) + 1;
    int32_t HCLEN = int32_t(bits_read(b, 4)) + 4;
    int32_t alphabet_lengths[19] = {};
    for (int32_t i = 0; i < HCLEN; ++i)
        alphabet_lengths[code_length_order[i]] = int32_t(bits_read(b, 3));
    huff_sort_lengths(alphabet_lengths, 19, &code_length_code);
    if (huff_oversubscribed(code_length_code))
        return b;

    const int32_t total = HLIT + HDIST;
    int32_t n = 0;
    while (n < total) {
        int32_t symbol;
        b = decode_slow(b, code_length_code, &symbol);
        if (symbol < 0)
            return b;
        if (symbol < 16) {
            code_lengths[n++] = symbol;
            continue;
        }
        int32_t value = 0;
        int32_t repeat;
        if (symbol == 16) {
            if (n == 0)
                return b;  // nothing to repeat
            value = code_lengths[n - 1];
            repeat = 3 + int32_t(bits_read(b, 2));
        } else if (symbol == 17) {
            repeat = 3 + int32_t(bits_read(b, 3));
        } else {
            repeat = 11 + int32_t(bits_read(b, 7));
        }
        if (repeat > total - n)
            return b;
        while (repeat-- > 0)
            code_lengths[n++] = value;
    }
    *HLIT_out = HLIT;
    *HDIST_out = HDIST;
    *result = 0;
    return b;
}

// Hands the next full slice to the row stage. True when the run should stop:
// nothing further can become visible.
bool flush_slice()
{
    inflate_sink(window + ((flush_mark - INFLATE_SLICE) & INFLATE_WINDOW_MASK), INFLATE_SLICE);
    flush_mark += INFLATE_SLICE;
    return png_rows_finished();
}

void final_flush(uint64_t out);

// The stream ran out of data: hand over what was decoded; a picture without a
// single complete row is a failure, not an empty success.
int truncated_result(uint64_t out)
{
    final_flush(out);
    return png.rows_completed > 0 ? 0 : -1;
}

void final_flush(uint64_t out)
{
    uint64_t from = flush_mark - INFLATE_SLICE;
    uint32_t start = uint32_t(from & INFLATE_WINDOW_MASK);
    if (((from ^ out) & INFLATE_WINDOW_SIZE) != 0) {
        inflate_sink(window + start, int32_t(INFLATE_WINDOW_SIZE - start));
        inflate_sink(window, int32_t(out & INFLATE_WINDOW_MASK));
    } else {
        inflate_sink(window + start, int32_t(out - from));
    }
}

[[gnu::always_inline]] inline void copy_match(uint64_t out, uint32_t length, uint32_t distance)
{
    uint32_t to = uint32_t(out & INFLATE_WINDOW_MASK);
    uint32_t from = uint32_t((out - distance) & INFLATE_WINDOW_MASK);
    if (from < to && to + length <= INFLATE_WINDOW_SIZE) {
        uint8_t* d = window + to;
        const uint8_t* s = window + from;
        if (distance >= 8) {
            // Short matches as two overlapping copies: with length <= distance + 8
            // every byte the second one reads is written already.
            if (length <= 16) {
                if (length >= 8) {
                    std::memcpy(d, s, 8);
                    std::memcpy(d + length - 8, s + length - 8, 8);
                } else if (length >= 4) {
                    std::memcpy(d, s, 4);
                    std::memcpy(d + length - 4, s + length - 4, 4);
                } else {
                    d[0] = s[0];
                    d[1] = s[1];
                    d[2] = s[2];
                }
                return;
            }
            // Each step reads only bytes written at least 8 before it.
            for (; length >= 8; length -= 8, d += 8, s += 8)
                std::memcpy(d, s, 8);
            for (; length > 0; --length)
                *d++ = *s++;
            return;
        }
        if (distance == 1) {
            std::memset(d, *s, length);
            return;
        }
        if (distance >= 4) {
            if (length <= 8) {
                if (length >= 4) {
                    std::memcpy(d, s, 4);
                    std::memcpy(d + length - 4, s + length - 4, 4);
                } else {
                    d[0] = s[0];
                    d[1] = s[1];
                    d[2] = s[2];
                }
                return;
            }
            for (; length >= 4; length -= 4, d += 4, s += 4)
                std::memcpy(d, s, 4);
        }
        while (length-- > 0)
            *d++ = *s++;
        return;
    }
    for (uint32_t i = 0; i < length; ++i)
        window[(to + i) & INFLATE_WINDOW_MASK] = window[(from + i) & INFLATE_WINDOW_MASK];
}

}  // namespace

void inflate_init_tables()
{
    uint32_t base = 3;
    int extra = 0;
    for (int s = 257; s <= 285; ++s) {
        length_table[s - 257] = {uint8_t(extra), uint16_t(base)};
        base += 1u << extra;
        if (s >= 264 && s % 4 == 0)
            ++extra;
    }
    length_table[285 - 257] = {0, 258};
    base = 1;
    extra = 0;
    for (int code = 0; code < 30; ++code) {
        distance_table[code] = {uint8_t(extra), uint16_t(base)};
        base += 1u << extra;
        if (code >= 3 && code % 2 == 1)
            ++extra;
    }
}

int inflate_run(PngChunkRef first)
{
    flush_mark = INFLATE_SLICE;
    Bits b = bits_start(first);
    uint64_t out = 0;

    // Corrupt data found after the reader ran dry is the truncation, not a fault of its own.
#define INFLATE_FAIL()                     \
    do {                                   \
        if (reader.exhausted)              \
            return truncated_result(out);  \
        return -1;                         \
    } while (0)

    // Before every symbol: a slice is due, or the reader ran dry. Returns 0 from
    // the run when it must end here.
#define INFLATE_CHECK_STOP()                      \
    do {                                          \
        if (out >= b.limit) [[unlikely]] {        \
            if (reader.exhausted)                 \
                return truncated_result(out);     \
            if (flush_slice())                    \
                return 0;                         \
            b.limit = flush_mark;                 \
        }                                         \
    } while (0)

    bits_read(b, 16);  // CMF and FLG: not checked
    uint32_t BFINAL = 0;
    do {
        if (reader.exhausted)
            return truncated_result(out);
        BFINAL = bits_read(b, 1);
        uint32_t BTYPE = bits_read(b, 2);
        if (BTYPE == 0) {
            b.position = (b.position + 7) & ~int64_t(7);
            if (b.position >= 0)
                b = bits_advance(b);
            uint32_t LEN = bits_read(b, 16);
            uint32_t NLEN = bits_read(b, 16);
            if ((LEN ^ NLEN) != 0xFFFF)
                INFLATE_FAIL();
            while (LEN > 0) {
                INFLATE_CHECK_STOP();
                // Bytes that lie before the base can be taken in place in one go.
                int64_t run = (-b.position >> 3) - 1;
                uint64_t room = b.limit - out;
                uint32_t to = uint32_t(out & INFLATE_WINDOW_MASK);
                if (run > int64_t(LEN))
                    run = LEN;
                if (uint64_t(run) > room)
                    run = int64_t(room);
                if (run > int64_t(INFLATE_WINDOW_SIZE - to))
                    run = INFLATE_WINDOW_SIZE - to;
                if (run > 0) {
                    std::memcpy(window + to, b.base + (b.position >> 3), size_t(run));
                    b.position += 8 * run;
                    out += uint64_t(run);
                    LEN -= uint32_t(run);
                    continue;
                }
                window[to] = uint8_t(bits_read(b, 8));
                ++out;
                --LEN;
            }
            continue;
        }
        if (BTYPE == 3)
            continue;  // taken as an empty block
        int32_t HLIT = 288;
        int32_t HDIST = 32;
        if (BTYPE == 1) {
            build_fixed_lengths();
        } else {
            int result;
            b = read_dynamic_lengths(b, &HLIT, &HDIST, &result);
            if (result != 0)
                INFLATE_FAIL();
        }
        if (build_block_codes(HLIT, HDIST) != 0)
            INFLATE_FAIL();

        for (;;) {
            INFLATE_CHECK_STOP();
            if (b.position < INFLATE_FAST_POSITION_LIMIT) [[likely]] {
                // Far enough before the base for an 8-byte load: it holds at least
                // 57 stream bits, and a literal pair (30) or a match (15 + 5 +
                // 15 + 13 = 48) cannot reach the base, so no boundary is crossed.
                uint64_t word = load_le64(b.base + (b.position >> 3)) >> (b.position & 7);
                uint32_t index = uint32_t(word) & bit_mask[INFLATE_LITLEN_LOOKUP_BITS];
                int n = litlen_length[index];
                int32_t symbol;
                if (n != 0) [[likely]] {
                    symbol = int32_t(litlen_symbol[index]);
                } else {
                    symbol = decode_slow_word(word, litlen_code, &n);
                    if (symbol < 0)
                        INFLATE_FAIL();
                }
                word >>= n;
                int used = n;
                if (symbol < 256) {
                    window[out & INFLATE_WINDOW_MASK] = uint8_t(symbol);
                    ++out;
                    // More literals from the same word while a 9-bit lookup still fits
                    // in its 57 bits, no flush is due and the code is in the table.
                    while (used <= INFLATE_FAST_WORD_BITS - INFLATE_LITLEN_LOOKUP_BITS) {
                        index = uint32_t(word) & bit_mask[INFLATE_LITLEN_LOOKUP_BITS];
                        n = litlen_length[index];
                        symbol = int32_t(litlen_symbol[index]);
                        if (out >= b.limit || n == 0 || symbol >= 256)
                            break;
                        window[out & INFLATE_WINDOW_MASK] = uint8_t(symbol);
                        ++out;
                        word >>= n;
                        used += n;
                    }
                    b.position += used;
                    continue;
                }
                if (symbol == 256) {
                    b.position += used;
                    break;
                }
                if (symbol > 285)
                    INFLATE_FAIL();
                const LengthEntry& le = length_table[symbol - 257];
                uint32_t length = le.base + (uint32_t(word) & bit_mask[le.extra]);
                word >>= le.extra;
                used += le.extra;
                index = uint32_t(word) & bit_mask[INFLATE_DIST_LOOKUP_BITS];
                n = dist_length[index];
                int32_t dcode;
                if (n != 0) [[likely]] {
                    dcode = int32_t(dist_symbol[index]);
                } else {
                    dcode = decode_slow_word(word, dist_code, &n);
                    if (dcode < 0)
                        INFLATE_FAIL();
                }
                if (dcode >= 30)
                    INFLATE_FAIL();
                word >>= n;
                used += n;
                const LengthEntry& de = distance_table[dcode];
                uint32_t distance = de.base + (uint32_t(word) & bit_mask[de.extra]);
                word >>= de.extra;
                used += de.extra;
                if (distance > out)
                    INFLATE_FAIL();  // reaches before the first output byte
                copy_match(out, length, distance);
                out += length;
                // Literals that follow the match in the same word.
                while (used <= INFLATE_FAST_WORD_BITS - INFLATE_LITLEN_LOOKUP_BITS) {
                    index = uint32_t(word) & bit_mask[INFLATE_LITLEN_LOOKUP_BITS];
                    n = litlen_length[index];
                    symbol = int32_t(litlen_symbol[index]);
                    if (out >= b.limit || n == 0 || symbol >= 256)
                        break;
                    window[out & INFLATE_WINDOW_MASK] = uint8_t(symbol);
                    ++out;
                    word >>= n;
                    used += n;
                }
                b.position += used;
                continue;
            }
            // One load serves this symbol and, after a literal, the next: the
            // word holds at least 25 stream bits, a code and a 9-bit lookup need 24.
            const uint32_t word = load_le32(b.base + (b.position >> 3)) >> (b.position & 7);
            uint32_t index = word & bit_mask[INFLATE_LITLEN_LOOKUP_BITS];
            int n = litlen_length[index];
            int32_t symbol;
            if (n == 0) [[unlikely]] {
                symbol = decode_slow_word(word, litlen_code, &n);
                if (symbol < 0)
                    INFLATE_FAIL();
            } else {
                symbol = int32_t(litlen_symbol[index]);
            }
            bits_skip(b, n);
            if (symbol < 256) {
                window[out & INFLATE_WINDOW_MASK] = uint8_t(symbol);
                ++out;
                if (out >= b.limit)
                    continue;
                index = (word >> n) & bit_mask[INFLATE_LITLEN_LOOKUP_BITS];
                int n2 = litlen_length[index];
                if (n2 == 0)
                    continue;
                symbol = int32_t(litlen_symbol[index]);
                bits_skip(b, n2);
                if (symbol < 256) {
                    window[out & INFLATE_WINDOW_MASK] = uint8_t(symbol);
                    ++out;
                    continue;
                }
            }
            if (symbol == 256)
                break;
            if (symbol > 285)
                INFLATE_FAIL();
            // Length extra bits, distance code and distance extra bits take at most
            // 5 + 6 + 13 = 24 bits: one load holds them all.
            const LengthEntry& le = length_table[symbol - 257];
            const uint32_t match_word = load_le32(b.base + (b.position >> 3)) >> (b.position & 7);
            uint32_t length = le.base + (match_word & bit_mask[le.extra]);
            uint32_t dindex = (match_word >> le.extra) & bit_mask[INFLATE_DIST_LOOKUP_BITS];
            int dn = dist_length[dindex];
            uint32_t distance;
            if (dn != 0) [[likely]] {
                int32_t dcode = int32_t(dist_symbol[dindex]);
                if (dcode >= 30)
                    INFLATE_FAIL();
                const LengthEntry& de = distance_table[dcode];
                distance = de.base + ((match_word >> (le.extra + dn)) & bit_mask[de.extra]);
                bits_skip(b, le.extra + dn + de.extra);
            } else {
                bits_skip(b, le.extra);
                int32_t dcode;
                b = decode_slow(b, dist_code, &dcode);
                if (dcode < 0 || dcode >= 30)
                    INFLATE_FAIL();
                const LengthEntry& de = distance_table[dcode];
                distance = de.base + bits_read(b, de.extra);
            }
            if (distance > out)
                INFLATE_FAIL();  // reaches before the first output byte
            copy_match(out, length, distance);
            out += length;
        }
    } while (BFINAL == 0);
#undef INFLATE_CHECK_STOP
#undef INFLATE_FAIL
    final_flush(out);
    return 0;
}
