#pragma once
// QCOW images read through libqcow and handed to sleuthkit as an image of
// its own: the library sleuthkit is built with would read them as raw bytes
// without a word.
#include <tsk/libtsk.h>

// The image behind a QCOW file (any version libqcow reads); null with the
// reason in failure_last(). Close with tsk_img_close.
TSK_IMG_INFO* qcow_image_open(const char* path);
