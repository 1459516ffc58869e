#pragma once
// File names for extracted thumbnails that are safe on Linux and Windows.
#include <set>
#include <string>

// The longest name we write, in bytes (file systems allow 255).
constexpr size_t SAFE_NAME_MAX_BYTES = 200;

// The last path component of a catalog name, with path separators, control
// characters and the characters Windows forbids replaced by '_', no leading or
// trailing dots and blanks, device names (CON, NUL, COM1, ...) prefixed with
// '_', at most SAFE_NAME_MAX_BYTES bytes (cut at a UTF-8 boundary, keeping a
// short extension); "unnamed" when nothing is left.
std::string safe_file_name(const std::string& utf8_name);

// name, or "stem_2.ext", "stem_3.ext", ... : the first whose lower-case form
// is not in used; that form is added to used.
std::string unique_file_name(const std::string& name, std::set<std::string>* used);
