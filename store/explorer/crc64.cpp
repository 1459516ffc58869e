#include "store/explorer/crc64.h"

#include <array>

namespace {

constexpr uint64_t CRC64_MS_POLY_REFLECTED = 0x92C64265D32139A4ull;

constexpr std::array<uint64_t, 256> make_table()
{
    std::array<uint64_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint64_t crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1 ? crc >> 1 ^ CRC64_MS_POLY_REFLECTED : crc >> 1;
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint64_t, 256> CRC64_MS_TABLE = make_table();

} // namespace

uint64_t crc64_ms(const uint8_t* data, size_t length, uint64_t initial)
{
    uint64_t crc = initial;
    for (size_t i = 0; i < length; ++i)
        crc = CRC64_MS_TABLE[(crc ^ data[i]) & 0xFF] ^ crc >> 8;
    return crc;
}
