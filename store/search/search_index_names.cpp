// Finding the index of a mounted disk, and naming the file list's entries
// from it.
#include <cstdio>
#include <cstring>

#include "platform/system.h"
#include "store/search/search_index.h"

// The entry of folder named name in any letter case, appended to folder.
static int child_nocase(char* folder, int size, const char* name, bool want_folder)
{
    std::vector<SysFindData> entries;
    sys_list_folder(folder, &entries);
    for (const SysFindData& d : entries)
        if (ascii_stricmp(d.name, name) == 0 && bool(d.attributes & SYS_ATTR_DIRECTORY) == want_folder) {
            const size_t used = std::strlen(folder);
            if (used + 1 + std::strlen(d.name) >= size_t(size))
                return -1;
            std::snprintf(folder + used, size_t(size) - used, "/%s", d.name);
            return 0;
        }
    return -1;
}

int search_index_path_below(const char* root, char* out, int out_size)
{
    if (std::snprintf(out, size_t(out_size), "%s", root) >= out_size)
        return -1;
    char parts[64];
    std::snprintf(parts, sizeof parts, "%s", SEARCH_INDEX_FOLDER);
    for (char* part = std::strtok(parts, "/"); part; part = std::strtok(nullptr, "/"))
        if (child_nocase(out, out_size, part, true) != 0)
            return -1;
    const size_t folder = std::strlen(out);
    if (child_nocase(out, out_size, "Windows.db", false) == 0)
        return 0;
    out[folder] = 0;
    return child_nocase(out, out_size, "Windows.edb", false);
}

int search_index_volume_root(const char* folder, char* out, int out_size)
{
    // From the end: Explorer, Windows, Microsoft, Local, AppData, <name>, Users.
    static constexpr const char* TAIL[] = {"Explorer", "Windows", "Microsoft", "Local", "AppData", nullptr, "Users"};
    size_t end = std::strlen(folder);
    for (;;) {  // trailing separators and "." components
        if (end > 1 && std::strchr(SYS_PATH_SEPARATORS, folder[end - 1]))
            end--;
        else if (end > 1 && folder[end - 1] == '.' && std::strchr(SYS_PATH_SEPARATORS, folder[end - 2]))
            end -= 2;
        else
            break;
    }
    for (const char* want : TAIL) {
        size_t start = end;
        while (start > 0 && !std::strchr(SYS_PATH_SEPARATORS, folder[start - 1]))
            start--;
        if (start == 0 || start == end)
            return -1;
        const size_t n = end - start;
        if (want && (std::strlen(want) != n || [&] {
                         for (size_t k = 0; k < n; k++)
                             if (ascii_lower(folder[start + k]) != ascii_lower(want[k]))
                                 return true;
                         return false;
                     }()))
            return -1;
        end = start - 1;  // the separator before this component
    }
    if (end == 0)
        end = 1;  // the root folder keeps its separator
    if (end >= size_t(out_size))
        return -1;
    std::memcpy(out, folder, end);
    out[end] = 0;
    return 0;
}
