#pragma once
// SHA-1 (FIPS 180-4): the digest NSRL and many hash sets list first.
#include <cstddef>
#include <cstdint>

struct Sha1 {
    uint32_t state[5];
    uint64_t bytes;
    uint8_t block[64];
    size_t used;
};

void sha1_begin(Sha1* s);
void sha1_add(Sha1* s, const uint8_t* data, size_t length);
void sha1_end(Sha1* s, uint8_t digest[20]);
