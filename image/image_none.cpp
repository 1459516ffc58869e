// Builds without the disk-image libraries (the Windows executables): images
// are recognised by nothing, and asking for one says so.
#include "image/disk_image.h"

#include <cstdio>
#include <cstring>

#include "platform/failure.h"
#include "platform/system.h"

bool disk_image_supported() { return false; }

// Known by the containers' own signatures, and a raw disk by its boot
// sector's, so that the user hears why an image gives nothing.
int disk_image_probe(const char* path)
{
    if (!path || sys_is_directory(path))
        return 0;
    std::FILE* f = sys_fopen(path, "rb");
    if (!f)
        return 0;
    uint8_t head[512] = {};
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    const char* const signatures[] = {"EVF\x09\x0d\x0a\xff", "vhdxfile", "conectix", "KDMV", "# Disk DescriptorFile",
                                      "QFI\xfb"};
    for (const char* s : signatures)
        if (got >= std::strlen(s) && std::memcmp(head, s, std::strlen(s)) == 0)
            return 1;
    return got == 512 && head[510] == 0x55 && head[511] == 0xAA;
}

int disk_image_open(const char*, DiskImage** out, std::vector<std::string>*)
{
    *out = nullptr;
    return fail("disk images are not read by this build");
}

void disk_image_find_caches(DiskImage*, std::vector<ImageCacheFile>*, std::vector<std::string>*) {}

int disk_image_open_file(DiskImage*, const ImageCacheFile&, Source* out)
{
    *out = Source{};
    return -1;
}

void disk_image_close(DiskImage*) {}
