// Disk images through sleuthkit: the image (QCOW through libqcow), its
// volume system, the file system of each volume, and cache files read
// through the file system in bounded reads.
#include <tsk/libtsk.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "image/carve_volume.h"
#include "image/disk_image.h"
#include "image/image_tsk_access.h"
#include "image/qcow_image.h"
#include "image/vshadow_volume.h"
#include "platform/failure.h"
#include "platform/system.h"
#include "store/explorer/thumbcache.h"

namespace {

constexpr uint8_t COMPOUND_SIGNATURE[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// A walk through a damaged file system could otherwise go on without end.
constexpr size_t MAX_NAMES_KEPT = 1u << 20;

struct Volume {
    TSK_FS_INFO* fs;
    uint64_t offset;
    std::string type;
    std::string store = "-";          // a shadow copy's label, "-" for the volume itself
    TSK_IMG_INFO* store_img = nullptr; // a shadow copy's bytes, closed with it
};

} // namespace

struct DiskImage {
    std::string path;
    TSK_IMG_INFO* img = nullptr;
    TSK_VS_INFO* vs = nullptr;
    std::vector<Volume> volumes;
    // sleuthkit's handles are not to be used by two threads at once.
    std::mutex lock;
};

namespace {

std::string tsk_reason()
{
    const char* e = tsk_error_get();
    std::string text = e ? e : "unknown error";
    tsk_error_reset();
    // sleuthkit's messages span lines; a row of a report must not.
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

// The container named by its signature, so that sleuthkit tries no other
// (its probing of the others leaks what it allocates).
TSK_IMG_INFO* open_img(const char* path)
{
    TSK_IMG_TYPE_ENUM type = TSK_IMG_TYPE_RAW;
    switch (disk_image_container(path)) {
    case IMAGE_CONTAINER_QCOW: return qcow_image_open(path);
    case IMAGE_CONTAINER_E01: type = TSK_IMG_TYPE_EWF_EWF; break;
    case IMAGE_CONTAINER_VHD:
    case IMAGE_CONTAINER_VHDX: type = TSK_IMG_TYPE_VHD_VHD; break;
    case IMAGE_CONTAINER_VMDK: type = TSK_IMG_TYPE_VMDK_VMDK; break;
    case IMAGE_CONTAINER_NONE: break;
    }
    TSK_IMG_INFO* img = tsk_img_open_utf8_sing(path, type, 0);
    if (!img) {
        failure_concerns(path);
        fail("not a disk image we read (%s)", tsk_reason().c_str());
    }
    return img;
}

// A cache file's own first bytes: then it is a cache, never an image.
bool starts_like_cache(const char* path)
{
    uint8_t head[8] = {};
    std::FILE* f = sys_fopen(path, "rb");
    if (!f)
        return false;
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    if (got == sizeof head && std::memcmp(head, COMPOUND_SIGNATURE, 8) == 0)
        return true;
    return got >= 4 && (std::memcmp(head, "CMMM", 4) == 0 || std::memcmp(head, "IMMM", 4) == 0 ||
                        std::memcmp(head + 4, "IMMM", 4) == 0);
}

bool ends_with(const std::string& s, const char* tail)
{
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// The kind a cache's name promises, or -1.
int kind_by_name(const char* name)
{
    std::string lower;
    for (const char* p = name; *p; ++p)
        lower += char(*p >= 'A' && *p <= 'Z' ? *p + 32 : *p);
    if (lower == "thumbs.db" || (lower.rfind("ehthumbs", 0) == 0 && ends_with(lower, ".db")))
        return IMAGE_CACHE_THUMBS_DB;
    if (lower.rfind("thm", 0) == 0 && ends_with(lower, ".tmp"))
        return IMAGE_CACHE_INDEX;
    if ((lower.rfind("thumbcache_", 0) == 0 || lower.rfind("iconcache_", 0) == 0) && ends_with(lower, ".db"))
        return ends_with(lower, "_idx.db") ? IMAGE_CACHE_INDEX : IMAGE_CACHE_EXPLORER;
    return -1;
}

struct FileState {
    DiskImage* image;
    TSK_FS_FILE* file;
};

int64_t file_read(const Source* s, uint64_t offset, void* out, size_t length)
{
    FileState* f = static_cast<FileState*>(s->state);
    std::lock_guard<std::mutex> hold(f->image->lock);
    const ssize_t got = tsk_fs_file_read(f->file, TSK_OFF_T(offset), static_cast<char*>(out), length,
                                         TSK_FS_FILE_READ_FLAG_NONE);
    if (got < 0)
        tsk_error_reset();
    return got <= 0 ? -1 : int64_t(got);
}

void file_close(Source* s)
{
    FileState* f = static_cast<FileState*>(s->state);
    if (!f)
        return;
    {
        std::lock_guard<std::mutex> hold(f->image->lock);
        tsk_fs_file_close(f->file);
    }
    delete f;
}

// Bytes are read through the file system into the reader's buffers: no
// pages of ours to give back.
void file_release(const Source*, uint64_t, uint64_t) {}

constexpr SourceKind IMAGE_FILE_SOURCE = {file_read, file_release, file_close};

struct Walk {
    DiskImage* image;
    int32_t volume;
    std::vector<ImageCacheFile>* found;
    std::vector<std::pair<uint64_t, std::string>> seen;  // meta address and path
};

// Where an NTFS orphan lay: its MFT record keeps its name and its folder's
// reference, and each folder's record its own, up to the root. Empty where
// a folder is gone or reused (its sequence number no longer matches).
std::string ntfs_original_path(TSK_FS_INFO* fs, const TSK_FS_META* meta)
{
    if (!meta->name2)
        return {};
    std::string path = meta->name2->name;
    TSK_INUM_T parent = meta->name2->par_inode;
    uint32_t parent_seq = meta->name2->par_seq;
    for (int depth = 0; depth < 64; ++depth) {
        if (parent == fs->root_inum)
            return "/" + path;
        TSK_FS_FILE* folder = tsk_fs_file_open_meta(fs, nullptr, parent);
        const bool known = folder && folder->meta && folder->meta->name2 && folder->meta->seq == parent_seq &&
                           folder->meta->type == TSK_FS_META_TYPE_DIR;
        if (known) {
            path = std::string(folder->meta->name2->name) + "/" + path;
            parent = folder->meta->name2->par_inode;
            parent_seq = folder->meta->name2->par_seq;
        }
        tsk_fs_file_close(folder);
        if (!known) {
            tsk_error_reset();
            return {};
        }
    }
    return {};
}

TSK_WALK_RET_ENUM visit(TSK_FS_FILE* file, const char* parent, void* context)
{
    Walk* w = static_cast<Walk*>(context);
    if (!file->name || !file->name->name || !file->meta || file->meta->type != TSK_FS_META_TYPE_REG)
        return TSK_WALK_CONT;
    const int kind = kind_by_name(file->name->name);
    if (kind < 0)
        return TSK_WALK_CONT;
    std::string path = "/" + std::string(parent ? parent : "") + file->name->name;
    if (TSK_FS_TYPE_ISNTFS(file->fs_info->ftype) && path.rfind("/$OrphanFiles/", 0) == 0) {
        const std::string original = ntfs_original_path(file->fs_info, file->meta);
        if (!original.empty())
            path = original;
    }
    const std::pair<uint64_t, std::string> key{uint64_t(file->name->meta_addr), path};
    if (std::find(w->seen.begin(), w->seen.end(), key) != w->seen.end() || w->seen.size() >= MAX_NAMES_KEPT)
        return TSK_WALK_CONT;
    w->seen.push_back(key);

    const Volume& v = w->image->volumes[size_t(w->volume)];
    ImageCacheFile c;
    c.kind = ImageCacheKind(kind);
    c.size = file->meta->size > 0 ? uint64_t(file->meta->size) : 0;
    c.volume = w->volume;
    c.meta = uint64_t(file->name->meta_addr);
    c.origin.image = w->image->path;
    c.origin.partition_offset = v.offset;
    c.origin.partition_type = v.type;
    c.origin.store = v.store;
    c.origin.fs_type = tsk_fs_type_toname(v.fs->ftype);
    c.origin.fs_path = path;
    c.origin.inode = std::to_string(c.meta);
    if (TSK_FS_TYPE_ISNTFS(v.fs->ftype))
        c.origin.inode += "-" + std::to_string(file->meta->seq);  // an orphan's name carries no sequence
    const bool deleted = (file->name->flags & TSK_FS_NAME_FLAG_UNALLOC) || (file->meta->flags & TSK_FS_META_FLAG_UNALLOC);
    c.origin.state = deleted ? "deleted" : "allocated";
    w->found->push_back(std::move(c));
    return TSK_WALK_CONT;
}

// Whether the file's bytes are what its name promises.
bool confirmed(DiskImage* image, const ImageCacheFile& c)
{
    Source s;
    if (disk_image_open_file(image, c, &s) != 0)
        return false;
    bool ok = false;
    if (c.kind == IMAGE_CACHE_THUMBS_DB) {
        uint8_t head[8];
        ok = source_read(s, 0, head, sizeof head) == 0 && std::memcmp(head, COMPOUND_SIGNATURE, 8) == 0;
    } else {
        const ThumbcacheKind k = thumbcache_source_kind(s);
        ok = k == (c.kind == IMAGE_CACHE_EXPLORER ? THUMBCACHE_CACHE : THUMBCACHE_INDEX);
    }
    source_close(&s);
    return ok;
}

std::string folder_of(const std::string& path) { return path.substr(0, path.find_last_of('/') + 1); }

// The index an Explorer cache file is read with: "<prefix>_idx.db" in its
// folder, of the same state where there are both.
void link_indexes(std::vector<ImageCacheFile>* files)
{
    for (ImageCacheFile& c : *files) {
        if (c.kind != IMAGE_CACHE_EXPLORER)
            continue;
        std::string name = c.origin.fs_path.substr(c.origin.fs_path.find_last_of('/') + 1), lower;
        for (char ch : name)
            lower += char(ch >= 'A' && ch <= 'Z' ? ch + 32 : ch);
        const std::string want = lower.rfind("thumbcache_", 0) == 0 ? "thumbcache_idx.db" : "iconcache_idx.db";
        int32_t best = -1;
        for (size_t k = 0; k < files->size(); ++k) {
            const ImageCacheFile& x = (*files)[k];
            if (x.kind != IMAGE_CACHE_INDEX || x.volume != c.volume ||
                folder_of(x.origin.fs_path) != folder_of(c.origin.fs_path) ||
                ascii_stricmp(x.origin.fs_path.substr(x.origin.fs_path.find_last_of('/') + 1).c_str(), want.c_str()) != 0)
                continue;
            if (best < 0 || (x.origin.state == c.origin.state && (*files)[size_t(best)].origin.state != c.origin.state))
                best = int32_t(k);
        }
        c.index = best;
    }
}

// An NTFS volume's shadow copies follow it, each one more volume.
void add_volume(DiskImage* image, TSK_FS_INFO* fs, uint64_t offset, const std::string& type,
                std::vector<std::string>* problems)
{
    image->volumes.push_back({fs, offset, type});
    if (!TSK_FS_TYPE_ISNTFS(fs->ftype))
        return;
    std::vector<ShadowStore> stores;
    std::vector<std::string> damage;
    vshadow_volume_stores(image->img, offset, uint64_t(fs->block_count) * fs->block_size, &stores, &damage);
    for (const std::string& d : damage)
        problems->push_back(image->path + ": " + d);
    for (const ShadowStore& s : stores) {
        if (TSK_FS_INFO* store_fs = tsk_fs_open_img(s.img, 0, TSK_FS_TYPE_DETECT)) {
            image->volumes.push_back({store_fs, offset, type, s.label, s.img});
        } else {
            problems->push_back(image->path + ": shadow copy " + s.label + " of the volume at " + std::to_string(offset) +
                                ": no file system we read (" + tsk_reason() + ")");
            tsk_img_close(s.img);
        }
    }
}

// The image's volume system, or null. GPT is tried before DOS (its
// protective MBR would pass for one) and the rest after: sleuthkit's own
// detection opens every type that matches and leaks the losers' partitions.
TSK_VS_INFO* open_volume_system(TSK_IMG_INFO* img)
{
    for (const TSK_VS_TYPE_ENUM type : {TSK_VS_TYPE_GPT, TSK_VS_TYPE_DOS}) {
        if (TSK_VS_INFO* vs = tsk_vs_open(img, 0, type))
            return vs;
        tsk_error_reset();
    }
    return tsk_vs_open(img, 0, TSK_VS_TYPE_DETECT);
}

} // namespace

bool disk_image_supported() { return true; }

int disk_image_probe(const char* path)
{
    if (disk_image_signature(path))
        return 1;  // opened, or its damage reported, as an image
    if (!path || sys_is_directory(path) || starts_like_cache(path))
        return 0;
    failure_clear();
    TSK_IMG_INFO* img = open_img(path);
    if (!img)
        return 0;
    int found = 0;
    if (TSK_VS_INFO* vs = open_volume_system(img)) {
        found = 1;
        tsk_vs_close(vs);
    } else if (TSK_FS_INFO* fs = tsk_fs_open_img(img, 0, TSK_FS_TYPE_DETECT)) {
        found = 1;
        tsk_fs_close(fs);
    }
    tsk_error_reset();
    tsk_img_close(img);
    return found;
}

int disk_image_open(const char* path, DiskImage** out, std::vector<std::string>* problems)
{
    *out = nullptr;
    failure_clear();
    DiskImage* image = new DiskImage;
    image->path = path;
    image->img = open_img(path);
    if (!image->img) {
        delete image;
        return -1;
    }
    image->vs = open_volume_system(image->img);
    if (!image->vs) {
        tsk_error_reset();
        if (TSK_FS_INFO* fs = tsk_fs_open_img(image->img, 0, TSK_FS_TYPE_DETECT))
            add_volume(image, fs, 0, "none", problems);
        else
            problems->push_back(std::string(path) + ": no volume system and no file system we read (" + tsk_reason() + ")");
    } else {
        for (TSK_PNUM_T i = 0; i < image->vs->part_count; ++i) {
            const TSK_VS_PART_INFO* part = tsk_vs_part_get(image->vs, i);
            if (!part || !(part->flags & TSK_VS_PART_FLAG_ALLOC))
                continue;
            const uint64_t offset = uint64_t(part->start) * image->vs->block_size;
            const std::string type = part->desc ? part->desc : "?";
            if (TSK_FS_INFO* fs = tsk_fs_open_vol(part, TSK_FS_TYPE_DETECT))
                add_volume(image, fs, offset, type, problems);
            else
                problems->push_back(std::string(path) + ": partition at " + std::to_string(offset) + " (" + type +
                                    "): no file system we read (" + tsk_reason() + ")");
        }
    }
    *out = image;
    return 0;
}

void disk_image_find_caches(DiskImage* image, std::vector<ImageCacheFile>* out, std::vector<std::string>* problems)
{
    for (size_t v = 0; v < image->volumes.size(); ++v) {
        std::vector<ImageCacheFile> found;
        Walk w{image, int32_t(v), &found, {}};
        {
            std::lock_guard<std::mutex> hold(image->lock);
            const TSK_FS_INFO* fs = image->volumes[v].fs;
            if (tsk_fs_dir_walk(image->volumes[v].fs, fs->root_inum,
                                TSK_FS_DIR_WALK_FLAG_ENUM(TSK_FS_DIR_WALK_FLAG_ALLOC | TSK_FS_DIR_WALK_FLAG_UNALLOC |
                                                     TSK_FS_DIR_WALK_FLAG_RECURSE),
                                visit, &w) != 0)
                problems->push_back(image->path + ": partition at " + std::to_string(image->volumes[v].offset) +
                                    ": the walk of its file system stopped early (" + tsk_reason() + ")");
        }
        std::stable_sort(found.begin(), found.end(), [](const ImageCacheFile& a, const ImageCacheFile& b) {
            if (a.origin.fs_path != b.origin.fs_path)
                return a.origin.fs_path < b.origin.fs_path;
            return a.origin.state < b.origin.state;  // "allocated" before "deleted"
        });
        for (ImageCacheFile& c : found) {
            if (confirmed(image, c))
                out->push_back(std::move(c));
            else
                problems->push_back(image->path + ": " + (c.origin.store == "-" ? "" : c.origin.store + " ") + c.origin.fs_path + " (" + c.origin.state + ", inode " +
                                    c.origin.inode + "): named like a cache, but its bytes are not one");
        }
    }
    link_indexes(out);
}

void disk_image_carve(DiskImage* image, std::vector<ImageCacheFile>* out, std::vector<std::string>* problems)
{
    for (size_t v = 0; v < image->volumes.size(); ++v) {
        const Volume& vol = image->volumes[v];
        ImageCacheFile like;
        like.volume = int32_t(v);
        like.origin.image = image->path;
        like.origin.partition_offset = vol.offset;
        like.origin.partition_type = vol.type;
        like.origin.store = vol.store;  // a shadow copy's finds are its own, never the volume's
        like.origin.fs_type = tsk_fs_type_toname(vol.fs->ftype);
        carve_volume_finds(vol.fs, &image->lock, like, out, problems);
    }
}

int disk_image_open_file(DiskImage* image, const ImageCacheFile& file, Source* out)
{
    *out = Source{};
    if (!image || file.volume < 0 || size_t(file.volume) >= image->volumes.size())
        return -1;
    if (file.origin.carved_at >= 0)
        return carve_open_find(image->volumes[size_t(file.volume)].fs, &image->lock, file, out);
    TSK_FS_FILE* f;
    {
        std::lock_guard<std::mutex> hold(image->lock);
        f = tsk_fs_file_open_meta(image->volumes[size_t(file.volume)].fs, nullptr, TSK_INUM_T(file.meta));
        if (!f)
            tsk_error_reset();
    }
    if (!f)
        return -1;
    const uint64_t size = f->meta && f->meta->size > 0 ? uint64_t(f->meta->size) : 0;
    *out = Source{&IMAGE_FILE_SOURCE, size, nullptr, new FileState{image, f}, nullptr, 0};
    return 0;
}

TSK_FS_INFO* disk_image_fs(DiskImage* image, int32_t volume, std::mutex** lock)
{
    if (!image || volume < 0 || size_t(volume) >= image->volumes.size())
        return nullptr;
    *lock = &image->lock;
    return image->volumes[size_t(volume)].fs;
}

std::vector<std::string> disk_image_files(const DiskImage* image)
{
    std::vector<std::string> files;
    if (!image)
        return files;
    // A caller's own image (QCOW) names no files to sleuthkit.
    if (image->img->itype != TSK_IMG_TYPE_EXTERNAL && image->img->images)
        for (int i = 0; i < image->img->num_img; ++i)
            if (image->img->images[i])
                files.emplace_back(image->img->images[i]);
    if (files.empty())
        files.push_back(image->path);
    return files;
}

void disk_image_close(DiskImage* image)
{
    if (!image)
        return;
    for (Volume& v : image->volumes) {
        tsk_fs_close(v.fs);
        if (v.store_img)
            tsk_img_close(v.store_img);
    }
    if (image->vs)
        tsk_vs_close(image->vs);
    if (image->img)
        tsk_img_close(image->img);
    delete image;
}

int32_t disk_image_volume_count(const DiskImage* image) { return image ? int32_t(image->volumes.size()) : 0; }

uint64_t disk_image_volume_offset(const DiskImage* image, int32_t volume)
{
    return image && volume >= 0 && size_t(volume) < image->volumes.size() ? image->volumes[size_t(volume)].offset : 0;
}

DiskImageVolume disk_image_volume(DiskImage* image, int32_t volume)
{
    if (!image || volume < 0 || size_t(volume) >= image->volumes.size())
        return {nullptr, 0};
    return {image->volumes[size_t(volume)].fs, image->volumes[size_t(volume)].offset};
}

TSK_IMG_INFO* disk_image_img(DiskImage* image) { return image->img; }

std::mutex& disk_image_lock(DiskImage* image) { return image->lock; }
