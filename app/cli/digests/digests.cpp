#include "app/cli/digests/digests.h"

#include <cstdio>
#include <vector>

#include "platform/system.h"

DigestRun::~DigestRun()
{
    for (void* c : context)
        if (c)
            digest_context_free(c);
}

int digest_begin(DigestRun* run, unsigned which)
{
    for (int k = 0; k < DIGEST_KINDS && !run->failed; ++k)
        if (which >> k & 1) {
            run->context[k] = digest_context_new(DigestKind(k));
            run->failed = !run->context[k];
        }
    return run->failed ? -1 : 0;
}

int digest_add(DigestRun* run, const uint8_t* data, size_t length)
{
    while (length > 0 && !run->failed) {
        size_t n = length < DIGEST_SLICE ? length : DIGEST_SLICE;
        for (int k = 0; k < DIGEST_KINDS && !run->failed; ++k)
            if (run->context[k])
                run->failed = digest_context_add(run->context[k], DigestKind(k), data, n) != 0;
        data += n, length -= n;
    }
    return run->failed ? -1 : 0;
}

int digest_end(DigestRun* run, Digests* out)
{
    Digests done;
    std::string* field[DIGEST_KINDS] = {&done.md5, &done.sha1, &done.sha256};
    uint8_t digest[32];
    char hex[65];
    for (int k = 0; k < DIGEST_KINDS && !run->failed; ++k)
        if (run->context[k]) {
            if (digest_context_end(run->context[k], DigestKind(k), digest) != 0) {
                run->failed = true;
                break;
            }
            hex_digits(digest, DIGEST_BYTES[k], hex);
            *field[k] = hex;
        }
    *out = run->failed ? Digests() : done;
    return run->failed ? -1 : 0;
}

void hex_digits(const uint8_t* bytes, size_t length, char* out)
{
    static const char hex[] = "0123456789abcdef";
    for (size_t i = 0; i < length; ++i) {
        out[2 * i] = hex[bytes[i] >> 4];
        out[2 * i + 1] = hex[bytes[i] & 15];
    }
    out[2 * length] = 0;
}

int digests_of(const uint8_t* data, size_t length, Digests* out, unsigned which)
{
    DigestRun run;
    digest_begin(&run, which);
    digest_add(&run, data, length);
    return digest_end(&run, out);
}

int sha256_hex(const uint8_t* data, size_t length, char out[65])
{
    Digests d;
    int result = digests_of(data, length, &d, 1u << DIGEST_SHA256);
    std::snprintf(out, 65, "%s", d.sha256.c_str());
    return result;
}

int digests_of_file(const std::string& path, Digests* out, int64_t* size, unsigned which)
{
    std::FILE* f = sys_fopen(path.c_str(), "rb");
    if (!f)
        return -1;
    DigestRun run;
    digest_begin(&run, which);
    std::vector<uint8_t> slice(DIGEST_SLICE);
    int64_t total = 0;
    size_t n;
    while (!run.failed && (n = std::fread(slice.data(), 1, slice.size(), f)) > 0) {
        digest_add(&run, slice.data(), n);
        total += int64_t(n);
    }
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (digest_end(&run, out) != 0 || failed) {
        *out = Digests();  // the digests of part of a file would pass for the file's
        return -1;
    }
    *size = total;
    return 0;
}
