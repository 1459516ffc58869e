#pragma once
// Names for Explorer's cache records from an NTFS volume's MFT: every file
// record, allocated or deleted while its record survives, gives the
// ThumbnailCacheId its thumbnail would be filed under (thumbnail_id.h), in
// both forms, so that a record's hash is looked up and its file's path
// found without any search index. And where the volume GUID comes from: the
// SYSTEM hive's MountedDevices values, matched to the image's partitions.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "image/disk_image.h"
#include "store/explorer/thumbnail_id.h"

// One file of the volume as its MFT record holds it.
struct MftFile {
    uint64_t reference;             // record number | sequence number << 48
    uint64_t last_write;            // $STANDARD_INFORMATION, FILETIME
    bool deleted;                   // the record's in-use flag is clear
    std::string path;               // "/Users/a/x.jpg"; "/$OrphanFiles/x.jpg" where a folder is gone
    std::vector<std::u16string> extensions;  // of each $FILE_NAME (long and short names), distinct
};

struct MftName {
    uint64_t id;
    uint32_t file;          // into MftNames::files
    ThumbnailIdForm form;
};

// The ids of a volume's files, sorted for mft_names_find.
struct MftNames {
    VolumeGuid volume{};
    std::vector<MftFile> files;
    std::vector<MftName> by_id;
    int64_t without_time = 0;  // files whose time has no DOS form: no id
};

// Whether the volume's file system is NTFS.
bool disk_image_volume_ntfs(DiskImage* image, int32_t volume);

// Every file record of the volume's MFT into *out (files only: folders'
// ids are not known). 0; -1 when the volume is not NTFS or its MFT cannot
// be walked (failure_last()).
int mft_files_read(DiskImage* image, int32_t volume, std::vector<MftFile>* out);

// The ids of names->files under names->volume, both forms, sorted.
void mft_names_index(MftNames* names);

// The first name of the id (a binary search), or null. Where two files give
// one id (a chance of 2^-64 per pair) the next entries hold the others.
const MftName* mft_names_find(const MftNames& names, uint64_t id);

// A volume as a MountedDevices value places it.
struct MountedVolume {
    bool gpt = false;
    uint32_t disk_signature = 0;   // MBR: the disk's signature (bytes 440..443 of its first sector)
    uint64_t offset = 0;           // MBR: the partition's byte offset on the disk
    uint8_t partition_guid[16]{};  // GPT: the partition's GUID, as stored in its table entry
};

// A "\??\Volume{GUID}" value name's GUID; 0, or -1 for other names (drive
// letters "\DosDevices\C:" among them).
int mounted_devices_volume_name(const char* name, VolumeGuid* out);

// A value's bytes: 12 (MBR signature and offset) or "DMIO:ID:" and a GPT
// partition GUID (24); 0, or -1 for other forms (removable devices' paths).
int mounted_devices_value(const uint8_t* data, size_t length, MountedVolume* out);

// Where the image's volumes lie, to match MountedDevices values against:
// the MBR disk signature, or each GPT partition's GUID by its offset.
struct DiskLayout {
    bool gpt = false;
    uint32_t disk_signature = 0;
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> gpt_partitions;  // byte offset, GUID (16 bytes)
};

// Whether the value names the volume at this offset of a disk laid out so.
bool mounted_volume_matches(const MountedVolume& v, const DiskLayout& layout, uint64_t offset);

// The image's disk signature or GPT partition GUIDs; 0, or -1 (no table).
int disk_image_layout(DiskImage* image, DiskLayout* out);

// The bytes of /Windows/System32/config/SYSTEM of an NTFS volume (at most
// 512 MiB); 0, or -1 where there is none.
int disk_image_system_hive(DiskImage* image, int32_t volume, std::vector<uint8_t>* out);

// The volume GUIDs a SYSTEM hive's MountedDevices gives the volumes of this
// disk: for each volume offset of the image found in it, its GUID. The hive
// is read with libregf; 0 (possibly none found), or -1 when it cannot be read.
struct VolumeGuidAt {
    uint64_t offset;
    VolumeGuid guid;
};
int mounted_devices_read(const std::vector<uint8_t>& hive, const DiskLayout& layout,
                         const std::vector<uint64_t>& offsets, std::vector<VolumeGuidAt>* out);
