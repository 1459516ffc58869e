// A QCOW file as a sleuthkit image, read through libqcow.
#include "image/qcow_image.h"

#include <libqcow.h>

#include <cstring>

#include "image/external_image.h"
#include "platform/failure.h"

namespace {

int64_t qcow_read(void* file, uint64_t offset, char* out, size_t length)
{
    return libqcow_file_read_buffer_at_offset(static_cast<libqcow_file_t*>(file), out, length, off64_t(offset),
                                              nullptr);
}

void qcow_close(void* context)
{
    libqcow_file_t* file = static_cast<libqcow_file_t*>(context);
    libqcow_file_close(file, nullptr);
    libqcow_file_free(&file, nullptr);
}

} // namespace

TSK_IMG_INFO* qcow_image_open(const char* path)
{
    libqcow_file_t* file = nullptr;
    if (libqcow_file_initialize(&file, nullptr) != 1) {
        fail("out of memory");
        return nullptr;
    }
    size64_t size = 0;
    if (libqcow_file_open(file, path, LIBQCOW_OPEN_READ, nullptr) != 1) {
        libqcow_file_free(&file, nullptr);
        failure_concerns(path);
        fail("QCOW image cannot be opened");
        return nullptr;
    }
    if (libqcow_file_get_media_size(file, &size, nullptr) != 1 || size > uint64_t(INT64_MAX)) {
        libqcow_file_close(file, nullptr);
        libqcow_file_free(&file, nullptr);
        failure_concerns(path);
        fail("QCOW image has no size we can read");
        return nullptr;
    }
    TSK_IMG_INFO* info = external_image_open(file, size, ExternalImageCalls{qcow_read, qcow_close});
    if (!info && std::strcmp(failure_last().reason, "out of memory") != 0)
        fail("QCOW image cannot be handed to sleuthkit");
    return info;
}
