// What names a cache inside an image, from the image itself: the names of
// the cache's own directory there (deleted ones too), and the Windows Search
// database of its volume.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image/image_tsk_access.h"
#include "platform/system.h"

namespace {

// A hostile directory could list names without end.
constexpr size_t MAX_FOLDER_NAMES = 1u << 20;
constexpr size_t COPY_CHUNK = 1u << 20;

const char* const INDEX_FOLDER = "/ProgramData/Microsoft/Search/Data/Applications/Windows";

struct Found {
    TSK_INUM_T meta = 0;
    bool any = false;
    bool deleted = false;
    std::string name;
};

bool deleted_name(const TSK_FS_NAME* n) { return (n->flags & TSK_FS_NAME_FLAG_UNALLOC) != 0; }

// The better of two entries of a name: an allocated one before a deleted one.
void consider(const TSK_FS_NAME* n, Found* best)
{
    if (best->any && (deleted_name(n) || !best->deleted))
        return;
    *best = Found{n->meta_addr, true, deleted_name(n), n->name};
}

// Copies the file's bytes to path; 0, or -1 (the partial copy removed).
int copy_out(TSK_FS_INFO* fs, TSK_INUM_T meta, const std::string& path)
{
    TSK_FS_FILE* file = tsk_fs_file_open_meta(fs, nullptr, meta);
    if (!file || !file->meta || file->meta->type != TSK_FS_META_TYPE_REG || file->meta->size <= 0) {
        tsk_fs_file_close(file);
        tsk_error_reset();
        return -1;
    }
    std::FILE* out = sys_fopen(path.c_str(), "wb");
    if (!out) {
        tsk_fs_file_close(file);
        return -1;
    }
    std::vector<char> chunk(COPY_CHUNK);
    const TSK_OFF_T size = file->meta->size;
    int result = 0;
    for (TSK_OFF_T at = 0; at < size && result == 0;) {
        const size_t want = size_t(std::min<TSK_OFF_T>(size - at, TSK_OFF_T(chunk.size())));
        const ssize_t got = tsk_fs_file_read(file, at, chunk.data(), want, TSK_FS_FILE_READ_FLAG_NONE);
        if (got <= 0 || std::fwrite(chunk.data(), 1, size_t(got), out) != size_t(got))
            result = -1;
        else
            at += got;
    }
    tsk_error_reset();
    tsk_fs_file_close(file);
    if (std::fclose(out) != 0)
        result = -1;
    if (result != 0)
        sys_remove_file(path.c_str());
    return result;
}

} // namespace

void disk_image_folder_names(DiskImage* image, const ImageCacheFile& file, std::vector<ExtraName>* out)
{
    std::mutex* lock = nullptr;
    TSK_FS_INFO* fs = disk_image_fs(image, file.volume, &lock);
    const std::string& path = file.origin.fs_path;
    const size_t cut = path.find_last_of('/');
    if (!fs || cut == std::string::npos)
        return;
    const std::string folder = cut == 0 ? "/" : path.substr(0, cut);
    std::lock_guard<std::mutex> hold(*lock);
    TSK_FS_DIR* dir = tsk_fs_dir_open(fs, folder.c_str());
    if (!dir) {
        tsk_error_reset();
        return;
    }
    for (size_t i = 0; i < tsk_fs_dir_getsize(dir) && out->size() < MAX_FOLDER_NAMES; ++i) {
        const TSK_FS_NAME* n = tsk_fs_dir_get_name(dir, i);
        if (!n || !n->name || !*n->name || std::strcmp(n->name, ".") == 0 || std::strcmp(n->name, "..") == 0)
            continue;
        out->push_back({n->name, deleted_name(n) ? NAME_SOURCE_FOLDER_DELETED : NAME_SOURCE_FOLDER});
    }
    tsk_fs_dir_close(dir);
}

int disk_image_copy_search_index(DiskImage* image, int32_t volume, const std::string& folder, std::string* copy,
                                 std::string* where)
{
    std::mutex* lock = nullptr;
    TSK_FS_INFO* fs = disk_image_fs(image, volume, &lock);
    if (!fs)
        return -1;
    std::lock_guard<std::mutex> hold(*lock);
    TSK_FS_DIR* dir = tsk_fs_dir_open(fs, INDEX_FOLDER);
    if (!dir) {
        tsk_error_reset();
        return -1;
    }
    Found db, log;
    for (size_t i = 0; i < tsk_fs_dir_getsize(dir); ++i) {
        const TSK_FS_NAME* n = tsk_fs_dir_get_name(dir, i);
        if (!n || !n->name)
            continue;
        if (ascii_stricmp(n->name, "Windows.edb") == 0 || ascii_stricmp(n->name, "Windows.db") == 0)
            consider(n, &db);
    }
    // The log of the copy's state, where it is an SQLite one.
    for (size_t i = 0; db.any && i < tsk_fs_dir_getsize(dir); ++i) {
        const TSK_FS_NAME* n = tsk_fs_dir_get_name(dir, i);
        if (n && n->name && deleted_name(n) == db.deleted && ascii_stricmp(n->name, "Windows.db-wal") == 0 &&
            ascii_stricmp(db.name.c_str(), "Windows.db") == 0)
            consider(n, &log);
    }
    tsk_fs_dir_close(dir);
    if (!db.any)
        return -1;
    // The copies take the names the readers expect, whatever their letter case.
    const bool sqlite = ascii_stricmp(db.name.c_str(), "Windows.db") == 0;
    *copy = folder + "/" + (sqlite ? "Windows.db" : "Windows.edb");
    if (copy_out(fs, db.meta, *copy) != 0)
        return -1;
    if (log.any)
        copy_out(fs, log.meta, *copy + "-wal");  // without it the database reads as of its last checkpoint
    *where = std::string(INDEX_FOLDER) + "/" + db.name + (db.deleted ? " (deleted)" : "");
    return 0;
}
