#include "app/cli/cli_images.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <tuple>

#include "app/cli/cli.h"
#include "app/cli/cli_mft.h"
#include "app/cli/digests/digests.h"
#include "platform/failure.h"
#include "platform/system.h"
#include "store/explorer/explorer_folder.h"

namespace {

struct OpenImage {
    std::string path;
    DiskImage* image;
    std::vector<ImageCacheFile> files;
    std::map<int32_t, SearchIndex> indexes;  // by volume, where the volume has one
    bool indexes_read = false;
};

// Few images per command; each keeps its file systems open until the end.
std::vector<OpenImage*> images;
std::map<std::string, std::pair<OpenImage*, size_t>> by_label;

std::string label_of(const ImageCacheFile& f)
{
    std::string label = f.origin.image + "@" + std::to_string(f.origin.partition_offset) + ":";
    if (f.origin.store != "-")
        label += f.origin.store.substr(0, f.origin.store.find(' ')) + ":";  // "vss1": a shadow copy's version
    if (f.origin.carved_at >= 0)
        return label + "carved@" + std::to_string(f.origin.carved_at);
    label += f.origin.fs_path;
    if (f.origin.state != "allocated")
        label += " (" + f.origin.state + ", inode " + f.origin.inode + ")";
    return label;
}

const std::pair<OpenImage*, size_t>* find(const std::string& label)
{
    auto it = by_label.find(label);
    return it == by_label.end() ? nullptr : &it->second;
}

// Reads the search database of each volume that holds a cache: copied out
// to a private temporary folder (the readers need a path), read whole into
// memory, and the copy removed at once. A database that cannot be read is
// reported and the volume's caches keep their other names.
int read_search_indexes(OpenImage* o)
{
    int result = 0;
    std::vector<int32_t> volumes;
    for (const ImageCacheFile& f : o->files)
        if (std::find(volumes.begin(), volumes.end(), f.volume) == volumes.end())
            volumes.push_back(f.volume);
    for (const int32_t v : volumes) {
        std::string folder, copy, where;
        if (sys_make_temp_folder("glimmerdex-index", &folder) != 0) {
            cli_error("%s: no temporary folder for the volume's search index", o->path.c_str());
            return -1;
        }
        if (disk_image_copy_search_index(o->image, v, folder, &copy, &where) == 0) {
            const ImageCacheFile& any = *std::find_if(o->files.begin(), o->files.end(),
                                                      [&](const ImageCacheFile& f) { return f.volume == v; });
            const std::string label = o->path + "@" + std::to_string(any.origin.partition_offset) + ":" + where;
            SearchIndex index{};
            if (search_index_load(copy.c_str(), &index) != 0) {
                cli_error("%s: search index not read: %s", label.c_str(), failure_last().reason);
                result = -1;
            } else {
                std::fprintf(stderr, "glimmerdex-cli: search index %s: %d items with a ThumbnailCacheId\n",
                             label.c_str(), index.count);
                o->indexes[v] = index;
            }
        }
        for (const char* name : {"Windows.db", "Windows.db-wal", "Windows.edb"})
            sys_remove_file((folder + "/" + name).c_str());
        sys_remove_folder(folder.c_str());
    }
    return result;
}

} // namespace

CliImageResult cli_images_add(const std::string& path, std::vector<std::string>* caches, bool carve)
{
    if (!disk_image_probe(path.c_str()))
        return CLI_IMAGE_NOT_ONE;
    if (!disk_image_supported()) {
        cli_error("%s: disk images are not read by this build", path.c_str());
        return CLI_IMAGE_UNSUPPORTED;
    }
    for (OpenImage* o : images)
        if (o->path == path)
            return CLI_IMAGE_READ;  // named twice: read once
    std::vector<std::string> problems;
    DiskImage* image = nullptr;
    if (disk_image_open(path.c_str(), &image, &problems) != 0) {
        cli_error("%s", failure_text().c_str());
        return CLI_IMAGE_UNREADABLE;
    }
    OpenImage* o = new OpenImage{path, image, {}, {}, false};
    images.push_back(o);
    disk_image_find_caches(image, &o->files, &problems);
    if (carve)
        disk_image_carve(image, &o->files, &problems);
    for (const std::string& p : problems)
        cli_error("%s", p.c_str());
    if (o->files.empty())
        cli_error("%s: no thumbnail cache found in the image", path.c_str());
    for (size_t i = 0; i < o->files.size(); ++i) {
        const std::string label = label_of(o->files[i]);
        if (by_label.emplace(label, std::make_pair(o, i)).second)
            caches->push_back(label);
    }
    return problems.empty() ? CLI_IMAGE_READ : CLI_IMAGE_PARTLY_READ;
}

