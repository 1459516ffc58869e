#pragma once
// Bounded little- and big-endian reads. Every reader of outside bytes checks
// `view_has` (or its own cursor) before it touches the bytes.
#include <cstddef>
#include <cstdint>

struct ByteView {
    const uint8_t* data;
    size_t length;
};

// True when bytes [offset, offset + count) lie inside the view; never overflows.
inline bool view_has(ByteView v, size_t offset, size_t count)
{
    return offset <= v.length && count <= v.length - offset;
}

// True when the view begins with the n bytes at `bytes`.
inline bool view_starts_with(ByteView v, const void* bytes, size_t n)
{
    if (!view_has(v, 0, n))
        return false;
    const uint8_t* b = static_cast<const uint8_t*>(bytes);
    for (size_t i = 0; i < n; ++i)
        if (v.data[i] != b[i])
            return false;
    return true;
}

inline uint16_t read_le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t read_le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t read_le64(const uint8_t* p) { return uint64_t(read_le32(p)) | uint64_t(read_le32(p + 4)) << 32; }
inline uint16_t read_be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t read_be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
