#pragma once
// An open-addressing set of names compared without regard to ASCII case, so
// that duplicate tests over large lists stay linear. Values are indices into
// the caller's own storage; the caller supplies the name of each.
#include <cstdint>

struct NameIndex {
    int32_t* slots;  // -1 = empty
    uint32_t mask;
    int32_t used;
};

using NameOf = const char* (*)(int32_t value, const void* context);

void name_index_clear(NameIndex* index);
void name_index_free(NameIndex* index);

// The value already stored under name, or -1 after storing value for it
// (also -1, storing nothing, when memory runs out).
int32_t name_index_insert(NameIndex* index, const char* name, int32_t value, NameOf name_of, const void* context);

// The value stored under name, or -1.
int32_t name_index_find(const NameIndex* index, const char* name, NameOf name_of, const void* context);
