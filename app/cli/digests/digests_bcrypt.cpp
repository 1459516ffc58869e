// The digests from Windows' own CNG (bcrypt.dll): part of the system, so the
// executables carry no library for them.
#include <windows.h>

#include <bcrypt.h>

#include "app/cli/cli.h"
#include "app/cli/digests/digests.h"

namespace {

struct Provider {
    BCRYPT_ALG_HANDLE handle = nullptr;
    NTSTATUS status = 0;
};

Provider open_provider(LPCWSTR algorithm)
{
    Provider p;
    p.status = BCryptOpenAlgorithmProvider(&p.handle, algorithm, nullptr, 0);
    if (!BCRYPT_SUCCESS(p.status))
        p.handle = nullptr;
    return p;
}

// Opened once and kept for the process: opening costs far more than a
// digest, and one handle serves every thread.
const Provider& provider(DigestKind kind)
{
    static const Provider opened[DIGEST_KINDS] = {open_provider(BCRYPT_MD5_ALGORITHM),
                                                  open_provider(BCRYPT_SHA1_ALGORITHM),
                                                  open_provider(BCRYPT_SHA256_ALGORITHM)};
    return opened[kind];
}

void report(DigestKind kind, const char* step, NTSTATUS status)
{
    cli_error("cannot compute %s: CNG's %s failed (status 0x%08lX)", DIGEST_NAME[kind], step,
              static_cast<unsigned long>(status));
}

} // namespace

void* digest_context_new(DigestKind kind)
{
    const Provider& p = provider(kind);
    if (!p.handle) {
        report(kind, "BCryptOpenAlgorithmProvider", p.status);
        return nullptr;
    }
    // No object buffer: CNG allocates the hash's state itself (Windows 7 on).
    BCRYPT_HASH_HANDLE hash = nullptr;
    NTSTATUS status = BCryptCreateHash(p.handle, &hash, nullptr, 0, nullptr, 0, 0);
    if (!BCRYPT_SUCCESS(status)) {
        report(kind, "BCryptCreateHash", status);
        return nullptr;
    }
    return hash;
}

int digest_context_add(void* context, DigestKind kind, const uint8_t* data, size_t length)
{
    // length is at most DIGEST_SLICE, within the ULONG CNG takes.
    NTSTATUS status = BCryptHashData(context, const_cast<PUCHAR>(data), ULONG(length), 0);
    if (!BCRYPT_SUCCESS(status)) {
        report(kind, "BCryptHashData", status);
        return -1;
    }
    return 0;
}

int digest_context_end(void* context, DigestKind kind, uint8_t* digest)
{
    NTSTATUS status = BCryptFinishHash(context, digest, ULONG(DIGEST_BYTES[kind]), 0);
    if (!BCRYPT_SUCCESS(status)) {
        report(kind, "BCryptFinishHash", status);
        return -1;
    }
    return 0;
}

void digest_context_free(void* context) { BCryptDestroyHash(context); }
