// The MFT of an NTFS volume through sleuthkit, the disk's partition table
// for its signature or partition GUIDs, and the SYSTEM hive through libregf.
#include <libregf.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "image/image_tsk_access.h"
#include "image/mft_names.h"
#include "platform/failure.h"

namespace {

constexpr uint64_t SECONDS_1601_TO_1970 = 11644473600ull;
// A SYSTEM hive is tens of MB; a larger "hive" is not read into memory.
constexpr uint64_t MAX_HIVE_BYTES = 512ull << 20;
constexpr int MAX_FOLDER_DEPTH = 256;

// One record as the walk finds it; folders kept for the paths.
struct Record {
    uint64_t entry;
    uint32_t seq;
    uint64_t parent;
    uint32_t parent_seq;
    bool folder, deleted, has_name;
    uint64_t last_write;
    std::string name;
    std::vector<std::u16string> extensions;
};

struct MftWalk {
    std::vector<Record> records;
};

std::u16string utf16_of(const std::string& utf8)
{
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        const uint8_t c = uint8_t(utf8[i]);
        uint32_t cp = 0xFFFD;
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
        if (i + n > utf8.size())
            n = 1;
        if (n == 1)
            cp = c < 0x80 ? c : 0xFFFD;
        else {
            cp = c & (0x7F >> n);
            for (size_t k = 1; k < n; ++k)
                cp = cp << 6 | (uint8_t(utf8[i + k]) & 0x3F);
        }
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += char16_t(0xD800 + (cp >> 10));
            out += char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
    }
    return out;
}

// The extension with its dot, "" for a name without one.
std::u16string extension_of(const std::string& name)
{
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? std::u16string() : utf16_of(name.substr(dot));
}

TSK_WALK_RET_ENUM visit(TSK_FS_FILE* file, void* context)
{
    MftWalk* w = static_cast<MftWalk*>(context);
    const TSK_FS_META* m = file->meta;
    if (!m || (m->type != TSK_FS_META_TYPE_REG && m->type != TSK_FS_META_TYPE_DIR))
        return TSK_WALK_CONT;
    Record r{};
    r.entry = uint64_t(m->addr);
    r.seq = m->seq;
    r.folder = m->type == TSK_FS_META_TYPE_DIR;
    r.deleted = (m->flags & TSK_FS_META_FLAG_UNALLOC) != 0;
    // $STANDARD_INFORMATION's time, back to the FILETIME it was.
    if (m->mtime > 0)
        r.last_write = (uint64_t(m->mtime) + SECONDS_1601_TO_1970) * 10000000ull + uint64_t(m->mtime_nano) / 100;
    // The longest name is the long one where a short 8.3 alias stands beside
    // it; every name's extension is tried.
    for (const TSK_FS_META_NAME_LIST* n = m->name2; n; n = n->next) {
        const std::string name = n->name;
        if (name.empty())
            continue;
        if (!r.has_name || name.size() > r.name.size()) {
            r.name = name;
            r.parent = uint64_t(n->par_inode);
            r.parent_seq = n->par_seq;
            r.has_name = true;
        }
        if (!r.folder) {
            std::u16string ext = extension_of(name);
            if (std::find(r.extensions.begin(), r.extensions.end(), ext) == r.extensions.end())
                r.extensions.push_back(std::move(ext));
        }
    }
    if (r.has_name)
        w->records.push_back(std::move(r));
    return TSK_WALK_CONT;
}

std::string tsk_text()
{
    const char* e = tsk_error_get();
    std::string t = e ? e : "unknown error";
    tsk_error_reset();
    std::replace(t.begin(), t.end(), '\n', ' ');
    return t;
}

// The folder's path, from the records' names and parents up to the root;
// memoised, as a volume has far fewer folders than files.
struct Paths {
    const std::vector<Record>* records;
    std::unordered_map<uint64_t, size_t> folder_at;  // entry -> record
    std::unordered_map<uint64_t, std::string> known;
    uint64_t root;

    // Empty where the chain breaks (a folder gone or reused).
    std::string folder(uint64_t entry, uint32_t seq, int depth)
    {
        if (entry == root)
            return "";
        const auto done = known.find(entry << 16 | (seq & 0xFFFF));
        if (done != known.end())
            return done->second;
        const auto at = folder_at.find(entry);
        if (depth > MAX_FOLDER_DEPTH || at == folder_at.end())
            return "\x01";
        const Record& r = (*records)[at->second];
        if ((r.seq & 0xFFFF) != (seq & 0xFFFF))
            return "\x01";
        std::string up = r.parent == entry ? "\x01" : folder(r.parent, r.parent_seq, depth + 1);
        std::string path = up == "\x01" ? up : up + "/" + r.name;
        known.emplace(entry << 16 | (seq & 0xFFFF), path);
        return path;
    }
};

} // namespace

