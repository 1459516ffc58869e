#pragma once
// Disk images named on the command line: each opened once, its caches found
// and named by a label that stands in the cache column of every output
// ("IMAGE@OFFSET:/fs/path", and " (deleted, inode N)" for a deleted file, so
// that live and deleted versions never share a name).
#include <string>
#include <vector>

#include "image/disk_image.h"
#include "platform/source.h"

// What cli_images_add made of a path.
enum CliImageResult {
    CLI_IMAGE_NOT_ONE,       // not a disk image: resolve it as a cache or folder
    CLI_IMAGE_READ,          // its caches' labels appended
    CLI_IMAGE_PARTLY_READ,   // ... but a volume or a file could not be read (reported)
    CLI_IMAGE_UNREADABLE,    // an image that cannot be opened (reported)
    CLI_IMAGE_UNSUPPORTED,   // an image, and this build reads none (reported)
};

// With carve, the records and Thumbs.db files found in each volume's
// unallocated space follow its files ("IMAGE@OFFSET:carved@VOLUME_OFFSET").
CliImageResult cli_images_add(const std::string& path, std::vector<std::string>* caches, bool carve = false);

// Whether any of the paths is a disk image this build cannot read (each
// reported): the command then stops with exit 2 before it writes anything.
bool cli_images_refused(const std::vector<std::string>& paths);

// The image's cache file behind a label, or null for any other path.
const ImageCacheFile* cli_image_cache(const std::string& label);

// The file's bytes, and its index's where it has one; 0, or -1.
int cli_image_source(const std::string& label, Source* out);
int cli_image_index_source(const std::string& label, Source* out);

// Whether an input was a disk image: the origin columns are then shown.
bool cli_images_named();

// The files of the images read (every segment), for the case manifest.
std::vector<std::string> cli_image_paths();

// Closes every image (at the end of a command).
void cli_images_close();
