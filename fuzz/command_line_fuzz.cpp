// The command-line tokenizer and option parser on arbitrary text.
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 65536)
        return 0;
    std::vector<char> line(data, data + size);
    line.push_back(0);
    reset_start_settings();
    parse_command_line(line.data());
    if (start_path)
        (void)std::strlen(start_path);  // must lie inside the line
    return 0;
}
