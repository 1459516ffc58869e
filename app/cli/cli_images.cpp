#include "app/cli/cli_images.h"

#include <map>

#include "app/cli/cli.h"
#include "platform/failure.h"

namespace {

struct OpenImage {
    std::string path;
    DiskImage* image;
    std::vector<ImageCacheFile> files;
};

// Few images per command; each keeps its file systems open until the end.
std::vector<OpenImage*> images;
std::map<std::string, std::pair<OpenImage*, size_t>> by_label;

std::string label_of(const ImageCacheFile& f)
{
    if (f.origin.carved_at >= 0)
        return f.origin.image + "@" + std::to_string(f.origin.partition_offset) + ":carved@" +
               std::to_string(f.origin.carved_at);
    std::string label = f.origin.image + "@" + std::to_string(f.origin.partition_offset) + ":" + f.origin.fs_path;
    if (f.origin.state != "allocated")
        label += " (" + f.origin.state + ", inode " + f.origin.inode + ")";
    return label;
}

const std::pair<OpenImage*, size_t>* find(const std::string& label)
{
    auto it = by_label.find(label);
    return it == by_label.end() ? nullptr : &it->second;
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
    OpenImage* o = new OpenImage{path, image, {}};
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

bool cli_images_named() { return !images.empty(); }

std::vector<std::string> cli_image_paths()
{
    std::vector<std::string> paths;
    for (const OpenImage* o : images)
        for (const std::string& f : disk_image_files(o->image))
            paths.push_back(f);
    return paths;
}

void cli_images_close()
{
    by_label.clear();
    for (OpenImage* o : images) {
        disk_image_close(o->image);
        delete o;
    }
    images.clear();
}
