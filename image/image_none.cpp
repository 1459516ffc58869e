// Builds without the disk-image libraries (the Windows executables): images
// are recognised by nothing, and asking for one says so.
#include "image/disk_image.h"

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

std::vector<std::string> disk_image_files(const DiskImage*) { return {}; }

void disk_image_close(DiskImage*) {}
