#include "image/external_image.h"

#include <cstdlib>

#include "platform/failure.h"

namespace {

struct ExternalImage {
    TSK_IMG_INFO info;  // first: sleuthkit sees only this
    void* context;
    ExternalImageCalls calls;
};

ssize_t external_read(TSK_IMG_INFO* info, TSK_OFF_T offset, char* out, size_t length)
{
    ExternalImage* e = reinterpret_cast<ExternalImage*>(info);
    if (offset < 0 || offset >= info->size)
        return -1;
    if (uint64_t(length) > uint64_t(info->size - offset))
        length = size_t(info->size - offset);
    return ssize_t(e->calls.read(e->context, uint64_t(offset), out, length));
}

void external_close(TSK_IMG_INFO* info)
{
    ExternalImage* e = reinterpret_cast<ExternalImage*>(info);
    e->calls.close(e->context);
    std::free(e);
}

void external_stat(TSK_IMG_INFO*, FILE*) {}

} // namespace

TSK_IMG_INFO* external_image_open(void* context, uint64_t size, const ExternalImageCalls& calls)
{
    // sleuthkit takes the record and frees it through external_close.
    ExternalImage* e = static_cast<ExternalImage*>(std::calloc(1, sizeof(ExternalImage)));
    if (!e) {
        calls.close(context);
        fail("out of memory");
        return nullptr;
    }
    e->context = context;
    e->calls = calls;
    TSK_IMG_INFO* info = tsk_img_open_external(e, TSK_OFF_T(size), 512, external_read, external_close, external_stat);
    if (!info) {
        tsk_error_reset();
        external_close(&e->info);
        fail("cannot be handed to sleuthkit");
    }
    return info;
}
