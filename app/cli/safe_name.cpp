#include "app/cli/safe_name.h"

#include <cstring>

#include "platform/system.h"

namespace {

bool forbidden(unsigned char c)
{
    return c < 0x20 || c == 0x7F || std::strchr("<>:\"/\\|?*", c) != nullptr;
}

bool device_name(const std::string& name)
{
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    static const char* devices[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char* d : devices)
        if (ascii_stricmp(stem.c_str(), d) == 0)
            return true;
    if (stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9') {
        std::string head = stem.substr(0, 3);
        if (ascii_stricmp(head.c_str(), "COM") == 0 || ascii_stricmp(head.c_str(), "LPT") == 0)
            return true;
    }
    return false;
}

std::string lower(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        c = char(ascii_lower(static_cast<unsigned char>(c)));
    return out;
}

// Cuts to at most n bytes without splitting a UTF-8 sequence.
std::string cut_utf8(const std::string& s, size_t n)
{
    if (s.size() <= n)
        return s;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    return s.substr(0, n);
}

} // namespace

std::string safe_file_name(const std::string& utf8_name)
{
    std::string name = utf8_name;
    size_t cut = name.find_last_of("/\\");
    if (cut != std::string::npos && cut + 1 < name.size())
        name = name.substr(cut + 1);
    for (char& c : name)
        if (forbidden(static_cast<unsigned char>(c)))
            c = '_';
    size_t start = name.find_first_not_of(" .");
    name = start == std::string::npos ? "" : name.substr(start);
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.pop_back();
    if (name.empty())
        return "unnamed";
    if (device_name(name))
        name = "_" + name;
    if (name.size() > SAFE_NAME_MAX_BYTES) {
        size_t dot = name.find_last_of('.');
        std::string extension = dot != std::string::npos && name.size() - dot <= 10 ? name.substr(dot) : "";
        name = cut_utf8(name.substr(0, name.size() - extension.size()), SAFE_NAME_MAX_BYTES - extension.size()) +
               extension;
    }
    return name;
}

std::string unique_file_name(const std::string& name, std::set<std::string>* used)
{
    if (used->insert(lower(name)).second)
        return name;
    size_t dot = name.find_last_of('.');
    std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    std::string extension = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    for (int n = 2;; ++n) {
        std::string suffix(1, '_');
        suffix += std::to_string(n);
        std::string candidate = cut_utf8(stem, SAFE_NAME_MAX_BYTES - suffix.size() - extension.size()) + suffix + extension;
        if (used->insert(lower(candidate)).second)
            return candidate;
    }
}
