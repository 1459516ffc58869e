#include "app/cli/cli_mft.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "app/cli/cli.h"
#include "app/cli/cli_images.h"
#include "image/mft_names.h"
#include "platform/failure.h"

namespace {

struct VolumeNames {
    uint64_t offset;
    MftNames names;
};

// Each image's volumes, read once, on the first record that needs them.
std::map<const DiskImage*, std::vector<VolumeNames>> read_images;
bool guid_given = false;
VolumeGuid given_guid{};

std::string guid_text(const VolumeGuid& g)
{
    char text[39];
    volume_guid_text(g, text);
    return text;
}

// The GUIDs a SYSTEM hive of any NTFS volume of the image gives its volumes.
std::map<uint64_t, VolumeGuid> hive_guids(DiskImage* image, const std::string& image_path)
{
    std::map<uint64_t, VolumeGuid> found;
    DiskLayout layout;
    if (disk_image_layout(image, &layout) != 0)
        return found;  // no partition table: MountedDevices cannot place the volume
    std::vector<uint64_t> offsets;
    for (int32_t v = 0; v < disk_image_volume_count(image); ++v)
        offsets.push_back(disk_image_volume_offset(image, v));
    for (int32_t v = 0; v < disk_image_volume_count(image); ++v) {
        std::vector<uint8_t> hive;
        if (disk_image_system_hive(image, v, &hive) != 0)
            continue;
        std::vector<VolumeGuidAt> at;
        if (mounted_devices_read(hive, layout, offsets, &at) != 0) {
            cli_error("%s: partition at %llu: /Windows/System32/config/SYSTEM: %s", image_path.c_str(),
                      (unsigned long long)disk_image_volume_offset(image, v), failure_last().reason);
            continue;
        }
        for (const VolumeGuidAt& g : at)
            found.emplace(g.offset, g.guid);
    }
    return found;
}

// The volume GUID of the volume's own search database: the one volume its
// items lie on (System.VolumeId, stored in the byte order of its text). 0,
// or -1 where it names none or several (reported: which of them is this
// volume cannot be told).
int search_index_guid(const SearchIndex* index, const std::string& image_path, uint64_t offset, bool say,
                      VolumeGuid* out)
{
    if (!index || index->volume_id_count == 0)
        return -1;
    if (index->volume_id_count > 1) {
        if (say)
            cli_error("%s: partition at %llu: its search database places items on %d volumes (System.VolumeId); "
                      "which is this one cannot be told (--volume-guid gives it)",
                      image_path.c_str(), (unsigned long long)offset, int(index->volume_id_count));
        return -1;
    }
    char text[37];
    int n = 0;
    for (int b = 0; b < 16; ++b) {
        n += std::snprintf(text + n, sizeof text - size_t(n), "%02x", index->volume_ids[0].guid[b]);
        if (b == 3 || b == 5 || b == 7 || b == 9)
            text[n++] = '-';
    }
    text[n] = 0;
    return volume_guid_parse(text, out);
}

std::vector<VolumeNames>& names_of(DiskImage* image, const std::string& image_path)
{
    auto done = read_images.find(image);
    if (done != read_images.end())
        return done->second;
    std::vector<VolumeNames>& volumes = read_images[image];
    const std::map<uint64_t, VolumeGuid> from_hive = hive_guids(image, image_path);
    // A volume's shadow copies lie at its offset: what is not known of it is
    // said once, not again for each copy.
    std::set<uint64_t> told;
    for (int32_t v = 0; v < disk_image_volume_count(image); ++v) {
        const uint64_t offset = disk_image_volume_offset(image, v);
        VolumeNames n{offset, {}};
        const bool first_at_offset = told.insert(offset).second;
        const auto hive = from_hive.find(offset);
        std::string source;
        if (guid_given) {
            n.names.volume = given_guid;
            source = "given";
            if (first_at_offset && hive != from_hive.end() && std::memcmp(hive->second.bytes, given_guid.bytes, 16) != 0)
                cli_error("%s: partition at %llu: --volume-guid %s is used, but the SYSTEM hive's MountedDevices "
                          "names the volume %s",
                          image_path.c_str(), (unsigned long long)offset, guid_text(given_guid).c_str(),
                          guid_text(hive->second).c_str());
        } else if (hive != from_hive.end()) {
            n.names.volume = hive->second;
            source = "from the SYSTEM hive's MountedDevices";
        }
        if (!disk_image_volume_ntfs(image, v))
            continue;
        if (source.empty() && search_index_guid(cli_image_volume_search_index(image_path, v), image_path, offset,
                                                first_at_offset, &n.names.volume) == 0)
            source = "from its search database's System.VolumeId";
        if (source.empty()) {
            if (first_at_offset)
                cli_error("%s: partition at %llu: NTFS, but its volume GUID is not known (no SYSTEM hive places it, "
                          "its search database names none; --volume-guid gives it): its files do not name Explorer "
                          "records",
                          image_path.c_str(), (unsigned long long)offset);
            continue;
        }
        failure_clear();
        if (mft_files_read(image, v, &n.names.files) != 0) {
            cli_error("%s: partition at %llu: its MFT cannot be read: %s", image_path.c_str(),
                      (unsigned long long)offset, failure_last().reason);
            continue;
        }
        mft_names_index(&n.names);
        unsigned long long deleted = 0;
        for (const MftFile& f : n.names.files)
            deleted += f.deleted;
        std::fprintf(stderr, "glimmerdex-cli: %s: partition at %llu: volume %s (%s): %llu files in the MFT, %llu of them deleted\n",
                     image_path.c_str(), (unsigned long long)offset, guid_text(n.names.volume).c_str(), source.c_str(),
                     (unsigned long long)n.names.files.size(), deleted);
        volumes.push_back(std::move(n));
    }
    return volumes;
}

// A search index's path ("C:\Users\a\x.jpg") and an MFT path
// ("/Users/a/x.jpg") name the same file: drive letter, separators and
// letter case aside.
bool same_file(const std::string& index_path, const std::string& mft_path)
{
    auto plain = [](std::string p) {
        if (p.size() >= 2 && p[1] == ':')
            p.erase(0, 2);
        for (char& c : p) {
            if (c == '\\')
                c = '/';
            if (c >= 'A' && c <= 'Z')
                c = char(c + 32);
        }
        return p;
    };
    return plain(index_path) == plain(mft_path);
}

} // namespace

