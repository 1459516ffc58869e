#pragma once
// sleuthkit's handles behind a DiskImage, for the readers beside
// image_tsk.cpp that walk more than the caches (the MFT, a directory's
// names). Every use holds the image's lock.
#include <tsk/libtsk.h>

#include <cstdint>
#include <mutex>

#include "image/disk_image.h"

struct DiskImageVolume {
    TSK_FS_INFO* fs;
    uint64_t offset;
};

// The volume's file system and offset, or fs null for no such volume.
DiskImageVolume disk_image_volume(DiskImage* image, int32_t volume);
TSK_IMG_INFO* disk_image_img(DiskImage* image);
std::mutex& disk_image_lock(DiskImage* image);
// The file system of one of the image's volumes, or null; every call into
// it is made holding *lock.
TSK_FS_INFO* disk_image_fs(DiskImage* image, int32_t volume, std::mutex** lock);