bool cli_images_refused(const std::vector<std::string>& paths)
{
    if (disk_image_supported())
        return false;
    bool refused = false;
    for (const std::string& p : paths)
        if (disk_image_probe(p.c_str())) {
            cli_error("%s: disk images are not read by this build", p.c_str());
            refused = true;
        }
    return refused;
}

const ImageCacheFile* cli_image_cache(const std::string& label)
{
    const auto* at = find(label);
    return at ? &at->first->files[at->second] : nullptr;
}

DiskImage* cli_image_disk(const std::string& label)
{
    const auto* at = find(label);
    return at ? at->first->image : nullptr;
}

int cli_image_source(const std::string& label, Source* out)
{
    *out = Source{};
    const auto* at = find(label);
    return at ? disk_image_open_file(at->first->image, at->first->files[at->second], out) : -1;
}

int cli_image_index_source(const std::string& label, Source* out)
{
    *out = Source{};
    const auto* at = find(label);
    if (!at)
        return -1;
    const int32_t index = at->first->files[at->second].index;
    if (index < 0)
        return -1;
    return disk_image_open_file(at->first->image, at->first->files[size_t(index)], out);
}

int cli_images_read_search_indexes()
{
    int result = 0;
    for (OpenImage* o : images) {
        if (o->indexes_read)
            continue;
        o->indexes_read = true;
        if (read_search_indexes(o) != 0)
            result = -1;
    }
    return result;
}

void cli_image_stream_names(const std::string& label, StreamNames* names)
{
    stream_names_want_loaded(names);
    if (names->wanted.empty())
        return;
    stream_names_add_catalog(names);
    if (const auto* at = find(label)) {
        std::vector<ExtraName> folder;
        disk_image_folder_names(at->first->image, at->first->files[at->second], &folder);
        stream_names_add_list(names, folder);
    }
    stream_names_finish(names);
}

const SearchIndex* cli_image_search_index(const std::string& label)
{
    const auto* at = find(label);
    if (!at)
        return nullptr;
    const auto index = at->first->indexes.find(at->first->files[at->second].volume);
    return index == at->first->indexes.end() ? nullptr : &index->second;
}

bool cli_images_named() { return !images.empty(); }

std::vector<std::string> cli_image_paths()
{
    std::vector<std::string> paths;
    for (const OpenImage* o : images)
        for (const std::string& f : disk_image_files(o->image))
            paths.push_back(f);
    return paths;
}

namespace {

int feed_md5(void* run, const uint8_t* data, size_t length)
{
    return digest_add(static_cast<DigestRun*>(run), data, length);
}

} // namespace

int cli_images_verify(std::vector<ImageCheck>* out)
{
    int result = 0;
    for (const OpenImage* o : images) {
        ImageCheck check{o->path, "", "", ""};
        if (disk_image_container(o->path.c_str()) != IMAGE_CONTAINER_E01) {
            check.result = "not an E01";
            std::fprintf(stderr, "glimmerdex-cli: %s: not an E01: it stores no MD5 to verify\n", o->path.c_str());
            out->push_back(check);
            continue;
        }
        DigestRun run;
        uint8_t stored[16];
        Digests media;
        const int got = digest_begin(&run, 1u << DIGEST_MD5) == 0
                            ? disk_image_e01_media(o->path.c_str(), stored, feed_md5, &run)
                            : -1;
        if (got < 0 || digest_end(&run, &media) != 0) {
            check.result = "unreadable";
            cli_error("%s: verify: %s", o->path.c_str(), failure_last().reason);
            result = -1;
        } else {
            check.media_md5 = media.md5;
            if (got == 0) {
                check.result = "none stored";
                std::fprintf(stderr, "glimmerdex-cli: %s: stores no MD5 to verify (its media's: %s)\n",
                             o->path.c_str(), media.md5.c_str());
            } else {
                char hex[33];
                hex_digits(stored, sizeof stored, hex);
                check.stored_md5 = hex;
                if (check.stored_md5 == check.media_md5) {
                    check.result = "match";
                    std::fprintf(stderr, "glimmerdex-cli: %s: verified: its media's MD5 is the one stored (%s)\n",
                                 o->path.c_str(), hex);
                } else {
                    check.result = "mismatch";
                    cli_error("%s: verify: its media's MD5 %s is not the one stored (%s)", o->path.c_str(),
                              media.md5.c_str(), hex);
                    result = -1;
                }
            }
        }
        out->push_back(check);
    }
    return result;
}

