#pragma once
// What MD5, SHA-1 and SHA-256 share: 64-byte blocks fed to a compression
// function, and the closing padding with the message length in bits.
#include <cstddef>
#include <cstdint>
#include <cstring>

// The digest records all hold state, bytes, block[64] and used.
template <class Digest>
void digest_block_add(Digest* s, const uint8_t* data, size_t length, void (*compress)(uint32_t*, const uint8_t*))
{
    s->bytes += length;
    while (length > 0) {
        size_t n = 64 - s->used < length ? 64 - s->used : length;
        std::memcpy(s->block + s->used, data, n);
        s->used += n, data += n, length -= n;
        if (s->used == 64) {
            compress(s->state, s->block);
            s->used = 0;
        }
    }
}

// 0x80, zeros to 56 bytes of a block, then the length: little-endian for MD5,
// big-endian for the SHA family.
template <class Digest>
void digest_block_pad(Digest* s, bool big_endian, void (*compress)(uint32_t*, const uint8_t*))
{
    uint64_t bits = s->bytes * 8;
    uint8_t pad[72] = {0x80};
    size_t pad_bytes = s->used < 56 ? 56 - s->used : 120 - s->used;
    digest_block_add(s, pad, pad_bytes, compress);
    uint8_t length[8];
    for (int i = 0; i < 8; ++i)
        length[i] = uint8_t(bits >> (big_endian ? 56 - 8 * i : 8 * i));
    digest_block_add(s, length, 8, compress);
}
