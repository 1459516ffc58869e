#include "store/stream_names.h"

#include <algorithm>

#include "picture/bytes.h"
#include "platform/system.h"
#include "store/thumbsdb/catalog.h"
#include "store/thumbsdb/compound_file.h"
#include "store/thumbsdb/hashed_streams.h"

const char* name_source_text(NameSource source)
{
    switch (source) {
    case NAME_SOURCE_FOLDER_DELETED: return "folder-deleted";
    case NAME_SOURCE_FOLDER: return "folder";
    case NAME_SOURCE_CATALOG: return "catalog";
    case NAME_SOURCE_NONE: break;
    }
    return "";
}

void stream_names_add(StreamNames* names, const uint16_t* utf16, size_t units, const std::string& shown,
                      NameSource source, int32_t record)
{
    if (units == 0)
        return;
    for (const uint64_t seed : {HASHED_SEED_WINDOWS_8, HASHED_SEED_WINDOWS_7}) {
        const uint64_t hash = hashed_stream_name_hash(seed, utf16, units);
        if (std::binary_search(names->wanted.begin(), names->wanted.end(), hash))
            names->names.push_back(HashedName{hash, source, record, seed == HASHED_SEED_WINDOWS_7, shown,
                                              std::vector<uint16_t>(utf16, utf16 + units)});
    }
}

void stream_names_want_loaded(StreamNames* names)
{
    for (int32_t k = 0; k < stream_table.count; ++k) {
        uint64_t hash;
        if (k != stream_table.catalog_slot && hashed_stream_name(stream_table.slot_name[k]) &&
            hashed_stream_hash(stream_table.slot_name[k], &hash) == 0)
            names->wanted.push_back(hash);
    }
    std::sort(names->wanted.begin(), names->wanted.end());
}

namespace {

void add_text(StreamNames* names, const std::string& name, NameSource source)
{
    std::vector<uint16_t> utf16;
    if (sys_name_to_utf16(name.c_str(), &utf16) == 0)
        stream_names_add(names, utf16.data(), utf16.size(), name, source, -1);
}

} // namespace

int stream_names_add_folder(StreamNames* names, const std::string& folder)
{
    std::vector<SysFindData> entries;
    if (sys_list_folder(folder, &entries) != 0)
        return -1;
    // Folders too: Explorer keeps thumbnails of folders beside those of files.
    for (const SysFindData& d : entries)
        add_text(names, d.name, NAME_SOURCE_FOLDER);
    return 0;
}

void stream_names_add_catalog(StreamNames* names)
{
    CatalogCursor cursor;
    int16_t version;
    if (catalog_begin(&cursor, &version) != 0)
        return;
    CatalogEntry entry;
    std::vector<uint16_t> utf16;
    while (catalog_next(&cursor, &entry)) {
        utf16.resize(size_t(entry.name_full_chars));
        for (int32_t k = 0; k < entry.name_full_chars; ++k)
            utf16[size_t(k)] = read_le16(entry.name_utf16 + 2 * k);
        stream_names_add(names, utf16.data(), utf16.size(), entry.name, NAME_SOURCE_CATALOG, entry.record_index);
    }
}

void stream_names_add_list(StreamNames* names, const std::vector<ExtraName>& extra)
{
    for (const ExtraName& e : extra)
        add_text(names, e.name, e.source);
}

void stream_names_gather(const std::string& cache_path, const std::vector<ExtraName>* extra, StreamNames* names)
{
    stream_names_want_loaded(names);
    if (names->wanted.empty())
        return;
    stream_names_add_catalog(names);
    const char* last = sys_last_separator(cache_path.c_str());
    const std::string folder = last ? cache_path.substr(0, size_t(last - cache_path.c_str()) + 1) : ".";
    stream_names_add_folder(names, folder);
    if (extra)
        stream_names_add_list(names, *extra);
    stream_names_finish(names);
}

void stream_names_finish(StreamNames* names)
{
    // By hash; the strongest source first, and of a catalog's duplicates the first record.
    std::stable_sort(names->names.begin(), names->names.end(), [](const HashedName& a, const HashedName& b) {
        if (a.hash != b.hash)
            return a.hash < b.hash;
        if (a.source != b.source)
            return a.source > b.source;
        return a.record < b.record;
    });
}

const HashedName* stream_names_find(const StreamNames* names, uint64_t hash)
{
    const std::vector<HashedName>& v = names->names;
    const auto at =
        std::lower_bound(v.begin(), v.end(), hash, [](const HashedName& n, uint64_t h) { return n.hash < h; });
    return at != v.end() && at->hash == hash ? &*at : nullptr;
}

const char* stream_names_lookup(const void* names, uint64_t hash)
{
    const HashedName* n = stream_names_find(static_cast<const StreamNames*>(names), hash);
    return n ? n->name.c_str() : nullptr;
}