namespace {

int open_label(const void*, const std::string& label, Source* out) { return cli_image_source(label, out); }

int open_index_of(const void*, const std::string& label, Source* out, std::string* key)
{
    const ImageCacheFile* f = cli_image_cache(label);
    if (!f || f->index < 0 || cli_image_index_source(label, out) != 0)
        return -1;
    // The image and the index's place among its files: one key per index file.
    *key = f->origin.image + "#" + std::to_string(f->index);
    return 0;
}

void names_of(const void*, const std::string& label, StreamNames* names) { cli_image_stream_names(label, names); }

const FileListSources image_sources{nullptr, open_label, open_index_of, names_of};

} // namespace

const FileListSources* cli_image_list_sources() { return &image_sources; }

std::vector<ResolvedCache> cli_image_list_caches(const std::vector<std::string>& labels, const char* command)
{
    std::vector<ResolvedCache> explorer, thumbs;
    for (const std::string& label : labels) {
        const ImageCacheFile* f = cli_image_cache(label);
        if (!f)
            continue;
        if (f->kind == IMAGE_CACHE_EXPLORER)
            explorer.push_back({label, CACHE_EXPLORER});
        else if (f->kind == IMAGE_CACHE_THUMBS_DB)
            thumbs.push_back({label, CACHE_THUMBS_DB});
    }
    // As a folder of them opens: folder by folder, in size-bucket order, a
    // live file before a deleted one of its name; carved records last.
    auto order = [](const ResolvedCache& c) {
        const ImageOrigin& o = cli_image_cache(c.path)->origin;
        const size_t slash = o.fs_path.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : o.fs_path.substr(0, slash);
        return std::make_tuple(o.image, o.partition_offset, o.store, o.carved_at >= 0, folder,
                               explorer_cache_rank(o.fs_path.c_str()));
    };
    std::stable_sort(explorer.begin(), explorer.end(),
                     [&](const ResolvedCache& a, const ResolvedCache& b) { return order(a) < order(b); });
    // A live Thumbs.db before a deleted or carved one.
    std::stable_partition(thumbs.begin(), thumbs.end(), [](const ResolvedCache& c) {
        return cli_image_cache(c.path)->origin.state == "allocated";
    });
    const std::vector<ResolvedCache>& drawn = explorer.empty() ? thumbs : explorer;
    const size_t left = explorer.empty() ? (thumbs.empty() ? 0 : thumbs.size() - 1) : thumbs.size();
    if (left > 0)
        cli_error("%s: %zu Thumbs.db file%s of the image %s not shown with %s (\"list\" lists every cache, "
                  "\"extract\" writes them out)",
                  command, left, left == 1 ? "" : "s", left == 1 ? "is" : "are",
                  explorer.empty() ? drawn[0].path.c_str() : "its Explorer caches");
    return explorer.empty() && !thumbs.empty() ? std::vector<ResolvedCache>{thumbs[0]} : drawn;
}

void cli_images_close()
{
    cli_mft_close();
    by_label.clear();
    for (OpenImage* o : images) {
        for (auto& index : o->indexes)
            search_index_free(&index.second);
        disk_image_close(o->image);
        delete o;
    }
    images.clear();
}
