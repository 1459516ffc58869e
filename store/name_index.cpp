#include "store/name_index.h"

#include <cstdlib>

#include "platform/system.h"

namespace {

uint32_t hash_nocase(const char* s)
{
    uint32_t h = 2166136261u;  // FNV-1a
    for (; *s; ++s)
        h = (h ^ uint32_t(ascii_lower(static_cast<unsigned char>(*s)))) * 16777619u;
    return h;
}

bool grow(NameIndex* index, NameOf name_of, const void* context)
{
    uint32_t capacity = index->slots ? (index->mask + 1) * 2 : 1024;
    int32_t* slots = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * capacity));
    if (!slots)
        return false;
    for (uint32_t i = 0; i < capacity; ++i)
        slots[i] = -1;
    if (index->slots) {
        for (uint32_t i = 0; i <= index->mask; ++i) {
            int32_t v = index->slots[i];
            if (v < 0)
                continue;
            uint32_t at = hash_nocase(name_of(v, context)) & (capacity - 1);
            while (slots[at] >= 0)
                at = (at + 1) & (capacity - 1);
            slots[at] = v;
        }
        std::free(index->slots);
    }
    index->slots = slots;
    index->mask = capacity - 1;
    return true;
}

} // namespace

void name_index_clear(NameIndex* index)
{
    if (index->slots)
        for (uint32_t i = 0; i <= index->mask; ++i)
            index->slots[i] = -1;
    index->used = 0;
}

void name_index_free(NameIndex* index)
{
    std::free(index->slots);
    *index = NameIndex{nullptr, 0, 0};
}

int32_t name_index_find(const NameIndex* index, const char* name, NameOf name_of, const void* context)
{
    if (!index->slots)
        return -1;
    for (uint32_t at = hash_nocase(name) & index->mask;; at = (at + 1) & index->mask) {
        int32_t v = index->slots[at];
        if (v < 0)
            return -1;
        if (ascii_stricmp(name_of(v, context), name) == 0)
            return v;
    }
}

int32_t name_index_insert(NameIndex* index, const char* name, int32_t value, NameOf name_of, const void* context)
{
    int32_t existing = name_index_find(index, name, name_of, context);
    if (existing >= 0)
        return existing;
    // Kept at most half full, so probes stay short and always end.
    if (!index->slots || uint32_t(index->used + 1) * 2 > index->mask + 1)
        if (!grow(index, name_of, context))
            return -1;
    uint32_t at = hash_nocase(name) & index->mask;
    while (index->slots[at] >= 0)
        at = (at + 1) & index->mask;
    index->slots[at] = value;
    ++index->used;
    return -1;
}
