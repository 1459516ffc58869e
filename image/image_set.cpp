#include "image/image_set.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "platform/failure.h"
#include "store/explorer/explorer_folder.h"

namespace {

// Few images per command; each keeps its file systems open until the end.
std::vector<ImageSetImage*> images;
std::map<std::string, std::pair<ImageSetImage*, size_t>> by_label;

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

const std::pair<ImageSetImage*, size_t>* find(const std::string& label)
{
    auto it = by_label.find(label);
    return it == by_label.end() ? nullptr : &it->second;
}

int open_label(const void*, const std::string& label, Source* out) { return image_set_source(label, out); }

int open_index_of(const void*, const std::string& label, Source* out, std::string* key)
{
    const ImageCacheFile* f = image_set_cache(label);
    if (!f || f->index < 0 || image_set_index_source(label, out) != 0)
        return -1;
    // The image and the index's place among its files: one key per index file.
    *key = f->origin.image + "#" + std::to_string(f->index);
    return 0;
}

void names_of(const void*, const std::string& label, StreamNames* names) { image_set_stream_names(label, names); }

const FileListSources list_sources{nullptr, open_label, open_index_of, names_of};

} // namespace

ImageSetResult image_set_add(const std::string& path, bool carve, std::vector<std::string>* labels,
                             std::vector<std::string>* problems)
{
    if (!disk_image_probe(path.c_str()))
        return IMAGE_SET_NOT_ONE;
    if (!disk_image_supported()) {
        problems->push_back(path + ": disk images are not read by this build");
        return IMAGE_SET_UNSUPPORTED;
    }
    for (ImageSetImage* o : images)
        if (o->path == path)
            return IMAGE_SET_READ;  // named twice: read once
    DiskImage* image = nullptr;
    const size_t before = problems->size();
    if (disk_image_open(path.c_str(), &image, problems) != 0) {
        problems->push_back(failure_text());
        return IMAGE_SET_UNREADABLE;
    }
    ImageSetImage* o = new ImageSetImage{path, image, {}};
    images.push_back(o);
    disk_image_find_caches(image, &o->files, problems);
    if (carve)
        disk_image_carve(image, &o->files, problems);
    if (o->files.empty())
        problems->push_back(path + ": no thumbnail cache found in the image");
    for (size_t i = 0; i < o->files.size(); ++i) {
        const std::string label = label_of(o->files[i]);
        if (by_label.emplace(label, std::make_pair(o, i)).second)
            labels->push_back(label);
    }
    return problems->size() == before + (o->files.empty() ? 1 : 0) ? IMAGE_SET_READ : IMAGE_SET_PARTLY_READ;
}

const ImageCacheFile* image_set_cache(const std::string& label)
{
    const auto* at = find(label);
    return at ? &at->first->files[at->second] : nullptr;
}

DiskImage* image_set_disk(const std::string& label)
{
    const auto* at = find(label);
    return at ? at->first->image : nullptr;
}

int image_set_source(const std::string& label, Source* out)
{
    *out = Source{};
    const auto* at = find(label);
    return at ? disk_image_open_file(at->first->image, at->first->files[at->second], out) : -1;
}

int image_set_index_source(const std::string& label, Source* out)
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

void image_set_stream_names(const std::string& label, StreamNames* names)
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

const FileListSources* image_set_list_sources() { return &list_sources; }

std::vector<ResolvedCache> image_set_list_caches(const std::vector<std::string>& labels, size_t* left_out)
{
    std::vector<ResolvedCache> explorer, thumbs;
    for (const std::string& label : labels) {
        const ImageCacheFile* f = image_set_cache(label);
        if (f && f->kind == IMAGE_CACHE_EXPLORER)
            explorer.push_back({label, CACHE_EXPLORER});
        else if (f && f->kind == IMAGE_CACHE_THUMBS_DB)
            thumbs.push_back({label, CACHE_THUMBS_DB});
    }
    auto order = [](const ResolvedCache& c) {
        const ImageOrigin& o = image_set_cache(c.path)->origin;
        const size_t slash = o.fs_path.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : o.fs_path.substr(0, slash);
        return std::make_tuple(o.image, o.partition_offset, o.store, o.carved_at >= 0, folder,
                               explorer_cache_rank(o.fs_path.c_str()));
    };
    std::stable_sort(explorer.begin(), explorer.end(),
                     [&](const ResolvedCache& a, const ResolvedCache& b) { return order(a) < order(b); });
    std::stable_partition(thumbs.begin(), thumbs.end(), [](const ResolvedCache& c) {
        return image_set_cache(c.path)->origin.state == "allocated";
    });
    if (!explorer.empty()) {
        *left_out = thumbs.size();
        return explorer;
    }
    *left_out = thumbs.empty() ? 0 : thumbs.size() - 1;
    return thumbs.empty() ? thumbs : std::vector<ResolvedCache>{thumbs[0]};
}

const std::vector<ImageSetImage*>& image_set_images() { return images; }

void image_set_close()
{
    by_label.clear();
    for (ImageSetImage* o : images) {
        disk_image_close(o->image);
        delete o;
    }
    images.clear();
}
