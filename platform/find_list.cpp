// The folder listing: one record, one order for every platform and volume.
#include "platform/find_list.h"

#include <algorithm>
#include <cstring>

// NTFS lists a folder in alphabetical order of its names ignoring case, FAT
// and Wine's or Linux's folders in the order the entries were made. The
// listing is sorted here so that every volume gives the order the browser
// promises; names equal but for case stand in byte order.
SysFind* sys_find_first_file(const char* pattern, SysFindData* out)
{
    if (!pattern || !pattern[0])
        return nullptr;
    SysFind* find = new SysFind{{}, 0};
    if (sys_collect_entries(pattern, &find->entries) != 0 || find->entries.empty()) {
        delete find;
        return nullptr;
    }
    std::stable_sort(find->entries.begin(), find->entries.end(), [](const SysFindData& a, const SysFindData& b) {
        int d = ascii_stricmp(a.name, b.name);
        return d ? d < 0 : std::strcmp(a.name, b.name) < 0;
    });
    *out = find->entries[0];
    find->next = 1;
    return find;
}

int sys_find_next_file(SysFind* find, SysFindData* out)
{
    if (!find || find->next >= find->entries.size())
        return 0;
    *out = find->entries[find->next++];
    return 1;
}

void sys_find_close(SysFind* find) { delete find; }

int sys_list_folder(const std::string& folder, std::vector<SysFindData>* entries)
{
    entries->clear();
    SysFindData d;
    SysFind* find = sys_find_first_file((folder + "/*").c_str(), &d);
    if (!find)
        return sys_is_directory(folder.c_str()) ? 0 : -1;
    for (int more = 1; more; more = sys_find_next_file(find, &d))
        if (std::strcmp(d.name, ".") != 0 && std::strcmp(d.name, "..") != 0)
            entries->push_back(d);
    sys_find_close(find);
    return 0;
}

int sys_find_listed_nocase(const char* pattern, const char* name, char out[SYS_MAX_PATH])
{
    SysFindData d;
    SysFind* find = sys_find_first_file(pattern, &d);
    int found = -1;
    for (int more = find ? 1 : 0; more; more = sys_find_next_file(find, &d)) {
        if (!(d.attributes & SYS_ATTR_DIRECTORY) && ascii_stricmp(d.name, name) == 0) {
            std::memcpy(out, d.name, std::strlen(d.name) + 1);
            found = 0;
            break;
        }
    }
    sys_find_close(find);
    return found;
}
