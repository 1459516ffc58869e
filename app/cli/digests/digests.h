#pragma once
// The three digests a case record carries for every file: MD5 and SHA-1 for
// the hash sets that still key on them, SHA-256 for everything new. The
// system's own library computes them: OpenSSL's libcrypto on Linux
// (digests_openssl.cpp), CNG on Windows (digests_bcrypt.cpp).
#include <cstddef>
#include <cstdint>
#include <string>

struct Digests {
    std::string md5, sha1, sha256;  // lower-case hex; empty when not computed
};

enum DigestKind { DIGEST_MD5, DIGEST_SHA1, DIGEST_SHA256, DIGEST_KINDS };
constexpr const char* DIGEST_NAME[DIGEST_KINDS] = {"MD5", "SHA-1", "SHA-256"};
constexpr size_t DIGEST_BYTES[DIGEST_KINDS] = {16, 20, 32};

// Which digests to compute: a mask of 1 << DigestKind.
constexpr unsigned DIGEST_ALL = (1u << DIGEST_KINDS) - 1;

// One pass over bytes given in pieces, feeding every digest asked for slice
// by slice, so that each byte is read from memory once for all of them. A
// failure of the library is reported (cli_error) and fails the run: no digest
// comes out of bytes the library may not have taken.
struct DigestRun {
    void* context[DIGEST_KINDS] = {};  // the library's, for the kinds asked
    bool failed = false;
    DigestRun() = default;
    DigestRun(const DigestRun&) = delete;
    DigestRun& operator=(const DigestRun&) = delete;
    ~DigestRun();
};

// 0, or -1 when the library fails.
int digest_begin(DigestRun* run, unsigned which);
int digest_add(DigestRun* run, const uint8_t* data, size_t length);
// The digests asked for into out (the others empty); on -1 out is all empty.
int digest_end(DigestRun* run, Digests* out);

int digests_of(const uint8_t* data, size_t length, Digests* out, unsigned which = DIGEST_ALL);

// Reads the file in slices (bounded memory however large it is), read-only.
// 0 with its size, or -1 when it cannot be opened or read to the end, or the
// library fails. Only the digests in which are taken.
int digests_of_file(const std::string& path, Digests* out, int64_t* size, unsigned which = DIGEST_ALL);

// The SHA-256 of data as 64 lower-case hex digits and a NUL; 0, or -1 with
// out empty.
int sha256_hex(const uint8_t* data, size_t length, char out[65]);

// Lower-case hex of length bytes into out (2 * length + 1 bytes).
void hex_digits(const uint8_t* bytes, size_t length, char* out);

// What each system's source provides: one digest's state in the library.
// digest_context_add is given at most DIGEST_SLICE bytes at a time: small
// enough that a slice one digest has read is still in the CPU cache for the
// next. Failures are reported by these functions, with the library's reason.
constexpr size_t DIGEST_SLICE = size_t(1) << 16;
void* digest_context_new(DigestKind kind);  // null on failure
int digest_context_add(void* context, DigestKind kind, const uint8_t* data, size_t length);
int digest_context_end(void* context, DigestKind kind, uint8_t* digest);  // DIGEST_BYTES[kind] bytes
void digest_context_free(void* context);