int cli_mft_option(const char* volume_guid)
{
    guid_given = false;
    if (!volume_guid)
        return 0;
    if (volume_guid_parse(volume_guid, &given_guid) != 0) {
        cli_error("--volume-guid takes a GUID such as {6924D67C-D058-4337-8E3E-954A5CC57C23}, not \"%s\"", volume_guid);
        return -1;
    }
    guid_given = true;
    return 0;
}

void cli_mft_name_rows(const std::string& cache, std::vector<ReportRow>* rows)
{
    DiskImage* image = cli_image_disk(cache);
    const ImageCacheFile* file = cli_image_cache(cache);
    if (!image || !file)
        return;
    std::vector<VolumeNames>* volumes = nullptr;
    unsigned long long keyed = 0, named = 0, by_form[2] = {0, 0};
    for (ReportRow& row : *rows) {
        if (row.cache != cache || !report_row_explorer(row))
            continue;
        const uint64_t hash = row.entry.has_hash ? row.entry.hash : row.thumbcache.hash;
        ++keyed;
        if (!volumes)
            volumes = &names_of(image, file->origin.image);
        const MftName* found = nullptr;
        const MftNames* in = nullptr;
        for (const VolumeNames& v : *volumes)
            if ((found = mft_names_find(v.names, hash)) != nullptr) {
                in = &v.names;
                break;
            }
        if (!found)
            continue;
        const MftFile& f = in->files[found->file];
        ++named;
        ++by_form[found->form == THUMBNAIL_ID_WINDOWS_8 ? 0 : 1];
        const char* source = f.deleted ? "mft-deleted" : "mft";
        if (row.name_source == "search-index") {
            if (!same_file(row.path, f.path))
                cli_error("%s: record %d (hash %016llx): the search index names it %s, the MFT %s (%s): both kept apart, "
                          "the row shows the search index's",
                          cache.c_str(), row.record, (unsigned long long)hash, row.path.c_str(), f.path.c_str(), source);
            continue;
        }
        if (!row.name_source.empty() && row.name_source != "identifier")
            continue;  // named by another source of this image already
        row.path = f.path;
        row.name_source = source;
    }
    if (volumes && !volumes->empty())
        std::fprintf(stderr, "glimmerdex-cli: %s: %llu of %llu records named from the MFT (%llu by the Windows 8.1+ form "
                             "of the id, %llu by the Windows 7 form)\n",
                     cache.c_str(), named, keyed, by_form[0], by_form[1]);
}

void cli_mft_close() { read_images.clear(); }
