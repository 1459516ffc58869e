#pragma once
// Disk images named on the command line: each opened once, its caches found
// and named by a label that stands in the cache column of every output
// ("IMAGE@OFFSET:/fs/path", and " (deleted, inode N)" for a deleted file, so
// that live and deleted versions never share a name).
#include <string>
#include <vector>

#include "image/disk_image.h"
#include "image/image_set.h"
#include "platform/source.h"
#include "store/search/search_index.h"
#include "store/stream_names.h"

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

// The open image a label's cache lies in, or null for any other path.
DiskImage* cli_image_disk(const std::string& label);

// The file's bytes, and its index's where it has one; 0, or -1.
int cli_image_source(const std::string& label, Source* out);
int cli_image_index_source(const std::string& label, Source* out);

// Names for the streams of the loaded Thumbs.db behind a label: its catalog
// and its directory in the image (deleted names too), never a folder of
// this machine; finished.
void cli_image_stream_names(const std::string& label, StreamNames* names);

// Reads the Windows Search database of every volume of the open images
// that holds a cache (once per image); each one that cannot be read is
// reported. 0, or -1 when one could not be read.
int cli_images_read_search_indexes();

// The Windows Search database of the volume that holds the label's cache;
// null where there is none (or it was not read).
const SearchIndex* cli_image_search_index(const std::string& label);

// The Windows Search database of an image's volume (by its number), where
// one was read; null otherwise.
const SearchIndex* cli_image_volume_search_index(const std::string& image, int32_t volume);

// Whether an input was a disk image: the origin columns are then shown.
bool cli_images_named();

// The files of the images read (every segment), for the case manifest.
std::vector<std::string> cli_image_paths();

// What --verify-image found of one image.
struct ImageCheck {
    std::string image;
    std::string result;  // "match", "mismatch", "none stored", "unreadable", "not an E01"
    std::string stored_md5, media_md5;
};

// Checks every E01 among the images read against the MD5 it stores (its
// whole media is read), each result said on standard error. 0, or -1 when
// one does not match or cannot be read to the end.
int cli_images_verify(std::vector<ImageCheck>* out);

// The caches of labels as the list draws them: every Explorer cache file, or
// where there is none the first Thumbs.db (what else the labels hold is said on
// standard error, with "list" to see it all).
std::vector<ResolvedCache> cli_image_list_caches(const std::vector<std::string>& labels, const char* command);

// Closes every image (at the end of a command).
void cli_images_close();
