// A QCOW file as a sleuthkit image: sleuthkit reads a caller's image through
// a record that begins with its own image record, and the read and close
// calls given with it. This layout changed after sleuthkit 4.13; it lives in
// this file alone.
#include "image/qcow_image.h"

#include <libqcow.h>

#include <cstdlib>

#include "platform/failure.h"

namespace {

struct QcowImage {
    TSK_IMG_INFO info;  // first: sleuthkit sees only this
    libqcow_file_t* file;
};

ssize_t qcow_read(TSK_IMG_INFO* info, TSK_OFF_T offset, char* out, size_t length)
{
    QcowImage* q = reinterpret_cast<QcowImage*>(info);
    if (offset < 0 || offset >= info->size)
        return -1;
    if (uint64_t(length) > uint64_t(info->size - offset))
        length = size_t(info->size - offset);
    return libqcow_file_read_buffer_at_offset(q->file, out, length, offset, nullptr);
}

void qcow_close(TSK_IMG_INFO* info)
{
    QcowImage* q = reinterpret_cast<QcowImage*>(info);
    libqcow_file_close(q->file, nullptr);
    libqcow_file_free(&q->file, nullptr);
    std::free(q);
}

void qcow_stat(TSK_IMG_INFO*, FILE*) {}

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
    // sleuthkit takes the record and frees it through qcow_close.
    QcowImage* q = static_cast<QcowImage*>(std::calloc(1, sizeof(QcowImage)));
    if (!q) {
        libqcow_file_close(file, nullptr);
        libqcow_file_free(&file, nullptr);
        fail("out of memory");
        return nullptr;
    }
    q->file = file;
    TSK_IMG_INFO* info = tsk_img_open_external(q, TSK_OFF_T(size), 512, qcow_read, qcow_close, qcow_stat);
    if (!info) {
        qcow_close(&q->info);
        fail("QCOW image cannot be handed to sleuthkit");
    }
    return info;
}
