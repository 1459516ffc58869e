#pragma once
// The disk images a command or the viewer opened, each once, and the caches
// found in them, each under a label that stands in the cache column of every
// output ("IMAGE@OFFSET:/fs/path", and " (deleted, inode N)" for a deleted
// file, so that live and deleted versions never share a name). Nothing here
// reports: what went wrong comes back as lines for the caller to show.
#include <string>
#include <vector>

#include "image/disk_image.h"
#include "platform/source.h"
#include "store/file_list.h"
#include "store/resolve.h"
#include "store/stream_names.h"

// What image_set_add made of a path.
enum ImageSetResult {
    IMAGE_SET_NOT_ONE,       // not a disk image: resolve it as a cache or folder
    IMAGE_SET_READ,          // its caches' labels appended
    IMAGE_SET_PARTLY_READ,   // ... but a volume or a file could not be read (in *problems)
    IMAGE_SET_UNREADABLE,    // an image that cannot be opened (in *problems)
    IMAGE_SET_UNSUPPORTED,   // an image, and this build reads none (in *problems)
};

// Opens the image at path (once, however often it is named) and appends the
// labels of its caches; with carve, the records and Thumbs.db files found in
// each volume's unallocated space follow its files
// ("IMAGE@OFFSET:carved@VOLUME_OFFSET").
ImageSetResult image_set_add(const std::string& path, bool carve, std::vector<std::string>* labels,
                             std::vector<std::string>* problems);

// The image's cache file behind a label, or null for any other path.
const ImageCacheFile* image_set_cache(const std::string& label);

// The open image a label's cache lies in, or null for any other path.
DiskImage* image_set_disk(const std::string& label);

// The file's bytes, and its index's where it has one; 0, or -1.
int image_set_source(const std::string& label, Source* out);
int image_set_index_source(const std::string& label, Source* out);

// Names for the streams of the loaded Thumbs.db behind a label: its catalog
// and its directory in the image (deleted names too), never a folder of
// this machine; finished.
void image_set_stream_names(const std::string& label, StreamNames* names);

// The list's way to the bytes of the labels' caches.
const FileListSources* image_set_list_sources();

// The caches of labels as the list shows them: every Explorer cache file,
// as a folder of them opens (folder by folder, in size-bucket order, a live
// file before a deleted one, carved records last), or where there is none
// the first live Thumbs.db (else the first). *left_out: the Thumbs.db files
// not among them.
std::vector<ResolvedCache> image_set_list_caches(const std::vector<std::string>& labels, size_t* left_out);

// The open images, in the order they were added.
struct ImageSetImage {
    std::string path;
    DiskImage* image;
    std::vector<ImageCacheFile> files;
};
const std::vector<ImageSetImage*>& image_set_images();

// Closes every image.
void image_set_close();
