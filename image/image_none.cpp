// Builds without the disk-image libraries (the Windows executables): images
// are recognised by nothing, and asking for one says so.
#include "image/disk_image.h"
#include "image/mft_names.h"

#include "platform/failure.h"

bool disk_image_supported() { return false; }

// Known by its signature alone, so that the user hears why an image gives
// nothing.
int disk_image_probe(const char* path) { return disk_image_signature(path); }

int disk_image_open(const char*, DiskImage** out, std::vector<std::string>*)
{
    *out = nullptr;
    return fail("disk images are not read by this build");
}

void disk_image_find_caches(DiskImage*, std::vector<ImageCacheFile>*, std::vector<std::string>*) {}

void disk_image_carve(DiskImage*, std::vector<ImageCacheFile>*, std::vector<std::string>*) {}

int disk_image_open_file(DiskImage*, const ImageCacheFile&, Source* out)
{
    *out = Source{};
    return -1;
}

void disk_image_folder_names(DiskImage*, const ImageCacheFile&, std::vector<ExtraName>*) {}

int disk_image_copy_search_index(DiskImage*, int32_t, const std::string&, std::string*, std::string*) { return -1; }

int disk_image_e01_media(const char*, uint8_t*, int (*)(void*, const uint8_t*, size_t), void*)
{
    return fail("disk images are not read by this build");
}

std::vector<std::string> disk_image_files(const DiskImage*) { return {}; }

void disk_image_close(DiskImage*) {}

int32_t disk_image_volume_count(const DiskImage*) { return 0; }

uint64_t disk_image_volume_offset(const DiskImage*, int32_t) { return 0; }

bool disk_image_volume_ntfs(DiskImage*, int32_t) { return false; }

int mft_files_read(DiskImage*, int32_t, std::vector<MftFile>* out)
{
    out->clear();
    return fail("disk images are not read by this build");
}

int disk_image_layout(DiskImage*, DiskLayout* out)
{
    *out = DiskLayout{};
    return fail("disk images are not read by this build");
}

int disk_image_system_hive(DiskImage*, int32_t, std::vector<uint8_t>* out)
{
    out->clear();
    return -1;
}

int mounted_devices_read(const std::vector<uint8_t>&, const DiskLayout&, const std::vector<uint64_t>&,
                         std::vector<VolumeGuidAt>* out)
{
    out->clear();
    return fail("registry hives are not read by this build");
}
