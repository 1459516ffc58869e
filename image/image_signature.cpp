// What marks a file as a disk image before any library reads it.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "image/disk_image.h"
#include "platform/system.h"

int disk_image_signature(const char* path)
{
    if (!path || sys_is_directory(path))
        return 0;
    std::FILE* f = sys_fopen(path, "rb");
    if (!f)
        return 0;
    uint8_t head[512] = {};
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    static const char* const signatures[] = {"EVF\x09\x0d\x0a\xff", "vhdxfile", "conectix", "KDMV",
                                             "# Disk DescriptorFile", "QFI\xfb"};
    for (const char* s : signatures)
        if (got >= std::strlen(s) && std::memcmp(head, s, std::strlen(s)) == 0)
            return 1;
    return 0;
}
