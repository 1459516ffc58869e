#include "app/cli/digests/sha1.h"

#include <cstring>

#include "app/cli/digests/digest_block.h"

namespace {

inline uint32_t rotl(uint32_t x, int n) { return x << n | x >> (32 - n); }

void compress(uint32_t* h, const uint8_t* block)
{
    uint32_t w[80];
    for (int t = 0; t < 16; ++t)
        w[t] = uint32_t(block[4 * t]) << 24 | uint32_t(block[4 * t + 1]) << 16 | uint32_t(block[4 * t + 2]) << 8 |
               block[4 * t + 3];
    for (int t = 16; t < 80; ++t)
        w[t] = rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int t = 0; t < 80; ++t) {
        uint32_t f, k;
        if (t < 20)
            f = (b & c) | (~b & d), k = 0x5a827999;
        else if (t < 40)
            f = b ^ c ^ d, k = 0x6ed9eba1;
        else if (t < 60)
            f = (b & c) | (b & d) | (c & d), k = 0x8f1bbcdc;
        else
            f = b ^ c ^ d, k = 0xca62c1d6;
        uint32_t next = rotl(a, 5) + f + e + k + w[t];
        e = d, d = c, c = rotl(b, 30), b = a, a = next;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
}

} // namespace

void sha1_begin(Sha1* s)
{
    static const uint32_t initial[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
    std::memcpy(s->state, initial, sizeof initial);
    s->bytes = 0;
    s->used = 0;
}

void sha1_add(Sha1* s, const uint8_t* data, size_t length) { digest_block_add(s, data, length, compress); }

void sha1_end(Sha1* s, uint8_t digest[20])
{
    digest_block_pad(s, true, compress);
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = uint8_t(s->state[i] >> (24 - 8 * j));
}