bool disk_image_volume_ntfs(DiskImage* image, int32_t volume)
{
    const DiskImageVolume v = disk_image_volume(image, volume);
    return v.fs && TSK_FS_TYPE_ISNTFS(v.fs->ftype);
}

int mft_files_read(DiskImage* image, int32_t volume, std::vector<MftFile>* out)
{
    out->clear();
    const DiskImageVolume v = disk_image_volume(image, volume);
    if (!v.fs)
        return fail("no such volume");
    if (!TSK_FS_TYPE_ISNTFS(v.fs->ftype))
        return fail("not NTFS");
    MftWalk w;
    {
        std::lock_guard<std::mutex> hold(disk_image_lock(image));
        if (tsk_fs_meta_walk(v.fs, v.fs->first_inum, v.fs->last_inum,
                             TSK_FS_META_FLAG_ENUM(TSK_FS_META_FLAG_ALLOC | TSK_FS_META_FLAG_UNALLOC |
                                                   TSK_FS_META_FLAG_USED),
                             visit, &w) != 0 &&
            w.records.empty())
            return fail("the MFT cannot be walked (%s)", tsk_text().c_str());
        tsk_error_reset();
    }
    Paths paths{&w.records, {}, {}, uint64_t(v.fs->root_inum)};
    for (size_t i = 0; i < w.records.size(); ++i)
        if (w.records[i].folder)
            paths.folder_at.emplace(w.records[i].entry, i);
    for (const Record& r : w.records) {
        if (r.folder)
            continue;
        MftFile f;
        f.reference = (r.entry & 0xFFFFFFFFFFFFull) | uint64_t(r.seq & 0xFFFF) << 48;
        f.last_write = r.last_write;
        f.deleted = r.deleted;
        const std::string folder = paths.folder(r.parent, r.parent_seq, 0);
        f.path = (folder == "\x01" ? std::string("/$OrphanFiles") : folder) + "/" + r.name;
        f.extensions = r.extensions;
        out->push_back(std::move(f));
    }
    return 0;
}

int disk_image_layout(DiskImage* image, DiskLayout* out)
{
    *out = DiskLayout{};
    TSK_IMG_INFO* img = disk_image_img(image);
    std::lock_guard<std::mutex> hold(disk_image_lock(image));
    uint8_t sector[512];
    if (tsk_img_read(img, 0, reinterpret_cast<char*>(sector), sizeof sector) != ssize_t(sizeof sector)) {
        tsk_error_reset();
        return fail("the disk's first sector cannot be read");
    }
    if (sector[510] != 0x55 || sector[511] != 0xAA)
        return fail("no partition table");
    out->disk_signature = uint32_t(sector[440]) | uint32_t(sector[441]) << 8 | uint32_t(sector[442]) << 16 |
                          uint32_t(sector[443]) << 24;
    if (sector[446 + 4] != 0xEE)
        return 0;
    // A protective MBR: the GPT header at the second sector, its entries
    // where it says (512-byte sectors, as images of such disks have).
    uint8_t header[92];
    if (tsk_img_read(img, 512, reinterpret_cast<char*>(header), sizeof header) != ssize_t(sizeof header) ||
        std::memcmp(header, "EFI PART", 8) != 0) {
        tsk_error_reset();
        return fail("no GPT header");
    }
    auto le32 = [](const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; };
    auto le64 = [&](const uint8_t* p) { return uint64_t(le32(p)) | uint64_t(le32(p + 4)) << 32; };
    const uint64_t entries_at = le64(header + 72) * 512;
    const uint32_t count = std::min<uint32_t>(le32(header + 80), 1024), size = le32(header + 84);
    if (size < 56 || size > 4096)
        return fail("GPT entries of %u bytes", size);
    out->gpt = true;
    std::vector<uint8_t> entry(size);
    for (uint32_t i = 0; i < count; ++i) {
        if (tsk_img_read(img, TSK_OFF_T(entries_at + uint64_t(i) * size), reinterpret_cast<char*>(entry.data()), size) !=
            ssize_t(size)) {
            tsk_error_reset();
            break;
        }
        static const uint8_t unused[16] = {};
        if (std::memcmp(entry.data(), unused, 16) == 0)
            continue;
        out->gpt_partitions.push_back({le64(entry.data() + 32) * 512, std::vector<uint8_t>(entry.begin() + 16, entry.begin() + 32)});
    }
    return 0;
}

