#pragma once
// Which caches the command-line arguments name.
#include <string>
#include <vector>

// The caches each argument names (store_resolve, in the tool's reading
// order), as absolute paths; a disk image names the caches found in it, by
// their labels (cli_images). Folders without a cache are reported in
// missing. 0, or -1 when a disk image or one of its volumes cannot be read
// (reported already; the caches of the rest are given).
// With carve, a disk image's unallocated space is carved too.
int find_caches(const std::vector<std::string>& arguments, bool recursive, std::vector<std::string>* caches,
                 std::vector<std::string>* missing, bool carve = false);

// Splits an absolute cache path into its folder and file name.
void split_cache_path(const std::string& path, std::string* folder, std::string* file);
