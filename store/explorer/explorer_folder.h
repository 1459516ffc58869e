#pragma once
// Explorer's cache files as they lie in a profile's folder: which names they
// have and the order they are opened in.
#include <cstdint>
#include <string>
#include <vector>

// The sort key of "thumbcache_<bucket>.db" / "iconcache_<bucket>.db" (any
// letter case, anything before the prefix allowed): thumbcache files first,
// then by size bucket (16, 32, 48, 96, 256, 768, 1024, 1280, 1600, 1920,
// 2560, sr, wide, exif, wide_alternate, custom_stream), unknown buckets
// last; -1 for other names and for the index ("_idx").
int explorer_cache_rank(const char* name);

// The Explorer cache files of folder, as folder + "/" + name, in that order.
std::vector<std::string> explorer_cache_files(const std::string& folder);

// The index beside a cache file: "...thumbcache_idx.db" for
// "...thumbcache_<bucket>.db", the same for iconcache (any letter case).
// Empty when the name has no such form or none is there.
std::string explorer_index_beside(const std::string& path);

// The bucket names of the cache types whose bit is set in types,
// '/'-separated ("32/256"); a type beyond the version's table by number.
std::string explorer_bucket_list(uint32_t version, uint32_t types);
