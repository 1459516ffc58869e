#pragma once
// Building and patching little-endian byte strings, and the CRC-32 of zlib
// and PNG, for tests that make or damage files by hand.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

struct ByteBuilder {
    std::vector<uint8_t> b;
    ByteBuilder& u8(uint32_t v)
    {
        b.push_back(uint8_t(v));
        return *this;
    }
    ByteBuilder& u16(uint32_t v) { return u8(v).u8(v >> 8); }
    ByteBuilder& u32(uint32_t v) { return u16(v).u16(v >> 16); }
    ByteBuilder& raw(std::initializer_list<uint8_t> list)
    {
        b.insert(b.end(), list.begin(), list.end());
        return *this;
    }
    ByteBuilder& text(const char* s)
    {
        while (*s)
            u8(uint8_t(*s++));
        return *this;
    }
    ByteBuilder& fill(size_t n, uint8_t v)
    {
        b.insert(b.end(), n, v);
        return *this;
    }
    void put32(size_t at, uint32_t v)
    {
        for (int k = 0; k < 4; ++k)
            b[at + k] = uint8_t(v >> (8 * k));
    }
    size_t size() const { return b.size(); }
};

inline uint32_t le32_at(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24);
}

inline void set_le32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        b[at + k] = uint8_t(v >> (8 * k));
}

// CRC-32 (ISO 3309, as zlib.crc32 and PNG chunks), continuing from crc
// (start with 0).
inline uint32_t crc32_of(const uint8_t* p, size_t n, uint32_t crc = 0)
{
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}
