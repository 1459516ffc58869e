#pragma once
// Disk images as evidence: raw (also split), E01, VHD, VHDX, VMDK and QCOW2,
// known by their content. Every file system of every partition is walked,
// allocated and deleted names alike, for the files that hold thumbnail
// caches; each is read as a Source through the file system, in bounded
// reads, never by reading the image whole. Nothing is ever written to an
// image or beside it.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/source.h"
#include "store/stream_names.h"

struct DiskImage;  // an open image, its volumes and their file systems

// Where a cache file lies inside an image. Plain values, so that every row
// read from the file can carry them.
struct ImageOrigin {
    std::string image;             // the image file as named
    uint64_t partition_offset = 0; // bytes from the image's start
    std::string partition_type;    // the volume system's description, or "none"
    std::string store = "-";       // a shadow-copy store, "-" for the volume itself
    std::string fs_type;           // "ntfs", "fat16", "exfat", "ext4", ...
    std::string fs_path;           // "/Users/a/Pictures/Thumbs.db"
    std::string inode;             // the file's inode or MFT reference ("518", "64-1")
    std::string state;             // "allocated", "deleted" or "carved"
    // A carved find's byte offset in the volume, -1 for a file; in the image
    // it lies at partition_offset + carved_at.
    int64_t carved_at = -1;
};

enum ImageCacheKind {
    IMAGE_CACHE_THUMBS_DB,  // Thumbs.db, ehthumbs*.db: a compound file
    IMAGE_CACHE_EXPLORER,   // thumbcache_*.db, iconcache_*.db
    IMAGE_CACHE_INDEX,      // *_idx.db, thm*.tmp
};

struct ImageCacheFile {
    ImageOrigin origin;
    ImageCacheKind kind;
    uint64_t size;
    int32_t volume;       // which of the image's file systems
    uint64_t meta;        // the file's metadata address there
    int32_t index = -1;   // an Explorer cache file's index beside it (in the same list), -1 none
    uint32_t carved_version = 0;  // a carved record's layout (20, 21, 32); 0 otherwise
};

// Whether path names a disk image: it starts with an image container's
// signature (E01, VHD, VHDX, VMDK, QCOW), or, its content not a cache's, a
// volume system or a file system is found in it. 1 yes, 0 no.
int disk_image_probe(const char* path);

// The container a file's signature names; NONE for anything else (a raw
// image among it).
enum ImageContainer {
    IMAGE_CONTAINER_NONE,
    IMAGE_CONTAINER_E01,
    IMAGE_CONTAINER_VHD,
    IMAGE_CONTAINER_VHDX,
    IMAGE_CONTAINER_VMDK,
    IMAGE_CONTAINER_QCOW,
};
ImageContainer disk_image_container(const char* path);

// Whether the file has an image container's signature; 1 or 0.
int disk_image_signature(const char* path);

// Opens the image and every file system in it; 0, or -1 with the reason in
// failure_last(). A volume that cannot be read is recorded in *problems
// and the rest are opened.
int disk_image_open(const char* path, DiskImage** out, std::vector<std::string>* problems);

// Every cache file of every file system, by name and confirmed by content:
// volume by volume, in path order, allocated before deleted. Files named
// like a cache whose bytes are not one are recorded in *problems.
void disk_image_find_caches(DiskImage* image, std::vector<ImageCacheFile>* out, std::vector<std::string>* problems);

// With --carve: the thumbcache records (header checksum matching) and
// Thumbs.db files (compound files holding a Catalog, read as contiguous)
// found in each volume's unallocated space, appended with state "carved";
// compound files that fail the reader's checks are recorded in *problems as
// partial finds.
void disk_image_carve(DiskImage* image, std::vector<ImageCacheFile>* out, std::vector<std::string>* problems);

// The file's bytes as a source (reads go through the file system); the
// image must stay open while the source is. 0, or -1.
int disk_image_open_file(DiskImage* image, const ImageCacheFile& file, Source* out);

// The names of the directory that holds the cache file, in its file system:
// allocated ones as NAME_SOURCE_FOLDER, deleted ones as
// NAME_SOURCE_FOLDER_DELETED (never a folder of this machine's). Nothing
// where the directory cannot be found.
void disk_image_folder_names(DiskImage* image, const ImageCacheFile& file, std::vector<ExtraName>* out);

// The volume's own Windows Search database (Windows.edb or Windows.db where
// Windows keeps it; an allocated one before a deleted one), copied with its
// write-ahead log into folder, for the readers that need a path: 0 with
// the copy's path and where it lay ("/ProgramData/.../Windows.db",
// " (deleted)" after it), -1 when there is none or it cannot be copied.
int disk_image_copy_search_index(DiskImage* image, int32_t volume, const std::string& folder, std::string* copy,
                                 std::string* where);

// An E01's check of itself: its media bytes, every one in order, given to
// feed (0 to go on, -1 to stop), and the MD5 the acquiring tool stored. 1
// with that MD5 in stored_md5, 0 when the image stores none, -1 when the
// file is no E01 or its media cannot be read to the end (reason in
// failure_last()).
int disk_image_e01_media(const char* path, uint8_t stored_md5[16], int (*feed)(void*, const uint8_t*, size_t),
                         void* context);

// The files the image is made of (every segment of a split raw or E01
// image), for the case manifest.
std::vector<std::string> disk_image_files(const DiskImage* image);

// The file systems opened (the volume numbers of ImageCacheFile), and where
// each lies in the image, in bytes.
int32_t disk_image_volume_count(const DiskImage* image);
uint64_t disk_image_volume_offset(const DiskImage* image, int32_t volume);

// Closes the image and its file systems; null is allowed.
void disk_image_close(DiskImage* image);

// False where this build reads no disk images.
bool disk_image_supported();
