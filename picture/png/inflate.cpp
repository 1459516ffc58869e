// Zlib stream decompression (RFC 1950 / 1951) read in place out of the IDAT
// chunks, handed to the PNG row stage in 16 KiB slices.
#include <cstring>

#include "picture/picture.h"
#include "picture/png/inflate_internal.h"
#include "picture/png/png_internal.h"

SYS_THREAD_LOCAL InflateSink inflate_sink = png_filter_rows;

InflateLengthEntry inflate_length_table[29];
InflateLengthEntry inflate_distance_table[30];
SYS_THREAD_LOCAL InflateHuffmanCode inflate_litlen_code;
SYS_THREAD_LOCAL InflateHuffmanCode inflate_dist_code;
SYS_THREAD_LOCAL uint32_t inflate_litlen_symbol[1 << INFLATE_LITLEN_LOOKUP_BITS];
SYS_THREAD_LOCAL uint8_t inflate_litlen_length[1 << INFLATE_LITLEN_LOOKUP_BITS];
SYS_THREAD_LOCAL uint32_t inflate_dist_symbol[1 << INFLATE_DIST_LOOKUP_BITS];
SYS_THREAD_LOCAL uint8_t inflate_dist_length[1 << INFLATE_DIST_LOOKUP_BITS];
SYS_THREAD_LOCAL uint8_t inflate_window[INFLATE_WINDOW_SIZE];

namespace {

constexpr uint8_t INFLATE_CODE_LENGTH_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

SYS_THREAD_LOCAL int32_t code_lengths[INFLATE_MAX_CODE_LENGTHS];
SYS_THREAD_LOCAL InflateHuffmanCode code_length_code;
SYS_THREAD_LOCAL uint64_t flush_mark;

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

SYS_THREAD_LOCAL ReaderState reader;
const uint8_t INFLATE_ZERO_FILL[8] = {};

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
            b.base = INFLATE_ZERO_FILL + 4;
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
    return (load_le32(b.base + (b.position >> 3)) >> (b.position & 7)) & INFLATE_BIT_MASK[n];
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

void huff_sort_lengths(const int32_t* lengths, int32_t count, InflateHuffmanCode* code)
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
bool huff_oversubscribed(const InflateHuffmanCode& code)
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

void huff_fill_lookup(const InflateHuffmanCode& code, uint32_t* symbols, uint8_t* lengths, int width)
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
[[gnu::noinline]] Bits decode_slow(Bits b, const InflateHuffmanCode& code, int32_t* symbol)
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

// Builds the literal/length and distance codes from code_lengths; -1 when
// either is over-subscribed.
int build_block_codes(int32_t HLIT, int32_t HDIST)
{
    huff_sort_lengths(code_lengths, HLIT, &inflate_litlen_code);
    huff_sort_lengths(code_lengths + HLIT, HDIST, &inflate_dist_code);
    if (huff_oversubscribed(inflate_litlen_code) || huff_oversubscribed(inflate_dist_code))
        return -1;
    huff_fill_lookup(inflate_litlen_code, inflate_litlen_symbol, inflate_litlen_length, INFLATE_LITLEN_LOOKUP_BITS);
    huff_fill_lookup(inflate_dist_code, inflate_dist_symbol, inflate_dist_length, INFLATE_DIST_LOOKUP_BITS);
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
        alphabet_lengths[INFLATE_CODE_LENGTH_ORDER[i]] = int32_t(bits_read(b, 3));
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
    inflate_sink(inflate_window + ((flush_mark - INFLATE_SLICE) & INFLATE_WINDOW_MASK), INFLATE_SLICE);
    flush_mark += INFLATE_SLICE;
    return png_rows_finished();
}

// Hands over what is left after the last full slice, up to `out`.
void final_flush(uint64_t out)
{
    uint64_t from = flush_mark - INFLATE_SLICE;
    uint32_t start = uint32_t(from & INFLATE_WINDOW_MASK);
    if (((from ^ out) & INFLATE_WINDOW_SIZE) != 0) {
        inflate_sink(inflate_window + start, int32_t(INFLATE_WINDOW_SIZE - start));
        inflate_sink(inflate_window, int32_t(out & INFLATE_WINDOW_MASK));
    } else {
        inflate_sink(inflate_window + start, int32_t(out - from));
    }
}

// Before every symbol or stored run: a slice is due, or the reader ran dry.
[[gnu::always_inline]] inline InflateResult check_stop(Bits& b, uint64_t out)
{
    if (out < b.limit) [[likely]]
        return INFLATE_OK;
    if (reader.exhausted)
        return INFLATE_OUT_OF_DATA;
    if (flush_slice())
        return INFLATE_STOP;
    b.limit = flush_mark;
    return INFLATE_OK;
}

// BTYPE 0: LEN bytes after the next byte boundary, checked against NLEN.
InflateResult inflate_stored_block(Bits* bits, uint64_t* out_io)
{
    Bits b = *bits;
    uint64_t out = *out_io;
    InflateResult result = INFLATE_OK;
    b.position = (b.position + 7) & ~int64_t(7);
    if (b.position >= 0)
        b = bits_advance(b);
    uint32_t LEN = bits_read(b, 16);
    uint32_t NLEN = bits_read(b, 16);
    if ((LEN ^ NLEN) != 0xFFFF)
        result = INFLATE_BAD_STORED_LENGTH;
    while (result == INFLATE_OK && LEN > 0) {
        result = check_stop(b, out);
        if (result != INFLATE_OK)
            break;
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
            std::memcpy(inflate_window + to, b.base + (b.position >> 3), size_t(run));
            b.position += 8 * run;
            out += uint64_t(run);
            LEN -= uint32_t(run);
            continue;
        }
        inflate_window[to] = uint8_t(bits_read(b, 8));
        ++out;
        --LEN;
    }
    *bits = b;
    *out_io = out;
    return result;
}

