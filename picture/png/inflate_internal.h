#pragma once
// What the inflater's careful path (inflate.cpp) and its fast path
// (inflate_fast.cpp) share: the bit cursor, the code tables, the window, the
// match copy and the literal run. One decode at a time.
#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/thread.h"

constexpr uint32_t INFLATE_WINDOW_SIZE = 32768;
constexpr uint32_t INFLATE_WINDOW_MASK = INFLATE_WINDOW_SIZE - 1;
constexpr int INFLATE_LITLEN_LOOKUP_BITS = 9;
constexpr int INFLATE_DIST_LOOKUP_BITS = 6;
constexpr int INFLATE_MAX_CODE_BITS = 15;               // deflate codes are at most 15 bits long
constexpr int32_t INFLATE_MAX_CODE_LENGTHS = 288 + 32;  // HLIT + HDIST at their largest
// Below this bit position an 8-byte load and a whole match stay before the base.
constexpr int64_t INFLATE_FAST_POSITION_LIMIT = -64;
constexpr int INFLATE_FAST_WORD_BITS = 57;  // stream bits an 8-byte load holds at least (64 - 7)
constexpr int INFLATE_CAREFUL_WORD_BITS = 25;  // stream bits a 4-byte load holds at least (32 - 7)

constexpr uint32_t INFLATE_BIT_MASK[17] = {0x0,   0x1,   0x3,   0x7,    0xF,    0x1F,   0x3F,   0x7F,  0xFF,
                                           0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF, 0x3FFF, 0x7FFF, 0xFFFF};

// How a step of the inflater ended. The run turns the corrupt kinds into a
// failure with its reason, or into the truncated outcome when the reader had
// already run dry.
enum InflateResult {
    INFLATE_OK,             // go on
    INFLATE_BLOCK_END,      // end-of-block code read
    INFLATE_STOP,           // nothing further can become visible: the run ends with 0
    INFLATE_OUT_OF_DATA,    // the reader ran past the last IDAT byte
    INFLATE_BAD_BLOCK_TYPE, // BTYPE 3, reserved
    INFLATE_BAD_STORED_LENGTH,
    INFLATE_BAD_CODE_LENGTHS,
    INFLATE_BAD_CODE,       // bits that match no code, literal/length 286 or 287, distance code 30 or 31
    INFLATE_BAD_DISTANCE,   // a match reaching before the first output byte
};

struct InflateLengthEntry {
    uint8_t extra;
    uint16_t base;
};

struct InflateHuffmanCode {
    uint16_t sorted[288];  // symbols with a length, by (length, symbol)
    int32_t end[32];       // end[L]: symbols with a length of at most L
};

// Bits are read from base + position / 8; position is negative while the
// reader is before the base (the last 4 bytes of a chunk, or the stitch
// buffer's second word), so a 32-bit load there never leaves the bytes.
// The paths keep this record in registers and pass it by value, so that
// window stores cannot alias it.
struct Bits {
    const uint8_t* base;
    int64_t position;
    uint64_t limit;  // output position at which the symbol loop must look: the flush mark, 0 once out of data
};

extern InflateLengthEntry inflate_length_table[29];    // symbols 257..285
extern InflateLengthEntry inflate_distance_table[30];  // distance codes 0..29
extern SYS_THREAD_LOCAL InflateHuffmanCode inflate_litlen_code;
extern SYS_THREAD_LOCAL InflateHuffmanCode inflate_dist_code;
extern SYS_THREAD_LOCAL uint32_t inflate_litlen_symbol[1 << INFLATE_LITLEN_LOOKUP_BITS];
extern SYS_THREAD_LOCAL uint8_t inflate_litlen_length[1 << INFLATE_LITLEN_LOOKUP_BITS];
extern SYS_THREAD_LOCAL uint32_t inflate_dist_symbol[1 << INFLATE_DIST_LOOKUP_BITS];
extern SYS_THREAD_LOCAL uint8_t inflate_dist_length[1 << INFLATE_DIST_LOOKUP_BITS];
extern SYS_THREAD_LOCAL uint8_t inflate_window[INFLATE_WINDOW_SIZE];

// Symbols of one Huffman block while the cursor stays below
// INFLATE_FAST_POSITION_LIMIT and the output below b->limit; then INFLATE_OK,
// and the careful path takes over. Also INFLATE_BLOCK_END or a corrupt kind.
InflateResult inflate_codes_fast(Bits* b, uint64_t* out);

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

// Bit-at-a-time canonical decode over bits already loaded into `word` (at
// least 15 of them). *used = the code's length; -1 when no code matches.
template <typename Word>
[[gnu::always_inline]] inline int32_t decode_slow_word(Word word, const InflateHuffmanCode& code, int* used)
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

// The literals that follow in `word` (whose low `used` bits are taken, of
// `word_bits` real ones): written while a whole lookup still fits, no flush
// is due and the code is a literal in the lookup table. Returns the bits
// used in all; `word` is shifted past them.
template <typename Word>
[[gnu::always_inline]] inline int take_literals(Word& word, int used, int word_bits, uint64_t* out, uint64_t limit)
{
    while (used <= word_bits - INFLATE_LITLEN_LOOKUP_BITS) {
        uint32_t index = uint32_t(word) & INFLATE_BIT_MASK[INFLATE_LITLEN_LOOKUP_BITS];
        int n = inflate_litlen_length[index];
        uint32_t symbol = inflate_litlen_symbol[index];
        if (*out >= limit || n == 0 || symbol >= 256)
            break;
        inflate_window[*out & INFLATE_WINDOW_MASK] = uint8_t(symbol);
        ++*out;
        word >>= n;
        used += n;
    }
    return used;
}

// Copies a match of `length` bytes from `distance` back, inside the window;
// distance is at most the output so far.
[[gnu::always_inline]] inline void copy_match(uint64_t out, uint32_t length, uint32_t distance)
{
    uint32_t to = uint32_t(out & INFLATE_WINDOW_MASK);
    uint32_t from = uint32_t((out - distance) & INFLATE_WINDOW_MASK);
    if (from < to && to + length <= INFLATE_WINDOW_SIZE) {
        uint8_t* d = inflate_window + to;
        const uint8_t* s = inflate_window + from;
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
        inflate_window[(to + i) & INFLATE_WINDOW_MASK] = inflate_window[(from + i) & INFLATE_WINDOW_MASK];
}
