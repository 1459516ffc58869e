// What marks a file as a disk image before any library reads it.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "image/disk_image.h"
#include "platform/system.h"

namespace {

bool starts(const uint8_t* bytes, size_t length, const char* signature)
{
    const size_t n = std::strlen(signature);
    return length >= n && std::memcmp(bytes, signature, n) == 0;
}

} // namespace

ImageContainer disk_image_container(const char* path)
{
    if (!path || sys_is_directory(path))
        return IMAGE_CONTAINER_NONE;
    std::FILE* f = sys_fopen(path, "rb");
    if (!f)
        return IMAGE_CONTAINER_NONE;
    uint8_t head[512] = {}, tail[512] = {};
    const size_t got = std::fread(head, 1, sizeof head, f);
    size_t tail_got = 0;
    // A fixed VHD keeps its footer, and nothing else, at the end.
    if (std::fseek(f, -512, SEEK_END) == 0)
        tail_got = std::fread(tail, 1, sizeof tail, f);
    std::fclose(f);
    if (starts(head, got, "EVF\x09\x0d\x0a\xff"))
        return IMAGE_CONTAINER_E01;
    if (starts(head, got, "vhdxfile"))
        return IMAGE_CONTAINER_VHDX;
    if (starts(head, got, "conectix") || starts(tail, tail_got, "conectix"))
        return IMAGE_CONTAINER_VHD;
    if (starts(head, got, "KDMV") || starts(head, got, "# Disk DescriptorFile"))
        return IMAGE_CONTAINER_VMDK;
    if (starts(head, got, "QFI\xfb"))
        return IMAGE_CONTAINER_QCOW;
    return IMAGE_CONTAINER_NONE;
}

int disk_image_signature(const char* path) { return disk_image_container(path) != IMAGE_CONTAINER_NONE; }