// One symbol near a chunk end, every read through the bit reader, which
// crosses into the next chunk. After a literal, at most one more literal from
// the same load: the reader must see each code's end before the next code, so
// that bits past the last IDAT byte never become output.
[[gnu::always_inline]] inline InflateResult careful_symbol(Bits& b, uint64_t& out)
{
    // One load holds at least 25 stream bits: a code and a 9-bit lookup need 24.
    uint32_t word = load_le32(b.base + (b.position >> 3)) >> (b.position & 7);
    uint32_t index = word & INFLATE_BIT_MASK[INFLATE_LITLEN_LOOKUP_BITS];
    int n = inflate_litlen_length[index];
    int32_t symbol;
    if (n == 0) [[unlikely]] {
        symbol = decode_slow_word(word, inflate_litlen_code, &n);
        if (symbol < 0)
            return INFLATE_BAD_CODE;
    } else {
        symbol = int32_t(inflate_litlen_symbol[index]);
    }
    bits_skip(b, n);
    if (symbol < 256) {
        inflate_window[out & INFLATE_WINDOW_MASK] = uint8_t(symbol);
        ++out;
        word >>= n;
        bits_skip(b, take_literals(word, n, n + INFLATE_LITLEN_LOOKUP_BITS, &out, b.limit) - n);
        return INFLATE_OK;
    }
    if (symbol == 256)
        return INFLATE_BLOCK_END;
    if (symbol > 285)
        return INFLATE_BAD_CODE;
    // Length extra bits, distance code and distance extra bits take at most
    // 5 + 6 + 13 = 24 bits: one load holds them all.
    const InflateLengthEntry& le = inflate_length_table[symbol - 257];
    const uint32_t match_word = load_le32(b.base + (b.position >> 3)) >> (b.position & 7);
    uint32_t length = le.base + (match_word & INFLATE_BIT_MASK[le.extra]);
    uint32_t dindex = (match_word >> le.extra) & INFLATE_BIT_MASK[INFLATE_DIST_LOOKUP_BITS];
    int dn = inflate_dist_length[dindex];
    uint32_t distance;
    if (dn != 0) [[likely]] {
        int32_t dcode = int32_t(inflate_dist_symbol[dindex]);
        if (dcode >= 30)
            return INFLATE_BAD_CODE;
        const InflateLengthEntry& de = inflate_distance_table[dcode];
        distance = de.base + ((match_word >> (le.extra + dn)) & INFLATE_BIT_MASK[de.extra]);
        bits_skip(b, le.extra + dn + de.extra);
    } else {
        bits_skip(b, le.extra);
        int32_t dcode;
        b = decode_slow(b, inflate_dist_code, &dcode);
        if (dcode < 0 || dcode >= 30)
            return INFLATE_BAD_CODE;
        const InflateLengthEntry& de = inflate_distance_table[dcode];
        distance = de.base + bits_read(b, de.extra);
    }
    if (distance > out)
        return INFLATE_BAD_DISTANCE;
    copy_match(out, length, distance);
    out += length;
    return INFLATE_OK;
}

