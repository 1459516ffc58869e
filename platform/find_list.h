#pragma once
// The folder listing both platforms share: each collects the entries its own
// way (sys_collect_entries); the record, the order and the walk are here.
#include <vector>

#include "platform/system.h"

struct SysFind {
    std::vector<SysFindData> entries;
    size_t next;
};

// Per platform: appends the entries that match pattern, in any order, names
// shorter than SYS_MAX_PATH only. -1 when the folder cannot be listed.
int sys_collect_entries(const char* pattern, std::vector<SysFindData>* entries);

// The first file (not folder) the listing of pattern holds whose name equals
// name ignoring ASCII case, into out: 0, or -1 when there is none.
int sys_find_listed_nocase(const char* pattern, const char* name, char out[SYS_MAX_PATH]);
