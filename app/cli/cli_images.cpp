#include "app/cli/cli_images.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "app/cli/cli.h"
#include "app/cli/cli_mft.h"
#include "app/cli/digests/digests.h"
#include "platform/failure.h"
#include "platform/system.h"

namespace {

// Each image's search databases by volume, where the volume has one.
struct ImageIndexes {
    std::map<int32_t, SearchIndex> by_volume;
    bool read = false;
};
std::map<std::string, ImageIndexes> indexes;

int read_search_indexes(const ImageSetImage* o, ImageIndexes* into)
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
                into->by_volume[v] = index;
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
    std::vector<std::string> problems;
    const ImageSetResult read = image_set_add(path, carve, caches, &problems);
    for (const std::string& p : problems)
        cli_error("%s", p.c_str());
    switch (read) {
    case IMAGE_SET_NOT_ONE: return CLI_IMAGE_NOT_ONE;
    case IMAGE_SET_READ: return CLI_IMAGE_READ;
    case IMAGE_SET_PARTLY_READ: return CLI_IMAGE_PARTLY_READ;
    case IMAGE_SET_UNREADABLE: return CLI_IMAGE_UNREADABLE;
    case IMAGE_SET_UNSUPPORTED: break;
    }
    return CLI_IMAGE_UNSUPPORTED;
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

const ImageCacheFile* cli_image_cache(const std::string& label) { return image_set_cache(label); }

DiskImage* cli_image_disk(const std::string& label) { return image_set_disk(label); }

int cli_image_source(const std::string& label, Source* out) { return image_set_source(label, out); }

int cli_image_index_source(const std::string& label, Source* out) { return image_set_index_source(label, out); }

int cli_images_read_search_indexes()
{
    int result = 0;
    for (const ImageSetImage* o : image_set_images()) {
        ImageIndexes& of = indexes[o->path];
        if (of.read)
            continue;
        of.read = true;
        if (read_search_indexes(o, &of) != 0)
            result = -1;
    }
    return result;
}

void cli_image_stream_names(const std::string& label, StreamNames* names) { image_set_stream_names(label, names); }

const SearchIndex* cli_image_volume_search_index(const std::string& image, int32_t volume)
{
    const auto of = indexes.find(image);
    if (of == indexes.end())
        return nullptr;
    const auto index = of->second.by_volume.find(volume);
    return index == of->second.by_volume.end() ? nullptr : &index->second;
}

const SearchIndex* cli_image_search_index(const std::string& label)
{
    const ImageCacheFile* f = image_set_cache(label);
    return f ? cli_image_volume_search_index(f->origin.image, f->volume) : nullptr;
}

bool cli_images_named() { return !image_set_images().empty(); }

std::vector<std::string> cli_image_paths()
{
    std::vector<std::string> paths;
    for (const ImageSetImage* o : image_set_images())
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
    for (const ImageSetImage* o : image_set_images()) {
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

std::vector<ResolvedCache> cli_image_list_caches(const std::vector<std::string>& labels, const char* command)
{
    size_t left = 0;
    std::vector<ResolvedCache> drawn = image_set_list_caches(labels, &left);
    if (left > 0)
        cli_error("%s: %zu Thumbs.db file%s of the image %s not shown with %s (\"list\" lists every cache, "
                  "\"extract\" writes them out)",
                  command, left, left == 1 ? "" : "s", left == 1 ? "is" : "are",
                  drawn[0].family == CACHE_EXPLORER ? "its Explorer caches" : drawn[0].path.c_str());
    return drawn;
}

void cli_images_close()
{
    cli_mft_close();
    for (auto& of : indexes)
        for (auto& index : of.second.by_volume)
            search_index_free(&index.second);
    indexes.clear();
    image_set_close();
}
