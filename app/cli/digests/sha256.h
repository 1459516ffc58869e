#pragma once
// SHA-256 (FIPS 180-4), for the fingerprints of extracted thumbnails.
#include <cstddef>
#include <cstdint>

struct Sha256 {
    uint32_t state[8];
    uint64_t bytes;
    uint8_t block[64];
    size_t used;
};

void sha256_begin(Sha256* s);
void sha256_add(Sha256* s, const uint8_t* data, size_t length);
void sha256_end(Sha256* s, uint8_t digest[32]);

// The digest of data as 64 lower-case hex digits and a NUL.
void sha256_hex(const uint8_t* data, size_t length, char out[65]);
