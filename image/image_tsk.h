#pragma once
// For the readers of an open image's file systems kept beside image_tsk.cpp.
#include <tsk/libtsk.h>

#include <cstdint>
#include <mutex>

#include "image/disk_image.h"

// The file system of one of the image's volumes, or null; every call into
// it is made holding *lock.
TSK_FS_INFO* disk_image_fs(DiskImage* image, int32_t volume, std::mutex** lock);
