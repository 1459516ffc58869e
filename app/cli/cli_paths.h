#pragma once
// Which caches the command-line arguments name.
#include <string>
#include <vector>

// Each argument: a cache file as it is; a folder: its Thumbs.db (any letter
// case), or with recursive every Thumbs.db below it. Paths come back
// absolute. Folders without a cache are reported in missing.
void find_caches(const std::vector<std::string>& arguments, bool recursive, std::vector<std::string>* caches,
                 std::vector<std::string>* missing);

// Splits an absolute cache path into its folder and file name.
void split_cache_path(const std::string& path, std::string* folder, std::string* file);