// The symbols of one Huffman block, to its end code. Far from a chunk end the
// fast path takes them in runs; near one, careful_symbol takes one at a time.
InflateResult inflate_codes_careful(Bits* bits, uint64_t* out_io)
{
    Bits b = *bits;
    uint64_t out = *out_io;
    InflateResult result;
    do {
        result = check_stop(b, out);
        if (result != INFLATE_OK)
            break;
        if (b.position < INFLATE_FAST_POSITION_LIMIT) [[likely]]
            result = inflate_codes_fast(&b, &out);
        else
            result = careful_symbol(b, out);
    } while (result == INFLATE_OK);
    *bits = b;
    *out_io = out;
    return result == INFLATE_BLOCK_END ? INFLATE_OK : result;
}

// BTYPE 1 or 2: the block's codes, then its symbols.
InflateResult inflate_huffman_block(Bits* b, uint64_t* out, uint32_t BTYPE)
{
    int32_t HLIT = 288;
    int32_t HDIST = 32;
    if (BTYPE == 1) {
        build_fixed_lengths();
    } else {
        int result;
        *b = read_dynamic_lengths(*b, &HLIT, &HDIST, &result);
        if (result != 0)
            return INFLATE_BAD_CODE_LENGTHS;
    }
    if (build_block_codes(HLIT, HDIST) != 0)
        return INFLATE_BAD_CODE_LENGTHS;
    return inflate_codes_careful(b, out);
}

const char* corrupt_reason(InflateResult result)
{
    switch (result) {
    case INFLATE_BAD_BLOCK_TYPE: return "reserved deflate block type 3";
    case INFLATE_BAD_STORED_LENGTH: return "stored block length check failed";
    case INFLATE_BAD_CODE_LENGTHS: return "bad Huffman code lengths";
    case INFLATE_BAD_DISTANCE: return "match distance before the start of the data";
    default: return "bad Huffman code";
    }
}

// How the run ends. Corrupt data found after the reader ran dry is the
// truncation, not a fault of its own; a truncated stream keeps the rows
// decoded so far, but a picture without a single complete row is a failure,
// not an empty success.
int inflate_outcome(InflateResult result, uint64_t out)
{
    if (result == INFLATE_STOP)
        return 0;
    if (result == INFLATE_OK) {
        final_flush(out);
        return 0;
    }
    if (result != INFLATE_OUT_OF_DATA && !reader.exhausted)
        return fail("%s", corrupt_reason(result));
    final_flush(out);
    return png.rows_completed > 0 ? 0 : fail("truncated before the first row");
}

}  // namespace

void inflate_init_tables()
{
    uint32_t base = 3;
    int extra = 0;
    for (int s = 257; s <= 285; ++s) {
        inflate_length_table[s - 257] = {uint8_t(extra), uint16_t(base)};
        base += 1u << extra;
        if (s >= 264 && s % 4 == 0)
            ++extra;
    }
    inflate_length_table[285 - 257] = {0, 258};
    base = 1;
    extra = 0;
    for (int code = 0; code < 30; ++code) {
        inflate_distance_table[code] = {uint8_t(extra), uint16_t(base)};
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
    bits_read(b, 16);  // CMF and FLG: not checked
    InflateResult result = INFLATE_OK;
    uint32_t BFINAL = 0;
    while (result == INFLATE_OK && BFINAL == 0) {
        if (reader.exhausted) {
            result = INFLATE_OUT_OF_DATA;
            break;
        }
        BFINAL = bits_read(b, 1);
        uint32_t BTYPE = bits_read(b, 2);
        if (BTYPE == 0)
            result = inflate_stored_block(&b, &out);
        else if (BTYPE == 3)
            result = INFLATE_BAD_BLOCK_TYPE;  // reserved (RFC 1951, 3.2.3)
        else
            result = inflate_huffman_block(&b, &out, BTYPE);
    }
    return inflate_outcome(result, out);
}
