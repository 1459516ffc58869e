#include "app/cli/digests/digests.h"

#include <cstdio>
#include <vector>

#include "app/cli/digests/md5.h"
#include "app/cli/digests/sha1.h"
#include "app/cli/digests/sha256.h"
#include "platform/system.h"

namespace {

constexpr size_t DIGESTS_SLICE = size_t(1) << 16;

struct DigestRun {
    Md5 md5;
    Sha1 sha1;
    Sha256 sha256;
};

void run_begin(DigestRun* r)
{
    md5_begin(&r->md5);
    sha1_begin(&r->sha1);
    sha256_begin(&r->sha256);
}

void run_add(DigestRun* r, const uint8_t* data, size_t length)
{
    md5_add(&r->md5, data, length);
    sha1_add(&r->sha1, data, length);
    sha256_add(&r->sha256, data, length);
}

void run_end(DigestRun* r, Digests* out)
{
    uint8_t digest[32];
    char hex[65];
    md5_end(&r->md5, digest);
    hex_digits(digest, 16, hex);
    out->md5 = hex;
    sha1_end(&r->sha1, digest);
    hex_digits(digest, 20, hex);
    out->sha1 = hex;
    sha256_end(&r->sha256, digest);
    hex_digits(digest, 32, hex);
    out->sha256 = hex;
}

} // namespace

void hex_digits(const uint8_t* bytes, size_t length, char* out)
{
    static const char hex[] = "0123456789abcdef";
    for (size_t i = 0; i < length; ++i) {
        out[2 * i] = hex[bytes[i] >> 4];
        out[2 * i + 1] = hex[bytes[i] & 15];
    }
    out[2 * length] = 0;
}

void digests_of(const uint8_t* data, size_t length, Digests* out)
{
    DigestRun r;
    run_begin(&r);
    run_add(&r, data, length);
    run_end(&r, out);
}

int digests_of_file(const std::string& path, Digests* out, int64_t* size)
{
    std::FILE* f = sys_fopen(path.c_str(), "rb");
    if (!f)
        return -1;
    DigestRun r;
    run_begin(&r);
    std::vector<uint8_t> slice(DIGESTS_SLICE);
    int64_t total = 0;
    size_t n;
    while ((n = std::fread(slice.data(), 1, slice.size(), f)) > 0) {
        run_add(&r, slice.data(), n);
        total += int64_t(n);
    }
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed)
        return -1;
    run_end(&r, out);
    *size = total;
    return 0;
}