int disk_image_system_hive(DiskImage* image, int32_t volume, std::vector<uint8_t>* out)
{
    out->clear();
    const DiskImageVolume v = disk_image_volume(image, volume);
    if (!v.fs || !TSK_FS_TYPE_ISNTFS(v.fs->ftype))
        return -1;
    std::lock_guard<std::mutex> hold(disk_image_lock(image));
    TSK_FS_FILE* f = tsk_fs_file_open(v.fs, nullptr, "/Windows/System32/config/SYSTEM");
    if (!f || !f->meta || f->meta->size <= 0 || uint64_t(f->meta->size) > MAX_HIVE_BYTES) {
        tsk_fs_file_close(f);
        tsk_error_reset();
        return -1;
    }
    out->resize(size_t(f->meta->size));
    const ssize_t got = tsk_fs_file_read(f, 0, reinterpret_cast<char*>(out->data()), out->size(), TSK_FS_FILE_READ_FLAG_NONE);
    tsk_fs_file_close(f);
    if (got != ssize_t(out->size())) {
        tsk_error_reset();
        out->clear();
        return -1;
    }
    return 0;
}

int mounted_devices_read(const std::vector<uint8_t>& hive, const DiskLayout& layout,
                         const std::vector<uint64_t>& offsets, std::vector<VolumeGuidAt>* out)
{
    out->clear();
    libbfio_handle_t* io = nullptr;
    libregf_file_t* file = nullptr;
    libregf_key_t* root = nullptr;
    libregf_key_t* key = nullptr;
    int result = -1;
    // libregf reads from a copy of the bytes in memory: nothing is opened
    // or written by name.
    if (libbfio_memory_range_initialize(&io, nullptr) == 1 &&
        libbfio_memory_range_set(io, const_cast<uint8_t*>(hive.data()), hive.size(), nullptr) == 1 &&
        libregf_file_initialize(&file, nullptr) == 1 &&
        libregf_file_open_file_io_handle(file, io, LIBREGF_OPEN_READ, nullptr) == 1 &&
        libregf_file_get_root_key(file, &root, nullptr) == 1) {
        result = 0;
        if (libregf_key_get_sub_key_by_utf8_path(root, reinterpret_cast<const uint8_t*>("MountedDevices"), 14, &key,
                                                 nullptr) == 1) {
            int values = 0;
            libregf_key_get_number_of_values(key, &values, nullptr);
            for (int i = 0; i < values && i < 65536; ++i) {
                libregf_value_t* value = nullptr;
                if (libregf_key_get_value(key, i, &value, nullptr) != 1)
                    continue;
                size_t name_size = 0, data_size = 0;
                std::string name;
                std::vector<uint8_t> data;
                if (libregf_value_get_utf8_name_size(value, &name_size, nullptr) == 1 && name_size > 0 && name_size < 4096) {
                    name.resize(name_size);
                    if (libregf_value_get_utf8_name(value, reinterpret_cast<uint8_t*>(&name[0]), name_size, nullptr) != 1)
                        name.clear();
                    name.resize(std::strlen(name.c_str()));
                }
                if (libregf_value_get_value_data_size(value, &data_size, nullptr) == 1 && data_size > 0 && data_size < 4096) {
                    data.resize(data_size);
                    if (libregf_value_get_value_data(value, data.data(), data_size, nullptr) != 1)
                        data.clear();
                }
                libregf_value_free(&value, nullptr);
                VolumeGuid guid;
                MountedVolume where;
                if (mounted_devices_volume_name(name.c_str(), &guid) != 0 ||
                    mounted_devices_value(data.data(), data.size(), &where) != 0)
                    continue;
                for (const uint64_t offset : offsets)
                    if (mounted_volume_matches(where, layout, offset))
                        out->push_back({offset, guid});
            }
            libregf_key_free(&key, nullptr);
        }
    }
    if (result != 0)
        fail("the SYSTEM hive cannot be read");
    if (root)
        libregf_key_free(&root, nullptr);
    if (file) {
        libregf_file_close(file, nullptr);
        libregf_file_free(&file, nullptr);
    }
    if (io)
        libbfio_handle_free(&io, nullptr);
    return result;
}
