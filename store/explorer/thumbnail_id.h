#pragma once
// The ThumbnailCacheId Explorer files a file's thumbnails under (the hash of
// every record of thumbcache_*.db and of the Windows Search index's
// System.ThumbnailCacheId), computed from what the file system holds: the
// volume GUID, the NTFS file reference, the extension and the last-write
// time, mixed as the stream names are (thumbnail_id_mix).
#include <cstddef>
#include <cstdint>

constexpr uint64_t THUMBNAIL_ID_SEED = 0x95E729BA2C37FD21;

// Two releases hash the time differently; which one wrote a cache is not
// recorded, so both are tried.
enum ThumbnailIdForm : int32_t {
    // Windows 8.1 and later: the time rounded up to 2 s, then a correction
    // word (the rounded instant's low 32 bits minus the real one's) when it
    // is not 0.
    THUMBNAIL_ID_WINDOWS_8,
    // Windows 7: the DOS time as the clock gives it (truncated to 2 s), no
    // correction word.
    THUMBNAIL_ID_WINDOWS_7,
};

// "Windows 8.1+", "Windows 7".
const char* thumbnail_id_form_text(ThumbnailIdForm form);

// A volume GUID in memory (struct) order: Data1, Data2, Data3 little-endian,
// then the eight bytes of Data4 as written.
struct VolumeGuid {
    uint8_t bytes[16];
};

// "{6924D67C-D058-4337-8E3E-954A5CC57C23}", braces optional, any letter
// case; 0, or -1 for anything else.
int volume_guid_parse(const char* text, VolumeGuid* out);

// The GUID as "{6924D67C-D058-4337-8E3E-954A5CC57C23}"; out holds 39 bytes.
void volume_guid_text(const VolumeGuid& guid, char out[39]);

// The file's id in the form; 0, or -1 when its time has no DOS date/time
// (before 1980 or after 2107), so that no id can be computed.
// file_reference is the MFT record number | sequence number << 48; the
// extension is UTF-16 with its dot, as spelled (empty for none).
int thumbnail_id(ThumbnailIdForm form, const VolumeGuid& volume, uint64_t file_reference, const uint16_t* extension,
                 size_t extension_units, uint64_t last_write_filetime, uint64_t* id);
