#pragma once
// The three digests a case record carries for every file: MD5 and SHA-1 for
// the hash sets that still key on them, SHA-256 for everything new.
#include <cstddef>
#include <cstdint>
#include <string>

struct Digests {
    std::string md5, sha1, sha256;  // lower-case hex; empty when not computed
};

void digests_of(const uint8_t* data, size_t length, Digests* out);

// Reads the file in slices (bounded memory however large it is), read-only.
// 0 with its size, or -1 when it cannot be opened or read to the end.
int digests_of_file(const std::string& path, Digests* out, int64_t* size);

// Lower-case hex of length bytes into out (2 * length + 1 bytes).
void hex_digits(const uint8_t* bytes, size_t length, char* out);
