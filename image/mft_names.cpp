#include "image/mft_names.h"

#include <algorithm>
#include <cstring>

void mft_names_index(MftNames* names)
{
    names->by_id.clear();
    names->without_time = 0;
    names->by_id.reserve(names->files.size() * 2);
    for (size_t f = 0; f < names->files.size(); ++f) {
        const MftFile& file = names->files[f];
        bool timed = false;
        for (const ThumbnailIdForm form : {THUMBNAIL_ID_WINDOWS_8, THUMBNAIL_ID_WINDOWS_7}) {
            for (const std::u16string& ext : file.extensions) {
                uint64_t id;
                if (thumbnail_id(form, names->volume, file.reference, reinterpret_cast<const uint16_t*>(ext.data()),
                                 ext.size(), file.last_write, &id) != 0)
                    continue;
                timed = true;
                names->by_id.push_back({id, uint32_t(f), form});
            }
        }
        if (!timed)
            ++names->without_time;
    }
    std::sort(names->by_id.begin(), names->by_id.end(), [](const MftName& a, const MftName& b) {
        return a.id != b.id ? a.id < b.id : a.file < b.file;
    });
}

const MftName* mft_names_find(const MftNames& names, uint64_t id)
{
    const auto at = std::lower_bound(names.by_id.begin(), names.by_id.end(), id,
                                     [](const MftName& n, uint64_t key) { return n.id < key; });
    return at != names.by_id.end() && at->id == id ? &*at : nullptr;
}

int mounted_devices_volume_name(const char* name, VolumeGuid* out)
{
    static const char prefix[] = "\\??\\Volume";
    if (!name || std::strncmp(name, prefix, sizeof prefix - 1) != 0)
        return -1;
    const char* guid = name + sizeof prefix - 1;
    return guid[0] == '{' && volume_guid_parse(guid, out) == 0 ? 0 : -1;
}

int mounted_devices_value(const uint8_t* data, size_t length, MountedVolume* out)
{
    *out = MountedVolume{};
    static const char gpt_prefix[] = "DMIO:ID:";
    if (length == 12) {
        out->disk_signature = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                              uint32_t(data[3]) << 24;
        for (int i = 0; i < 8; ++i)
            out->offset |= uint64_t(data[4 + i]) << (8 * i);
        return 0;
    }
    if (length == 24 && std::memcmp(data, gpt_prefix, 8) == 0) {
        out->gpt = true;
        std::memcpy(out->partition_guid, data + 8, 16);
        return 0;
    }
    return -1;
}

bool mounted_volume_matches(const MountedVolume& v, const DiskLayout& layout, uint64_t offset)
{
    if (v.gpt != layout.gpt)
        return false;
    if (!v.gpt)
        return v.disk_signature == layout.disk_signature && v.offset == offset;
    for (const auto& p : layout.gpt_partitions)
        if (p.first == offset && p.second.size() == 16 && std::memcmp(p.second.data(), v.partition_guid, 16) == 0)
            return true;
    return false;
}
