#pragma once
// An image sleuthkit reads through calls of ours (a QCOW file through
// libqcow, a shadow-copy store through libvshadow). sleuthkit takes such an
// image as a record that begins with its own image record; that layout
// changed after sleuthkit 4.13 and lives in external_image.cpp alone.
#include <tsk/libtsk.h>

#include <cstddef>
#include <cstdint>

struct ExternalImageCalls {
    // Reads length bytes at offset, both within the image; bytes read or -1.
    int64_t (*read)(void* context, uint64_t offset, char* out, size_t length);
    // Lets go of the context.
    void (*close)(void* context);
};

// The image of size bytes read through calls; closed with tsk_img_close,
// which closes the context. Null with the reason in failure_last() ("out of
// memory", "cannot be handed to sleuthkit"); the context is closed then too.
TSK_IMG_INFO* external_image_open(void* context, uint64_t size, const ExternalImageCalls& calls);
