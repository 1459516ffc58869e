// The digests from OpenSSL's libcrypto, through EVP: the interface OpenSSL 3
// keeps (the per-algorithm MD5_Init family is deprecated there).
#include <openssl/err.h>
#include <openssl/evp.h>

#include "app/cli/cli.h"
#include "app/cli/digests/digests.h"

namespace {

const EVP_MD* method(DigestKind kind)
{
    switch (kind) {
    case DIGEST_MD5:
        return EVP_md5();
    case DIGEST_SHA1:
        return EVP_sha1();
    default:
        return EVP_sha256();
    }
}

// With OpenSSL's reason: a configuration that leaves MD5 out (a FIPS-only
// one) fails here, and the examiner has to know why the digests are missing.
void report(DigestKind kind, const char* step)
{
    char reason[256] = "no reason given";
    if (unsigned long code = ERR_get_error())
        ERR_error_string_n(code, reason, sizeof reason);
    ERR_clear_error();
    cli_error("cannot compute %s: OpenSSL's %s failed (%s)", DIGEST_NAME[kind], step, reason);
}

} // namespace

void* digest_context_new(DigestKind kind)
{
    EVP_MD_CTX* c = EVP_MD_CTX_new();
    if (!c) {
        report(kind, "EVP_MD_CTX_new");
        return nullptr;
    }
    if (EVP_DigestInit_ex(c, method(kind), nullptr) != 1) {
        report(kind, "EVP_DigestInit_ex");
        EVP_MD_CTX_free(c);
        return nullptr;
    }
    return c;
}

int digest_context_add(void* context, DigestKind kind, const uint8_t* data, size_t length)
{
    if (EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context), data, length) != 1) {
        report(kind, "EVP_DigestUpdate");
        return -1;
    }
    return 0;
}

int digest_context_end(void* context, DigestKind kind, uint8_t* digest)
{
    unsigned size = 0;
    if (EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(context), digest, &size) != 1 || size != DIGEST_BYTES[kind]) {
        report(kind, "EVP_DigestFinal_ex");
        return -1;
    }
    return 0;
}

void digest_context_free(void* context) { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context)); }
