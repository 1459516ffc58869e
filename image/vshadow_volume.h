#pragma once
// Volume shadow copies of an NTFS volume, read through libvshadow: each
// store is the volume as it was when the copy was made, handed to sleuthkit
// as an image of its own so that its file system is walked like the live one.
#include <tsk/libtsk.h>

#include <cstdint>
#include <string>
#include <vector>

struct ShadowStore {
    TSK_IMG_INFO* img;  // the store's bytes; close with tsk_img_close
    std::string label;  // "vss1 2026-01-02T03:04:05Z": its number (oldest 1) and creation time
};

// The stores of the volume that lies at [offset, offset + size) of img, in
// the order libvshadow numbers them, appended to *out. A volume without
// shadow-copy data gives none. Damaged shadow-copy data (of the volume, or
// of one store) is recorded in *problems and whatever stores can be read are
// still given. The stores read through img: it must outlive them.
void vshadow_volume_stores(TSK_IMG_INFO* img, uint64_t offset, uint64_t size, std::vector<ShadowStore>* out,
                           std::vector<std::string>* problems);
