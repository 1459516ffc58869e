#include "app/cli/digests/md5.h"

#include <cstring>

#include "app/cli/digests/digest_block.h"

namespace {

// RFC 1321 3.4: the sine table and the per-round shifts.
constexpr uint32_t MD5_SINE[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};
constexpr int MD5_SHIFT[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

inline uint32_t rotl(uint32_t x, int n) { return x << n | x >> (32 - n); }

void compress(uint32_t* h, const uint8_t* block)
{
    uint32_t m[16];
    for (int t = 0; t < 16; ++t)
        m[t] = uint32_t(block[4 * t]) | uint32_t(block[4 * t + 1]) << 8 | uint32_t(block[4 * t + 2]) << 16 |
               uint32_t(block[4 * t + 3]) << 24;
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (int t = 0; t < 64; ++t) {
        int round = t / 16;
        uint32_t f;
        int g;
        if (round == 0)
            f = (b & c) | (~b & d), g = t;
        else if (round == 1)
            f = (d & b) | (~d & c), g = (5 * t + 1) % 16;
        else if (round == 2)
            f = b ^ c ^ d, g = (3 * t + 5) % 16;
        else
            f = c ^ (b | ~d), g = (7 * t) % 16;
        uint32_t next = b + rotl(a + f + MD5_SINE[t] + m[g], MD5_SHIFT[round][t % 4]);
        a = d, d = c, c = b, b = next;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d;
}

} // namespace

void md5_begin(Md5* s)
{
    s->state[0] = 0x67452301, s->state[1] = 0xefcdab89, s->state[2] = 0x98badcfe, s->state[3] = 0x10325476;
    s->bytes = 0;
    s->used = 0;
}

void md5_add(Md5* s, const uint8_t* data, size_t length) { digest_block_add(s, data, length, compress); }

void md5_end(Md5* s, uint8_t digest[16])
{
    digest_block_pad(s, false, compress);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = uint8_t(s->state[i] >> (8 * j));
}
